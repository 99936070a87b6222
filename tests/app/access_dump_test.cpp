// /DUMP of an ordinary user, through torvacin-access: the program's client
// connected to the helper's request handling over the same machine writes
// the very profile the machine gives directly, asking the helper only for the
// analysis of each processor.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/dump.h"
#include "app/shell.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "support/server_link.h"
#include "app/world.h"

namespace torv::test {
namespace {

namespace fs = std::filesystem;

fs::path TestFile(const std::string& name) {
  return fs::path(::testing::TempDir()) / ("torv-access-dump-" + name);
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// /DUMP of the /SIM= machine `sim` with `extra` switches: on the machine
// itself, or through the helper (CPUID and the clock from one copy of the
// machine, the helper's sequences on another).
Outcome Dump(const std::string& sim, const std::vector<std::string>& extra, bool throughHelper,
             std::vector<std::string>& requests) {
  FakePlatform p;
  World w(p);
  std::vector<std::string> args = {sim, "/DUMP"};
  args.insert(args.end(), extra.begin(), extra.end());
  const fs::path outPath = TestFile("stdout"), errPath = TestFile("stderr");
  std::FILE* out = std::fopen(outPath.string().c_str(), "wb");
  std::FILE* err = std::fopen(errPath.string().c_str(), "wb");
  Outcome r;
  if (out == nullptr || err == nullptr) return r;
  ConsoleOutput o(out);
  r.Status = PrepareMachine(w, args, o, err);
  if (r.Status < 0 && throughHelper) {
    std::string error;
    const std::string name = sim.substr(5);
    w.machine = MakeAccessClient(MakeSimMachine(name, error),
                                 std::make_unique<ServerLink>(MakeSimMachine(name, error), requests));
  }
  if (r.Status < 0) r.Status = RunDump(w, args, o, err, "the test's date");
  std::fclose(out);
  std::fclose(err);
  r.Out = Slurp(outPath);
  r.Err = Slurp(errPath);
  return r;
}

std::string Written(const std::string& name, const std::string& text) {
  const fs::path file = TestFile(name);
  std::ofstream(file, std::ios::binary) << text;
  return file.string();
}

// The profile with the reason of a failed register access left out of its
// comment: the helper gives the system's reason in its own words.
std::string WithoutReasons(const std::string& profile) {
  std::istringstream in(profile);
  std::string out, line;
  while (std::getline(in, line)) {
    const std::size_t failed = line.find(" failed: ");
    if (line.starts_with("# ") && failed != std::string::npos) line.resize(failed + 7);
    out += line + "\n";
  }
  return out;
}

TEST(DumpThroughTheHelper, WritesTheMachinesOwnProfile) {
  struct Case {
    std::string Sim;
    std::vector<std::string> Switches;
    std::vector<std::string> Requests;  // what the program asks the helper
    bool Checked = true;                // whether that is checked
  };
  const std::string klamath =
      "name = Klamath 300\n"
      "clock = 300400000\n"
      "CPUID 00000000: 00000003-756E6547-6C65746E-49656E69\n"
      "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
      "MSR 0000002A: 0000-0000-C180-0000\n"
      "MSR 0000011E: 0000-0000-0000-4527\n"
      "l2ecc = yes\n";
  const std::vector<std::string> one = {"probe 0"};
  std::vector<Case> cases = {
      {"/SIM=p2-dual", {}, {"probe 0", "probe 1"}},
      {"/SIM=p2-450", {"/NOL2"}, {"probe 0 nol2"}},
      {"/SIM=" + Written("stuck.profile", klamath + "l2busy = stuck\n"), {}, one},
      {"/SIM=" + Written("readonly.profile", klamath + "msraccess = readonly\n"), {}, one},
      // The helper does nothing for a processor without register analysis.
      {"/SIM=k5", {}, {}},
  };
  for (const CatalogueEntry& e : Catalogue()) {
    cases.push_back({std::string("/SIM=") + e.Name, {}, {}, false});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Sim);
    std::vector<std::string> none, asked;
    const Outcome want = Dump(c.Sim, c.Switches, false, none);
    const Outcome got = Dump(c.Sim, c.Switches, true, asked);
    EXPECT_EQ(got.Status, want.Status) << got.Err;
    EXPECT_EQ(WithoutReasons(got.Out), WithoutReasons(want.Out));
    EXPECT_EQ(got.Err, want.Err);
    EXPECT_TRUE(none.empty());
    if (c.Checked) {
      EXPECT_EQ(asked, c.Requests);
    }
  }
}

}  // namespace
}  // namespace torv::test
