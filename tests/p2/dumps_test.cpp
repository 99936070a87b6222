// Dumps of real processors, read as they stand as simulated machines and
// analysed on processor 1: the name, clock, ratio, bus and ECC state each must
// give, and no alarm on any of these genuine parts.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "machine/machine.h"
#include "p2_fixture.h"

namespace torv {
namespace {

using test::ReportWorld;

struct DumpCase {
  const char* File;  // in tests/data/dumps
  const char* Core;  // the processor line's value
  const char* Clock;
  const char* Ratio;  // empty: the processor is no Pentium Pro / Pentium II
  const char* Bus;
  const char* Ecc;
  int Processors = 1;    // the simulated machine's
  bool LeftOut = false;  // the dump lists more, and the reader says so
};

constexpr const char* kNewer = ": Pentium II, > Deschutes (Katmai? Williamette?)";
constexpr const char* kUnmeasured66 = ": default: 66.6 MHz, measured: error";
constexpr const char* kNoEcc = ": not present and not enabled";
constexpr const char* kEcc = ": present and enabled";

const DumpCase kDumps[] = {
    // Published dumps as collected.
    {"amd-k5-0524.txt", ": AMD 5k86PR166 Step 4", ": 116.0 MHz", "", "", ""},
    {"amd-k6-0570.txt", ": AMD K6PR166-PR300 Step 0", ": 233.0 MHz", "", "", ""},
    {"celeron-mendocino-0665.txt", kNewer, "error", ": 5.0", kUnmeasured66, kNoEcc},
    {"cyrix-6x86-0530.txt", ": Cx486SLC/DLC/S, ID=FFh, Rev=FFh", "error", "", "", ""},
    {"cyrix-mii-0600.txt", ": Cx686MX (M2) 3:1, ID=53h, Rev=08h", ": 250.0 MHz", "", "", ""},
    {"i486-0480.txt", ": i486DX4-WT-SLe", "error", "", "", ""},
    {"idt-winchip-c6-0542.txt", ": IDT C6 Step 2", ": 225.0 MHz", "", "", ""},
    // Two processors, the second line of a leaf wins.
    {"pentium-mmx-0543.txt", ": Pentium-MMX mxA3(2,5V)/xA3(2,8V)-Step", ": 200.0 MHz", "", "", ""},
    {"pentium-p54c-0526.txt", ": Pentium P54C E0-Step", ": 133.0 MHz", "", "", ""},
    {"pentium2-deschutes-0653.txt", ": Pentium II, Deschutes", "error", ": 5.0", kUnmeasured66,
     kNoEcc},
    {"pentium2-dixon-066a.txt", kNewer, "error", ": 5.0", kUnmeasured66, kNoEcc},
    {"pentium2-klamath-0633.txt", ": Pentium II, Klamath", "error", ": 2.0", kUnmeasured66, kNoEcc},
    {"pentium2-overdrive-0632.txt", ": PPRo-Overdrive, Klamath", "error", ": 5.0", kUnmeasured66,
     kNoEcc},
    {"pentiumpro-0619.txt", ": PPro", ": 200.0 MHz", ": 3.0",
     ": default: 66.6 MHz, measured:66.7 MHz", kNoEcc},
    // EVEREST reports: the clock from PerformanceFrequency, or from CPU Type
    // where the counter is a timer; ECC from BBL_CR_CTL3.
    {"p2-deschutes-0651-everest.txt", ": Pentium II, Deschutes", ": 333.0 MHz", ": 5.0",
     ": default: 66.6 MHz, measured:66.6 MHz", kEcc, 2},
    {"p3-katmai-0673-everest.txt", kNewer, ": 450.0 MHz", ": 4.5",
     ": default: 100 MHz, measured:100.0 MHz", kEcc},
    {"p3-coppermine-0683-everest.txt", kNewer, ": 730.8 MHz", ": 5.5",
     ": default: 133 MHz, measured:132.9 MHz", kEcc, 2},
    {"celeron-coppermine-0686-everest.txt", kNewer, ": 700.0 MHz", ": 10.5",
     ": default: 66.6 MHz, measured:66.7 MHz", kEcc},
    {"p3s-tualatin-06b1-everest.txt", kNewer, ": 1263.1 MHz", ": 9.5",
     ": default: 133 MHz, measured:133.0 MHz", kEcc, 2},
    {"cyrix-mediagx-0540-everest.txt", ": Cx86gx (MediaGX), ID=44h, Rev=42h", ": 233.0 MHz", "", "",
     ""},
    {"crusoe-0543-everest.txt", ": Pentium-MMX mxB1(2,5V)/xB1(2,8V)-Step", ": 1000.0 MHz", "", "",
     ""},
    // The further CPUID line forms.
    {"via-c3-ezra-067a-spaced.txt", ": unbekannt", "error", "", "", ""},
    // Family 6 model 9 is the Pentium M's number: no P6 cache controller is
    // assumed, the processor is refused.
    {"timna-0692-aida.txt", ": Intel Family 6, Model 09h", "error", "", "", ""},
    // Further published layouts, each with the values of a dump it names.
    // AIDA64: a CPUID and an MSR section per processor, notes after values.
    {"p3-katmai-0673-aida64.txt", kNewer, ": 501.2 MHz", ": 5.0",
     ": default: 100 MHz, measured:100.2 MHz", kEcc, 2},
    // AIDA64 with two notes after a value and 18 processors, 16 of them kept.
    {"meteorlake-a06a4-aida64.txt", ": Intel Family 6, Model AAh", "error", "", "", "", 16, true},
    // AIDA64's CPUID dump: "CPU#000 AffMask:" before each processor.
    {"pentiumpro-0619-affmask.txt", ": PPro", "error", ": 3.0", kUnmeasured66, kNoEcc, 2},
    // AIDA with tabs: "MSR Registers (CPU #0):", MSR lines without the colon.
    {"celeron-mendocino-0660-aida.txt", kNewer, "error", ": 4.5", kUnmeasured66, kEcc},
    // libcpuid's raw save of two processors.
    {"p3-coppermine-0683-libcpuid.txt", kNewer, "error", ": 5.0", kUnmeasured66, kNoEcc, 2},
    // cpuid -r of two processors of different steppings.
    {"pentium-mmx-0543-cpuid-r.txt", ": Pentium-MMX mxB1(2,5V)/xB1(2,8V)-Step", "error", "", "", "",
     2},
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

TEST(PublishedDumps, NameClockRatioBusAndNoAlarm) {
  const std::filesystem::path dir = std::filesystem::path(TORV_SOURCE_DIR) / "tests/data/dumps";
  for (const DumpCase& c : kDumps) {
    SCOPED_TRACE(c.File);
    ReportWorld rw;
    std::string error;
    std::string note;
    const std::shared_ptr<Machine> m = MakeSimMachine((dir / c.File).string(), error, &note);
    ASSERT_TRUE(m != nullptr) << error;
    EXPECT_EQ(m->ProcessorCount(), c.Processors);
    EXPECT_EQ(!note.empty(), c.LeftOut) << note;
    rw.platform.Devices().Register("\\\\.\\simp2", std::make_shared<MachineDevice>(m, 0x0103));
    rw.w.shell.MultiProc = m->ProcessorCount() > 1;
    ASSERT_TRUE(DrvOpen(rw.w.ForDriver(), rw.w.shell.OsKind, "\\\\.\\simp2"));
    const std::uint32_t exit = WorkerThread(rw.w.ForP2(), 1);
    const bool p6 = P2Report(rw.w.ForP2(), 1);
    const std::vector<std::string>& lines = rw.Lines();

    EXPECT_EQ(Value(lines, " Processor Core"), c.Core);
    EXPECT_EQ(Value(lines, " Actual clock rate"), c.Clock);
    EXPECT_EQ(Value(lines, " Ratio (cpu/syst)"), c.Ratio);
    EXPECT_EQ(Value(lines, " System clock rate"), c.Bus);
    EXPECT_EQ(Value(lines, " L2 ECC"), c.Ecc);
    EXPECT_EQ(p6, std::string(c.Ratio) != "");
    if (p6) {
      EXPECT_EQ(exit, kExitFinished);
    }
    EXPECT_FALSE(rw.w.p2.FlagClockHigh || rw.w.p2.FlagClockLow || rw.w.p2.FlagFake300);
    for (const std::string& l : lines) {
      for (const char* alarm : {"overclocked", "than allowed", "fake", "Autodetection"}) {
        EXPECT_EQ(l.find(alarm), std::string::npos) << l;
      }
    }
  }
}

}  // namespace
}  // namespace torv
