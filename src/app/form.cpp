#include "app/form.h"

#include <array>
#include <cstring>
#include <iterator>

#include "app/settings.h"
#include "driver/hw.h"
#include "driver/loader.h"
#include "machine/machine.h"
#include "p2/p2info.h"
#include "report/shortstr.h"
#include "report/utility.h"

namespace torv {

namespace {

struct Design {
  Ctl C;
  int Left, Top, Width, Height;
};

// The controls at design size.
constexpr auto kDesign = std::to_array<Design>({
    {Ctl::ListBox1, 0, 0, 640, 303},
    {Ctl::Image1, 24, 320, 161, 129},
    {Ctl::okButton, 264, 376, 89, 25},
    {Ctl::sDetails, 368, 376, 113, 25},
    {Ctl::Proc1, 272, 320, 73, 25},
    {Ctl::Proc2, 360, 320, 73, 25},
    {Ctl::Proc3, 448, 320, 75, 25},
    {Ctl::Proc4, 536, 320, 75, 25},
    {Ctl::save, 544, 376, 59, 25},
    {Ctl::Edit1, 136, 352, 121, 21},
});
static_assert(kDesign.size() == kControlCount, "one row per control");
// Row i is control i: every value of Ctl has its row, in order.
constexpr bool RowsInControlOrder() {
  for (int i = 0; i < kControlCount; ++i) {
    if (kDesign[static_cast<std::size_t>(i)].C != static_cast<Ctl>(i)) return false;
  }
  return true;
}
static_assert(RowsInControlOrder(), "kDesign follows Ctl");

constexpr Ctl kProcButtons[] = {Ctl::Proc1, Ctl::Proc2, Ctl::Proc3, Ctl::Proc4};
static_assert(std::size(kProcButtons) == kMaxWindowProcs, "one button per processor");

// Exit status when start-up refuses to go on or an unattended save fails.
constexpr int kExitFailure = 1;

const char* const kUnsupported = "Sorry, only for Win95/86 and WinNT";

// Why an ECC pass could not switch anything on its processor, or null when
// it did (or its exit code is handled elsewhere).
const char* EccNotSwitched(std::uint32_t exitCode, EccPassSkip skipped) {
  switch (exitCode) {
    case kExitCpuidFault:
      return "the processor could not be reached";
    case kExitNoCpuid:
      return "the processor has no usable CPUID or time-stamp counter";
    case kExitNotP6:
      return "the processor is not of the Pentium Pro / Pentium II family";
    default:
      break;
  }
  if (exitCode != kExitFinished) return nullptr;
  switch (skipped) {
    case EccPassSkip::PentiumPro:
      return "the Pentium Pro's cache is not switched (only the Pentium II family's)";
    case EccPassSkip::NoCache:
      return "there is no second-level cache";
    case EccPassSkip::NotInDump:
      return "the dump holds no BBL_CR_CTL3 (11Eh) or no ECC test result";
    case EccPassSkip::None:
      break;
  }
  return nullptr;
}

// A file name as a box shows it: a long one by its end, so that the box's
// text, which is cut at 255 characters, keeps the reason after the name.
std::string ShownName(const std::string& name) {
  constexpr std::size_t kShown = 120;
  const std::string cp = Utf8ToCp1252(name);
  return cp.size() <= kShown ? cp : "..." + cp.substr(cp.size() - (kShown - 3));
}
const char* const kEccWarning =
    "warning: ECC is set to enable, but is not detected => Crash if ECC is not present";

// What the report of a processor outside the Pentium Pro / Pentium II family
// holds, for a first run on a recent PC, whose report ends in a refusal. A
// processor without a time-stamp counter (or without CPUID) has no clock
// measured either.
std::vector<std::string> NoRegisterAnalysisNote(bool clockShown) {
  return {
      "This processor gets no register analysis, which is for the Pentium Pro and",
      std::string("Pentium II family (Celeron and Xeon included); its identification") +
          (clockShown ? " and clock" : ""),
      std::string(clockShown ? "are" : "is") +
          " shown above. A full analysis on a simulated machine: torvacin /SIM=p2-450",
  };
}

// A file name as given, or in `folder` when it is relative, in the system's
// own path form.
std::string PathInFolder(const std::string& folder, const std::string& name) {
  const bool absolute = !name.empty() && (name.front() == '/' || name.front() == '\\' ||
                                          (name.size() > 1 && name[1] == ':'));
  if (absolute || folder.empty()) return name;
  const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
  return folder.back() == separator ? folder + name : folder + separator + name;
}

// "saved 2 reports to PATH", the window's status line.
std::string SavedText(int reports, const std::string& path) {
  return "saved " + std::to_string(reports) + (reports == 1 ? " report" : " reports") + " to " +
         path;
}

// "2 reports saved to PATH" in the report's language, the line after an
// unattended save: plain words, so that it does not read like an error.
std::string SavedLine(const LangRec& m, int reports, const std::string& path) {
  const std::string words = TableText(reports == 1 ? m.ReportSaved : m.ReportsSaved);
  return std::to_string(reports) + Cp1252ToUtf8(words) + " " + path;
}

}  // namespace

AnalysisSteps DefaultAnalysisSteps() {
  AnalysisSteps s;
  s.Worker = [](World& w, std::int32_t arg) { return WorkerThread(w.ForP2(), arg); };
  s.Report = [](World& w, int proc) { return P2Report(w.ForP2(), proc); };
  s.Details = [](World& w) { P2Details(w.ForP2()); };
  return s;
}

TForm1::TForm1(World& w, FormView& view, AnalysisSteps steps)
    : w_(w), view_(view), steps_(std::move(steps)) {
  for (const Design& d : kDesign) {
    ControlState& c = controls_[static_cast<int>(d.C)];
    c.Left = d.Left;
    c.Top = d.Top;
    c.Width = d.Width;
    c.Height = d.Height;
  }
  controls_[static_cast<int>(Ctl::Edit1)].Visible = false;
  ListBox1.Height = kDesign[0].Height;
}

void TForm1::formcreate(const std::vector<std::string>& args) {
  InitDrv();
  if (Ended) return;
  ParseSwitches(w_.settings, w_.report, w_.util, "", args);
  CheckEccSwitches();
  RunTest();
}

// An "/ECC=" switch for a processor this machine does not have (or one the
// four ECC entries do not cover) changes nothing: its entry, if it has one,
// is dropped; console mode names it on the error stream.
void TForm1::CheckEccSwitches() {
  const int procs = WindowProcs();
  for (const EccSwitch& e : w_.settings.EccSwitches) {
    if (e.Processor >= 1 && e.Processor <= procs) continue;
    if (e.Processor >= 1 && e.Processor <= kMaxWindowProcs) {
      w_.settings.EccMode[static_cast<std::size_t>(e.Processor)] = 0xFF;
    }
    if (w_.platform->BoxesInWindow()) continue;
    std::string why;
    if (e.Processor == 0) {
      why = "no processor number";
    } else if (e.Processor > kMaxWindowProcs && e.Processor <= w_.shell.ProcessorCount) {
      why = "the ECC setting covers processors 1 to " + std::to_string(kMaxWindowProcs) + " only";
    } else {
      why = "there is no processor " + std::to_string(e.Processor);
    }
    w_.platform->ErrorLine("torvacin: ignored " + VisibleText(e.Text) + ": " + why +
                           " (processors 1 to " + std::to_string(procs) + " here)");
  }
  w_.settings.EccSwitches.clear();
}

void TForm1::InitDrv() {
  const std::uint8_t kind = w_.platform->GetWinVersion();
  w_.shell.OsKind = kind;
  std::string fileName;
  std::uint32_t version = 0;
  std::string platformName;
  switch (kind) {
    case kOsWin95:
    case kOsWin98:
      fileName = "KELVOR95.VXD";
      version = 0x0101;
      platformName = kind == kOsWin95 ? "Win95" : "Win98";
      break;
    case kOsWinNT:
      fileName = "KELVORNT.SYS";
      version = 0x0103;
      platformName = "WinNT";
      break;
    case kOsLinux:
      fileName = kLinuxDriverName;
      version = kLinuxDriverVersion;
      platformName = "Linux";
      break;
    default:
      Showerror(kUnsupported);
      EndProgram(kExitFailure);
      return;
  }
  std::uint32_t error = 0;
  LoadDriver(w_.ForDriver(), kind, fileName, version, error);
  if (error != 0) {
    Showerror(DrvErrorText(w_.ForDriver(), error));
    EndProgram(kExitFailure);
    return;
  }
  // The processors: a simulated machine has its own, which are not this
  // computer's, so its workers run unbound.
  if (w_.machine && !w_.machine->BindsHostThreads()) {
    w_.shell.ProcessorCount = w_.machine->ProcessorCount();
    bindsHost_ = false;
  } else {
    w_.shell.ProcessorCount = w_.platform->ProcessorCount();
    bindsHost_ = true;
  }
  const std::uint32_t v = w_.drv.DrvVersion;
  caption_ = Cut(Cut(std::string("Torvacin V 1.6 ") + platformName, 70) + " " + w_.drv.DrvFileName +
                 " V" + HexByte(static_cast<std::uint8_t>(v >> 8)) + "." +
                 HexByte(static_cast<std::uint8_t>(v & 0xFF)));
  view_.SetCaption(caption_);
}

int TForm1::WindowProcs() const {
  const int n = w_.shell.ProcessorCount;
  return n < kMaxWindowProcs ? n : kMaxWindowProcs;
}

void TForm1::RunTest() {
  setPositions();
  ReportInit(w_.report, ListBox1, false, true, true);
  w_.shell.MultiProc = w_.shell.ProcessorCount > 1;
  Incomplete = false;
  NotAnalysed = false;
  for (int p = 1; p <= WindowProcs(); ++p) {
    if (w_.settings.EccMode[static_cast<std::size_t>(p)] != 0xFF) TestProc(p + 128);
  }
  if (w_.settings.OptSave) {
    const bool saved = Saveto(kLogFileName);
    // An unattended save says where it went, on the error stream, which
    // stays free of the report.
    if (saved) {
      w_.platform->ErrorLine(
          SavedLine(w_.report.Msg(), WindowProcs(),
                    VisibleText(PathInFolder(w_.platform->CurrentDirectory(), kLogFileName))));
    }
    EndProgram(!saved ? kExitFailure : RunStatus());
    return;
  }
  if (w_.settings.OptQuit) {
    EndProgram(RunStatus());
    return;
  }
  SetEnabled(Ctl::sDetails, TestProc(1));
  // The first report on a processor outside the family ends in a refusal,
  // which looks like a failure: once, the note says what the report holds.
  if (!started_ && (lastExit_ == kExitNotP6 || lastExit_ == kExitNoCpuid)) {
    note_ = NoRegisterAnalysisNote(lastExit_ == kExitNotP6);
    view_.Repaint();
  }
  started_ = true;
  // Buttons of processors that do not exist; nothing enables them again.
  for (int p = 2; p <= kMaxWindowProcs; ++p) {
    if (p > w_.shell.ProcessorCount) SetEnabled(kProcButtons[p - 1], false);
  }
}

bool TForm1::TestProc(std::int32_t arg) {
  ReportClear(w_.report);
  note_.clear();
  const int proc = arg & 31;
  std::uint32_t exitCode = 0;
  bool repeated = false;
  int answer;
  do {
    answer = 0;
    const int bindTo = bindsHost_ ? proc : 0;
    const bool ran = w_.platform->RunBoundThread(
        bindTo, [&] { return steps_.Worker(w_, arg); }, exitCode);
    lastExit_ = ran ? exitCode : kExitFinished;
    // An earlier analysis's registers put back from its journal: said in
    // the status line as well as on the error stream.
    if (!w_.hw.JournalNote.empty()) {
      view_.SetStatus(w_.hw.JournalNote);
      w_.hw.JournalNote.clear();
    }
    // A register failure ended the worker: shown here, then the end.
    EndFatally(w_.ForDriver());
    if (!ran) {
      // No thread, no analysis: the run failed for this processor (an ECC
      // pass as much as a report).
      NotAnalysed = true;
      ReportWriteLn(w_.report, " Processor " + DecStr(proc) +
                                   " could not be reached: the analysis thread could not be "
                                   "started");
      ReportWriteLn(w_.report, w_.report.Msg().RunFailed);
      view_.Repaint();
      return false;
    }
    const bool early = exitCode == kExitL2Access || exitCode == kExitL2Config;
    if (early) Incomplete = true;
    if (arg < 32) {
      steps_.Report(w_, proc);
      // A processor that could not be reached was not analysed: its report
      // ends in a line that says so, and the run fails.
      if (exitCode == kExitCpuidFault) {
        NotAnalysed = true;
        ReportWriteLn(w_.report, w_.report.Msg().RunFailed);
      }
    } else if (early) {
      // The pass ended before its ECC step: nothing was switched.
      Showerror(
          "Proc " + DecStr(proc) + ": ECC not switched, the second-level cache did not answer (" +
          (exitCode == kExitL2Access ? "ECC presence test" : "configuration read") + " failed)");
    } else if (const char* why = EccNotSwitched(exitCode, w_.p2.EccSkipped)) {
      // A pass that cannot run on this processor says so, and counts as an
      // analysis that ended early.
      Incomplete = true;
      Showerror("Proc " + DecStr(proc) + ": ECC not switched, " + why);
    } else if (exitCode == kExitEccMissing && !repeated) {
      answer = showWarning("Proc " + DecStr(proc) + ":" + kEccWarning);
      if (answer == kIdOk && proc >= 1 && proc <= kMaxWindowProcs) {
        w_.settings.EccMode[static_cast<std::size_t>(proc)] = 2;
      }
      // OK repeats the pass once with ECC forced on.
      repeated = true;
    }
  } while (answer == kIdOk);
  view_.Repaint();
  return exitCode != kExitNotP6;
}

int TForm1::RunStatus() const {
  return NotAnalysed ? kExitNotAnalysed : Incomplete ? kExitIncomplete : 0;
}

void TForm1::ProcClick(int n) {
  SetEnabled(Ctl::sDetails, TestProc(n));
}

void TForm1::Details() {
  steps_.Details(w_);
  view_.Repaint();
  SetEnabled(Ctl::sDetails, false);
}

void TForm1::OnClick(Ctl c) {
  switch (c) {
    case Ctl::okButton:
      okexit();
      break;
    case Ctl::sDetails:
      Details();
      break;
    case Ctl::Proc1:
      Proc1Click();
      break;
    case Ctl::Proc2:
      Proc2Click();
      break;
    case Ctl::Proc3:
      Proc3Click();
      break;
    case Ctl::Proc4:
      Proc4Click();
      break;
    case Ctl::save:
      saveClick();
      break;
    default:
      break;
  }
}

void TForm1::OnFormKey(int key, unsigned shift) {
  if (key != kKeyD || shift != kCtrlKey) return;
  controls_[static_cast<int>(Ctl::Edit1)].Visible = true;
  view_.ShowEdit();
}

void TForm1::OnEditKey(int key, unsigned) {
  if (key != kKeyEnter) return;
  const std::string text = Cut(view_.EditText());
  if (UpperStr(text).find("/DEB") != std::string::npos) {
    w_.settings.DriverDebug = true;
    DrvUnload(w_.ForDriver());
    InitDrv();
    if (Ended) return;
  } else {
    w_.settings.DriverDebug = false;
  }
  ParseSwitches(w_.settings, w_.report, w_.util, text, {});
  CheckEccSwitches();
  RunTest();
}

void TForm1::setPositions() {
  // The bottom reference is the window's own height: the controls keep the
  // same distance from the bottom edge wherever the window stands.
  const int r = view_.WindowHeight();
  const int listHeight = r - 140 > 0 ? r - 140 : 0;
  const ControlState& lb = Control(Ctl::ListBox1);
  // The list box takes the window's whole width as well.
  const int width = view_.WindowWidth();
  Move(Ctl::ListBox1, lb.Left, lb.Top, width > 0 ? width : 0, listHeight);
  ListBox1.Height = listHeight;
  for (Ctl c : {Ctl::Proc1, Ctl::Proc2, Ctl::Proc3, Ctl::Proc4, Ctl::Image1}) {
    const ControlState& s = Control(c);
    Move(c, s.Left, r - 120, s.Width, s.Height);
  }
  for (Ctl c : {Ctl::okButton, Ctl::sDetails, Ctl::save}) {
    const ControlState& s = Control(c);
    Move(c, s.Left, r - 60, s.Width, s.Height);
  }
  // The switch field keeps its place between the two button rows, so that it
  // never lies over the list box nor below the window's edge.
  const ControlState& e = Control(Ctl::Edit1);
  Move(Ctl::Edit1, e.Left, r - 92, e.Width, e.Height);
}

void TForm1::okexit() {
  EndProgram(0);
}

void TForm1::formDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  DrvUnload(w_.ForDriver());
}

void TForm1::Showerror(std::string_view text) {
  w_.platform->MessageBox("Error", VisibleText(Cut(text)), BoxButtons::Ok);
}

int TForm1::showWarning(std::string_view text) {
  return w_.platform->MessageBox("Warning", VisibleText(Cut(text)), BoxButtons::OkCancel);
}

bool TForm1::Saveto(std::string_view fileName) {
  const std::string name(fileName);
  SaveFailure failure;
  // A FIFO, device or folder at the name is refused before any analysis runs.
  if (!CheckSaveTarget(name, failure)) return SaveFailed(name, failure);
  std::string log;
  for (int p = 1; p <= WindowProcs(); ++p) {
    const bool ok = TestProc(p);
    SetEnabled(Ctl::sDetails, ok);
    if (ok) {
      steps_.Details(w_);
      view_.Repaint();
    }
    for (const std::string& line : ListBox1.Items) {
      log += VisibleText(Cut(line));
      log += "\r\n";
    }
  }
  if (!SaveReplacing(name, log, failure, FileCalls)) return SaveFailed(name, failure);
  return true;
}

bool TForm1::SaveFailed(const std::string& name, const SaveFailure& failure) {
  std::string text = "Cannot save to " + ShownName(name) + ": ";
  if (failure.NotRegular) {
    text += "it is " + failure.Kind + ", not a regular file";
  } else {
    text += std::strerror(failure.Error);
    if (failure.KeptOld) text += "; the earlier file is unchanged";
  }
  Showerror(text);
  return false;
}

void TForm1::saveClick() {
  std::string name = kLogFileName;
  if (!w_.platform->SaveDialog(name)) return;  // cancelled: nothing is written
  // The name is used whole, however long: a name the system refuses ends in
  // an "Error" box naming the reason.
  SaveFailure failure;
  if (CheckSaveTarget(name, failure) && failure.KeptOld &&
      showWarning("The file " + ShownName(name) + " exists already. Replace it?") != kIdOk) {
    return;
  }
  view_.SetStatus("");
  if (Saveto(name)) {
    std::string shown = SavedText(WindowProcs(), ShownName(name));
    shown[0] = 'S';
    view_.SetStatus(shown);
  }
}

void TForm1::EndProgram(int code) {
  Ended = true;
  ExitCode = code;
  view_.Close();
}

void TForm1::SetEnabled(Ctl c, bool enabled) {
  controls_[static_cast<int>(c)].Enabled = enabled;
  view_.EnableControl(c, enabled);
}

void TForm1::Move(Ctl c, int left, int top, int width, int height) {
  ControlState& s = controls_[static_cast<int>(c)];
  s.Left = left;
  s.Top = top;
  s.Width = width;
  s.Height = height;
  view_.Place(c, left, top, width, height);
}

std::string VisibleText(std::string_view cp1252) {
  std::string out(cp1252);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return out;
}

}  // namespace torv
