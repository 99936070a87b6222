// Files as the program writes and reads them: a saved log replaces its target
// in one step (a new file in the same folder, synced, then renamed over the
// target), and an input file is opened without blocking and must be a
// regular file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace torv {

// The system calls that a save makes where a failure can happen after
// something was written; tests replace them to fail one step.
struct SaveCalls {
  std::function<int(const char* path, int flags, mode_t mode)> Create;
  std::function<ssize_t(int fd, const void* data, std::size_t size)> Write;
  std::function<int(int fd)> Sync;
  std::function<int(const char* from, const char* to)> Rename;
};
SaveCalls SystemSaveCalls();

// Why a save failed: the system's error number, or 0 with `NotRegular` set
// when the target exists and is not a regular file (nor a symbolic link).
struct SaveFailure {
  int Error = 0;
  bool NotRegular = false;
  std::string Kind;      // "a directory", "a FIFO", ... for NotRegular
  bool KeptOld = false;  // an earlier file at the target is left as it was
};

// Whether `path` may be replaced by a saved file: nothing there, a regular
// file, or a symbolic link (which is replaced itself, never followed). Also
// fails when the folder is missing or not writable. Changes nothing.
bool CheckSaveTarget(const std::string& path, SaveFailure& failure);

// Writes `bytes` to a new file in the folder of `path` (mode 0666 less the
// umask; over an existing file, that file's mode, and as root its owner and
// group), flushes and syncs it, and renames it over `path`. On failure the
// new file is removed and whatever was at `path` stays as it was; parallel
// saves each leave one complete file, the last rename wins.
bool SaveReplacing(const std::string& path, std::string_view bytes, SaveFailure& failure,
                   const SaveCalls& calls = SystemSaveCalls());

// Reads a whole regular file of at most `maxBytes`. The file is opened
// without blocking, so that a FIFO or a terminal named here is refused at once
// instead of waiting for a writer.
enum class ReadResult { Ok, Missing, CannotOpen, NotRegular, CannotRead, TooLarge };
ReadResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& text,
                           int& error, std::string& kind);

// The names of the regular files in `folder` (symbolic links followed),
// sorted by their bytes; folders and other kinds of file are left out. False
// with the system's error number when the folder cannot be read.
bool ListRegularFiles(const std::string& folder, std::vector<std::string>& names, int& error);

// Descriptors 0, 1 and 2 that were closed when the program started are
// opened on /dev/null, so that no file the program opens later takes their
// place (a log written into by the error messages). Returns a bit per
// descriptor that was closed (bit 1: standard output).
unsigned ReserveStandardDescriptors();

// "a directory", "a FIFO", "a character device", ... for a file type of stat.
std::string FileKind(mode_t mode);

}  // namespace torv
