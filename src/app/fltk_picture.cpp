// The window's picture: a processor in a ceramic pin-grid package, drawn with
// FLTK's primitives into a 100 x 79 area at the picture's top-left corner.
#include <FL/Fl_Box.H>
#include <FL/fl_draw.H>

#include "app/fltk_view.h"

namespace torv {

namespace {

class ProcessorPicture : public Fl_Box {
 public:
  ProcessorPicture(int x, int y, int w, int h) : Fl_Box(FL_NO_BOX, x, y, w, h, nullptr) {}

  void draw() override {
    constexpr int kW = 100, kH = 79;
    const int x0 = x(), y0 = y();
    fl_push_clip(x0, y0, kW, kH);
    const Fl_Color gold = fl_rgb_color(212, 175, 55);
    const Fl_Color ceramic = fl_rgb_color(58, 58, 66);
    const Fl_Color lid = fl_rgb_color(196, 198, 206);

    // The package.
    const int px = x0 + 14, py = y0 + 8, pw = 72, ph = 63;
    // Pins along the four edges.
    fl_color(gold);
    for (int yy = py + 4; yy <= py + ph - 6; yy += 5) {
      fl_rectf(px - 7, yy, 7, 2);
      fl_rectf(px + pw, yy, 7, 2);
    }
    for (int xx = px + 4; xx <= px + pw - 6; xx += 5) {
      fl_rectf(xx, py - 7, 2, 7);
      fl_rectf(xx, py + ph, 2, 7);
    }
    fl_color(ceramic);
    fl_rectf(px, py, pw, ph);
    fl_color(FL_BLACK);
    fl_rect(px, py, pw, ph);
    // Pin 1 mark.
    fl_color(FL_WHITE);
    fl_pie(px + 4, py + 4, 6, 6, 0, 360);
    // The heat spreader over the die, with a few bond lines to it.
    const int lx = px + 18, ly = py + 15, lw = 36, lh = 32;
    fl_color(gold);
    for (int k = 0; k < 4; ++k) {
      fl_line(px + 8 + 6 * k, py + ph - 6, lx + 4 + 9 * k, ly + lh);
      fl_line(px + 8 + 6 * k, py + 14, lx + 4 + 9 * k, ly);
    }
    fl_color(lid);
    fl_rectf(lx, ly, lw, lh);
    fl_color(fl_darker(lid));
    fl_rect(lx, ly, lw, lh);
    fl_color(ceramic);
    fl_font(FL_HELVETICA_BOLD, 12);
    fl_draw("P6", lx, ly, lw, lh, FL_ALIGN_CENTER);
    fl_pop_clip();
  }
};

}  // namespace

Fl_Widget* MakeProcessorPicture(int x, int y, int w, int h) {
  return new ProcessorPicture(x, y, w, h);
}

}  // namespace torv
