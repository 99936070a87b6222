// Saving over real files in a folder of the test's own: whatever is at the
// target, and whichever step fails, the target ends up either as the complete
// new file or exactly as it was, and no temporary file is left behind.
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace torv {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

void WriteText(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Names in the folder other than the ones a case made itself.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A tiny file system of its own (root only): `ro` mounts it read-only.
class TinyMount {
 public:
  TinyMount(const fs::path& at, const char* options) : at_(at) {
    fs::create_directory(at_);
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options) == 0;
  }
  ~TinyMount() {
    if (mounted_) ::umount(at_.c_str());
  }
  bool Mounted() const { return mounted_; }
  void Remount(unsigned long flags, const char* options) {
    ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | flags, options);
  }

 private:
  fs::path at_;
  bool mounted_ = false;
};

const std::string kOld = "the earlier log\r\n";
const std::string kNew = std::string(20000, 'n') + "\r\n";

// A new file has the mode of an ordinary file; a file replaced keeps its
// mode, and as root its owner and group too (a root save over a user's log
// leaves it the user's), and gets the new contents in one step.
TEST(Save, NewFileHasTheModeOfAnOrdinaryFileAndAReplacedOneKeepsItsOwnerAndMode) {
  struct OwnerCase {
    const char* Name;
    bool Existing;
    mode_t Mode;  // of the existing file, and what the saved one must have
    uid_t Uid;
    gid_t Gid;
  };
  const bool root = ::geteuid() == 0;
  const uid_t me = ::geteuid();
  const gid_t mine = ::getegid();
  const OwnerCase cases[] = {
      {"a new file: 0666 less the umask", false, 0644, me, mine},
      {"a user's private log", true, 0600, root ? 1000u : me, root ? 1000u : mine},
      {"a log the user's group may read", true, 0640, me, root ? 1000u : mine},
      {"another owner's log", true, 0664, root ? 1000u : me, mine},
      {"a log everyone may read", true, 0604, me, mine},
  };
  for (const OwnerCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir tmp;
    const fs::path target = tmp.path() / "torvacin.log";
    if (c.Existing) {
      WriteText(target, std::string(50000, 'o'));
      ASSERT_EQ(::chmod(target.c_str(), c.Mode), 0);
      ASSERT_EQ(::chown(target.c_str(), c.Uid, c.Gid), 0);
    }
    const mode_t mask = ::umask(022);
    SaveFailure failure;
    const bool ok = SaveReplacing(target.string(), kNew, failure);
    ::umask(mask);
    ASSERT_TRUE(ok) << failure.Error;
    EXPECT_EQ(ReadFile(target), kNew);
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.Mode);
    EXPECT_EQ(st.st_uid, c.Uid);
    EXPECT_EQ(st.st_gid, c.Gid);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"torvacin.log"});
  }
}

// What is at the target beforehand, and how the save must end.
struct HostileCase {
  const char* Name;
  const char* Target;  // inside the test's folder
  std::function<bool(const fs::path& dir, const fs::path& target)> Prepare;  // false: skip
  bool Saved;
  std::string Reason;  // the failure: strerror text or the kind of file
};

TEST(Save, HostileTargets) {
  const HostileCase cases[] = {
      {"a symbolic link is replaced, its target kept", "torvacin.log",
       [](const fs::path& dir, const fs::path& target) {
         WriteText(dir / "precious", kOld);
         fs::create_symlink(dir / "precious", target);
         return true;
       },
       true, ""},
      {"a dangling link is replaced, nothing created at its target", "torvacin.log",
       [](const fs::path& dir, const fs::path& target) {
         fs::create_symlink(dir / "precious", target);
         return true;
       },
       true, ""},
      {"a FIFO is refused without blocking", "torvacin.log",
       [](const fs::path&, const fs::path& target) { return ::mkfifo(target.c_str(), 0600) == 0; },
       false, "a FIFO"},
      {"a directory is refused", "torvacin.log",
       [](const fs::path&, const fs::path& target) {
         fs::create_directory(target);
         WriteText(target / "inside", kOld);
         return true;
       },
       false, "a directory"},
      {"a missing folder", "gone/torvacin.log",
       [](const fs::path&, const fs::path&) { return true; }, false, "No such file or directory"},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir tmp;
    const fs::path target = tmp.path() / c.Target;
    ASSERT_TRUE(c.Prepare(tmp.path(), target));
    const std::vector<std::string> before = Names(tmp.path());
    SaveFailure failure;
    const bool ok = SaveReplacing(target.string(), kNew, failure);
    EXPECT_EQ(ok, c.Saved);
    if (c.Saved) {
      EXPECT_FALSE(fs::is_symlink(target));
      EXPECT_EQ(ReadFile(target), kNew);
      // The link's target: untouched, or still missing.
      if (fs::exists(tmp.path() / "precious")) {
        EXPECT_EQ(ReadFile(tmp.path() / "precious"), kOld);
      }
    } else {
      EXPECT_EQ(failure.NotRegular ? failure.Kind : std::string(std::strerror(failure.Error)),
                c.Reason);
      EXPECT_EQ(Names(tmp.path()), before) << "nothing added or removed";
      if (fs::is_directory(target)) {
        EXPECT_EQ(ReadFile(target / "inside"), kOld);
      }
    }
  }
}

// A step that fails: the earlier file stays byte for byte, the new file is gone.
TEST(Save, FailureAtAnyStepKeepsTheEarlierFile) {
  struct StepCase {
    const char* Step;
    int Error;
    std::function<void(SaveCalls&, int)> Break;
  };
  const StepCase cases[] = {
      {"create", EACCES,
       [](SaveCalls& c, int e) {
         c.Create = [e](const char*, int, mode_t) {
           errno = e;
           return -1;
         };
       }},
      {"write after part of the file", ENOSPC,
       [](SaveCalls& c, int e) {
         auto calls = std::make_shared<int>(0);
         c.Write = [e, calls](int fd, const void* data, std::size_t size) -> ssize_t {
           if (++*calls > 1) {
             errno = e;
             return -1;
           }
           return ::write(fd, data, size < 4096 ? size : 4096);
         };
       }},
      {"a write that writes nothing", ENOSPC,
       [](SaveCalls& c, int) {
         c.Write = [](int, const void*, std::size_t) { return ssize_t{0}; };
       }},
      {"sync", EIO,
       [](SaveCalls& c, int e) {
         c.Sync = [e](int) {
           errno = e;
           return -1;
         };
       }},
      {"rename", EBUSY,
       [](SaveCalls& c, int e) {
         c.Rename = [e](const char*, const char*) {
           errno = e;
           return -1;
         };
       }},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(c.Step);
    TempDir tmp;
    const fs::path target = tmp.path() / "torvacin.log";
    WriteText(target, kOld);
    SaveCalls calls = SystemSaveCalls();
    c.Break(calls, c.Error);
    SaveFailure failure;
    EXPECT_FALSE(SaveReplacing(target.string(), kNew, failure, calls));
    EXPECT_EQ(failure.Error, c.Error);
    EXPECT_TRUE(failure.KeptOld);
    EXPECT_EQ(ReadFile(target), kOld);
    EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"torvacin.log"});
  }
}

// The real failures of a file system: read-only, and full. As root on a tiny
// tmpfs of its own (a folder's permissions do not stop root), otherwise a
// read-only folder only.
TEST(Save, ReadOnlyAndFullFileSystems) {
  TempDir tmp;
  const fs::path mnt = tmp.path() / "mnt";
  if (::geteuid() != 0) {
    fs::create_directory(mnt);
    WriteText(mnt / "torvacin.log", kOld);
    ::chmod(mnt.c_str(), 0555);
    SaveFailure failure;
    EXPECT_FALSE(SaveReplacing((mnt / "torvacin.log").string(), kNew, failure));
    EXPECT_EQ(failure.Error, EACCES);
    ::chmod(mnt.c_str(), 0755);
    EXPECT_EQ(ReadFile(mnt / "torvacin.log"), kOld);
    GTEST_SKIP() << "full file system: needs root for a tmpfs of its own";
  }
  TinyMount m(mnt, "size=64k");
  if (!m.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const fs::path target = mnt / "torvacin.log";
  WriteText(target, kOld);

  m.Remount(MS_RDONLY, "size=64k");
  SaveFailure failure;
  EXPECT_FALSE(SaveReplacing(target.string(), kNew, failure));
  EXPECT_EQ(failure.Error, EROFS);
  EXPECT_EQ(ReadFile(target), kOld);
  m.Remount(0, "size=64k");

  // 200 KB do not fit into 64 KB: the write fails part-way.
  SaveFailure full;
  EXPECT_FALSE(SaveReplacing(target.string(), std::string(200000, 'x'), full));
  EXPECT_EQ(full.Error, ENOSPC);
  EXPECT_TRUE(full.KeptOld);
  EXPECT_EQ(ReadFile(target), kOld);
  EXPECT_EQ(Names(mnt), std::vector<std::string>{"torvacin.log"});
}

TEST(Save, ParallelSavesEachLeaveOneWholeFile) {
  TempDir tmp;
  const fs::path target = tmp.path() / "torvacin.log";
  WriteText(target, kOld);
  const std::string a = std::string(300000, 'a') + "\r\n";
  const std::string b = std::string(200000, 'b') + "\r\n";
  for (int round = 0; round < 20; ++round) {
    bool okA = false, okB = false;
    std::thread ta([&] {
      SaveFailure f;
      okA = SaveReplacing(target.string(), a, f);
    });
    std::thread tb([&] {
      SaveFailure f;
      okB = SaveReplacing(target.string(), b, f);
    });
    ta.join();
    tb.join();
    EXPECT_TRUE(okA && okB);
    const std::string now = ReadFile(target);
    EXPECT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
  }
  EXPECT_EQ(Names(tmp.path()), std::vector<std::string>{"torvacin.log"});
}

TEST(ReadRegularFile, OnlyRegularFilesAndNeverBlocks) {
  TempDir tmp;
  const fs::path dir = tmp.path();
  WriteText(dir / "plain", "clock = 1\n");
  WriteText(dir / "big", std::string(2000, 'x'));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "plain", dir / "link");
  struct ReadCase {
    std::string Path;
    ReadResult Result;
    std::string Detail;  // the kind, or the reason
  };
  const ReadCase cases[] = {
      {(dir / "plain").string(), ReadResult::Ok, ""},
      {(dir / "link").string(), ReadResult::Ok, ""},
      {(dir / "big").string(), ReadResult::TooLarge, ""},
      {(dir / "fifo").string(), ReadResult::NotRegular, "a FIFO"},
      {(dir / "folder").string(), ReadResult::NotRegular, "a directory"},
      {"/dev/null", ReadResult::NotRegular, "a character device"},
      {(dir / "missing").string(), ReadResult::Missing, "No such file or directory"},
      {(dir / "plain" / "x").string(), ReadResult::CannotOpen, "Not a directory"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.Path);
    std::string text, kind;
    int error = 0;
    EXPECT_EQ(ReadRegularFile(c.Path, 1000, text, error, kind), c.Result);
    EXPECT_EQ(error != 0 ? std::string(std::strerror(error)) : kind, c.Detail);
    EXPECT_EQ(text, c.Result == ReadResult::Ok ? "clock = 1\n" : "");
  }
}

}  // namespace
}  // namespace torv
