// The main window on Windows: the form's controls as the system's own list
// box, buttons and edit field, a thin view over the same controller as the
// Linux window. Report lines, captions and box texts are code page 1252; the
// ANSI calls take them as they are, which shows them right on a Western
// system (ANSI code page 1252), the systems the program's languages are for.
// No conversion to UTF-16 is made: Windows 95 and 98 have no wide list box.
#include "app/win32_view.h"

#include <windows.h>
#include <commdlg.h>

#include <array>
#include <string>

#include "app/form.h"
#include "app/win32_picture.h"
#include "platform/win32_platform.h"
#include "app/world.h"

namespace torv {

namespace {

// The window's class; tests find the window by it.
constexpr char kWindowClass[] = "TorvacinWindow";
// Control identifiers: kFirstId plus the control's number, clear of IDOK and
// IDCANCEL, which the dialog keys send.
constexpr int kFirstId = 100;

struct Design {
  Ctl C;
  const char* Class;
  const char* Text;
  DWORD Style;
  DWORD ExStyle;
  int Left, Top, Width, Height;
};

constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

// The controls at design size, in the order of Ctl. The list box selects
// nothing and raises no events; its height follows the window exactly.
constexpr std::array<Design, kControlCount> kControls{{
    {Ctl::ListBox1, "LISTBOX", "",
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_HASSTRINGS | LBS_NOSEL |
         LBS_NOINTEGRALHEIGHT,
     WS_EX_CLIENTEDGE, 0, 0, 640, 303},
    {Ctl::Image1, nullptr, "", WS_CHILD | WS_VISIBLE, 0, 24, 320, 161, 129},
    {Ctl::okButton, "BUTTON", "ok", kButton, 0, 264, 376, 89, 25},
    {Ctl::sDetails, "BUTTON", "Details", kButton, 0, 368, 376, 113, 25},
    {Ctl::Proc1, "BUTTON", "Proc1", kButton, 0, 272, 320, 73, 25},
    {Ctl::Proc2, "BUTTON", "Proc2", kButton, 0, 360, 320, 73, 25},
    {Ctl::Proc3, "BUTTON", "Proc3", kButton, 0, 448, 320, 75, 25},
    {Ctl::Proc4, "BUTTON", "Proc4", kButton, 0, 536, 320, 75, 25},
    {Ctl::save, "BUTTON", "Save", kButton, 0, 544, 376, 59, 25},
    // The hidden switch field.
    {Ctl::Edit1, "EDIT", "", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 136, 352,
     121, 21},
}};

constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// The outer size of a window whose client area is `width` x `height`.
SIZE OuterSize(int width, int height) {
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, kWindowStyle, FALSE, 0);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// Modifier state of the key being handled, in the form's terms.
unsigned ShiftState() {
  auto down = [](int vk) { return (GetKeyState(vk) & 0x8000) != 0; };
  unsigned m = 0;
  if (down(VK_SHIFT)) m |= kShiftKey;
  if (down(VK_MENU)) m |= kAltKey;
  if (down(VK_CONTROL)) m |= kCtrlKey;
  if (down(VK_LBUTTON) || down(VK_RBUTTON) || down(VK_MBUTTON)) m |= kMouseButton;
  return m;
}

HFONT MakeFont(int height, int weight, DWORD pitchAndFamily, const char* face) {
  return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitchAndFamily,
                     face);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

class Win32View : public FormView {
 public:
  explicit Win32View(HINSTANCE instance);
  ~Win32View() override;
  Win32View(const Win32View&) = delete;
  Win32View& operator=(const Win32View&) = delete;

  void Attach(TForm1* form) { form_ = form; }
  HWND Window() const { return window_; }
  bool Created() const { return window_ != nullptr; }

  void SetCaption(std::string_view caption) override {
    SetWindowTextA(window_, std::string(caption).c_str());
  }
  void EnableControl(Ctl c, bool enabled) override {
    HWND h = Control(c);
    // A control that loses its input keeps no focus: the keys go to the list.
    if (!enabled && GetFocus() == h) SetFocus(Control(Ctl::ListBox1));
    EnableWindow(h, enabled ? TRUE : FALSE);
  }
  void ShowEdit() override {
    HWND edit = Control(Ctl::Edit1);
    ShowWindow(edit, SW_SHOW);
    SetFocus(edit);
  }
  std::string EditText() override {
    HWND edit = Control(Ctl::Edit1);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
    return text;
  }
  void Repaint() override;
  void Place(Ctl c, int left, int top, int width, int height) override {
    MoveWindow(Control(c), left, top, width, height, TRUE);
  }
  int WindowHeight() override { return ClientSize().bottom; }
  int WindowWidth() override { return ClientSize().right; }
  void Close() override {
    if (window_ != nullptr) DestroyWindow(window_);
  }

  // Runs the message loop until the window is gone.
  void Run();
  LRESULT Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  HWND Control(Ctl c) const { return controls_[static_cast<std::size_t>(c)]; }
  RECT ClientSize() const {
    RECT r{0, 0, 0, 0};
    if (window_ != nullptr) GetClientRect(window_, &r);
    return r;
  }
  void Click(int id);
  // Keys seen before the focused control gets them; true when taken.
  bool PreviewKey(const MSG& msg);

  TForm1* form_ = nullptr;
  HINSTANCE instance_;
  HWND window_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  HFONT listFont_ = nullptr;
  HFONT textFont_ = nullptr;
  HFONT boldFont_ = nullptr;
};

Win32View::Win32View(HINSTANCE instance) : instance_(instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassA(&wc);
  const char* pictureClass = RegisterPictureClass(instance);

  // The report in a fixed-pitch font, 80 columns within the list's width;
  // the buttons in the dialog font, "ok" in bold.
  listFont_ = MakeFont(-12, FW_NORMAL, FIXED_PITCH | FF_MODERN, "Courier New");
  textFont_ = MakeFont(-11, FW_NORMAL, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");
  boldFont_ = MakeFont(-11, FW_BOLD, VARIABLE_PITCH | FF_SWISS, "MS Sans Serif");

  const SIZE outer = OuterSize(kFormWidth, kFormHeight);
  window_ = CreateWindowExA(0, kWindowClass, "", kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.cx, outer.cy, nullptr, nullptr, instance, this);
  if (window_ == nullptr) return;
  for (const Design& d : kControls) {
    const auto index = static_cast<std::size_t>(d.C);
    HWND h = CreateWindowExA(d.ExStyle, d.Class != nullptr ? d.Class : pictureClass, d.Text,
                             d.Style, d.Left, d.Top, d.Width, d.Height, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + index)),
                             instance, nullptr);
    HFONT font = d.C == Ctl::ListBox1 ? listFont_ : d.C == Ctl::okButton ? boldFont_ : textFont_;
    SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    controls_[index] = h;
  }
}

Win32View::~Win32View() {
  if (window_ != nullptr) DestroyWindow(window_);
  DeleteObject(listFont_);
  DeleteObject(textFont_);
  DeleteObject(boldFont_);
}

void Win32View::Repaint() {
  if (form_ == nullptr) return;
  HWND list = Control(Ctl::ListBox1);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LB_RESETCONTENT, 0, 0);
  // The widest line sets how far the list scrolls sideways.
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, listFont_);
  LONG widest = 0;
  for (const std::string& line : form_->ListBox1.Items) {
    const std::string text = VisibleText(line);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SIZE size{0, 0};
    if (GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size) &&
        size.cx > widest) {
      widest = size.cx;
    }
  }
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 4), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void Win32View::Click(int id) {
  if (form_ != nullptr) form_->OnClick(static_cast<Ctl>(id - kFirstId));
}

bool Win32View::PreviewKey(const MSG& msg) {
  if (form_ == nullptr || window_ == nullptr) return false;
  if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
  if (msg.hwnd != window_ && !IsChild(window_, msg.hwnd)) return false;
  const int key = static_cast<int>(msg.wParam);
  const unsigned shift = ShiftState();
  // Enter in the switch field applies the typed switches. The field acts on
  // the key going down, so that the release of an Enter that closed a message
  // box does not apply the switches once more.
  if (msg.hwnd == Control(Ctl::Edit1) && key == VK_RETURN) {
    form_->OnEditKey(kKeyEnter, shift);
    return true;
  }
  form_->OnFormKey(key, shift);
  return key == kKeyD && shift == kCtrlKey;
}

void Win32View::Run() {
  SetFocus(Control(Ctl::ListBox1));
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (PreviewKey(msg)) continue;
    // Tab moves between the controls, Space and Enter press a button.
    if (window_ != nullptr && IsDialogMessageA(window_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

LRESULT Win32View::Handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wp) == BN_CLICKED && LOWORD(wp) >= kFirstId) Click(LOWORD(wp));
      return 0;
    case WM_SIZE:
      if (wp != SIZE_MINIMIZED && form_ != nullptr) form_->setPositions();
      return 0;
    case WM_GETMINMAXINFO: {
      const SIZE least = OuterSize(kFormMinWidth, kFormMinHeight);
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      info->ptMinTrackSize.x = least.cx;
      info->ptMinTrackSize.y = least.cy;
      return 0;
    }
    case WM_CLOSE:
      // The close box ends the program as "ok" does.
      if (form_ != nullptr) {
        form_->okexit();
      } else {
        DestroyWindow(hwnd);
      }
      return 0;
    case WM_ENDSESSION:
      // The session ends (logging off, shutting down) and the system ends
      // the program after this message: the driver's service goes now.
      if (wp != FALSE && form_ != nullptr) form_->formDestroy();
      return 0;
    case WM_DESTROY:
      window_ = nullptr;
      controls_.fill(nullptr);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wp, lp);
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* view = reinterpret_cast<Win32View*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcA(hwnd, msg, wp, lp);
  return view->Handle(hwnd, msg, wp, lp);
}

// Message boxes of the window, owned by it: "Error" with OK and an error
// icon, "Warning" with OK and Cancel and a warning icon, where Cancel is the
// default button since OK confirms a risky step (forcing ECC on, replacing a
// file). A box that cannot be shown answers OK to an error and Cancel to a
// warning.
class Win32BoxPresenter : public BoxPresenter {
 public:
  explicit Win32BoxPresenter(const Win32View& view) : view_(view) {}
  int Show(std::string_view title, std::string_view text, BoxButtons buttons) override {
    const bool question = buttons == BoxButtons::OkCancel;
    HWND owner = view_.Window();
    UINT style = question ? MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2 : MB_OK | MB_ICONERROR;
    // Without its window (gone at the end) the box still blocks the program.
    if (owner == nullptr) style |= MB_TASKMODAL;
    const int answer =
        MessageBoxA(owner, std::string(text).c_str(), std::string(title).c_str(), style);
    if (question) return answer == IDOK ? kIdOk : kIdCancel;
    return kIdOk;
  }

 private:
  const Win32View& view_;
};

// The save dialog, offering `name` in the current folder. The name comes
// back in the system's ANSI code page, the form the file calls take. No
// question about replacing here: the form asks itself.
bool RunSaveDialog(HWND owner, std::string& name) {
  // Room for any name the dialog takes: a name the file calls refuse later
  // ends in the form's "Error" box, never cut to fit here.
  static constexpr DWORD kNameRoom = 4096;
  std::string file(kNameRoom, '\0');
  name.copy(file.data(), kNameRoom - 1);
  char folder[MAX_PATH] = {};
  const DWORD folderLen = GetCurrentDirectoryA(sizeof folder, folder);
  OPENFILENAMEA ofn{};
  // The size Windows 95 and NT 4.0 know: the larger record of later systems
  // makes their dialog fail.
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = "Log files (*.log)\0*.log\0All files (*.*)\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = kNameRoom;
  ofn.lpstrInitialDir = folderLen > 0 && folderLen < sizeof folder ? folder : nullptr;
  ofn.lpstrDefExt = "log";
  // The dialog leaves the current folder as it was: /SAVE and later
  // relative names keep meaning the same folder.
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameA(&ofn)) {
    // Cancelled (no error), or the dialog failed: that is said, not passed over.
    const DWORD error = CommDlgExtendedError();
    if (error != 0) {
      const std::string text =
          error == FNERR_BUFFERTOOSMALL
              ? std::string("Cannot save: the chosen file name is too long")
              : "Cannot save: the save dialog failed (error " + std::to_string(error) + ")";
      MessageBoxA(owner, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    }
    return false;
  }
  if (file[0] == '\0') return false;
  name = file.c_str();
  return true;
}

}  // namespace

int RunWindow(World& w, Win32Platform& platform, const std::vector<std::string>& args) {
  Win32View view(GetModuleHandleA(nullptr));
  if (!view.Created()) {
    platform.ErrorLine("torvacin: the window could not be created");
    return 1;
  }
  Win32BoxPresenter boxes(view);
  platform.SetPresenter(&boxes);
  platform.SetSaveDialog([&view](std::string& name) { return RunSaveDialog(view.Window(), name); });
  TForm1 form(w, view);
  view.Attach(&form);
  form.formcreate(args);
  if (!form.Ended) {
    ShowWindow(view.Window(), SW_SHOWDEFAULT);
    UpdateWindow(view.Window());
    view.Run();
  } else {
    // The window was closed during start-up: its quit message would end the
    // first box that the driver's unloading might still show.
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
  view.Attach(nullptr);
  form.formDestroy();
  platform.SetPresenter(nullptr);
  platform.SetSaveDialog(nullptr);
  return form.ExitCode;
}

}  // namespace torv
