// The built program in console mode, end to end: the report on standard
// output, the simulated machine switch, and the unattended save.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

class Console : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }

  static std::string Read(const fs::path& p) { return torv::testing::ReadFile(p); }

  // Runs the program without a display in `dir`; `env` goes before it.
  Outcome Torvacin(const std::string& args, const std::string& env = "") {
    const fs::path err = dir / ".stderr";
    const std::string cmd = "cd '" + dir.string() + "' && timeout 120 env -u DISPLAY " + env +
                            " '" + TORV_BINARY + "' " + args + " 2>'" + err.string() + "'";
    Outcome r;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
    const int st = pclose(p);
    r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.Err = Read(err);
    fs::remove(err);
    return r;
  }

  torv::testing::TempDir tmp;
  fs::path dir = tmp.path();
};

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) return false;
    for (int k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += static_cast<std::size_t>(len);
  }
  return true;
}

TEST_F(Console, TestCaseReportOnStandardOutput) {
  const Outcome r = Torvacin("/TEST=2 /CON");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find(" CPUID"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("GenuineIntel, Typ=0, Family=6, Model=3, Step=3"), std::string::npos);
  EXPECT_NE(r.Out.find("Pentium II, Klamath"), std::string::npos);
  EXPECT_NE(r.Out.find("300.4 MHz"), std::string::npos);
  EXPECT_EQ(r.Out.find('\r'), std::string::npos) << "terminal lines end with LF alone";
  EXPECT_TRUE(IsUtf8(r.Out));
  EXPECT_EQ(r.Err, "");
}

TEST_F(Console, LanguageFollowsTheLocaleUnlessASwitchChooses) {
  const Outcome de = Torvacin("/TEST=2 /CON", "LC_ALL=de_DE.UTF-8");
  EXPECT_EQ(de.Status, 0) << de.Err;
  EXPECT_NE(de.Out.find("300,4 MHz"), std::string::npos) << de.Out;
  const Outcome en = Torvacin("/TEST=2 /CON /EN", "LC_ALL=de_DE.UTF-8");
  EXPECT_NE(en.Out.find("300.4 MHz"), std::string::npos) << en.Out;
}

TEST_F(Console, SimulatedMachinesAreListed) {
  const Outcome r = Torvacin("/sim=?");
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::istringstream lines(r.Out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    // A name, at least two blanks, a description.
    const std::size_t gap = line.find("  ");
    ASSERT_NE(gap, std::string::npos) << line;
    EXPECT_GT(gap, 0u) << line;
    EXPECT_NE(line.find_first_not_of(' ', gap), std::string::npos) << line;
  }
  EXPECT_GT(count, 0);
  EXPECT_EQ(r.Err, "");
}

TEST_F(Console, UnknownSimulatedMachineFailsBeforeAnythingRuns) {
  const Outcome r = Torvacin("/SIM=nonexistent /TEST=2 /SAVE");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  ASSERT_FALSE(r.Err.empty());
  EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << "one line: " << r.Err;
  EXPECT_FALSE(fs::exists(dir / "torvacin.log"));
}

TEST_F(Console, UnattendedSaveWritesTheLogAndEnds) {
  const Outcome r = Torvacin("/TEST=2 /SAVE");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "") << "no report on the terminal after /SAVE";
  const std::string log = Read(dir / "torvacin.log");
  EXPECT_NE(log.find("GenuineIntel"), std::string::npos);
  EXPECT_NE(log.find("300.4 MHz\r\n"), std::string::npos);
  EXPECT_NE(log.find("Fast Strings"), std::string::npos) << "the details follow the report";
}

TEST_F(Console, UnattendedSaveThatFailsEndsWithStatusOne) {
  fs::create_directory(dir / "torvacin.log");
  const Outcome r = Torvacin("/TEST=2 /SAVE");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Error: Cannot create the file torvacin.log: Is a directory\n");
}

// A genuine Klamath 300 whose cache controller never answers, and the same
// behind an msr device that allows no writes.
TEST_F(Console, EarlyEndsSayWhatIsMissingAndEndWithFour) {
  const std::string klamath =
      "clock = 300400000\n"
      "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
      "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
      "CPUID 00000002: 03020101-00000000-00000000-0C040843\n"
      "MSR 0000002A: 0000-0000-C180-0000\n"
      "MSR 0000011E: 0000-0000-0000-4527\n"
      "l2ecc = yes\n";
  std::ofstream(dir / "stuck.txt") << klamath << "l2busy = stuck\n";
  std::ofstream(dir / "readonly.txt") << klamath << "msraccess = readonly\n";
  struct Case {
    const char* Args;
    int Status;
    const char* Out;  // in the report (or in torvacin.log after /SAVE)
    const char* Err;  // on standard error
  };
  const Case cases[] = {
      {"/SIM=stuck.txt /CON /EN", 4, "presence test failed, no statement on ECC", ""},
      {"/SIM=stuck.txt /SAVE /EN", 4, "cache registers not read\r\n", ""},
      {"/SIM=stuck.txt /ECC=1:OFF /Q", 4, "",
       "Error: Proc 1: ECC not switched, the second-level cache did not answer (ECC presence "
       "test failed)\n"},
      {"/SIM=readonly.txt /NOL2 /ECC=1:OFF /EXT /CON /EN", 4, "cache registers not read",
       "Error: Proc 1: ECC not switched, the second-level cache did not answer (configuration "
       "read failed)\n"},
      {"/SIM=readonly.txt /CON /EN", 7, "",
       "writing model-specific register 0000011E failed: register write denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args);
    fs::remove(dir / "torvacin.log");
    const Outcome r = Torvacin(c.Args);
    EXPECT_EQ(r.Status, c.Status) << r.Err;
    const std::string out =
        std::string(c.Args).find("/SAVE") != std::string::npos ? Read(dir / "torvacin.log") : r.Out;
    EXPECT_NE(out.find(c.Out), std::string::npos) << out;
    EXPECT_NE(r.Err.find(c.Err), std::string::npos) << r.Err;
    EXPECT_EQ(out.find("without ECC"), std::string::npos) << out;
    EXPECT_EQ(out.find("fake"), std::string::npos) << out;
  }
}

}  // namespace
