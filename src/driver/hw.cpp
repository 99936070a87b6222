// Placeholder bodies; replaced by the hardware primitives.
#include "driver/hw.h"

#include "app/world.h"

namespace torv {
std::uint8_t PortIn(World&, std::uint16_t) { return 0xFF; }
void PortOut(World&, std::uint16_t, std::uint8_t) {}
void ReadMsrRaw(World&, std::uint32_t, std::uint32_t& lo, std::uint32_t& hi,
                std::uint32_t& status) {
  lo = hi = 0;
  status = 1;
}
void WriteMsrRaw(World&, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t& status) {
  status = 1;
}
void DrvCpuid(World&, std::uint32_t, CpuidRegs& regs, bool& ok) {
  regs = {};
  ok = false;
}
bool DrvSetCpu(World&, std::uint32_t) { return false; }
std::uint32_t DrvClockCount(World&, std::uint16_t) { return 0; }
std::uint32_t L2Request(World&, std::uint32_t, std::uint32_t, const void*, bool& ok) {
  ok = false;
  return 0;
}
void ReadMsr(World&, std::uint32_t, std::uint32_t& lo, std::uint32_t& hi) { lo = hi = 0; }
void WriteMsr(World&, std::uint32_t, std::uint32_t, std::uint32_t) {}
void MeasureClock(World& w) { w.hw.CpuClockHz = 0; }
std::uint32_t L2Transaction(World&, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                            std::uint32_t, std::uint32_t, bool& ok) {
  ok = false;
  return 0;
}
std::uint8_t ReadL2Config(World&, std::uint32_t, bool& ok) {
  ok = false;
  return 0;
}
}  // namespace torv
