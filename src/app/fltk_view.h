// The FLTK window of the program (built only with the GUI). Kept free of the
// program's other headers, since the X headers behind FLTK define macros
// (True, False) that clash with names of the message records.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Fl_RGB_Image;
class Fl_Widget;

namespace torv {

struct World;
class LinuxPlatform;

// Whether an X display can be opened; when it can, FLTK keeps the connection.
bool OpenDisplay();

// Runs start-up with the main window: the analysis before the window is
// shown, then the window's event loop. Returns the exit status.
int RunWindow(World& w, LinuxPlatform& platform, const std::vector<std::string>& args);

// The picture of the window: a processor in its package, 100 x 79 pixels.
Fl_Widget* MakeProcessorPicture(int x, int y, int w, int h);

// The same picture as the windows' icon: 100 x 100 pixels with a transparent
// surround. Needs the display; null when it could not be drawn.
std::unique_ptr<Fl_RGB_Image> MakeProcessorIcon();

}  // namespace torv
