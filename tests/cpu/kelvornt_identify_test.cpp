// The identification through KELVORNT.SYS's request handling (the C of the
// kernel driver over a simulated machine), as on Windows: CPUID, and on
// Cyrix parts and processors without CPUID the port sequence with its check
// for a board that mirrors the interrupt controller. The driver serves every
// request of it, so the processor is named as through the program's own
// device and the machine is left in the same state (interrupt mask and
// configuration registers).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "platform/fake_platform.h"
#include "report/utility.h"
#include "support/kelvornt_device.h"
#include "app/world.h"

namespace torv {
namespace {

struct Outcome {
  std::string Name, Suffix, Vendor;
  int Family = 0, Model = 0, Stepping = 0, Dir0 = 0, Dir1 = 0, Ccr4 = 0, Ccr5 = 0;
  bool CpuidOk = false, Identified = false;
  std::uint8_t PicMask = 0;
  std::string CyrixRegs;  // C0h..CFh, E8h..EBh, FEh, FFh as the machine holds them
  int Refused = 0;        // requests the device refused
};

// A device that counts the requests the device behind it refuses.
class Counting : public Device {
 public:
  explicit Counting(std::shared_ptr<Device> d) : d_(std::move(d)) {}
  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override {
    const DevResult r = d_->Control(ioctlCode, in, attached, attachedLen, out, outLen);
    if (!r.Ok && r.LastError == kErrAccessDenied) ++Refused;
    return r;
  }
  std::string DescribeError(std::uint32_t e) const override { return d_->DescribeError(e); }
  int Refused = 0;

 private:
  std::shared_ptr<Device> d_;
};

std::string CyrixRegs(Machine& m) {
  std::string s;
  std::uint8_t ccr3 = 0, v = 0;
  m.PortOut(0x22, 0xC3);
  m.PortIn(0x23, ccr3);
  for (int i : {0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC,
                0xCD, 0xCE, 0xCF, 0xFE, 0xFF}) {
    m.PortOut(0x22, static_cast<std::uint8_t>(i));
    m.PortIn(0x23, v);
    s += HexByte(v);
  }
  // CCR4 to CCR7 behind CCR3 bit 4, which is then put back.
  m.PortOut(0x22, 0xC3);
  m.PortOut(0x23, static_cast<std::uint8_t>(ccr3 | 0x10));
  for (int i : {0xE8, 0xE9, 0xEA, 0xEB}) {
    m.PortOut(0x22, static_cast<std::uint8_t>(i));
    m.PortIn(0x23, v);
    s += HexByte(v);
  }
  m.PortOut(0x22, 0xC3);
  m.PortOut(0x23, ccr3);
  return s;
}

Outcome Identify(const std::string& machine, bool throughDriver) {
  FakePlatform platform;
  World w{platform};
  std::string error;
  std::shared_ptr<Machine> m = MakeSimMachine(machine, error);
  EXPECT_TRUE(m) << error;
  if (!m) return {};
  auto dev = std::make_shared<Counting>(test::DeviceFor(m, throughDriver));
  platform.Devices().Register("\\\\.\\Dev_KelvorNT", dev);
  EXPECT_TRUE(DrvOpen(w.ForDriver(), kOsWinNT, "\\\\.\\Dev_KelvorNT"));
  // No machine in the world, as on Windows: a Cyrix part is found by its
  // ports, not by the simulated division.
  DrvSetCpu(w.ForDriver(), 1);
  TCpuInfo ci;
  IdentifyCpu(w.ForCpu(), ci);
  platform.Devices().Close(w.drv.DrvHandle);
  Outcome o;
  o.Name = std::string(ci.CpuName.view());
  o.Suffix = std::string(ci.NameSuffix.view());
  o.Vendor = std::string(ci.Vendor.view());
  o.Family = ci.Family;
  o.Model = ci.Model;
  o.Stepping = ci.Stepping;
  o.Dir0 = ci.Dir0;
  o.Dir1 = ci.Dir1;
  o.Ccr4 = ci.Ccr4;
  o.Ccr5 = ci.Ccr5;
  o.CpuidOk = ci.CpuidOk;
  o.Identified = ci.Identified;
  m->PortIn(0x21, o.PicMask);
  o.CyrixRegs = CyrixRegs(*m);
  o.Refused = dev->Refused;
  return o;
}

TEST(IdentificationThroughKelvornt, AsThroughTheProgramsDevice) {
  for (const CatalogueEntry& e : IdentificationCatalogue()) {
    SCOPED_TRACE(e.Name);
    const Outcome want = Identify(e.Name, false);
    const Outcome got = Identify(e.Name, true);
    EXPECT_EQ(got.Name, want.Name);
    EXPECT_EQ(got.Suffix, want.Suffix);
    EXPECT_EQ(got.Vendor, want.Vendor);
    EXPECT_EQ(got.Family, want.Family);
    EXPECT_EQ(got.Model, want.Model);
    EXPECT_EQ(got.Stepping, want.Stepping);
    EXPECT_EQ(got.Dir0, want.Dir0);
    EXPECT_EQ(got.Dir1, want.Dir1);
    EXPECT_EQ(got.Ccr4, want.Ccr4);
    EXPECT_EQ(got.Ccr5, want.Ccr5);
    EXPECT_EQ(got.CpuidOk, want.CpuidOk);
    EXPECT_EQ(got.Identified, want.Identified);
    EXPECT_EQ(got.PicMask, want.PicMask);
    EXPECT_EQ(got.CyrixRegs, want.CyrixRegs);
    EXPECT_EQ(got.Refused, 0);
  }
}

}  // namespace
}  // namespace torv
