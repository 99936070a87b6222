// The switch parser: the settings it sets and the report language it picks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/language.h"
#include "report/utility.h"
#include "settings_data.h"

namespace torv {

// Reads the switches of `text`; with an empty text, the command-line
// arguments `args` (argument 1 onward, argument 0 excluded; an empty one is
// skipped). Sets `settings`,
// the report language in `report` and the decimal separator in `util`.
void ParseSwitches(Settings& settings, ReportState& report, UtilityState& util,
                   std::string_view text, const std::vector<std::string>& args);

// The runtime's integer conversion: leading blanks, sign, decimal digits or
// "$" and hexadecimal digits. Returns false when reading stopped early or the
// text was empty; `value` is what was read until then.
bool ReadInteger(std::string_view s, std::int32_t& value);

}  // namespace torv
