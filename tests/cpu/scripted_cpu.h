// A scripted processor behind the driver protocol for the identification
// tests: CPUID answers from a table, Cyrix configuration registers behind
// ports 22h/23h (or a board that mirrors the interrupt controller there), and
// a record of every port access. A small Machine stands in for the flags test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cpu/cpuinfo.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "world.h"

namespace torv::test {

struct Leaf {
  std::uint32_t Eax = 0, Ebx = 0, Ecx = 0, Edx = 0;
};

struct PortAccess {
  bool Out = false;
  std::uint16_t Port = 0;
  std::uint8_t Value = 0;
};

class ScriptedCpu : public Device {
 public:
  enum class CpuidMode { On, Off, FollowsCcr4 };

  std::map<std::uint32_t, Leaf> Leaves;  // a leaf not listed answers zeros
  CpuidMode Cpuid = CpuidMode::On;
  std::uint32_t CpuidError = kErrRegisterFault;  // last error of a refused CPUID
  std::set<int> FailingRequests;                 // CPUID requests (1-based) that fail

  bool CyrixRegisters = false;  // ports 22h/23h reach configuration registers
  bool PicMirror = false;       // ports 22h/23h are copies of 20h/21h
  std::array<std::uint8_t, 256> Regs{};
  std::uint8_t PicMask = 0xB8;

  std::vector<PortAccess> Ports;                                 // every port access
  std::vector<std::pair<std::uint8_t, std::uint8_t>> RegWrites;  // index, value
  std::vector<std::uint32_t> CpuidRequests;                      // leaves asked for
  std::vector<bool> CpuidWhileCcr4;                              // CCR4 bit 7 at each CPUID request
  int Cpu = 0;                                                   // last ReqSetCpu

  void SetVendor(const std::string& twelve, std::uint32_t maxLeaf) {
    char b[12] = {};
    std::memcpy(b, twelve.data(), std::min<std::size_t>(twelve.size(), 12));
    Leaf& l = Leaves[0];
    l.Eax = maxLeaf;
    std::memcpy(&l.Ebx, b, 4);
    std::memcpy(&l.Edx, b + 4, 4);
    std::memcpy(&l.Ecx, b + 8, 4);
  }
  void SetSignature(std::uint32_t eax, std::uint32_t edx = 0) {
    Leaves[1].Eax = eax;
    Leaves[1].Edx = edx;
  }
  // Register index and value for every write of a configuration register.
  std::vector<std::pair<std::uint8_t, std::uint8_t>> WritesOf(std::uint8_t index) const {
    std::vector<std::pair<std::uint8_t, std::uint8_t>> r;
    for (const auto& wr : RegWrites)
      if (wr.first == index) r.push_back(wr);
    return r;
  }

  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void*, std::size_t,
                    void* out, std::uint32_t outLen) override {
    if (ioctlCode != kDrvIoctlCode) return {false, kErrInvalidFunction};
    std::uint32_t word[4];
    std::memcpy(word, in, 16);  // little-endian host
    switch (word[0]) {
      case ReqCpuid:
        return DoCpuid(word[1], out, outLen);
      case ReqPortIn: {
        if (outLen < 1) return {false, kErrBadLength};
        const std::uint8_t v = In(static_cast<std::uint16_t>(word[1]));
        Ports.push_back({false, static_cast<std::uint16_t>(word[1]), v});
        std::memcpy(out, &v, 1);
        return {true, 0};
      }
      case ReqPortOut:
        Ports.push_back(
            {true, static_cast<std::uint16_t>(word[1]), static_cast<std::uint8_t>(word[2])});
        Out(static_cast<std::uint16_t>(word[1]), static_cast<std::uint8_t>(word[2]));
        return {true, 0};
      case ReqSetCpu:
        Cpu = static_cast<int>(word[1]);
        return {true, 0};
      default:
        return {false, kErrInvalidFunction};
    }
  }
  std::string DescribeError(std::uint32_t) const override { return ""; }

 private:
  DevResult DoCpuid(std::uint32_t leaf, void* out, std::uint32_t outLen) {
    CpuidRequests.push_back(leaf);
    CpuidWhileCcr4.push_back((Regs[0xE8] & 0x80) != 0);
    const int number = static_cast<int>(CpuidRequests.size());
    const bool answers =
        Cpuid == CpuidMode::On || (Cpuid == CpuidMode::FollowsCcr4 && (Regs[0xE8] & 0x80) != 0);
    if (!answers || FailingRequests.count(number) != 0) return {false, CpuidError};
    if (outLen < 16) return {false, kErrBadLength};
    Leaf l;
    if (auto it = Leaves.find(leaf); it != Leaves.end()) l = it->second;
    const std::uint32_t reply[4] = {l.Eax, l.Ebx, l.Ecx, l.Edx};
    std::memcpy(out, reply, 16);
    return {true, 0};
  }
  std::uint8_t In(std::uint16_t port) {
    if (port == 0x21 || (PicMirror && port == 0x23)) return PicMask;
    if (CyrixRegisters && port == 0x23) return Regs[index_];
    return 0xFF;  // nothing answers: the bus floats high
  }
  void Out(std::uint16_t port, std::uint8_t v) {
    if (port == 0x21 || (PicMirror && port == 0x23)) {
      PicMask = v;
    } else if (CyrixRegisters && port == 0x22) {
      index_ = v;
    } else if (CyrixRegisters && port == 0x23) {
      Regs[index_] = v;
      RegWrites.emplace_back(index_, v);
    }
  }
  std::uint8_t index_ = 0;
};

// Only the division flags test matters to identification.
class FlagsMachine : public Machine {
 public:
  explicit FlagsMachine(bool leavesFlags) : leaves_(leavesFlags) {}
  std::vector<int> AskedCpus;

  std::string Name() const override { return "flags"; }
  std::string Description() const override { return ""; }
  int ProcessorCount() const override { return 1; }
  std::uint32_t Cpuid(int, std::uint32_t, std::uint32_t&, std::uint32_t&, std::uint32_t&,
                      std::uint32_t&) override {
    return kErrInvalidFunction;
  }
  std::uint32_t ReadMsr(int, std::uint32_t, std::uint64_t&) override { return kErrInvalidFunction; }
  std::uint32_t WriteMsr(int, std::uint32_t, std::uint64_t) override { return kErrInvalidFunction; }
  std::uint32_t PortIn(std::uint16_t, std::uint8_t&) override { return kErrInvalidFunction; }
  std::uint32_t PortOut(std::uint16_t, std::uint8_t) override { return kErrInvalidFunction; }
  std::uint32_t ClockCount(int, std::uint32_t&) override { return kErrInvalidFunction; }
  bool DivisionLeavesFlags(int cpu) override {
    AskedCpus.push_back(cpu);
    return leaves_;
  }
  bool BindsHostThreads() const override { return false; }
  std::string DescribeError(std::uint32_t) const override { return ""; }

 private:
  bool leaves_;
};

// A fresh World whose driver handle reaches a ScriptedCpu.
class CpuTest : public ::testing::Test {
 protected:
  CpuTest() {
    platform.Devices().Register("\\\\.\\scripted", dev);
    std::uint32_t err = 0;
    w.drv.DrvHandle = platform.Devices().Open("\\\\.\\scripted", err);
    w.drv.DrvIoctlCode = kDrvIoctlCode;
    // Port requests go through the driver, as on Windows NT.
    w.shell.OsKind = kOsWinNT;
  }

  // A machine whose division changes the flags (not Cyrix by that test), or
  // leaves them alone.
  std::shared_ptr<FlagsMachine> UseMachine(bool leavesFlags) {
    auto m = std::make_shared<FlagsMachine>(leavesFlags);
    w.machine = m;
    return m;
  }

  TCpuInfo Identify() {
    TCpuInfo info;
    IdentifyCpu(w, info);
    return info;
  }

  FakePlatform platform;
  World w{platform};
  std::shared_ptr<ScriptedCpu> dev = std::make_shared<ScriptedCpu>();
};

}  // namespace torv::test
