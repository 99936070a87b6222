// A small Pentium II machine for the probe tests: a register map, CPUID
// answers, a clock count, and a second-level cache controller that carries
// out the transactions the driver starts through BBL_CR_TRIG. It is served
// through the driver protocol by a MachineDevice and opened with DrvOpen.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "app/world.h"

namespace torv::test {

class FakeP6 : public Machine {
 public:
  // Identification: CPUID 0, 1 and 2.
  std::string Vendor = "GenuineIntel";
  std::uint32_t Signature = 0x0652;     // family 6, model 5, stepping 2
  std::uint32_t Features = 0x0183FBFF;  // time-stamp counter (bit 4) among them
  std::uint32_t Leaf2Edx = 0x0C040843;  // 512 KB L2, 16 KB + 16 KB L1
  bool CpuidUnreachable = false;        // every CPUID fails with C0000026h
  std::uint32_t Cycles = 24'717'126;    // 450.0 MHz at 18.206 ticks per second

  std::map<std::uint32_t, std::uint64_t> Msr;
  std::set<std::uint32_t> FailRead;
  // Register -> the write to it (0-based) that fails; the others succeed.
  std::map<std::uint32_t, int> FailWriteAt;

  // Cache controller.
  std::array<std::uint8_t, 9> L2Config{};
  bool EccSram = true;        // the SRAMs store the ECC bits of a line
  std::uint32_t EccFlip = 0;  // bits that come back changed in BBL_CR_DECC
  int StuckFrom = -1;         // BUSY stays set from this transaction on (0-based)

  // What the probe did.
  std::vector<std::uint32_t> Reads;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> Writes;
  std::vector<int> Cpus;  // processor of every register access
  int CpuidCalls = 0;
  int ClockCalls = 0;
  int Transactions = 0;
  std::vector<std::uint32_t> Commands;  // command of every transaction
  std::vector<std::uint64_t> LineData;  // BBL_CR_D0..D3 at each line write
  // The platform whose held signals each write is checked against, and
  // whether each write came while they were held.
  const FakePlatform* Holder = nullptr;
  std::vector<bool> WritesHeld;

  FakeP6() {
    Msr[kMsrPowerOn] = 0x01882000;  // ratio code 6 (4.5), 100 MHz bus, IOQ depth 1
    Msr[kMsr1E0] = 0;
    Msr[kMsrBblCtl3] = 0x0004453Fu | (1ull << 36);  // ECC on, cache present
    Msr[kMsrBblCtl] = 0x00800300;
    Msr[kMsrMtrrCap] = 0x00000508;  // 8 variable ranges
    L2Config = {0x2A, 0x49, 0x09, 0x03, 0x05, 0x00, 0x04, 0x00, 0x00};
  }

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

  std::string Name() const override { return "fakep6"; }
  std::string Description() const override { return "test Pentium II"; }
  int ProcessorCount() const override { return 16; }

  std::uint32_t Cpuid(int, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    ++CpuidCalls;
    if (CpuidUnreachable) return kErrCpuUnreachable;
    eax = ebx = ecx = edx = 0;
    auto word = [&](int at) {
      std::uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(Vendor[at + i]);
      return v;
    };
    if (leaf == 0) {
      eax = 2;
      ebx = word(0);
      edx = word(4);
      ecx = word(8);
    } else if (leaf == 1) {
      eax = Signature;
      edx = Features;
    } else if (leaf == 2) {
      eax = 0x03020101;
      edx = Leaf2Edx;
    }
    return 0;
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    Reads.push_back(reg);
    Cpus.push_back(cpu);
    if (FailRead.count(reg) != 0) return kErrRegisterFault;
    if (reg == kMsrBblBusy) {
      value = busy_ ? 1 : 0;
      return 0;
    }
    value = Msr[reg];
    return 0;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    Writes.emplace_back(reg, value);
    WritesHeld.push_back(Holder != nullptr && Holder->SignalsHeld);
    Cpus.push_back(cpu);
    const auto fail = FailWriteAt.find(reg);
    if (fail != FailWriteAt.end() && writeCount_[reg]++ == fail->second) return kErrAccessDenied;
    Msr[reg] = value;
    if (reg == kMsrBblTrig) Transact();
    return 0;
  }

  std::uint32_t PortIn(std::uint16_t, std::uint8_t& value) override {
    value = 0xFF;
    return 0;
  }
  std::uint32_t PortOut(std::uint16_t, std::uint8_t) override { return 0; }
  std::uint32_t ClockCount(int, std::uint32_t& cycles) override {
    ++ClockCalls;
    cycles = Cycles;
    return 0;
  }
  bool DivisionLeavesFlags(int) override { return false; }
  bool BindsHostThreads() const override { return false; }
  std::string DescribeError(std::uint32_t) const override { return ""; }

 private:
  void Transact() {
    const int n = Transactions++;
    busy_ = StuckFrom >= 0 && n >= StuckFrom;
    if (busy_) return;
    const std::uint32_t command = static_cast<std::uint32_t>(Msr[kMsrBblCtl]) & 0x1F;
    Commands.push_back(command);
    const auto address = static_cast<std::uint32_t>(Msr[kMsrBblAddr]);
    switch (command) {
      case 0x02: {  // configuration register read: value in bits 21 to 28
        const std::uint32_t r = address >> 5;
        Msr[kMsrBblAddr] = r < 9 ? static_cast<std::uint64_t>(L2Config[r]) << 21 : 0;
        break;
      }
      case 0x1C:  // line write: data from D0..D3, ECC from BBL_CR_DECC
        LineData.push_back(Msr[kMsrBblD0]);
        LineData.push_back(Msr[kMsrBblD0 + 3]);
        line_ = Msr[kMsrBblD0];
        lineEcc_ = static_cast<std::uint32_t>(Msr[kMsrBblDecc]);
        break;
      case 0x0E:  // line read: data to D0..D3, the stored ECC to BBL_CR_DECC
        for (std::uint32_t d = 0; d < 4; ++d) Msr[kMsrBblD0 + d] = line_;
        Msr[kMsrBblDecc] = EccSram ? (lineEcc_ ^ EccFlip) : 0;
        break;
      default:
        break;
    }
  }

  std::map<std::uint32_t, int> writeCount_;
  bool busy_ = false;
  std::uint64_t line_ = 0;
  std::uint32_t lineEcc_ = 0;
};

// A world whose driver is the fake machine, opened through the protocol.
struct ProbeWorld {
  FakePlatform platform;
  World w{platform};
  std::shared_ptr<FakeP6> m = std::make_shared<FakeP6>();

  ProbeWorld() = default;
  // Opens the device; returns false when the driver layer cannot open it.
  bool Open() {
    platform.Devices().Register("\\\\.\\fakep6", std::make_shared<MachineDevice>(m, 0x0103));
    return DrvOpen(w.ForDriver(), w.shell.OsKind, "\\\\.\\fakep6");
  }
  TP2Info& Info() { return w.p2.P2Info; }
};

}  // namespace torv::test
