#include "machine/access.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/world.h"
#include "driver/hw.h"
#include "driver/loader.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "platform/fake_platform.h"
#include "support/temp_dir.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace torv {
namespace {

TEST(AccessFilter, ServesOnlyGenuineIntelWithTheP6CacheController) {
  constexpr std::uint32_t kIntel[3] = {0x756E6547u, 0x49656E69u, 0x6C65746Eu};  // EBX EDX ECX
  constexpr std::uint32_t kAmd[3] = {0x68747541u, 0x69746E65u, 0x444D4163u};
  struct Case {
    const std::uint32_t* Vendor;
    std::uint32_t Eax1;
    bool Served;
  };
  const Case cases[] = {
      {kIntel, 0x00000633, true},   // Klamath
      {kIntel, 0x00000652, true},   // Deschutes
      {kIntel, 0x00000619, true},   // Pentium Pro
      {kIntel, 0x00000672, true},   // Katmai: the same cache controller
      {kIntel, 0x000006B1, true},   // Tualatin, the last model with it
      {kIntel, 0x00000695, false},  // Pentium M (Banias): model 9
      {kIntel, 0x000006D6, false},  // Pentium M (Dothan)
      {kIntel, 0x000006E8, false},  // Core Solo/Duo (Yonah)
      {kIntel, 0x000006F6, false},  // Core 2 (Conroe)
      {kIntel, 0x000506E3, false},  // a modern family-6 part: extended model 5
      {kIntel, 0x00010676, false},  // extended model 1
      {kIntel, 0x00100633, false},  // extended family set
      {kIntel, 0x00000F29, false},  // Pentium 4
      {kIntel, 0x00000543, false},  // Pentium MMX
      {kAmd, 0x00000633, false},    // the right signature from another vendor
      {kAmd, 0x00000F4A, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AccessServesProcessor(c.Vendor[0], c.Vendor[1], c.Vendor[2], c.Eax1), c.Served)
        << std::hex << c.Eax1;
  }
}

TEST(AccessFilter, PortsOnlyWithoutCpuidOrOnACyrix) {
  constexpr std::uint32_t kCyrix[3] = {0x69727943u, 0x736E4978u, 0x64616574u};  // EBX EDX ECX
  constexpr std::uint32_t kIntel[3] = {0x756E6547u, 0x49656E69u, 0x6C65746Eu};
  constexpr std::uint32_t kNexGen[3] = {0x4778654Eu, 0x72446E65u, 0x6E657669u};
  EXPECT_TRUE(AccessServesPorts(true, kCyrix[0], kCyrix[1], kCyrix[2]));
  EXPECT_TRUE(AccessServesPorts(false, 0, 0, 0));
  EXPECT_FALSE(AccessServesPorts(true, kIntel[0], kIntel[1], kIntel[2]));
  EXPECT_FALSE(AccessServesPorts(true, kNexGen[0], kNexGen[1], kNexGen[2]));
  EXPECT_FALSE(AccessServesPorts(true, kCyrix[0], kCyrix[2], kCyrix[1]));
}

// The requests: a sequence, a processor and the sequence's own choices,
// nothing else; the raw requests of old are not requests any more.
TEST(AccessParser, ReadsTheSequencesAndNothingElse) {
  constexpr auto P = AccessOp::Probe;
  constexpr auto E = AccessOp::EccPass;
  constexpr auto C = AccessOp::Cyrix;
  struct Case {
    std::string Line;
    bool Ok;
    AccessOp Op = P;
    std::uint32_t Cpu = 0;
    bool EccTest = true;
    std::uint8_t EccMode = 0;
  };
  const Case cases[] = {
      {"probe 0", true, P, 0},
      {"probe 14", true, P, 14},
      {"probe 3 nol2", true, P, 3, false},
      {"ecc 0 off", true, E, 0, true, 0},
      {"ecc 3 on", true, E, 3, true, 1},
      {"ecc 1 force nol2", true, E, 1, false, 2},
      {"cyrix 0", true, C, 0},
      {"cyrix 14", true, C, 14},
      // Processors the analysis never names.
      {"probe 15", false},
      {"probe 4095", false},
      {"ecc 4 on", false},
      {"cyrix 15", false},
      // Other forms of the numbers and words.
      {"probe 00", false},
      {"probe 01", false},
      {"probe -1", false},
      {"probe +1", false},
      {"probe A", false},
      {"probe 99999999999", false},
      {"PROBE 0", false},
      {"ecc 0 ON", false},
      {"ecc 0 1", false},
      {"ecc 0 forced", false},
      {"probe 0 NOL2", false},
      // Words missing, doubled, in the wrong place, or of other requests.
      {"", false},
      {"probe", false},
      {"ecc 0", false},
      {"ecc on 0", false},
      {"ecc 0 nol2 on", false},
      {"ecc 0 on off", false},
      {"probe 0 nol2 nol2", false},
      {"probe 0 on", false},
      {"cyrix 0 nol2", false},
      {"cyrix", false},
      {"probe  0", false},
      {" probe 0", false},
      {"probe 0 ", false},
      {"probe 0\r", false},
      {"probe\t0", false},
      {std::string("probe 0\0", 8), false},
      {std::string("probe\0 0", 8), false},
      // The raw requests and the lock of old.
      {"rdmsr 0 2A", false},
      {"wrmsr 0 11E 0 4527", false},
      {"wrmsr 0 119 0 1F", false},
      {"inb 21", false},
      {"outb 21 FF", false},
      {"lock", false},
      {"unlock", false},
  };
  for (const Case& c : cases) {
    AccessRequest r;
    ASSERT_EQ(ParseAccessRequest(c.Line, r), c.Ok) << '"' << c.Line << '"';
    if (!c.Ok) continue;
    EXPECT_EQ(r.Op, c.Op) << c.Line;
    EXPECT_EQ(r.Cpu, c.Cpu) << c.Line;
    EXPECT_EQ(r.EccTest, c.EccTest) << c.Line;
    if (r.Op == E) {
      EXPECT_EQ(r.EccMode, c.EccMode) << c.Line;
    }
    // The program writes each request as it is read.
    EXPECT_EQ(FormatAccessRequest(r), c.Line);
  }
}

// The words of a record: each kind of access with its value or its error,
// and malformed words refused.
TEST(AccessRecord, WordsOfEachAccess) {
  using S = AccessStep;
  const auto step = [](char what, std::uint32_t reg, std::uint64_t value, int error) {
    S s{what, reg};
    s.Value = value;
    s.Error = error;
    return s;
  };
  S cpuid{S::Cpuid, 1};
  cpuid.Regs = {0x543, 0, 0, 0x8001BF};
  S cpuidFailed{S::Cpuid, 0};
  cpuidFailed.Error = 5;
  const std::vector<S> steps = {
      step(S::ReadMsr, 0x2A, 0xC1800000, 0),
      step(S::ReadMsr, 0x11E, 0, 5),
      step(S::WriteMsr, 0x11E, 0x100044406ull, 0),
      step(S::WriteMsr, 0x119, 0x1C, 1),
      step(S::ReadMsr, 0x200, 0xFFFFFFFFFFFFFFFFull, 0),
      step(S::PortIn, 0x23, 0xFF, 0),
      step(S::PortIn, 0x21, 0, 1),
      step(S::PortOut, 0x22, 0xC3, 0),
      step(S::PortOut, 0x23, 0, 22),
      cpuid,
      cpuidFailed,
  };
  const std::string words =
      "R2A:C1800000 R11E!5 W11E:100044406 W119:1C!1 R200:FFFFFFFFFFFFFFFF I23:FF I21!1 O22:C3 "
      "O23:0!22 C1:543.0.0.8001BF C0!5";
  EXPECT_EQ(FormatAccessSteps(steps), words);
  std::vector<S> back;
  ASSERT_TRUE(ParseAccessSteps(words, back));
  EXPECT_EQ(back, steps);
  EXPECT_TRUE(ParseAccessSteps("", back));
  EXPECT_TRUE(back.empty());
  for (const char* bad : {" ",
                          "R2A",
                          "R2A:",
                          "R2A:1 ",
                          " R2A:1",
                          "R2A:1  R1E0:0",
                          "X2A:1",
                          "r2a:1",
                          "R2A:10000000000000000",
                          "R123456789:0",
                          "R2A:1!5",
                          "W11E!5",
                          "W11E:1!0",
                          "W11E:1!",
                          "R2A!x",
                          "R2A!05",
                          "I21:100",
                          "I10000:0",
                          "C1:1.2.3",
                          "C1:1.2.3.4.5",
                          "C1:1..3.4",
                          "R2A:0x1"}) {
    EXPECT_FALSE(ParseAccessSteps(bad, back)) << '"' << bad << '"';
  }
}

std::shared_ptr<Machine> Sim(const std::string& nameOrText) {
  std::string error;
  if (const char* text = FindCatalogueProfile(nameOrText)) {
    SimProfile p;
    EXPECT_TRUE(ParseProfile(text, nameOrText, p, error)) << error;
    return MakeSimMachine(p);
  }
  SimProfile p;
  EXPECT_TRUE(ParseProfile(nameOrText, "test.profile", p, error)) << error;
  return MakeSimMachine(p);
}

// The lock on a file: exclusive between holders, shared with a shell's
// "flock FILE COMMAND", given back on Unlock.
TEST(FileLock, ExclusiveAndSharedWithTheFlockCommand) {
  torv::test::TempDir dir;
  const std::string path = (dir.path() / "msr").string();
  std::ofstream(path) << "";
  std::unique_ptr<RegisterLock> a = MakeFileLock(path);
  std::unique_ptr<RegisterLock> b = MakeFileLock(path);
  std::string reason;
  EXPECT_EQ(a->TryLock(reason), RegisterLock::Attempt::Held);
  EXPECT_EQ(b->TryLock(reason), RegisterLock::Attempt::Busy);
  a->Unlock();
  EXPECT_EQ(b->TryLock(reason), RegisterLock::Attempt::Held);
  // flock(1) of util-linux: exit status 1 when the lock is taken elsewhere.
  if (std::system("command -v flock >/dev/null") == 0) {
    EXPECT_NE(std::system(("flock -n '" + path + "' true").c_str()), 0);
    b->Unlock();
    EXPECT_EQ(std::system(("flock -n '" + path + "' true").c_str()), 0);
  }
  std::unique_ptr<RegisterLock> none = MakeFileLock((dir.path() / "missing").string());
  EXPECT_EQ(none->TryLock(reason), RegisterLock::Attempt::Unavailable);
  EXPECT_NE(reason.find("missing: No such file or directory"), std::string::npos) << reason;
}

// The analysis lock of this computer: the run folder's lock file holds even
// where the msr device of CPU 0 cannot be opened (offline, or a container
// with other processors' devices only), and the device's flock still counts
// where it opens; without either, no lock.
TEST(FileLock, TheRunFoldersLockHoldsWhereTheDeviceDoesNotOpen) {
  torv::test::TempDir dir;
  const std::string run = (dir.path() / "run").string();
  const std::string missing = (dir.path() / "missing").string();
  std::unique_ptr<RegisterLock> a = MakeAnalysisLock(missing, run);
  std::unique_ptr<RegisterLock> b = MakeAnalysisLock(missing, run);
  std::string reason;
  EXPECT_EQ(a->TryLock(reason), RegisterLock::Attempt::Held) << reason;
  EXPECT_EQ(b->TryLock(reason), RegisterLock::Attempt::Busy);
  a->Unlock();
  EXPECT_EQ(b->TryLock(reason), RegisterLock::Attempt::Held);
  b->Unlock();
  // Both: a holder of the device alone (flock /dev/cpu/0/msr) keeps the
  // analysis out.
  const std::string device = (dir.path() / "msr").string();
  std::ofstream(device) << "";
  std::unique_ptr<RegisterLock> both = MakeAnalysisLock(device, run);
  std::unique_ptr<RegisterLock> deviceOnly = MakeFileLock(device);
  EXPECT_EQ(deviceOnly->TryLock(reason), RegisterLock::Attempt::Held);
  EXPECT_EQ(both->TryLock(reason), RegisterLock::Attempt::Busy);
  deviceOnly->Unlock();
  EXPECT_EQ(both->TryLock(reason), RegisterLock::Attempt::Held);
  both->Unlock();
  // A run folder that is not root's alone and no device: no lock.
  const std::string open = (dir.path() / "open").string();
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms::all);
  EXPECT_EQ(MakeAnalysisLock(missing, open)->TryLock(reason), RegisterLock::Attempt::Unavailable);
}

// The program's side, with the test standing in for pkexec and the helper.
// A helper played by the test: its answers by request line, the requests
// kept.
class PlayedLink : public AccessLink {
 public:
  PlayedLink(std::vector<std::pair<std::string, std::string>> answers,
             std::shared_ptr<std::vector<std::string>> requests)
      : answers_(std::move(answers)), requests_(std::move(requests)) {}
  bool Exchange(const std::string& request, std::string& answer, std::string&) override {
    requests_->push_back(request);
    for (auto it = answers_.begin(); it != answers_.end(); ++it) {
      if (it->first == request) {
        answer = it->second;
        answers_.erase(it);  // each answer once, in order
        return true;
      }
    }
    answer = "bad";
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> answers_;
  std::shared_ptr<std::vector<std::string>> requests_;
};

using Answers = std::vector<std::pair<std::string, std::string>>;

struct Played {
  std::shared_ptr<std::vector<std::string>> Requests = std::make_shared<std::vector<std::string>>();
  std::shared_ptr<Machine> M;
  explicit Played(std::vector<std::pair<std::string, std::string>> answers)
      : M(MakeAccessClient(Sim("p2-300"),
                           std::make_unique<PlayedLink>(std::move(answers), Requests))) {}
};

SequencePlan Analysis(int cpu, bool eccTest = true, std::uint8_t eccMode = kNoEccPass) {
  SequencePlan p;
  p.Cpu = cpu;
  p.EccTest = eccTest;
  p.EccMode = eccMode;
  return p;
}

// The analysis's requests answered from the record, in order: reads give
// the values read, writes must be the ones made; a failed access fails
// with the helper's reason; the lock's attempt asks for the announced
// analysis, "busy" until the other analysis ends.
TEST(AccessClient, AnswersTheAnalysisFromTheHelpersRecord) {
  Played p(Answers{{"ecc 1 force nol2", "busy"},
                   {"ecc 1 force nol2", "ok R2A:1C1800000 W11E:4507 R11E!5 R1E0!2 W119:0!1"}});
  p.M->Expect(Analysis(2, false, 2));
  std::unique_ptr<RegisterLock> lock = p.M->AnalysisLock();
  std::string reason;
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Busy);
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
  std::uint64_t v = 0;
  EXPECT_EQ(p.M->ReadMsr(2, 0x2A, v), 0u);
  EXPECT_EQ(v, 0x1C1800000u);
  EXPECT_EQ(p.M->WriteMsr(2, 0x11E, 0x4507), 0u);
  EXPECT_EQ(p.M->ReadMsr(2, 0x11E, v), kErrOsBase | 5);
  EXPECT_EQ(p.M->DescribeError(kErrOsBase | 5),
            "torvacin-access: register 11E: Input/output error");
  EXPECT_EQ(p.M->ReadMsr(2, 0x1E0, v), kErrOsBase | 2);
  EXPECT_EQ(p.M->DescribeError(kErrOsBase | 2),
            "torvacin-access: register 1E0: No such file or directory (no msr device: modprobe "
            "msr)");
  EXPECT_EQ(p.M->WriteMsr(2, 0x119, 0), kErrOsBase | 1);
  // Beyond the record: refused.
  EXPECT_EQ(p.M->ReadMsr(2, 0x2A, v), kErrAccessDenied);
  lock->Unlock();
  EXPECT_EQ(*p.Requests, (std::vector<std::string>{"ecc 1 force nol2", "ecc 1 force nol2"}));
  // CPUID and the clock stay in the program.
  std::uint32_t a = 0, b = 0, c = 0, d = 0;
  EXPECT_EQ(p.M->Cpuid(1, 1, a, b, c, d), 0u);
  EXPECT_EQ(a, 0x633u);
}

// Whatever is not the record's next request is refused, and nothing of the
// record is served after that, nor outside the analysis, nor after its end.
TEST(AccessClient, RefusesEveryRequestOutsideTheRecord) {
  const std::string record = "ok R2A:0 W11E:4507 R1E0:0";
  struct Case {
    const char* Name;
    std::function<std::uint32_t(Machine&)> First;  // the request that is refused
  };
  const Case cases[] = {
      {"another register",
       [](Machine& m) {
         std::uint64_t v;
         return m.ReadMsr(1, 0x10, v);
       }},
      {"another processor",
       [](Machine& m) {
         std::uint64_t v;
         return m.ReadMsr(2, 0x2A, v);
       }},
      {"a write first", [](Machine& m) { return m.WriteMsr(1, 0x2A, 0); }},
      {"a port", [](Machine& m) { return m.PortOut(0x21, 0xFF); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Played p(Answers{{"probe 0", record}});
    p.M->Expect(Analysis(1));
    std::string reason;
    std::unique_ptr<RegisterLock> lock = p.M->AnalysisLock();
    ASSERT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
    EXPECT_EQ(c.First(*p.M), kErrAccessDenied);
    std::uint64_t v = 0;
    EXPECT_EQ(p.M->ReadMsr(1, 0x2A, v), kErrAccessDenied) << "the record is dropped";
  }
  Played p(Answers{{"probe 0", record}, {"probe 0", record}});
  std::uint64_t v = 0;
  EXPECT_EQ(p.M->ReadMsr(1, 0x2A, v), kErrAccessDenied) << "no analysis announced";
  EXPECT_EQ(p.M->DescribeError(kErrAccessDenied),
            "torvacin-access serves register 2A only within a sequence the program announced");
  p.M->Expect(Analysis(1));
  std::string reason;
  std::unique_ptr<RegisterLock> lock = p.M->AnalysisLock();
  ASSERT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
  EXPECT_EQ(p.M->ReadMsr(1, 0x2A, v), 0u);
  EXPECT_EQ(p.M->WriteMsr(1, 0x11E, 0x4527), kErrAccessDenied) << "another value";
  EXPECT_EQ(p.M->DescribeError(kErrAccessDenied),
            "torvacin-access did not make this request (writing register 11E) in the sequence it "
            "ran");
  p.M->Expect(Analysis(1));
  ASSERT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
  EXPECT_EQ(p.M->ReadMsr(1, 0x2A, v), 0u);
  lock->Unlock();
  EXPECT_EQ(p.M->WriteMsr(1, 0x11E, 0x4507), kErrAccessDenied) << "after the analysis";
}

// What the helper refused or did not understand fails each request of the
// analysis with its reason.
TEST(AccessClient, AnAnalysisTheHelperRefusedFailsWithItsReason) {
  struct Case {
    const char* Answer;
    std::uint32_t Error;
    const char* Reason;
  };
  const Case cases[] = {
      {"denied", kErrAccessDenied,
       "torvacin-access does not serve the registers of processor 1: not a processor of its "
       "sequences"},
      {"bad", kErrInvalidParameter, "torvacin-access did not understand the request"},
      {"error 2 No such file or directory", kErrOsBase | 2,
       "torvacin-access: No such file or directory"},
      {"ok R2A", kErrInvalidParameter, "torvacin-access gave an answer that is not understood"},
      {"okay", kErrInvalidParameter, "torvacin-access gave an answer that is not understood"},
      {"error x", kErrInvalidParameter, "torvacin-access gave an answer that is not understood"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Answer);
    Played p(Answers{{"probe 0", c.Answer}});
    p.M->Expect(Analysis(1));
    std::string reason;
    EXPECT_EQ(p.M->AnalysisLock()->TryLock(reason), RegisterLock::Attempt::Held);
    std::uint64_t v = 0;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(p.M->ReadMsr(1, 0x2A, v), c.Error);
      EXPECT_EQ(p.M->DescribeError(c.Error), c.Reason);
    }
  }
}

// The Cyrix identification: its first port request asks the helper, the
// CPUID requests between its port requests are the record's, and the
// identification ends with the record.
TEST(AccessClient, AnswersTheCyrixIdentificationFromTheRecord) {
  Played p(Answers{{"cyrix 0", "ok O22:C3 I23:10 C1:540.0.0.0 O22:C3 O23:0!1"}});
  SequencePlan plan;
  plan.Kind = SequenceKind::CyrixIdentification;
  plan.Cpu = 1;
  std::uint32_t a = 0, b = 0, c = 0, d = 0;
  EXPECT_EQ(p.M->Cpuid(1, 1, a, b, c, d), 0u);
  EXPECT_EQ(a, 0x633u) << "before the identification: the program's own";
  p.M->Expect(plan);
  EXPECT_TRUE(p.Requests->empty()) << "the helper is asked at the first port request";
  std::uint8_t v = 0;
  EXPECT_EQ(p.M->PortOut(0x22, 0xC3), 0u);
  EXPECT_EQ(p.M->PortIn(0x23, v), 0u);
  EXPECT_EQ(v, 0x10);
  EXPECT_EQ(p.M->Cpuid(1, 1, a, b, c, d), 0u);
  EXPECT_EQ(a, 0x540u) << "within it: the record's";
  EXPECT_EQ(p.M->PortOut(0x22, 0xC3), 0u);
  EXPECT_EQ(p.M->PortOut(0x23, 0), kErrOsBase | 1);
  EXPECT_EQ(p.M->DescribeError(kErrOsBase | 1),
            "torvacin-access: port 23: Operation not permitted");
  EXPECT_EQ(p.M->PortIn(0x23, v), kErrAccessDenied) << "the identification is over";
  EXPECT_EQ(*p.Requests, std::vector<std::string>{"cyrix 0"});
  // Under the analysis lock the helper is asked at the lock: it runs the
  // identification whole, or another analysis holds the lock.
  Played locked(Answers{{"cyrix 0", "ok O22:C3 I23:10"}});
  locked.M->Expect(plan);
  std::string reason;
  EXPECT_EQ(locked.M->AnalysisLock()->TryLock(reason), RegisterLock::Attempt::Held);
  EXPECT_EQ(*locked.Requests, std::vector<std::string>{"cyrix 0"});
  EXPECT_EQ(locked.M->PortOut(0x22, 0xC3), 0u);
  EXPECT_EQ(locked.M->PortIn(0x23, v), 0u);
  EXPECT_EQ(v, 0x10);
  Played busy(Answers{{"cyrix 0", "busy"}});
  busy.M->Expect(plan);
  EXPECT_EQ(busy.M->AnalysisLock()->TryLock(reason), RegisterLock::Attempt::Busy);
  Played denied(Answers{{"cyrix 0", "denied"}});
  denied.M->Expect(plan);
  EXPECT_EQ(denied.M->PortIn(0x21, v), kErrAccessDenied);
  EXPECT_EQ(denied.M->DescribeError(kErrAccessDenied),
            "torvacin-access does not serve the ports of processor 1: not a processor of its "
            "sequences");
}

// The helper installed with the program is found from the program's own
// place, whatever prefix the build was configured for (a package installs
// under /usr).
TEST(AccessClient, FindsTheHelperInstalledBesideTheProgram) {
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/bin/torvacin", "/usr/libexec/torvacin-access"},
      {"/opt/torvacin/bin/torvacin", "/opt/torvacin/libexec/torvacin-access"},
      {"/bin/torvacin", "/libexec/torvacin-access"},
      {"/home/u/src/build/torvacin", ""},
      {"/usr/sbin/torvacin", ""},
      {"/usr/xbin/torvacin", ""},
      {"bin/torvacin", ""},
      {"torvacin", ""},
      {"", ""},
  };
  for (const auto& [program, helper] : cases) {
    EXPECT_EQ(InstalledAccessHelper(program), helper) << program;
  }
}

TEST(AccessClient, AHelperThatCannotStartOrIsRefusedGivesItsReason) {
  struct Case {
    std::vector<std::string> Command;
    const char* Reason;
  };
  const Case cases[] = {
      {{"/bin/sh", "-c", "exit 126"}, "authorisation for torvacin-access was refused"},
      {{"/bin/sh", "-c", "exit 127"},
       "torvacin-access could not be run: not authorised, or pkexec could not start it"},
      {{"/bin/sh", "-c", "read l; exit 3"}, "torvacin-access ended with status 3"},
      {{"/nonexistent/pkexec", "/bin/true"},
       "torvacin-access cannot be started: /nonexistent/pkexec: No such file or directory"},
      {{"/bin/sh", "/nonexistent/torvacin-access"},
       "torvacin-access cannot be started: /nonexistent/torvacin-access: No such file or "
       "directory"},
  };
  for (const Case& c : cases) {
    std::shared_ptr<Machine> m = MakeAccessClient(Sim("p2-300"), c.Command);
    // CPUID and the clock stay in the program and need no helper.
    std::uint32_t a = 0, b = 0, cx = 0, d = 0;
    EXPECT_EQ(m->Cpuid(1, 1, a, b, cx, d), 0u);
    EXPECT_EQ(a, 0x633u);
    std::uint32_t cycles = 0;
    EXPECT_EQ(m->ClockCount(1, cycles), 0u);
    // The analysis goes on without a lock, and every register and port
    // request fails with the reason, without a second attempt to start the
    // helper.
    m->Expect(Analysis(1));
    std::string reason;
    EXPECT_EQ(m->AnalysisLock()->TryLock(reason), RegisterLock::Attempt::Unavailable);
    EXPECT_EQ(reason, c.Reason);
    std::uint64_t v = 0;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(m->ReadMsr(1, 0x2A, v), kErrAccessDenied);
      EXPECT_EQ(m->DescribeError(kErrAccessDenied), c.Reason) << c.Command.back();
    }
    SequencePlan cyrix;
    cyrix.Kind = SequenceKind::CyrixIdentification;
    m->Expect(cyrix);
    std::uint8_t port = 0;
    EXPECT_EQ(m->PortIn(0x21, port), kErrAccessDenied);
    EXPECT_EQ(m->DescribeError(kErrAccessDenied), c.Reason);
  }
}

// The helper as a process: request lines on its standard input, answer
// lines on its standard output, the connection kept from one sequence to
// the next.
TEST(AccessClient, TalksToTheHelperThroughItsInputAndOutput) {
  torv::test::TempDir dir;
  const std::string log = (dir.path() / "requests").string();
  std::shared_ptr<Machine> m = MakeAccessClient(
      Sim("p2-300"), {"/bin/sh", "-c",
                      "n=0; while read -r l; do echo \"$0: $l\" >>'" + log +
                          "'; n=$((n+1)); case $0$n in"
                          " analysis1) echo busy;; *) echo 'ok R2A:C1800000';; esac; done"});
  std::unique_ptr<RegisterLock> lock = m->AnalysisLock();
  std::string reason;
  std::uint64_t v = 0;
  m->Expect(Analysis(1, false));
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Busy);
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
  EXPECT_EQ(m->ReadMsr(1, 0x2A, v), 0u);
  EXPECT_EQ(v, 0xC1800000u);
  lock->Unlock();
  m->Expect(Analysis(2, true, 0));
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
  lock->Unlock();
  lock.reset();
  m.reset();  // ends the helper
  // The analyses go to the helper started with the analysis consent, the
  // ECC pass to one started with its own.
  EXPECT_EQ(torv::test::ReadFile(log),
            "analysis: probe 0 nol2\nanalysis: probe 0 nol2\necc: ecc 1 off\n");
}

// A window's platform: its boxes are written to standard error when the
// process ends, so that the death test sees them.
class WindowPlatform : public FakePlatform {
 public:
  bool Window = false;
  bool BoxesInWindow() const override { return Window; }
  [[noreturn]] void ExitProcess(int code) override {
    for (const RecordedBox& b : Boxes)
      std::fprintf(stderr, "[%s: %s]\n", b.Title.c_str(), b.Text.c_str());
    FakePlatform::ExitProcess(code);
  }
};

void RefusedRead(bool window) {
  WindowPlatform platform;
  platform.Window = window;
  World w(platform);
  w.shell.OsKind = kOsLinux;
  w.machine = MakeAccessClient(Sim("p2-300"), {"/bin/sh", "-c", "exit 126"});
  std::uint32_t code = 1;
  LoadDriver(w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  DrvSetCpu(w.ForDriver(), 1);
  w.machine->Expect(Analysis(1));
  const RegisterSession session(w.ForDriver());
  std::uint32_t lo = 0, hi = 0;
  ReadMsr(w.ForDriver(), kMsrPowerOn, lo, hi);
}

TEST(AccessClientDeath, ARefusedAuthorisationEndsTheAnalysisLikeADeniedRegister) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RefusedRead(false), ::testing::ExitedWithCode(8),
              "^torvacin: reading model-specific register 0000002A failed: authorisation for "
              "torvacin-access was refused\n$");
  EXPECT_EXIT(RefusedRead(true), ::testing::ExitedWithCode(8),
              "\\[Error: Reading model-specific register 0000002A failed: authorisation for "
              "torvacin-access was refused\\]");
}

#ifdef TORV_ACCESS_BINARY
// Run by root, the helper becomes its own system user, which the package
// makes; a test runs it as an ordinary user instead, as its answers here do
// not depend on the devices it opens.
std::string AsUser() {
  return geteuid() == 0 ? "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
}
std::vector<std::string> HelperCommand() {
  std::vector<std::string> c;
  if (geteuid() == 0) {
    c = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  c.emplace_back(TORV_ACCESS_BINARY);
  return c;
}

std::string RunHelper(const std::string& args, const std::string& input, int& status) {
  const std::string cmd =
      "printf '" + input + "' | " + AsUser() + TORV_ACCESS_BINARY + args + " 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  if (p == nullptr) return out;
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = pclose(p);
  return out;
}

// The helper itself on this computer: the raw requests of old are not
// understood, and on a processor that is not one of its sequences' it
// touches nothing. (On a Pentium II or a Cyrix part the sequences would run
// for real; they are not asked for there.)
TEST(AccessHelper, AnswersOnThisComputerAndEndsWithItsInput) {
  bool p6 = true;
  bool cyrix = true;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a0 = 0, b0 = 0, c0 = 0, d0 = 0, a1 = 0, b1 = 0, c1 = 0, d1 = 0;
  __cpuid(0, a0, b0, c0, d0);
  __cpuid(1, a1, b1, c1, d1);
  p6 = AccessServesProcessor(b0, d0, c0, a1);
  cyrix = AccessServesPorts(true, b0, d0, c0);
#endif
  std::string in = "rdmsr 0 2A\\nwrmsr 0 11E 0 0\\ninb 21\\nlock\\nprobe 15\\n";
  std::string want = "bad\nbad\nbad\nbad\nbad\n";
  if (!p6) {
    in += "probe 0\\necc 0 force\\n";
    want += "denied\ndenied\n";
  }
  if (!cyrix) {
    in += "cyrix 0\\n";
    want += "denied\n";
  }
  int status = -1;
  EXPECT_EQ(RunHelper(" analysis", in, status), want);
  EXPECT_EQ(status, 0);
  // The program's back-end over the real helper, connected as pkexec
  // connects it: its standard input and output.
  if (!p6) {
    std::shared_ptr<Machine> m = MakeAccessClient(MakeLinuxMachine(), HelperCommand());
    m->Expect(Analysis(1));
    std::string reason;
    std::unique_ptr<RegisterLock> lock = m->AnalysisLock();
    EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
    std::uint64_t v = 0;
    EXPECT_EQ(m->ReadMsr(1, kMsrPowerOn, v), kErrAccessDenied);
    EXPECT_EQ(m->DescribeError(kErrAccessDenied),
              "torvacin-access does not serve the registers of processor 1: not a processor of "
              "its sequences");
  }
  // Without its consent it serves nothing.
  EXPECT_EQ(RunHelper("", "probe 15\\n", status), "");
  EXPECT_NE(status, 0);
  // Its one argument is the consent it was started with; nothing else is
  // taken, so nothing can widen what it does.
  const std::string refused = RunHelper(" --allow-all", "probe 0\\n", status);
  EXPECT_EQ(refused, "");
  EXPECT_NE(status, 0);
}

// The helper in a real terminal, started by a shell there as pkexec starts
// it from the program: it leaves the terminal's session, so a Ctrl+C and a
// Ctrl+Z typed there (which end and stop the shell's process group) do not
// reach it, and it still answers afterwards.
TEST(AccessHelper, CtrlCAndCtrlZInTheCallersTerminalDoNotReachIt) {
  int master = -1;
  const std::string command = AsUser() + TORV_ACCESS_BINARY + " analysis";
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", (command + "; echo ended $?").c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto readFor = [&](int ms) {
    std::string got;
    for (int waited = 0; waited < ms; waited += 50) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 50) > 0) {
        char buf[256];
        const ssize_t n = read(master, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
      }
    }
    return got;
  };
  readFor(500);  // the helper has started and left the session
  ASSERT_EQ(write(master, "\x03\x1a", 2), 2);
  readFor(300);
  ASSERT_EQ(write(master, "probe 15\n", 9), 9);
  const std::string answer = readFor(2000);
  EXPECT_NE(answer.find("bad"), std::string::npos) << answer;
  close(master);  // the helper's input ends
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}
#endif

}  // namespace
}  // namespace torv
