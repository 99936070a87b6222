// The window's picture on Windows: a processor in a ceramic pin-grid package,
// drawn with GDI into a 100 x 79 area at the picture's top-left corner, the
// same drawing as the picture of the Linux window.
#include <windows.h>

#include "app/win32_picture.h"

namespace torv {

namespace {

void FillBox(HDC dc, int x, int y, int w, int h, COLORREF color) {
  const RECT r{x, y, x + w, y + h};
  HBRUSH brush = CreateSolidBrush(color);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void FrameBox(HDC dc, int x, int y, int w, int h, COLORREF color) {
  const RECT r{x, y, x + w, y + h};
  HBRUSH brush = CreateSolidBrush(color);
  FrameRect(dc, &r, brush);
  DeleteObject(brush);
}

void Line(HDC dc, int x1, int y1, int x2, int y2) {
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
}

void DrawProcessor(HDC dc) {
  constexpr int kW = 100, kH = 79;
  const COLORREF gold = RGB(212, 175, 55);
  const COLORREF ceramic = RGB(58, 58, 66);
  const COLORREF lid = RGB(196, 198, 206);
  const COLORREF lidEdge = RGB(131, 132, 138);
  HRGN clip = CreateRectRgn(0, 0, kW, kH);
  SelectClipRgn(dc, clip);

  // The package, with pins along the four edges.
  const int px = 14, py = 8, pw = 72, ph = 63;
  for (int yy = py + 4; yy <= py + ph - 6; yy += 5) {
    FillBox(dc, px - 7, yy, 7, 2, gold);
    FillBox(dc, px + pw, yy, 7, 2, gold);
  }
  for (int xx = px + 4; xx <= px + pw - 6; xx += 5) {
    FillBox(dc, xx, py - 7, 2, 7, gold);
    FillBox(dc, xx, py + ph, 2, 7, gold);
  }
  FillBox(dc, px, py, pw, ph, ceramic);
  FrameBox(dc, px, py, pw, ph, RGB(0, 0, 0));

  // Pin 1 mark.
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  HPEN whitePen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HGDIOBJ oldBrush = SelectObject(dc, white);
  HGDIOBJ oldPen = SelectObject(dc, whitePen);
  Ellipse(dc, px + 4, py + 4, px + 10, py + 10);

  // The heat spreader over the die, with a few bond lines to it.
  const int lx = px + 18, ly = py + 15, lw = 36, lh = 32;
  HPEN goldPen = CreatePen(PS_SOLID, 1, gold);
  SelectObject(dc, goldPen);
  for (int k = 0; k < 4; ++k) {
    Line(dc, px + 8 + 6 * k, py + ph - 6, lx + 4 + 9 * k, ly + lh);
    Line(dc, px + 8 + 6 * k, py + 14, lx + 4 + 9 * k, ly);
  }
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(white);
  DeleteObject(whitePen);
  DeleteObject(goldPen);
  FillBox(dc, lx, ly, lw, lh, lid);
  FrameBox(dc, lx, ly, lw, lh, lidEdge);

  HFONT font = CreateFontA(-12, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           VARIABLE_PITCH | FF_SWISS, "Arial");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ceramic);
  RECT text{lx, ly, lx + lw, ly + lh};
  DrawTextA(dc, "P6", 2, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, oldFont);
  DeleteObject(font);

  SelectClipRgn(dc, nullptr);
  DeleteObject(clip);
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    DrawProcessor(dc);
    EndPaint(hwnd, &ps);
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

const char* RegisterPictureClass(void* instance) {
  static constexpr char kClass[] = "TorvacinPicture";
  WNDCLASSA wc{};
  wc.lpfnWndProc = PictureProc;
  wc.hInstance = static_cast<HINSTANCE>(instance);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClass;
  // A second registration in the same process fails harmlessly.
  RegisterClassA(&wc);
  return kClass;
}

}  // namespace torv
