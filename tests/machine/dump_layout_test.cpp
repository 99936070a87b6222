// The published dump layouts read beside the profile's own lines: each
// layout's sample (tests/data/dumps) as the processors, leaves, registers and
// clock it must give; the dump's registers as the only ones it holds; and the
// refusals, which say what the file was.
#include "machine/dump_layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "machine/machine.h"
#include "machine/sim.h"

namespace torv {
namespace {

std::string ReadSample(const char* name) {
  std::ifstream f(std::filesystem::path(TORV_SOURCE_DIR) / "tests/data/dumps" / name,
                  std::ios::binary);
  EXPECT_TRUE(f) << name;
  return std::string(std::istreambuf_iterator<char>(f), {});
}

struct LayoutCase {
  const char* Name;           // the sample in tests/data/dumps, or a text below
  const char* Text;           // null: the sample file
  const char* Layout;         // the reader that must take it
  std::uint32_t Leaf1;        // EAX of leaf 1: family, model, stepping
  std::uint32_t Leaf0Vendor;  // EBX of leaf 0 ("Genu"), 0 when the dump lacks leaf 0
  std::uint64_t ClockHz;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> Msrs;  // exactly the dump's
  std::size_t Processors = 1;
};

constexpr std::uint32_t kGenu = 0x756E6547;

const LayoutCase kLayouts[] = {
    {"cpuz-klamath-0633-early.txt",
     nullptr,
     "CPU-Z TXT report",
     0x633,
     kGenu,
     300'400'000,
     {{0x2A, 0xC1800000}, {0x8B, 0x3300000000}, {0x11E, 0x4527}}},
    {"cpuz-coppermine-0683.txt",
     nullptr,
     "CPU-Z TXT report",
     0x683,
     kGenu,
     730'800'000,
     {{0x17, 0x2140000000000000}, {0x2A, 0xC5140000}, {0x11E, 0x7427E1}}},
    {"cpuz-mendocino-0665.txt", nullptr, "CPU-Z TXT report", 0x665, kGenu, 400'900'000, {}},
    // The current report's rows with "CPUID" before them and MSR rows of high
    // and low half without names; two threads, a repeated leaf a sub-leaf.
    {"two threads",
     "CPU-Z TXT Report\nCore Speed\t333.0 MHz (5.0 x 66.6 MHz)\n"
     "CPU Thread 0\nCPUID\t0x00000000\t0x00000002\t0x756E6547\t0x6C65746E\t"
     "0x49656E69\nCPUID\t0x00000001\t0x00000651\t0\t0\t0x0183FBFF\n"
     "CPUID\t0x00000001\t0x11111111\t0\t0\t0\nMSR\t0x0000002A\t0x00000000\t"
     "0xC1400000\nCPU Thread 1\nCPUID\t0x00000001\t0x00000651\t0\t0\t0\n",
     "CPU-Z TXT report",
     0x651,
     kGenu,
     333'000'000,
     {{0x2A, 0xC1400000}},
     2},
    {"rjcp-deschutes-0653.xml", nullptr, "RJCP.DLL.CpuId XML", 0x653, kGenu, 0, {}},
    {"icbook-deschutes-0652.txt", nullptr, "IC Book Labs CPUID report", 0x652, kGenu, 0, {}},
    {"vbox-pentium-m-06d6.h",
     nullptr,
     "VirtualBox CPU profile",
     0x6D6,
     kGenu,
     2'000'000'000,
     {{0x17, 0x140000d0248a28},
      {0x2A, 0x45080000},
      {0x8B, 0x1800000000},
      {0x11E, 0x34272B},
      {0x1E0, 0xFF0}}},
    {"vbcpuid-mendocino-0665.ini", nullptr, "VB CPUID INI save", 0x665, kGenu, 400'900'000, {}},
    {"cpuid2cpuflags-katmai-0673.txt", nullptr, "cpuid2cpuflags test lines", 0x673, kGenu, 0, {}},
    // Most of cpuid2cpuflags' test lines lack leaf 0: no vendor.
    {"without leaf 0",
     "top:00000001:000006d8:00000000:00000180:afe9fbff\n"
     "sub:00000007:00000000:00000000:00000000:00000000:00000000\n",
     "cpuid2cpuflags test lines",
     0x6D8,
     0,
     0,
     {}},
};

TEST(DumpLayouts, EachSampleGivesItsProcessorsLeavesRegistersAndClock) {
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.Name);
    const std::string text = c.Text != nullptr ? std::string(c.Text) : ReadSample(c.Name);
    const DumpLayout* chosen = nullptr;
    for (const DumpLayout* l : DumpLayouts()) {
      if (l->Recognises(text)) {
        chosen = l;
        break;
      }
    }
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->Name(), c.Layout);

    SimProfile p;
    std::string error;
    ASSERT_TRUE(ParseProfile(text, c.Name, p, error)) << error;
    ASSERT_EQ(p.Processors.size(), c.Processors);
    const SimProcessor& cpu = p.Processors[0];
    ASSERT_NE(cpu.FindCpuid(1), nullptr);
    EXPECT_EQ((*cpu.FindCpuid(1))[0], c.Leaf1);
    const auto* leaf0 = cpu.FindCpuid(0);
    EXPECT_EQ(leaf0 != nullptr ? (*leaf0)[1] : 0u, c.Leaf0Vendor);
    EXPECT_EQ(cpu.ClockHz, c.ClockHz);
    EXPECT_TRUE(cpu.FromDump);
    std::set<std::uint32_t> held;
    for (const auto& [reg, value] : c.Msrs) {
      held.insert(reg);
      EXPECT_TRUE(cpu.HoldsMsr(reg)) << std::hex << reg;
      ASSERT_NE(cpu.FindMsr(reg), nullptr) << std::hex << reg;
      EXPECT_EQ(*cpu.FindMsr(reg), value) << std::hex << reg;
    }
    // The registers the analysis reads that the dump does not name.
    for (std::uint32_t reg : {0x2Au, 0x11Eu, 0x1E0u, 0xFEu, 0x200u, 0x17u}) {
      if (held.count(reg) == 0) {
        EXPECT_FALSE(cpu.HoldsMsr(reg)) << std::hex << reg;
      }
    }
    EXPECT_FALSE(cpu.DumpL2Config);
  }
}

// The machine of a dump holds what the dump holds; a profile of the
// program's own holds every register, its documented defaults included.
TEST(DumpLayouts, OnlyADumpsOwnRegistersAreHeld) {
  struct Case {
    const char* What;
    const char* Text;
    bool Holds2A, Holds11E, HoldsL2, HoldsEcc;
  };
  const Case cases[] = {
      {"bare CPUID lines", "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n", false, false,
       false, false},
      {"with 2Ah", "CPUID 00000001: 00000633-0-0-0\nMSR 0000002A: 0000-0000-C180-0000\n", true,
       false, false, false},
      {"11Eh with ECC on", "CPUID 00000001: 00000633-0-0-0\nMSR 0000011E: 0000-0000-0000-4527\n",
       false, true, false, true},
      {"11Eh with ECC off", "CPUID 00000001: 00000633-0-0-0\nMSR 0000011E: 0000-0000-0000-4507\n",
       false, true, false, false},
      {"an EVEREST section",
       "------[ CPU Info ]------\nCPUID 00000001: 00000633-0-0-0\n"
       "clock = 300000000\nl2reg 2 = 09\nl2ecc = no\n",
       false, false, true, true},
      {"own settings", "clock = 300000000\nCPUID 00000001: 00000633-0-0-0\n", true, true, true,
       true},
      {"marked published", "published = yes\nclock = 300000000\nCPUID 00000001: 00000633-0-0-0\n",
       false, false, false, false},
      {"marked own", "published = no\nCPUID 00000001: 00000633-0-0-0\n", true, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    SimProfile p;
    std::string error;
    ASSERT_TRUE(ParseProfile(c.Text, "t", p, error)) << error;
    const auto m = MakeSimMachine(p);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->HoldsMsr(1, 0x2A), c.Holds2A);
    EXPECT_EQ(m->HoldsMsr(1, 0x11E), c.Holds11E);
    EXPECT_EQ(m->HoldsL2Config(1), c.HoldsL2);
    EXPECT_EQ(m->HoldsEccTest(1), c.HoldsEcc);
    // Written and read back, the machine holds the same.
    SimProfile again;
    ASSERT_TRUE(ParseProfile(WriteProfile(p, {}), "again", again, error)) << error;
    EXPECT_TRUE(SameMachine(p, again)) << WriteProfile(p, {});
  }
}

// A refusal names what the file was and why it cannot be used; a file with
// content is never "empty".
TEST(DumpLayouts, RefusalsSayWhatTheFileWas) {
  struct Case {
    const char* Text;
    const char* Says;
  };
  const Case cases[] = {
      {"CPU-Z TXT Report\nCPU-Z version\t1.54\nProcessors Information\n",
       "d: CPU-Z TXT report that cannot be used: the report holds no CPUID table"},
      {"<?xml version=\"1.0\"?>\n<cpuid type=\"x86\">\n<register eax=\"1\">1,2,3</register>\n",
       "d: RJCP.DLL.CpuId XML that cannot be used: line 3: malformed register element"},
      {"CPUID v1.03.06\n(C)2020 IC Book Labs\n  xTPR update control   ECX  14 = xTPR  0\n",
       "d: IC Book Labs CPUID report that cannot be used: the report holds no "
       "Function/Subfunction/Pass table"},
      {"static CPUMCPUIDLEAF const g_aCpuIdLeaves_X[] =\n{\n};\n",
       "d: VirtualBox CPU profile that cannot be used: the profile holds no CPUMCPUIDLEAF entry"},
      {"[Speed]\nMHz=300\n[Levels]\nLevel_1=00000633 0 0\n",
       "d: VB CPUID INI save that cannot be used: line 4: malformed level 'Level_1'"},
      {"top:00000001:00000633:0:0:0080fbff\ntop:00000002:1\n",
       "d: cpuid2cpuflags test lines that cannot be used: line 2: malformed line"},
      {"Dear buyer,\nthe processor runs at 300 MHz.\nkind regards\n",
       "d: not a layout torvacin reads (no CPUID, MSR or setting line; it reads the profile "
       "settings; InstLatx64, EVEREST and AIDA64 dumps;"},
      {"Some Tool 2.0\nProcessor     Pentium II\nStepping      3\n",
       "d: not a layout torvacin reads: its lines hold no CPUID or MSR value and no setting"},
      {std::string_view("MZ\x90\0\x03\0", 6).data(), "d: a binary file, not a layout"},
      {"# only a comment\n\n", "d: no settings: the profile is empty or holds only comments"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    const std::string_view text =
        c.Text[0] == 'M' ? std::string_view(c.Text, 6) : std::string_view(c.Text);
    SimProfile p;
    std::string error;
    EXPECT_FALSE(ParseProfile(text, "d", p, error));
    EXPECT_EQ(error.rfind(c.Says, 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
}  // namespace torv
