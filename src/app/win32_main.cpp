// Start of the program on Windows: help and version, the simulated machine,
// the language, then the window or, with /CON, console mode.
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/win32_view.h"
#include "platform/win32_platform.h"
#include "world.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  torv::ConsoleOutput out(stdout);
  const int info = torv::HandleInfoSwitches(args, out, stderr);
  if (info >= 0) return info;
  torv::Win32Platform platform;
  torv::World w(platform);
  torv::InitLanguage(w);
  const int early = torv::PrepareMachine(w, args, out, stderr);
  if (early >= 0) return early;
  if (!torv::WantsConsole(args)) return torv::RunWindow(w, platform, args);
  return torv::RunConsole(w, args, out, stderr);
}
