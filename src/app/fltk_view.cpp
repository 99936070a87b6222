#include "app/fltk_view.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <unistd.h>

#include <array>
#include <memory>

#include "app/form.h"
#include "platform/linux_platform.h"
#include "report/language.h"
#include "app/world.h"

namespace torv {

namespace {

class FltkView;

// Modifier state of the current event in the form's terms.
unsigned ShiftState() {
  const int s = Fl::event_state();
  unsigned m = 0;
  if ((s & FL_SHIFT) != 0) m |= kShiftKey;
  if ((s & FL_ALT) != 0) m |= kAltKey;
  if ((s & FL_CTRL) != 0) m |= kCtrlKey;
  if ((s & FL_BUTTONS) != 0) m |= kMouseButton;
  return m;
}

// The current key as a virtual-key code: letters upper-case, Enter 13.
int VirtualKey() {
  const int k = Fl::event_key();
  if (k >= 'a' && k <= 'z') return k - 'a' + 'A';
  if (k == FL_Enter || k == FL_KP_Enter) return kKeyEnter;
  return k;
}

class MainWindow : public Fl_Double_Window {
 public:
  MainWindow(FltkView& view, int w, int h) : Fl_Double_Window(w, h), view_(view) {}
  int handle(int event) override;
  void resize(int x, int y, int w, int h) override;

 private:
  FltkView& view_;
};

// The hidden switch field: Enter applies the typed switches; Ctrl+D is the
// window's key even here.
class SwitchField : public Fl_Input {
 public:
  SwitchField(FltkView& view, int x, int y, int w, int h) : Fl_Input(x, y, w, h), view_(view) {}
  int handle(int event) override;

 private:
  FltkView& view_;
};

class FltkView : public FormView {
 public:
  FltkView();
  void Attach(TForm1* form) { form_ = form; }
  Fl_Double_Window& Window() { return *window_; }

  void SetCaption(std::string_view caption) override {
    window_->copy_label(Cp1252ToUtf8(caption).c_str());
  }
  void EnableControl(Ctl c, bool enabled) override {
    Fl_Widget* wd = Widget(c);
    if (enabled) {
      wd->activate();
    } else {
      wd->deactivate();
    }
  }
  void ShowEdit() override {
    edit_->show();
    edit_->take_focus();
  }
  std::string EditText() override { return Utf8ToCp1252(edit_->value()); }
  void Repaint() override;
  void Place(Ctl c, int left, int top, int width, int height) override {
    Widget(c)->resize(left, top, width, height);
    window_->redraw();
  }
  int WindowHeight() override { return window_->h(); }
  int WindowWidth() override { return window_->w(); }
  void Close() override { window_->hide(); }
  void SetStatus(std::string_view text) override {
    status_->copy_label(Cp1252ToUtf8(text).c_str());
    // A long line is cut at the window's edge; the tooltip holds it whole.
    status_->copy_tooltip(status_->label());
    status_->redraw();
  }

  // Events from the widgets.
  // True when the key was the one that opens the switch field.
  bool FormKey(int key, unsigned shift) {
    if (form_ == nullptr) return false;
    form_->OnFormKey(key, shift);
    return key == kKeyD && shift == kCtrlKey;
  }
  void Click(Ctl c);
  void EditKey(int key, unsigned shift) {
    if (form_ != nullptr) form_->OnEditKey(key, shift);
  }
  void Resized() {
    PlaceStatus();
    if (form_ != nullptr) form_->setPositions();
  }
  TForm1* Form() { return form_; }

 private:
  Fl_Widget* Widget(Ctl c) { return widgets_[static_cast<std::size_t>(c)]; }
  Fl_Button* AddButton(Ctl c, const char* label, int x, int y, int w, int h);
  // The status line: under the lower button row, from the "ok" button's left
  // edge to the window's right edge.
  void PlaceStatus() {
    const int left = 264;
    status_->resize(left, window_->h() - 30, window_->w() - left - 8, 20);
  }

  TForm1* form_ = nullptr;
  std::unique_ptr<MainWindow> window_;
  Fl_Browser* list_ = nullptr;
  SwitchField* edit_ = nullptr;
  Fl_Box* status_ = nullptr;
  std::array<Fl_Widget*, kControlCount> widgets_{};
};

int MainWindow::handle(int event) {
  // Keys the focused control did not take come here (key preview for the
  // list box and the buttons); the switch field passes Ctrl+D on itself.
  // A key that the focused widget does not take reaches the window as
  // FL_KEYBOARD (focus on the window) or FL_SHORTCUT (focus on a button).
  if ((event == FL_KEYBOARD || event == FL_SHORTCUT) && view_.FormKey(VirtualKey(), ShiftState())) {
    return 1;
  }
  return Fl_Double_Window::handle(event);
}

void MainWindow::resize(int x, int y, int w, int h) {
  const bool sized = w != this->w() || h != this->h();
  Fl_Double_Window::resize(x, y, w, h);
  if (sized) view_.Resized();
}

int SwitchField::handle(int event) {
  if (event == FL_KEYBOARD) {
    const int key = VirtualKey();
    const unsigned shift = ShiftState();
    if (key == kKeyD && shift == kCtrlKey) {
      view_.FormKey(key, shift);
      return 1;
    }
    if (key == kKeyEnter) {
      view_.EditKey(key, shift);
      return 1;
    }
  }
  return Fl_Input::handle(event);
}

FltkView::FltkView() : window_(std::make_unique<MainWindow>(*this, kFormWidth, kFormHeight)) {
  window_->begin();
  list_ = new Fl_Browser(0, 0, 640, 303);
  list_->type(FL_NORMAL_BROWSER);  // no selection: the list raises no events of its own
  list_->textfont(FL_COURIER);
  list_->textsize(12);
  list_->color(FL_WHITE);
  widgets_[static_cast<std::size_t>(Ctl::ListBox1)] = list_;

  widgets_[static_cast<std::size_t>(Ctl::Image1)] = MakeProcessorPicture(24, 320, 161, 129);

  Fl_Button* ok = AddButton(Ctl::okButton, "ok", 264, 376, 89, 25);
  ok->labelfont(FL_HELVETICA_BOLD);
  AddButton(Ctl::sDetails, "Details", 368, 376, 113, 25);
  AddButton(Ctl::Proc1, "Proc1", 272, 320, 73, 25);
  AddButton(Ctl::Proc2, "Proc2", 360, 320, 73, 25);
  AddButton(Ctl::Proc3, "Proc3", 448, 320, 75, 25);
  AddButton(Ctl::Proc4, "Proc4", 536, 320, 75, 25);
  AddButton(Ctl::save, "Save", 544, 376, 59, 25);

  edit_ = new SwitchField(*this, 136, 352, 121, 21);
  edit_->textfont(FL_HELVETICA);
  edit_->textsize(12);
  edit_->hide();
  widgets_[static_cast<std::size_t>(Ctl::Edit1)] = edit_;

  status_ = new Fl_Box(0, 0, 0, 0);
  status_->box(FL_NO_BOX);
  status_->labelsize(12);
  status_->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
  PlaceStatus();
  window_->end();

  // Resizable, with the layout done by the form on every change of size.
  window_->resizable(nullptr);
  window_->size_range(kFormMinWidth, kFormMinHeight);
  window_->callback(
      [](Fl_Widget*, void* data) {
        // Escape does not close the window; the close box ends the program as "ok" does.
        if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
        auto* view = static_cast<FltkView*>(data);
        if (view->Form() != nullptr) {
          view->Form()->okexit();
        } else {
          view->Close();
        }
      },
      this);
}

Fl_Button* FltkView::AddButton(Ctl c, const char* label, int x, int y, int w, int h) {
  auto* b = new Fl_Button(x, y, w, h, label);
  b->labelsize(12);
  // The button's control travels in its user data, the view in the window's.
  b->callback(
      [](Fl_Widget* wd, long control) {
        auto* view = static_cast<FltkView*>(wd->window()->user_data());
        if (view != nullptr) view->Click(static_cast<Ctl>(control));
      },
      static_cast<long>(c));
  widgets_[static_cast<std::size_t>(c)] = b;
  return b;
}

void FltkView::Click(Ctl c) {
  if (form_ != nullptr) form_->OnClick(c);
}

void FltkView::Repaint() {
  if (form_ == nullptr) return;
  list_->clear();
  // "@." shows the rest of a line as it is, whatever characters it holds; an
  // empty line gets a blank so that it keeps the height of a text line.
  for (const std::string& line : form_->ListBox1.Items) {
    list_->add(
        ("@." + (line.empty() ? std::string(" ") : Cp1252ToUtf8(VisibleText(line)))).c_str());
  }
  // The note on the report, after a blank line and in another colour: it is
  // not part of the report.
  if (!form_->Note().empty()) {
    list_->add(" ");
    for (const std::string& line : form_->Note()) {
      list_->add(("@C" + std::to_string(FL_DARK_BLUE) + "@. " + line).c_str());
    }
  }
  list_->redraw();
}

// Message boxes of the window: "Error" with OK and an error icon, "Warning"
// with OK and Cancel and a warning icon. In a warning, Cancel is the default
// button: Return and Escape answer Cancel, since OK confirms a risky step
// (forcing ECC on, replacing a file); OK needs a click or Tab and Space.
class FltkBoxPresenter : public BoxPresenter {
 public:
  int Show(std::string_view title, std::string_view text, BoxButtons buttons) override {
    const std::string t = Cp1252ToUtf8(title);
    const std::string m = Cp1252ToUtf8(text);
    const bool question = buttons == BoxButtons::OkCancel;
    Fl_Window box(420, 130);
    box.copy_label(t.c_str());
    box.begin();
    // The window owns its widgets and deletes them with itself.
    auto* icon = new Fl_Box(12, 14, 44, 44, question ? "!" : "X");
    icon->box(question ? FL_ROUND_UP_BOX : FL_OVAL_BOX);
    icon->color(question ? FL_YELLOW : FL_RED);
    icon->labelcolor(question ? FL_BLACK : FL_WHITE);
    icon->labelfont(FL_HELVETICA_BOLD);
    icon->labelsize(30);
    auto* message = new Fl_Box(68, 10, 340, 74);
    message->copy_label(m.c_str());
    message->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    message->labelsize(13);
    int answer = question ? kIdCancel : kIdOk;
    auto set = [](Fl_Widget* w, void* value) {
      *static_cast<int*>(w->window()->user_data()) =
          static_cast<int>(reinterpret_cast<long>(value));
      w->window()->hide();
    };
    Fl_Return_Button* defaultButton = nullptr;
    if (question) {
      auto* ok = new Fl_Button(228, 94, 84, 26, "OK");
      ok->callback(set, reinterpret_cast<void*>(static_cast<long>(kIdOk)));
      defaultButton = new Fl_Return_Button(324, 94, 84, 26, "Cancel");
      defaultButton->callback(set, reinterpret_cast<void*>(static_cast<long>(kIdCancel)));
    } else {
      defaultButton = new Fl_Return_Button(324, 94, 84, 26, "OK");
      defaultButton->callback(set, reinterpret_cast<void*>(static_cast<long>(kIdOk)));
    }
    box.end();
    box.user_data(&answer);
    // Escape and the close box leave the box with its default answer.
    box.callback([](Fl_Widget* w, void*) { w->hide(); });
    box.set_modal();
    box.show();
    defaultButton->take_focus();
    while (box.shown()) Fl::wait();
    return answer;
  }
};

bool RunSaveDialog(std::string& name) {
  Fl_Native_File_Chooser chooser;
  chooser.type(Fl_Native_File_Chooser::BROWSE_SAVE_FILE);
  chooser.title("Save report");
  // The name is offered in the current folder, where /SAVE writes it too.
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) != nullptr) chooser.directory(cwd);
  chooser.preset_file(name.c_str());
  // No confirmation here: the form asks before it replaces a file.
  chooser.options(Fl_Native_File_Chooser::NO_OPTIONS);
  if (chooser.show() != 0) return false;  // cancelled or failed
  const char* chosen = chooser.filename();
  if (chosen == nullptr || *chosen == '\0') return false;
  name = chosen;
  return true;
}

}  // namespace

int RunWindow(World& w, LinuxPlatform& platform, const std::vector<std::string>& args) {
  // Every window of the program (the main window, its boxes, the file
  // chooser) carries the class of the desktop entry's StartupWMClass and the
  // program's icon, so that a taskbar groups it under the entry.
  Fl_Window::default_xclass("torvacin");
  const std::unique_ptr<Fl_RGB_Image> icon = MakeProcessorIcon();
  if (icon) Fl_Window::default_icon(icon.get());
  FltkBoxPresenter boxes;
  platform.SetPresenter(&boxes);
  platform.SetSaveDialog(RunSaveDialog);
  FltkView view;
  TForm1 form(w, view);
  view.Attach(&form);
  form.formcreate(args);
  if (!form.Ended) {
    view.Window().show();
    Fl::run();
  }
  form.formDestroy();
  platform.SetPresenter(nullptr);
  platform.SetSaveDialog(nullptr);
  return form.ExitCode;
}

}  // namespace torv
