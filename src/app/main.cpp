// Start of the program: help and version, the simulated machine, the
// language, then the window or, without a display (or with /CON), console
// mode.
#include <csignal>
#include <string>
#include <vector>

#include "app/dump.h"
#include "app/shell.h"
#include "app/summary.h"
#include "platform/files.h"
#include "platform/linux_platform.h"
#include "platform/linux_signals.h"
#include "app/world.h"

#ifdef TORV_GUI
#include "app/fltk_view.h"
#endif

int main(int argc, char** argv) {
  // A closed standard descriptor is taken by /dev/null first, so that no
  // descriptor of the program's own becomes standard output.
  const unsigned closed = torv::ReserveStandardDescriptors();
  // Before anything can start a thread: the signals that end or stop the
  // program are blocked here, inherited by every thread, and taken by the
  // hub's own (see platform/linux_signals.h).
  torv::SignalHub signals;
  // A reader that closes the pipe makes writes fail with EPIPE instead of
  // ending the process; console output then just stops.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  torv::ConsoleOutput out(stdout, (closed & 2u) != 0);
  const int info = torv::HandleInfoSwitches(args, out, stderr);
  if (info >= 0) return info;
  torv::LinuxPlatform platform(&signals);
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
#ifdef TORV_GUI
  if (!torv::WantsConsole(args) && torv::OpenDisplay()) return torv::RunWindow(w, platform, args);
#endif
  return torv::RunConsole(w, args, out, stderr);
}
