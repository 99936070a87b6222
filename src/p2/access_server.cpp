// torvacin-access's request handling. A request runs one of the program's
// own sequences with the program's own code, on state of its own whose
// driver device is the helper's machine, and every register and port access
// the sequence makes is recorded for the answer. So the helper can do
// nothing but what an analysis of the program does, and the program, which
// answers its own requests from the record, gets exactly what it would have
// read itself.
#include "p2/access_server.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cpu/cpuinfo.h"
#include "driver/context.h"
#include "driver/hw.h"
#include "driver/journal.h"
#include "driver/protocol.h"
#include "platform/linux_signals.h"
#include "p2/p2info.h"
#include "report/language.h"
#include "report/utility.h"

namespace torv {

namespace {

// The way out of a sequence that ends the program where it runs in the
// program (a failed register access): here it ends only the sequence, its
// stack unwound as the analysis thread's would be, so that what it holds is
// put back and recorded.
struct SequenceEnded {
  int Code;
};

// The helper's machine, recording every register and port access, and the
// CPUID requests that come between port accesses (the Cyrix identification
// switches CPUID on through its ports).
class Recorder : public Machine {
 public:
  explicit Recorder(Machine& m) : m_(m) {}

  std::vector<AccessStep> Steps;

  std::string Name() const override { return m_.Name(); }
  std::string Description() const override { return m_.Description(); }
  int ProcessorCount() const override { return m_.ProcessorCount(); }

  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    const std::uint32_t e = m_.Cpuid(cpu, leaf, eax, ebx, ecx, edx);
    if (!Steps.empty()) {
      AccessStep s{AccessStep::Cpuid, leaf};
      if (e != 0) {
        s.Error = AccessErrno(e);
      } else {
        s.Regs = {eax, ebx, ecx, edx};
      }
      Steps.push_back(s);
    }
    return e;
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    const std::uint32_t e = m_.ReadMsr(cpu, reg, value);
    Record(AccessStep::ReadMsr, reg, e == 0 ? value : 0, e);
    return e;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    const std::uint32_t e = m_.WriteMsr(cpu, reg, value);
    Record(AccessStep::WriteMsr, reg, value, e);
    return e;
  }

  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    const std::uint32_t e = m_.PortIn(port, value);
    Record(AccessStep::PortIn, port, e == 0 ? value : 0, e);
    return e;
  }

  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    const std::uint32_t e = m_.PortOut(port, value);
    Record(AccessStep::PortOut, port, value, e);
    return e;
  }

  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
    return m_.ClockCount(cpu, cycles);
  }
  bool DivisionLeavesFlags(int cpu) override { return m_.DivisionLeavesFlags(cpu); }
  bool BindsHostThreads() const override { return m_.BindsHostThreads(); }
  bool OutlivesProgram() const override { return m_.OutlivesProgram(); }
  std::string DescribeError(std::uint32_t lastError) const override {
    return m_.DescribeError(lastError);
  }

 private:
  void Record(char what, std::uint32_t reg, std::uint64_t value, std::uint32_t e) {
    AccessStep s{what, reg};
    const bool written = what == AccessStep::WriteMsr || what == AccessStep::PortOut;
    if (e == 0 || written) s.Value = value;
    if (e != 0) s.Error = AccessErrno(e);
    Steps.push_back(s);
  }

  Machine& m_;
};

// The system as a sequence sees it in the helper: the recorder's device, no
// boxes, no lines, no waiting (a sequence runs whole and the lock is tried
// once, before it), and the program's end turned into the sequence's.
class SequencePlatform : public Platform {
 public:
  // The helper's journal, and where its restore is told (null: nowhere).
  SequencePlatform(JournalStore* journal, std::FILE* notes) : journal_(journal), notes_(notes) {}
  std::uint8_t GetWinVersion() override { return kOsLinux; }
  int ProcessorCount() override { return 1; }
  std::uint16_t SystemLangId() override { return 0x0409; }
  int MessageBox(std::string_view, std::string_view, BoxButtons) override { return kIdCancel; }
  bool SaveDialog(std::string&) override { return false; }
  bool RunBoundThread(int, const std::function<std::uint32_t()>& body,
                      std::uint32_t& exitCode) override {
    exitCode = body();
    return true;
  }
  void Sleep(int) override {}
  [[noreturn]] void ExitProcess(int code) override { throw SequenceEnded{code}; }
  [[noreturn]] void EndThread() override { throw SequenceEnded{0}; }
  DeviceTable& Devices() override { return devices_; }
  JournalStore* Journal() override { return journal_; }
  void ErrorLine(std::string_view text) override {
    if (notes_ == nullptr) return;
    std::fprintf(notes_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(notes_);
  }

 private:
  DeviceTable devices_;
  JournalStore* journal_;
  std::FILE* notes_;
};

// The state of one sequence on processor `cpu` (1-based) of the recorder:
// the helper's own, apart from any other sequence's, and the contexts that
// the program's code takes built over it.
struct SequenceState {
  SequencePlatform platform;
  Settings settings;
  ReportState report;
  UtilityState util;
  DriverState drv;
  HwState hw;
  CpuState cpu;
  P2State p2;
  std::uint8_t OsKind = kOsLinux;
  bool MultiProc = false;
  std::shared_ptr<Machine> machine;

  SequenceState(const std::shared_ptr<Machine>& m, int cpu, JournalStore* journal,
                std::FILE* notes = nullptr)
      : platform(journal, notes), machine(m) {
    const std::string path = "\\\\.\\torvacin-access";
    platform.Devices().Register(path, std::make_shared<MachineDevice>(m, 0x0103));
    drv.KeepsJournal = m->OutlivesProgram();
    std::uint32_t error = 0;
    drv.DrvHandle = platform.Devices().Open(path, error);
    drv.DrvIoctlCode = kDrvIoctlCode;
    DrvSetCpu(ForDriver(), static_cast<std::uint32_t>(cpu));
  }

  DriverContext ForDriver() {
    return DriverContext{platform, drv, hw, report, settings.OptLog, settings.DriverDebug,
                         OsKind,   machine};
  }
  CpuContext ForCpu() { return CpuContext{ForDriver(), cpu}; }
  P2Context ForP2() { return P2Context{ForCpu(), p2, settings, util, MultiProc}; }
};

// The machine's CPUID leaf 0 and leaf 1 EAX of processor `proc`; false when
// leaf 0 cannot be read (no CPUID).
bool ReadIdentity(Machine& m, int proc, std::uint32_t (&leaf0)[4], std::uint32_t& eax1,
                  std::uint32_t& error) {
  error = m.Cpuid(proc, 0, leaf0[0], leaf0[1], leaf0[2], leaf0[3]);
  if (error != 0) return false;
  std::uint32_t b = 0, c = 0, d = 0;
  eax1 = 0;
  if (leaf0[0] >= 1) error = m.Cpuid(proc, 1, eax1, b, c, d);
  return error == 0;
}

// "ok" and the record.
std::string Ok(const std::vector<AccessStep>& steps) {
  std::string answer = "ok";
  if (!steps.empty()) {
    answer += ' ';
    answer += FormatAccessSteps(steps);
  }
  return answer;
}

}  // namespace

// One of the program's sequences under the analysis lock, taken without
// waiting ("busy" when another holds it; where none can be had the sequence
// runs without, as it does in the program), after a left journal is put back;
// the answer is the record of every access, up to the one that ended it and
// what the sequence put back.
template <class Body>
bool AccessServer::RunLocked(int proc, std::string& answer, Body body) {
  if (!lock_) lock_ = machine_.AnalysisLock();
  std::string reason;
  const RegisterLock::Attempt a =
      lock_ ? lock_->TryLock(reason) : RegisterLock::Attempt::Unavailable;
  if (a == RegisterLock::Attempt::Busy) {
    answer = "busy";
    return true;
  }
  if (a == RegisterLock::Attempt::Held && !PutBackLeftJournal(proc, answer)) return true;
  auto recorder = std::make_shared<Recorder>(machine_);
  {
    SequenceState s(recorder, proc, journal_);
    try {
      body(s);
    } catch (const SequenceEnded&) {
      // Recorded up to the access that ended it, and what it put back.
    }
  }
  if (a == RegisterLock::Attempt::Held) lock_->Unlock();
  answer = Ok(recorder->Steps);
  return true;
}

bool AccessServer::RunAnalysis(const AccessRequest& r, std::string& answer) {
  const int proc = static_cast<int>(r.Cpu) + 1;
  std::uint32_t leaf0[4] = {};
  std::uint32_t eax1 = 0;
  std::uint32_t error = 0;
  if (proc > machine_.ProcessorCount() || !ReadIdentity(machine_, proc, leaf0, eax1, error) ||
      !AccessServesProcessor(leaf0[1], leaf0[3], leaf0[2], eax1)) {
    return false;
  }
  return RunLocked(proc, answer, [&](SequenceState& s) {
    s.settings.OptNoL2 = !r.EccTest;
    std::int32_t arg = proc;
    if (r.Op == AccessOp::EccPass) {
      // Forcing ECC checking on where the helper's own ECC test found no ECC
      // would leave a cache that cannot check them checking until the next
      // boot: the pass then writes nothing, as for "on" (the program's
      // write of BBL_CR_CTL3 is not in the record and is refused).
      s.settings.EccMode[static_cast<std::size_t>(proc)] = r.EccMode == 2 ? 1 : r.EccMode;
      arg += 128;
    }
    WorkerThread(s.ForP2(), arg);
  });
}

// A helper or program killed in its sequence left a journal: put back first,
// outside the record, and said on the program's error stream. False (the lock
// given up, `answer` set) when not all could be put back: the journal stays,
// nothing is analysed.
bool AccessServer::PutBackLeftJournal(int proc, std::string& answer) {
  SequenceState restore(std::shared_ptr<Machine>(&machine_, [](Machine*) {}), proc, journal_,
                        notes_);
  try {
    RestoreLeftJournal(restore.ForDriver());
  } catch (const SequenceEnded&) {
    lock_->Unlock();
    answer = "error 5 an earlier analysis's registers could not be put back from its journal";
    return false;
  }
  return true;
}

bool AccessServer::RunCyrix(const AccessRequest& r, std::string& answer) {
  const int proc = static_cast<int>(r.Cpu) + 1;
  std::uint32_t leaf0[4] = {};
  std::uint32_t eax1 = 0;
  std::uint32_t error = 0;
  if (proc > machine_.ProcessorCount()) return false;
  const bool hasCpuid = ReadIdentity(machine_, proc, leaf0, eax1, error);
  // A processor that cannot be reached is not one without CPUID.
  if (!hasCpuid && error == kErrCpuUnreachable) return false;
  if (!AccessServesPorts(hasCpuid, leaf0[1], leaf0[3], leaf0[2])) return false;
  // Under the analysis lock like an analysis: another identification's
  // board check would take the interrupt mask this one raised.
  return RunLocked(proc, answer, [](SequenceState& s) {
    TCpuInfo info;
    IdentifyCpu(s.ForCpu(), info);
  });
}

std::string AccessServer::Answer(std::string_view line) {
  AccessRequest r;
  if (!ParseAccessRequest(line, r)) return "bad";
  std::string answer;
  // The ECC pass changes the cache controller until the next boot: only a
  // helper started with that consent serves it.
  if (r.Op == AccessOp::EccPass && consent_ != AccessConsent::EccPass) return "denied";
  const bool served = r.Op == AccessOp::Cyrix ? RunCyrix(r, answer) : RunAnalysis(r, answer);
  return served ? answer : "denied";
}

void AccessServer::Serve(std::istream& in, std::ostream& out, unsigned idleSeconds) {
  std::string line;
  bool oversized = false;
  bool pending = false;  // characters read since the last line end
  if (idleSeconds != 0) alarm(idleSeconds);
  const auto answer = [&] {
    // The idle limit stops counting before anything is touched: SIGALRM
    // ends the helper only between sequences.
    if (idleSeconds != 0) alarm(0);
    if (signals_ != nullptr) signals_->Hold();
    out << (oversized ? std::string("bad") : Answer(line)) << '\n';
    out.flush();
    // A signal that came meanwhile ends (or stops) the helper now, with
    // nothing left changed and its answer given.
    if (signals_ != nullptr) signals_->ReleaseAndAct();
    if (idleSeconds != 0) alarm(idleSeconds);
    line.clear();
    oversized = false;
    pending = false;
    return static_cast<bool>(out);
  };
  char c = 0;
  while (in.get(c)) {
    if (c == '\n') {
      if (!answer()) return;
      continue;
    }
    pending = true;
    if (line.size() < kAccessMaxLine) {
      line += c;
    } else {
      oversized = true;
    }
  }
  // A last line without its line end is answered too.
  if (pending) answer();
}

}  // namespace torv
