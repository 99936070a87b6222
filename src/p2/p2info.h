// The Pentium II analysis: register probe, report, verdict, cache details and
// the memory type range listing.
//
// Who owns what, bottom up. Each layer includes only its own headers and those
// below it; the application's World owns every state struct and hands each
// layer a context of references to the part it may see:
//   report    ReportState (report screen, language), UtilityState (number
//             format); its functions take those structs themselves.
//   platform  the system's services behind Platform; no program state.
//   driver    DriverState (the open driver), HwState (register requests, the
//             clock, a fatal end). Its functions take a DriverContext: the
//             Platform, both states, the ReportState that takes the /LOG
//             trace, the /LOG and driver-debug (/DEB) switches, the
//             system's kind and the back-end (World::machine).
//   machine   the back-ends behind the driver protocol; they keep their own
//             state and never see a context.
//   cpu       CpuState (the identification record and what it read). Its
//             functions take a CpuContext: a DriverContext plus CpuState.
//   p2        P2State (below). Its functions take a P2Context: a CpuContext
//             plus P2State, the Settings (the analysis writes EccWas), the
//             UtilityState and whether the machine has several processors.
//             torvacin-access's sequences (access_server.cpp) keep the
//             same state structs of their own, one set a request, and build
//             these contexts over them.
//   app       World: all of the above, the switches and the window's
//             state; ForDriver, ForCpu and ForP2 build the contexts. The
//             mains stand here too, torvacin-access's (app/access) as well.
//
// The flow, one way:
//   probe   (probe.cpp, ecctest.cpp)  the worker thread reads CPUID, the clock
//           and the registers through the driver protocol into the record,
//           P2State::P2Info (TP2Info), and notes how far it got (ProbeEnded);
//   facts   (facts.cpp)  pure functions work out bus, ratio, system clock,
//           queue depth, cache type, cacheable area, size and banks, and the
//           verdict flags from the record;
//   report  (report.cpp, details.cpp, mtrr.cpp)  put record and facts into
//           report lines;
//   verdict (verdict.cpp)  the closing judgement, from the flags.
//
// What persists between runs: P2State lives as long as the World, and only
// LoadTestCase (/TEST=) clears the record. A run that ends early leaves the
// rest of P2Info as the earlier run left it (EccResultRead, RegistersRead say
// what is this run's); the OverDrive and cache-type facts are renewed only for
// a Pentium II, so a Pentium Pro keeps the earlier run's; the details listing
// keeps its L2 size text where a size code has no meaning; Settings::EccWas
// keeps the ECC state an ECC pass found before changing it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "cpu/cpuinfo.h"
#include "report/shortstr.h"
#include "report/utility.h"
#include "settings_data.h"

namespace torv {

struct TMtrrPair {
  std::uint32_t BaseLo = 0, BaseHi = 0, MaskLo = 0, MaskHi = 0;
};

struct TP2Info {
  double CoreClock = 0.0;
  TCpuInfo Cpu;
  std::uint32_t Ctl3Lo = 0, Ctl3Hi = 0;
  std::uint32_t Msr1E0Lo = 0, Msr1E0Hi = 0;
  std::uint32_t PowerOnLo = 0, PowerOnHi = 0;
  std::array<std::uint8_t, 9> L2Regs{};
  bool EccEnabled = false;
  bool EccPresent = false;
  bool L2Present = false;
  std::uint8_t RatioCode = 0;
  std::uint8_t Bus100 = 0;
  std::uint8_t Bus133 = 0;      // EBL_CR_POWERON bit 18: with bit 19 clear, a 133 MHz bus
  std::uint8_t RatioPlus4 = 0;  // EBL_CR_POWERON bit 27: the ratio is 4.0 more than the code's
  std::uint32_t MtrrCapLo = 0, MtrrCapHi = 0;
  std::array<TMtrrPair, 16> VarMtrr{};
};

// Worker exit codes.
enum : std::uint32_t {
  kExitFinished = 0,
  kExitCpuidFault = 1,
  kExitNoCpuid = 2,
  kExitNotP6 = 3,
  kExitL2Access = 6,
  kExitL2Config = 7,
  kExitEccMissing = 8,
};

// How far the last run read a Pentium II family processor. An early end
// leaves the rest of P2Info as an earlier run left it, so the report must not
// show those fields as read.
enum class ProbeEnd : std::uint8_t {
  Complete,        // everything read (also a refused processor, a test case)
  EccTestFailed,   // a transaction of the ECC presence test failed (exit 6)
  L2ConfigFailed,  // a cache configuration read failed (exit 7)
};

// Why the last ECC pass switched nothing although its processor answered.
enum class EccPassSkip : std::uint8_t {
  None,        // switched, or ended with an exit code that says why
  PentiumPro,  // only the Pentium II family's BBL_CR_CTL3 is read and switched
  NoCache,     // no second-level cache (BBL_CR_CTL3 bit 23)
  NotInDump,   // a published dump without BBL_CR_CTL3 or the ECC test's result
};

// What a published dump behind the machine did not hold, for the last run:
// those registers were not read, and nothing is said that rests on them.
struct DumpGaps {
  bool PowerOn = false;   // EBL_CR_POWERON (2Ah): ratio, bus, queue depth
  bool Msr1E0 = false;    // 1E0h: fast strings
  bool Ctl3 = false;      // BBL_CR_CTL3 (11Eh): cache present, ECC on, area, latency
  bool EccTest = false;   // the ECC presence test's result
  bool L2Regs = false;    // the nine cache configuration registers
  bool Mtrrs = false;     // MTRRcap (FEh) and the variable ranges (200h-20Fh)
  // Whether any register is missing (the ECC test is no register).
  bool AnyRegister() const { return PowerOn || Msr1E0 || Ctl3 || L2Regs || Mtrrs; }
};

// State of the Pentium II unit.
struct P2State {
  TP2Info P2Info;  // zero at start; only LoadTestCase clears it
  ProbeEnd ProbeEnded = ProbeEnd::Complete;
  EccPassSkip EccSkipped = EccPassSkip::None;
  DumpGaps NotInDump;  // the last run's
  bool L2AccessOk = true;
  bool L2ReadOk = true;
  // Written by the report, read by the verdict and the details.
  double SysClockHz = 0.0;
  double BusRatio = 0.0;
  bool FlagOverdrive = false;
  bool IsCsram = false;
  std::uint8_t IoqDepth = 0;
  std::uint32_t CacheableMByte = 0;
  // Verdict flags.
  bool FlagFake300 = false;
  bool FlagClockHigh = false;
  bool FlagNot100On66 = false;
  bool FlagClockLow = false;
  // Cache details.
  std::uint32_t EccReadBack = 0;
  PStr<9> L2SizeText = "??";
  std::int32_t L2Banks = 1;
  // Memory type range listing.
  bool LfbWc = false;
};

// Whether the last run's ECC presence result is its own, and whether it read
// the cache configuration registers and the memory type ranges (they come
// after the ECC test).
inline bool EccResultRead(const P2State& p) {
  return p.ProbeEnded != ProbeEnd::EccTestFailed && !p.NotInDump.Ctl3 && !p.NotInDump.EccTest;
}
inline bool RegistersRead(const P2State& p) {
  return p.ProbeEnded == ProbeEnd::Complete;
}

// What the Pentium II analysis sees: the identification's context, its own
// state, the switches that steer it (it keeps the ECC state it found in
// Settings::EccWas), the number format of the report and whether the machine
// has more than one processor.
struct P2Context : CpuContext {
  P2State& p2;
  Settings& settings;
  const UtilityState& util;
  const bool& MultiProc;
};

// The analysis thread's body; returns the exit code.
std::uint32_t WorkerThread(const P2Context& ctx, std::int32_t arg);
void LoadTestCase(const P2Context& ctx);

bool P2Report(const P2Context& ctx, int proc);
void Verdict(const P2Context& ctx);  // the closing verdict of P2Report

bool L2EccTest(const P2Context& ctx, bool& ok);
void P2Details(const P2Context& ctx);
void L2RegReport(const P2Context& ctx);

void MtrrReport(const P2Context& ctx);
void MtrrLine(const P2Context& ctx, std::uint16_t i, const TMtrrPair& pair);
std::string MtrrTypeName(std::uint8_t type);

}  // namespace torv
