// The register probe and the ECC presence test over a simulated Pentium II
// served through the driver protocol.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "machine/machine.h"
#include "p2/p2info.h"
#include "p2_fixture.h"
#include "probe_machine.h"

namespace torv {
namespace {

using test::ProbeWorld;
using U64 = std::vector<std::uint64_t>;

constexpr std::uint64_t kCtl3 = 0x0000'0010'0004'453Full;  // as the machine starts
// BBL_CR_CTL as the machine starts: the ECC test reads it before its
// first transaction and puts it back at the end.
constexpr std::uint64_t kCtlFound = 0x00800300;

class Probe : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  // A machine made afresh from the profile, opened as the driver.
  void Start() { ASSERT_TRUE(p.Start()) << "the driver layer cannot open the device"; }
  std::uint32_t Run(std::int32_t arg) {
    p.m->Reads.clear();
    p.m->Writes.clear();
    p.m->Commands.clear();
    p.platform.SleptMs = 0;
    return WorkerThread(p.w.ForP2(), arg);
  }
  ProbeWorld p;
};

TEST_F(Probe, PentiumIIAnalysisRun) {
  p.SetMsr(kMsrMtrrBase0, 0x00000006);
  p.SetMsr(kMsrMtrrBase0 + 1, 0x0000000F'F8000800ull);
  p.SetMsr(kMsrMtrrBase0 + 14, 0xE0000001);
  p.SetMsr(kMsrMtrrBase0 + 15, 0xFE000800);
  Start();
  EXPECT_EQ(Run(1), kExitFinished);
  const TP2Info& info = p.Info();
  EXPECT_EQ(info.Cpu.ClassCode, kClassPentiumII);
  EXPECT_EQ(info.Cpu.Model, 5);
  EXPECT_DOUBLE_EQ(p.w.hw.CpuClockHz, 24'717'126 * 18.206);
  EXPECT_EQ(info.CoreClock, p.w.hw.CpuClockHz);
  EXPECT_EQ(p.platform.SleptMs, 10);
  EXPECT_EQ(info.PowerOnLo, 0x01882000u);
  EXPECT_EQ(info.Ctl3Lo, 0x0004453Fu);
  EXPECT_EQ(info.Ctl3Hi, 0x10u);
  EXPECT_TRUE(info.L2Present);
  EXPECT_TRUE(info.EccEnabled);
  EXPECT_TRUE(info.EccPresent);
  EXPECT_EQ(info.RatioCode, 6);
  EXPECT_EQ(info.Bus100, 1);
  EXPECT_EQ(info.L2Regs, p.profile.Processors[0].L2Reg);
  EXPECT_EQ(info.MtrrCapLo, 0x508u);
  EXPECT_EQ(info.VarMtrr[0].MaskLo, 0xF8000800u);
  EXPECT_EQ(info.VarMtrr[0].MaskHi, 0xFu);
  EXPECT_EQ(info.VarMtrr[7].BaseLo, 0xE0000001u);
  EXPECT_EQ(info.VarMtrr[7].MaskLo, 0xFE000800u);
  EXPECT_FALSE(p.m->WasRead(kMsrMtrrBase0 + 16));
  EXPECT_TRUE(p.w.settings.VerdictOn);
  // Only the ECC test touches BBL_CR_CTL3: its test setting, then the value found.
  EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3), (U64{0x0000'0010'0004'441Eull, kCtl3}));
  EXPECT_EQ(p.m->Reg(kMsrBblCtl3), kCtl3);
  for (int cpu : p.m->Cpus) EXPECT_EQ(cpu, 1);
}

// Every register an analysis changes is written while the signals that
// would end the program wait, and the cache controller is left as found:
// the address, data, ECC and control registers as well as BBL_CR_CTL3.
TEST_F(Probe, ChangesOnlyInsideTheHeldSectionAndPutsEverythingBack) {
  const std::uint32_t kRestored[] = {kMsrBblAddr,    kMsrBblD0,   kMsrBblD0 + 1, kMsrBblD0 + 2,
                                     kMsrBblD0 + 3,  kMsrBblDecc, kMsrBblCtl,    kMsrBblCtl3};
  for (std::uint32_t r : kRestored) {
    if (r != kMsrBblCtl && r != kMsrBblCtl3) p.SetMsr(r, 0x1111'0000ull + r);
  }
  Start();
  std::map<std::uint32_t, std::uint64_t> found;
  for (std::uint32_t r : kRestored) found[r] = p.m->Reg(r);
  p.m->Holder = &p.platform;
  for (const bool noL2 : {false, true}) {
    SCOPED_TRACE(noL2);
    p.w.settings.OptNoL2 = noL2;
    p.m->WritesHeld.clear();
    EXPECT_EQ(Run(1), kExitFinished);
    ASSERT_FALSE(p.m->Writes.empty());
    for (std::size_t i = 0; i < p.m->Writes.size(); ++i) {
      EXPECT_TRUE(p.m->WritesHeld[i]) << std::hex << p.m->Writes[i].first;
    }
    EXPECT_FALSE(p.platform.SignalsHeld);
    for (std::uint32_t r : kRestored) EXPECT_EQ(p.m->Reg(r), found.at(r)) << std::hex << r;
  }
  EXPECT_EQ(p.platform.SignalHolds, 2);
}

TEST_F(Probe, RunsOnTheAnnouncedProcessor) {
  EXPECT_EQ(Run(3), kExitFinished);
  ASSERT_FALSE(p.m->Cpus.empty());
  for (int cpu : p.m->Cpus) EXPECT_EQ(cpu, 3);
}

TEST_F(Probe, AnalysisRunNeverSwitchesEcc) {
  for (std::uint8_t mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    p.w.settings.EccMode[1] = mode;
    for (SimProcessor& c : p.profile.Processors) c.L2Ecc = mode != 1;
    Start();
    p.w.settings.OptNoL2 = false;
    EXPECT_EQ(Run(1), kExitFinished);
    EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3), (U64{0x0000'0010'0004'441Eull, kCtl3}));
    p.w.settings.OptNoL2 = true;  // no ECC test: BBL_CR_CTL3 is not written at all
    EXPECT_EQ(Run(1), kExitFinished);
    EXPECT_TRUE(p.m->WritesTo(kMsrBblCtl3).empty());
    EXPECT_EQ(p.w.settings.EccWas[1], 0xFF);
  }
}

TEST_F(Probe, NoL2SkipsTheEccTestButReadsTheRegisters) {
  p.w.settings.OptNoL2 = true;
  p.Info().EccPresent = true;
  EXPECT_EQ(Run(1), kExitFinished);
  EXPECT_FALSE(p.Info().EccPresent);
  EXPECT_EQ(p.Info().L2Regs, p.profile.Processors[0].L2Reg);
  EXPECT_EQ(p.m->Commands, std::vector<std::uint32_t>(9, 2));
  EXPECT_TRUE(p.m->WritesTo(kMsrBblCtl3).empty());
  EXPECT_TRUE(p.m->WritesTo(kMsrBblDecc).empty());
}

TEST_F(Probe, NoCacheSkipsTheEccTestButReadsTheRegisters) {
  p.SetMsr(kMsrBblCtl3, 0x00804501);  // bit 23: no second-level cache
  Start();
  EXPECT_EQ(Run(1), kExitFinished);
  EXPECT_FALSE(p.Info().L2Present);
  EXPECT_FALSE(p.Info().EccPresent);
  EXPECT_EQ(p.Info().L2Regs, p.profile.Processors[0].L2Reg);
  EXPECT_TRUE(p.m->WritesTo(kMsrBblCtl3).empty());
  EXPECT_TRUE(p.m->WritesTo(kMsrBblDecc).empty());
  EXPECT_EQ(p.m->Commands, std::vector<std::uint32_t>(9, 2));
}

TEST_F(Probe, NoVariableRangesReadsNone) {
  p.SetMsr(kMsrMtrrCap, 0x00000500);
  Start();
  EXPECT_EQ(Run(1), kExitFinished);
  for (std::uint32_t r = kMsrMtrrBase0; r < kMsrMtrrBase0 + 32; ++r) {
    EXPECT_FALSE(p.m->WasRead(r));
  }
}

TEST_F(Probe, EccPassSwitchesBit5WithHighHalfZero) {
  struct Case {
    std::uint8_t Mode;
    std::uint32_t Ctl3Lo;  // as found
    std::uint64_t Written;
    std::uint8_t Was;
  };
  const Case cases[] = {
      {2, 0x0004451F, 0x0004453F, 0},
      {1, 0x0004451F, 0x0004453F, 0},
      {0, 0x0004453F, 0x0004451F, 1},
      {2, 0x0004453F, 0x0004453F, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Mode);
    p.SetMsr(kMsrBblCtl3, (0x77ull << 32) | c.Ctl3Lo);
    Start();
    p.w.settings.EccMode[2] = c.Mode;
    p.w.settings.EccWas[2] = 0xFF;
    EXPECT_EQ(Run(128 + 2), kExitFinished);
    const U64 writes = p.m->WritesTo(kMsrBblCtl3);
    ASSERT_EQ(writes.size(), 3u);  // test setting, restore, the pass
    EXPECT_EQ(writes[2], c.Written);
    EXPECT_EQ(p.w.settings.EccWas[2], c.Was);
    EXPECT_EQ(p.Info().EccEnabled, (c.Written & 0x20) != 0);
    EXPECT_EQ(p.Info().Ctl3Lo, static_cast<std::uint32_t>(c.Written));
  }
}

TEST_F(Probe, EccPassWithoutModeWritesNothing) {
  EXPECT_EQ(Run(128 + 1), kExitFinished);
  EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3).size(), 2u);
  EXPECT_EQ(p.w.settings.EccWas[1], 0xFF);
}

TEST_F(Probe, EccOnWithoutEccEndsWith8AndWritesNothing) {
  for (SimProcessor& c : p.profile.Processors) c.L2Ecc = false;
  Start();
  p.w.settings.EccMode[1] = 1;
  EXPECT_EQ(Run(128 + 1), kExitEccMissing);
  EXPECT_EQ(p.w.settings.EccWas[1], 1);  // ECC was on
  EXPECT_FALSE(p.Info().EccPresent);
  EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3), (U64{0x0000'0010'0004'441Eull, kCtl3}));
  // Forced on (mode 2) the same pass goes through and writes bit 5.
  p.w.settings.EccMode[1] = 2;
  EXPECT_EQ(Run(128 + 1), kExitFinished);
  EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3).back(), 0x0004453Full);
}

TEST_F(Probe, ProcessorsWithoutEccEntryGetNoEccStep) {
  // 133 is processor 5 and 143 processor 15 of a 16-processor machine; neither
  // has an /ECC= entry, so the pass reads but does not switch.
  p.w.settings.EccMode = {0, 2, 2, 2, 2};
  for (std::int32_t arg : {128 + 5, 128 + 15}) {
    SCOPED_TRACE(arg);
    EXPECT_EQ(Run(arg), kExitFinished);
    EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3).size(), 2u);
    for (int cpu : p.m->Cpus) EXPECT_EQ(cpu, arg - 128);
    p.m->Cpus.clear();
  }
  // 144 is processor 0, which no machine has: the driver cannot reach it.
  EXPECT_EQ(Run(128 + 16), kExitCpuidFault);
  EXPECT_TRUE(p.m->Writes.empty());
  EXPECT_EQ(p.w.settings.EccWas, (std::array<std::uint8_t, 5>{0, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Probe, PentiumProPath) {
  p.SetVendor("GenuineIntel", 0x0619);  // family 6, model 1, stepping 9
  Start();
  p.w.settings.EccMode[1] = 2;
  p.Info().L2Regs[0] = 0x55;
  p.Info().EccPresent = true;
  EXPECT_EQ(Run(128 + 1), kExitFinished);
  const TP2Info& info = p.Info();
  EXPECT_EQ(info.Cpu.ClassCode, kClassPPro);
  EXPECT_FALSE(p.w.settings.VerdictOn);
  EXPECT_TRUE(info.L2Present);
  EXPECT_EQ(info.Ctl3Lo, 0u);
  EXPECT_EQ(info.L2Regs[3], 3);
  EXPECT_EQ(info.L2Regs[0], 0x55);  // the other registers are not touched
  EXPECT_TRUE(info.EccPresent);
  EXPECT_EQ(info.RatioCode, 1);
  EXPECT_TRUE(p.m->WasRead(kMsrPowerOn));
  EXPECT_TRUE(p.m->WasRead(kMsrMtrrCap));
  EXPECT_FALSE(p.m->WasRead(kMsrBblCtl3));
  // No BBL_CR_CTL3 was read, so none is written back, and no ECC state is stored.
  EXPECT_TRUE(p.m->WritesTo(kMsrBblCtl3).empty());
  EXPECT_TRUE(p.m->Commands.empty());
  EXPECT_EQ(p.w.settings.EccWas[1], 0xFF);
  // The verdict stays off for the rest of the program.
  p.SetVendor("GenuineIntel", 0x0652);
  Start();
  EXPECT_EQ(Run(1), kExitFinished);
  EXPECT_FALSE(p.w.settings.VerdictOn);
}

TEST_F(Probe, EarlyEnds) {
  {
    SCOPED_TRACE("driver cannot reach the processor");
    p.profile.Processors.resize(1);  // processor 2 is not there
    Start();
    EXPECT_EQ(Run(2), kExitCpuidFault);
    EXPECT_TRUE(p.w.hw.CpuidFault);
    EXPECT_EQ(p.m->ClockCalls, 0);
  }
  {
    SCOPED_TRACE("no time-stamp counter");
    p.SetCpuid(1, {test::kProbeSignature, 0, 0, 0x0183FBEF});
    Start();
    p.w.hw.CpuClockHz = 123.0;
    EXPECT_EQ(Run(1), kExitNoCpuid);
    EXPECT_EQ(p.w.hw.CpuClockHz, 123.0);
    EXPECT_EQ(p.m->ClockCalls, 0);
    EXPECT_TRUE(p.m->Reads.empty());
  }
  {
    SCOPED_TRACE("not a Pentium Pro or Pentium II");
    p.SetVendor("AuthenticAMD", 0x058C);  // K6-2
    Start();
    EXPECT_EQ(Run(1), kExitNotP6);
    EXPECT_EQ(p.m->ClockCalls, 1);
    EXPECT_TRUE(p.m->Reads.empty());
  }
}

TEST_F(Probe, RefusedProcessorReport) {
  p.SetVendor("AuthenticAMD", 0x058C);
  Start();
  ListBox box;
  ReportInit(p.w.report, box, false, true, true);
  ReportClear(p.w.report);
  EXPECT_EQ(Run(1), kExitNotP6);
  EXPECT_FALSE(P2Report(p.w.ForP2(), 1));
  ASSERT_EQ(box.Items.size(), 4u);
  EXPECT_EQ(box.Items[0], test::Col(" CPUID", ": AuthenticAMD, Typ=0, Family=5, Model=8, Step=12"));
  EXPECT_EQ(box.Items[1].substr(0, 33), test::Col(" Processor Core", ": AMD K6"));
  EXPECT_EQ(box.Items[2], test::Col(" Actual clock rate", ": 450.0 MHz"));
  EXPECT_EQ(box.Items[3], " error no Pentium II=> Break");
}

TEST_F(Probe, CacheAccessFailures) {
  {
    SCOPED_TRACE("first configuration read of the ECC test");
    p.m->StuckFrom = 0;
    EXPECT_EQ(Run(1), kExitL2Access);
    EXPECT_FALSE(p.w.p2.L2AccessOk);
    EXPECT_EQ(p.Info().L2Regs, (std::array<std::uint8_t, 9>{}));
    EXPECT_EQ(p.Info().RatioCode, 6);  // assigned before the early end
    EXPECT_FALSE(p.m->WasRead(kMsrMtrrCap));
  }
  {
    SCOPED_TRACE("fifth configuration register");
    ProbeWorld q;
    ASSERT_TRUE(q.Start());
    q.m->StuckFrom = 3 + 4;  // three transactions of the ECC test, then registers 0..3
    EXPECT_EQ(WorkerThread(q.w.ForP2(), 1), kExitL2Config);
    EXPECT_TRUE(q.w.p2.L2AccessOk);
    EXPECT_FALSE(q.w.p2.L2ReadOk);
    EXPECT_EQ(q.Info().L2Regs, (std::array<std::uint8_t, 9>{0x2A, 0x49, 0x09, 0x03}));
  }
  {
    SCOPED_TRACE("with /NOL2 the first register");
    ProbeWorld q;
    ASSERT_TRUE(q.Start());
    q.w.settings.OptNoL2 = true;
    q.m->StuckFrom = 0;
    EXPECT_EQ(WorkerThread(q.w.ForP2(), 1), kExitL2Config);
  }
}

TEST_F(Probe, TestModeSendsOnlyTheProcessorAnnouncement) {
  p.w.settings.TestNo = 5;
  p.Info().L2Regs[4] = 9;
  EXPECT_EQ(Run(1), kExitFinished);
  EXPECT_EQ(p.m->CpuidCalls, 0);
  EXPECT_EQ(p.m->ClockCalls, 0);
  EXPECT_TRUE(p.m->Reads.empty());
  EXPECT_TRUE(p.m->Writes.empty());
  EXPECT_EQ(p.platform.SleptMs, 0);
  const TP2Info& info = p.Info();
  EXPECT_FALSE(info.L2Present);
  EXPECT_EQ(info.Ctl3Lo, 0x804501u);
  EXPECT_EQ(info.Cpu.L2KB, 0);
  EXPECT_EQ(info.L2Regs[4], 0);  // cleared as a whole
  EXPECT_EQ(info.CoreClock, 0.0);
  EXPECT_EQ(p.w.hw.CpuClockHz, 266'000'000.0);
}

// ---- the ECC presence test -------------------------------------------------

class EccTest : public Probe {
 protected:
  void SetUp() override { Restart(); }
  // A machine made afresh from the profile, processor 1 announced.
  void Restart() {
    Start();
    DrvSetCpu(p.w.ForDriver(), 1);
    p.m->Writes.clear();
  }
  bool Test(bool& ok) {
    ok = true;
    return L2EccTest(p.w.ForP2(), ok);
  }
};

TEST_F(EccTest, WithEccSrams) {
  bool ok = false;
  EXPECT_TRUE(Test(ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(p.w.p2.EccReadBack, 0x51786A77u);
  // Test setting of BBL_CR_CTL3, bit 18 of BBL_CR_CTL, the DECC pattern; then
  // both registers back as found.
  EXPECT_EQ(p.m->WritesTo(kMsrBblCtl3), (U64{0x0000'0010'0004'441Eull, kCtl3}));
  EXPECT_EQ(p.m->Reg(kMsrBblCtl3), kCtl3);
  // BBL_CR_CTL: the configuration read's command 2, bit 18 on the value
  // found, the line write and the line read (way 0), then the value found.
  EXPECT_EQ(p.m->WritesTo(kMsrBblCtl),
            (U64{0x00800002, kCtlFound | 0x40000, 0x0084001C, 0x0084000E, kCtlFound}));
  EXPECT_EQ(p.m->WritesTo(kMsrBblDecc), (U64{0x51786A77}));
  EXPECT_EQ(p.m->Commands, (std::vector<std::uint32_t>{0x02, 0x1C, 0x0E}));
  EXPECT_EQ(p.m->LineData, (U64{0x7A766B20'7A766B20ull, 0x7A766B20'7A766B20ull}));
}

TEST_F(EccTest, KeepMaskOfCtl3) {
  p.SetMsr(kMsrBblCtl3, 0xABCDEF12'FFFFFFFFull);
  Restart();
  bool ok = false;
  Test(ok);
  const U64 w = p.m->WritesTo(kMsrBblCtl3);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0], 0xABCDEF12'FF8C461Eull);  // (FFFFFFFF and FF88061E) or 00044000
  EXPECT_EQ(w[1], 0xABCDEF12'FFFFFFFFull);
}

TEST_F(EccTest, WithoutEccSrams) {
  for (SimProcessor& c : p.profile.Processors) c.L2Ecc = false;
  Restart();
  bool ok = false;
  EXPECT_FALSE(Test(ok));
  EXPECT_TRUE(ok);
  EXPECT_EQ(p.w.p2.EccReadBack, 0u);
  EXPECT_EQ(p.m->Reg(kMsrBblCtl3), kCtl3);
  EXPECT_EQ(p.m->Reg(kMsrBblCtl), kCtlFound);
}

TEST_F(EccTest, OneBitDifferentIsNoEcc) {
  for (std::uint32_t flip : {0x1u, 0x80000000u}) {
    p.m->EccFlip = flip;
    bool ok = false;
    EXPECT_FALSE(Test(ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(p.w.p2.EccReadBack, 0x51786A77u ^ flip);
  }
}

TEST_F(EccTest, StuckBusyRestoresBothRegisters) {
  struct Case {
    int StuckFrom;
    std::size_t CtlWrites;  // BBL_CR_CTL writes by the test itself
  };
  // Stuck at the configuration read: the transaction's command write, then
  // the value found. Stuck at the line write or the line read: the same after
  // the bit-18 write and the transactions' own writes.
  const Case cases[] = {{0, 2}, {1, 4}, {2, 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.StuckFrom);
    ProbeWorld q;
    ASSERT_TRUE(q.Start());
    DrvSetCpu(q.w.ForDriver(), 1);
    q.m->StuckFrom = c.StuckFrom;
    q.w.p2.EccReadBack = 0x1234;
    bool ok = true;
    EXPECT_FALSE(L2EccTest(q.w.ForP2(), ok));
    EXPECT_FALSE(ok);
    EXPECT_EQ(q.w.p2.EccReadBack, 0x1234u);  // no read-back happened
    EXPECT_EQ(q.m->Reg(kMsrBblCtl3), kCtl3);
    EXPECT_EQ(q.m->WritesTo(kMsrBblCtl3).back(), kCtl3);
    EXPECT_EQ(q.m->WritesTo(kMsrBblCtl).size(), c.CtlWrites);
    EXPECT_EQ(q.m->Reg(kMsrBblCtl), kCtlFound);
    EXPECT_EQ(q.m->WritesTo(kMsrBblCtl).back(), kCtlFound);
    EXPECT_FALSE(q.m->WasRead(kMsrBblDecc));
  }
}

// ---- a failing register access inside the ECC test ------------------------

// The program's end as an exception: the test sees the registers as the
// program leaves them when it ends.
struct ProcessEnd {
  int Code;
};
struct EndingPlatform : FakePlatform {
  [[noreturn]] void ExitProcess(int code) override { throw ProcessEnd{code}; }
};

TEST(EccTestRegisterFailure, BothRegistersBackAsFoundBeforeTheEnd) {
  struct Case {
    const char* What;
    std::uint32_t FailReadReg;   // 0: none
    std::uint32_t FailWriteReg;  // 0: none
    int FailWriteNo;             // which write to that register fails (0-based)
    int Exit;
    bool CtlBack;  // false when it is BBL_CR_CTL's own restore that fails
  };
  // BBL_CR_CTL's writes: the configuration read's command, bit 18, the line
  // write's and the line read's commands, the restore.
  const Case cases[] = {
      {"test setting of BBL_CR_CTL3", 0, kMsrBblCtl3, 0, 7, true},
      {"bit 18 of BBL_CR_CTL", 0, kMsrBblCtl, 1, 7, true},
      {"pattern into BBL_CR_DECC", 0, kMsrBblDecc, 0, 7, true},
      {"read-back of BBL_CR_DECC", kMsrBblDecc, 0, 0, 8, true},
      {"restore of BBL_CR_CTL", 0, kMsrBblCtl, 4, 7, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    test::ProbeWorldOn<EndingPlatform> q;
    ASSERT_TRUE(q.Start());
    World& w = q.w;
    const std::shared_ptr<test::ObservedMachine>& m = q.m;
    DrvSetCpu(w.ForDriver(), 1);
    if (c.FailReadReg != 0) m->FailRead = {c.FailReadReg};
    if (c.FailWriteReg != 0) m->FailWriteAt[c.FailWriteReg] = c.FailWriteNo;
    bool ok = true;
    int exit = -1;
    try {
      L2EccTest(w.ForP2(), ok);
    } catch (const ProcessEnd& e) {
      exit = e.Code;
    }
    EXPECT_EQ(exit, c.Exit);
    // Each register written back once, as found, before the end.
    EXPECT_EQ(m->WritesTo(kMsrBblCtl3).back(), kCtl3);
    EXPECT_EQ(m->Reg(kMsrBblCtl3), kCtl3);
    EXPECT_EQ(m->WritesTo(kMsrBblCtl).back(), kCtlFound);
    if (c.CtlBack) {
      EXPECT_EQ(m->Reg(kMsrBblCtl), kCtlFound);
    }
  }
}

// ---- processors newer than the P6 generation -------------------------------

TEST_F(Probe, NewerProcessorsAreRefusedWithoutTouchingARegister) {
  struct Case {
    const char* Vendor;
    std::uint32_t Signature;
    const char* Name;  // the processor line's value
  };
  const Case cases[] = {
      {"GenuineIntel", 0x000506E3, "Intel Family 6, Model 5Eh"},  // Skylake: extended model 5
      {"GenuineIntel", 0x000106A5, "Intel Family 6, Model 1Ah"},  // Nehalem: extended model 1
      {"AuthenticAMD", 0x00100F42, "unbekannt"},                  // Phenom II: extended family 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Signature);
    // A Pentium II analysed first leaves its class in the record.
    p.SetVendor("GenuineIntel", 0x0652);
    Start();
    ASSERT_EQ(Run(1), kExitFinished);
    p.SetVendor(c.Vendor, c.Signature);
    Start();
    ListBox box;
    ReportInit(p.w.report, box, false, true, true);
    ReportClear(p.w.report);
    EXPECT_EQ(Run(1), kExitNotP6);
    EXPECT_TRUE(p.m->Reads.empty());
    EXPECT_TRUE(p.m->Writes.empty());
    EXPECT_FALSE(P2Report(p.w.ForP2(), 1));
    ASSERT_EQ(box.Items.size(), 4u);
    EXPECT_EQ(box.Items[1], test::Col(" Processor Core", std::string(": ") + c.Name));
    EXPECT_EQ(box.Items[3], " error no Pentium II=> Break");
  }
  // Extended model 0 keeps the family-6 names and the analysis: a Katmai.
  p.SetVendor("GenuineIntel", 0x0673);
  Start();
  EXPECT_EQ(Run(1), kExitFinished);
  EXPECT_EQ(p.Info().Cpu.CpuName.view(), "PII ??");
  EXPECT_EQ(p.Info().Cpu.ClassCode, kClassPentiumII);
}

// ---- fatal register failures -----------------------------------------------

using ProbeDeathTest = Probe;

TEST_F(ProbeDeathTest, FailingRegisterReadEndsTheProgramWith8) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (std::uint32_t reg : {kMsrPowerOn, kMsrBblCtl3, kMsrMtrrCap}) {
    p.m->FailRead = {reg};
    EXPECT_EXIT(WorkerThread(p.w.ForP2(), 1), ::testing::ExitedWithCode(8), "") << reg;
  }
}

}  // namespace
}  // namespace torv
