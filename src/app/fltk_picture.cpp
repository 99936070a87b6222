// The window's picture: a processor in a ceramic pin-grid package, drawn with
// FLTK's primitives into a 100 x 79 area at the picture's top-left corner;
// drawn once more off the screen, it is the windows' icon.
#include <FL/Fl_Box.H>
#include <FL/Fl_Device.H>
#include <FL/Fl_Image_Surface.H>
#include <FL/fl_draw.H>

#include <cstring>
#include <memory>

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

std::unique_ptr<Fl_RGB_Image> MakeProcessorIcon() {
  // The picture, drawn centred into a square on a key colour that then
  // becomes transparent.
  constexpr int kSize = 100;
  constexpr unsigned char kKey[3] = {255, 0, 255};
  std::unique_ptr<Fl_RGB_Image> drawn;
  {
    Fl_Image_Surface surface(kSize, kSize);
    surface.set_current();
    fl_color(fl_rgb_color(kKey[0], kKey[1], kKey[2]));
    fl_rectf(0, 0, kSize, kSize);
    ProcessorPicture picture(0, 0, 100, 79);
    surface.draw(&picture, 0, (kSize - 79) / 2);
    drawn.reset(surface.image());
    Fl_Display_Device::display_device()->set_current();
  }
  if (!drawn || drawn->d() < 3 || drawn->w() != kSize || drawn->h() != kSize) return nullptr;
  const int stride = drawn->ld() != 0 ? drawn->ld() : kSize * drawn->d();
  const auto* from = reinterpret_cast<const unsigned char*>(drawn->data()[0]);
  auto* rgba = new unsigned char[kSize * kSize * 4];
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const unsigned char* px = from + y * stride + x * drawn->d();
      unsigned char* to = rgba + (y * kSize + x) * 4;
      std::memcpy(to, px, 3);
      to[3] = std::memcmp(px, kKey, 3) == 0 ? 0 : 255;
    }
  }
  auto icon = std::make_unique<Fl_RGB_Image>(rgba, kSize, kSize, 4);
  icon->alloc_array = 1;  // the image frees its pixels
  return icon;
}

}  // namespace torv
