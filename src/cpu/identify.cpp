// Placeholder bodies; replaced by the identification.
#include "app/world.h"
#include "cpu/cpuinfo.h"

namespace torv {
void IdentifyCpu(World& w, TCpuInfo& info) { info = w.cpu.CpuInfo; }
bool IdentifyByCpuid(World&) { return false; }
void ReadVendor(World&, PStr<12>& vendor, std::uint8_t& code) {
  vendor = "None";
  code = 0;
}
void NameByFamily(World&) {}
void Name486(World&, std::string_view, const std::uint8_t (&)[8]) {}
std::string JoinSteppings(std::string_view a, std::string_view b) {
  return std::string(a) + "/" + std::string(b);
}
std::uint8_t ReadCyrixReg(World&, std::uint8_t) { return 0; }
void WriteCyrixReg(World&, std::uint8_t, std::uint8_t) {}
bool IsCyrix(World&) { return false; }
bool IdentifyCyrix(World&) { return false; }
}  // namespace torv
