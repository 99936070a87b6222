// Everything the program knows, owned by one application object and passed
// explicitly: one state struct per unit, no mutable globals. A test builds a
// fresh World over a fake platform.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "driver/protocol.h"
#include "p2/p2info.h"
#include "platform/platform.h"
#include "report/language.h"
#include "report/utility.h"
#include "settings_data.h"

namespace torv {

class Machine;

// State of the main window unit that other units read.
struct ShellState {
  std::uint8_t OsKind = 0;
  bool MultiProc = false;
  int ProcessorCount = 1;
};

struct World {
  explicit World(Platform& p) : platform(&p) {}

  Platform* platform;
  Settings settings;
  ReportState report;
  UtilityState util;
  ShellState shell;
  DriverState drv;
  HwState hw;
  CpuState cpu;
  P2State p2;
  // The back-end that LoadDriver opens on Linux: the simulated machine chosen
  // with /SIM=, or null for this computer's hardware.
  std::shared_ptr<Machine> machine;

  const LangRec& Msg() const { return report.Msg(); }
};

}  // namespace torv
