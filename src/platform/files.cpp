#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace torv {

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A fresh name in `folder` that no other save (of this or another process)
// uses: short, so that it fits beside a target with a long name.
std::string TempName(const std::string& folder, std::mt19937& random) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = folder + "/.torvacin-";
  for (int i = 0; i < 10; ++i) name += kChars[random() % (sizeof kChars - 1)];
  return name + ".tmp";
}

}  // namespace

std::string FileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "a file of another kind";
}

SaveCalls SystemSaveCalls() {
  SaveCalls c;
  c.Create = [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); };
  c.Write = [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); };
  c.Sync = [](int fd) { return ::fsync(fd); };
  c.Rename = [](const char* from, const char* to) { return ::rename(from, to); };
  return c;
}

bool CheckSaveTarget(const std::string& path, SaveFailure& failure) {
  failure = SaveFailure{};
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    failure.KeptOld = true;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
      failure.NotRegular = true;
      failure.Kind = FileKind(st.st_mode);
      return false;
    }
  } else if (errno != ENOENT) {
    failure.Error = errno;
    return false;
  }
  if (::access(FolderOf(path).c_str(), W_OK | X_OK) != 0) {
    failure.Error = errno;
    return false;
  }
  return true;
}

bool SaveReplacing(const std::string& path, std::string_view bytes, SaveFailure& failure,
                   const SaveCalls& calls) {
  if (!CheckSaveTarget(path, failure)) return false;
  const bool hadOld = failure.KeptOld;
  auto fail = [&](int error) {
    failure.Error = error;
    failure.KeptOld = hadOld;
    return false;
  };
  const std::string folder = FolderOf(path);
  std::random_device seed;
  std::mt19937 random(seed());
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = TempName(folder, random);
    fd = calls.Create(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return fail(errno);
  }
  if (fd < 0) return fail(EEXIST);
  auto discard = [&](int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    return fail(error);
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = calls.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return discard(n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  if (calls.Sync(fd) != 0) return discard(errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return fail(error);
  }
  // The target may have been replaced by something else since the check: a
  // directory makes the rename fail; anything but a regular file or a link is
  // refused again rather than replaced.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    ::unlink(temp.c_str());
    failure.NotRegular = true;
    failure.Kind = FileKind(st.st_mode);
    failure.KeptOld = true;
    return false;
  }
  if (calls.Rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return fail(error);
  }
  // Make the new name itself durable; the file is in place whatever this gives.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  failure = SaveFailure{};
  return true;
}

unsigned ReserveStandardDescriptors() {
  unsigned closed = 0;
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    closed |= 1u << fd;
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  return closed;
}

ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& text,
                           int& error, std::string& kind) {
  text.clear();
  error = 0;
  kind.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return error == ENOENT ? ReadResult::Missing : ReadResult::CannotOpen;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    error = errno;
    ::close(fd);
    return ReadResult::CannotRead;
  }
  if (!S_ISREG(st.st_mode)) {
    kind = FileKind(st.st_mode);
    ::close(fd);
    return ReadResult::NotRegular;
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      ::close(fd);
      return ReadResult::CannotRead;
    }
    if (n == 0) break;
    if (text.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::close(fd);
      text.clear();
      return ReadResult::TooLarge;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ReadResult::Ok;
}

}  // namespace torv
