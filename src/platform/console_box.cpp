#include "platform/console_box.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cctype>
#include <string>

#include "report/language.h"

namespace torv {

namespace {

bool InputIsTerminal() {
#ifdef _WIN32
  // The C runtime counts NUL as a terminal; only a console can answer.
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))), &mode) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace

ConsoleBoxPresenter::ConsoleBoxPresenter()
    : in_(stdin), out_(stderr), interactive_(InputIsTerminal()) {}

int ConsoleBoxPresenter::Show(std::string_view title, std::string_view text, BoxButtons buttons) {
  const std::string line = Cp1252ToUtf8(title) + ": " + Cp1252ToUtf8(text);
  std::fprintf(out_, "%s\n", line.c_str());
  if (buttons == BoxButtons::Ok) {
    std::fflush(out_);
    return kIdOk;
  }
  if (!interactive_) {
    std::fprintf(out_, "(no terminal to answer: Cancel)\n");
    std::fflush(out_);
    return kIdCancel;
  }
  std::fprintf(out_, "OK or Cancel? [o/C] ");
  std::fflush(out_);
  char buf[64];
  if (std::fgets(buf, sizeof buf, in_) == nullptr) return kIdCancel;
  std::string answer;
  for (const char* p = buf; *p != '\0' && *p != '\n'; ++p) {
    if (*p != ' ') answer += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  return (answer == "o" || answer == "ok" || answer == "y" || answer == "yes") ? kIdOk : kIdCancel;
}

}  // namespace torv
