// torvacin-access's request handling over simulated machines, and the whole
// analysis and identification of the program through it (the program's
// client connected to the helper's request handling): every request the
// program makes is answered from the helper's record, so the reports, the
// /LOG trace, the exit codes and the registers left behind are those of the
// same analysis on the machine itself.
#include "p2/access_server.h"
#include "platform/linux_signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "driver/journal.h"
#include "driver/loader.h"
#include "machine/access.h"
#include "machine/sim.h"
#include "p2_fixture.h"
#include "platform/fake_platform.h"
#include "support/server_link.h"

namespace torv {
namespace {

// A catalogue machine by name, or one from a profile text.
std::shared_ptr<Machine> Sim(const std::string& nameOrText) {
  std::string error;
  SimProfile p;
  const char* text = FindCatalogueProfile(nameOrText);
  EXPECT_TRUE(ParseProfile(text != nullptr ? text : nameOrText.c_str(), "test.profile", p, error))
      << error;
  return MakeSimMachine(p);
}

// The registers and ports whose accesses a record may hold: the analysis's
// reads, its writes (the cache controller and BBL_CR_CTL3) and the Cyrix
// identification's ports.
bool OfTheAnalysis(const AccessStep& s) {
  const std::uint32_t r = s.Reg;
  switch (s.What) {
    case AccessStep::ReadMsr:
      return r == 0x2A || r == 0x1E0 || r == 0xFE || (r >= 0x200 && r <= 0x20F) ||
             (r >= 0x88 && r <= 0x8B) || r == 0x116 || (r >= 0x118 && r <= 0x11B) || r == 0x11E;
    case AccessStep::WriteMsr:
      return (r >= 0x88 && r <= 0x8B) || r == 0x116 || (r >= 0x118 && r <= 0x11A) || r == 0x11E;
    case AccessStep::PortIn:
    case AccessStep::PortOut:
      return r >= 0x21 && r <= 0x23;
    default:
      return s.What == AccessStep::Cpuid;
  }
}

// Processor 1 a Klamath, processor 2 a modern family-6 part.
constexpr const char* kMixed = R"(name = mixed
processors = 2
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
MSR 0000002A: 0000-0000-C180-0000
[processor 2]
CPUID 00000001: 000506E3-00000000-00000000-0080FBFF
)";

// Each request on served and refused processors, and every malformed or
// hostile line, the raw register and port requests of old among them.
TEST(AccessServer, AnswersEachRequestOnlyForItsProcessors) {
  const std::string longLine(kAccessMaxLine + 1, 'a');
  struct Case {
    const char* Machine;
    std::string Line;
    const char* Answer;  // "ok" for a record
  };
  const Case cases[] = {
      {"p2-300", "probe 0", "ok"},
      {"p2-300", "probe 0 nol2", "ok"},
      {"p2-300", "ecc 0 off", "ok"},
      {"p2-300", "ecc 0 on nol2", "ok"},
      {"p2-300", "ecc 0 force", "ok"},
      {"ppro", "probe 0", "ok"},
      {"celeron-266", "ecc 0 on", "ok"},
      {"p2-dual", "probe 1", "ok"},
      {kMixed, "probe 0", "ok"},
      // Not a processor of the register analysis: nothing is touched.
      {kMixed, "probe 1", "denied"},
      {"p2-300", "probe 1", "denied"},
      {"p2-300", "probe 14", "denied"},
      {"k6-2", "probe 0", "denied"},
      {"conroe", "probe 0", "denied"},
      {"banias", "ecc 0 on", "denied"},
      {"skylake", "probe 0", "denied"},
      {"6x86mx", "probe 0", "denied"},
      // The Cyrix identification only without CPUID or on a CyrixInstead.
      {"6x86mx", "cyrix 0", "ok"},
      {"cx486", "cyrix 0", "ok"},
      {"pic-mirror", "cyrix 0", "ok"},
      {"p2-300", "cyrix 0", "denied"},
      {"k6-2", "cyrix 0", "denied"},
      {"p2-300", "cyrix 1", "denied"},
      // The requests of old: registers, values and ports of the caller's.
      {"p2-300", "rdmsr 0 2A", "bad"},
      {"p2-300", "wrmsr 0 11E 0 0", "bad"},
      {"p2-300", "wrmsr 0 119 0 1F", "bad"},
      {"p2-300", "inb 21", "bad"},
      {"p2-300", "outb 21 FF", "bad"},
      {"p2-300", "lock", "bad"},
      {"p2-300", "unlock", "bad"},
      // Malformed: numbers out of range or in other forms, other words.
      {"p2-300", "probe 15", "bad"},
      {"p2-300", "ecc 4 on", "bad"},
      {"p2-300", "probe 00", "bad"},
      {"p2-300", "probe -1", "bad"},
      {"p2-300", "probe", "bad"},
      {"p2-300", "probe 0 nol2 nol2", "bad"},
      {"p2-300", "probe 0 ecc", "bad"},
      {"p2-300", "ecc 0", "bad"},
      {"p2-300", "ecc 0 ON", "bad"},
      {"p2-300", "ecc 0 1", "bad"},
      {"p2-300", "ecc 0 nol2 on", "bad"},
      {"p2-300", "cyrix 0 nol2", "bad"},
      {"p2-300", "PROBE 0", "bad"},
      {"p2-300", "probe  0", "bad"},
      {"p2-300", " probe 0", "bad"},
      {"p2-300", "probe 0 ", "bad"},
      {"p2-300", "probe 0\r", "bad"},
      {"p2-300", "probe\t0", "bad"},
      {"p2-300", std::string("probe 0\0", 8), "bad"},
      {"p2-300", "", "bad"},
      {"p2-300", longLine, "bad"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Line);
    std::shared_ptr<Machine> m = Sim(c.Machine);
    ASSERT_TRUE(m);
    AccessServer server(*m);
    const std::string answer = server.Answer(c.Line);
    if (std::string(c.Answer) != "ok") {
      EXPECT_EQ(answer, c.Answer);
      continue;
    }
    ASSERT_EQ(answer.rfind("ok ", 0), 0u) << answer;
    std::vector<AccessStep> steps;
    ASSERT_TRUE(ParseAccessSteps(answer.substr(3), steps)) << answer;
    for (const AccessStep& s : steps) EXPECT_TRUE(OfTheAnalysis(s)) << FormatAccessSteps({s});
  }
}

// What a record holds: the analysis's accesses in order, the ECC test's
// writes and every register put back; without the ECC test no line write;
// the ECC pass's one write last.
TEST(AccessServer, RecordsTheAnalysisAsItRan) {
  std::shared_ptr<Machine> m = Sim("p2-450");
  AccessServer server(*m);
  const auto record = [&](const std::string& line) {
    std::vector<AccessStep> steps;
    const std::string answer = server.Answer(line);
    EXPECT_TRUE(answer.rfind("ok ", 0) == 0 && ParseAccessSteps(answer.substr(3), steps)) << answer;
    return steps;
  };
  const auto writes = [](const std::vector<AccessStep>& steps, std::uint32_t reg) {
    std::vector<std::uint64_t> v;
    for (const AccessStep& s : steps) {
      if (s.What == AccessStep::WriteMsr && s.Reg == reg) v.push_back(s.Value);
    }
    return v;
  };
  const std::vector<AccessStep> full = record("probe 0");
  ASSERT_GE(full.size(), 3u);
  EXPECT_EQ(FormatAccessSteps({full[0], full[1], full[2]}), "R2A:C1880000 R1E0:0 R11E:304527");
  // BBL_CR_CTL3 (304527h): the test's form, then as found.
  EXPECT_EQ(writes(full, 0x11E), (std::vector<std::uint64_t>{0x44406, 0x304527}));
  EXPECT_EQ(writes(full, 0x118), (std::vector<std::uint64_t>{0x51786A77, 0}));
  const std::vector<AccessStep> noTest = record("probe 0 nol2");
  EXPECT_TRUE(writes(noTest, 0x11E).empty());
  EXPECT_TRUE(writes(noTest, 0x118).empty());
  const std::vector<AccessStep> off = record("ecc 0 off");
  ASSERT_FALSE(off.empty());
  EXPECT_EQ(FormatAccessSteps({off.back()}), "W11E:304507");
  EXPECT_EQ(record("ecc 0 on nol2").back().What, AccessStep::ReadMsr)
      << "ECC on needs the test that found ECC";
  // Forced on only where the helper's own test found ECC.
  EXPECT_EQ(FormatAccessSteps({record("ecc 0 force").back()}), "W11E:304527");
  EXPECT_EQ(record("ecc 0 force nol2").back().What, AccessStep::ReadMsr)
      << "forcing ECC on needs the test that found ECC";
  std::shared_ptr<Machine> noEcc = Sim("p2-300-noecc");
  AccessServer withoutEcc(*noEcc);
  std::vector<AccessStep> forced;
  const std::string answer = withoutEcc.Answer("ecc 0 force");
  ASSERT_TRUE(ParseAccessSteps(answer.substr(3), forced)) << answer;
  EXPECT_EQ(forced.back().What, AccessStep::ReadMsr) << "a cache without ECC forced on: " << answer;
  // The analysis consent serves no ECC pass at all.
  AccessServer analysisOnly(*m, AccessConsent::Analysis);
  EXPECT_EQ(analysisOnly.Answer("ecc 0 off"), "denied");
  EXPECT_EQ(analysisOnly.Answer("probe 0 nol2").rfind("ok ", 0), 0u);
}

// The lock of the analysis, taken without waiting and given back after each
// register sequence, the Cyrix identification's as well.
TEST(AccessServer, HoldsTheAnalysisLockForEachRegisterSequence) {
  struct Shared {
    bool OtherHolds = false;
    int Held = 0;
    int Attempts = 0;
  };
  class Lock : public RegisterLock {
   public:
    explicit Lock(Shared& s) : s_(s) {}
    Attempt TryLock(std::string&) override {
      ++s_.Attempts;
      if (s_.OtherHolds) return Attempt::Busy;
      ++s_.Held;
      return Attempt::Held;
    }
    void Unlock() override { --s_.Held; }

   private:
    Shared& s_;
  };
  // A simulated machine with the lock of the test's.
  class Locking : public Machine {
   public:
    Locking(std::shared_ptr<Machine> m, Shared& s) : m_(std::move(m)), s_(s) {}
    std::string Name() const override { return m_->Name(); }
    std::string Description() const override { return m_->Description(); }
    int ProcessorCount() const override { return m_->ProcessorCount(); }
    std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& a, std::uint32_t& b,
                        std::uint32_t& c, std::uint32_t& d) override {
      return m_->Cpuid(cpu, leaf, a, b, c, d);
    }
    std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& v) override {
      EXPECT_EQ(s_.Held, 1) << "a register read without the lock";
      return m_->ReadMsr(cpu, reg, v);
    }
    std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t v) override {
      EXPECT_EQ(s_.Held, 1) << "a register write without the lock";
      return m_->WriteMsr(cpu, reg, v);
    }
    std::uint32_t PortIn(std::uint16_t p, std::uint8_t& v) override {
      EXPECT_EQ(s_.Held, 1) << "a port read without the lock";
      return m_->PortIn(p, v);
    }
    std::uint32_t PortOut(std::uint16_t p, std::uint8_t v) override {
      EXPECT_EQ(s_.Held, 1) << "a port write without the lock";
      return m_->PortOut(p, v);
    }
    std::uint32_t ClockCount(int cpu, std::uint32_t& c) override { return m_->ClockCount(cpu, c); }
    bool DivisionLeavesFlags(int cpu) override { return m_->DivisionLeavesFlags(cpu); }
    bool BindsHostThreads() const override { return false; }
    std::string DescribeError(std::uint32_t e) const override { return m_->DescribeError(e); }
    std::unique_ptr<RegisterLock> AnalysisLock() override { return std::make_unique<Lock>(s_); }

   private:
    std::shared_ptr<Machine> m_;
    Shared& s_;
  };
  Shared state;
  Locking m(Sim("p2-300"), state);
  AccessServer server(m);
  state.OtherHolds = true;
  EXPECT_EQ(server.Answer("probe 0"), "busy");
  EXPECT_EQ(server.Answer("ecc 0 off"), "busy");
  state.OtherHolds = false;
  EXPECT_EQ(server.Answer("probe 0").rfind("ok R2A:", 0), 0u);
  EXPECT_EQ(state.Held, 0) << "given back after the sequence";
  EXPECT_EQ(server.Answer("probe 1"), "denied");
  EXPECT_EQ(state.Attempts, 3) << "a refused processor takes no lock";
  Locking cyrix(Sim("6x86mx"), state);
  AccessServer ports(cyrix);
  // The Cyrix identification under the same lock: another identification
  // would take the interrupt mask this one raised.
  state.OtherHolds = true;
  EXPECT_EQ(ports.Answer("cyrix 0"), "busy");
  state.OtherHolds = false;
  EXPECT_EQ(ports.Answer("cyrix 0").rfind("ok ", 0), 0u);
  EXPECT_EQ(state.Held, 0) << "given back after the identification";
}

// A Cyrix identification of the helper killed with CPUID switched on left
// its journal: the next identification takes the lock, puts CCR3 and CCR4
// back from it first (MAPEN opened, CCR4, MAPEN closed last), says so on the
// program's error stream, and identifies the part as it was found.
TEST(AccessServer, CyrixIdentificationPutsBackALeftJournalFirst) {
  class Kept : public Machine {
   public:
    explicit Kept(std::shared_ptr<Machine> m) : m_(std::move(m)) {}
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
    bool OutlivesProgram() const override { return true; }
    std::string DescribeError(std::uint32_t e) const override { return m_->DescribeError(e); }
    std::unique_ptr<RegisterLock> AnalysisLock() override {
      struct Free : RegisterLock {
        Attempt TryLock(std::string&) override { return Attempt::Held; }
        void Unlock() override {}
      };
      return std::make_unique<Free>();
    }
    // A configuration register, CCR4 reached with MAPEN opened for it.
    std::uint8_t Reg(std::uint8_t index) {
      const std::uint8_t ccr3 = Raw(0xC3);
      if (index == 0xE8) Write(0xC3, static_cast<std::uint8_t>(ccr3 | 0x10));
      const std::uint8_t v = Raw(index);
      if (index == 0xE8) Write(0xC3, ccr3);
      return v;
    }
    std::uint8_t Raw(std::uint8_t index) {
      std::uint8_t v = 0;
      m_->PortOut(0x22, index);
      m_->PortIn(0x23, v);
      return v;
    }
    void Write(std::uint8_t index, std::uint8_t v) {
      m_->PortOut(0x22, index);
      m_->PortOut(0x23, v);
    }

   private:
    std::shared_ptr<Machine> m_;
  };
  Kept m(Sim("6x86mx"));
  // Found with CPUID switched off in CCR4.
  const std::uint8_t ccr3 = m.Reg(0xC3);
  m.Write(0xC3, static_cast<std::uint8_t>(ccr3 | 0x10));
  m.Write(0xE8, static_cast<std::uint8_t>(m.Raw(0xE8) & 0x7F));
  m.Write(0xC3, ccr3);
  const std::uint8_t ccr4 = m.Reg(0xE8);
  ASSERT_LT(ccr4, 0x80);
  // What the killed identification left, and its journal.
  m.Write(0xC3, static_cast<std::uint8_t>(ccr3 | 0x10));
  m.Write(0xE8, static_cast<std::uint8_t>(ccr4 | 0x80));
  RegisterJournal left;
  left.Sequence = "Cyrix configuration registers";
  for (auto [index, value] : {std::pair<std::uint8_t, std::uint8_t>{0xC3, ccr3},
                              {0xC3, static_cast<std::uint8_t>(ccr3 | 0x10)},
                              {0xE8, ccr4},
                              {0xC3, ccr3}}) {
    left.Entries.push_back({JournalEntry::Port, 0x22, index});
    left.Entries.push_back({JournalEntry::Port, 0x23, value});
  }
  FakePlatform::MemoryJournal journal;
  journal.Text = FormatJournal(left);
  std::FILE* notes = std::tmpfile();
  ASSERT_NE(notes, nullptr);
  AccessServer server(m);
  server.SetJournal(&journal, notes);

  const std::string answer = server.Answer("cyrix 0");

  EXPECT_EQ(answer.rfind("ok ", 0), 0u) << answer;
  EXPECT_EQ(m.Reg(0xC3), ccr3);
  EXPECT_EQ(m.Reg(0xE8), ccr4);
  EXPECT_EQ(journal.Text, "");
  EXPECT_EQ(journal.Saves, 2) << "CCR3, then CCR4 with it, both its own";
  std::rewind(notes);
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, notes), nullptr);
  EXPECT_NE(std::string(line).find("ended in the middle of its changes of the Cyrix "
                                   "configuration registers; its 8 port writes"),
            std::string::npos)
      << line;
  std::fclose(notes);
}

// The serving loop: one answer a line, an oversized line answered once, a
// last line without its end answered too.
TEST(AccessServer, ServesEveryLineOfItsInput) {
  const std::string longLine(kAccessMaxLine + 1, 'p');
  const std::string longRequest = "probe 0" + std::string(200, ' ');
  struct Case {
    std::string In;
    std::vector<std::string> Out;  // "ok" for a record
  };
  const Case cases[] = {
      {"probe 1\nxyz\n\nprobe 0\n", {"denied", "bad", "bad", "ok"}},
      {longLine + "\nprobe 0 nol2\n", {"bad", "ok"}},
      {longRequest + "\n" + longRequest + longRequest + "\ncyrix 0\n", {"bad", "bad", "denied"}},
      {"probe 0", {"ok"}},
      {"", {}},
      {std::string("probe 0\0\n", 9), {"bad"}},
  };
  for (const Case& c : cases) {
    std::shared_ptr<Machine> m = Sim("p2-300");
    AccessServer server(*m);
    std::istringstream in(c.In);
    std::ostringstream out;
    server.Serve(in, out);
    std::vector<std::string> lines;
    std::istringstream got(out.str());
    for (std::string l; std::getline(got, l);) lines.push_back(l.rfind("ok ", 0) == 0 ? "ok" : l);
    EXPECT_EQ(lines, c.Out) << "input \"" << c.In.substr(0, 40) << "\"";
  }
}

// SIGTERM while a sequence changes the cache controller of a slow machine:
// the helper finishes it, puts the registers back, writes its answer and
// only then ends by the signal.
void ServeWhileSignalled() {
  // The helper's own hub, made before any other thread.
  SignalHub signals;
  std::shared_ptr<Machine> m = Sim(std::string(FindCatalogueProfile("p2-300")) + "l2delay = 100\n");
  AccessServer server(*m, AccessConsent::Analysis, &signals);
  std::thread([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(getpid(), SIGTERM);
  }).detach();
  std::istringstream in("probe 0\n");
  server.Serve(in, std::cerr);
  std::cerr << "not ended" << std::endl;
  std::_Exit(0);
}

TEST(AccessServerDeathTest, ASignalWaitsForTheEndOfTheSequence) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // BBL_CR_CTL is back as found and the memory type ranges are read: the
  // sequence ran whole.
  EXPECT_EXIT(ServeWhileSignalled(), ::testing::KilledBySignal(SIGTERM),
              "^ok R2A:.* W119:0 RFE:[^\n]*\n$");
}

// ---- The program through the helper ----

// One world of the program on Linux with `machine` as this computer's
// back-end, loaded as the program loads it.
struct ProgramWorld : test::ReportWorld {
  explicit ProgramWorld(std::shared_ptr<Machine> machine) {
    w.shell.OsKind = kOsLinux;
    w.machine = std::move(machine);
    std::uint32_t error = 1;
    LoadDriver(w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, error);
    EXPECT_EQ(error, 0u);
    w.shell.MultiProc = w.machine->ProcessorCount() > 1;
  }
};

// The program's back-end through the helper: CPUID and the clock from a
// machine of its own, the helper's request handling over `helper`.
std::shared_ptr<Machine> ThroughHelper(const std::string& machine, std::shared_ptr<Machine> helper,
                                       std::vector<std::string>& requests) {
  return MakeAccessClient(Sim(machine), std::make_unique<ServerLink>(std::move(helper), requests));
}

// The registers the analysis reads or changes, as a machine holds them.
std::vector<std::uint64_t> Registers(Machine& m) {
  std::vector<std::uint64_t> out;
  for (int cpu = 1; cpu <= m.ProcessorCount(); ++cpu) {
    for (std::uint32_t reg :
         {0x2Au, 0x88u, 0x89u, 0x8Au, 0x8Bu, 0xFEu, 0x116u, 0x118u, 0x119u, 0x11Eu, 0x1E0u}) {
      std::uint64_t v = 0;
      out.push_back(m.ReadMsr(cpu, reg, v) == 0 ? v : ~std::uint64_t{0});
    }
  }
  return out;
}

struct Pass {
  const char* Machine;
  int Proc = 1;
  std::uint8_t EccMode = kNoEccPass;  // the /ECC= setting of that processor
  bool NoL2 = false;
};

struct Outcome {
  std::vector<std::uint32_t> Exits;
  int Fatal = 0;
  std::string FatalText;
  std::vector<std::string> Report;
  std::vector<std::uint64_t> Registers;
  std::uint8_t PicMask = 0;
};

// As the window runs a processor, with /LOG /EXX: the ECC pass when /ECC=
// names it, then the analysis and its report with the details.
Outcome Analyse(const Pass& c, bool throughHelper, std::vector<std::string>* requests = nullptr) {
  std::shared_ptr<Machine> m = Sim(c.Machine);
  std::vector<std::string> sent;
  ProgramWorld pw(throughHelper ? ThroughHelper(c.Machine, m, requests ? *requests : sent) : m);
  World& w = pw.w;
  w.settings.OptExt = true;
  w.settings.OptExx = true;
  w.settings.OptLog = true;
  w.settings.OptNoL2 = c.NoL2;
  Outcome o;
  const auto pass = [&](int arg) {
    std::uint32_t code = 0;
    EXPECT_TRUE(pw.platform.RunBoundThread(
        0, [&] { return WorkerThread(w.ForP2(), arg); }, code));
    o.Exits.push_back(code);
  };
  if (c.EccMode != kNoEccPass) {
    w.settings.EccMode[static_cast<std::size_t>(c.Proc)] = c.EccMode;
    pass(128 + c.Proc);
  }
  if (w.hw.FatalCode == 0) {
    pw.Clear();
    pass(c.Proc);
    P2Report(w.ForP2(), c.Proc);
    P2Details(w.ForP2());
  }
  o.Report = pw.Lines();
  o.Fatal = w.hw.FatalCode;
  o.FatalText = w.hw.FatalText;
  o.Registers = Registers(*m);
  m->PortIn(0x21, o.PicMask);
  return o;
}

TEST(AnalysisThroughTheHelper, AsOnTheMachineItself) {
  std::vector<Pass> runs;
  // Every processor of every catalogue machine.
  for (const CatalogueEntry& e : Catalogue()) {
    const int n = Sim(e.Name)->ProcessorCount();
    for (int p = 1; p <= n; ++p) runs.push_back({e.Name, p});
  }
  const std::string base = FindCatalogueProfile("p2-300");
  const std::string readOnly = base + "msraccess = readonly\n";
  const std::string denied = base + "msraccess = denied\n";
  const std::string stuck = base + "l2busy = stuck\n";
  const Pass more[] = {
      {"p2-450", 1, 0},        // ECC switched off
      {"p2-450", 1, 1},        // and on
      {"p2-450", 1, 1, true},  // on without the test: refused
      {"p2-300-noecc", 1, 1},  // on without ECC SRAMs: refused
      {"p2-450", 1, 2},        // forced on where the test found ECC
      {"p2-dual", 2, 0},
      {"ppro", 1, 1},                   // no ECC pass on a Pentium Pro
      {"celeron-266", 1, 0},            // nor without a cache
      {"p2-450", 1, kNoEccPass, true},  // /NOL2: no ECC test
      // A register write refused in the ECC test, every register refused,
      // a controller that never finishes.
      {readOnly.c_str()},
      {denied.c_str()},
      {stuck.c_str()},
      {stuck.c_str(), 1, 0},
  };
  runs.insert(runs.end(), std::begin(more), std::end(more));
  for (const Pass& c : runs) {
    SCOPED_TRACE(std::string(c.Machine).substr(0, 30) + ", processor " + std::to_string(c.Proc) +
                 ", ECC mode " + std::to_string(c.EccMode) + (c.NoL2 ? ", /NOL2" : ""));
    const Outcome want = Analyse(c, false);
    const Outcome got = Analyse(c, true);
    EXPECT_EQ(got.Exits, want.Exits);
    EXPECT_EQ(got.Report, want.Report);
    EXPECT_EQ(got.Registers, want.Registers);
    EXPECT_EQ(got.PicMask, want.PicMask);
    EXPECT_EQ(got.Fatal, want.Fatal);
    // The same failure, in the helper's words.
    EXPECT_EQ(got.FatalText.substr(0, got.FatalText.find(": ") + 1),
              want.FatalText.substr(0, want.FatalText.find(": ") + 1));
  }
  // Forced on where the helper's own test found no ECC: the helper writes
  // nothing, and the program's write is refused with the reason (status 7),
  // where the machine itself would have been left checking ECC it cannot.
  const Pass forced{"p2-300-noecc", 1, 2};
  const Outcome own = Analyse(forced, false);
  const Outcome refused = Analyse(forced, true);
  EXPECT_EQ(own.Fatal, 0);
  EXPECT_EQ(refused.Fatal, kExitMsrWrite);
  EXPECT_NE(refused.FatalText.find("does not force ECC checking on"), std::string::npos)
      << refused.FatalText;
  EXPECT_EQ(refused.Registers, Registers(*Sim("p2-300-noecc"))) << "ECC checking left off";
}

// What the program asks the helper: one request a register analysis (and
// one more each time the lock is busy), one a Cyrix identification, and
// nothing for a processor whose analysis needs no register.
TEST(AnalysisThroughTheHelper, AsksForTheAnnouncedSequenceOnly) {
  struct Case {
    Pass R;
    std::vector<std::string> Requests;
  };
  const Case cases[] = {
      {{"p2-450"}, {"probe 0"}},
      {{"p2-450", 1, kNoEccPass, true}, {"probe 0 nol2"}},
      {{"p2-450", 1, 0}, {"ecc 0 off", "probe 0"}},
      {{"p2-450", 1, 2, true}, {"ecc 0 force nol2"}},  // refused: ends with 7
      {{"p2-dual", 2, 1}, {"ecc 1 on", "probe 1"}},
      {{"k6-2"}, {}},
      {{"skylake"}, {}},
      {{"6x86mx"}, {"cyrix 0"}},
      {{"cx486"}, {"cyrix 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.R.Machine);
    std::vector<std::string> requests;
    Analyse(c.R, true, &requests);
    EXPECT_EQ(requests, c.Requests);
  }
}

struct Identity {
  std::string Name, Suffix, Vendor;
  int Family = 0, Model = 0, Dir0 = 0, Dir1 = 0, Ccr4 = 0, Ccr5 = 0;
  bool CpuidOk = false, Identified = false;
  std::uint8_t PicMask = 0;
};

Identity Identify(const std::string& machine, bool throughHelper) {
  std::shared_ptr<Machine> m = Sim(machine);
  std::vector<std::string> requests;
  ProgramWorld pw(throughHelper ? ThroughHelper(machine, m, requests) : m);
  DrvSetCpu(pw.w.ForDriver(), 1);
  TCpuInfo ci;
  IdentifyCpu(pw.w.ForCpu(), ci);
  Identity o{std::string(ci.CpuName.view()),
             std::string(ci.NameSuffix.view()),
             std::string(ci.Vendor.view()),
             ci.Family,
             ci.Model,
             ci.Dir0,
             ci.Dir1,
             ci.Ccr4,
             ci.Ccr5,
             ci.CpuidOk,
             ci.Identified};
  m->PortIn(0x21, o.PicMask);
  return o;
}

// The identification of every catalogue machine: on Cyrix parts and
// processors without CPUID the port sequence runs in the helper, CPUID
// switched on by it included, and names the processor as the program
// itself does.
TEST(IdentificationThroughTheHelper, AsOnTheMachineItself) {
  for (const CatalogueEntry& e : Catalogue()) {
    SCOPED_TRACE(e.Name);
    const Identity want = Identify(e.Name, false);
    const Identity got = Identify(e.Name, true);
    EXPECT_EQ(got.Name, want.Name);
    EXPECT_EQ(got.Suffix, want.Suffix);
    EXPECT_EQ(got.Vendor, want.Vendor);
    EXPECT_EQ(got.Family, want.Family);
    EXPECT_EQ(got.Model, want.Model);
    EXPECT_EQ(got.Dir0, want.Dir0);
    EXPECT_EQ(got.Dir1, want.Dir1);
    EXPECT_EQ(got.Ccr4, want.Ccr4);
    EXPECT_EQ(got.Ccr5, want.Ccr5);
    EXPECT_EQ(got.CpuidOk, want.CpuidOk);
    EXPECT_EQ(got.Identified, want.Identified);
    EXPECT_EQ(got.PicMask, want.PicMask);
  }
}

}  // namespace
}  // namespace torv
