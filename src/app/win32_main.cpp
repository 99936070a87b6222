// Start of the program on Windows: help and version, the simulated machine,
// the language, then the window or, with /CON, console mode.
//
// torvacin.exe is a console program, so that /CON writes to the terminal it
// was started from or to a pipe: Windows 95, 98 and NT 4.0 have no way for a
// window program to reach its parent's console. Started from Explorer the
// system gives it a console of its own; the window lets go of it at once, so
// that no empty console stays open beside the window.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/dump.h"
#include "app/shell.h"
#include "app/summary.h"
#include "app/win32_view.h"
#include "platform/win32_platform.h"
#include "app/world.h"

int main(int argc, char** argv) {
  // The report's bytes as they are: the C runtime's text mode would turn
  // every line end into CR LF, so that the output would differ from the
  // same run on Linux.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const std::vector<std::string> args(argv + 1, argv + argc);
  torv::ConsoleOutput out(stdout);
  const int info = torv::HandleInfoSwitches(args, out, stderr);
  if (info >= 0) return info;
  torv::Win32Platform platform;
  torv::World w(platform);
  torv::InitLanguage(w);
  // A summary of saved logs reads files only: it ends before any machine,
  // driver or helper is touched.
  if (const auto folder = torv::WantsSummary(args)) {
    return torv::RunSummary(w, args, *folder, out, stderr);
  }
  const int early = torv::PrepareMachine(w, args, out, stderr);
  if (early >= 0) return early;
  if (torv::WantsDump(args) != torv::DumpRequest::None) return torv::RunDump(w, args, out, stderr);
  if (!torv::WantsConsole(args)) {
    std::fflush(nullptr);
    FreeConsole();
    return torv::RunWindow(w, platform, args);
  }
  return torv::RunConsole(w, args, out, stderr);
}
