// What the switches set: read by the analysis, the report and the window.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace torv {

// One "/ECC=" switch with a usable value, as given: its text and the
// processor it names (0 when no number could be read).
struct EccSwitch {
  std::string Text;
  std::int32_t Processor = 0;
};

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
  // The "/ECC=" switches of the last parser run. Only processors 1 to 4 get
  // an EccMode entry; the window checks each switch against the machine's
  // processors and ignores (console mode: names) those it cannot use.
  std::vector<EccSwitch> EccSwitches;
  // LangCode lives with the report language (ReportState), DecimalPoint with
  // the formatting helpers (UtilityState).
};

}  // namespace torv
