// The simulated machine behind the driver protocol for the identification
// tests: a profile set up by the test, the machine made from it and opened as
// the driver, as /SIM= opens it, and every request on the way recorded and
// read back through the protocol's own decoding.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cpu/cpuinfo.h"
#include "driver/loader.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "platform/fake_platform.h"
#include "support/recording_device.h"
#include "app/world.h"

namespace torv::test {

// A port request as it went to the driver.
struct PortAccess {
  bool Out = false;
  std::uint16_t Port = 0;
  std::uint8_t Value = 0;  // the value written (Out only)
};

using RegWrite = std::pair<std::uint8_t, std::uint8_t>;  // index, value

inline constexpr std::uint16_t kPortPicMask = 0x21;
inline constexpr std::uint16_t kPortCyrixIndex = 0x22;
inline constexpr std::uint16_t kPortCyrixData = 0x23;

struct SimCpu {
  FakePlatform platform;
  World w{platform};
  SimProfile profile = OneProcessor();
  std::shared_ptr<Machine> machine;      // made by Start
  std::shared_ptr<RecordingDevice> dev;  // the driver as opened

  static SimProfile OneProcessor() {
    SimProfile p;
    p.Name = "sim";
    p.Processors.resize(1);
    return p;
  }

  SimProcessor& Cpu() { return profile.Processors[0]; }

  // The vendor string (12 bytes as given) and the highest leaf in leaf 0.
  void SetVendor(const std::string& twelve, std::uint32_t maxLeaf) {
    char b[12] = {};
    std::memcpy(b, twelve.data(), std::min<std::size_t>(twelve.size(), 12));
    std::array<std::uint32_t, 4>& l = Cpu().Cpuid[0];
    l[0] = maxLeaf;
    std::memcpy(&l[1], b, 4);      // EBX
    std::memcpy(&l[3], b + 4, 4);  // EDX
    std::memcpy(&l[2], b + 8, 4);  // ECX
  }
  // Signature and feature flags in leaf 1.
  void SetSignature(std::uint32_t eax, std::uint32_t edx = 0) { Cpu().Cpuid[1] = {eax, 0, 0, edx}; }
  // A configuration register behind ports 22h/23h.
  void SetCyrixReg(int index, std::uint8_t value) {
    profile.CyrixBank = true;
    profile.CyrixRegs[static_cast<std::size_t>(index)] = value;
  }

  // Makes the machine from the profile and opens it as the driver, with the
  // driver's identity and version check, on processor 1; the record starts
  // after that. Called again, it powers on a new machine for the same world.
  void Start() {
    if (dev) platform.Devices().Close(w.drv.DrvHandle);
    machine = MakeSimMachine(profile);
    ASSERT_NE(machine, nullptr);
    dev = std::make_shared<RecordingDevice>();
    dev->Behind = std::make_shared<MachineDevice>(machine, kLinuxDriverVersion);
    const std::string path = "/dev/sim" + std::to_string(++starts_);
    platform.Devices().Register(path, dev);
    w.shell.OsKind = kOsLinux;
    ASSERT_TRUE(DrvOpen(w.ForDriver(), w.shell.OsKind, path));
    w.machine = machine;
    DrvSetCpu(w.ForDriver(), 1);
    dev->Requests.clear();
  }

  // IdentifyCpu on the machine, started first if it is not yet.
  TCpuInfo Identify() {
    if (!machine) Start();
    TCpuInfo info;
    IdentifyCpu(w.ForCpu(), info);
    return info;
  }

  // The leaves of the CPUID requests recorded.
  std::vector<std::uint32_t> CpuidLeaves() const {
    std::vector<std::uint32_t> leaves;
    for (const RecordedRequest& r : dev->Requests)
      if (r.Req.Func == ReqCpuid) leaves.push_back(r.Req.P1);
    return leaves;
  }

  // The port requests recorded.
  std::vector<PortAccess> Ports() const {
    std::vector<PortAccess> ports;
    for (const RecordedRequest& r : dev->Requests) {
      if (r.Req.Func != ReqPortIn && r.Req.Func != ReqPortOut) continue;
      const bool out = r.Req.Func == ReqPortOut;
      ports.push_back({out, static_cast<std::uint16_t>(r.Req.P1),
                       out ? static_cast<std::uint8_t>(r.Req.P2) : std::uint8_t{0}});
    }
    return ports;
  }

  // Every configuration register write recorded: the index last sent to 22h
  // and the value sent to 23h.
  std::vector<RegWrite> CyrixWrites() const {
    std::vector<RegWrite> writes;
    std::uint8_t index = 0;
    for (const PortAccess& p : Ports()) {
      if (p.Out && p.Port == kPortCyrixIndex) index = p.Value;
      if (p.Out && p.Port == kPortCyrixData) writes.emplace_back(index, p.Value);
    }
    return writes;
  }

  // What the machine holds, reached past the driver and the record: the
  // interrupt mask, and a configuration register (CCR4 to CCR7 opened for the
  // read through CCR3 bit 4, which is then put back).
  std::uint8_t PicMask() {
    std::uint8_t v = 0;
    machine->PortIn(kPortPicMask, v);
    return v;
  }
  void SetPicMask(std::uint8_t mask) { machine->PortOut(kPortPicMask, mask); }
  std::uint8_t CyrixReg(std::uint8_t index) {
    const std::uint8_t ccr3 = RawCyrixReg(0xC3);
    const bool behindMapen = index >= 0xE8 && index <= 0xEB;
    if (behindMapen) RawWriteCyrixReg(0xC3, static_cast<std::uint8_t>(ccr3 | 0x10));
    const std::uint8_t v = RawCyrixReg(index);
    if (behindMapen) RawWriteCyrixReg(0xC3, ccr3);
    return v;
  }

 private:
  std::uint8_t RawCyrixReg(std::uint8_t index) {
    std::uint8_t v = 0;
    machine->PortOut(kPortCyrixIndex, index);
    machine->PortIn(kPortCyrixData, v);
    return v;
  }
  void RawWriteCyrixReg(std::uint8_t index, std::uint8_t value) {
    machine->PortOut(kPortCyrixIndex, index);
    machine->PortOut(kPortCyrixData, value);
  }

  int starts_ = 0;
};

// A fresh world over a simulated one-processor machine, set up by each test.
class CpuTest : public ::testing::Test, public SimCpu {};

}  // namespace torv::test
