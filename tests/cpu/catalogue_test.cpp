// Every machine of the identification set, identified through the real driver
// protocol on the simulated machine: name, suffix and class code as the name
// tables give them for that processor.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "app/world.h"

namespace torv {
namespace {

struct Expected {
  const char* Name;
  const char* Suffix;
  std::uint8_t Class;
  std::uint8_t VendorCode;
  std::uint8_t Family;
};

// The name the report shows for each machine of the set.
const std::map<std::string, Expected>& ExpectedNames() {
  static const std::map<std::string, Expected> table{
      {"i486dx2", {"i486DX2", "-SLe", 19, kVendorIntel, 4}},
      {"i486dx4", {"i486DX4-WT", "-SLe", 21, kVendorIntel, 4}},
      {"am5x86", {"Am5x86 (x4 WB)", "-SLe", 27, kVendorAmd, 4}},
      {"p54c", {"Pentium", " P54C E0-Step", 43, kVendorIntel, 5}},
      {"pentium-mmx", {"Pentium", "-MMX mxB1(2,5V)/xB1(2,8V)-Step", 44, kVendorIntel, 5}},
      {"k5", {"AMD 5k86", "PR166 Step 4", 46, kVendorAmd, 5}},
      {"k6", {"AMD K6", "PR166-PR300 Step 0", 47, kVendorAmd, 5}},
      {"k6-2", {"AMD K6", "-2 Step 12", 47, kVendorAmd, 5}},
      {"c6", {"IDT C6", " Step 2", 42, kVendorIdt, 5}},
      {"ppro", {"PPro", "", kClassPPro, kVendorIntel, 6}},
      {"klamath", {"Pentium II", "", kClassPentiumII, kVendorIntel, 6}},
      {"p2-overdrive", {"Pentium II", "", kClassPentiumII, kVendorIntel, 6}},
      {"deschutes", {"PII Deschutes", "", kClassPentiumII, kVendorIntel, 6}},
      {"covington", {"PII Deschutes", "", kClassPentiumII, kVendorIntel, 6}},
      {"mendocino", {"PII Mendocino", "", kClassPentiumII, kVendorIntel, 6}},
      {"dixon", {"PII Mendocino", "", kClassPentiumII, kVendorIntel, 6}},
      {"p2-xeon", {"PII Deschutes", "", kClassPentiumII, kVendorIntel, 6}},
      {"katmai", {"PII ??", "", kClassPentiumII, kVendorIntel, 6}},
      // Pentium M, Core Solo/Duo and Core 2: no P6 cache controller, named
      // like the later parts and never analysed.
      {"banias", {"Intel Family 6", ", Model 09h", 0, kVendorIntel, 6}},
      {"yonah", {"Intel Family 6", ", Model 0Eh", 0, kVendorIntel, 6}},
      {"conroe", {"Intel Family 6", ", Model 0Fh", 0, kVendorIntel, 6}},
      // Extended model 5: named by its full model and never analysed.
      {"skylake", {"Intel Family 6", ", Model 5Eh", 0, kVendorIntel, 6}},
      // CPUID switched on for the second identification: vendor and family
      // from CPUID, name from DIR0.
      {"6x86", {"Cx686 (M1)", " 2:1, ID=31h, Rev=17h", 38, kVendorCyrix, 5}},
      {"6x86mx", {"Cx686MX (M2)", " 3:1, ID=53h, Rev=08h", 41, kVendorCyrix, 6}},
      // No CPUID: vendor code and family come from the configuration registers.
      {"cx486", {"Cx486DX2", ", ID=1Bh, Rev=08h", 0, kVendorCyrix, 4}},
      {"pic-mirror", {"unbekannt", "", 0, kVendorNone, 0}},
  };
  return table;
}

TEST(IdentificationCatalogueTest, NamesAreUniqueAndEachHasAnExpectedName) {
  std::set<std::string> names;
  for (const CatalogueEntry& e : IdentificationCatalogue()) {
    EXPECT_TRUE(names.insert(e.Name).second) << e.Name;
    EXPECT_EQ(ExpectedNames().count(e.Name), 1u) << e.Name;
  }
  EXPECT_EQ(names.size(), ExpectedNames().size());
}

TEST(IdentificationCatalogueTest, EachMachineIsIdentifiedThroughTheDriverProtocol) {
  for (const CatalogueEntry& e : IdentificationCatalogue()) {
    SCOPED_TRACE(e.Name);
    std::string error;
    std::shared_ptr<Machine> machine = MakeSimMachine(e.Name, error);
    ASSERT_NE(machine, nullptr) << error;

    FakePlatform platform;
    World w{platform};
    w.shell.OsKind = kOsLinux;
    const std::string path = std::string("\\\\.\\") + e.Name;
    platform.Devices().Register(path, std::make_shared<MachineDevice>(machine, 0x0103));
    ASSERT_TRUE(DrvOpen(w.ForDriver(), w.shell.OsKind, path));
    w.machine = machine;
    DrvSetCpu(w.ForDriver(), 1);

    TCpuInfo ci;
    IdentifyCpu(w.ForCpu(), ci);

    const Expected& x = ExpectedNames().at(e.Name);
    EXPECT_EQ(ci.CpuName.view(), x.Name);
    EXPECT_EQ(ci.NameSuffix.view(), x.Suffix);
    EXPECT_EQ(ci.ClassCode, x.Class);
    EXPECT_EQ(ci.VendorCode, x.VendorCode);
    EXPECT_EQ(ci.Family, x.Family);
    EXPECT_FALSE(w.hw.CpuidFault);
  }
}

// The Cyrix machines leave their registers as found (CCR3 apart from bit 4),
// so that a second run identifies them the same way; the mirroring board keeps
// its interrupt mask.
TEST(IdentificationCatalogueTest, RepeatedRunsGiveTheSameNames) {
  for (const char* name : {"6x86", "6x86mx", "cx486", "pic-mirror"}) {
    SCOPED_TRACE(name);
    std::string error;
    std::shared_ptr<Machine> machine = MakeSimMachine(name, error);
    ASSERT_NE(machine, nullptr) << error;
    FakePlatform platform;
    World w{platform};
    w.shell.OsKind = kOsLinux;
    platform.Devices().Register("sim", std::make_shared<MachineDevice>(machine, 0x0103));
    ASSERT_TRUE(DrvOpen(w.ForDriver(), w.shell.OsKind, "sim"));
    w.machine = machine;
    DrvSetCpu(w.ForDriver(), 1);

    std::uint8_t maskBefore = 0;
    machine->PortIn(0x21, maskBefore);
    TCpuInfo first;
    IdentifyCpu(w.ForCpu(), first);
    TCpuInfo second;
    IdentifyCpu(w.ForCpu(), second);
    std::uint8_t maskAfter = 0;
    machine->PortIn(0x21, maskAfter);

    EXPECT_EQ(second.CpuName.view(), first.CpuName.view());
    EXPECT_EQ(second.NameSuffix.view(), first.NameSuffix.view());
    EXPECT_EQ(second.CpuidOk, first.CpuidOk);
    EXPECT_EQ(maskAfter, maskBefore);
  }
}

}  // namespace
}  // namespace torv
