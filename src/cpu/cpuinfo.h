// Processor identification: the identification record and its routines.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "driver/context.h"
#include "report/shortstr.h"

namespace torv {

struct TCpuInfo {
  bool CpuidOk = false;
  PStr<12> Vendor;
  std::uint8_t VendorCode = 0;
  std::uint8_t CpuType = 0;
  std::uint8_t Family = 0;
  std::uint8_t Model = 0;
  std::uint8_t Stepping = 0;
  // CPUID 1 EAX bits 16-19 and 20-27: not 0 only on processors newer than
  // the P6 generation (family 6 since 2006, family 15 extended families).
  std::uint8_t ExtModel = 0;
  std::uint8_t ExtFamily = 0;
  std::uint32_t Features = 0;
  bool Identified = false;
  PStr<21> CpuName;
  PStr<40> NameSuffix;
  std::uint8_t Dir0 = 0;
  std::uint8_t Dir1 = 0;
  std::uint8_t Ccr4 = 0;
  std::uint8_t Ccr5 = 0;
  std::uint8_t ClassCode = 0;
  bool HasApic = false;
  bool HasMmx = false;
  bool HasCmov = false;
  bool CacheInfoValid = false;
  std::uint16_t TlbA = 0;
  std::uint16_t TlbB = 0;
  std::uint16_t L1DataKB = 0;
  std::uint16_t L1CodeKB = 0;
  std::uint16_t L2KB = 0;
  // The second-level cache's ways as its leaf-2 descriptor gives them; 0 when
  // no descriptor did.
  std::uint8_t L2Ways = 0;
};

// Class codes tested by the analysis.
inline constexpr std::uint8_t kClassPPro = 48;       // "0"
inline constexpr std::uint8_t kClassPentiumII = 49;  // "1"

// Vendor codes.
enum : std::uint8_t {
  kVendorNone = 0,
  kVendorIntel = 1,
  kVendorAmd = 3,
  kVendorIbm = 4,
  kVendorCyrix = 5,
  kVendorUmc = 7,
  kVendorIdt = 11,
};

// What the identification read that its record does not keep, as it read
// it: every CPUID answer in order, each Cyrix configuration register as first
// read, the division test and the interrupt controller check. A dump of the
// machine (/DUMP) is made from it; IdentifyCpu starts it afresh.
struct CpuidAnswer {
  std::uint32_t Leaf = 0;
  bool Ok = false;
  std::array<std::uint32_t, 4> Regs{};  // EAX, EBX, ECX, EDX
};
struct IdentityReadings {
  std::vector<CpuidAnswer> Cpuid;
  std::map<std::uint8_t, std::uint8_t> CyrixRegs;
  std::optional<bool> DivisionLeavesFlags;  // when the test ran
  bool PicMirrored = false;  // ports 22h/23h showed the interrupt controller
};

// State of the identification unit.
struct CpuState {
  TCpuInfo CpuInfo;  // never cleared; a run assigns only what its path reaches
  bool CpuidWasEnabled = false;
  IdentityReadings Readings;  // of the last identification
};

// What the identification sees: the driver's context and its own state.
struct CpuContext : DriverContext {
  CpuState& cpu;
};

void IdentifyCpu(const CpuContext& ctx, TCpuInfo& info);
bool IdentifyByCpuid(const CpuContext& ctx);
void ReadVendor(const CpuContext& ctx, PStr<12>& vendor, std::uint8_t& vendorCode);

// Naming (family dispatch on the global record).
void NameByFamily(TCpuInfo& ci);
void Name486(TCpuInfo& ci, std::string_view baseName, const std::uint8_t (&codes)[8]);
std::string JoinSteppings(std::string_view a, std::string_view b);

// Identification without CPUID (Cyrix designs).
std::uint8_t ReadCyrixReg(const CpuContext& ctx, std::uint8_t index);
void WriteCyrixReg(const CpuContext& ctx, std::uint8_t index, std::uint8_t value);
bool IsCyrix(const CpuContext& ctx);
bool IdentifyCyrix(const CpuContext& ctx);

}  // namespace torv
