// The program's start apart from the window: the help and version forms, the
// simulated machine chosen with /SIM=, the initial language, and console mode.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/world.h"

namespace torv {

inline constexpr int kExitBadMachine = 2;
inline constexpr int kExitOutputFailed = 1;

// Text for standard output with the first failure kept. Finish() flushes and
// gives the exit status: `status` when everything was written or when the
// reader closed the pipe (the output just ends), otherwise 1 after one line
// on `err` naming the reason.
class ConsoleOutput {
 public:
  // `closed`: the stream's descriptor was closed when the program started
  // (it now points at nothing), so every write counts as failed; a run that
  // writes nothing there (/SAVE) is not hurt by it.
  explicit ConsoleOutput(std::FILE* out, bool closed = false);
  void Write(std::string_view text);
  int Finish(int status, std::FILE* err);

 private:
  std::FILE* out_;
  bool closed_;
  int error_ = 0;
};

// The help forms (--help, -h, -?, /?, /H, /HELP) and --version, anywhere on
// the command line: the usage text or the version on `out`, status 0 (1 when
// it could not be written). Returns -1 when neither is given. Runs before
// anything else, so no analysis and no driver access happen.
int HandleInfoSwitches(const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err);

// "/SIM=" (any case) arguments pick a simulated machine before the driver is
// loaded: "/SIM=?" lists the catalogue on `out` and gives 0; an empty value, a
// name or profile file that cannot be used writes one line on `err` and gives
// 2. Returns -1 when the program is to go on (with w.machine set for a /SIM=).
int PrepareMachine(World& w, const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int PrepareMachine(World& w, const std::vector<std::string>& args, ConsoleOutput& out,
                   std::FILE* err);

// "/CON" (any case) asks for console mode even when a display is there.
bool WantsConsole(const std::vector<std::string>& args);

// The report language from the system's language, before any window exists.
void InitLanguage(World& w);

// Each argument that starts with "/" or "-" and is no switch, named in one
// line on `err`.
void NameIgnoredSwitches(const std::vector<std::string>& args, std::FILE* err);

// Start-up without a window: the analysis of processor 1 (or the /SAVE and
// /Q runs), then its report lines on `out` in UTF-8, control bytes shown as
// "?". Each ignored argument that starts with "/" or "-" is named on `err`
// first; the form's note on the report (a processor without register
// analysis) follows it there in one line. Returns the exit status.
int RunConsole(World& w, const std::vector<std::string>& args, std::FILE* out);
int RunConsole(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err);

}  // namespace torv
