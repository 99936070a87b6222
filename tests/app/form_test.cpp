// The main window's logic over a fake view: start-up, processor buttons, the
// hidden switch field, Details, ECC passes, the layout and failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app_fixture.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;
using Form = FormFixture;

struct ButtonCase {
  int Processors;
  bool Simulated;
  bool Enabled[4];
};

TEST_F(Form, ProcessorButtonsFollowTheProcessorCount) {
  const ButtonCase cases[] = {
      {1, false, {true, false, false, false}}, {2, false, {true, true, false, false}},
      {3, false, {true, true, true, false}},   {4, false, {true, true, true, true}},
      {6, false, {true, true, true, true}},    {3, true, {true, true, true, false}},
  };
  for (const ButtonCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Processors << " processors, simulated " << c.Simulated);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    p.Processors = c.Simulated ? 1 : c.Processors;
    world.machine = std::make_shared<TestMachine>(c.Processors, !c.Simulated);
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    ASSERT_FALSE(f.Ended);
    const Ctl buttons[4] = {Ctl::Proc1, Ctl::Proc2, Ctl::Proc3, Ctl::Proc4};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(f.Control(buttons[i]).Enabled, c.Enabled[i]) << i + 1;
    EXPECT_EQ(world.shell.ProcessorCount, c.Processors);
    EXPECT_EQ(world.shell.MultiProc, c.Processors > 1);
    // Processor 1 is analysed; on this computer its worker is bound to it,
    // a simulated machine's processors are not this computer's.
    EXPECT_EQ(s.WorkerArgs, std::vector<std::int32_t>{1});
    EXPECT_EQ(p.BoundProcs, std::vector<int>{c.Simulated ? 0 : 1});
  }
}

TEST_F(Form, ProcessorClickAnalysesThatProcessor) {
  TForm1& f = Start(4);
  f.Proc3Click();
  EXPECT_EQ(script.WorkerArgs, (std::vector<std::int32_t>{1, 3}));
  EXPECT_EQ(platform.BoundProcs, (std::vector<int>{1, 3}));
  ASSERT_FALSE(Lines().empty());
  EXPECT_EQ(Lines().front(), " report of processor 3");  // the report starts afresh
}

TEST_F(Form, CaptionOnLinuxNamesPlatformDriverAndVersion) {
  TForm1& f = Start(1);
  EXPECT_EQ(f.Caption(), "Torvacin V 1.6 Linux kelvorlx V01.03");
  ASSERT_EQ(view.Captions.size(), 1u);
  EXPECT_EQ(view.Captions[0], f.Caption());
  EXPECT_EQ(w.shell.OsKind, kOsLinux);
}

TEST_F(Form, UnsupportedPlatformShowsErrorAndEndsBeforeAnyAnalysis) {
  for (int kind : {int{kOsWin32s}, int{kOsOther}, 5, 8}) {
    SCOPED_TRACE(kind);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    p.Kind = static_cast<std::uint8_t>(kind);
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({"/TEST=2"});
    EXPECT_TRUE(f.Ended);
    EXPECT_NE(f.ExitCode, 0);
    ASSERT_EQ(p.Boxes.size(), 1u);
    EXPECT_EQ(p.Boxes[0].Title, "Error");
    EXPECT_EQ(p.Boxes[0].Text, "Sorry, only for Win95/86 and WinNT");
    EXPECT_EQ(p.Boxes[0].Buttons, BoxButtons::Ok);
    EXPECT_TRUE(s.WorkerArgs.empty());
    EXPECT_TRUE(v.Captions.empty());
    EXPECT_EQ(world.settings.TestNo, 0) << "switches are not read after a refusal";
  }
}

TEST_F(Form, CtrlDAloneOpensTheSwitchField) {
  struct KeyCase {
    int Key;
    unsigned Shift;
    bool Opens;
  };
  const KeyCase cases[] = {
      {kKeyD, kCtrlKey, true},
      {kKeyD, kCtrlKey | kShiftKey, false},
      {kKeyD, kAltKey, false},
      {kKeyD, kCtrlKey | kAltKey, false},
      {kKeyD, kCtrlKey | kMouseButton, false},
      {kKeyD, 0, false},
      {'E', kCtrlKey, false},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Key << " shift " << c.Shift);
    FakeView v;
    FakePlatform p;
    World world(p);
    TForm1 f(world, v);
    EXPECT_FALSE(f.Control(Ctl::Edit1).Visible);
    f.OnFormKey(c.Key, c.Shift);
    EXPECT_EQ(f.Control(Ctl::Edit1).Visible, c.Opens);
    EXPECT_EQ(v.EditShown, c.Opens ? 1 : 0);
  }
}

TEST_F(Form, TypedDebSwitchRestartsTheDriverAndOtherLinesClearDebugMode) {
  TForm1& f = Start(1);
  ASSERT_EQ(view.Captions.size(), 1u);

  view.Edit = "/ext /deb";
  f.OnEditKey('A', 0);  // only Enter acts
  EXPECT_EQ(script.WorkerArgs.size(), 1u);

  f.OnEditKey(kKeyEnter, 0);
  EXPECT_TRUE(w.settings.DriverDebug);
  EXPECT_EQ(view.Captions.size(), 2u) << "the driver start runs again";
  ASSERT_EQ(platform.Boxes.size(), 1u) << "and opens the driver in debug mode";
  EXPECT_EQ(platform.Boxes[0].Title, "DRVdebug");
  EXPECT_TRUE(w.settings.OptExt) << "the line's switches are applied";
  EXPECT_EQ(script.WorkerArgs.size(), 2u) << "and the analysis runs again";

  view.Edit = "/GR";
  f.OnEditKey(kKeyEnter, 0);
  EXPECT_FALSE(w.settings.DriverDebug);
  EXPECT_EQ(view.Captions.size(), 2u) << "no restart without /DEB";
  EXPECT_EQ(platform.Boxes.size(), 1u);
  EXPECT_EQ(w.report.LangCode, 49u);
  EXPECT_EQ(script.WorkerArgs.size(), 3u);
  EXPECT_EQ(view.Edit, "/GR") << "the text stays in the field";
}

TEST_F(Form, DetailsAppendOnceUntilTheNextRun) {
  TForm1& f = Start(2);
  ASSERT_TRUE(f.Control(Ctl::sDetails).Enabled);
  const std::size_t before = Lines().size();
  f.Details();
  EXPECT_EQ(script.DetailsCalls, 1);
  EXPECT_EQ(Lines().size(), before + 1);
  EXPECT_EQ(Lines().back(), " details");
  EXPECT_FALSE(f.Control(Ctl::sDetails).Enabled);
  f.Proc2Click();
  EXPECT_TRUE(f.Control(Ctl::sDetails).Enabled);
}

// A button press, as both windows deliver it, reaches that button's handler;
// the list box, the picture and the switch field have none.
TEST_F(Form, ButtonPressesReachTheirHandlers) {
  TForm1& f = Start(4);
  for (const Ctl c : {Ctl::ListBox1, Ctl::Image1, Ctl::Edit1}) f.OnClick(c);
  EXPECT_EQ(script.WorkerArgs, std::vector<std::int32_t>{1});
  EXPECT_EQ(script.DetailsCalls, 0);
  f.OnClick(Ctl::sDetails);
  EXPECT_EQ(script.DetailsCalls, 1);
  f.OnClick(Ctl::Proc4);
  f.OnClick(Ctl::Proc2);
  f.OnClick(Ctl::Proc3);
  f.OnClick(Ctl::Proc1);
  EXPECT_EQ(script.WorkerArgs, (std::vector<std::int32_t>{1, 4, 2, 3, 1}));
  EXPECT_FALSE(f.Ended);
  f.OnClick(Ctl::okButton);
  EXPECT_TRUE(f.Ended);
}

TEST_F(Form, DetailsFollowTheWorkersExitCode) {
  for (std::uint32_t code : {0u, 1u, 2u, 3u, 6u, 7u, 8u}) {
    SCOPED_TRACE(code);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(1, true);
    s.Codes = {code};
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    EXPECT_EQ(f.Control(Ctl::sDetails).Enabled, code != 3);
    // The report is built whatever the code.
    ASSERT_FALSE(f.ListBox1.Items.empty());
    EXPECT_EQ(f.ListBox1.Items.front(), " report of processor 1");
  }
}

// The note beside the report: only after the start-up's analysis of a
// processor that gets no register analysis (with or without a measured
// clock), gone with the next analysis, never part of the report or the log.
TEST_F(Form, NoteOnAProcessorWithoutRegisterAnalysisComesOnceAndStaysOutOfTheReport) {
  struct NoteCase {
    std::uint32_t Code;
    const char* Says;  // a phrase of the note, or null for none
  };
  for (const NoteCase& c : {NoteCase{0, nullptr}, NoteCase{1, nullptr},
                            NoteCase{2, "its identification is shown above."},
                            NoteCase{3, "its identification and clock"}, NoteCase{6, nullptr},
                            NoteCase{8, nullptr}}) {
    SCOPED_TRACE(c.Code);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(1, true);
    s.Codes = {c.Code, c.Code};
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    std::string note;
    for (const std::string& line : f.Note()) note += line + " ";
    if (c.Says == nullptr) {
      EXPECT_EQ(note, "");
      continue;
    }
    EXPECT_NE(note.find(c.Says), std::string::npos) << note;
    EXPECT_NE(note.find("torvacin /SIM=p2-450"), std::string::npos) << note;
    for (const std::string& line : f.ListBox1.Items) {
      EXPECT_EQ(line.find("register analysis"), std::string::npos) << line;
    }
    const fs::path log = fs::path(::testing::TempDir()) / "note-test.log";
    ASSERT_TRUE(f.Saveto(log.string()));
    {
      // Closed before the removal, which Windows refuses for an open file.
      std::ifstream in(log, std::ios::binary);
      const std::string saved((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      EXPECT_EQ(saved.find("register analysis"), std::string::npos);
    }
    fs::remove(log);
    f.Proc1Click();
    EXPECT_TRUE(f.Note().empty()) << "the same refusal again needs no note";
  }
}

TEST_F(Form, EccWarningCancelStartsNoSecondWorkerOkExactlyOne) {
  struct EccCase {
    int Answer;
    std::deque<std::uint32_t> Codes;
    std::vector<std::int32_t> Args;
    std::uint8_t ModeAfter;
  };
  const EccCase cases[] = {
      {kIdCancel, {8}, {129, 1}, 1},
      {kIdOk, {8, 0}, {129, 129, 1}, 2},
      // A worker that still finds no ECC after OK is not asked about again.
      {kIdOk, {8, 8}, {129, 129, 1}, 2},
  };
  for (const EccCase& c : cases) {
    SCOPED_TRACE(c.Answer);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(1, true);
    s.Codes = c.Codes;
    p.BoxAnswers = {c.Answer};
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({"/ECC=ON"});
    EXPECT_EQ(s.WorkerArgs, c.Args);
    EXPECT_EQ(world.settings.EccMode[1], c.ModeAfter);
    ASSERT_EQ(p.Boxes.size(), 1u);
    EXPECT_EQ(p.Boxes[0].Title, "Warning");
    EXPECT_EQ(p.Boxes[0].Text,
              "Proc 1:warning: ECC is set to enable, but is not detected => Crash if ECC is not "
              "present");
    EXPECT_EQ(p.Boxes[0].Buttons, BoxButtons::OkCancel);
    EXPECT_FALSE(f.Ended) << "the analysis goes on either way";
  }
}

TEST_F(Form, EccPassesCoverTheGivenProcessorsUpToFour) {
  Make(6);
  w.settings.EccMode[2] = 0;
  w.settings.EccMode[4] = 1;
  form->formcreate({});
  EXPECT_EQ(script.WorkerArgs, (std::vector<std::int32_t>{130, 132, 1}));
  EXPECT_TRUE(platform.Boxes.empty()) << "exit code 0 asks nothing";
}

// An "/ECC=" switch for a processor that does not exist changes nothing on
// any processor: no pass runs for it, and console mode names it once.
TEST_F(Form, EccSwitchesForProcessorsThatDoNotExistAreIgnored) {
  struct Case {
    int Processors;
    std::vector<std::string> Args;
    std::vector<std::int32_t> WorkerArgs;
    std::vector<std::string> ErrorLines;
  };
  const Case cases[] = {
      {1, {"/ECC=5:OFF", "/Q"}, {},
       {"torvacin: ignored /ECC=5:OFF: there is no processor 5 (processors 1 to 1 here)"}},
      {1, {"/ECC=0:OFF", "/Q"}, {},
       {"torvacin: ignored /ECC=0:OFF: no processor number (processors 1 to 1 here)"}},
      {1, {"/ecc=99:off", "/ECC=-255:OFF", "/Q"}, {},
       {"torvacin: ignored /ecc=99:off: there is no processor 99 (processors 1 to 1 here)",
        "torvacin: ignored /ECC=-255:OFF: there is no processor -255 (processors 1 to 1 here)"}},
      {2, {"/ECC=3:ON", "/ECC=2:OFF", "/Q"}, {130},
       {"torvacin: ignored /ECC=3:ON: there is no processor 3 (processors 1 to 2 here)"}},
      {6, {"/ECC=6:OFF", "/ECC=4:OFF", "/Q"}, {132},
       {"torvacin: ignored /ECC=6:OFF: the ECC setting covers processors 1 to 4 only "
        "(processors 1 to 4 here)"}},
      {1, {"/ECC=OFF", "/Q"}, {129}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args.front());
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    p.Processors = c.Processors;
    world.machine = std::make_shared<TestMachine>(c.Processors, true);
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate(c.Args);
    EXPECT_EQ(s.WorkerArgs, c.WorkerArgs);
    EXPECT_EQ(p.ErrorLines, c.ErrorLines);
    EXPECT_EQ(f.ExitCode, 0);
    for (int proc = c.Processors + 1; proc <= 4; ++proc) {
      EXPECT_EQ(world.settings.EccMode[proc], 0xFF);
    }
  }
  // The window ignores them without a word; a typed line is checked the same.
  TForm1& f = Make(1);
  platform.Window = true;
  f.formcreate({"/ECC=2:OFF"});
  view.Edit = "/ECC=3:ON";
  f.OnEditKey(kKeyEnter, 0);
  EXPECT_EQ(script.WorkerArgs, (std::vector<std::int32_t>{1, 1}));
  EXPECT_TRUE(platform.ErrorLines.empty());
  EXPECT_EQ(w.settings.EccMode[2], 0xFF);
  EXPECT_EQ(w.settings.EccMode[3], 0xFF);
}

// An ECC pass on a processor where it cannot switch anything says why (on
// the terminal in console mode, in an "Error" box in the window) and counts
// as an analysis that ended early (exit status 4).
TEST_F(Form, EccPassThatCannotRunSaysWhyAndEndsWithFour) {
  struct Case {
    std::uint32_t Code;
    EccPassSkip Skip;
    const char* Why;  // null: switched
  };
  const Case cases[] = {
      {kExitNotP6, EccPassSkip::None,
       "the processor is not of the Pentium Pro / Pentium II family"},
      {kExitNoCpuid, EccPassSkip::None, "the processor has no usable CPUID or time-stamp counter"},
      {kExitCpuidFault, EccPassSkip::None, "the processor could not be reached"},
      {kExitFinished, EccPassSkip::PentiumPro,
       "the Pentium Pro's cache is not switched (only the Pentium II family's)"},
      {kExitFinished, EccPassSkip::NoCache, "there is no second-level cache"},
      {kExitFinished, EccPassSkip::None, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Code);
    FakePlatform p;
    World world(p);
    FakeView v;
    world.machine = std::make_shared<TestMachine>(1, true);
    AnalysisSteps steps;
    steps.Worker = [&c](World& ww, std::int32_t) {
      ww.p2.EccSkipped = c.Skip;
      return c.Code;
    };
    steps.Report = [](World&, int) { return true; };
    steps.Details = [](World&) {};
    TForm1 f(world, v, steps);
    f.formcreate({"/ECC=1:OFF", "/Q"});
    EXPECT_TRUE(f.Ended);
    EXPECT_EQ(f.ExitCode, c.Why != nullptr ? kExitIncomplete : 0);
    if (c.Why == nullptr) {
      EXPECT_TRUE(p.Boxes.empty());
      continue;
    }
    ASSERT_EQ(p.Boxes.size(), 1u);
    EXPECT_EQ(p.Boxes[0].Title, "Error");
    EXPECT_EQ(p.Boxes[0].Text, std::string("Proc 1: ECC not switched, ") + c.Why);
  }
}

TEST_F(Form, QuitEndsAfterTheEccPassesWithoutAnalysis) {
  TForm1& f = Start(1, {"/ECC=OFF", "/Q"});
  EXPECT_TRUE(f.Ended);
  EXPECT_EQ(f.ExitCode, 0);
  EXPECT_EQ(script.WorkerArgs, std::vector<std::int32_t>{129});
}

TEST_F(Form, EarlyEndsAreNeverSilent) {
  struct Case {
    std::vector<std::string> Args;
    std::uint32_t Code;  // of the only worker
    bool Ended;
    int Exit;
    const char* Box;  // the "Error" box, or null for none
  };
  const Case cases[] = {
      {{"/ECC=OFF", "/Q"},
       6,
       true,
       kExitIncomplete,
       "Proc 1: ECC not switched, the second-level cache did not answer (ECC presence test "
       "failed)"},
      {{"/ECC=ON", "/Q"},
       7,
       true,
       kExitIncomplete,
       "Proc 1: ECC not switched, the second-level cache did not answer (configuration read "
       "failed)"},
      {{"/ECC=OFF", "/Q"}, 0, true, 0, nullptr},
      // An analysis run: the report says what is missing; console mode ends with 4.
      {{}, 6, false, 0, nullptr},
      {{}, 7, false, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Args.size() << " switches, code " << c.Code);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(1, true);
    s.Codes = {c.Code};
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate(c.Args);
    EXPECT_EQ(f.Ended, c.Ended);
    EXPECT_EQ(f.ExitCode, c.Exit);
    EXPECT_EQ(f.Incomplete, c.Code != 0);
    if (c.Box == nullptr) {
      EXPECT_TRUE(p.Boxes.empty());
    } else {
      ASSERT_EQ(p.Boxes.size(), 1u);
      EXPECT_EQ(p.Boxes[0].Title, "Error");
      EXPECT_EQ(p.Boxes[0].Text, c.Box);
      EXPECT_EQ(p.Boxes[0].Buttons, BoxButtons::Ok);
    }
  }
}

// A processor that could not be analysed at all (no analysis thread, or the
// processor could not be reached) fails the run: its report ends in a line
// that says so in the report's language, and console mode, /SAVE and /Q end
// with status 3. A run that worked keeps its lines and status.
TEST_F(Form, ProcessorThatCouldNotBeAnalysedFailsTheRun) {
  const std::string noThread =
      " Processor 1 could not be reached: the analysis thread could not be started";
  struct Case {
    const char* Name;
    std::vector<std::string> Args;
    bool FailThreads;
    std::uint32_t Code;  // of the worker, when it runs
    std::vector<std::string> Lines;
    int Status;  // RunStatus(), or ExitCode when the run ended (/Q)
  };
  const Case cases[] = {
      {"no thread", {}, true, 0, {noThread, " Analysis of this processor failed"}, 3},
      {"no thread, German",
       {"/GR"},
       true,
       0,
       {noThread, " Analyse dieses Prozessors fehlgeschlagen"},
       3},
      {"no thread, Dutch", {"/NL"}, true, 0, {noThread, " Analyse van deze processor mislukt"}, 3},
      {"no thread for the ECC pass", {"/ECC=OFF", "/Q"}, true, 0, {}, 3},
      {"not reached",
       {},
       false,
       1,
       {" report of processor 1", " end of report 1", " Analysis of this processor failed"},
       3},
      {"cache did not answer", {}, false, 6, {" report of processor 1", " end of report 1"}, 4},
      {"complete", {}, false, 0, {" report of processor 1", " end of report 1"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    FakePlatform p;
    World world(p);
    FakeView v;
    Script s;
    world.machine = std::make_shared<TestMachine>(1, true);
    p.FailThreads = c.FailThreads;
    s.Codes = {c.Code};
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate(c.Args);
    EXPECT_EQ(f.NotAnalysed, c.Status == kExitNotAnalysed);
    if (f.Ended) {
      EXPECT_EQ(f.ExitCode, c.Status);
    } else {
      EXPECT_EQ(f.RunStatus(), c.Status);
      EXPECT_EQ(f.ListBox1.Items, c.Lines);
      EXPECT_EQ(f.Control(Ctl::sDetails).Enabled, !c.FailThreads);
    }
    if (c.FailThreads) {
      EXPECT_TRUE(s.WorkerArgs.empty());
    }
  }
}

TEST_F(Form, LayoutFollowsTheWindowSize) {
  struct LayoutCase {
    int Width, Height, ListHeight, ProcTop, OkTop, EditTop;
  };
  for (const LayoutCase& c :
       {LayoutCase{640, 444, 304, 324, 384, 352}, LayoutCase{900, 600, 460, 480, 540, 508},
        LayoutCase{kFormMinWidth, kFormMinHeight, 100, 120, 180, 148},
        LayoutCase{640, 100, 0, -20, 40, 8}}) {
    SCOPED_TRACE(c.Height);
    FakeView v;
    FakePlatform p;
    World world(p);
    TForm1 f(world, v);
    v.Width = c.Width;
    v.Height = c.Height;
    f.setPositions();
    EXPECT_EQ(f.Control(Ctl::ListBox1).Height, c.ListHeight);
    EXPECT_EQ(f.ListBox1.Height, c.ListHeight);
    EXPECT_EQ(f.Control(Ctl::ListBox1).Width, c.Width) << "the list box grows with the width";
    for (Ctl k : {Ctl::Proc1, Ctl::Proc2, Ctl::Proc3, Ctl::Proc4, Ctl::Image1}) {
      EXPECT_EQ(f.Control(k).Top, c.ProcTop);
    }
    for (Ctl k : {Ctl::okButton, Ctl::sDetails, Ctl::save}) EXPECT_EQ(f.Control(k).Top, c.OkTop);
    // The switch field stays between the two rows, never over the list box.
    EXPECT_EQ(f.Control(Ctl::Edit1).Top, c.EditTop);
    // Left edges and sizes keep their design values.
    EXPECT_EQ(f.Control(Ctl::Proc4).Left, 536);
    EXPECT_EQ(f.Control(Ctl::sDetails).Width, 113);
  }
}

// At the smallest size the window allows, every button lies whole inside it
// and below the list box, and the switch field overlaps no button.
TEST_F(Form, MinimumSizeShowsEveryButton) {
  FakeView v;
  FakePlatform p;
  World world(p);
  TForm1 f(world, v);
  v.Width = kFormMinWidth;
  v.Height = kFormMinHeight;
  f.setPositions();
  const ControlState& list = f.Control(Ctl::ListBox1);
  const ControlState& edit = f.Control(Ctl::Edit1);
  for (Ctl k :
       {Ctl::okButton, Ctl::sDetails, Ctl::save, Ctl::Proc1, Ctl::Proc2, Ctl::Proc3, Ctl::Proc4}) {
    SCOPED_TRACE(static_cast<int>(k));
    const ControlState& b = f.Control(k);
    EXPECT_GE(b.Left, 0);
    EXPECT_LE(b.Left + b.Width, kFormMinWidth);
    EXPECT_GE(b.Top, list.Top + list.Height);
    EXPECT_LE(b.Top + b.Height, kFormMinHeight);
    const bool apart = edit.Left + edit.Width <= b.Left || b.Left + b.Width <= edit.Left ||
                       edit.Top + edit.Height <= b.Top || b.Top + b.Height <= edit.Top;
    EXPECT_TRUE(apart);
  }
  EXPECT_GE(list.Height, 5 * f.ListBox1.ItemHeight) << "a few report lines stay visible";
}

TEST(VisibleText, ControlBytesBecomeQuestionMarksEverythingElseStays) {
  const struct {
    std::string In, Out;
  } cases[] = {
      {" GenuineIntel", " GenuineIntel"},
      {std::string("Genu\0ineI", 9) + "ntel, Typ=0", "Genu?ineIntel, Typ=0"},
      {"\x1B[31mred\r\n\x07", "?[31mred???"},
      {"\x7F\x01\x1F\x20~", "??? ~"},
      {"\x80\xE4\xFF", "\x80\xE4\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(VisibleText(c.In), c.Out);
  }
}

TEST_F(Form, OkEndsTheProgramAndTheDriverIsClosedOnce) {
  TForm1& f = Start(1);
  f.okexit();
  EXPECT_TRUE(f.Ended);
  EXPECT_EQ(f.ExitCode, 0);
  EXPECT_EQ(view.Closes, 1);
  f.formDestroy();
  f.formDestroy();  // the close box after "ok" does not unload twice
}

TEST_F(Form, RealAnalysisOfTestCaseTwo) {
  Make(1, false, false).formcreate({"/TEST=2"});
  ASSERT_FALSE(form->Ended);
  ASSERT_GE(Lines().size(), 3u);
  EXPECT_NE(Lines()[0].find("GenuineIntel"), std::string::npos) << Lines()[0];
  EXPECT_NE(Lines()[1].find("Pentium II, Klamath"), std::string::npos) << Lines()[1];
  EXPECT_TRUE(form->Control(Ctl::sDetails).Enabled);
}

}  // namespace
}  // namespace torv::test
