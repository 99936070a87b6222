// Drives the running Windows program's main window from outside, as a user
// would, through window messages: finds the window by its class, reads the
// list box, presses buttons, answers the save dialog and the message boxes,
// and types Ctrl+D and switches into the hidden field. Prints one line per
// check ("ok: ..." or "FAILED: ..."); the exit status is the number of
// failed checks (capped at 100). Every wait has a time limit.
//
//   window_probe session <report log> <German report log>
//       the whole session on a single-processor machine, in the program's
//       working folder: <report log> is what /SAVE wrote for the same
//       machine, <German report log> what "/GR /SAVE" wrote
//   window_probe closebox
//       waits for the window and closes it with its close box
//   window_probe wait
//       waits until the window is shown
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr char kWindowClass[] = "TorvacinWindow";
constexpr DWORD kWaitMs = 30000;

int failures = 0;

void Check(bool good, const std::string& what) {
  std::printf("%s: %s\n", good ? "ok" : "FAILED", what.c_str());
  std::fflush(stdout);
  if (!good) ++failures;
}

// Polls `done` every 50 ms until it holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& done, DWORD ms = kWaitMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
  return true;
}

std::string TextOf(HWND h) {
  char buf[1024] = {};
  // WM_GETTEXT with a timeout: a window busy in an analysis does not hang us.
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutA(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf),
                           SMTO_ABORTIFHUNG, 5000, &len)) {
    return "";
  }
  return std::string(buf, len);
}

std::string ClassOf(HWND h) {
  char buf[256] = {};
  const int n = GetClassNameA(h, buf, sizeof buf);
  return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return out;
}

HWND ChildOf(HWND parent, const std::string& cls, const std::string& text = "") {
  for (HWND h : Children(parent)) {
    if (_stricmp(ClassOf(h).c_str(), cls.c_str()) == 0 && (text.empty() || TextOf(h) == text)) {
      return h;
    }
  }
  return nullptr;
}

// A top-level window of process `pid` with the class and title given
// (any title when empty).
HWND TopWindow(DWORD pid, const std::string& cls, const std::string& title) {
  struct Search {
    DWORD Pid;
    std::string Cls, Title;
    HWND Found;
  } s{pid, cls, title, nullptr};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == s->Pid && IsWindowVisible(h) && ClassOf(h) == s->Cls &&
            (s->Title.empty() || TextOf(h) == s->Title)) {
          s->Found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.Found;
}

HWND WaitWindow() {
  HWND w = nullptr;
  WaitFor([&] {
    w = FindWindowA(kWindowClass, nullptr);
    return w != nullptr && IsWindowVisible(w);
  });
  return w;
}

// The list box's lines as code-page-1252 bytes. The lines are read as
// UTF-16 and converted: Wine answers the ANSI LB_GETTEXT of another process
// with the wide text.
std::vector<std::string> ListLines(HWND list) {
  std::vector<std::string> lines;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count)) return lines;
  for (DWORD_PTR i = 0; i < count; ++i) {
    DWORD_PTR len = 0;
    SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &len);
    std::wstring wide(len + 16, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()),
                        SMTO_ABORTIFHUNG, 5000, &got);
    wide.resize(got == static_cast<DWORD_PTR>(LB_ERR) || got > len ? 0 : got);
    std::string line(wide.size() * 2 + 1, '\0');
    const int n = wide.empty() ? 0
                               : WideCharToMultiByte(1252, 0, wide.data(), static_cast<int>(wide.size()),
                                                     line.data(), static_cast<int>(line.size()),
                                                     nullptr, nullptr);
    line.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    lines.push_back(line);
  }
  return lines;
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a saved log (CR LF after each).
std::vector<std::string> LogLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(bytes.substr(start, end - start));
  }
  return lines;
}

bool IsPrefix(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
  if (part.size() > whole.size()) return false;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] != whole[i]) return false;
  }
  return true;
}

std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return "line " + std::to_string(i + 1) + ": \"" + a[i] + "\" vs \"" + b[i] + "\"";
  }
  return std::to_string(a.size()) + " vs " + std::to_string(b.size()) + " lines";
}

std::string CurrentFolder() {
  char buf[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof buf, buf);
  return buf;
}

void Press(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

// Waits for a message box of the program, checks its text and answers it.
void AnswerBox(DWORD pid, const std::string& title, const std::string& text, int answer) {
  HWND box = nullptr;
  WaitFor([&] { return (box = TopWindow(pid, "#32770", title)) != nullptr; });
  Check(box != nullptr, "a box titled \"" + title + "\" appears");
  if (box == nullptr) return;
  // The box's text is its static control 0xFFFF.
  const std::string shown = TextOf(GetDlgItem(box, 0xFFFF));
  Check(shown == text, "the box says \"" + text + "\" (shown: \"" + shown + "\")");
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
  Check(WaitFor([&] { return !IsWindow(box); }, 10000), "the box closes");
}

// Answers the save dialog with `name`.
bool AnswerSaveDialog(DWORD pid, const std::string& name) {
  HWND dlg = nullptr;
  WaitFor([&] { return (dlg = TopWindow(pid, "#32770", "")) != nullptr; });
  if (dlg == nullptr) return false;
  // The name field: cmb13 (a combo box with an edit) on newer systems, edt1
  // on the older dialog.
  HWND field = GetDlgItem(dlg, 0x47C);
  if (field == nullptr) field = GetDlgItem(dlg, 0x480);
  if (field == nullptr) return false;
  SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(name.c_str()));
  PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
  return WaitFor([&] { return !IsWindow(dlg); }, 10000);
}

// Keys as the keyboard gives them, to the window in the foreground.
void Keys(HWND window, const std::vector<WORD>& down) {
  SetForegroundWindow(window);
  std::vector<INPUT> in;
  for (WORD vk : down) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    in.push_back(i);
  }
  for (auto it = down.rbegin(); it != down.rend(); ++it) {
    INPUT i{};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = *it;
    i.ki.dwFlags = KEYEVENTF_KEYUP;
    in.push_back(i);
  }
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

int Session(const std::string& reportLog, const std::string& germanLog) {
  HWND w = WaitWindow();
  Check(w != nullptr, "the window of class TorvacinWindow is shown");
  if (w == nullptr) return 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  Check(TextOf(w).rfind("Torvacin V 1.6 Win", 0) == 0, "caption \"" + TextOf(w) + "\"");

  // The seven buttons; one processor: Proc2 to Proc4 disabled.
  HWND buttons[7] = {};
  const char* names[7] = {"ok", "Details", "Proc1", "Proc2", "Proc3", "Proc4", "Save"};
  bool all = true;
  for (int i = 0; i < 7; ++i) {
    buttons[i] = ChildOf(w, "Button", names[i]);
    all = all && buttons[i] != nullptr;
  }
  Check(all, "the seven buttons ok, Details, Proc1-Proc4, Save");
  if (!all) return 1;
  Check(IsWindowEnabled(buttons[0]) && IsWindowEnabled(buttons[1]) && IsWindowEnabled(buttons[2]) &&
            !IsWindowEnabled(buttons[3]) && !IsWindowEnabled(buttons[4]) &&
            !IsWindowEnabled(buttons[5]) && IsWindowEnabled(buttons[6]),
        "one processor: Proc2-Proc4 disabled, the others enabled");
  HWND list = ChildOf(w, "ListBox");
  HWND edit = ChildOf(w, "Edit");
  Check(list != nullptr && edit != nullptr && !IsWindowVisible(edit),
        "a list box and a hidden switch field");
  if (list == nullptr || edit == nullptr) return 1;

  // The first report: the saved log begins with it (the log adds Details).
  const std::vector<std::string> log = LogLines(FileBytes(reportLog));
  const std::vector<std::string> german = LogLines(FileBytes(germanLog));
  Check(!log.empty() && !german.empty(), "the reference logs " + reportLog + " and " + germanLog);
  if (log.empty() || german.empty()) return 1;
  std::vector<std::string> lines = ListLines(list);
  Check(lines.size() > 10 && lines.size() < log.size() && IsPrefix(lines, log),
        "the list box shows the report of processor 1 as /SAVE wrote it (" +
            FirstDifference(lines, log) + ")");

  // Details appends the listing once and disables itself.
  SendMessageA(buttons[1], BM_CLICK, 0, 0);
  lines = ListLines(list);
  Check(lines == log, "after Details the list box holds the whole log (" +
                          FirstDifference(lines, log) + ")");
  Check(!IsWindowEnabled(buttons[1]), "Details is disabled after use");

  // Proc1 repeats the analysis: the report alone again, Details enabled.
  SendMessageA(buttons[2], BM_CLICK, 0, 0);
  lines = ListLines(list);
  Check(lines.size() < log.size() && IsPrefix(lines, log) && IsWindowEnabled(buttons[1]),
        "Proc1 repeats the report and enables Details");

  // Save through the dialog: the same bytes as /SAVE.
  Press(buttons[6]);
  Check(AnswerSaveDialog(pid, "window.log"), "the save dialog takes the name window.log");
  const std::string expected = FileBytes(reportLog);
  Check(WaitFor([&] { return FileBytes("window.log") == expected; }, 20000),
        "window.log holds the same bytes as the log of /SAVE");
  // Saving over it asks first; Cancel (the default) keeps the file.
  Press(buttons[6]);
  Check(AnswerSaveDialog(pid, "window.log"), "the save dialog takes window.log again");
  AnswerBox(pid, "Warning", "The file " + CurrentFolder() + "\\window.log exists already. Replace it?",
            IDCANCEL);
  // A read-only file is refused with an "Error" box naming it and why.
  const std::string here = CurrentFolder();
  HANDLE ro = CreateFileA("readonly.log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_READONLY, nullptr);
  if (ro != INVALID_HANDLE_VALUE) CloseHandle(ro);
  Press(buttons[6]);
  Check(AnswerSaveDialog(pid, "readonly.log"), "the save dialog takes readonly.log");
  HWND box = nullptr;
  WaitFor([&] { return (box = TopWindow(pid, "#32770", "Error")) != nullptr; });
  const std::string error = box != nullptr ? TextOf(GetDlgItem(box, 0xFFFF)) : "";
  Check(error == "Cannot save to " + here + "\\readonly.log: Permission denied; the earlier file is unchanged",
        "saving over a read-only file shows the \"Error\" box \"" + error + "\"");
  if (box != nullptr) PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  WaitFor([&] { return box == nullptr || !IsWindow(box); }, 10000);
  SetFileAttributesA("readonly.log", FILE_ATTRIBUTE_NORMAL);

  // Key preview: Ctrl+Shift+D and Alt+D leave the switch field hidden,
  // Ctrl+D shows it, whichever control has the focus.
  SetForegroundWindow(w);
  Keys(w, {VK_CONTROL, VK_SHIFT, 'D'});
  Keys(w, {VK_MENU, 'D'});
  Sleep(500);
  Check(!IsWindowVisible(edit), "Ctrl+Shift+D and Alt+D do not open the switch field");
  Keys(w, {VK_CONTROL, 'D'});
  Check(WaitFor([&] { return IsWindowVisible(edit) != FALSE; }, 10000),
        "Ctrl+D opens the switch field");
  // "/GR" and Enter: the report in German.
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("/GR"));
  PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 1);
  WaitFor([&] {
    lines = ListLines(list);
    return !lines.empty() && lines.size() < german.size() && IsPrefix(lines, german);
  });
  Check(!lines.empty() && lines.size() < german.size() && IsPrefix(lines, german),
        "/GR typed in the switch field shows the German report (" +
            FirstDifference(lines, german) + ")");

  // "ok" ends the program.
  Press(buttons[0]);
  Check(WaitFor([&] { return !IsWindow(w); }, 10000), "\"ok\" closes the window");
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "session" && argc == 4) {
    const int failed = Session(argv[2], argv[3]);
    return failed > 100 ? 100 : failed;
  }
  if (command == "closebox") {
    HWND w = WaitWindow();
    Check(w != nullptr, "the window is shown");
    if (w == nullptr) return 1;
    PostMessageA(w, WM_CLOSE, 0, 0);
    Check(WaitFor([&] { return !IsWindow(w); }, 10000), "the close box closes the window");
    return failures;
  }
  if (command == "endsession") {
    // The session ends: the system asks, then tells the window; the window
    // stays (the system would end the program after this).
    HWND w = WaitWindow();
    if (w == nullptr) return 1;
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(w, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &answer);
    Check(answer != 0, "the window agrees to the end of the session");
    SendMessageTimeoutA(w, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &answer);
    return failures;
  }
  if (command == "wait") {
    HWND w = WaitWindow();
    if (w != nullptr) Sleep(500);  // let it paint
    return w != nullptr ? 0 : 1;
  }
  std::fprintf(stderr, "usage: window_probe session <log> <German log> | closebox | endsession | wait\n");
  return 2;
}
