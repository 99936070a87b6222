#include "app/summary.h"

#include <cstring>

#include "app/form.h"
#include "app/settings.h"
#include "platform/files.h"
#include "report/language.h"
#include "report/summary.h"
#include "report/utility.h"

namespace torv {

namespace {

constexpr std::string_view kSummarySwitch = "/SUMMARY=";

// A line of code page 1252 for the terminal.
void WriteLine(ConsoleOutput& out, const std::string& cp1252) {
  out.Write(Cp1252ToUtf8(VisibleText(cp1252)));
  out.Write("\n");
}

}  // namespace

std::optional<std::string> WantsSummary(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (UpperStr(arg.substr(0, kSummarySwitch.size())) == kSummarySwitch) {
      return arg.substr(kSummarySwitch.size());
    }
  }
  return std::nullopt;
}

int RunSummary(World& w, const std::vector<std::string>& args, const std::string& folder,
               ConsoleOutput& out, std::FILE* err) {
  // The language switches, as for a report.
  ParseSwitches(w.settings, w.report, w.util, "", args);
  const LangRec& m = w.report.Msg();
  const auto fail = [&](const std::string& line) {
    std::fprintf(err, "torvacin: %s\n", Cp1252ToUtf8(VisibleText(Utf8ToCp1252(line))).c_str());
    std::fflush(err);
    return out.Finish(kExitNoLog, err);
  };
  if (folder.empty()) {
    return fail("/SUMMARY= needs a folder, such as /SUMMARY=/media/floppy");
  }
  std::vector<std::string> names;
  int error = 0;
  if (!ListRegularFiles(folder, names, error)) {
    return fail("cannot read the folder " + folder + ": " + std::strerror(error));
  }
  bool anyLog = false;
  for (const std::string& name : names) {
    const std::string shown = Utf8ToCp1252(name);
    std::string bytes;
    std::string kind;
    const char separator = folder.find('\\') != std::string::npos ? '\\' : '/';
    const std::string path = folder.back() == separator || folder.back() == '/'
                                 ? folder + name
                                 : folder + separator + name;
    const ReadResult read = ReadRegularFile(path, kSummaryFileMax, bytes, error, kind);
    if (read != ReadResult::Ok) {
      std::string why = TableText(m.CannotRead);
      if (read == ReadResult::TooLarge) {
        why = TableText(m.NotALog);
      } else if (read == ReadResult::NotRegular) {
        why += " (" + kind + ")";
      } else if (error != 0) {
        why += std::string(" (") + std::strerror(error) + ")";
      }
      WriteLine(out, SkippedLine(shown, why));
      continue;
    }
    const std::vector<ChipSummary> chips = ReadLogSummary(bytes);
    if (chips.empty()) {
      WriteLine(out, SkippedLine(shown, TableText(m.NotALog)));
      continue;
    }
    anyLog = true;
    for (const ChipSummary& chip : chips) WriteLine(out, SummaryLine(m, shown, chip));
  }
  if (!anyLog) {
    WriteLine(out, TableText(m.NoLogRead));
    return out.Finish(kExitNoLog, err);
  }
  return out.Finish(0, err);
}

}  // namespace torv
