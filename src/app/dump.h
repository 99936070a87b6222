// /DUMP: this machine written as a simulated machine's profile, from what the
// analysis itself reads of every processor, so that /SIM= of the file gives
// the same report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/shell.h"
#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "machine/sim.h"
#include "p2/p2info.h"
#include "app/world.h"

namespace torv {

enum class DumpRequest {
  None,
  Standard,  // /DUMP: CPUID leaf 3, the Pentium III serial number, left out
  All,       // /DUMP=ALL: every leaf
};

// /DUMP or /DUMP=ALL (any case) on the command line.
DumpRequest WantsDump(const std::vector<std::string>& args);

// What the analysis of one processor left, as the dump reads it.
struct ProcessorReadings {
  bool Ran = false;                 // its analysis thread ran
  std::uint32_t ExitCode = 0;       // the analysis thread's
  std::vector<CpuidAnswer> Leaves;  // the CPUID leaves read before the analysis
  IdentityReadings Identity;        // what the identification read
  TP2Info Info;                     // the Pentium II record
  double ClockHz = 0.0;             // the measured core clock
  int FatalCode = 0;                // a register failure that ended the analysis (7, 8)
  std::string FatalText;
  bool NoL2 = false;  // /NOL2: the ECC test did not run
  DumpGaps NotInDump;  // what a published dump behind the machine did not hold
};

// The simulated processor of those readings: the CPUID leaves the processor
// answered (leaf 3 only with `allLeaves`), the clock measured, and on a
// processor that got the register analysis the registers, the cache
// configuration and the ECC test's result it read. `notes` gets a line for
// everything the readings could not give.
SimProcessor DumpedProcessor(const ProcessorReadings& r, bool allLeaves,
                             std::vector<std::string>& notes);

// /DUMP: loads the driver, analyses every processor (up to 15) as the report
// would, without the ECC passes, and writes the profile to `out`: comment
// lines naming the program, its version and `date`, then the machine. What
// could not be read is said in comment lines and on `err`. Returns the exit
// status: that of a register failure (7, 8), 4 when a cache transaction
// failed, 1 when the driver could not be loaded or the output not written,
// else 0.
int RunDump(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err,
            const std::string& date);
// The same with the current date and time (UTC).
int RunDump(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err);

}  // namespace torv
