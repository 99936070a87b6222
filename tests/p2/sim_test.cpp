// Whole analyses of simulated machines: identification, clock, registers,
// ECC test and report through the driver protocol, from catalogue entries and
// from small profile files.
#include "machine/sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "driver/journal.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "p2_fixture.h"
#include "support/recording_device.h"

namespace torv {
namespace {

using test::Col;
using test::ReportWorld;
using test::ValueCol;
using Lines = std::vector<std::string>;

struct SimWorld : ReportWorld {
  std::uint32_t Exit = 0xFFFFFFFF;

  // Opens the simulated machine `nameOrPath` as the driver's device.
  bool Open(const std::string& nameOrPath) {
    std::string error;
    std::shared_ptr<Machine> m = MakeSimMachine(nameOrPath, error);
    EXPECT_TRUE(m != nullptr) << error;
    if (!m) return false;
    platform.Devices().Register("\\\\.\\simp2", std::make_shared<MachineDevice>(m, 0x0103));
    w.shell.MultiProc = m->ProcessorCount() > 1;
    return DrvOpen(w.ForDriver(), w.shell.OsKind, "\\\\.\\simp2");
  }
  bool Analyse(int proc = 1) {
    Clear();
    Exit = WorkerThread(w.ForP2(), proc);
    return P2Report(w.ForP2(), proc);
  }
  bool Has(const std::string& line) const {
    return std::find(Lines().begin(), Lines().end(), line) != Lines().end();
  }
};

// A profile written to a file of its own, removed again at the end.
class ProfileFile {
 public:
  explicit ProfileFile(const std::string& text) {
    path_ = std::filesystem::temp_directory_path() /
            ("torv-p2-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".txt");
    std::ofstream(path_) << text;
  }
  ~ProfileFile() { std::filesystem::remove(path_); }
  std::string Path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

const std::string kIntelLeaf0 = "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n";

TEST(SimulatedMachine, Pentium450FullReport) {
  SimWorld s;
  ASSERT_TRUE(s.Open("p2-450"));
  s.w.settings.OptExt = true;
  EXPECT_TRUE(s.Analyse());
  EXPECT_EQ(s.Exit, kExitFinished);
  const Lines want = {
      Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=2"),
      Col(" Processor Core", ": Pentium II, Deschutes"),
      Col(" L1 Data Cache", ":  16 KB, 4way associative"),
      Col(" L1 Code Cache", ":  16 KB, 4way associative"),
      Col(" L2 Cache:", ": 512 KB, 4way associative"),
      Col(" L2 Cacheable Area", ":   4 GByte"),
      Col(" L2 ECC", ": present and enabled"),
      Col(" Actual clock rate", ": 450.4 MHz"),
      Col(" System clock rate", ": default: 100 MHz, measured:100.1 MHz"),
      Col(" Ratio (cpu/syst)", ": 4.5"),
      "",
      Col(" Torvacin has detected", ": Pentium II 450.4 MHz with ECC"),
      "",
      ValueCol(": No irregularities detected"),
      "",
      " Attention, genuine 400/450 MHz types can also be jumpered for 300/350 MHz!",
      " If this will not work, the processor is probably a fake",
      std::string("   => Please notify Vemora via internet: ") + kSurveyAddress + ")",
      Col(" L2 Controller", ": ID:00, Step:01, Type:BSRAM"),
      Col(" L2 Manufacturer", ": ID:09 = Intel"),
      Col(" L2 Cache Size", ": 512 KByte, 2 banks"),
      Col(" L2 Latency Mode", ": 02"),
      Col(" L2 Latency", ": 3"),
      Col(" In Order Queue Depth", ": 8"),
      Col(" Fast Strings", ": true "),
      " MTRR0:00000000..07FFFFFF: WB    0 MB ..   128 MB F8000000",
      " MTRR1:E0000000..E1FFFFFF: WC 3584 MB ..  3616 MB FE000000",
      " Write Combining for LFB (Linear Frame Buffer) supported",
  };
  EXPECT_EQ(s.Lines(), want);
}

TEST(SimulatedMachine, CatalogueVerdicts) {
  struct Case {
    const char* Name;
    Lines Want;  // lines the report must hold
  };
  const Case cases[] = {
      {"p2-300",
       {Col(" L2 ECC", ": present and enabled"),
        Col(" System clock rate", ": default: 66.6 MHz, measured:66.8 MHz"),
        ValueCol(": No irregularities detected")}},
      {"p2-300-noecc",
       {Col(" L2 ECC", ": not present and not enabled"),
        Col(" Torvacin has detected", ": Pentium II 300.4 MHz without ECC"),
        " there exists no 300 MHz Pentium II without ECC, therefore"}},
      {"p2-233-at-300",
       {Col(" System clock rate", ": default: 66.6 MHz, measured:75.0 MHz"),
        Col(" Ratio (cpu/syst)", ": 4.0"),
        " Attention, the external system clock rate is higher than allowed",
        " there exists no 300 MHz Pentium II without ECC, therefore"}},
      {"celeron-266",
       {Col(" Processor Core", ": Pentium II, Deschutes, Celeron"), Col(" L2 Cache:", ": disabled"),
        Col(" System clock rate", ": not detectable on Celeron systems"),
        ValueCol(": No irregularities detected")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SimWorld s;
    ASSERT_TRUE(s.Open(c.Name));
    EXPECT_TRUE(s.Analyse());
    EXPECT_EQ(s.Exit, kExitFinished);
    for (const std::string& line : c.Want) EXPECT_TRUE(s.Has(line)) << line;
  }
}

TEST(SimulatedMachine, SecondProcessorOfTwo) {
  SimWorld s;
  ASSERT_TRUE(s.Open("p2-dual"));
  EXPECT_TRUE(s.Analyse(2));
  ASSERT_GE(s.Lines().size(), 2u);
  EXPECT_EQ(s.Lines()[0], Col(" Processor", ": 2"));
  EXPECT_EQ(s.Lines()[1], Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=5, Step=2"));
}

TEST(SimulatedMachine, PentiumProProfile) {
  ProfileFile f("name = Pentium Pro 200 MHz\nclock = 200000000\n" + kIntelLeaf0 +
                "CPUID 00000001: 00000619-00000000-00000000-0000FBFF\n"
                "CPUID 00000002: 03020101-00000000-00000000-06040A42\n");
  SimWorld s;
  ASSERT_TRUE(s.Open(f.Path()));
  s.w.settings.OptExt = true;
  EXPECT_TRUE(s.Analyse());
  EXPECT_EQ(s.Exit, kExitFinished);
  EXPECT_FALSE(s.w.settings.VerdictOn);
  const Lines want = {
      Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=1, Step=9"),
      Col(" Processor Core", ": PPro"),
      "",
      Col(" L1 Data Cache", ":   8 KB, 2way associative"),
      Col(" L1 Code Cache", ":   8 KB, 4way associative"),
      Col(" L2 Cache:", ": 256 KB, 4way associative"),
      Col(" L2 Cacheable Area", ": 512 MByte"),
      Col(" L2 ECC", ": not present and not enabled"),
      Col(" Actual clock rate", ": 200.0 MHz"),
      Col(" System clock rate", ": default: 66.6 MHz, measured:66.7 MHz"),
      Col(" Ratio (cpu/syst)", ": 3.0"),
      "",
      Col(" In Order Queue Depth", ": 8"),
      Col(" Fast Strings", ": true "),
      " no Write Combining for LFB (Linear Frame Buffer) supported",
  };
  EXPECT_EQ(s.Lines(), want);
}

const std::string kDeschutes = "clock = 400000000\n" + kIntelLeaf0 +
                               "CPUID 00000001: 00000651-00000000-00000000-0183FBFF\n"
                               "CPUID 00000002: 03020101-00000000-00000000-0C040843\n"
                               "MSR 0000002A: 0000-0000-C088-0000\n"
                               "MSR 0000011E: 0000-0000-0000-4527\n";

TEST(SimulatedMachine, StuckCacheControllerEndsWith6) {
  ProfileFile f(kDeschutes + "l2ecc = yes\nl2busy = stuck\n");
  SimWorld s;
  ASSERT_TRUE(s.Open(f.Path()));
  s.Analyse();
  EXPECT_EQ(s.Exit, kExitL2Access);
  EXPECT_FALSE(s.w.p2.L2AccessOk);
  EXPECT_FALSE(s.w.p2.P2Info.EccPresent);
}

// A genuine Klamath 300 whose cache cannot be reached: no statement on ECC,
// no verdict resting on it, no cache register decoded from an earlier run;
// the clock lines and the checks on them stay.
TEST(SimulatedMachine, EarlyEndsReportNothingUnreadAsRead) {
  struct Case {
    const char* Added;  // to the catalogue profile p2-300
    bool NoL2;
    std::uint32_t Exit;
    const char* EccLine;
  };
  const Case cases[] = {
      {"l2busy = stuck\n", false, kExitL2Access, ": presence test failed, no statement on ECC"},
      // The msr device of a kernel that allows no writes: the cache
      // transactions fail; without /NOL2 the ECC test's first write would
      // end the program.
      {"msraccess = readonly\n", true, kExitL2Config, ": ECC Presence not tested, ECC enabled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Added);
    ProfileFile f(std::string(FindCatalogueProfile("p2-300")) + c.Added);
    SimWorld s;
    ASSERT_TRUE(s.Open(f.Path()));
    s.w.settings.OptNoL2 = c.NoL2;
    s.w.settings.VerdictOn = !c.NoL2;
    s.w.settings.OptExt = true;
    // Registers of an earlier run that must not show.
    s.w.p2.P2Info.L2Regs = {0x2A, 0x49, 0x09};
    s.w.p2.P2Info.EccPresent = true;
    s.Analyse();
    EXPECT_EQ(s.Exit, c.Exit);
    EXPECT_TRUE(s.Has(Col(" L2 ECC", c.EccLine)));
    EXPECT_TRUE(s.Has(Col(" Actual clock rate", ": 300.4 MHz")));
    EXPECT_TRUE(s.Has(Col(" System clock rate", ": default: 66.6 MHz, measured:66.8 MHz")));
    EXPECT_TRUE(s.Has(Col(" L2", ": cache registers not read")));
    EXPECT_TRUE(s.Has(Col(" L2 Latency", ": 3")));
    for (const std::string& line : s.Lines()) {
      EXPECT_EQ(line.find("with ECC"), std::string::npos) << line;
      EXPECT_EQ(line.find("without ECC"), std::string::npos) << line;
      EXPECT_EQ(line.find("fake"), std::string::npos) << line;
      EXPECT_EQ(line.find("L2 Controller"), std::string::npos) << line;
      EXPECT_EQ(line.find("MTRR"), std::string::npos) << line;
    }
    if (!c.NoL2) {
      EXPECT_TRUE(s.Has(Col(" Torvacin has detected", ": Pentium II 300.4 MHz")));
      // The 300 MHz rule needs the ECC result: no all-clear without it.
      EXPECT_FALSE(s.Has(ValueCol(": No irregularities detected")));
    }
  }
}

TEST(SimulatedMachine, KatmaiIsAnalysedAndANewerProcessorRefused) {
  SimWorld katmai;
  ASSERT_TRUE(katmai.Open("katmai"));
  EXPECT_TRUE(katmai.Analyse());
  EXPECT_EQ(katmai.Exit, kExitFinished);
  EXPECT_TRUE(
      katmai.Has(Col(" Processor Core", ": Pentium II, > Deschutes (Katmai? Williamette?)")));
  EXPECT_TRUE(katmai.Has(Col(" L2 ECC", ": present and enabled")));

  SimWorld skylake;
  ASSERT_TRUE(skylake.Open("skylake"));
  EXPECT_FALSE(skylake.Analyse());
  EXPECT_EQ(skylake.Exit, kExitNotP6);
  EXPECT_EQ(skylake.Lines(),
            (Lines{Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=14, Step=3"),
                   Col(" Processor Core", ": Intel Family 6, Model 5Eh"),
                   Col(" Actual clock rate", ": 2200.0 MHz"), " error no Pentium II=> Break"}));
}

// Every family-6 model of GenuineIntel without extended model: the models
// with the P6 cache controller are analysed, the others (Pentium M, Core
// Solo/Duo, Core 2) refused without a single register request, ECC passes
// included.
TEST(SimulatedMachine, OnlyModelsWithTheP6CacheControllerAreAnalysed) {
  for (std::uint32_t model = 0; model < 16; ++model) {
    SCOPED_TRACE(model);
    const bool analysed = model <= 8 || model == 0x0A || model == 0x0B;
    char leaf1[64];
    std::snprintf(leaf1, sizeof leaf1, "CPUID 00000001: 000006%X2-00000000-00000000-0183FBFF\n",
                  static_cast<unsigned>(model));
    ProfileFile f("clock = 400000000\n" + kIntelLeaf0 + leaf1 +
                  "MSR 0000011E: 0000-0000-0000-4527\nl2ecc = yes\n");
    std::string error;
    std::shared_ptr<Machine> m = MakeSimMachine(f.Path(), error);
    ASSERT_TRUE(m != nullptr) << error;
    for (const std::int32_t arg : {1, 128 + 1}) {
      SimWorld s;
      auto rec = std::make_shared<test::RecordingDevice>();
      rec->Behind = std::make_shared<MachineDevice>(m, 0x0103);
      s.platform.Devices().Register("\\\\.\\rec", rec);
      ASSERT_TRUE(DrvOpen(s.w.ForDriver(), s.w.shell.OsKind, "\\\\.\\rec"));
      s.w.settings.EccMode[1] = 0;
      const std::uint32_t exit = WorkerThread(s.w.ForP2(), arg);
      int registerRequests = 0;
      for (const test::RecordedRequest& r : rec->Requests) {
        if (r.Req.Func == ReqMsrRead || r.Req.Func == ReqMsrWrite ||
            r.Req.Func == ReqL2Transaction) {
          ++registerRequests;
        }
      }
      EXPECT_EQ(exit, analysed ? kExitFinished : kExitNotP6);
      EXPECT_EQ(registerRequests > 0, analysed);
    }
  }
}

// The Pentium M, Core Solo/Duo and Core 2 of the catalogue, from published
// dumps: named like the later parts, refused before any register request.
TEST(SimulatedMachine, LaterFamilySixPartsAreRefusedWithoutARegisterRequest) {
  const struct {
    const char* Name;
    const char* Cpuid;
    const char* Core;
    const char* Clock;
  } cases[] = {
      {"banias", ": GenuineIntel, Typ=0, Family=6, Model=9, Step=5", ": Intel Family 6, Model 09h",
       ": 1302.9 MHz"},
      {"yonah", ": GenuineIntel, Typ=0, Family=6, Model=14, Step=8",
       ": Intel Family 6, Model 0Eh", ": 1333.4 MHz"},
      {"conroe", ": GenuineIntel, Typ=0, Family=6, Model=15, Step=6",
       ": Intel Family 6, Model 0Fh", ": 2937.0 MHz"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string error;
    std::shared_ptr<Machine> m = MakeSimMachine(c.Name, error);
    ASSERT_TRUE(m != nullptr) << error;
    SimWorld s;
    auto rec = std::make_shared<test::RecordingDevice>();
    rec->Behind = std::make_shared<MachineDevice>(m, 0x0103);
    s.platform.Devices().Register("\\\\.\\rec", rec);
    ASSERT_TRUE(DrvOpen(s.w.ForDriver(), s.w.shell.OsKind, "\\\\.\\rec"));
    s.w.shell.MultiProc = false;
    EXPECT_FALSE(s.Analyse());
    EXPECT_EQ(s.Exit, kExitNotP6);
    EXPECT_EQ(s.Lines(), (Lines{Col(" CPUID", c.Cpuid), Col(" Processor Core", c.Core),
                                Col(" Actual clock rate", c.Clock), " error no Pentium II=> Break"}));
    for (const test::RecordedRequest& r : rec->Requests) {
      EXPECT_TRUE(r.Req.Func != ReqMsrRead && r.Req.Func != ReqMsrWrite &&
                  r.Req.Func != ReqL2Transaction && r.Req.Func != ReqPortOut)
          << "request " << r.Req.Func;
    }
  }
}

// The cache controller's registers that an analysis changes, read straight
// from the simulated machine.
std::vector<std::uint64_t> CacheController(Machine& m) {
  std::vector<std::uint64_t> v;
  for (std::uint32_t r : {kMsrBblCtl3, kMsrBblCtl, kMsrBblDecc, kMsrBblAddr, kMsrBblD0,
                          kMsrBblD0 + 1, kMsrBblD0 + 2, kMsrBblD0 + 3}) {
    std::uint64_t x = 0;
    EXPECT_EQ(m.ReadMsr(1, r, x), 0u);
    v.push_back(x);
  }
  return v;
}

// A Klamath 300 whose cache controller registers hold values of their own.
const std::string kKlamathFound = std::string(FindCatalogueProfile("p2-300")) +
                                  "MSR 00000116: 0000-0000-0001-2340\n"
                                  "MSR 00000088: 0123-4567-89AB-CDEF\n"
                                  "MSR 0000008B: 0000-0000-0000-0042\n"
                                  "MSR 00000118: 0000-0000-0000-00A5\n"
                                  "MSR 00000119: 0000-0000-0080-0300\n";

// After a normal run, an early end, /NOL2 and a signal in the held section,
// the cache controller is as it was found; an ECC pass changes ECC checking
// (bit 5 of BBL_CR_CTL3) alone.
TEST(SimulatedMachine, CacheControllerAsFoundOnEveryWayOut) {
  struct Case {
    const char* What;
    const char* Added;  // to kKlamathFound
    std::int32_t Arg;
    bool NoL2;
    int Signal;
    std::uint32_t Exit;
  };
  const Case cases[] = {
      {"analysis", "", 1, false, 0, kExitFinished},
      {"without the ECC test", "", 1, true, 0, kExitFinished},
      {"cache controller stuck", "l2busy = stuck\n", 1, false, 0, kExitL2Access},
      {"ECC pass", "", 128 + 1, false, 0, kExitFinished},
      {"SIGINT in the held section", "", 1, false, 2, 0},
      {"SIGTERM during an ECC pass", "", 128 + 1, false, 15, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    ProfileFile f(kKlamathFound + c.Added);
    std::string error;
    std::shared_ptr<Machine> m = MakeSimMachine(f.Path(), error);
    ASSERT_TRUE(m != nullptr) << error;
    std::vector<std::uint64_t> want = CacheController(*m);
    if (c.Arg > 128 && c.Signal == 0) want[0] &= ~std::uint64_t{0x20};  // ECC checking off
    SimWorld s;
    s.platform.Devices().Register("\\\\.\\simp2", std::make_shared<MachineDevice>(m, 0x0103));
    ASSERT_TRUE(DrvOpen(s.w.ForDriver(), s.w.shell.OsKind, "\\\\.\\simp2"));
    s.w.settings.OptNoL2 = c.NoL2;
    s.w.settings.EccMode[1] = 0;
    if (c.Signal != 0) s.platform.SignalDuringHold = {c.Signal, c.Signal == 2 ? "SIGINT" : "SIGTERM"};
    std::uint32_t exit = 0xFFFF;
    ASSERT_TRUE(s.platform.RunBoundThread(0, [&] { return WorkerThread(s.w.ForP2(), c.Arg); }, exit));
    EXPECT_EQ(CacheController(*m), want);
    if (c.Signal == 0) {
      EXPECT_EQ(exit, c.Exit);
      EXPECT_EQ(s.w.hw.FatalCode, 0);
      continue;
    }
    // The thread ended after the restore; the program ends with 128 + n.
    EXPECT_EQ(s.w.hw.FatalCode, 128 + c.Signal);
    EXPECT_EQ(s.platform.ErrorLines,
              std::vector<std::string>{
                  std::string("torvacin: interrupted by ") +
                  (c.Signal == 2 ? "SIGINT" : "SIGTERM") +
                  " while the cache controller was changed: its registers were put back as "
                  "found first; ending with status " +
                  std::to_string(128 + c.Signal)});
    EXPECT_EQ(s.w.settings.EccWas[1], 0xFF) << "the pass ended before its ECC step";
  }
}

// A lock that is always free: the test's analysis holds it at once, as an
// analysis of this computer holds its own.
struct FreeLock : RegisterLock {
  Attempt TryLock(std::string&) override { return Attempt::Held; }
  void Unlock() override {}
};

// The journal, with a simulated machine standing in for this computer
// (whose registers outlive the program): kept from before the first change
// until the restore; left by an analysis that did not end (here: a refused
// write ends its thread); put back by the next analysis before it reads
// anything, which says so; kept when it cannot be put back.
TEST(SimulatedMachine, JournalOfTheCacheControllerIsPutBackByTheNextAnalysis) {
  std::string error;
  const auto run = [](std::shared_ptr<Machine> m, const std::string& journal, SimWorld& s) {
    s.platform.Devices().Register("\\\\.\\simp2", std::make_shared<MachineDevice>(m, 0x0103));
    EXPECT_TRUE(DrvOpen(s.w.ForDriver(), s.w.shell.OsKind, "\\\\.\\simp2"));
    s.w.drv.Lock = std::make_shared<FreeLock>();
    s.w.drv.KeepsJournal = true;
    s.platform.Journaled.Text = journal;
    std::uint32_t exit = 0xFFFF;
    EXPECT_TRUE(s.platform.RunBoundThread(0, [&] { return WorkerThread(s.w.ForP2(), 1); }, exit));
    return exit;
  };
  ProfileFile f(kKlamathFound);
  std::shared_ptr<Machine> machine = MakeSimMachine(f.Path(), error);
  ASSERT_TRUE(machine != nullptr) << error;
  const std::vector<std::uint64_t> found = CacheController(*machine);

  // A whole analysis: saved once, gone at its end.
  {
    SimWorld s;
    EXPECT_EQ(run(machine, "", s), kExitFinished);
    EXPECT_EQ(s.platform.Journaled.Saves, 1);
    EXPECT_EQ(s.platform.Journaled.Text, "");
    EXPECT_TRUE(s.platform.ErrorLines.empty());
  }
  // An analysis whose thread ends in the held section leaves what it found.
  std::string left;
  {
    ProfileFile readonly(kKlamathFound + "msraccess = readonly\n");
    SimWorld s;
    run(MakeSimMachine(readonly.Path(), error), "", s);
    EXPECT_EQ(s.w.hw.FatalCode, kExitMsrWrite);
    left = s.platform.Journaled.Text;
    RegisterJournal j;
    ASSERT_TRUE(ParseJournal(left, j)) << left;
    EXPECT_EQ(j.Cpu, 1);
    EXPECT_EQ(j.Sequence, "cache controller");
    std::vector<std::uint64_t> values;
    for (std::uint32_t r : {kMsrBblCtl3, kMsrBblCtl, kMsrBblDecc, kMsrBblAddr, kMsrBblD0,
                            kMsrBblD0 + 1, kMsrBblD0 + 2, kMsrBblD0 + 3}) {
      const auto e = std::find_if(j.Entries.begin(), j.Entries.end(),
                                  [r](const JournalEntry& x) { return x.Reg == r; });
      ASSERT_NE(e, j.Entries.end()) << std::hex << r;
      values.push_back(e->Value);
    }
    EXPECT_EQ(values, found);
  }
  // The next analysis finds the cache controller as a kill left it (the
  // ECC test's form): it puts the journal's values back first, says so,
  // and analyses the machine's own.
  ASSERT_EQ(machine->WriteMsr(1, kMsrBblCtl3, 0x44406), 0u);
  ASSERT_EQ(machine->WriteMsr(1, kMsrBblCtl, found[1] | 0x4001C), 0u);
  {
    SimWorld s;
    EXPECT_EQ(run(machine, left, s), kExitFinished);
    EXPECT_EQ(s.platform.ErrorLines,
              std::vector<std::string>{
                  "torvacin: found in its journal: an earlier analysis of processor 1 ended in the "
                  "middle of its changes of the cache controller; 2 of 8 values differed from "
                  "those it had found and were put back before this analysis"});
    EXPECT_EQ(s.w.hw.JournalNote.rfind("Found in its journal: ", 0), 0u);
    EXPECT_EQ(s.w.p2.P2Info.Ctl3Lo, static_cast<std::uint32_t>(found[0]));
    EXPECT_EQ(s.platform.Journaled.Text, "");
    EXPECT_EQ(CacheController(*machine), found);
  }
  // Values that cannot be put back: the journal stays, nothing is analysed.
  {
    ProfileFile readonly(kKlamathFound + "msraccess = readonly\n");
    std::shared_ptr<Machine> stuck = MakeSimMachine(readonly.Path(), error);
    RegisterJournal j;
    ASSERT_TRUE(ParseJournal(left, j));
    j.Entries[0].Value ^= 0x20;  // not what the machine holds now
    SimWorld s;
    run(stuck, FormatJournal(j), s);
    EXPECT_EQ(s.w.hw.FatalCode, kExitMsrWrite);
    EXPECT_EQ(s.platform.Journaled.Text, FormatJournal(j));
    EXPECT_EQ(s.w.p2.P2Info.Ctl3Lo, 0u) << "nothing read";
  }
  // A simulated machine of its own (no KeepsJournal) keeps none.
  {
    SimWorld s;
    ASSERT_TRUE(s.Open("p2-300"));
    std::uint32_t exit = 0;
    ASSERT_TRUE(s.platform.RunBoundThread(0, [&] { return WorkerThread(s.w.ForP2(), 1); }, exit));
    EXPECT_EQ(s.platform.Journaled.Saves, 0);
  }
}

TEST(SimulatedMachineDeathTest, SignalInTheHeldSectionEndsWith128PlusItsNumber) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SimWorld s;
  ASSERT_TRUE(s.Open("p2-300"));
  s.platform.SignalDuringHold = {3, "SIGQUIT"};
  std::uint32_t exit = 0;
  ASSERT_TRUE(s.platform.RunBoundThread(0, [&] { return WorkerThread(s.w.ForP2(), 1); }, exit));
  EXPECT_EXIT(EndFatally(s.w.ForDriver()), ::testing::ExitedWithCode(131), "");
}

TEST(SimulatedMachine, EccOnWithoutEccSramsEndsWith8) {
  ProfileFile f(kDeschutes + "l2ecc = no\n");
  SimWorld s;
  ASSERT_TRUE(s.Open(f.Path()));
  s.w.settings.EccMode[1] = 1;
  EXPECT_EQ(WorkerThread(s.w.ForP2(), 128 + 1), kExitEccMissing);
  EXPECT_EQ(s.w.settings.EccWas[1], 1);
  // The next analysis finds BBL_CR_CTL3 as it was: ECC checking still on.
  s.Analyse();
  EXPECT_TRUE(s.Has(Col(" L2 ECC", ": not present, but enabled")));
  EXPECT_TRUE(s.Has(ValueCol(": was enabled")));
}

TEST(SimulatedMachine, EccPassLeavesTheNewStateForTheNextRun) {
  ProfileFile f(kDeschutes + "l2ecc = yes\n");
  SimWorld s;
  ASSERT_TRUE(s.Open(f.Path()));
  s.w.settings.EccMode[1] = 0;
  EXPECT_EQ(WorkerThread(s.w.ForP2(), 128 + 1), kExitFinished);
  s.Analyse();
  EXPECT_EQ(s.Exit, kExitFinished);
  EXPECT_TRUE(s.Has(Col(" L2 ECC", ": present, but not enabled")));
  EXPECT_TRUE(s.Has(ValueCol(": was enabled")));
}

TEST(SimulatedMachineDeathTest, RefusedWriteInTheEccTestEndsWith7) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ProfileFile f(std::string(FindCatalogueProfile("p2-300")) + "msraccess = readonly\n");
  SimWorld s;
  ASSERT_TRUE(s.Open(f.Path()));
  EXPECT_EXIT(WorkerThread(s.w.ForP2(), 1), ::testing::ExitedWithCode(7),
              "writing model-specific register 0000011E failed: register write denied");
}

TEST(SimulatedMachineDeathTest, DeniedRegisterAccessEndsWith8) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ProfileFile f(kDeschutes + "msraccess = denied\n");
  SimWorld s;
  ASSERT_TRUE(s.Open(f.Path()));
  EXPECT_EXIT(WorkerThread(s.w.ForP2(), 1), ::testing::ExitedWithCode(8), "");
}

}  // namespace
}  // namespace torv
