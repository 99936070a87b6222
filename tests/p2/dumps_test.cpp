// Dumps of real processors, read as they stand as simulated machines and
// analysed on processor 1: the name, clock, ratio, bus and ECC state each must
// give, and no alarm on any of these genuine parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "p2_fixture.h"

namespace torv {
namespace {

using test::Col;
using test::ReportWorld;

struct DumpCase {
  const char* File;  // in tests/data/dumps
  const char* Core;  // the processor line's value
  const char* Clock;
  const char* Ratio;  // empty: no ratio line (no Pentium II, or no 2Ah in the dump)
  const char* Bus;
  const char* Ecc;        // empty: no ECC line
  const char* NotInDump;  // the registers the dump lacks; empty: no such line
  int Processors = 1;     // the simulated machine's
  bool LeftOut = false;   // the dump lists more, and the reader says so
};

constexpr const char* kNewer = ": Pentium II, > Deschutes (Katmai? Williamette?)";
constexpr const char* kUnmeasured66 = ": default: 66.6 MHz, measured: error";
constexpr const char* kEcc = ": present and enabled";
constexpr const char* kNone = ": 2Ah, 11Eh, 1E0h, MTRR, L2 0-8";  // a dump of CPUID alone
constexpr const char* kNo1E0 = ": 1E0h, MTRR, L2 0-8";         // 2Ah and 11Eh held

const DumpCase kDumps[] = {
    // Published dumps as collected: CPUID leaves alone, no register.
    {"amd-k5-0524.txt", ": AMD 5k86PR166 Step 4", ": 116.0 MHz", "", "", "", ""},
    {"amd-k6-0570.txt", ": AMD K6PR166-PR300 Step 0", ": 233.0 MHz", "", "", "", ""},
    {"celeron-mendocino-0665.txt", kNewer, "error", "", "", "", kNone},
    {"cyrix-6x86-0530.txt", ": Cx486SLC/DLC/S, ID=FFh, Rev=FFh", "error", "", "", "", ""},
    {"cyrix-mii-0600.txt", ": Cx686MX (M2) 3:1, ID=53h, Rev=08h", ": 250.0 MHz", "", "", "", ""},
    {"i486-0480.txt", ": i486DX4-WT-SLe", "error", "", "", "", ""},
    {"idt-winchip-c6-0542.txt", ": IDT C6 Step 2", ": 225.0 MHz", "", "", "", ""},
    // Two processors, the second line of a leaf wins.
    {"pentium-mmx-0543.txt", ": Pentium-MMX mxA3(2,5V)/xA3(2,8V)-Step", ": 200.0 MHz", "", "", "",
     ""},
    {"pentium-p54c-0526.txt", ": Pentium P54C E0-Step", ": 133.0 MHz", "", "", "", ""},
    {"pentium2-deschutes-0653.txt", ": Pentium II, Deschutes", "error", "", "", "", kNone},
    {"pentium2-dixon-066a.txt", kNewer, "error", "", "", "", kNone},
    {"pentium2-klamath-0633.txt", ": Pentium II, Klamath", "error", "", "", "", kNone},
    {"pentium2-overdrive-0632.txt", ": PPRo-Overdrive, Klamath", "error", "", "", "", kNone},
    // The Pentium Pro's cache and ratio are the program's fixed picture; its
    // 2Ah gives the queue depth.
    {"pentiumpro-0619.txt", ": PPro", ": 200.0 MHz", ": 3.0",
     ": default: 66.6 MHz, measured:66.7 MHz", ": not present and not enabled", ": 1E0h, MTRR"},
    // EVEREST reports: the clock from PerformanceFrequency, or from CPU Type
    // where the counter is a timer; ECC from BBL_CR_CTL3.
    {"p2-deschutes-0651-everest.txt", ": Pentium II, Deschutes", ": 333.0 MHz", ": 5.0",
     ": default: 66.6 MHz, measured:66.6 MHz", kEcc, kNo1E0, 2},
    {"p3-katmai-0673-everest.txt", kNewer, ": 450.0 MHz", ": 4.5",
     ": default: 100 MHz, measured:100.0 MHz", kEcc, kNo1E0},
    {"p3-coppermine-0683-everest.txt", kNewer, ": 730.8 MHz", ": 5.5",
     ": default: 133 MHz, measured:132.9 MHz", kEcc, kNo1E0, 2},
    {"celeron-coppermine-0686-everest.txt", kNewer, ": 700.0 MHz", ": 10.5",
     ": default: 66.6 MHz, measured:66.7 MHz", kEcc, kNo1E0},
    {"p3s-tualatin-06b1-everest.txt", kNewer, ": 1263.1 MHz", ": 9.5",
     ": default: 133 MHz, measured:133.0 MHz", kEcc, kNo1E0, 2},
    {"cyrix-mediagx-0540-everest.txt", ": Cx86gx (MediaGX), ID=44h, Rev=42h", ": 233.0 MHz", "", "",
     "", ""},
    {"crusoe-0543-everest.txt", ": Pentium-MMX mxB1(2,5V)/xB1(2,8V)-Step", ": 1000.0 MHz", "", "",
     "", ""},
    // The further CPUID line forms.
    {"via-c3-ezra-067a-spaced.txt", ": unbekannt", "error", "", "", "", ""},
    // Family 6 model 9 is the Pentium M's number: no P6 cache controller is
    // assumed, the processor is refused.
    {"timna-0692-aida.txt", ": Intel Family 6, Model 09h", "error", "", "", "", ""},
    // Further published layouts, each with the values of a dump it names.
    // AIDA64: a CPUID and an MSR section per processor, notes after values.
    {"p3-katmai-0673-aida64.txt", kNewer, ": 501.2 MHz", ": 5.0",
     ": default: 100 MHz, measured:100.2 MHz", kEcc, kNo1E0, 2},
    // AIDA64 with two notes after a value and 18 processors, 16 of them kept.
    {"meteorlake-a06a4-aida64.txt", ": Intel Family 6, Model AAh", "error", "", "", "", "", 16,
     true},
    // AIDA64's CPUID dump: "CPU#000 AffMask:" before each processor.
    {"pentiumpro-0619-affmask.txt", ": PPro", "error", ": 3.0", kUnmeasured66,
     ": not present and not enabled", ": 2Ah, 1E0h, MTRR", 2},
    // AIDA with tabs: "MSR Registers (CPU #0):", MSR lines without the colon.
    {"celeron-mendocino-0660-aida.txt", kNewer, "error", ": 4.5", kUnmeasured66, kEcc, kNo1E0},
    // libcpuid's raw save of two processors.
    {"p3-coppermine-0683-libcpuid.txt", kNewer, "error", "", "", "", kNone, 2},
    // cpuid -r of two processors of different steppings.
    {"pentium-mmx-0543-cpuid-r.txt", ": Pentium-MMX mxB1(2,5V)/xB1(2,8V)-Step", "error", "", "", "",
     "", 2},
    // The layouts with readers of their own.
    {"cpuz-klamath-0633-early.txt", ": Pentium II, Klamath", ": 300.4 MHz", ": 4.5",
     ": default: 66.6 MHz, measured:66.8 MHz", kEcc, kNo1E0},
    {"cpuz-coppermine-0683.txt", kNewer, ": 730.8 MHz", ": 5.5",
     ": default: 133 MHz, measured:132.9 MHz", kEcc, kNo1E0},
    {"cpuz-mendocino-0665.txt", kNewer, ": 400.9 MHz", "", "", "", kNone},
    {"rjcp-deschutes-0653.xml", ": Pentium II, Deschutes", "error", "", "", "", kNone},
    {"icbook-deschutes-0652.txt", ": Pentium II, Deschutes", "error", "", "", "", kNone},
    {"vbox-pentium-m-06d6.h", ": Intel Family 6, Model 0Dh", ": 2000.0 MHz", "", "", "", ""},
    {"vbcpuid-mendocino-0665.ini", kNewer, ": 400.9 MHz", "", "", "", kNone},
    {"cpuid2cpuflags-katmai-0673.txt", kNewer, "error", "", "", "", kNone},
};

// The value column of the line with `label`, "error" for the clock's error
// line, or empty.
std::string Value(const std::vector<std::string>& lines, const std::string& label) {
  for (const std::string& l : lines) {
    if (label == " Actual clock rate" && l == " error") return "error";
    if (l.size() > 25 && l.compare(0, label.size(), label) == 0 &&
        l.find_first_not_of(' ', label.size()) == 25) {
      return l.substr(25);
    }
  }
  return "";
}

// A dump analysed on processor 1 as /SIM=FILE would: the report's lines, and
// the worker's exit code and P2Report's result.
struct DumpRun {
  std::vector<std::string> Lines;
  std::uint32_t Exit = 0;
  bool P6 = false;
  ReportWorld rw;
};

void RunDump(const std::shared_ptr<Machine>& m, DumpRun& run) {
  ReportWorld& rw = run.rw;
  rw.platform.Devices().Register("\\\\.\\simp2", std::make_shared<MachineDevice>(m, 0x0103));
  rw.w.machine = m;
  rw.w.shell.MultiProc = m->ProcessorCount() > 1;
  ASSERT_TRUE(DrvOpen(rw.w.ForDriver(), rw.w.shell.OsKind, "\\\\.\\simp2"));
  run.Exit = WorkerThread(rw.w.ForP2(), 1);
  run.P6 = P2Report(rw.w.ForP2(), 1);
  run.Lines = rw.Lines();
}

bool AnyAlarm(const std::vector<std::string>& lines) {
  for (const std::string& l : lines) {
    for (const char* alarm : {"overclocked", "than allowed", "fake", "Autodetection"}) {
      if (l.find(alarm) != std::string::npos) return true;
    }
  }
  return false;
}

TEST(PublishedDumps, NameClockRatioBusAndNoAlarm) {
  const std::filesystem::path dir = std::filesystem::path(TORV_SOURCE_DIR) / "tests/data/dumps";
  for (const DumpCase& c : kDumps) {
    SCOPED_TRACE(c.File);
    std::string error;
    std::string note;
    const std::shared_ptr<Machine> m = MakeSimMachine((dir / c.File).string(), error, &note);
    ASSERT_TRUE(m != nullptr) << error;
    EXPECT_EQ(m->ProcessorCount(), c.Processors);
    EXPECT_EQ(!note.empty(), c.LeftOut) << note;
    DumpRun run;
    RunDump(m, run);
    const std::vector<std::string>& lines = run.Lines;

    EXPECT_EQ(Value(lines, " Processor Core"), c.Core);
    EXPECT_EQ(Value(lines, " Actual clock rate"), c.Clock);
    EXPECT_EQ(Value(lines, " Ratio (cpu/syst)"), c.Ratio);
    EXPECT_EQ(Value(lines, " System clock rate"), c.Bus);
    EXPECT_EQ(Value(lines, " L2 ECC"), c.Ecc);
    EXPECT_EQ(Value(lines, " Not in the dump"), c.NotInDump);
    EXPECT_EQ(run.P6, std::string(c.Ratio) != "" || std::string(c.NotInDump) != "");
    if (run.P6) {
      EXPECT_EQ(run.Exit, kExitFinished);
    }
    EXPECT_FALSE(run.rw.w.p2.FlagClockHigh || run.rw.w.p2.FlagClockLow ||
                 run.rw.w.p2.FlagFake300);
    EXPECT_FALSE(AnyAlarm(lines));
    for (const std::string& l : lines) EXPECT_EQ(l.find("65535"), std::string::npos) << l;
  }
}

// A leaf-2 byte that no descriptor of the table knows gives no size: the
// second-level cache line says so rather than print 65535.
TEST(PublishedDumps, UnknownCacheDescriptorIsNoSize) {
  SimProfile profile;
  std::string error;
  ASSERT_TRUE(ParseProfile("CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
                           "CPUID 00000001: 00000683-00000000-00000000-0387FBFF\n"
                           "CPUID 00000002: 03020101-00000000-00000000-0C0408FF\n",
                           "d.txt", profile, error))
      << error;
  DumpRun run;
  RunDump(MakeSimMachine(profile), run);
  EXPECT_EQ(Value(run.Lines, " L2 Cache:"), ":  ??");
  EXPECT_EQ(Value(run.Lines, " L1 Data Cache"), ":  16 KB, 4way associative");
}

// A dump without leaf 0 (most of cpuid2cpuflags' test lines) names no
// vendor: the identity line says so, and no maker's name is given.
TEST(PublishedDumps, WithoutLeafZeroTheVendorIsUnknown) {
  SimProfile profile;
  std::string error;
  ASSERT_TRUE(ParseProfile("top:00000001:000006d8:00000000:00000180:afe9fbff\n", "c.txt", profile,
                           error))
      << error;
  DumpRun run;
  RunDump(MakeSimMachine(profile), run);
  EXPECT_EQ(Value(run.Lines, " CPUID"), ": unknown, Typ=0, Family=6, Model=13, Step=8");
  EXPECT_EQ(Value(run.Lines, " Processor Core"), ": unbekannt");
}

// A register the dump does not hold is one that was not read: the report
// names it once, prints nothing that rests on it, and the verdict neither
// alarms nor gives the all-clear on it. A Klamath 300 (4.5 x 66.8 MHz): with
// 2Ah the ratio and bus are checked, with 11Eh (ECC checking on) the cache
// and ECC; an overclocked part's 2Ah still gives its alarm.
TEST(PublishedDumps, WhatTheDumpLacksIsNotJudged) {
  constexpr const char* kCpuid = "CPU Type : Intel Pentium II, 300 MHz\n"
                                 "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
                                 "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
                                 "CPUID 00000002: 03020101-00000000-00000000-0C040843\n"
                                 "PerformanceFrequency = 300400000\n";
  constexpr const char* k2A = "MSR 0000002A: 0000-0000-C180-0000\n";         // 4.5, 66 MHz bus
  constexpr const char* k2A35 = "MSR 0000002A: 0000-0000-C140-0000\n";       // 3.5, 66 MHz bus
  constexpr const char* k11E = "MSR 0000011E: 0000-0000-0000-4527\n";        // ECC checking on
  constexpr const char* k11ENoEcc = "MSR 0000011E: 0000-0000-0000-4507\n";   // ECC checking off
  struct Case {
    const char* What;
    std::string Registers;
    const char* NotInDump;
    std::vector<std::string> Must;     // lines that must appear
    std::vector<std::string> MustNot;  // texts no line may hold
    bool Alarm = false;
  };
  const std::string allClear = Col("", ": No irregularities detected");
  const std::string noRatio = Col("", ": 2Ah not in the dump: system clock not checked");
  const std::string noL2 = Col("", ": 11Eh not in the dump: L2 and ECC not checked");
  const std::string noEcc = Col("", ": ECC test not in the dump: 300 MHz rule not checked");
  const Case cases[] = {
      {"both", std::string(k2A) + k11E, ": 1E0h, MTRR, L2 0-8",
       {Col(" Ratio (cpu/syst)", ": 4.5"), Col(" L2 ECC", ": present and enabled"),
        Col(" L2 Cacheable Area", ": 512 MByte"), allClear},
       {"not in the dump:", "Fast Strings"}},
      {"no 11Eh", k2A, ": 11Eh, 1E0h, MTRR, L2 0-8",
       {Col(" Ratio (cpu/syst)", ": 4.5"),
        Col(" System clock rate", ": default: 66.6 MHz, measured:66.8 MHz"), noL2},
       {" L2 ECC", "Cacheable", "L2 Latency", "with ECC", "without ECC", "irregularities"}},
      {"no 2Ah", k11E, ": 2Ah, 1E0h, MTRR, L2 0-8",
       {Col(" L2 ECC", ": present and enabled"), noRatio},
       {"Ratio (cpu/syst)", "System clock rate", "Queue Depth", "irregularities"}},
      {"neither", "", ": 2Ah, 11Eh, 1E0h, MTRR, L2 0-8",
       {noRatio, noL2},
       {"Ratio (cpu/syst)", "System clock rate", " L2 ECC", "Cacheable", "Queue Depth",
        "Fast Strings", "MTRR0", "Write Combining", "irregularities"}},
      // ECC checking off: whether the SRAMs store ECC bits is not in the dump.
      {"11Eh with ECC off", std::string(k2A) + k11ENoEcc, ": 1E0h, MTRR, L2 0-8",
       {Col(" L2 ECC", ": ECC Presence not tested, ECC not enabled"), noEcc},
       {"fake", "irregularities", "without ECC"}},
      // 2Ah of an overclocked part: 300.4 MHz at 3.5 gives an 85.8 MHz bus.
      {"overclocked", k2A35, ": 11Eh, 1E0h, MTRR, L2 0-8",
       {" Attention, the external system clock rate is higher than allowed", noL2},
       {"irregularities", "fake"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SimProfile profile;
    std::string error;
    ASSERT_TRUE(ParseProfile(kCpuid + c.Registers, "d.txt", profile, error)) << error;
    DumpRun run;
    run.rw.w.settings.OptExt = true;
    run.rw.w.settings.OptExx = true;
    RunDump(MakeSimMachine(profile), run);
    ASSERT_TRUE(run.P6);
    EXPECT_EQ(Value(run.Lines, " Not in the dump"), c.NotInDump);
    for (const std::string& must : c.Must) {
      EXPECT_NE(std::find(run.Lines.begin(), run.Lines.end(), must), run.Lines.end()) << must;
    }
    for (const std::string& l : run.Lines) {
      for (const std::string& mustNot : c.MustNot) {
        EXPECT_EQ(l.find(mustNot), std::string::npos) << l;
      }
    }
    EXPECT_EQ(AnyAlarm(run.Lines), c.Alarm);
    EXPECT_EQ(run.rw.w.p2.FlagClockHigh, c.Alarm);
    EXPECT_FALSE(run.rw.w.p2.FlagFake300);
  }
}

}  // namespace
}  // namespace torv
