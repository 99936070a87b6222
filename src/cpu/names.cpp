// Display names and class codes from vendor, family, model, stepping and type.
#include <array>
#include <string>

#include "cpu/cpuinfo.h"
#include "report/utility.h"

namespace torv {

namespace {

// Class codes of the 486 model groups, in the order Name486 takes them:
// DX, SX, DX2, SL, SX2, DX2-WB, DX4, DX4-WB.
enum Group486 { kDx, kSx, kDx2, kSl, kSx2, kDx2Wb, kDx4, kDx4Wb };

struct Vendor486 {
  std::uint8_t Vendor;
  const char* Base;
  std::uint8_t Codes[8];
};
constexpr auto k486Vendors = std::to_array<Vendor486>({
    {kVendorUmc, "UM486", {29, 28, 30, 0, 0, 0, 0, 0}},
    {kVendorIntel, "i486", {16, 17, 19, 17, 20, 0, 21, 21}},
    {kVendorAmd, "am486", {22, 23, 24, 23, 25, 0, 26, 26}},
    {kVendorCyrix, "Cx486", {0, 0, 37, 0, 0, 0, 38, 38}},
    {kVendorIbm, "IBM486", {0, 0, 37, 0, 0, 0, 38, 38}},
});

// 486 models: text appended to the base name and the model group; AMD parts
// have texts of their own for the clock-tripled and -quadrupled models.
struct Model486 {
  const char* Text;
  const char* AmdText;  // null: same as Text
  int Group;            // -1: class code unchanged
};
constexpr auto k486Models = std::to_array<Model486>({
    {"DX-25/33", nullptr, kDx},
    {"DX", nullptr, kDx},
    {"SX", nullptr, kSx},
    {"DX2", nullptr, kDx2},
    {"SL", nullptr, kSl},
    {"SX2", nullptr, kSx2},
    {"", nullptr, -1},
    {"DX2-WB", nullptr, kDx2Wb},
    {"DX4-WT", "DX4/5x86 (x3 WT)", kDx4},
    {"DX4-WB", "DX4/5x86 (x3 WB)", kDx4Wb},
});
constexpr std::uint8_t kClassAm5x86 = 27;

// AMD family 5: suffix by model; null means "Mod " and the model number.
constexpr auto kAmd5Suffix = std::to_array<const char*>(
    {"(SSA5) PR75..100", "PR120/133", "PR166", "PR200", nullptr, nullptr, "PR166-PR266",
     "PR166-PR300", "-2", "-3", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
static_assert(kAmd5Suffix.size() == 16, "one row per model");

// Pentium: suffix and class code by model (models not listed: no suffix, 43).
struct PentiumModel {
  std::uint8_t Model;
  const char* Suffix;
  std::uint8_t Class;
};
constexpr auto kPentiumModels = std::to_array<PentiumModel>({
    {1, " P5", 43},
    {2, " P54C", 43},
    {3, " P54C", 43},
    {4, "-MMX", 44},
    {7, "VRT", 43},
    {8, "-MMX (TCP 1,8/2,5V)", 43},
});

// Pentium stepping texts; a second text is joined to the first with "/"
// (mobile and desktop parts of one stepping). kAnyStep matches every stepping.
constexpr int kAnyStep = -1;
struct PentiumStep {
  std::uint8_t Model;
  int Stepping;
  const char* Text;
  const char* Joined;  // null: Text alone
};
constexpr auto kPentiumSteps = std::to_array<PentiumStep>({
    {1, 3, "B1", nullptr},
    {1, 5, "C1", nullptr},
    {1, 7, "D1", nullptr},
    {1, 10, "120/233 tA0", nullptr},
    {2, 1, "B1", nullptr},
    {2, 2, "B3", nullptr},
    {2, 4, "B5", nullptr},
    {2, 5, "mA1", "C2"},
    {2, 6, "E0", nullptr},
    {2, 11, "mcB1", "cB1"},
    {2, 12, "mcC0", "cC0"},
    {3, 1, "B1/B2/C0", nullptr},
    {3, 2, "C0", nullptr},
    {4, 3, "mxB1(2,5V)", "xB1(2,8V)"},
    {4, 4, "mxA3(2,5V)", "xA3(2,8V)"},
    {7, kAnyStep, "mA4", nullptr},
    {8, kAnyStep, "myA0", nullptr},
});

// Intel family 6 by model. Only the models with the P6 cache controller get a
// Pentium Pro or Pentium II class; models 9 and 0Ch to 0Fh (Pentium M, Core,
// Core 2) have no name here (null) and are named like the later parts.
struct Intel6 {
  const char* Name;
  std::uint8_t Class;
};
constexpr auto kIntel6 = std::to_array<Intel6>({
    {"PPro", kClassPPro},
    {"PPro", kClassPPro},
    {"PPro", kClassPPro},
    {"Pentium II", kClassPentiumII},
    {"PII ??", kClassPentiumII},
    {"PII Deschutes", kClassPentiumII},
    {"PII Mendocino", kClassPentiumII},
    {"PII ??", kClassPentiumII},
    {"PII ??", kClassPentiumII},
    {nullptr, 0},
    {"PII ??", kClassPentiumII},
    {"PII ??", kClassPentiumII},
    {nullptr, 0},
    {nullptr, 0},
    {nullptr, 0},
    {nullptr, 0},
});
static_assert(kIntel6.size() == 16, "one row per model");

void Name4(TCpuInfo& ci) {
  ci.CpuName = "486";
  for (const Vendor486& v : k486Vendors) {
    if (v.Vendor == ci.VendorCode) {
      Name486(ci, v.Base, v.Codes);
      break;
    }
  }
  ci.NameSuffix = "-SLe";
}

void Name5(TCpuInfo& ci) {
  const std::uint8_t model = ci.Model & 0x0F;
  ci.CpuName = "586";
  std::string step;

  if (ci.VendorCode == kVendorUmc) {
    ci.CpuName = "UM586";
  } else if (ci.VendorCode == kVendorIntel) {
    ci.CpuName = "Pentium";
  } else if (ci.VendorCode == kVendorIdt) {
    ci.CpuName = "IDT C6";
    ci.ClassCode = 42;
  } else if (ci.VendorCode == kVendorAmd) {
    if (model < 4) {
      ci.CpuName = "AMD 5k86";
      ci.ClassCode = 46;
    } else {
      ci.CpuName = "AMD K6";
      ci.ClassCode = 47;
    }
    const char* s = kAmd5Suffix[model];
    ci.NameSuffix = s != nullptr ? std::string(s) : "Mod " + DecStr(ci.Model);
  } else if (ci.VendorCode == kVendorCyrix) {
    ci.CpuName = "Cyr 5x86";
    ci.ClassCode = 38;
  } else if (ci.VendorCode == kVendorIbm) {
    ci.CpuName = "IBM 5x86";
    ci.ClassCode = 38;
  }

  if (ci.CpuName.view() == "Pentium") {
    ci.ClassCode = 43;
    for (const PentiumModel& m : kPentiumModels) {
      if (m.Model == model) {
        ci.NameSuffix = m.Suffix;
        ci.ClassCode = m.Class;
      }
    }
    for (const PentiumStep& s : kPentiumSteps) {
      if (s.Model != model || (s.Stepping != kAnyStep && s.Stepping != ci.Stepping)) continue;
      step = s.Joined != nullptr ? JoinSteppings(s.Text, s.Joined) : std::string(s.Text);
      break;
    }
    if (ci.CpuType == 1) ci.NameSuffix = ci.NameSuffix.str() + " ODP";
  }

  if (step.empty()) {
    step = "Step " + DecStr(ci.Stepping);
  } else {
    step += "-Step";
  }
  ci.NameSuffix = ci.NameSuffix.str() + " " + step;
}

void Name6(TCpuInfo& ci) {
  switch (ci.VendorCode) {
    case kVendorUmc:
      ci.CpuName = "UM686";
      break;
    case kVendorIntel: {
      const Intel6& row = kIntel6[ci.Model & 0x0F];
      if (ci.ExtModel != 0 || row.Name == nullptr) {
        // Newer than the P6 generation (Pentium M, Core and later): named by
        // the full model, and no class that the register analysis takes.
        ci.CpuName = "Intel Family 6";
        ci.NameSuffix = ", Model " +
                        HexByte(static_cast<std::uint8_t>(ci.ExtModel << 4 | (ci.Model & 0x0F))) +
                        "h";
        ci.ClassCode = 0;
        break;
      }
      ci.CpuName = row.Name;
      ci.ClassCode = row.Class;
      break;
    }
    case kVendorCyrix:
      ci.CpuName = "Cyr 6x86MX";
      ci.ClassCode = 41;
      break;
    case kVendorAmd:
      ci.CpuName = "AMD K7";
      break;
    default:
      // No entry: the unknown text, not the name of an earlier run.
      ci.CpuName = "unbekannt";
      break;
  }
}

void Name7(TCpuInfo& ci) {
  switch (ci.VendorCode) {
    case kVendorIntel:
      ci.CpuName = "Merced";
      break;
    case kVendorCyrix:
      ci.CpuName = "CYR 7x86";
      break;
    case kVendorAmd:
      ci.CpuName = "AMD K8";
      break;
    default:
      ci.CpuName = "unbekannt";
      break;
  }
}

}  // namespace

std::string JoinSteppings(std::string_view a, std::string_view b) {
  const PStr<40> left(a);
  const PStr<40> right(b);
  const PStr<40> joined(left.str() + "/" + right.str());
  return joined.str();
}

void Name486(TCpuInfo& ci, std::string_view baseName, const std::uint8_t (&codes)[8]) {
  const bool amd = ci.VendorCode == kVendorAmd;
  const PStr<20> base(baseName);
  std::string name = base.str();
  const std::uint8_t model = ci.Model & 0x0F;

  if (model < k486Models.size()) {
    const Model486& m = k486Models[model];
    name += (amd && m.AmdText != nullptr) ? m.AmdText : m.Text;
    if (m.Group >= 0) ci.ClassCode = codes[m.Group];
  } else if (amd && model == 14) {
    name = "Am5x86 (x4 WT)";
    ci.ClassCode = kClassAm5x86;
  } else if (amd && model == 15) {
    name = "Am5x86 (x4 WB)";
    ci.ClassCode = kClassAm5x86;
  }
  ci.CpuName = name;
}

void NameByFamily(TCpuInfo& ci) {
  switch (ci.Family) {
    case 3:
      ci.CpuName = "i386";
      break;
    case 4:
      Name4(ci);
      break;
    case 5:
      Name5(ci);
      break;
    case 6:
      Name6(ci);
      break;
    case 7:
      Name7(ci);
      break;
    default:
      ci.CpuName = "unbekannt";
      break;
  }
  // The Pentium Pro and Pentium II analysis reads Intel's P6 registers
  // (EBL_CR_POWERON, BBL_CR_CTL3): only a family-6 processor whose vendor text
  // is exactly "GenuineIntel" has those classes, whatever an earlier run left.
  if ((ci.ClassCode == kClassPPro || ci.ClassCode == kClassPentiumII) &&
      (ci.Family != 6 || ci.Vendor.view() != "GenuineIntel")) {
    ci.ClassCode = 0;
  }
}

}  // namespace torv
