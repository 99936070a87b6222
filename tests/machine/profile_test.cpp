#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "machine/machine.h"
#include "machine/sim.h"

namespace torv {
namespace {

SimProfile Parse(const std::string& text) {
  SimProfile p;
  std::string error;
  EXPECT_TRUE(ParseProfile(text, "t.profile", p, error)) << error;
  return p;
}

using Regs = std::array<std::uint32_t, 4>;

TEST(Profile, EveryFormOfLine) {
  const SimProfile p = Parse(
      "# a comment line\n"
      "\n"
      "name = Test machine   # trailing comment\n"
      "CPU Type           : Intel Pentium, 133 MHz\n"
      "CPU Alias          : P54C\n"
      "CPU Stepping       : E0\n"
      "Cyrix CPU Revision : 5308h\n"
      "CPUID Revision     : 2\n"
      "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
      "CPUID 00000000: 00000001-69727943-64616574-736E4978 [CyrixInstead]\n"
      "CPU 0:\n"
      "   0x00000001 0x00: eax=0x00000652 ebx=0x00000000 ecx=0x00000000 edx=0x0183fbff\n"
      "   0x00000004 0x01: eax=0x11111111 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\r\n"
      "MSR 0000002A: 0000-0000-C410-0000\n"
      "MSR 00000017: 0012-0000-0000-0000 [PlatID = 0]\n"
      "clock = 450000000\n"
      "l2reg 2 = 09\n"
      "l2reg 8 = 0xFF\n"
      "l2ecc = yes\n"
      "l2busy = stuck\n"
      "l2delay = 250\n"
      "cyrix C3 = 10h\n"
      "divflags = unchanged\n"
      "pic = mirrored\n"
      "cpuid = cyrix\n"
      "cpuidfail = 4\n"
      "msraccess = denied\n");
  EXPECT_EQ(p.Description, "Test machine");
  ASSERT_EQ(p.Processors.size(), 1u);
  const SimProcessor& c = p.Processors[0];
  // The later line of a leaf wins.
  EXPECT_EQ(*c.FindCpuid(0), (Regs{1, 0x69727943, 0x64616574, 0x736E4978}));
  EXPECT_EQ(*c.FindCpuid(1), (Regs{0x652, 0, 0, 0x0183FBFF}));
  EXPECT_EQ(c.FindCpuid(4), nullptr) << "sub-leaf 1 is left out";
  EXPECT_EQ(*c.FindMsr(0x2A), 0xC4100000ull);
  EXPECT_EQ(*c.FindMsr(0x17), 0x0012000000000000ull);
  EXPECT_EQ(c.ClockHz, 450000000u);
  EXPECT_EQ(c.L2Reg[2], 0x09);
  EXPECT_EQ(c.L2Reg[8], 0xFF);
  EXPECT_TRUE(c.L2Ecc);
  EXPECT_TRUE(c.L2BusyStuck);
  EXPECT_EQ(c.L2DelayMs, 250u);
  EXPECT_TRUE(c.DivFlagsUnchanged);
  EXPECT_EQ(c.CpuidMode, SimCpuidMode::Cyrix);
  EXPECT_EQ(c.CpuidFailsAt, 4u);
  EXPECT_TRUE(c.MsrDenied);
  EXPECT_TRUE(p.CyrixBank);
  EXPECT_EQ(p.CyrixRegs[0xC3], 0x10);
  EXPECT_TRUE(p.PicMirrored);
}

TEST(Profile, Defaults) {
  const SimProfile p = Parse("cpuid = on\n");
  ASSERT_EQ(p.Processors.size(), 1u);
  const SimProcessor& c = p.Processors[0];
  EXPECT_EQ(*c.FindMsr(0xFE), 0x508u);
  EXPECT_EQ(c.AllMsr().size(), 29u);  // 2Ah 1E0h 11Eh FEh, 88h-8Bh, 116h 118h-11Bh, 200h-20Fh
  EXPECT_EQ(c.CpuidMode, SimCpuidMode::On);
  EXPECT_EQ(c.CpuidFailsAt, 0u);
  EXPECT_EQ(c.L2DelayMs, 0u);
  EXPECT_FALSE(c.L2Ecc || c.L2BusyStuck || c.DivFlagsUnchanged || c.MsrDenied);
  EXPECT_FALSE(p.CyrixBank || p.PicMirrored);
  EXPECT_EQ(p.Description, "t.profile");
}

TEST(Profile, ProcessorsStartAsCopiesOfProcessor1) {
  const SimProfile p = Parse(
      "processors = 3\n"
      "clock = 350000000\n"
      "CPUID 00000001: 00000651-00000000-00000000-0183FBFF\n"
      "l2ecc = yes\n"
      "[processor 2]\n"
      "CPUID 00000001: 00000652-00000000-00000000-0183FBFF\n"
      "[ processor 1 ]\n"
      "clock = 351000000\n");
  ASSERT_EQ(p.Processors.size(), 3u);
  EXPECT_EQ(p.Processors[0].ClockHz, 351000000u);
  EXPECT_EQ(p.Processors[1].ClockHz, 350000000u);
  EXPECT_EQ(p.Processors[2].ClockHz, 350000000u);
  EXPECT_EQ((*p.Processors[0].FindCpuid(1))[0], 0x651u);
  EXPECT_EQ((*p.Processors[1].FindCpuid(1))[0], 0x652u);
  EXPECT_EQ((*p.Processors[2].FindCpuid(1))[0], 0x651u);
  EXPECT_TRUE(p.Processors[2].L2Ecc);
}

struct BadLine {
  const char* Text;
  const char* Error;
};

class ProfileErrors : public ::testing::TestWithParam<BadLine> {};

TEST_P(ProfileErrors, NameFileLineAndFault) {
  SimProfile p;
  std::string error;
  EXPECT_FALSE(ParseProfile(GetParam().Text, "p.profile", p, error));
  EXPECT_EQ(error, GetParam().Error);
  EXPECT_EQ(error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Profile, ProfileErrors,
    ::testing::Values(
        BadLine{"# p2\n\n\nname = x\n\n\nclok = 450000000\n",
                "p.profile:7: unknown setting 'clok'"},
        BadLine{"clock = 450 MHz",
                "p.profile:1: bad value '450 MHz' for 'clock' (want Hz, at most 50 GHz)"},
        BadLine{"clock = 99999999999999999999999",
                "p.profile:1: bad value '99999999999999999999999' for 'clock' (want Hz, at most 50 "
                "GHz)"},
        BadLine{"processors = 17", "p.profile:1: bad value '17' for 'processors' (want 1 to 16)"},
        BadLine{"processors = 0", "p.profile:1: bad value '0' for 'processors' (want 1 to 16)"},
        BadLine{"processors = 2\n[processor 3]", "p.profile:2: no processor 3 (processors = 2)"},
        BadLine{"[processor 2]", "p.profile:1: no processor 2 (processors = 1)"},
        BadLine{"processors = 2\n[processor 2]\nprocessors = 2",
                "p.profile:3: 'processors' belongs before the first [processor] section"},
        BadLine{"[cpu 1]", "p.profile:1: unknown section '[cpu 1]'"},
        BadLine{"[processor x]", "p.profile:1: bad processor number in '[processor x]'"},
        BadLine{"l2reg 9 = 00",
                "p.profile:1: bad cache register number in 'l2reg 9' (want 0 to 8)"},
        BadLine{"l2reg 1 = 100", "p.profile:1: bad value '100' for 'l2reg 1' (want a hex byte)"},
        BadLine{"l2ecc = maybe", "p.profile:1: bad value 'maybe' for 'l2ecc' (want yes or no)"},
        BadLine{"msraccess = root",
                "p.profile:1: bad value 'root' for 'msraccess' (want allowed, "
                "denied or readonly)"},
        BadLine{"cpuid = auto",
                "p.profile:1: bad value 'auto' for 'cpuid' (want on, off or cyrix)"},
        BadLine{"cpuidfail = 0",
                "p.profile:1: bad value '0' for 'cpuidfail' (want a request number from 1)"},
        BadLine{"cpuidfail = 4294967296",
                "p.profile:1: bad value '4294967296' for 'cpuidfail' (want a request number from "
                "1)"},
        BadLine{"l2delay = 60001",
                "p.profile:1: bad value '60001' for 'l2delay' (want milliseconds, at most 60000)"},
        BadLine{"l2delay = -1",
                "p.profile:1: bad value '-1' for 'l2delay' (want milliseconds, at most 60000)"},
        BadLine{"cyrix ZZ = 00", "p.profile:1: bad register index in 'cyrix ZZ' (want a hex byte)"},
        BadLine{"CPUID 00000001: 00000652-00000000-00000000",
                "p.profile:1: malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)"},
        BadLine{"CPUID 00000001: 00000652-00000000-00000000-0183FBFG",
                "p.profile:1: bad CPUID value '0183FBFG'"},
        BadLine{"CPUID 1FFFFFFFF: 0-0-0-0",
                "p.profile:1: malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)"},
        BadLine{"MSR 0000002A: 0000-0000-C4100-0000", "p.profile:1: bad MSR value 'C4100'"},
        BadLine{"MSR 0000002A: 0000-0000-C410",
                "p.profile:1: malformed MSR line (want MSR rrrrrrrr: hhhh-hhhh-llll-llll)"},
        BadLine{"basic_cpuid[1]=00000652 00000000 00000000",
                "p.profile:1: malformed CPUID line (want basic_cpuid[i]=EAX EBX ECX EDX)"},
        BadLine{"ext_cpuid[2]=20414956 61727A45 00000000 0000000G",
                "p.profile:1: bad CPUID value '0000000G'"},
        BadLine{"version=0.6.5\nl2ecc yes", "p.profile:2: unrecognised line 'l2ecc yes'"},
        BadLine{"0x00000001 0x00: eax=0x1 ebx=0x0 ecx=0x0",
                "p.profile:1: malformed CPUID line (want 0xLEAF 0xSUB: eax=0x... ebx=0x... "
                "ecx=0x... edx=0x...)"},
        BadLine{"hello world", "p.profile:1: unrecognised line 'hello world'"},
        BadLine{"Clock = 450000000", "p.profile:1: unknown setting 'Clock'"},
        BadLine{"l2ecc: yes", "p.profile:1: unrecognised line 'l2ecc: yes'"},
        BadLine{"CPUID 00000001 : 00000652 00000000 00000000",
                "p.profile:1: malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)"},
        BadLine{"CPUID 00000001 00000652 00000000 00000000 0183FBFF 0",
                "p.profile:1: malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)"},
        BadLine{"PerformanceFrequency = fast",
                "p.profile:1: bad value 'fast' for 'PerformanceFrequency' (want Hz)"},
        BadLine{"Cyrix CPU Revision : 53h",
                "p.profile:1: bad value '53h' for 'Cyrix CPU Revision' (want XXYYh)"},
        BadLine{"------[ Logical CPU #0 ]------\nprocessors = 2",
                "p.profile:2: 'processors' belongs before the first [processor] section"}));

// The settings as README.md and the manual page list them, from the one file
// both are checked against: the reader takes each with every word listed
// for it (a word in capitals stands for a value), answers any other word
// with the listed ones, takes a capitalised name as a mistyped setting, and
// has no setting beyond the file's.
TEST(Profile, SettingsAsTheDocumentsListThem) {
  std::ifstream in(std::filesystem::path(TORV_SOURCE_DIR) / "data" / "profile-settings");
  ASSERT_TRUE(in) << "data/profile-settings";
  const std::map<std::string, std::string> example = {
      {"TEXT", "A machine"}, {"N", "2"},   {"HZ", "300000000"}, {"R", "2"},
      {"XX", "C3"},          {"YY", "10"}, {"MS", "5"},
  };
  auto accepts = [](const std::string& text, std::string& error) {
    SimProfile p;
    return ParseProfile("processors = 2\n" + text + "\n", "p", p, error);
  };
  // A line with each word in capitals replaced by its example value.
  auto filled = [&](const std::string& text) {
    std::istringstream words(text);
    std::string word, out;
    while (words >> word) {
      const auto e = example.find(word);
      out += (out.empty() ? "" : " ") + (e != example.end() ? e->second : word);
    }
    return out;
  };
  std::set<std::string> listed;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::string error;
    if (line.front() == '[') {
      std::string header(1, '[');
      header += filled(line.substr(1, line.size() - 2));
      header += ']';
      EXPECT_TRUE(accepts(header, error)) << error;
      continue;
    }
    const auto eq = line.find(" = ");
    ASSERT_NE(eq, std::string::npos);
    const std::string key = filled(line.substr(0, eq));
    const std::string value = line.substr(eq + 3);
    listed.insert(key.substr(0, key.find(' ')));
    if (value.find('|') == std::string::npos) {
      EXPECT_TRUE(accepts(key + " = " + filled(value), error)) << error;
    } else {
      std::istringstream words(value);
      std::string word;
      while (std::getline(words, word, '|')) {
        EXPECT_TRUE(accepts(key + " = " + word, error)) << error;
      }
      // The refusal names the words the reader takes: "(want a, b or c)".
      EXPECT_FALSE(accepts(key + " = bogus", error));
      const auto want = error.find("(want ");
      ASSERT_NE(want, std::string::npos) << error;
      const std::string list = error.substr(want + 6, error.rfind(')') - want - 6);
      std::string taken;
      for (std::size_t i = 0; i < list.size();) {
        const std::size_t sep = list.compare(i, 2, ", ") == 0     ? 2
                                : list.compare(i, 4, " or ") == 0 ? 4
                                                                  : 0;
        taken += sep != 0 ? '|' : list[i];
        i += sep != 0 ? sep : 1;
      }
      EXPECT_EQ(taken, value);
    }
    std::string capitalised = key;
    capitalised[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capitalised[0])));
    EXPECT_FALSE(accepts(capitalised + " = " + filled(value.substr(0, value.find('|'))), error));
  }
  const std::span<const std::string_view> names = ProfileSettingNames();
  EXPECT_EQ(listed, std::set<std::string>(names.begin(), names.end()));
}

// An EVEREST report as published: sections, header lines, one part per
// processor and a register section that applies to every processor.
TEST(Profile, EverestReportWhole) {
  const SimProfile p = Parse(
      "------[ Versions ]------\n"
      "\n"
      "Program Version : EVEREST v5.00.1650\n"
      "BenchDLL Version: 2.4.257.0\n"
      "------[ CPU Info ]------\n"
      "CPU Type           : 2x Intel Pentium IIIE, 733 MHz (5.5 x 133)\n"
      "CPUID Manufacturer : GenuineIntel\n"
      "CPUID CPU Name     : Intel(R) Pentium(R) III\n"
      "IA Brand ID        : 02h  (Intel Pentium III)\n"
      "------[ Logical CPU #0 ]------\n"
      "allcpu: Valid\n"
      "CPUID 00000001: 00000683-00000002-00000000-0387FBFF\n"
      "------[ Logical CPU #1 ]------\n"
      "allcpu: Package 0 / Core 0 / Thread 0: Valid\n"
      "CPUID 00000001 00000686-00000001-00000000-0383F9FF\n"
      "------[ All CPUs ]------\n"
      "CPU   0: APICID   0 / Package 0 / Core  0 / Thread 0: Valid\n"
      "------[ MSR Registers ]------\n"
      "MSR 00000017: 2140-0000-0000-0000 [PlatID = 0]\n"
      "MSR 0000002A: 0000-0000-C514-0000\n"
      "MSR 0000011E: 0000-0000-0074-27E1\n"
      "PerformanceFrequency = 730800000\n"
      "Tjmax Temperature = 0 Celsius\n"
      "divflags = unchanged\n"
      "[processor 2]\n"
      "MSR 0000011E: 0000-0000-0074-2701\n");
  ASSERT_EQ(p.Processors.size(), 2u);
  EXPECT_EQ((*p.Processors[0].FindCpuid(1))[0], 0x683u);
  EXPECT_EQ((*p.Processors[1].FindCpuid(1))[0], 0x686u);
  for (const SimProcessor& c : p.Processors) {
    EXPECT_EQ(*c.FindMsr(0x2A), 0xC5140000u);
    EXPECT_EQ(*c.FindMsr(0x17), 0x2140000000000000u);
    EXPECT_EQ(c.ClockHz, 730800000u);
    EXPECT_TRUE(c.DivFlagsUnchanged);  // a setting after the register section
  }
  // Without an l2ecc line the cache has ECC bits when BBL_CR_CTL3 checks them.
  EXPECT_TRUE(p.Processors[0].L2Ecc);
  EXPECT_FALSE(p.Processors[1].L2Ecc);
  EXPECT_FALSE(p.CyrixBank);
}

// AIDA's processor headers count from 1, EVEREST's from 0: either way the
// k-th header in the file is processor k.
TEST(Profile, AidaProcessorsAndFurtherCpuidForms) {
  const SimProfile p = Parse(
      "CPUID Registers (CPU #1):\n"
      "CPUID 00000000 : 00000001 746E6543 736C7561 48727561\n"
      "CPUID Registers (CPU #2 Virtual):\n"
      "CPUID 00000001  \t00000692-00000001-00000000-0381F9BF\n"
      "CPUID 80000002 : 20414956 61727A45 00000000 00000000 [VIA Ezra]\n");
  ASSERT_EQ(p.Processors.size(), 2u);
  EXPECT_EQ(*p.Processors[0].FindCpuid(0), (Regs{1, 0x746E6543, 0x736C7561, 0x48727561}));
  EXPECT_EQ(p.Processors[0].FindCpuid(1), nullptr);
  EXPECT_EQ(*p.Processors[1].FindCpuid(1), (Regs{0x692, 1, 0, 0x0381F9BF}));
  EXPECT_EQ(*p.Processors[1].FindCpuid(0x80000002), (Regs{0x20414956, 0x61727A45, 0, 0}));

  // A dump of more processors than a simulated machine holds keeps the first
  // ones and says so; a later register section of a processor left out
  // changes nothing.
  std::string text;
  for (int i = 0; i < 20; ++i) {
    text += "------[ CPUID Registers / Logical CPU #" + std::to_string(i) + " ]------\n" +
            "CPUID 00000001: 00000" + std::to_string(600 + i) + "-00000000-00000000-0183FBFF\n";
  }
  text += "------[ MSR Registers / Logical CPU #17 ]------\nMSR 0000002A: 0000-0000-0000-0017\n";
  text += "------[ MSR Registers / Logical CPU #2 ]------\nMSR 0000002A: 0000-0000-0000-0002\n";
  const SimProfile q = Parse(text);
  ASSERT_EQ(q.Processors.size(), 16u);
  EXPECT_EQ((*q.Processors[15].FindCpuid(1))[0], 0x615u);
  EXPECT_EQ(*q.Processors[2].FindMsr(0x2A), 2u);
  EXPECT_EQ(*q.Processors[15].FindMsr(0x2A), 0u);
  EXPECT_EQ(q.Note, "t.profile: the dump lists 20 processors; the first 16 are simulated");
  EXPECT_EQ(p.Note, "");
}

TEST(Profile, ClockFromADump) {
  struct Case {
    const char* Text;
    std::uint64_t Hz;
  };
  const Case cases[] = {
      {"PerformanceFrequency = 333040000\n", 333040000},
      {"CPU Type : Cyrix 6x86MX/MII, 250 MHz (3 x 83)\n", 250000000},
      {"CPU Type : Intel Pentium, 66.6 MHz\n", 66600000},
      {"CPU Type : 2x Intel Pentium Pro, 200 MHz (3 x 67)\nPerformanceFrequency = 199460000\n",
       199460000},
      // A counter of 1.19, 3.58 or 7.16 MHz is a timer, not the processor.
      {"CPU Type : Intel Pentium III, 450 MHz (4.5 x 100)\nPerformanceFrequency = 3579545\n",
       450000000},
      {"PerformanceFrequency = 1193182\n", 0},
      {"CPU Type : Intel Pentium MMX\nPerformanceFrequency = 1193182\n", 0},
      {"clock = 451000000\nCPU Type : Intel Pentium III, 450 MHz\nPerformanceFrequency = "
       "449000000\n",
       451000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(Parse(c.Text).Processors[0].ClockHz, c.Hz);
  }
}

TEST(Profile, CyrixRevisionGivesDir0AndDir1) {
  const SimProfile p = Parse("Cyrix CPU Revision : 5308h\n");
  EXPECT_TRUE(p.CyrixBank);
  EXPECT_EQ(p.CyrixRegs[0xFE], 0x53);
  EXPECT_EQ(p.CyrixRegs[0xFF], 0x08);
  // A cyrix line says otherwise, before or after the revision.
  const SimProfile q = Parse("cyrix FF = 35\nCyrix CPU Revision : 5308h\ncyrix FE = 31\n");
  EXPECT_EQ(q.CyrixRegs[0xFE], 0x31);
  EXPECT_EQ(q.CyrixRegs[0xFF], 0x35);
}

TEST(Profile, DumpFilesAreValidProfiles) {
  const std::filesystem::path dir =
      std::filesystem::path(TORV_SOURCE_DIR) / "tests" / "data" / "dumps";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename() == "README.md") continue;
    ++files;
    std::string error;
    const auto m = MakeSimMachine(entry.path().string(), error);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(m->Name(), entry.path().filename().string());
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    EXPECT_EQ(m->Cpuid(1, 0, a, b, c, d), 0u);
    EXPECT_NE(b, 0u) << entry.path() << ": leaf 0 names a vendor";
  }
  EXPECT_GT(files, 0);
}

TEST(Profile, PentiumProDumpKeepsItsRegisters) {
  const std::filesystem::path file =
      std::filesystem::path(TORV_SOURCE_DIR) / "tests" / "data" / "dumps" / "pentiumpro-0619.txt";
  std::string error;
  const auto m = MakeSimMachine(file.string(), error);
  ASSERT_TRUE(m) << error;
  std::uint64_t v = 0;
  ASSERT_EQ(m->ReadMsr(1, 0x2A, v), 0u);
  EXPECT_EQ(v, 0xC0400000u);
  ASSERT_EQ(m->ReadMsr(1, 0x8B, v), 0u);
  EXPECT_EQ(v, 0x000000D200000000ull);
}

TEST(Profile, FilesAndCatalogueNames) {
  std::string error;
  EXPECT_FALSE(MakeSimMachine("/nonexistent/p.profile", error));
  EXPECT_EQ(error,
            "/nonexistent/p.profile: no such profile file (No such file or directory) (torvacin "
            "/SIM=? lists the catalogue)");

  const std::string path = ::testing::TempDir() + "torv_bad.profile";
  {
    std::ofstream f(path);
    f << "name = bad\nclock = 300000000\n\nl2ecc = perhaps\n";
  }
  EXPECT_FALSE(MakeSimMachine(path, error));
  EXPECT_EQ(error, path + ":4: bad value 'perhaps' for 'l2ecc' (want yes or no)");
  {
    std::ofstream f(path);
    f << "name = good\nclock = 300000000\n";
  }
  const auto m = MakeSimMachine(path, error);
  ASSERT_TRUE(m) << error;
  EXPECT_EQ(m->Name(), "torv_bad.profile");
  EXPECT_EQ(m->Description(), "good");
  std::remove(path.c_str());
}

// A profile's text that sets nothing, and a byte-order mark before the first line.
TEST(Profile, ByteOrderMarkIsSkippedAndAProfileMustSetSomething) {
  const SimProfile p = Parse("\xEF\xBB\xBFname = with a mark\nclock = 300000000\n");
  EXPECT_EQ(p.Description, "with a mark");
  EXPECT_EQ(p.Processors[0].ClockHz, 300000000u);
  const std::string noSettings =
      "e.profile: no settings: the profile is empty or holds only comments (torvacin /SIM=? lists "
      "the catalogue)";
  for (const char* text : {"", "\xEF\xBB\xBF", "\n\n   \n", "# only a comment\n\n# another\n"}) {
    SCOPED_TRACE(text);
    SimProfile q;
    std::string error;
    EXPECT_FALSE(ParseProfile(text, "e.profile", q, error));
    EXPECT_EQ(error, noSettings);
  }
  // A dump's header lines without a register line are content, not nothing.
  SimProfile q;
  std::string error;
  EXPECT_FALSE(ParseProfile("CPU Type : Intel Pentium II\nCPU 0:\n", "e.profile", q, error));
  EXPECT_EQ(error.rfind("e.profile: not a layout torvacin reads: its lines hold no CPUID or MSR "
                        "value and no setting (it reads the profile settings;",
                        0),
            0u)
      << error;
}

#ifndef _WIN32
// (POSIX files: a FIFO, permissions, the C library's words for errors.)
// What /SIM= names: catalogue entries in any case, files that must be regular
// and readable, and a value with "/" that is always a path.
TEST(Profile, NamesAndFilesForSimulatedMachines) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "torv-sim-names";
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  std::ofstream(dir / "p2-450") << "name = a file called like an entry\nclock = 1000\n";
  std::ofstream(dir / "bom.profile") << "\xEF\xBB\xBF"
                                        "clock = 1000\n";
  std::ofstream(dir / "empty.profile") << "";
  std::ofstream(dir / "comments.profile") << "# nothing\n";
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string d = dir.string();
  const std::string hint = " (torvacin /SIM=? lists the catalogue)";
  struct NameCase {
    std::string Value;
    std::string Name;   // of the machine made, or "" for none
    std::string Error;  // when none is made
  };
  const NameCase cases[] = {
      {"p2-450", "p2-450", ""},
      {"P2-450", "p2-450", ""},
      {"Celeron-266", "celeron-266", ""},
      {d + "/p2-450", "p2-450", ""},
      {d + "/bom.profile", "bom.profile", ""},
      {"no-such-entry", "",
       "no-such-entry: no catalogue entry and no profile file of that name" + hint},
      {d + "/missing", "", d + "/missing: no such profile file (No such file or directory)" + hint},
      {d + "/fifo", "", d + "/fifo: not a profile file: it is a FIFO, not a regular file"},
      {d + "/folder", "", d + "/folder: not a profile file: it is a directory, not a regular file"},
      {d + "/p2-450/x", "", d + "/p2-450/x: cannot open the profile file (Not a directory)"},
      {d + "/empty.profile", "",
       d + "/empty.profile: no settings: the profile is empty or holds only comments" + hint},
      {d + "/comments.profile", "",
       d + "/comments.profile: no settings: the profile is empty or holds only comments" + hint},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.Value);
    std::string error;
    const auto m = MakeSimMachine(c.Value, error);
    EXPECT_EQ(m ? m->Name() : "", c.Name);
    EXPECT_EQ(error, c.Error);
  }
  std::string error;
  EXPECT_EQ(MakeSimMachine(d + "/p2-450", error)->Description(), "a file called like an entry");
  if (geteuid() != 0) {
    // A file that exists but may not be read says so, with the reason.
    std::ofstream(dir / "locked.profile") << "clock = 1000\n";
    fs::permissions(dir / "locked.profile", fs::perms::none);
    EXPECT_FALSE(MakeSimMachine(d + "/locked.profile", error));
    EXPECT_EQ(error, d + "/locked.profile: cannot open the profile file (Permission denied)");
  }
  fs::remove_all(dir);
}
#endif

// The profile written of a machine reads back into the same machine: every
// catalogue entry and every published dump.
TEST(Profile, WrittenProfilesReadBackIntoTheSameMachine) {
  std::vector<std::pair<std::string, std::string>> texts;  // name, text
  for (const CatalogueEntry& e : Catalogue()) texts.emplace_back(e.Name, e.Profile);
  const std::filesystem::path dir =
      std::filesystem::path(TORV_SOURCE_DIR) / "tests" / "data" / "dumps";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename() == "README.md") continue;
    std::ifstream f(entry.path(), std::ios::binary);
    texts.emplace_back(entry.path().filename().string(),
                       std::string(std::istreambuf_iterator<char>(f), {}));
  }
  for (const auto& [name, text] : texts) {
    SCOPED_TRACE(name);
    SimProfile p;
    SimProfile again;
    std::string error;
    ASSERT_TRUE(ParseProfile(text, name, p, error)) << error;
    const std::string written = WriteProfile(p, {"a comment", "another # with a hash"});
    ASSERT_TRUE(ParseProfile(written, "written", again, error)) << error << "\n" << written;
    EXPECT_TRUE(SameMachine(p, again)) << written;
    EXPECT_EQ(again.Description, p.Description);
  }
  // A value that differs anywhere makes another machine.
  SimProfile a = Parse(FindCatalogueProfile("p2-dual"));
  SimProfile b = a;
  b.Processors[1].Msr[0x2A] ^= 1;
  EXPECT_FALSE(SameMachine(a, b));
  b = a;
  b.CyrixRegs[0xC3] = 1;
  EXPECT_TRUE(SameMachine(a, b)) << "no configuration registers to differ";
  b.CyrixBank = true;
  EXPECT_FALSE(SameMachine(a, b));
}

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
// The memory a read profile keeps is a small multiple of its text, in the
// layouts that cost the reader most: a leaf a line, a register section for
// all of 16 processors, and 16 processors with lines of their own. (The
// heap's bytes in use, from the C library; bench/profile-memory prints the
// peak of a whole run and the time.)
TEST(Profile, MemoryIsASmallMultipleOfTheText) {
  const auto inUse = [] {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  constexpr std::size_t kSize = 4 << 20;
  for (int layout = 0; layout < 3; ++layout) {
    SCOPED_TRACE(layout);
    std::string text = layout == 0   ? ""
                       : layout == 1 ? "------[ MSR Registers ]------\n"
                                     : "processors = 16\n";
    if (layout == 1) {
      for (int k = 0; k < 16; ++k) {
        text.insert(0, "------[ Logical CPU #" + std::to_string(15 - k) +
                           " ]------\nCPUID 0 2 756E6547 6C65746E 49656E69\n");
      }
    }
    char line[48];
    for (std::uint32_t i = 0; text.size() < kSize; ++i) {
      if (layout == 2 && i % 4096 == 0) {
        std::snprintf(line, sizeof line, "[processor %u]\n", 1 + (i / 4096) % 16);
        text += line;
      }
      std::snprintf(line, sizeof line, layout == 0 ? "CPUID %X 1 2 3 4\n" : "MSR %X: 0-0-0-1\n", i);
      text += line;
    }
    const std::size_t before = inUse();
    SimProfile p;
    std::string error;
    ASSERT_TRUE(ParseProfile(text, "large.profile", p, error)) << error;
    const auto machine = MakeSimMachine(std::move(p));
    ASSERT_TRUE(machine);
    const std::size_t kept = inUse() - before;
    std::printf("layout %d: %zu bytes of text, %zu bytes kept (%.1f times)\n", layout, text.size(),
                kept, static_cast<double>(kept) / static_cast<double>(text.size()));
    EXPECT_LE(kept, 5 * text.size());
  }
}
#endif

TEST(Catalogue, EveryEntryParses) {
  const auto all = Catalogue();
  for (const char* name :
       {"p2-450", "p2-300", "p2-300-noecc", "p2-233-at-300", "celeron-266", "p2-dual"}) {
    ASSERT_TRUE(std::any_of(all.begin(), all.end(), [&](const CatalogueEntry& e) {
      return std::string(e.Name) == name;
    })) << name;
  }
  EXPECT_EQ(std::string(all[0].Name), "p2-450") << "the analysis machines come first";
  const auto id = IdentificationCatalogue();
  ASSERT_GE(all.size(), 6 + id.size());
  for (std::size_t i = 0; i < id.size(); ++i) {
    EXPECT_EQ(std::string(all[all.size() - id.size() + i].Name), id[i].Name);
  }
  for (const CatalogueEntry& e : all) {
    std::string error;
    SimProfile p;
    EXPECT_TRUE(ParseProfile(e.Profile, e.Name, p, error)) << error;
    EXPECT_NE(std::string(e.Description), "") << e.Name;
    const auto m = MakeSimMachine(e.Name, error);
    ASSERT_TRUE(m) << error;
    EXPECT_EQ(m->Name(), e.Name);
  }
  EXPECT_EQ(Parse(FindCatalogueProfile("p2-dual")).Processors.size(), 2u);
}

}  // namespace
}  // namespace torv
