#include <gtest/gtest.h>

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
#include "machine/access.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "platform/fake_platform.h"
#include "support/temp_dir.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace torv {
namespace {

constexpr auto R = AccessOp::ReadMsr;
constexpr auto W = AccessOp::WriteMsr;
constexpr auto I = AccessOp::PortIn;
constexpr auto O = AccessOp::PortOut;

TEST(AccessFilter, AllowsExactlyTheRegistersAndPortsOfTheAnalysis) {
  struct Case {
    AccessOp Op;
    std::uint32_t Reg;
    bool Allowed;
  };
  const Case cases[] = {
      // Reads: every listed register and its neighbours.
      {R, 0x29, false}, {R, 0x2A, true}, {R, 0x2B, false},
      {R, 0x1DF, false}, {R, 0x1E0, true}, {R, 0x1E1, false},
      {R, 0xFD, false}, {R, 0xFE, true}, {R, 0xFF, false},
      {R, 0x11D, false}, {R, 0x11E, true}, {R, 0x11F, false},
      {R, 0x1FF, false}, {R, 0x200, true}, {R, 0x20F, true}, {R, 0x210, false},
      {R, 0x87, false}, {R, 0x88, true}, {R, 0x8B, true}, {R, 0x8C, false},
      {R, 0x115, false}, {R, 0x116, true}, {R, 0x117, false},
      {R, 0x118, true}, {R, 0x11B, true}, {R, 0x11C, false},
      // Registers no analysis reads: time-stamp counter, APIC base,
      // microcode, the extended feature register, a high number.
      {R, 0x10, false}, {R, 0x1B, false}, {R, 0x8B + 0x100, false},
      {R, 0xC0000080u, false}, {R, 0x2A + 0x10000u, false},
      // Writes: only the cache controller and BBL_CR_CTL3.
      {W, 0x87, false}, {W, 0x88, true}, {W, 0x8B, true}, {W, 0x8C, false},
      {W, 0x115, false}, {W, 0x116, true}, {W, 0x117, false},
      {W, 0x118, true}, {W, 0x119, true}, {W, 0x11A, true}, {W, 0x11B, false},
      {W, 0x11D, false}, {W, 0x11E, true}, {W, 0x11F, false},
      {W, 0x2A, false}, {W, 0x1E0, false}, {W, 0xFE, false}, {W, 0x200, false},
      {W, 0x20F, false}, {W, 0x10, false}, {W, 0x1B, false},
      // Ports: the interrupt mask and the configuration index and data.
      {I, 0x20, false}, {I, 0x21, true}, {I, 0x22, true}, {I, 0x23, true}, {I, 0x24, false},
      {O, 0x20, false}, {O, 0x21, true}, {O, 0x22, true}, {O, 0x23, true}, {O, 0x24, false},
      {I, 0x80, false}, {O, 0xCF8, false}, {O, 0x2A, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AccessAllowed(c.Op, c.Reg), c.Allowed)
        << "op " << static_cast<int>(c.Op) << " register/port " << std::hex << c.Reg;
  }
}

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

TEST(AccessParser, ReadsTheFourRequestsAndNothingElse) {
  struct Case {
    std::string Line;
    bool Ok;
    AccessOp Op;
    std::uint32_t Cpu, Reg, Hi, Lo;
  };
  const Case cases[] = {
      {"rdmsr 0 2A", true, R, 0, 0x2A, 0, 0},
      {"rdmsr 4095 2a", true, R, 4095, 0x2A, 0, 0},
      {"rdmsr 1 0000002A", true, R, 1, 0x2A, 0, 0},
      {"rdmsr 0 FFFFFFFF", true, R, 0, 0xFFFFFFFFu, 0, 0},
      {"wrmsr 3 11E 1 C0004527", true, W, 3, 0x11E, 1, 0xC0004527u},
      {"inb 21", true, I, 0, 0x21, 0, 0},
      {"inb FFFF", true, I, 0, 0xFFFF, 0, 0},
      {"outb 22 C0", true, O, 0, 0x22, 0, 0xC0},
      {"", false, R, 0, 0, 0, 0},
      {"xyz", false, R, 0, 0, 0, 0},
      {"rdmsr", false, R, 0, 0, 0, 0},
      {"rdmsr 0", false, R, 0, 0, 0, 0},
      {"rdmsr 0 2A 0", false, R, 0, 0, 0, 0},
      {"rdmsr 0  2A", false, R, 0, 0, 0, 0},
      {" rdmsr 0 2A", false, R, 0, 0, 0, 0},
      {"rdmsr 0 2A ", false, R, 0, 0, 0, 0},
      {"rdmsr 0 2A\r", false, R, 0, 0, 0, 0},
      {"rdmsr\t0 2A", false, R, 0, 0, 0, 0},
      {"RDMSR 0 2A", false, R, 0, 0, 0, 0},
      {"rdmsr 0 0x2A", false, R, 0, 0, 0, 0},
      {"rdmsr 0 12345678A", false, R, 0, 0, 0, 0},
      {"rdmsr -1 2A", false, R, 0, 0, 0, 0},
      {"rdmsr +1 2A", false, R, 0, 0, 0, 0},
      {"rdmsr 4096 2A", false, R, 0, 0, 0, 0},
      {"rdmsr 00001 2A", false, R, 0, 0, 0, 0},
      {"rdmsr A 2A", false, R, 0, 0, 0, 0},
      {std::string("rdmsr 0\0 2A", 11), false, R, 0, 0, 0, 0},
      {"wrmsr 0 11E 4527", false, R, 0, 0, 0, 0},
      {"wrmsr 0 11E 0 100000000", false, R, 0, 0, 0, 0},
      {"inb 10000", false, R, 0, 0, 0, 0},
      {"inb 21 0", false, R, 0, 0, 0, 0},
      {"outb 21 100", false, R, 0, 0, 0, 0},
      {"outb 21", false, R, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    AccessRequest r;
    ASSERT_EQ(ParseAccessRequest(c.Line, r), c.Ok) << '"' << c.Line << '"';
    if (!c.Ok) continue;
    EXPECT_EQ(r.Op, c.Op) << c.Line;
    EXPECT_EQ(r.Cpu, c.Cpu) << c.Line;
    EXPECT_EQ(r.Reg, c.Reg) << c.Line;
    EXPECT_EQ(r.Hi, c.Hi) << c.Line;
    EXPECT_EQ(r.Lo, c.Lo) << c.Line;
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

// A Klamath whose model-specific registers the kernel refuses.
constexpr const char* kRefusing = R"(name = refusing
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
MSR 0000002A: 0000-0000-C180-0000
msraccess = denied
)";

// Processor 1 a Klamath, processor 2 a modern family-6 part.
constexpr const char* kMixed = R"(name = mixed
processors = 2
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
MSR 0000002A: 0000-0000-C180-0000
[processor 2]
CPUID 00000001: 000506E3-00000000-00000000-0080FBFF
)";

TEST(AccessServer, AnswersEachLineOverASimulatedMachine) {
  const std::string longLine(kAccessMaxLine + 1, 'a');
  const std::string longRequest = "rdmsr 0 2A" + std::string(200, ' ');
  struct Case {
    const char* Machine;
    std::string In;
    std::string Out;
  };
  const Case cases[] = {
      {"p2-300", "rdmsr 0 2A\n", "ok 0 C1800000\n"},
      {"p2-300", "rdmsr 0 10\nrdmsr 0 2A\n", "denied\nok 0 C1800000\n"},
      {"p2-300", "xyz\n\nrdmsr 0 2A\n", "bad\nbad\nok 0 C1800000\n"},
      {"p2-300", "wrmsr 0 11E 1 4507\nrdmsr 0 11E\n", "ok\nok 1 4507\n"},
      {"p2-300", "wrmsr 0 2A 0 0\nwrmsr 0 11B 0 0\nrdmsr 0 2A\n", "denied\ndenied\nok 0 C1800000\n"},
      {"p2-300", "inb 21\noutb 21 FF\ninb 21\ninb 20\noutb 60 0\n", "ok B8\nok\nok FF\ndenied\ndenied\n"},
      // Oversized lines are answered once and do not disturb the next one.
      {"p2-300", longLine + "\nrdmsr 0 2A\n", "bad\nok 0 C1800000\n"},
      {"p2-300", longRequest + "\n" + longRequest + longRequest + "\nrdmsr 0 FE\n",
       "bad\nbad\nok 0 508\n"},
      // A last line without its end is answered; an empty input answers nothing.
      {"p2-300", "rdmsr 0 2A", "ok 0 C1800000\n"},
      {"p2-300", "", ""},
      {"p2-300", std::string("rdmsr 0 2A\0\n", 12), "bad\n"},
      // The kernel refuses: an error with its number, and the helper goes on.
      {kRefusing, "rdmsr 0 2A\ninb 21\n", "error 1 Operation not permitted\nok B8\n"},
      // A foreign processor gets no register request, but the ports.
      {"k6-2", "rdmsr 0 2A\nwrmsr 0 11E 0 0\ninb 21\n", "denied\ndenied\nok B8\n"},
      {kMixed, "rdmsr 1 2A\nrdmsr 0 2A\nrdmsr 1 2A\nrdmsr 7 2A\n",
       "denied\nok 0 C1800000\ndenied\ndenied\n"},
  };
  for (const Case& c : cases) {
    std::shared_ptr<Machine> m = Sim(c.Machine);
    ASSERT_TRUE(m);
    AccessServer server(*m);
    std::istringstream in(c.In);
    std::ostringstream out;
    server.Serve(in, out);
    EXPECT_EQ(out.str(), c.Out) << "input \"" << c.In.substr(0, 40) << "\"";
  }
}

// A machine that passes everything on to a simulated one; tests override
// what they watch or play.
class Forwarding : public Machine {
 public:
  explicit Forwarding(std::shared_ptr<Machine> m) : m_(std::move(m)) {}
  std::string Name() const override { return m_->Name(); }
  std::string Description() const override { return m_->Description(); }
  int ProcessorCount() const override { return m_->ProcessorCount(); }
  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& a, std::uint32_t& b,
                      std::uint32_t& c, std::uint32_t& d) override {
    return m_->Cpuid(cpu, leaf, a, b, c, d);
  }
  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& v) override {
    return m_->ReadMsr(cpu, reg, v);
  }
  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t v) override {
    return m_->WriteMsr(cpu, reg, v);
  }
  std::uint32_t PortIn(std::uint16_t p, std::uint8_t& v) override { return m_->PortIn(p, v); }
  std::uint32_t PortOut(std::uint16_t p, std::uint8_t v) override { return m_->PortOut(p, v); }
  std::uint32_t ClockCount(int cpu, std::uint32_t& c) override { return m_->ClockCount(cpu, c); }
  bool DivisionLeavesFlags(int cpu) override { return m_->DivisionLeavesFlags(cpu); }
  bool BindsHostThreads() const override { return false; }
  std::string DescribeError(std::uint32_t e) const override { return m_->DescribeError(e); }

 private:
  std::shared_ptr<Machine> m_;
};

TEST(AccessServer, ChecksEachProcessorOnceBeforeItsFirstRegister) {
  // Counts CPUID requests of a simulated machine.
  class Counting : public Forwarding {
   public:
    using Forwarding::Forwarding;
    std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& a, std::uint32_t& b,
                        std::uint32_t& c, std::uint32_t& d) override {
      ++Cpuids;
      return Forwarding::Cpuid(cpu, leaf, a, b, c, d);
    }
    std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& v) override {
      ++Registers;
      return Forwarding::ReadMsr(cpu, reg, v);
    }
    std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t v) override {
      ++Registers;
      return Forwarding::WriteMsr(cpu, reg, v);
    }
    int Cpuids = 0;
    int Registers = 0;
  };
  Counting m(Sim(kMixed));
  AccessServer server(m);
  EXPECT_EQ(server.Answer("inb 21"), "ok B8");
  EXPECT_EQ(server.Answer("rdmsr 0 10"), "denied");
  EXPECT_EQ(m.Cpuids, 0) << "requests outside the list and ports need no check";
  EXPECT_EQ(server.Answer("rdmsr 0 2A"), "ok 0 C1800000");
  EXPECT_EQ(server.Answer("rdmsr 0 2A"), "ok 0 C1800000");
  EXPECT_EQ(server.Answer("rdmsr 1 2A"), "denied");
  EXPECT_EQ(server.Answer("wrmsr 1 11E 0 0"), "denied");
  EXPECT_EQ(m.Cpuids, 4) << "leaves 0 and 1, once per processor";
  EXPECT_EQ(m.Registers, 2) << "the foreign processor's registers are never touched";
}

// "lock" and "unlock" over a machine whose lock the test plays: taken
// without waiting, "busy" while someone else holds it, the reason when there
// is none; a simulated machine has no lock to take.
TEST(AccessServer, TakesAndGivesBackTheAnalysisLock) {
  struct Shared {
    bool OtherHolds = false;
    bool Missing = false;
    bool Held = false;
  };
  class Lock : public RegisterLock {
   public:
    explicit Lock(Shared& s) : s_(s) {}
    Attempt TryLock(std::string& reason) override {
      if (s_.Missing) {
        reason = "2 No such\nfile or directory";
        return Attempt::Unavailable;
      }
      if (s_.OtherHolds) return Attempt::Busy;
      s_.Held = true;
      return Attempt::Held;
    }
    void Unlock() override { s_.Held = false; }

   private:
    Shared& s_;
  };
  class Locking : public Forwarding {
   public:
    Locking(std::shared_ptr<Machine> m, Shared& s) : Forwarding(std::move(m)), s_(s) {}
    std::unique_ptr<RegisterLock> AnalysisLock() override { return std::make_unique<Lock>(s_); }

   private:
    Shared& s_;
  };
  Shared state;
  Locking m(Sim("p2-300"), state);
  AccessServer server(m);
  state.OtherHolds = true;
  EXPECT_EQ(server.Answer("lock"), "busy");
  state.OtherHolds = false;
  EXPECT_EQ(server.Answer("lock"), "ok");
  EXPECT_TRUE(state.Held);
  EXPECT_EQ(server.Answer("rdmsr 0 2A"), "ok 0 C1800000");
  EXPECT_EQ(server.Answer("unlock"), "ok");
  EXPECT_FALSE(state.Held);
  EXPECT_EQ(server.Answer("lock 0"), "bad");
  state.Missing = true;
  EXPECT_EQ(server.Answer("lock"), "error 2 No such?file or directory");
  std::shared_ptr<Machine> sim = Sim("p2-300");
  AccessServer plain(*sim);
  EXPECT_EQ(plain.Answer("lock"), "error 38 Function not implemented");
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

// The program's side, with shell scripts standing in for pkexec and the
// helper.
std::shared_ptr<Machine> Client(const std::string& script) {
  return MakeAccessClient(Sim("p2-300"), {"/bin/sh", "-c", script});
}

TEST(AccessClient, SendsRequestLinesAndReadsTheAnswers) {
  // Answers only the exact lines the program must send.
  std::shared_ptr<Machine> m = Client(
      "while read -r l; do case \"$l\" in"
      " 'rdmsr 0 2A') echo 'ok 1 C1800000';;"
      " 'wrmsr 1 11E 0 4527') echo ok;;"
      " 'inb 21') echo 'ok B8';;"
      " 'outb 22 C0') echo ok;;"
      " 'rdmsr 0 10') echo denied;;"
      " 'rdmsr 0 11E') echo 'error 5 Input/output error';;"
      " 'rdmsr 0 FE') echo bad;;"
      " 'rdmsr 0 1E0') echo 'error 2 No such file or directory';;"
      " *) echo 'ok ZZ';; esac; done");
  std::uint64_t v = 0;
  EXPECT_EQ(m->ReadMsr(1, 0x2A, v), 0u);
  EXPECT_EQ(v, 0x1C1800000u);
  EXPECT_EQ(m->WriteMsr(2, 0x11E, 0x4527), 0u);
  std::uint8_t b = 0;
  EXPECT_EQ(m->PortIn(0x21, b), 0u);
  EXPECT_EQ(b, 0xB8);
  EXPECT_EQ(m->PortOut(0x22, 0xC0), 0u);

  struct Case {
    std::uint32_t Reg;
    std::uint32_t Error;
    const char* Reason;
  };
  const Case cases[] = {
      {0x10, kErrAccessDenied, "torvacin-access does not serve register 10 on this processor"},
      {0x11E, kErrOsBase | 5, "torvacin-access: register 11E: Input/output error"},
      {0xFE, kErrInvalidParameter, "torvacin-access did not understand the request"},
      {0x1E0, kErrOsBase | 2,
       "torvacin-access: register 1E0: No such file or directory (no msr device: modprobe msr)"},
      {0x200, kErrInvalidParameter, "torvacin-access gave an answer that is not understood"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(m->ReadMsr(1, c.Reg, v), c.Error) << std::hex << c.Reg;
    EXPECT_EQ(m->DescribeError(c.Error), c.Reason);
  }
  // The connection survives every refusal.
  EXPECT_EQ(m->ReadMsr(1, 0x2A, v), 0u);
}

// The analysis lock through the helper: "busy" until the other analysis ends,
// then held; "unlock" gives it back. A helper that takes no lock, or none at
// all, leaves the analysis to go on without one.
TEST(AccessClient, AnalysisLockThroughTheHelper) {
  torv::test::TempDir dir;
  const std::string log = (dir.path() / "requests").string();
  std::shared_ptr<Machine> m = Client(
      "n=0; while read -r l; do echo \"$l\" >>'" + log + "'; case \"$l\" in"
      " lock) n=$((n+1)); if [ $n -lt 3 ]; then echo busy; else echo ok; fi;;"
      " unlock) echo ok;; *) echo 'ok 0 0';; esac; done");
  std::unique_ptr<RegisterLock> lock = m->AnalysisLock();
  ASSERT_NE(lock, nullptr);
  std::string reason;
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Busy);
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Busy);
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held);
  std::uint64_t v = 0;
  EXPECT_EQ(m->ReadMsr(1, 0x2A, v), 0u);
  lock->Unlock();
  lock.reset();
  m.reset();  // ends the helper
  EXPECT_EQ(torv::test::ReadFile(log), "lock\nlock\nlock\nrdmsr 0 2A\nunlock\n");

  std::shared_ptr<Machine> old = Client("while read -r l; do echo bad; done");
  EXPECT_EQ(old->AnalysisLock()->TryLock(reason), RegisterLock::Attempt::Unavailable);
  EXPECT_EQ(reason, "torvacin-access takes no lock: bad");
  std::shared_ptr<Machine> gone = Client("exit 126");
  EXPECT_EQ(gone->AnalysisLock()->TryLock(reason), RegisterLock::Attempt::Unavailable);
  EXPECT_EQ(reason, "authorisation for torvacin-access was refused");
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
    // Every register and port request fails with the reason, the second
    // without a second attempt to start the helper.
    std::uint64_t v = 0;
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(m->ReadMsr(1, 0x2A, v), kErrAccessDenied);
      EXPECT_EQ(m->DescribeError(kErrAccessDenied), c.Reason) << c.Command.back();
    }
    std::uint8_t port = 0;
    EXPECT_EQ(m->PortIn(0x21, port), kErrAccessDenied);
  }
}

// A window's platform: its boxes are written to standard error when the
// process ends, so that the death test sees them.
class WindowPlatform : public FakePlatform {
 public:
  bool Window = false;
  bool BoxesInWindow() const override { return Window; }
  [[noreturn]] void ExitProcess(int code) override {
    for (const RecordedBox& b : Boxes) std::fprintf(stderr, "[%s: %s]\n", b.Title.c_str(), b.Text.c_str());
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
std::string RunHelper(const std::string& args, const std::string& input, int& status) {
  const std::string cmd = "printf '" + input + "' | " TORV_ACCESS_BINARY + args + " 2>/dev/null";
  std::FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  if (p == nullptr) return out;
  char buf[256];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = pclose(p);
  return out;
}

TEST(AccessHelper, AnswersOnThisComputerAndEndsWithItsInput) {
  bool p6 = false;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a0 = 0, b0 = 0, c0 = 0, d0 = 0, a1 = 0, b1 = 0, c1 = 0, d1 = 0;
  __cpuid(0, a0, b0, c0, d0);
  __cpuid(1, a1, b1, c1, d1);
  p6 = AccessServesProcessor(b0, d0, c0, a1);
#endif
  int status = -1;
  const std::string out = RunHelper("", "rdmsr 0 2A\\nxyz\\nrdmsr 0 10\\n", status);
  EXPECT_EQ(status, 0);
  if (p6) {
    // Served: the register's value, or the kernel's refusal without the
    // msr device or as an ordinary user.
    EXPECT_TRUE(out.rfind("ok ", 0) == 0 || out.rfind("error ", 0) == 0) << out;
    EXPECT_NE(out.find("\nbad\ndenied\n"), std::string::npos) << out;
  } else {
    EXPECT_EQ(out, "denied\nbad\ndenied\n");
  }
  // The program's back-end over the real helper, connected as pkexec
  // connects it: its standard input and output.
  std::shared_ptr<Machine> m = MakeAccessClient(MakeLinuxMachine(), {TORV_ACCESS_BINARY});
  std::uint64_t v = 0;
  EXPECT_EQ(m->ReadMsr(1, 0x10, v), kErrAccessDenied) << "the time-stamp counter is not served";
  if (!p6) {
    EXPECT_EQ(m->ReadMsr(1, kMsrPowerOn, v), kErrAccessDenied);
    EXPECT_EQ(m->DescribeError(kErrAccessDenied),
              "torvacin-access does not serve register 2A on this processor");
  }
  // No argument is taken, so none can widen what it does.
  const std::string refused = RunHelper(" --allow-all", "rdmsr 0 2A\\n", status);
  EXPECT_EQ(refused, "");
  EXPECT_NE(status, 0);
}
#endif

}  // namespace
}  // namespace torv
