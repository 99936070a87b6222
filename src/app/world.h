// Everything the program knows, owned by one application object and passed
// explicitly: one state struct per unit, no mutable globals. A test builds a
// fresh World over a fake platform. The layers below see only the part that
// serves them: World builds their contexts (DriverContext, CpuContext,
// P2Context), which hold references into it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cpu/cpuinfo.h"
#include "driver/context.h"
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

  // The driver layer's view: platform, driver and register state, the
  // report for the /LOG trace, and the switches and facts it reads.
  DriverContext ForDriver() {
    return DriverContext{*platform, drv,  hw, report, settings.OptLog, settings.DriverDebug,
                         shell.OsKind, machine};
  }
  // The identification's view: the driver's and its own state.
  CpuContext ForCpu() { return CpuContext{ForDriver(), cpu}; }
  // The Pentium II analysis' view: the identification's, its own state, the
  // switches, the number format and the machine's processor count.
  P2Context ForP2() { return P2Context{ForCpu(), p2, settings, util, shell.MultiProc}; }
};

}  // namespace torv
