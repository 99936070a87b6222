// /DUMP: the profile written of a machine replays, with /SIM=, to the very
// reports of the machine itself; what could not be read is said.
#include "app/dump.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app_fixture.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A file of the running test's own: the suite runs its tests as processes
// side by side, which share the temporary folder but must not share their
// captured output or profiles.
fs::path TestFile(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string owner = test != nullptr ? std::string(test->name()) + "-" : "";
  return fs::path(::testing::TempDir()) /
         ("torv-dump-" + std::to_string(getpid()) + "-" + owner + name);
}

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

using Program = std::function<int(World&, const std::vector<std::string>&, ConsoleOutput&,
                                  std::FILE*)>;

// The program's start in this process over a fake platform: the /SIM=
// machine prepared, then `program`.
Outcome InProcess(const std::vector<std::string>& args, const Program& program) {
  FakePlatform p;
  World w(p);
  const fs::path outPath = TestFile("stdout"), errPath = TestFile("stderr");
  std::FILE* out = std::fopen(outPath.string().c_str(), "wb");
  std::FILE* err = std::fopen(errPath.string().c_str(), "wb");
  Outcome r;
  if (out == nullptr || err == nullptr) return r;
  ConsoleOutput o(out);
  r.Status = PrepareMachine(w, args, o, err);
  if (r.Status < 0) r.Status = program(w, args, o, err);
  std::fclose(out);
  std::fclose(err);
  r.Out = Slurp(outPath);
  r.Err = Slurp(errPath);
  return r;
}

int Dump(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err) {
  return RunDump(w, args, out, err, "the test's date");
}

int Console(World& w, const std::vector<std::string>& args, ConsoleOutput& out, std::FILE* err) {
  return RunConsole(w, args, out, err);
}

// The saved reports of every processor (1 to 4) with their details.
std::string SavedReports(const std::string& sim) {
  FakePlatform p;
  World w(p);
  FakeView view;
  std::FILE* err = std::fopen(TestFile("stderr").string().c_str(), "wb");
  const int early = PrepareMachine(w, {sim}, stdout, err);
  std::fclose(err);
  if (early >= 0) return "no machine";
  TForm1 form(w, view);
  form.formcreate({"/EN"});
  const fs::path log = TestFile("saved.log");
  if (!form.Saveto(log.string())) return "not saved";
  form.formDestroy();
  return Slurp(log);
}

// The profile written to a file of the test's.
std::string Written(const std::string& name, const std::string& text) {
  const fs::path file = TestFile(name);
  std::ofstream(file, std::ios::binary) << text;
  return file.string();
}

TEST(Dump, EveryCatalogueMachineReplaysToItsOwnReports) {
  for (const CatalogueEntry& e : Catalogue()) {
    SCOPED_TRACE(e.Name);
    const std::string sim = std::string("/SIM=") + e.Name;
    const Outcome dump = InProcess({sim, "/DUMP"}, Dump);
    ASSERT_EQ(dump.Status, 0) << dump.Err;
    EXPECT_EQ(dump.Err, "");
    EXPECT_EQ(dump.Out.rfind("# torvacin 1.6 /DUMP of the simulated machine " +
                                 std::string(e.Name) + ", the test's date\n",
                             0),
              0u)
        << dump.Out;
    const std::string replay = "/SIM=" + Written("replay.profile", dump.Out);
    const Outcome own = InProcess({sim, "/CON", "/EXT", "/EN"}, Console);
    const Outcome replayed = InProcess({replay, "/CON", "/EXT", "/EN"}, Console);
    EXPECT_EQ(replayed.Status, own.Status);
    EXPECT_EQ(replayed.Out, own.Out);
    EXPECT_EQ(SavedReports(replay), SavedReports(sim));
  }
}

// A published dump's machine: its profile holds only what the dump held, so
// that the replay reads no register the dump lacked and reports alike.
TEST(Dump, APublishedDumpReplaysToItsOwnReports) {
  const fs::path dir = fs::path(TORV_SOURCE_DIR) / "tests/data/dumps";
  for (const char* file : {"pentium2-klamath-0633.txt", "cpuz-klamath-0633-early.txt",
                           "celeron-mendocino-0660-aida.txt", "cpuz-mendocino-0665.txt"}) {
    SCOPED_TRACE(file);
    const std::string sim = "/SIM=" + (dir / file).string();
    const Outcome dump = InProcess({sim, "/DUMP"}, Dump);
    ASSERT_EQ(dump.Status, 0) << dump.Err;
    EXPECT_NE(dump.Out.find("published = yes\n"), std::string::npos) << dump.Out;
    const std::string replay = "/SIM=" + Written("replay.profile", dump.Out);
    const Outcome own = InProcess({sim, "/CON", "/EXT", "/EN"}, Console);
    const Outcome replayed = InProcess({replay, "/CON", "/EXT", "/EN"}, Console);
    EXPECT_EQ(replayed.Status, own.Status);
    EXPECT_EQ(replayed.Out, own.Out);
    EXPECT_NE(own.Out.find(" Not in the dump"), std::string::npos) << own.Out;
  }
}

// What the analysis could not read is in the profile's comments and on
// standard error, and the profile replays to the same end.
TEST(Dump, WhatCouldNotBeReadIsSaid) {
  const std::string klamath =
      "name = Klamath 300\n"
      "clock = 300400000\n"
      "CPUID 00000000: 00000003-756E6547-6C65746E-49656E69\n"
      "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
      "CPUID 00000002: 03020101-00000000-00000000-0C040843\n"
      "CPUID 00000003: 00000000-00000000-4CECC782-00006778\n"
      "MSR 0000002A: 0000-0000-C180-0000\n"
      "MSR 0000011E: 0000-0000-0000-4527\n"
      "l2ecc = yes\n";
  struct Case {
    const char* Extra;   // a line added to the profile
    const char* Switch;  // besides /DUMP
    int Status;
    std::vector<std::string> In;     // lines in the dump
    std::vector<std::string> NotIn;  // lines not in it
    const char* Err;                 // on standard error
  };
  const Case cases[] = {
      {"", "/DUMP", 0,
       {"MSR 0000002A: 0000-0000-C180-0000\n", "MSR 0000011E: 0000-0000-0000-4527\n",
        "l2ecc = yes\n"},
       {"CPUID 00000003:", "]\n#"}, ""},
      {"", "/dump=all", 0, {"CPUID 00000003: 00000000-00000000-4CECC782-00006778\n"}, {"leaf 3"},
       ""},
      {"", "/NOL2", 0, {"# the ECC test did not run (/NOL2): its result is not in this profile\n"},
       {}, "torvacin: processor 1: the ECC test did not run (/NOL2)"},
      {"l2busy = stuck", "", 4,
       {"l2busy = stuck\n", "MSR 0000002A: 0000-0000-C180-0000\n",
        "# the second-level cache did not answer its ECC test"},
       {"l2reg"}, "torvacin: processor 1: the second-level cache did not answer"},
      {"msraccess = readonly", "", 7,
       {"msraccess = readonly\n", "MSR 0000011E: 0000-0000-0000-4527\n",
        "# Writing model-specific register 0000011E failed"},
       {"MSR 000000FE"}, ""},
      {"msraccess = denied", "", 8,
       {"msraccess = denied\n", "# Reading model-specific register 0000002A failed"}, {"MSR "},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Extra) + c.Switch);
    const std::string sim = "/SIM=" + Written("klamath.profile", klamath + c.Extra + "\n");
    std::vector<std::string> args = {sim, "/DUMP"};
    if (*c.Switch != '\0') args.push_back(c.Switch);
    const Outcome dump = InProcess(args, Dump);
    EXPECT_EQ(dump.Status, c.Status) << dump.Err;
    for (const std::string& line : c.In) EXPECT_NE(dump.Out.find(line), std::string::npos) << line;
    for (const std::string& line : c.NotIn) EXPECT_EQ(dump.Out.find(line), std::string::npos) << line;
    EXPECT_NE(dump.Err.find(c.Err), std::string::npos) << dump.Err;
    // The profile reads back, and says what the machine said.
    SimProfile p;
    std::string error;
    EXPECT_TRUE(ParseProfile(dump.Out, "dump", p, error)) << error;
  }
}

// Every standard and extended leaf a processor has, the clock it was
// measured at, and processors beyond the 15 the analysis can name.
TEST(Dump, LeavesClockAndProcessors) {
  const Outcome k5 = InProcess({"/SIM=k5", "/DUMP"}, Dump);
  for (const char* line : {"CPUID 80000000: 80000005-", "CPUID 80000005: 00000000-04800000-",
                           "clock = 116666670\n"}) {
    EXPECT_NE(k5.Out.find(line), std::string::npos) << line << "\n" << k5.Out;
  }
  const std::string many = "/SIM=" + Written("sixteen.profile",
                                             "processors = 16\n"
                                             "CPUID 00000000: 00000001-756E6547-6C65746E-49656E69\n"
                                             "CPUID 00000001: 00000543-00000000-00000000-008003BF\n"
                                             "[processor 16]\nclock = 200000000\n");
  const Outcome dump = InProcess({many, "/DUMP"}, Dump);
  EXPECT_EQ(dump.Status, 0);
  EXPECT_NE(dump.Out.find("processors = 15\n"), std::string::npos);
  EXPECT_NE(dump.Out.find("# processor 16 is not in this profile\n"), std::string::npos);
  EXPECT_EQ(dump.Err, "torvacin: processor 16 is not in this profile\n");
}

TEST(Dump, Switches) {
  EXPECT_EQ(WantsDump({"/CON"}), DumpRequest::None);
  EXPECT_EQ(WantsDump({"/dump"}), DumpRequest::Standard);
  EXPECT_EQ(WantsDump({"/DUMP=ALL", "/DUMP"}), DumpRequest::All);
  EXPECT_EQ(WantsDump({"/DUMP=SOME"}), DumpRequest::None);
}

}  // namespace
}  // namespace torv::test
