// The switch parser: command-line arguments or a typed line of switches.
#include "app/settings.h"

#include <algorithm>
#include <cstddef>

#include "report/language.h"
#include "report/utility.h"

namespace torv {
namespace {

constexpr std::size_t kShortMax = 255;
// Characters of an "/ECC=" value that count.
constexpr std::size_t kEccValueMax = 10;

// "/ECC=value": value is "[processor:]ON|OFF|1|0", already upper-cased;
// `raw` is the whole switch as given. A processor number is taken whole: one
// that cannot be read, or that is not 1 to 4, sets no entry (it would change
// the cache of a processor nobody named), and the window ignores the switch.
void ApplyEcc(Settings& s, std::string_view value, std::string_view raw) {
  value = value.substr(0, std::min(value.size(), kEccValueMax));
  std::int32_t proc = 1;
  const std::size_t colon = value.find(':');
  if (colon != std::string_view::npos) {
    std::int32_t n = 0;
    proc = ReadInteger(value.substr(0, colon), n) ? n : 0;
    value.remove_prefix(colon + 1);
  }
  std::uint8_t mode;
  if (value == "ON" || value == "1") {
    mode = 1;
  } else if (value == "OFF" || value == "0") {
    mode = 0;
  } else {
    return;
  }
  if (proc >= 1 && proc <= 4) s.EccMode[static_cast<std::size_t>(proc)] = mode;
  s.EccSwitches.push_back({std::string(raw), proc});
}

void ApplySwitch(Settings& s, ReportState& report, std::string_view raw) {
  const std::string sw = UpperStr(raw);
  if (sw == "/EN") SetLanguage(report, 1);
  if (sw == "/US") SetLanguage(report, 1);
  if (sw == "/GR") SetLanguage(report, 49);
  if (sw == "/NL") SetLanguage(report, 31);
  if (sw == "/LOG") s.OptLog = true;
  if (sw == "/Q") s.OptQuit = true;
  if (sw == "/SAVE") s.OptSave = true;
  if (sw == "/EXT") s.OptExt = true;
  // "/DEB" is handled by the switch field before the parser runs.
  if (sw == "/EXX") {
    s.OptExt = true;
    s.OptExx = true;
  }
  if (sw == "/NOL2") s.OptNoL2 = true;
  if (sw.starts_with("/ECC=")) ApplyEcc(s, std::string_view(sw).substr(5), raw);
  // "/FEA" is recognised and changes nothing.
  if (sw.starts_with("/TEST=")) {
    std::int32_t n = 0;
    ReadInteger(std::string_view(sw).substr(6), n);
    s.TestNo = static_cast<std::uint8_t>(n);
  }
}

}  // namespace

void ParseSwitches(Settings& settings, ReportState& report, UtilityState& util,
                   std::string_view text, const std::vector<std::string>& args) {
  text = text.substr(0, std::min(text.size(), kShortMax));
  settings.EccSwitches.clear();
  if (text.empty()) {
    // An empty argument ("" on a command line) is skipped: the arguments
    // after it count as well.
    for (const std::string& arg : args) {
      if (arg.empty()) continue;
      ApplySwitch(settings, report,
                  std::string_view(arg).substr(0, std::min(arg.size(), kShortMax)));
    }
  } else {
    // Switches are separated by single blanks; an empty switch (a leading
    // blank or two blanks in a row) ends the list.
    while (!text.empty()) {
      const std::size_t blank = text.find(' ');
      const std::string_view sw = text.substr(0, blank);
      text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
      if (sw.empty()) break;
      ApplySwitch(settings, report, sw);
    }
  }
  SetDecimalPoint(util, report.LangCode != 49);
  if (settings.OptNoL2) settings.VerdictOn = false;
}

// Digits beyond the range of 32 bits wrap around modulo 2^32, as the value is
// gathered in 32-bit unsigned arithmetic; a read never overflows.
bool ReadInteger(std::string_view s, std::int32_t& value) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    negative = s[i] == '-';
    ++i;
  }
  const bool hex = i < s.size() && s[i] == '$';
  if (hex) ++i;
  const std::uint32_t base = hex ? 16 : 10;
  std::uint32_t acc = 0;
  std::size_t digits = 0;
  for (; i < s.size(); ++i, ++digits) {
    const int d = HexDigitValue(s[i]);
    if (d < 0 || static_cast<std::uint32_t>(d) >= base) break;
    acc = acc * base + static_cast<std::uint32_t>(d);
  }
  if (negative) acc = 0u - acc;
  value = static_cast<std::int32_t>(acc);
  return digits > 0 && i == s.size();
}

}  // namespace torv
