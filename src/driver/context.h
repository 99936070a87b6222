// What the driver layer's functions see: the platform, the driver's and the
// register requests' own state, the report that takes the /LOG trace, and the
// few switches and facts of the program that they read. Built by the one
// object that owns all state (the application's World); it holds references
// only, so it is passed by value or const reference at no cost.
#pragma once

#include <cstdint>
#include <memory>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "platform/platform.h"
#include "report/language.h"

namespace torv {

class Machine;

struct DriverContext {
  Platform& platform;
  DriverState& drv;
  HwState& hw;
  // The report screen: the /LOG trace of register accesses is written to it,
  // and its language gives the driver's messages.
  ReportState& report;
  const bool& OptLog;       // /LOG: every register access traced in the report
  const bool& DriverDebug;  // the driver's identity shown in a box when opened
  const std::uint8_t& OsKind;  // the system the program runs on (kOsWin9x...)
  // The back-end that the program serves as the driver itself: the simulated
  // machine chosen with /SIM=, this computer's made by LoadDriver on Linux,
  // or null for a Windows driver.
  std::shared_ptr<Machine>& machine;

  const LangRec& Msg() const { return report.Msg(); }
};

// One processor's registers for one analysis, from its first register read to
// its last write: the kernel's msr module loaded where it must be (Linux, as
// root, the first time), then the lock (DriverState::Lock) that keeps every
// other analysis of this computer's registers out until the scope ends, and
// the values of a journal that a killed analysis left are put back
// (RestoreLeftJournal). While
// another analysis holds it, one line on the error stream says so and the
// session waits; after kLockWaitMs the program ends with kExitLockTimeout.
// The caller announces the analysis to the back-end (Machine::Expect) before
// the session begins.
class RegisterSession {
 public:
  explicit RegisterSession(const DriverContext& ctx);
  ~RegisterSession();
  RegisterSession(const RegisterSession&) = delete;
  RegisterSession& operator=(const RegisterSession&) = delete;

 private:
  DriverContext ctx_;
  bool held_ = false;
};

// The changes of the cache controller (or of the Cyrix configuration
// registers and the interrupt mask): the requests that end the program
// (signals; Ctrl+C on Windows) wait from here until End(), which is called
// once the registers are put back and then ends the program as a request
// that came asks: status 128 + its number, after one line on the error
// stream that the registers were put back. `changed` says in that line what
// was changed and put back. A scope left otherwise (a register failure that ends the
// thread) releases them without acting.
class HeldSection {
 public:
  explicit HeldSection(const DriverContext& ctx,
                       const char* changed =
                           "the cache controller was changed: its registers "
                           "were put back as found first");
  ~HeldSection();
  void End();
  HeldSection(const HeldSection&) = delete;
  HeldSection& operator=(const HeldSection&) = delete;

 private:
  DriverContext ctx_;
  const char* changed_;
  bool open_ = true;
};

}  // namespace torv
