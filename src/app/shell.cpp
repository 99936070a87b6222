#include "app/shell.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/form.h"
#include "app/usage.h"
#include "machine/machine.h"
#include "report/language.h"
#include "report/utility.h"

namespace torv {

namespace {

constexpr std::string_view kSimSwitch = "/SIM=";
constexpr std::string_view kCatalogueHint = "(torvacin /SIM=? lists the catalogue)";
// Arguments as the switch parser sees them: each cut to 255 characters.
constexpr std::size_t kArgMax = 255;

// One line for the terminal: control bytes shown as "?".
std::string TerminalLine(std::string_view text) {
  return VisibleText(text);
}

}  // namespace

ConsoleOutput::ConsoleOutput(std::FILE* out, bool closed) : out_(out), closed_(closed) {}

void ConsoleOutput::Write(std::string_view text) {
  if (error_ != 0 || text.empty()) return;
  if (closed_) {
    error_ = EBADF;
    return;
  }
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size()) {
    error_ = errno != 0 ? errno : EIO;
  }
}

int ConsoleOutput::Finish(int status, std::FILE* err) {
  if (error_ == 0) {
    errno = 0;
    if (std::fflush(out_) != 0 || std::ferror(out_) != 0) error_ = errno != 0 ? errno : EIO;
  }
  // A reader that has gone (a closed pipe) ends the output quietly.
  if (error_ == 0 || error_ == EPIPE) return status;
  std::fprintf(err, "torvacin: cannot write to standard output: %s\n", std::strerror(error_));
  std::fflush(err);
  return kExitOutputFailed;
}

int HandleInfoSwitches(const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err) {
  for (const std::string& arg : args) {
    if (IsHelpSwitch(arg)) {
      out.Write(UsageText());
      return out.Finish(0, err);
    }
    if (IsVersionSwitch(arg)) {
      out.Write(VersionText());
      return out.Finish(0, err);
    }
  }
  return -1;
}

int PrepareMachine(World& w, const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  ConsoleOutput o(out);
  return PrepareMachine(w, args, o, err);
}

int PrepareMachine(World& w, const std::vector<std::string>& args, ConsoleOutput& out,
                   std::FILE* err) {
  auto fail = [&](const std::string& line) {
    std::fprintf(err, "torvacin: %s\n", TerminalLine(line).c_str());
    std::fflush(err);
    return kExitBadMachine;
  };
  for (const std::string& arg : args) {
    if (UpperStr(arg.substr(0, kSimSwitch.size())) != kSimSwitch) continue;
    const std::string name = arg.substr(kSimSwitch.size());
    if (name == "?") {
      const std::vector<CatalogueEntry> all = Catalogue();
      std::size_t width = 0;
      for (const CatalogueEntry& e : all) width = std::max(width, std::string_view(e.Name).size());
      for (const CatalogueEntry& e : all) {
        std::string line(e.Name);
        line.resize(width, ' ');
        out.Write(line + "  " + e.Description + "\n");
      }
      return out.Finish(0, err);
    }
    if (name.empty()) {
      return fail(std::string(arg) +
                  " needs a value: a catalogue name such as /SIM=p2-450, or the path of a "
                  "profile file such as /SIM=./my.profile " +
                  std::string(kCatalogueHint));
    }
    std::string error;
    std::string note;
    std::shared_ptr<Machine> m = MakeSimMachine(name, error, &note);
    if (!m) {
      if (error.empty()) error = "no simulated machine named " + name;
      return fail(error);
    }
    // What the dump holds beyond the simulated machine, in one line.
    if (!note.empty()) {
      std::fprintf(err, "torvacin: %s\n", TerminalLine(note).c_str());
      std::fflush(err);
    }
    // A request to end the program cuts its slow cache controller short.
    m->SetWaitBreaker([&platform = *w.platform] { return platform.EndRequested(); });
    w.machine = std::move(m);
  }
  return -1;
}

bool WantsConsole(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return UpperStr(a) == "/CON"; });
}

void InitLanguage(World& w) {
  SetLanguage(w.report, SystemLanguage(w.platform->SystemLangId()));
}

int RunConsole(World& w, const std::vector<std::string>& args, std::FILE* out) {
  ConsoleOutput o(out);
  return RunConsole(w, args, o, stderr);
}

void NameIgnoredSwitches(const std::vector<std::string>& args, std::FILE* err) {
  for (const std::string& arg : args) {
    const std::string_view a = std::string_view(arg).substr(0, std::min(arg.size(), kArgMax));
    if ((a.starts_with('/') || a.starts_with('-')) && !IsKnownSwitch(a)) {
      std::fprintf(err, "torvacin: ignored switch %s (torvacin --help lists the switches)\n",
                   TerminalLine(Cp1252ToUtf8(Utf8ToCp1252(arg))).c_str());
    }
  }
  std::fflush(err);
}

int RunConsole(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err) {
  // Switches are ignored silently in the window; on a terminal a mistyped
  // one is worth a line.
  NameIgnoredSwitches(args, err);
  ConsoleView view;
  TForm1 form(w, view);
  form.formcreate(args);
  if (!form.Ended) {
    for (const std::string& line : form.ListBox1.Items) {
      out.Write(Cp1252ToUtf8(VisibleText(line)));
      out.Write("\n");
    }
  }
  form.formDestroy();
  const int status = out.Finish(form.Ended ? form.ExitCode : form.RunStatus(), err);
  // The note about the report, after it and apart from it: one line.
  if (!form.Ended && !form.Note().empty()) {
    std::string note = "torvacin:";
    for (const std::string& line : form.Note()) note += " " + line;
    std::fprintf(err, "%s\n", note.c_str());
    std::fflush(err);
  }
  return status;
}

}  // namespace torv
