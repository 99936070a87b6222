// Files on Windows: the steps of a save (the C runtime's descriptors, the
// move over the target that Windows 95 and 98 do in two calls), the check of
// a save's target and of an input file.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/files.h"
#include "platform/save_steps.h"

namespace torv {

namespace save_steps {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

std::string TempName(const std::string& folder, std::mt19937& random) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string name = folder;
  if (name.back() != '\\' && name.back() != '/') name += '\\';
  name += "~torv";
  for (int i = 0; i < 3; ++i) name += kChars[random() % (sizeof kChars - 1)];
  return name + ".tmp";
}

int CreateNew(const SaveCalls& calls, const std::string& path) {
  return calls.Create(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                      _S_IREAD | _S_IWRITE);
}

int Close(int fd) { return ::_close(fd); }

void Remove(const std::string& path) { ::_unlink(path.c_str()); }

// A directory that took the target's place.
bool TakenByOther(const std::string& path, std::string& kind) {
  const DWORD now = GetFileAttributesA(path.c_str());
  if (now == INVALID_FILE_ATTRIBUTES || (now & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  kind = FileKind(S_IFDIR);
  return true;
}

// A moved file's name is written through by MoveFileEx already.
// The replaced file's security stays with the folder's rules on Windows.
int KeepOwnerAndMode(int, const std::string&) { return 0; }

void SyncFolder(const std::string&) {}

}  // namespace save_steps

namespace {

// The C runtime's error number for a system error code of a file call.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    default:
      return EIO;
  }
}

// Moves `from` over `to`. Windows 95 and 98 have no MoveFileEx (the call
// fails with ERROR_CALL_NOT_IMPLEMENTED there): the old file is then deleted
// first and the new one moved into its place.
int MoveOver(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  DWORD error = GetLastError();
  if (error == ERROR_CALL_NOT_IMPLEMENTED) {
    if ((DeleteFileA(to) || GetLastError() == ERROR_FILE_NOT_FOUND) && MoveFileA(from, to)) {
      return 0;
    }
    error = GetLastError();
  }
  errno = ErrnoOf(error);
  return -1;
}

}  // namespace

std::string FileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISFIFO(mode)) return "a FIFO";
  return "a file of another kind";
}

SaveCalls SystemSaveCalls() {
  SaveCalls c;
  c.Create = [](const char* path, int flags, mode_t mode) { return ::_open(path, flags, mode); };
  c.Write = [](int fd, const void* data, std::size_t size) -> ssize_t {
    return ::_write(fd, data, static_cast<unsigned>(size));
  };
  c.Sync = [](int fd) { return ::_commit(fd); };
  c.Rename = MoveOver;
  return c;
}

bool CheckSaveTarget(const std::string& path, SaveFailure& failure) {
  failure = SaveFailure{};
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    failure.KeptOld = true;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      failure.NotRegular = true;
      failure.Kind = FileKind(S_IFDIR);
      return false;
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      failure.Error = EACCES;
      return false;
    }
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    failure.Error = ErrnoOf(GetLastError());
    return false;
  }
  const DWORD folder = GetFileAttributesA(save_steps::FolderOf(path).c_str());
  if (folder == INVALID_FILE_ATTRIBUTES) {
    failure.Error = ErrnoOf(GetLastError());
    return false;
  }
  if ((folder & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    failure.Error = ENOTDIR;
    return false;
  }
  return true;
}

// A Windows program starts with its standard handles or none; the C runtime
// gives a missing one no descriptor that a file opened later could take.
bool ListRegularFiles(const std::string& folder, std::vector<std::string>& names, int& error) {
  names.clear();
  error = 0;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    error = ENOENT;
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    error = ENOTDIR;
    return false;
  }
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA found;
  const HANDLE h = FindFirstFileA(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    // Only a drive's empty root has no entry at all.
    if (code == ERROR_FILE_NOT_FOUND) return true;
    error = code == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
  }
  do {
    const std::string name = found.cFileName;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0) {
      names.push_back(name);
    }
  } while (FindNextFileA(h, &found));
  const DWORD end = GetLastError();
  FindClose(h);
  if (end != ERROR_NO_MORE_FILES) {
    names.clear();
    error = EIO;
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

unsigned ReserveStandardDescriptors() { return 0; }

ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& text,
                           int& error, std::string& kind) {
  text.clear();
  error = 0;
  kind.clear();
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    kind = FileKind(S_IFDIR);
    return ReadResult::NotRegular;
  }
  const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    error = errno;
    return error == ENOENT ? ReadResult::Missing : ReadResult::CannotOpen;
  }
  struct _stat st;
  if (::_fstat(fd, &st) != 0) {
    error = errno;
    ::_close(fd);
    return ReadResult::CannotRead;
  }
  // A device name (CON, NUL, COM1, ...) opens as a character device.
  if ((st.st_mode & _S_IFMT) != _S_IFREG) {
    kind = FileKind(st.st_mode);
    ::_close(fd);
    return ReadResult::NotRegular;
  }
  char buf[65536];
  for (;;) {
    const int n = ::_read(fd, buf, sizeof buf);
    if (n < 0) {
      error = errno;
      ::_close(fd);
      return ReadResult::CannotRead;
    }
    if (n == 0) break;
    if (text.size() + static_cast<std::size_t>(n) > maxBytes) {
      ::_close(fd);
      text.clear();
      return ReadResult::TooLarge;
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::_close(fd);
  return ReadResult::Ok;
}

}  // namespace torv
