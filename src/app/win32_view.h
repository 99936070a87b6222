// The window of the program in plain Win32: the same form and controller as
// on Linux, drawn with the system's own controls.
#pragma once

#include <string>
#include <vector>

namespace torv {

struct World;
class Win32Platform;

// Runs start-up with the main window: the analysis before the window is
// shown, then the window's message loop. Returns the exit status.
int RunWindow(World& w, Win32Platform& platform, const std::vector<std::string>& args);

}  // namespace torv
