// Start of the program: the simulated machine, the language, then the window
// or, without a display (or with /CON), console mode.
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/world.h"
#include "platform/linux_platform.h"

#ifdef TORV_GUI
#include "app/fltk_view.h"
#endif

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  torv::LinuxPlatform platform;
  torv::World w(platform);
  torv::InitLanguage(w);
  const int early = torv::PrepareMachine(w, args, stdout, stderr);
  if (early >= 0) return early;
#ifdef TORV_GUI
  if (!torv::WantsConsole(args) && torv::OpenDisplay()) return torv::RunWindow(w, platform, args);
#endif
  return torv::RunConsole(w, args, stdout);
}
