// The main window's logic: start-up, the analysis run on one processor, the
// hidden switch field, Details, the layout and saving. The controller owns the
// state of every control; a view (the FLTK window, the console, a test fake)
// mirrors it and reports the user's actions back through the handlers.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "report/language.h"
#include "app/world.h"

namespace torv {

enum class Ctl : int {
  ListBox1,
  Image1,
  okButton,
  sDetails,
  Proc1,
  Proc2,
  Proc3,
  Proc4,
  save,
  Edit1,
};
inline constexpr int kControlCount = 10;

struct ControlState {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Enabled = true;
  bool Visible = true;
};

// Modifier keys held with a key press.
enum : unsigned {
  kShiftKey = 1,
  kAltKey = 2,
  kCtrlKey = 4,
  kMouseButton = 8,
};
inline constexpr int kKeyD = 0x44;
inline constexpr int kKeyEnter = 13;

// Window design size.
inline constexpr int kFormWidth = 640;
inline constexpr int kFormHeight = 444;
// The smallest window that shows every button whole: the processor row ends
// at 611 pixels, and the list box keeps a few lines above the two button rows.
inline constexpr int kFormMinWidth = 620;
inline constexpr int kFormMinHeight = 240;

// What the controller asks of the window. Texts are code page 1252.
class FormView {
 public:
  virtual ~FormView() = default;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual void EnableControl(Ctl c, bool enabled) = 0;
  // Makes the switch field visible and gives it the focus.
  virtual void ShowEdit() = 0;
  virtual std::string EditText() = 0;
  // The list box's lines changed.
  virtual void Repaint() = 0;
  virtual void Place(Ctl c, int left, int top, int width, int height) = 0;
  virtual int WindowHeight() = 0;
  virtual int WindowWidth() { return kFormWidth; }
  // Ends the window's message loop (the program ends afterwards).
  virtual void Close() = 0;
  // A line under the buttons that says what the last action did ("Saved 2
  // reports to ..."); not part of the report. A view without one ignores it.
  virtual void SetStatus(std::string_view) {}
};

// The analysis steps a run is built from; tests may replace them to drive
// exit codes and report contents.
struct AnalysisSteps {
  std::function<std::uint32_t(World&, std::int32_t)> Worker;
  std::function<bool(World&, int)> Report;
  std::function<void(World&)> Details;
};
AnalysisSteps DefaultAnalysisSteps();

// The processors the window, the ECC settings and the saved log cover.
inline constexpr int kMaxWindowProcs = 4;
inline constexpr const char* kLogFileName = "torvacin.log";
// Exit status of a console run, /SAVE or /Q when an analysis or an ECC pass
// ended early: a cache transaction or a cache configuration read failed.
inline constexpr int kExitIncomplete = 4;
// Exit status of a console run, /SAVE or /Q when a processor could not be
// analysed at all: its analysis thread could not start (memory exhausted), or
// the processor could not be reached. It outranks kExitIncomplete.
inline constexpr int kExitNotAnalysed = 3;

class TForm1 {
 public:
  TForm1(World& w, FormView& view, AnalysisSteps steps = DefaultAnalysisSteps());

  // Handlers.
  void formcreate(const std::vector<std::string>& args);
  void InitDrv();
  void RunTest();
  bool TestProc(std::int32_t arg);
  void Details();
  void OnFormKey(int key, unsigned shift);
  void OnEditKey(int key, unsigned shift);
  void setPositions();
  void Proc1Click() { ProcClick(1); }
  void Proc2Click() { ProcClick(2); }
  void Proc3Click() { ProcClick(3); }
  void Proc4Click() { ProcClick(4); }
  void okexit();
  void formDestroy();
  void Showerror(std::string_view text);
  int showWarning(std::string_view text);
  // Writes the reports of all processors to fileName; false (after an
  // "Error" box naming the file and the reason) when a file operation failed.
  // A target that is not a regular file is refused before anything runs; the
  // log replaces the target in one step, so a failure leaves an earlier file
  // as it was.
  bool Saveto(std::string_view fileName);
  // Asks for a file name, which is used whole; an existing file is replaced
  // only after "OK". A save that worked says so in the status line.
  void saveClick();
  // A press of button `c`: the handler above that belongs to it; the switch
  // field and the list box have none.
  void OnClick(Ctl c);

  const ControlState& Control(Ctl c) const { return controls_[static_cast<int>(c)]; }
  const std::string& Caption() const { return caption_; }
  // Lines about the report, outside it: after the start-up's analysis of a
  // processor that gets no register analysis, what the report holds and how
  // to see a full analysis. The window shows them below the report's lines,
  // console mode on standard error after the report; they are never saved,
  // and the next analysis clears them. Empty when there is nothing to say.
  const std::vector<std::string>& Note() const { return note_; }

  ListBox ListBox1;
  // The file system calls of saving (tests make one of them fail).
  SaveCalls FileCalls = SystemSaveCalls();
  // Set when the program is to end (from start-up, /SAVE, /Q, a failed
  // driver start or "ok"); main exits with ExitCode.
  bool Ended = false;
  int ExitCode = 0;
  // Set when an analysis or ECC pass of the last RunTest ended early.
  bool Incomplete = false;
  // Set when a processor of the last RunTest could not be analysed at all:
  // no analysis thread, or the processor could not be reached.
  bool NotAnalysed = false;
  // The exit status of a console run, /SAVE or /Q that ended normally:
  // kExitNotAnalysed, kExitIncomplete or 0.
  int RunStatus() const;

 private:
  void ProcClick(int n);
  void CheckEccSwitches();
  bool SaveFailed(const std::string& name, const SaveFailure& failure);
  void EndProgram(int code);
  void SetEnabled(Ctl c, bool enabled);
  void Move(Ctl c, int left, int top, int width, int height);
  // Processors that the window's buttons, the ECC passes and saving cover.
  int WindowProcs() const;

  World& w_;
  FormView& view_;
  AnalysisSteps steps_;
  std::array<ControlState, kControlCount> controls_{};
  std::string caption_;
  bool bindsHost_ = true;
  bool destroyed_ = false;
  // The exit code of the last analysis's worker.
  std::uint32_t lastExit_ = 0;
  // Whether the start-up's analysis has run (the note is shown once).
  bool started_ = false;
  std::vector<std::string> note_;
};

// A view without a window, for console mode: it keeps the caption and
// ignores everything else.
class ConsoleView : public FormView {
 public:
  void SetCaption(std::string_view caption) override { Caption = std::string(caption); }
  void EnableControl(Ctl, bool) override {}
  void ShowEdit() override {}
  std::string EditText() override { return ""; }
  void Repaint() override {}
  void Place(Ctl, int, int, int, int) override {}
  int WindowHeight() override { return kFormHeight; }
  void Close() override {}

  std::string Caption;
};

// A report line as the terminal, the window and the saved log show it:
// control bytes (below 20h, and 7Fh) become "?", so that nothing from the
// machine or a profile can move the cursor, start an escape sequence, break
// the line or end it early; every other byte stays as it is (code page 1252).
std::string VisibleText(std::string_view cp1252);

}  // namespace torv
