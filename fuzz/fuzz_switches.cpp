// Fuzzes the switch parser: the input as a typed line, and the same input
// split at NUL bytes as a list of command-line arguments.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "platform/fake_platform.h"
#include "app/world.h"

namespace {

void CheckSettings(const torv::World& w) {
  const torv::Settings& s = w.settings;
  for (int p = 1; p <= 4; ++p) {
    if (s.EccMode[p] != 0 && s.EccMode[p] != 1 && s.EccMode[p] != 0xFF) std::abort();
  }
  if (s.EccMode[0] != 0) std::abort();
  if (s.OptExx && !s.OptExt) std::abort();
  if (s.OptNoL2 == s.VerdictOn) std::abort();
  if (w.util.DecimalPoint != (w.report.LangCode != 49)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  {
    torv::FakePlatform fake;
    torv::World w(fake);
    torv::ParseSwitches(w.settings, w.report, w.util, input, {});
    CheckSettings(w);
  }
  {
    std::vector<std::string> args;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= input.size(); ++i) {
      if (i == input.size() || input[i] == '\0') {
        args.emplace_back(input.substr(start, i - start));
        start = i + 1;
      }
    }
    torv::FakePlatform fake;
    torv::World w(fake);
    torv::ParseSwitches(w.settings, w.report, w.util, "", args);
    CheckSettings(w);
  }
  {
    std::int32_t value = 0;
    torv::ReadInteger(input, value);
  }
  return 0;
}
