// The run folder and the journal file in it: the program's alone, tied to
// this boot, emptied after the restore.
#include "platform/linux_run_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace torv {
namespace {

namespace fs = std::filesystem;

TEST(FileJournal, KeptForThisBootAndEmptiedAfterTheRestore) {
  test::TempDir tmp;
  const std::string dir = (tmp.path() / "run").string();
  std::string error;
  {
    FileJournal j(dir);
    EXPECT_EQ(j.Load(), "");
    ASSERT_TRUE(j.Save("cpu 1\n", error)) << error;
    EXPECT_EQ(j.Load(), "cpu 1\n");
    // Saved again it holds the later text alone, grown or not.
    ASSERT_TRUE(j.Save("cpu 1\nsequence x\n", error)) << error;
    EXPECT_EQ(j.Load(), "cpu 1\nsequence x\n");
    ASSERT_TRUE(j.Save("cpu 1\n", error)) << error;
    EXPECT_EQ(j.Load(), "cpu 1\n");
  }
  // The folder and the file are root's (this user's) alone.
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((dir + "/journal").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(test::ReadFile(dir + "/journal"), "boot " + BootId() + "\ncpu 1\n");
  {
    // A later run finds it, and empties it after the restore.
    FileJournal j(dir);
    EXPECT_EQ(j.Load(), "cpu 1\n");
    j.Clear();
    EXPECT_EQ(j.Load(), "");
  }
  // An earlier boot's is dropped: its registers were reset since.
  std::ofstream(dir + "/journal") << "boot 00000000-old\ncpu 1\n";
  EXPECT_EQ(FileJournal(dir).Load(), "");
  EXPECT_EQ(fs::file_size(dir + "/journal"), 0u);
}

TEST(FileJournal, AFolderOrFileNotTheProgramsAloneIsRefused) {
  test::TempDir tmp;
  std::string error;
  // Open to others.
  const std::string open = (tmp.path() / "open").string();
  fs::create_directory(open);
  chmod(open.c_str(), 0755);
  EXPECT_FALSE(FileJournal(open).Save("x", error));
  EXPECT_NE(error.find("not a folder of this user's alone"), std::string::npos) << error;
  // A link in place of the folder, or of the file.
  const std::string real = (tmp.path() / "real").string();
  fs::create_directory(real);
  chmod(real.c_str(), 0700);
  fs::create_directory_symlink(real, tmp.path() / "link");
  EXPECT_FALSE(FileJournal((tmp.path() / "link").string()).Save("x", error));
  std::ofstream((tmp.path() / "elsewhere").string()) << "";
  fs::create_symlink(tmp.path() / "elsewhere", tmp.path() / "real" / "journal");
  EXPECT_FALSE(FileJournal(real).Save("x", error));
  EXPECT_EQ(test::ReadFile((tmp.path() / "elsewhere").string()), "");
  // The lock file of the same folder.
  EXPECT_LT(OpenRunFile(open, "lock", error), 0);
}

}  // namespace
}  // namespace torv
