#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/save_steps.h"

namespace torv {

namespace save_steps {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Unique among the saves of this and other processes.
std::string TempName(const std::string& folder, std::mt19937& random) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = folder + "/.torvacin-";
  for (int i = 0; i < 10; ++i) name += kChars[random() % (sizeof kChars - 1)];
  return name + ".tmp";
}

int CreateNew(const SaveCalls& calls, const std::string& path) {
  return calls.Create(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

int Close(int fd) { return ::close(fd); }

void Remove(const std::string& path) { ::unlink(path.c_str()); }

bool TakenByOther(const std::string& path, std::string& kind) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) return false;
  kind = FileKind(st.st_mode);
  return true;
}

int KeepOwnerAndMode(int fd, const std::string& path) {
  struct stat old;
  if (::lstat(path.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return 0;  // nothing to keep
  struct stat now;
  if (::fstat(fd, &now) != 0) return errno;
  if ((old.st_uid != now.st_uid || old.st_gid != now.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    // An ordinary user cannot give a file away: the new file is then the
    // user's, as every file the user writes. Root can, and must.
    if (errno != EPERM || ::geteuid() == 0) return errno;
  }
  // The permission bits only: a log never takes set-user-ID and the like.
  const mode_t mode = old.st_mode & 0777;
  if ((now.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) return errno;
  return 0;
}

void SyncFolder(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace save_steps

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
  if (::access(save_steps::FolderOf(path).c_str(), W_OK | X_OK) != 0) {
    failure.Error = errno;
    return false;
  }
  return true;
}

bool ListRegularFiles(const std::string& folder, std::vector<std::string>& names, int& error) {
  names.clear();
  error = 0;
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    error = errno;
    return false;
  }
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    error = errno;
    ::close(dirFd);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    // The entry's own type may be unknown (some file systems) or a link:
    // what it leads to decides.
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
  }
  ::closedir(dir);
  if (error != 0) {
    names.clear();
    return false;
  }
  std::sort(names.begin(), names.end());
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
  // Room for the whole file at once, so that the text is held once while it
  // is read, not in copies of growing size.
  if (st.st_size > 0) text.reserve(std::min(static_cast<std::size_t>(st.st_size), maxBytes) + 1);
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
