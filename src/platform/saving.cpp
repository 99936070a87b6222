// The one save procedure of every system: a new file in the target's folder,
// written, flushed to the disk and closed, then moved over the target. Any
// failure removes the new file and leaves the target as it was.
#include <cerrno>

#include "platform/files.h"
#include "platform/save_steps.h"

namespace torv {

bool SaveReplacing(const std::string& path, std::string_view bytes, SaveFailure& failure,
                   const SaveCalls& calls) {
  if (!CheckSaveTarget(path, failure)) return false;
  const bool hadOld = failure.KeptOld;
  auto fail = [&](int error) {
    failure.Error = error;
    failure.KeptOld = hadOld;
    return false;
  };
  const std::string folder = save_steps::FolderOf(path);
  std::random_device seed;
  std::mt19937 random(seed());
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = save_steps::TempName(folder, random);
    fd = save_steps::CreateNew(calls, temp);
    if (fd < 0 && errno != EEXIST) return fail(errno);
  }
  if (fd < 0) return fail(EEXIST);
  auto discard = [&](int error) {
    save_steps::Close(fd);
    save_steps::Remove(temp);
    return fail(error);
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto n = calls.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return discard(n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  // A file replaced keeps its owner, group and mode (a root save over a
  // user's log leaves it the user's).
  if (const int error = save_steps::KeepOwnerAndMode(fd, path); error != 0) return discard(error);
  if (calls.Sync(fd) != 0) return discard(errno);
  if (save_steps::Close(fd) != 0) {
    const int error = errno;
    save_steps::Remove(temp);
    return fail(error);
  }
  // The target may have been replaced by something else since the check: a
  // directory makes the move fail; anything a save may not replace is refused
  // again rather than replaced.
  std::string kind;
  if (save_steps::TakenByOther(path, kind)) {
    save_steps::Remove(temp);
    failure.NotRegular = true;
    failure.Kind = kind;
    failure.KeptOld = true;
    return false;
  }
  if (calls.Rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    save_steps::Remove(temp);
    return fail(error);
  }
  // The file is in place whatever this gives.
  save_steps::SyncFolder(folder);
  failure = SaveFailure{};
  return true;
}

}  // namespace torv
