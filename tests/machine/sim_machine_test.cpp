#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/hw.h"
#include "driver/loader.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "platform/fake_platform.h"
#include "app/world.h"

namespace torv {
namespace {

std::shared_ptr<Machine> FromText(const std::string& text) {
  SimProfile p;
  std::string error;
  EXPECT_TRUE(ParseProfile(text, "test.profile", p, error)) << error;
  return MakeSimMachine(p);
}

// A world whose driver is the simulated machine, as /SIM= gives it.
struct SimWorld {
  FakePlatform platform;
  World w{platform};

  explicit SimWorld(std::shared_ptr<Machine> m) {
    w.shell.OsKind = kOsLinux;
    w.machine = std::move(m);
    std::uint32_t code = 1;
    LoadDriver(w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
    EXPECT_EQ(code, 0u);
    DrvSetCpu(w.ForDriver(), 1);
  }
  explicit SimWorld(const std::string& text) : SimWorld(FromText(text)) {}

  std::uint64_t Msr(std::uint32_t reg) {
    std::uint32_t lo = 0, hi = 0;
    ReadMsr(w.ForDriver(), reg, lo, hi);
    return static_cast<std::uint64_t>(hi) << 32 | lo;
  }

  // The cache test of the analysis: a line written with an ECC pattern in
  // BBL_CR_DECC and read back; true when the pattern comes back.
  bool EccStored(std::uint32_t& dataBack) {
    WriteMsr(w.ForDriver(), kMsrBblDecc, 0x51786A77, 0);
    bool ok = false;
    L2Transaction(w.ForDriver(), 0x1C, 0, 0, 0, 0x7A766B20, 0x7A766B20, ok);
    EXPECT_TRUE(ok);
    WriteMsr(w.ForDriver(), kMsrBblDecc, 0, 0);
    L2Transaction(w.ForDriver(), 0x0E, 0, 0, 0, 0, 0, ok);
    EXPECT_TRUE(ok);
    dataBack = static_cast<std::uint32_t>(Msr(kMsrBblD0 + 3));
    return static_cast<std::uint32_t>(Msr(kMsrBblDecc)) == 0x51786A77u;
  }
};

TEST(SimCache, LineComesBackWithTheEccOnlyWhereTheSramsStoreIt) {
  for (bool ecc : {true, false}) {
    SimWorld t(std::string("l2ecc = ") + (ecc ? "yes" : "no"));
    std::uint32_t data = 0;
    EXPECT_EQ(t.EccStored(data), ecc);
    EXPECT_EQ(data, 0x7A766B20u) << "the data itself is stored either way";
  }
}

TEST(SimCache, LinesAreKeptBySetAndWay) {
  SimWorld t("l2ecc = yes");
  bool ok = false;
  L2Transaction(t.w.ForDriver(), 0x1C, 0, 0x20, 0, 0x11111111, 0, ok);
  L2Transaction(t.w.ForDriver(), 0x1C, 1, 0x20, 0, 0x22222222, 0, ok);
  L2Transaction(t.w.ForDriver(), 0x0E, 0, 0x20, 0, 0, 0, ok);
  EXPECT_EQ(t.Msr(kMsrBblD0), 0x11111111u);
  L2Transaction(t.w.ForDriver(), 0x0E, 1, 0x20, 0, 0, 0, ok);
  EXPECT_EQ(t.Msr(kMsrBblD0), 0x22222222u);
  L2Transaction(t.w.ForDriver(), 0x0E, 0, 0x40, 0, 0, 0, ok);  // never written
  EXPECT_EQ(t.Msr(kMsrBblD0), 0u);
}

TEST(SimCache, ConfigurationRegistersAndStuckBusy) {
  SimWorld t("l2reg 0 = 2A\nl2reg 2 = 0x09\nl2reg 8 = FFh\n");
  bool ok = false;
  EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 0, ok), 0x2A);
  EXPECT_TRUE(ok);
  EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 2, ok), 0x09);
  EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 8, ok), 0xFF);
  EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 1, ok), 0x00);
  EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 12, ok), 0x00);  // beyond the nine
  EXPECT_TRUE(ok);

  SimWorld stuck("l2busy = stuck");
  ReadL2Config(stuck.w.ForDriver(), 0, ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(stuck.w.drv.DrvLastError, kErrL2Busy);
  EXPECT_EQ(stuck.Msr(kMsrBblBusy) & 1, 1u);
}

TEST(SimRegisters, P6SetExistsOthersFault) {
  SimWorld t("MSR 00000017: 0012-0000-0000-0000 [PlatID = 0]\n");
  EXPECT_EQ(t.Msr(kMsrMtrrCap), 0x508u);
  for (std::uint32_t reg : {0x2Au, 0x1E0u, 0x11Eu, 0x200u, 0x20Fu, 0x88u, 0x8Bu, 0x116u, 0x118u,
                            0x119u, 0x11Au, 0x11Bu}) {
    EXPECT_EQ(t.Msr(reg), 0u) << std::hex << reg;
  }
  EXPECT_EQ(t.Msr(0x17), 0x0012000000000000ull);  // named by the profile

  std::uint32_t lo = 0, hi = 0, status = 0;
  for (std::uint32_t reg : {0x10u, 0x210u, 0x1FFu, 0xC0000080u}) {
    ReadMsrRaw(t.w.ForDriver(), reg, lo, hi, status);
    EXPECT_EQ(status, 1u) << std::hex << reg;
    EXPECT_EQ(t.w.drv.DrvLastError, kErrRegisterFault);
  }
  const Device* dev = t.platform.Devices().Get(t.w.drv.DrvHandle);
  EXPECT_NE(dev->DescribeError(kErrRegisterFault).find("C0000080"), std::string::npos);
  // MTRRcap is read-only.
  WriteMsrRaw(t.w.ForDriver(), kMsrMtrrCap, 0, 0, status);
  EXPECT_EQ(status, 1u);
  // A written register keeps its value.
  WriteMsr(t.w.ForDriver(), 0x11E, 0x00344527, 0);
  EXPECT_EQ(t.Msr(0x11E), 0x00344527u);
}

TEST(SimRegisters, AccessDeniedSaysSo) {
  SimWorld t("msraccess = denied");
  std::uint32_t lo = 0, hi = 0, status = 0;
  ReadMsrRaw(t.w.ForDriver(), 0x2A, lo, hi, status);
  EXPECT_EQ(status, 1u);
  EXPECT_EQ(t.w.drv.DrvLastError, kErrAccessDenied);
  const Device* dev = t.platform.Devices().Get(t.w.drv.DrvHandle);
  EXPECT_EQ(dev->DescribeError(t.w.drv.DrvLastError), "register access denied (run as root)");
  bool ok = true;
  ReadL2Config(t.w.ForDriver(), 0, ok);
  EXPECT_FALSE(ok);
  // CPUID and the clock still answer.
  CpuidRegs r;
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_TRUE(ok);
}

TEST(SimRegisters, ReadOnlyDeviceRefusesEveryWrite) {
  SimWorld t("MSR 0000011E: 0000-0000-0000-4527\nmsraccess = readonly");
  std::uint32_t lo = 0, hi = 0, status = 1;
  ReadMsrRaw(t.w.ForDriver(), 0x11E, lo, hi, status);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(lo, 0x4527u);
  WriteMsrRaw(t.w.ForDriver(), 0x11E, 0, 0, status);
  EXPECT_EQ(status, 1u);
  const Device* dev = t.platform.Devices().Get(t.w.drv.DrvHandle);
  EXPECT_EQ(dev->DescribeError(t.w.drv.DrvLastError),
            "register write denied (the msr device allows no writes)");
  EXPECT_EQ(t.Msr(0x11E), 0x4527u);
  // A cache transaction writes registers: it fails.
  bool ok = true;
  ReadL2Config(t.w.ForDriver(), 0, ok);
  EXPECT_FALSE(ok);
}

TEST(SimCpuid, LeavesModesAndUnknownLeaves) {
  SimWorld t("CPUID 00000001: 00000652-00000000-00000000-0183FBFF\n");
  CpuidRegs r;
  bool ok = false;
  DrvCpuid(t.w.ForDriver(), 1, r, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(r.Eax, 0x652u);
  EXPECT_EQ(r.Edx, 0x0183FBFFu);
  DrvCpuid(t.w.ForDriver(), 0x80000008u, r, ok);  // named by no line
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.Eax | r.Ebx | r.Ecx | r.Edx, 0u);

  SimWorld off("cpuid = off");
  DrvCpuid(off.w.ForDriver(), 0, r, ok);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(off.w.hw.CpuidFault);
}

// The request of the number given fails once, refused ones counted too; the
// ones before and after it answer.
TEST(SimCpuid, OneRequestFailsByItsNumber) {
  for (const char* mode : {"on", "cyrix"}) {
    SCOPED_TRACE(mode);
    SimWorld t(std::string("cpuidfail = 3\ncpuid = ") + mode +
               "\nCPUID 00000000: 00000001-756E6547-6C65746E-49656E69\n");
    const bool answers = std::string(mode) == "on";
    CpuidRegs r;
    bool ok = false;
    for (int request = 1; request <= 4; ++request) {
      DrvCpuid(t.w.ForDriver(), 0, r, ok);
      EXPECT_EQ(ok, answers && request != 3) << request;
      EXPECT_FALSE(t.w.hw.CpuidFault);
      if (request == 3) {
        const Device* dev = t.platform.Devices().Get(t.w.drv.DrvHandle);
        EXPECT_EQ(dev->DescribeError(t.w.drv.DrvLastError),
                  "the CPUID request failed: Input/output error");
      }
    }
    if (answers) {
      EXPECT_EQ(r.Ebx, 0x756E6547u);
    }
  }
}

TEST(SimPorts, CyrixRegistersBehind22hAnd23h) {
  SimWorld t(
      "cpuid = cyrix\ncyrix FE = 31\ncyrix FF = 17\ncyrix C2 = 22\ncyrix E8 = 00\n"
      "CPUID 00000000: 00000001-69727943-64616574-736E4978 # dumps/cyrix-6x86-0530.txt\n");
  const auto rd = [&](std::uint8_t i) {
    PortOut(t.w.ForDriver(), 0x22, i);
    return PortIn(t.w.ForDriver(), 0x23);
  };
  const auto wr = [&](std::uint8_t i, std::uint8_t v) {
    PortOut(t.w.ForDriver(), 0x22, i);
    PortOut(t.w.ForDriver(), 0x23, v);
  };
  EXPECT_EQ(rd(0xFE), 0x31);
  EXPECT_EQ(rd(0xFF), 0x17);
  EXPECT_EQ(rd(0xC2), 0x22);
  EXPECT_EQ(rd(0xC0), 0x00);  // in the bank, not set
  EXPECT_EQ(rd(0x10), 0xFF);  // not decoded

  CpuidRegs r;
  bool ok = true;
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_FALSE(ok) << "CPUID is off while CCR4 bit 7 is clear";

  // CCR4 is closed until CCR3 bit 4 opens it.
  wr(0xE8, 0x80);
  EXPECT_EQ(rd(0xE8), 0xFF);
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_FALSE(ok) << "the write to the closed CCR4 is lost";
  wr(0xC3, 0x10);
  EXPECT_EQ(rd(0xE8), 0x00);
  wr(0xE8, 0x80);
  EXPECT_EQ(rd(0xE8), 0x80);
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.Ebx, 0x69727943u);  // "Cyri"
  wr(0xC3, 0x00);
  EXPECT_EQ(rd(0xE8), 0xFF);
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_TRUE(ok) << "closing the bank leaves CCR4 as it is";
}

TEST(SimPorts, InterruptMaskAndItsMirror) {
  SimWorld plain("pic = normal");
  EXPECT_EQ(PortIn(plain.w.ForDriver(), 0x21), kSimPicMask);
  PortOut(plain.w.ForDriver(), 0x21, 0xFF);
  EXPECT_EQ(PortIn(plain.w.ForDriver(), 0x21), 0xFF);
  PortOut(plain.w.ForDriver(), 0x22, 0xC0);
  EXPECT_EQ(PortIn(plain.w.ForDriver(), 0x23), 0xFF);
  EXPECT_EQ(PortIn(plain.w.ForDriver(), 0x80), 0xFF);

  SimWorld mirror("pic = mirrored");
  PortOut(mirror.w.ForDriver(), 0x22, 0xC0);
  EXPECT_EQ(PortIn(mirror.w.ForDriver(), 0x23), kSimPicMask);
  PortOut(mirror.w.ForDriver(), 0x21, 0xFF);
  PortOut(mirror.w.ForDriver(), 0x22, 0xC0);
  EXPECT_EQ(PortIn(mirror.w.ForDriver(), 0x23), 0xFF);
  PortOut(mirror.w.ForDriver(), 0x23, 0x12);
  EXPECT_EQ(PortIn(mirror.w.ForDriver(), 0x21), 0x12);
}

TEST(SimMachine, ClockFlagsAndProcessors) {
  const auto m = FromText(
      "processors = 3\nclock = 450000000\ndivflags = unchanged\n"
      "[processor 3]\nclock = 300000000\ndivflags = changed\n");
  EXPECT_FALSE(m->BindsHostThreads());
  EXPECT_EQ(m->ProcessorCount(), 3);
  std::uint32_t c = 0;
  ASSERT_EQ(m->ClockCount(2, c), 0u);
  EXPECT_EQ(c, static_cast<std::uint32_t>(std::llround(450000000 / 18.206)));
  ASSERT_EQ(m->ClockCount(3, c), 0u);
  EXPECT_EQ(c, static_cast<std::uint32_t>(std::llround(300000000 / 18.206)));
  EXPECT_TRUE(m->DivisionLeavesFlags(1));
  EXPECT_FALSE(m->DivisionLeavesFlags(3));
  EXPECT_EQ(m->ClockCount(4, c), kErrCpuUnreachable);

  SimWorld t(m);
  DrvSetCpu(t.w.ForDriver(), 4);
  CpuidRegs r;
  bool ok = true;
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(t.w.hw.CpuidFault);
  DrvSetCpu(t.w.ForDriver(), 1);
  MeasureClock(t.w.ForDriver());
  EXPECT_NEAR(t.w.hw.CpuClockHz, 450e6, 10);
}

TEST(SimMachine, ProcessorsKeepTheirOwnRegisters) {
  SimWorld t("processors = 2\nMSR 0000011E: 0000-0000-0000-4527\n");
  WriteMsr(t.w.ForDriver(), 0x11E, 0x4507, 0);
  DrvSetCpu(t.w.ForDriver(), 2);
  EXPECT_EQ(t.Msr(0x11E), 0x4527u);
  DrvSetCpu(t.w.ForDriver(), 1);
  EXPECT_EQ(t.Msr(0x11E), 0x4507u);
}

// What the analysis reads from each catalogue machine, and so the verdict it
// leads to.
struct EntryFacts {
  const char* Name;
  int Cpu;
  std::uint32_t Signature;  // CPUID 1 EAX
  std::uint32_t RatioCode;  // EBL_CR_POWERON bits 22-25
  std::uint32_t Bus100;     // bit 19
  bool L2Present;           // BBL_CR_CTL3 bit 23 clear
  bool EccEnabled;          // BBL_CR_CTL3 bit 5
  bool EccStored;           // the cache test finds ECC
  double Mhz;
  std::uint8_t CacheSize;  // cache register 2
};

class CatalogueFacts : public ::testing::TestWithParam<EntryFacts> {};

TEST_P(CatalogueFacts, RegistersGiveTheIntendedReadings) {
  const EntryFacts& f = GetParam();
  std::string error;
  auto m = MakeSimMachine(f.Name, error);
  ASSERT_TRUE(m) << error;
  SimWorld t(m);
  DrvSetCpu(t.w.ForDriver(), static_cast<std::uint32_t>(f.Cpu));
  CpuidRegs r;
  bool ok = false;
  DrvCpuid(t.w.ForDriver(), 1, r, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(r.Eax, f.Signature);
  DrvCpuid(t.w.ForDriver(), 0, r, ok);
  EXPECT_EQ(r.Ebx, 0x756E6547u);  // GenuineIntel
  const auto power = static_cast<std::uint32_t>(t.Msr(kMsrPowerOn));
  EXPECT_EQ((power >> 22) & 0xF, f.RatioCode);
  EXPECT_EQ((power >> 19) & 1, f.Bus100);
  const auto ctl3 = static_cast<std::uint32_t>(t.Msr(kMsrBblCtl3));
  EXPECT_EQ((ctl3 & 0x800000) == 0, f.L2Present);
  EXPECT_EQ((ctl3 & 0x20) != 0, f.EccEnabled);
  std::uint32_t data = 0;
  EXPECT_EQ(t.EccStored(data), f.EccStored);
  MeasureClock(t.w.ForDriver());
  EXPECT_NEAR(t.w.hw.CpuClockHz / 1e6, f.Mhz, 0.05);
  EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 2, ok), f.CacheSize);
  EXPECT_GE(t.Msr(kMsrMtrrBase0 + 1) & 0x800, 0x800u) << "range 0 valid";
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, CatalogueFacts,
    ::testing::Values(EntryFacts{"p2-450", 1, 0x652, 6, 1, true, true, true, 450.4, 0x09},
                      EntryFacts{"p2-300", 1, 0x633, 6, 0, true, true, true, 300.4, 0x09},
                      EntryFacts{"p2-300-noecc", 1, 0x633, 6, 0, true, false, false, 300.4, 0x09},
                      EntryFacts{"p2-233-at-300", 1, 0x633, 2, 0, true, false, false, 300.0, 0x09},
                      EntryFacts{"celeron-266", 1, 0x651, 2, 0, false, false, false, 266.4, 0x00},
                      EntryFacts{"p2-dual", 1, 0x651, 5, 1, true, true, true, 350.2, 0x09},
                      EntryFacts{"p2-dual", 2, 0x652, 5, 1, true, true, true, 350.2, 0x09}),
    [](const auto& info) {
      std::string n = std::string(info.param.Name) + "_cpu" + std::to_string(info.param.Cpu);
      for (char& c : n) c = (c == '-') ? '_' : c;
      return n;
    });

}  // namespace
}  // namespace torv
