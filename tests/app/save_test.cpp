// Saving the reports of all processors: file contents, replacing, the save
// dialog, and failures of the file operations.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "app_fixture.h"
#include "support/temp_dir.h"

namespace torv::test {
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
    std::string Shown = "";  // the name in the box, when not the path itself
  };
  fs::create_directory(dir / "folder");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  // A name longer than the system takes: used whole, refused by the system;
  // the box shows its end and the reason.
  const std::string tooLong = (dir / std::string(5000, 'n')).string();
  // Each is refused before any analysis runs.
  std::vector<FailCase> cases = {
      {(dir / "no-such-folder" / "torvacin.log").string(), "No such file or directory"},
      {(dir / "folder").string(), "it is a directory, not a regular file"},
      {(dir / "fifo").string(), "it is a FIFO, not a regular file"},
      {"/dev/full", "it is a character device, not a regular file"},
      {tooLong, "File name too long", "..." + std::string(117, 'n')},
  };
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
    const std::size_t runs = s.WorkerArgs.size();
    EXPECT_FALSE(f.Saveto(c.Path));
    EXPECT_EQ(s.WorkerArgs.size(), runs);
    ASSERT_EQ(p.Boxes.size(), 1u);
    EXPECT_EQ(p.Boxes[0].Title, "Error");
    EXPECT_EQ(p.Boxes[0].Text,
              "Cannot save to " + (c.Shown.empty() ? c.Path : c.Shown) + ": " + c.Reason);
  }
}

// A save that fails after the analyses ran keeps the earlier file as it was,
// says so, and leaves no temporary file; a symbolic link is replaced itself.
TEST_F(Save, EarlierFileSurvivesAFailedSaveAndLinksAreNotFollowed) {
  const fs::path file = dir / "torvacin.log";
  const std::string old = "an earlier log\r\n";
  std::ofstream(file, std::ios::binary) << old;
  TForm1& f = Start(1);
  f.FileCalls.Write = [](int, const void*, std::size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  EXPECT_FALSE(f.Saveto(file.string()));
  ASSERT_EQ(platform.Boxes.size(), 1u);
  EXPECT_EQ(platform.Boxes[0].Text, "Cannot save to " + file.string() +
                                        ": No space left on device; the earlier file is unchanged");
  EXPECT_EQ(Read(file), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  // A link at the name (as an attacker might plant for a root run) is
  // replaced by the log; the file it pointed at keeps its contents.
  f.FileCalls = SystemSaveCalls();
  fs::remove(file);
  std::ofstream(dir / "precious", std::ios::binary) << old;
  fs::create_symlink(dir / "precious", file);
  ASSERT_TRUE(f.Saveto(file.string()));
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ(Read(file), " report of processor 1\r\n end of report 1\r\n details\r\n");
  EXPECT_EQ(Read(dir / "precious"), old);
}

// Bytes below 20h and 7Fh in a report line are written as "?": each report
// line stays one CR LF line of the log.
TEST_F(Save, ControlBytesOfAReportLineAreWrittenAsQuestionMarks) {
  Make(1);
  const std::string raw = std::string(" Vendor\x1B[2J\r\nX") + '\0' +
                          "Y\x7F"
                          "end \xE4";
  AnalysisSteps steps = ScriptedSteps(script);
  steps.Report = [&raw](World& w, int) {
    ReportWriteLn(w.report, raw);
    return true;
  };
  TForm1 f(w, view, steps);
  f.formcreate({});
  EXPECT_EQ(f.ListBox1.Items[0], raw) << "the report keeps its bytes";
  const fs::path file = dir / "ctl.log";
  ASSERT_TRUE(f.Saveto(file.string()));
  EXPECT_EQ(Read(file), " Vendor?[2J??X?Y?end \xE4\r\n details\r\n");
}

TEST_F(Save, DialogNameIsSavedAndCancelSavesNothing) {
  TForm1& f = Start(1);
  const std::size_t runs = script.WorkerArgs.size();

  platform.SaveDialogResult = false;
  f.saveClick();
  EXPECT_EQ(script.WorkerArgs.size(), runs) << "a cancelled dialog runs nothing";
  EXPECT_TRUE(fs::is_empty(dir));

  // The chosen name is used whole, a long one too (more than 255 bytes).
  const fs::path deep = dir / std::string(120, 'a') / std::string(120, 'b');
  fs::create_directories(deep);
  for (const fs::path& chosen : {dir / "chosen.txt", deep / (std::string(100, 'c') + ".log")}) {
    SCOPED_TRACE(chosen.string().size());
    platform.SaveDialogResult = true;
    platform.SaveDialogName = chosen.string();
    f.saveClick();
    EXPECT_EQ(Read(chosen), " report of processor 1\r\n end of report 1\r\n details\r\n");
    EXPECT_TRUE(platform.Boxes.empty()) << "a new file needs no question";
    EXPECT_EQ(view.Status.rfind("Saved 1 report to ", 0), 0u) << view.Status;
    EXPECT_EQ(view.Status.back(), chosen.string().back()) << "the name's end is shown";
  }
  // A save that fails takes the last confirmation away.
  platform.SaveDialogName = (dir / "no such folder" / "x.log").string();
  f.saveClick();
  EXPECT_EQ(view.Status, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator()), 1);
}

// The dialog's choice of an existing file is replaced only after "OK" to a
// warning; Cancel (the default button) leaves the file and runs nothing.
TEST_F(Save, DialogAsksBeforeReplacingAFile) {
  for (const int answer : {kIdCancel, kIdOk}) {
    SCOPED_TRACE(answer);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(1, true);
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    const fs::path file = dir / "existing.log";
    std::ofstream(file, std::ios::binary) << "keep me\r\n";
    p.SaveDialogName = file.string();
    p.BoxAnswers = {answer};
    const std::size_t runs = s.WorkerArgs.size();
    f.saveClick();
    ASSERT_EQ(p.Boxes.size(), 1u);
    EXPECT_EQ(p.Boxes[0].Title, "Warning");
    EXPECT_EQ(p.Boxes[0].Buttons, BoxButtons::OkCancel);
    EXPECT_EQ(p.Boxes[0].Text, "The file " + file.string() + " exists already. Replace it?");
    if (answer == kIdOk) {
      EXPECT_EQ(Read(file), " report of processor 1\r\n end of report 1\r\n details\r\n");
      EXPECT_EQ(v.Status, "Saved 1 report to " + file.string());
    } else {
      EXPECT_EQ(Read(file), "keep me\r\n");
      EXPECT_EQ(s.WorkerArgs.size(), runs);
      EXPECT_EQ(v.Status, "");
    }
  }
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
}  // namespace torv::test
