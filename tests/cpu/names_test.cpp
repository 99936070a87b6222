// Names, suffixes and class codes from vendor, family, model, stepping and
// type, applied to a record that still holds an earlier run's name and class.
#include <gtest/gtest.h>

#include <string>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"

namespace torv {
namespace {

constexpr std::uint8_t kKept = 99;  // class code of the earlier run
constexpr const char* kPrev = "earlier";

struct NameCase {
  std::uint8_t Vendor, Family, Model, Stepping, Type;
  const char* Name;
  const char* Suffix;
  std::uint8_t Class;
  const char* VendorText = nullptr;  // null: "GenuineIntel" for Intel's code, else empty
  std::uint8_t EarlierClass = kKept;
};

std::ostream& operator<<(std::ostream& os, const NameCase& c) {
  return os << "vendor " << int(c.Vendor) << " family " << int(c.Family) << " model "
            << int(c.Model) << " stepping " << int(c.Stepping) << " type " << int(c.Type);
}

class NameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameTest, NameSuffixAndClass) {
  const NameCase& c = GetParam();
  TCpuInfo ci;
  ci.CpuName = kPrev;
  ci.ClassCode = c.EarlierClass;
  ci.NameSuffix = "";  // the identification clears it before naming
  ci.Vendor = c.VendorText != nullptr ? c.VendorText : c.Vendor == kVendorIntel ? "GenuineIntel" : "";
  ci.VendorCode = c.Vendor;
  ci.Family = c.Family;
  ci.Model = c.Model;
  ci.Stepping = c.Stepping;
  ci.CpuType = c.Type;

  NameByFamily(ci);

  EXPECT_EQ(ci.CpuName.view(), c.Name);
  EXPECT_EQ(ci.NameSuffix.view(), c.Suffix);
  EXPECT_EQ(ci.ClassCode, c.Class);
}

INSTANTIATE_TEST_SUITE_P(
    Pentium, NameTest,
    ::testing::Values(
        NameCase{kVendorIntel, 5, 2, 5, 0, "Pentium", " P54C mA1/C2-Step", 43},
        NameCase{kVendorIntel, 5, 4, 3, 0, "Pentium", "-MMX mxB1(2,5V)/xB1(2,8V)-Step", 44},
        NameCase{kVendorIntel, 5, 4, 4, 0, "Pentium", "-MMX mxA3(2,5V)/xA3(2,8V)-Step", 44},
        NameCase{kVendorIntel, 5, 4, 1, 0, "Pentium", "-MMX Step 1", 44},
        NameCase{kVendorIntel, 5, 2, 3, 0, "Pentium", " P54C Step 3", 43},
        NameCase{kVendorIntel, 5, 2, 1, 1, "Pentium", " P54C ODP B1-Step", 43},
        NameCase{kVendorIntel, 5, 2, 11, 0, "Pentium", " P54C mcB1/cB1-Step", 43},
        NameCase{kVendorIntel, 5, 3, 1, 1, "Pentium", " P54C ODP B1/B2/C0-Step", 43},
        NameCase{kVendorIntel, 5, 1, 10, 0, "Pentium", " P5 120/233 tA0-Step", 43},
        NameCase{kVendorIntel, 5, 7, 0, 0, "Pentium", "VRT mA4-Step", 43},
        NameCase{kVendorIntel, 5, 7, 12, 0, "Pentium", "VRT mA4-Step", 43},
        NameCase{kVendorIntel, 5, 8, 1, 0, "Pentium", "-MMX (TCP 1,8/2,5V) myA0-Step", 43},
        NameCase{kVendorIntel, 5, 0, 0, 1, "Pentium", " ODP Step 0", 43},
        NameCase{kVendorIntel, 5, 15, 15, 0, "Pentium", " Step 15", 43},
        // A Transmeta Crusoe: the vendor key is the first three letters.
        NameCase{kVendorIntel, 5, 4, 3, 0, "Pentium", "-MMX mxB1(2,5V)/xB1(2,8V)-Step", 44,
                 "GenuineTMx86"}));

INSTANTIATE_TEST_SUITE_P(
    Other586, NameTest,
    ::testing::Values(NameCase{kVendorAmd, 5, 8, 0, 0, "AMD K6", "-2 Step 0", 47},
                      NameCase{kVendorAmd, 5, 9, 1, 0, "AMD K6", "-3 Step 1", 47},
                      NameCase{kVendorAmd, 5, 5, 2, 0, "AMD K6", "Mod 5 Step 2", 47},
                      NameCase{kVendorAmd, 5, 13, 4, 0, "AMD K6", "Mod 13 Step 4", 47},
                      NameCase{kVendorAmd, 5, 7, 0, 0, "AMD K6", "PR166-PR300 Step 0", 47},
                      NameCase{kVendorAmd, 5, 0, 1, 0, "AMD 5k86", "(SSA5) PR75..100 Step 1", 46},
                      NameCase{kVendorAmd, 5, 2, 4, 0, "AMD 5k86", "PR166 Step 4", 46},
                      // An AMD OverDrive gets no " ODP": that belongs to Pentiums.
                      NameCase{kVendorAmd, 5, 3, 4, 1, "AMD 5k86", "PR200 Step 4", 46},
                      NameCase{kVendorIdt, 5, 4, 1, 0, "IDT C6", " Step 1", 42},
                      NameCase{kVendorUmc, 5, 1, 2, 0, "UM586", " Step 2", kKept},
                      NameCase{kVendorCyrix, 5, 2, 0, 0, "Cyr 5x86", " Step 0", 38},
                      NameCase{kVendorIbm, 5, 2, 0, 0, "IBM 5x86", " Step 0", 38},
                      NameCase{kVendorNone, 5, 2, 7, 1, "586", " Step 7", kKept}));

INSTANTIATE_TEST_SUITE_P(
    Family4, NameTest,
    ::testing::Values(NameCase{kVendorIntel, 4, 0, 0, 0, "i486DX-25/33", "-SLe", 16},
                      NameCase{kVendorIntel, 4, 1, 0, 0, "i486DX", "-SLe", 16},
                      NameCase{kVendorIntel, 4, 2, 0, 0, "i486SX", "-SLe", 17},
                      NameCase{kVendorIntel, 4, 3, 5, 0, "i486DX2", "-SLe", 19},
                      NameCase{kVendorIntel, 4, 4, 1, 0, "i486SL", "-SLe", 17},
                      NameCase{kVendorIntel, 4, 5, 0, 0, "i486SX2", "-SLe", 20},
                      NameCase{kVendorIntel, 4, 6, 0, 0, "i486", "-SLe", kKept},
                      NameCase{kVendorIntel, 4, 7, 0, 0, "i486DX2-WB", "-SLe", 0},
                      NameCase{kVendorIntel, 4, 8, 0, 0, "i486DX4-WT", "-SLe", 21},
                      NameCase{kVendorIntel, 4, 9, 0, 0, "i486DX4-WB", "-SLe", 21},
                      NameCase{kVendorIntel, 4, 14, 0, 0, "i486", "-SLe", kKept},
                      NameCase{kVendorAmd, 4, 8, 0, 0, "am486DX4/5x86 (x3 WT)", "-SLe", 26},
                      NameCase{kVendorAmd, 4, 9, 0, 0, "am486DX4/5x86 (x3 WB)", "-SLe", 26},
                      NameCase{kVendorAmd, 4, 14, 4, 0, "Am5x86 (x4 WT)", "-SLe", 27},
                      NameCase{kVendorAmd, 4, 15, 4, 0, "Am5x86 (x4 WB)", "-SLe", 27},
                      NameCase{kVendorAmd, 4, 5, 0, 0, "am486SX2", "-SLe", 25},
                      NameCase{kVendorUmc, 4, 1, 0, 0, "UM486DX", "-SLe", 29},
                      NameCase{kVendorUmc, 4, 2, 0, 0, "UM486SX", "-SLe", 28},
                      NameCase{kVendorUmc, 4, 4, 0, 0, "UM486SL", "-SLe", 0},
                      NameCase{kVendorCyrix, 4, 9, 0, 0, "Cx486DX4-WB", "-SLe", 38},
                      NameCase{kVendorIbm, 4, 3, 0, 0, "IBM486DX2", "-SLe", 37},
                      NameCase{kVendorIdt, 4, 3, 0, 0, "486", "-SLe", kKept},
                      NameCase{kVendorNone, 4, 3, 0, 0, "486", "-SLe", kKept}));

INSTANTIATE_TEST_SUITE_P(
    Family6, NameTest,
    ::testing::Values(NameCase{kVendorIntel, 6, 0, 0, 0, "PPro", "", kClassPPro},
                      NameCase{kVendorIntel, 6, 1, 9, 0, "PPro", "", kClassPPro},
                      NameCase{kVendorIntel, 6, 2, 0, 0, "PPro", "", kClassPPro},
                      NameCase{kVendorIntel, 6, 3, 3, 0, "Pentium II", "", kClassPentiumII},
                      NameCase{kVendorIntel, 6, 3, 2, 1, "Pentium II", "", kClassPentiumII},
                      NameCase{kVendorIntel, 6, 4, 0, 0, "PII ??", "", kClassPentiumII},
                      NameCase{kVendorIntel, 6, 5, 2, 0, "PII Deschutes", "", kClassPentiumII},
                      NameCase{kVendorIntel, 6, 6, 5, 0, "PII Mendocino", "", kClassPentiumII},
                      NameCase{kVendorIntel, 6, 8, 6, 0, "PII ??", "", kClassPentiumII},
                      NameCase{kVendorIntel, 6, 11, 1, 0, "PII ??", "", kClassPentiumII},
                      // Pentium M, Core Solo/Duo and Core 2 have no P6 cache
                      // controller: named like the later parts, no class.
                      NameCase{kVendorIntel, 6, 9, 5, 0, "Intel Family 6", ", Model 09h", 0},
                      NameCase{kVendorIntel, 6, 12, 0, 0, "Intel Family 6", ", Model 0Ch", 0},
                      NameCase{kVendorIntel, 6, 14, 8, 0, "Intel Family 6", ", Model 0Eh", 0},
                      NameCase{kVendorIntel, 6, 15, 6, 0, "Intel Family 6", ", Model 0Fh", 0},
                      NameCase{kVendorUmc, 6, 0, 0, 0, "UM686", "", kKept},
                      NameCase{kVendorCyrix, 6, 0, 0, 0, "Cyr 6x86MX", "", 41},
                      NameCase{kVendorAmd, 6, 1, 0, 0, "AMD K7", "", kKept},
                      // No entry: the unknown text, not the earlier name.
                      NameCase{kVendorIdt, 6, 7, 8, 0, "unbekannt", "", kKept},
                      NameCase{kVendorIbm, 6, 0, 0, 0, "unbekannt", "", kKept},
                      // The names keep the three-letter keys; the register
                      // analysis is for the exact vendor text only.
                      NameCase{kVendorIntel, 6, 5, 2, 0, "PII Deschutes", "", 0, "GenuineTMx86"},
                      NameCase{kVendorIntel, 6, 0, 0, 0, "PPro", "", 0, "GENUINEINTEL"},
                      // An earlier run's Pentium II class does not stay.
                      NameCase{kVendorAmd, 6, 1, 0, 0, "AMD K7", "", 0, "AuthenticAMD",
                               kClassPentiumII},
                      NameCase{kVendorIdt, 6, 7, 8, 0, "unbekannt", "", 0, "CentaurHauls",
                               kClassPentiumII}));

INSTANTIATE_TEST_SUITE_P(
    OtherFamilies, NameTest,
    ::testing::Values(NameCase{kVendorIntel, 3, 0, 0, 0, "i386", "", kKept},
                      NameCase{kVendorIntel, 7, 0, 0, 0, "Merced", "", kKept},
                      NameCase{kVendorCyrix, 7, 0, 0, 0, "CYR 7x86", "", kKept},
                      NameCase{kVendorAmd, 7, 0, 0, 0, "AMD K8", "", kKept},
                      NameCase{kVendorIdt, 7, 0, 0, 0, "unbekannt", "", kKept},
                      NameCase{kVendorIntel, 8, 0, 0, 0, "unbekannt", "", kKept},
                      NameCase{kVendorIntel, 15, 0, 0, 0, "unbekannt", "", kKept},
                      NameCase{kVendorAmd, 2, 0, 0, 0, "unbekannt", "", kKept},
                      NameCase{kVendorNone, 0, 0, 0, 0, "unbekannt", "", kKept}));

// The classes that the register analysis takes are given exactly to the
// signatures with the P6 cache controller, the one test the privileged helper
// makes too.
TEST(NameTest, AnalysedClassesFollowTheCacheControllerTest) {
  for (std::uint32_t model = 0; model < 16; ++model) {
    TCpuInfo ci;
    ci.Vendor = "GenuineIntel";
    ci.VendorCode = kVendorIntel;
    ci.Family = 6;
    ci.Model = static_cast<std::uint8_t>(model);
    NameByFamily(ci);
    const bool analysed = ci.ClassCode == kClassPPro || ci.ClassCode == kClassPentiumII;
    EXPECT_EQ(analysed, HasP6CacheController(0x600 | model << 4)) << "model " << model;
  }
}

TEST(JoinSteppingsTest, JoinsWithASlashAndCutsTo40) {
  EXPECT_EQ(JoinSteppings("mA1", "C2"), "mA1/C2");
  EXPECT_EQ(JoinSteppings("", ""), "/");
  const std::string a50(50, 'a');
  EXPECT_EQ(JoinSteppings(a50, "b"), std::string(40, 'a'));
  EXPECT_EQ(JoinSteppings(std::string(39, 'a'), "bc"), std::string(39, 'a') + "/");
  // Each side is cut to 40 before joining: the right side starts after the
  // slash whatever its own length.
  EXPECT_EQ(JoinSteppings("x", std::string(60, 'b')), "x/" + std::string(38, 'b'));
}

TEST(Name486Test, BaseNameIsKeptTo20AndTheNameTo21) {
  TCpuInfo ci;
  ci.VendorCode = kVendorIntel;
  ci.Model = 3;
  const std::uint8_t codes[8] = {1, 2, 3, 4, 5, 6, 7, 8};

  Name486(ci, std::string(25, 'n'), codes);

  EXPECT_EQ(ci.CpuName.view(), std::string(20, 'n') + "D");
  EXPECT_EQ(ci.ClassCode, 3);
}

// Every family, model, stepping and type for known and unknown vendor codes:
// naming ends with texts within their capacities, and families without rules
// give "unbekannt".
TEST(NameSweepTest, EverySignatureStaysWithinCapacity) {
  TCpuInfo ci;
  for (std::uint8_t vendor : {0, 1, 2, 3, 4, 5, 7, 11, 255}) {
    for (int family = 0; family < 16; ++family) {
      for (int model = 0; model < 16; ++model) {
        for (int stepping = 0; stepping < 16; ++stepping) {
          for (int type = 0; type < 4; ++type) {
            ci.NameSuffix = "";
            ci.VendorCode = vendor;
            ci.Family = static_cast<std::uint8_t>(family);
            ci.Model = static_cast<std::uint8_t>(model);
            ci.Stepping = static_cast<std::uint8_t>(stepping);
            ci.CpuType = static_cast<std::uint8_t>(type);
            NameByFamily(ci);
            ASSERT_LE(ci.CpuName.size(), 21u);
            ASSERT_LE(ci.NameSuffix.size(), 40u);
            if (family < 3 || family > 7) {
              ASSERT_EQ(ci.CpuName.view(), "unbekannt");
            }
            if (family == 5) {
              ASSERT_FALSE(ci.NameSuffix.empty());
            }
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace torv
