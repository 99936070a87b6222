// Processor identification through the driver's CPUID request: vendor,
// signature, feature flags and the cache descriptors of leaf 2.
#include <array>
#include <string>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "report/utility.h"

namespace torv {

namespace {

// The first three letters of the vendor string, upper-cased, and their codes,
// compared in this order.
struct VendorKey {
  const char* Key;
  std::uint8_t Code;
};
constexpr auto kVendorKeys = std::to_array<VendorKey>({
    {"UMC", kVendorUmc},
    {"GEN", kVendorIntel},
    {"AUT", kVendorAmd},
    {"CYR", kVendorCyrix},
    {"IBM", kVendorIbm},
    {"CEN", kVendorIdt},
});

// Leaf-2 descriptor bytes this program understands and the field each sets;
// a second-level cache's descriptor also gives its ways.
enum class CacheField { TlbA, TlbB, L1Code, L1Data, L2 };
struct Descriptor {
  std::uint8_t Byte;
  CacheField Field;
  std::uint16_t Value;
  std::uint8_t Ways = 0;
};
constexpr auto kDescriptors = std::to_array<Descriptor>({
    {0x01, CacheField::TlbA, 64},
    {0x02, CacheField::TlbB, 8},
    {0x03, CacheField::TlbA, 64},
    {0x04, CacheField::TlbA, 8},
    {0x06, CacheField::L1Code, 8},
    {0x08, CacheField::L1Code, 16},
    {0x0A, CacheField::L1Data, 8},
    {0x0C, CacheField::L1Data, 16},
    // Every second-level cache of Intel's table of leaf-2 descriptors: size
    // in KB and ways. 40h is no second-level cache; 49h is the 4 MB
    // third-level cache of the Xeon MP of family 0Fh, model 06h, and its
    // second-level cache on every other processor (see Decode).
    {0x1D, CacheField::L2, 128, 2},
    {0x21, CacheField::L2, 256, 8},
    {0x24, CacheField::L2, 1024, 16},
    {0x39, CacheField::L2, 128, 4},
    {0x3A, CacheField::L2, 192, 6},
    {0x3B, CacheField::L2, 128, 2},
    {0x3C, CacheField::L2, 256, 4},
    {0x3D, CacheField::L2, 384, 6},
    {0x3E, CacheField::L2, 512, 4},
    {0x40, CacheField::L2, 0, 0},
    {0x41, CacheField::L2, 128, 4},
    {0x42, CacheField::L2, 256, 4},
    {0x43, CacheField::L2, 512, 4},
    {0x44, CacheField::L2, 1024, 4},
    {0x45, CacheField::L2, 2048, 4},
    {0x48, CacheField::L2, 3072, 12},
    {0x49, CacheField::L2, 4096, 16},
    {0x4E, CacheField::L2, 6144, 24},
    {0x78, CacheField::L2, 1024, 4},
    {0x79, CacheField::L2, 128, 8},
    {0x7A, CacheField::L2, 256, 8},
    {0x7B, CacheField::L2, 512, 8},
    {0x7C, CacheField::L2, 1024, 8},
    {0x7D, CacheField::L2, 2048, 8},
    {0x7E, CacheField::L2, 256, 8},
    {0x7F, CacheField::L2, 512, 2},
    {0x80, CacheField::L2, 512, 8},
    {0x82, CacheField::L2, 256, 8},
    {0x83, CacheField::L2, 512, 8},
    {0x84, CacheField::L2, 1024, 8},
    {0x85, CacheField::L2, 2048, 8},
    {0x86, CacheField::L2, 512, 4},
    {0x87, CacheField::L2, 1024, 8},
});

std::uint16_t& FieldOf(TCpuInfo& ci, CacheField f) {
  switch (f) {
    case CacheField::TlbA:
      return ci.TlbA;
    case CacheField::TlbB:
      return ci.TlbB;
    case CacheField::L1Code:
      return ci.L1CodeKB;
    case CacheField::L1Data:
      return ci.L1DataKB;
    case CacheField::L2:
      break;
  }
  return ci.L2KB;
}

// Decodes the four descriptor bytes of EDX, lowest first; a later byte
// overrides an earlier one for the same field.
void DecodeEdxDescriptors(TCpuInfo& ci, std::uint32_t edx) {
  for (int i = 0; i < 4; ++i) {
    ci.CacheInfoValid = true;
    const auto b = static_cast<std::uint8_t>(edx >> (8 * i));
    // 49h on the Xeon MP (family 0Fh, model 06h) is its third-level cache.
    if (b == 0x49 && ci.Family == 0x0F && ci.ExtModel == 0 && ci.Model == 6) continue;
    for (const Descriptor& d : kDescriptors) {
      if (d.Byte != b) continue;
      FieldOf(ci, d.Field) = d.Value;
      if (d.Field == CacheField::L2) ci.L2Ways = d.Ways;
    }
  }
}

void AppendRegBytes(std::string& s, std::uint32_t r) {
  for (int i = 0; i < 4; ++i)
    s.push_back(static_cast<char>(static_cast<std::uint8_t>(r >> (8 * i))));
}

// One CPUID request. A failed request leaves the record at zero, so that
// nothing of an earlier answer is taken for this one.
CpuidRegs Cpuid(const CpuContext& ctx, std::uint32_t leaf, bool& ok) {
  CpuidRegs regs;
  DrvCpuid(ctx, leaf, regs, ok);
  if (!ok) regs = {};
  ctx.cpu.Readings.Cpuid.push_back({leaf, ok, {regs.Eax, regs.Ebx, regs.Ecx, regs.Edx}});
  return regs;
}

}  // namespace

void ReadVendor(const CpuContext& ctx, PStr<12>& vendor, std::uint8_t& vendorCode) {
  vendorCode = kVendorNone;
  vendor = "None";
  bool ok = false;
  const CpuidRegs r = Cpuid(ctx, 0, ok);
  if (!ok) return;
  // Built byte for byte: zero bytes and characters outside ASCII stay as the
  // processor gave them.
  std::string s;
  AppendRegBytes(s, r.Ebx);
  AppendRegBytes(s, r.Edx);
  AppendRegBytes(s, r.Ecx);
  vendor = s;
  const std::string key = UpperStr(vendor.view().substr(0, 3));
  for (const VendorKey& k : kVendorKeys) {
    if (key == k.Key) {
      vendorCode = k.Code;
      break;
    }
  }
}

bool IdentifyByCpuid(const CpuContext& ctx) {
  TCpuInfo& ci = ctx.cpu.CpuInfo;
  ci.NameSuffix = "";

  bool ok = false;
  Cpuid(ctx, 0, ok);
  ci.CpuidOk = ok;
  const bool result = ok;
  ci.Identified = ok;
  if (!ok) {
    ci.Vendor = "NONE";
    ci.CpuName = "unbekannt";
    ci.NameSuffix = "";
    ci.VendorCode = kVendorNone;
    return false;
  }

  ReadVendor(ctx, ci.Vendor, ci.VendorCode);
  if (ci.VendorCode == kVendorNone) ci.ClassCode = 0;

  const CpuidRegs l1 = Cpuid(ctx, 1, ok);
  ci.CpuidOk = ok;
  ci.Stepping = static_cast<std::uint8_t>(Bits(l1.Eax, kSigStepping));
  ci.Model = static_cast<std::uint8_t>(Bits(l1.Eax, kSigModel));
  ci.Family = static_cast<std::uint8_t>(Bits(l1.Eax, kSigFamily));
  ci.CpuType = static_cast<std::uint8_t>(Bits(l1.Eax, kSigType));
  ci.ExtModel = static_cast<std::uint8_t>(Bits(l1.Eax, kSigExtModel));
  ci.ExtFamily = static_cast<std::uint8_t>(Bits(l1.Eax, kSigExtFamily));
  ci.Features = l1.Edx;
  ci.HasApic = Bits(l1.Edx, kFeatApic) != 0;
  ci.HasMmx = Bits(l1.Edx, kFeatMmx) != 0;
  ci.HasCmov = Bits(l1.Edx, kFeatCmov) != 0;

  ci.TlbA = ci.TlbB = ci.L2KB = ci.L1CodeKB = ci.L1DataKB = 0xFFFF;
  ci.L2Ways = 0;

  const CpuidRegs l2 = Cpuid(ctx, 2, ok);
  ci.CpuidOk = ok;
  // Only the one-request form (low byte of EAX exactly 1) is decoded, and of
  // it only the descriptors in EDX.
  if (ok && Bits(l2.Eax, kLeaf2Requests) == 1) {
    DecodeEdxDescriptors(ci, l2.Edx);
  } else {
    ci.CacheInfoValid = false;
  }

  NameByFamily(ctx.cpu.CpuInfo);
  // A processor newer than the P6 generation: its MSRs are not the Pentium
  // II's, so it is never analysed as one, whatever class an earlier run left
  // in the record.
  if (ci.ExtModel != 0 || ci.ExtFamily != 0) ci.ClassCode = 0;
  return result;
}

void IdentifyCpu(const CpuContext& ctx, TCpuInfo& info) {
  ctx.cpu.Readings = IdentityReadings{};
  const bool byCpuid = IdentifyByCpuid(ctx);
  // Cyrix designs without CPUID, and Cyrix parts that answer it, are examined
  // through their configuration registers; not when the driver could not
  // reach the requested processor at all.
  if ((!byCpuid || ctx.cpu.CpuInfo.VendorCode == kVendorCyrix) && !ctx.hw.CpuidFault) {
    IdentifyCyrix(ctx);
  }
  info = ctx.cpu.CpuInfo;
}

}  // namespace torv
