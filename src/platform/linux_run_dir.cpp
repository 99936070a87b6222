#include "platform/linux_run_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torv {

namespace {

// Not the program's own: another owner, or open to group or others.
bool Foreign(const struct stat& st) {
  return st.st_uid != geteuid() || (st.st_mode & 077) != 0;
}

bool WriteAll(int fd, std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int OpenRunFile(const std::string& dir, const char* name, std::string& error) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = dir + ": " + std::strerror(errno);
    return -1;
  }
  const int d = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (d < 0) {
    error = dir + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (fstat(d, &st) != 0 || Foreign(st)) {
    close(d);
    error = dir + ": not a folder of this user's alone";
    return -1;
  }
  const int fd = openat(d, name, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int openErrno = errno;
  close(d);
  if (fd < 0) {
    error = dir + "/" + name + ": " + std::strerror(openErrno);
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || Foreign(st)) {
    close(fd);
    error = dir + "/" + name + ": not a file of this user's alone";
    return -1;
  }
  return fd;
}

std::string BootId() {
  const int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buf[64];
  const ssize_t n = read(fd, buf, sizeof buf);
  close(fd);
  if (n <= 0) return "";
  std::string id(buf, static_cast<std::size_t>(n));
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  return id;
}

FileJournal::~FileJournal() {
  if (fd_ >= 0) close(fd_);
}

bool FileJournal::Open() {
  if (!tried_) {
    tried_ = true;
    boot_ = BootId();
    fd_ = OpenRunFile(dir_, "journal", error_);
  }
  return fd_ >= 0;
}

bool FileJournal::Save(std::string_view text, std::string& error) {
  if (!Open()) {
    error = error_;
    return false;
  }
  std::string all = "boot " + boot_ + "\n";
  all += text;
  // Written before the first change: a journal cut short by a kill here
  // holds no change yet. Written over the one before and then cut to its
  // length, so that a journal that grows (lines added to the one kept) is
  // never empty in between.
  if (!WriteAll(fd_, all) || ftruncate(fd_, static_cast<off_t>(all.size())) != 0 ||
      fdatasync(fd_) != 0) {
    error = dir_ + "/journal: " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string FileJournal::Load() {
  if (!Open()) return "";
  std::string all;
  char buf[4096];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd_, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    all.append(buf, static_cast<std::size_t>(n));
    at += n;
    if (all.size() > (1u << 16)) break;  // no journal is that long
  }
  if (all.empty()) return "";
  const std::string head = "boot " + boot_ + "\n";
  if (all.compare(0, head.size(), head) != 0) {
    // An earlier boot's: its registers have been reset since.
    Clear();
    return "";
  }
  return all.substr(head.size());
}

void FileJournal::Clear() {
  if (fd_ < 0) return;
  if (ftruncate(fd_, 0) == 0) fdatasync(fd_);
}

}  // namespace torv
