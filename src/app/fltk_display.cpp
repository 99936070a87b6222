// Opening the X display before the window is made: without one the program
// runs in console mode instead of letting FLTK end it.
#include <FL/x.H>

#include <cstdlib>

#include "app/fltk_view.h"

namespace torv {

bool OpenDisplay() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return false;
  fl_open_display(d);
  return true;
}

}  // namespace torv
