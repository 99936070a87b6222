// KELVORNT.SYS's request handling (dispatch.c, the C the kernel driver
// compiles) over a simulated machine: its operation table backed by a
// Machine and counting what reaches the hardware, and the driver as a Device,
// so that the program's own code can run through it as through the real
// driver.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "driver/kelvornt/dispatch.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "platform/platform.h"

namespace torv::test {

// The driver's operation table over a Machine. HardwareCalls counts the
// register, port and clock operations (not CPUID, which the driver asks
// itself before any of them).
struct SimOps {
  std::shared_ptr<Machine> M;
  int Bound = 0;  // processor of the current bind, 0 outside
  int Binds = 0;
  int HardwareCalls = 0;
  KvOps Ops{};

  explicit SimOps(std::shared_ptr<Machine> m) : M(std::move(m)) {
    Ops.ctx = this;
    Ops.processor_count = [](void* c) { return Self(c).M->ProcessorCount(); };
    Ops.bind = [](void* c, int cpu) -> std::uint32_t {
      Self(c).Bound = cpu;
      ++Self(c).Binds;
      return 0;
    };
    Ops.unbind = [](void* c) { Self(c).Bound = 0; };
    Ops.cpuid = [](void* c, std::uint32_t leaf, std::uint32_t regs[4]) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "CPUID outside a bind";
      return s.M->Cpuid(s.Bound, leaf, regs[0], regs[1], regs[2], regs[3]);
    };
    Ops.rdmsr = [](void* c, std::uint32_t reg, std::uint64_t* v) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "RDMSR outside a bind";
      ++s.HardwareCalls;
      return s.M->ReadMsr(s.Bound, reg, *v);
    };
    Ops.wrmsr = [](void* c, std::uint32_t reg, std::uint64_t v) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "WRMSR outside a bind";
      ++s.HardwareCalls;
      return s.M->WriteMsr(s.Bound, reg, v);
    };
    Ops.port_in = [](void* c, std::uint16_t port, std::uint8_t* v) {
      ++Self(c).HardwareCalls;
      return Self(c).M->PortIn(port, *v);
    };
    Ops.port_out = [](void* c, std::uint16_t port, std::uint8_t v) {
      ++Self(c).HardwareCalls;
      return Self(c).M->PortOut(port, v);
    };
    Ops.clock_count = [](void* c, std::uint32_t* cycles) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "clock count outside a bind";
      ++s.HardwareCalls;
      return s.M->ClockCount(s.Bound, *cycles);
    };
  }
  SimOps(const SimOps&) = delete;
  SimOps& operator=(const SimOps&) = delete;
  static SimOps& Self(void* c) { return *static_cast<SimOps*>(c); }
};

// KELVORNT.SYS as the program's device: one open handle, each request
// handed to KvDispatch as the kernel driver hands it on (the request block
// and the attached block in one input buffer), closed with the handle.
class KelvorntDevice : public Device {
 public:
  explicit KelvorntDevice(std::shared_ptr<Machine> m, std::uint32_t version = 0x0103)
      : ops_(std::move(m)), version_(version) {
    handle_ = std::make_unique<KvHandle>();
    KvHandleInit(handle_.get());
  }
  ~KelvorntDevice() override { KvHandleClose(&ops_.Ops, handle_.get()); }

  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override {
    std::uint8_t buffer[32];
    std::memcpy(buffer, in, 16);
    std::uint32_t inLen = 16;
    if (attached != nullptr && attachedLen != 0) {
      const std::size_t n = attachedLen < 16 ? attachedLen : 16;
      std::memcpy(buffer + 16, attached, n);
      inLen += static_cast<std::uint32_t>(n);
    }
    std::uint32_t replyLen = 0;
    const std::uint32_t e =
        KvDispatch(&ops_.Ops, handle_.get(), version_, ioctlCode, buffer, inLen,
                   static_cast<std::uint8_t*>(out), outLen, &replyLen);
    return {e == 0, e};
  }
  std::string DescribeError(std::uint32_t lastError) const override {
    return lastError == 0 ? "" : "driver error " + std::to_string(lastError);
  }

  SimOps& Ops() { return ops_; }

 private:
  SimOps ops_;
  std::uint32_t version_;
  std::unique_ptr<KvHandle> handle_;
};

// The device a test opens for a machine: KELVORNT.SYS's request handling,
// or the program's own device to compare it with.
inline std::shared_ptr<Device> DeviceFor(std::shared_ptr<Machine> m, bool throughDriver) {
  if (throughDriver) return std::make_shared<KelvorntDevice>(std::move(m));
  return std::make_shared<MachineDevice>(std::move(m), 0x0103);
}

}  // namespace torv::test
