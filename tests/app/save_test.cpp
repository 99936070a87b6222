// Saving the reports of all processors: file contents, replacing, the save
// dialog, and failures of the file operations.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app_fixture.h"
#include "support/temp_dir.h"

namespace torv::testing {
namespace {

namespace fs = std::filesystem;

class Save : public FormFixture {
 protected:
  void SetUp() override {
    FormFixture::SetUp();
    ASSERT_FALSE(dir.empty());
  }

  static std::string Read(const fs::path& p) { return ReadFile(p); }
  // The file's lines; each must end with CR LF.
  static std::vector<std::string> CrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find("\r\n", start);
      EXPECT_NE(end, std::string::npos) << "line without CR LF at " << start;
      if (end == std::string::npos) break;
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  TempDir tmp;
  fs::path dir = tmp.path();
};

TEST_F(Save, EachProcessorsReportFollowedByItsDetails) {
  struct SaveCase {
    int Processors;
    std::deque<std::uint32_t> Codes;
    std::string Expected;
  };
  const SaveCase cases[] = {
      {1, {}, " report of processor 1\r\n end of report 1\r\n details\r\n"},
      {2,
       {},
       " report of processor 1\r\n end of report 1\r\n details\r\n"
       " report of processor 2\r\n end of report 2\r\n details\r\n"},
      // A processor refused with exit code 3 gets no details.
      {2,
       {0, 3, 0},
       " report of processor 1\r\n end of report 1\r\n"
       " report of processor 2\r\n end of report 2\r\n details\r\n"},
      // The log covers the processors the window offers.
      {6,
       {},
       " report of processor 1\r\n end of report 1\r\n details\r\n"
       " report of processor 2\r\n end of report 2\r\n details\r\n"
       " report of processor 3\r\n end of report 3\r\n details\r\n"
       " report of processor 4\r\n end of report 4\r\n details\r\n"},
  };
  for (const SaveCase& c : cases) {
    SCOPED_TRACE(c.Processors);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    p.Processors = c.Processors;
    world.machine = std::make_shared<TestMachine>(c.Processors, true);
    s.Codes = c.Codes;
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    const fs::path file = dir / "out.log";
    EXPECT_TRUE(f.Saveto(file.string()));
    EXPECT_EQ(Read(file), c.Expected);
    EXPECT_TRUE(p.Boxes.empty());
    // The window shows the last processor's report with its details.
    EXPECT_EQ(f.ListBox1.Items.front(),
              " report of processor " + std::to_string(c.Processors < 4 ? c.Processors : 4));
    EXPECT_TRUE(f.Control(Ctl::sDetails).Enabled);
  }
}

TEST_F(Save, ExistingFileIsReplacedNotAppended) {
  const fs::path file = dir / "torvacin.log";
  std::ofstream(file) << "an older log that is much longer than the new one\n"
                      << std::string(4000, 'x') << "\n";
  Start(1);
  ASSERT_TRUE(form->Saveto(file.string()));
  EXPECT_EQ(Read(file), " report of processor 1\r\n end of report 1\r\n details\r\n");
}

TEST_F(Save, FailuresShowAnErrorNamingFileAndReason) {
  struct FailCase {
    std::string Path;
    std::string Reason;
  };
  std::vector<FailCase> cases = {
      {(dir / "no-such-folder" / "torvacin.log").string(), "No such file or directory"},
      {dir.string(), "Is a directory"},
  };
  if (access("/dev/full", W_OK) == 0) cases.push_back({"/dev/full", "No space left on device"});
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.Path);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(2, true);
    p.Processors = 2;
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    EXPECT_FALSE(f.Saveto(c.Path));
    ASSERT_EQ(p.Boxes.size(), 1u);
    EXPECT_EQ(p.Boxes[0].Title, "Error");
    EXPECT_NE(p.Boxes[0].Text.find(c.Path), std::string::npos) << p.Boxes[0].Text;
    EXPECT_NE(p.Boxes[0].Text.find(c.Reason), std::string::npos) << p.Boxes[0].Text;
  }
}

TEST_F(Save, DialogNameIsSavedAndCancelSavesNothing) {
  TForm1& f = Start(1);
  const std::size_t runs = script.WorkerArgs.size();

  platform.SaveDialogResult = false;
  f.saveClick();
  EXPECT_EQ(script.WorkerArgs.size(), runs) << "a cancelled dialog runs nothing";
  EXPECT_TRUE(fs::is_empty(dir));

  platform.SaveDialogResult = true;
  platform.SaveDialogName = (dir / "chosen.txt").string();
  f.saveClick();
  EXPECT_EQ(Read(dir / "chosen.txt"), " report of processor 1\r\n end of report 1\r\n details\r\n");
}

// The whole analysis of test case 2 on two processors of a simulated machine.
TEST_F(Save, RealReportsOfTwoProcessors) {
  struct RealCase {
    std::vector<std::string> Args;
    int DetailsPerReport;
  };
  for (const RealCase& c : {RealCase{{"/TEST=2"}, 1}, RealCase{{"/TEST=2", "/EXT"}, 2}}) {
    SCOPED_TRACE(c.Args.size());
    FakePlatform p;
    World world(p);
    FakeView v;
    world.machine = std::make_shared<TestMachine>(2, false);
    TForm1 f(world, v);
    f.formcreate(c.Args);
    ASSERT_FALSE(f.Ended);
    const fs::path file = dir / "real.log";
    ASSERT_TRUE(f.Saveto(file.string()));
    const std::vector<std::string> lines = CrLfLines(Read(file));
    // Two reports, each starting with its processor line.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind(" Processor", 0) == 0 && lines[i].find(": ") != std::string::npos &&
          lines[i].find("Core") == std::string::npos) {
        starts.push_back(i);
      }
    }
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0], 0u);
    EXPECT_EQ(lines[starts[0]].back(), '1');
    EXPECT_EQ(lines[starts[1]].back(), '2');
    // Each report holds the core clock and its details listing (twice with /EXT).
    for (int r = 0; r < 2; ++r) {
      const std::size_t from = starts[static_cast<std::size_t>(r)];
      const std::size_t to = r == 0 ? starts[1] : lines.size();
      int clocks = 0, fastStrings = 0;
      for (std::size_t i = from; i < to; ++i) {
        if (lines[i].find("300.4 MHz") != std::string::npos) ++clocks;
        if (lines[i].find("Fast Strings") != std::string::npos) ++fastStrings;
        EXPECT_LE(lines[i].size(), 255u);
      }
      EXPECT_GE(clocks, 1) << "report " << r + 1;
      EXPECT_EQ(fastStrings, c.DetailsPerReport) << "report " << r + 1;
    }
  }
}

}  // namespace
}  // namespace torv::testing
