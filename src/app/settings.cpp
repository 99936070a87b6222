// Placeholder bodies; replaced by the switch parser.
#include "app/settings.h"

namespace torv {
void ParseSwitches(World&, std::string_view, const std::vector<std::string>&) {}
bool ReadInteger(std::string_view, std::int32_t& value) {
  value = 0;
  return false;
}
}  // namespace torv
