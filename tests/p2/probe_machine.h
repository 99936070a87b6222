// The simulated machine under the probe tests: a Pentium II profile set up by
// the test, made into a machine and opened as the driver as /SIM= opens it.
// Every access on the way is recorded, and the faults a test plays are laid
// over the machine: a register that fails, a cache controller that stays
// busy from some transaction on, ECC bits that come back changed.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/world.h"
#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "platform/fake_platform.h"

namespace torv::test {

// CPUID leaf 0's answer: the highest leaf and the vendor string.
inline std::array<std::uint32_t, 4> VendorLeaf(const std::string& twelve, std::uint32_t maxLeaf) {
  auto word = [&](int at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(twelve[at + i]);
    return v;
  };
  return {maxLeaf, word(0), word(8), word(4)};  // EAX, EBX, ECX, EDX
}

inline constexpr std::uint32_t kProbeSignature = 0x0652;     // family 6, model 5, stepping 2
inline constexpr std::uint32_t kProbeFeatures = 0x0183FBFF;  // time-stamp counter (bit 4) among them
inline constexpr std::uint64_t kProbeClockHz = 450'000'000;  // 24'717'126 cycles a timer tick

// A Pentium II (Deschutes) at 450 MHz on a 100 MHz bus with a 512 KB cache
// whose SRAMs store ECC bits.
inline SimProcessor ProbeProcessor() {
  SimProcessor p;
  p.Cpuid[0] = VendorLeaf("GenuineIntel", 2);
  p.Cpuid[1] = {kProbeSignature, 0, 0, kProbeFeatures};
  p.Cpuid[2] = {0x03020101, 0, 0, 0x0C040843};  // 512 KB L2, 16 KB + 16 KB L1
  p.ClockHz = kProbeClockHz;
  p.Msr[kMsrPowerOn] = 0x01882000;  // ratio code 6 (4.5), 100 MHz bus, IOQ depth 1
  p.Msr[kMsrBblCtl3] = 0x0004453Fu | (1ull << 36);  // ECC on, cache present
  p.Msr[kMsrBblCtl] = 0x00800300;
  p.Msr[kMsrMtrrCap] = 0x00000508;  // 8 variable ranges
  p.L2Reg = {0x2A, 0x49, 0x09, 0x03, 0x05, 0x00, 0x04, 0x00, 0x00};
  p.L2Ecc = true;
  return p;
}

// Passes every request on to the simulated machine, records it, and plays
// the faults that are set.
class ObservedMachine : public Machine {
 public:
  explicit ObservedMachine(std::shared_ptr<Machine> m) : m_(std::move(m)) {}

  // Faults.
  std::set<std::uint32_t> FailRead;
  // Register -> the write to it (0-based) that fails; the others succeed.
  std::map<std::uint32_t, int> FailWriteAt;
  std::uint32_t EccFlip = 0;  // bits that come back changed in BBL_CR_DECC after a line read
  bool EccFlipGrows = false;  // they are EccFlip times the line reads so far: new each time
  int StuckFrom = -1;         // BUSY stays set from this transaction on (0-based)

  // What the probe did.
  std::vector<std::uint32_t> Reads;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> Writes;
  std::vector<int> Cpus;  // processor of every register access
  int CpuidCalls = 0;
  int ClockCalls = 0;
  std::vector<std::uint32_t> Commands;  // command of every transaction carried out
  std::vector<std::uint64_t> LineData;  // BBL_CR_D0 and D3 at each line write
  // The platform whose held signals each write is checked against, and
  // whether each write came while they were held.
  const FakePlatform* Holder = nullptr;
  std::vector<bool> WritesHeld;

  std::vector<std::uint64_t> WritesTo(std::uint32_t reg) const {
    std::vector<std::uint64_t> v;
    for (const auto& [r, value] : Writes) {
      if (r == reg) v.push_back(value);
    }
    return v;
  }
  bool WasRead(std::uint32_t reg) const {
    for (std::uint32_t r : Reads) {
      if (r == reg) return true;
    }
    return false;
  }
  // A register's value now, as the machine holds it (not recorded).
  std::uint64_t Reg(std::uint32_t reg, int cpu = 1) const {
    std::uint64_t v = 0;
    EXPECT_EQ(m_->ReadMsr(cpu, reg, v), 0u) << std::hex << reg;
    return v;
  }

  std::string Name() const override { return m_->Name(); }
  std::string Description() const override { return m_->Description(); }
  int ProcessorCount() const override { return m_->ProcessorCount(); }
  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& a, std::uint32_t& b,
                      std::uint32_t& c, std::uint32_t& d) override {
    ++CpuidCalls;
    return m_->Cpuid(cpu, leaf, a, b, c, d);
  }
  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    Reads.push_back(reg);
    Cpus.push_back(cpu);
    if (FailRead.count(reg) != 0) return kErrRegisterFault;
    if (reg == kMsrBblBusy && busy_) {
      value = 1;
      return 0;
    }
    return m_->ReadMsr(cpu, reg, value);
  }
  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    Writes.emplace_back(reg, value);
    WritesHeld.push_back(Holder != nullptr && Holder->SignalsHeld);
    Cpus.push_back(cpu);
    const auto fail = FailWriteAt.find(reg);
    if (fail != FailWriteAt.end() && writeCount_[reg]++ == fail->second) return kErrAccessDenied;
    if (reg != kMsrBblTrig) return m_->WriteMsr(cpu, reg, value);
    // A transaction: from StuckFrom on the controller stays busy and does
    // nothing.
    busy_ = StuckFrom >= 0 && transactions_++ >= StuckFrom;
    if (busy_) return 0;
    const std::uint32_t command = static_cast<std::uint32_t>(Reg(kMsrBblCtl, cpu)) & 0x1F;
    Commands.push_back(command);
    if (command == 0x1C) {
      LineData.push_back(Reg(kMsrBblD0, cpu));
      LineData.push_back(Reg(kMsrBblD0 + 3, cpu));
    }
    const std::uint32_t status = m_->WriteMsr(cpu, reg, value);
    if (status == 0 && command == 0x0E && EccFlip != 0) {
      const std::uint32_t flip =
          EccFlipGrows ? EccFlip * static_cast<std::uint32_t>(++lineReads_) : EccFlip;
      m_->WriteMsr(cpu, kMsrBblDecc, Reg(kMsrBblDecc, cpu) ^ flip);
    }
    return status;
  }
  std::uint32_t PortIn(std::uint16_t p, std::uint8_t& v) override { return m_->PortIn(p, v); }
  std::uint32_t PortOut(std::uint16_t p, std::uint8_t v) override { return m_->PortOut(p, v); }
  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
    ++ClockCalls;
    return m_->ClockCount(cpu, cycles);
  }
  bool DivisionLeavesFlags(int cpu) override { return m_->DivisionLeavesFlags(cpu); }
  bool BindsHostThreads() const override { return false; }
  std::string DescribeError(std::uint32_t e) const override { return m_->DescribeError(e); }

 private:
  std::shared_ptr<Machine> m_;
  std::map<std::uint32_t, int> writeCount_;
  int transactions_ = 0;
  int lineReads_ = 0;
  bool busy_ = false;
};

// A world whose driver is the simulated machine of `profile` (sixteen
// Pentium II processors unless the test changes it), opened through the
// protocol.
template <class P = FakePlatform>
struct ProbeWorldOn {
  P platform;
  World w{platform};
  SimProfile profile = Sixteen();
  std::shared_ptr<ObservedMachine> m;

  static SimProfile Sixteen() {
    SimProfile p;
    p.Name = "probe";
    p.Processors.assign(16, ProbeProcessor());
    return p;
  }
  // Sets a CPUID leaf or a register on every processor of the profile.
  void SetCpuid(std::uint32_t leaf, std::array<std::uint32_t, 4> regs) {
    for (SimProcessor& c : profile.Processors) c.Cpuid[leaf] = regs;
  }
  void SetMsr(std::uint32_t reg, std::uint64_t value) {
    for (SimProcessor& c : profile.Processors) c.Msr[reg] = value;
  }
  void SetVendor(const std::string& vendor, std::uint32_t signature) {
    SetCpuid(0, VendorLeaf(vendor, 2));
    SetCpuid(1, {signature, 0, 0, kProbeFeatures});
  }

  // Powers on a machine made from the profile, its faults and record empty,
  // and opens it as the driver; returns false when the driver layer cannot
  // open it. Called again, it replaces the machine of the same world.
  bool Start() {
    if (m) platform.Devices().Close(w.drv.DrvHandle);
    m = std::make_shared<ObservedMachine>(MakeSimMachine(profile));
    const std::string path = "\\\\.\\" + profile.Name;
    platform.Devices().Register(path, std::make_shared<MachineDevice>(m, 0x0103));
    return DrvOpen(w.ForDriver(), w.shell.OsKind, path);
  }
  TP2Info& Info() { return w.p2.P2Info; }
};
using ProbeWorld = ProbeWorldOn<>;

}  // namespace torv::test
