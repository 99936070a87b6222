// The switches and the settings they set.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torv {

struct Settings {
  bool OptLog = false;
  bool OptQuit = false;
  bool OptSave = false;
  bool OptExt = false;
  bool OptExx = false;
  bool OptNoL2 = false;
  std::array<std::uint8_t, 5> EccMode{0, 0xFF, 0xFF, 0xFF, 0xFF};  // [1..4]
  std::array<std::uint8_t, 5> EccWas{0, 0xFF, 0xFF, 0xFF, 0xFF};   // [1..4]
  std::uint8_t TestNo = 0;
  bool DriverDebug = false;
  bool VerdictOn = true;
  // LangCode lives with the report language (ReportState), DecimalPoint with
  // the formatting helpers (UtilityState).
};

struct World;

// Reads the switches of `text`; with an empty text, the command-line
// arguments `args` (argument 1 onward, argument 0 excluded).
void ParseSwitches(World& w, std::string_view text, const std::vector<std::string>& args);

// The runtime's integer conversion: leading blanks, sign, decimal digits or
// "$" and hexadecimal digits. Returns false when reading stopped early or the
// text was empty; `value` is what was read until then.
bool ReadInteger(std::string_view s, std::int32_t& value);

}  // namespace torv
