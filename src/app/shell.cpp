#include "app/shell.h"

#include <algorithm>

#include "app/form.h"
#include "machine/machine.h"
#include "report/language.h"
#include "report/utility.h"

namespace torv {

namespace {

constexpr std::string_view kSimSwitch = "/SIM=";

}  // namespace

int PrepareMachine(World& w, const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  for (const std::string& arg : args) {
    if (UpperStr(arg.substr(0, kSimSwitch.size())) != kSimSwitch) continue;
    const std::string name = arg.substr(kSimSwitch.size());
    if (name == "?") {
      const std::vector<CatalogueEntry> all = Catalogue();
      std::size_t width = 0;
      for (const CatalogueEntry& e : all) width = std::max(width, std::string_view(e.Name).size());
      for (const CatalogueEntry& e : all) {
        std::fprintf(out, "%-*s  %s\n", static_cast<int>(width), e.Name, e.Description);
      }
      std::fflush(out);
      return 0;
    }
    std::string error;
    std::shared_ptr<Machine> m = MakeSimMachine(name, error);
    if (!m) {
      if (error.empty()) error = "no simulated machine named " + name;
      std::fprintf(err, "torvacin: %s\n", error.c_str());
      std::fflush(err);
      return kExitBadMachine;
    }
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
  ConsoleView view;
  TForm1 form(w, view);
  form.formcreate(args);
  if (!form.Ended) {
    for (const std::string& line : form.ListBox1.Items) {
      const std::string u = Cp1252ToUtf8(line);
      std::fprintf(out, "%s\n", u.c_str());
    }
    std::fflush(out);
  }
  form.formDestroy();
  if (form.Ended) return form.ExitCode;
  return form.Incomplete ? kExitIncomplete : 0;
}

}  // namespace torv
