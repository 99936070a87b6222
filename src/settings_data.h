// What the switches set: read by the analysis, the report and the window.
#pragma once

#include <array>
#include <cstdint>

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

}  // namespace torv
