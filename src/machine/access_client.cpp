// The program's side of torvacin-access: CPUID, the clock and the flag test
// stay in the program, unprivileged. The register and port requests of each
// sequence that the analysis announces (Machine::Expect) are answered from
// the helper's record of that sequence, which the helper carries out whole
// when the first of them comes (the analysis lock's attempt, for a register
// analysis); the helper is started through pkexec then, so that an analysis
// that needs no register asks for no authorisation.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/access.h"

#ifndef TORV_ACCESS_HELPER
#define TORV_ACCESS_HELPER "/usr/local/libexec/torvacin-access"
#endif
#ifndef TORV_PKEXEC
#define TORV_PKEXEC "/usr/bin/pkexec"
#endif
// The install folders of the program and the helper, relative to the prefix.
#ifndef TORV_BINDIR
#define TORV_BINDIR "bin"
#endif
#ifndef TORV_LIBEXECDIR
#define TORV_LIBEXECDIR "libexec"
#endif

extern char** environ;

namespace torv {

namespace {

std::string Hex(std::uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return buf;
}

// The helper as a child process: its standard input and output are one end
// of a socket pair. A socket rather than a pipe: a helper that has gone away
// makes a send fail instead of raising SIGPIPE in the program.
class SpawnedLink : public AccessLink {
 public:
  // `consent`, when not empty, is the helper's argument after `command`.
  SpawnedLink(std::vector<std::string> command, std::string consent)
      : command_(std::move(command)), consent_(std::move(consent)) {}
  ~SpawnedLink() override {
    // Closing the connection ends the helper; collect it.
    if (fd_ >= 0) close(fd_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  SpawnedLink(const SpawnedLink&) = delete;
  SpawnedLink& operator=(const SpawnedLink&) = delete;

  bool Exchange(const std::string& request, std::string& answer, std::string& failure) override {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (failure_.empty() && fd_ < 0) Start();
      if (failure_.empty() && !(Send(request + "\n") && Receive(answer))) Ended();
      // A helper that ended at its idle limit had begun no sequence: a new
      // one is started (and authorised) once.
      if (!idleEnded_) break;
      idleEnded_ = false;
      failure_.clear();
    }
    failure = failure_;
    return failure_.empty();
  }

  void Finish() override {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (pid_ > 0) {
      while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    pid_ = -1;
    pending_.clear();
  }

 private:
  bool Start() {
    if (command_.empty()) {
      failure_ = "no command to start torvacin-access";
      return false;
    }
    const std::string& helper = command_.back();
    if (!helper.empty() && helper[0] == '/' && access(helper.c_str(), X_OK) != 0) {
      failure_ = "torvacin-access cannot be started: " + helper + ": " + std::strerror(errno);
      return false;
    }
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
      failure_ = std::string("torvacin-access cannot be started: ") + std::strerror(errno);
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sv[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& a : command_) argv.push_back(a.data());
    if (!consent_.empty()) argv.push_back(consent_.data());
    argv.push_back(nullptr);
    // pkexec and its prompt start with no signal blocked, whatever the
    // program's signal hub blocks in its own threads.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(sv[1]);
    if (rc != 0) {
      close(sv[0]);
      failure_ = "torvacin-access cannot be started: " + command_[0] + ": " + std::strerror(rc);
      return false;
    }
    fd_ = sv[0];
    pid_ = pid;
    return true;
  }

  bool Send(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // One answer line; bytes after it stay in `pending_`.
  bool Receive(std::string& line) {
    std::size_t searched = 0;
    for (;;) {
      const std::size_t end = pending_.find('\n', searched);
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      searched = pending_.size();
      if (pending_.size() > kAccessMaxAnswer) return false;
      char buf[4096];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      pending_.append(buf, static_cast<std::size_t>(n));
    }
  }

  // The helper went away: say why, from its exit status, and never start it
  // again (a second authorisation prompt would not help).
  void Ended() {
    close(fd_);
    fd_ = -1;
    int status = 0;
    pid_t r;
    do {
      r = waitpid(pid_, &status, 0);
    } while (r < 0 && errno == EINTR);
    pid_ = -1;
    if (r < 0) {
      failure_ = "torvacin-access ended without an answer";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 126) {
      failure_ = "authorisation for torvacin-access was refused";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
      failure_ = "torvacin-access could not be run: not authorised, or pkexec could not start it";
    } else if (WIFEXITED(status)) {
      failure_ = "torvacin-access ended with status " + std::to_string(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      failure_ = "torvacin-access ended by signal " + std::to_string(WTERMSIG(status));
      idleEnded_ = WTERMSIG(status) == SIGALRM;
    } else {
      failure_ = "torvacin-access ended without an answer";
    }
  }

  std::vector<std::string> command_;
  std::string consent_;
  int fd_ = -1;
  pid_t pid_ = -1;
  std::string pending_;
  std::string failure_;  // why the helper is not available; empty until then
  bool idleEnded_ = false;
};

// The helper's record of one sequence, served in order.
struct Script {
  SequencePlan Plan;
  std::vector<AccessStep> Steps;
  std::size_t Next = 0;
  // Why every request of the sequence fails (kErrAccessDenied or another
  // last-error value with its reason) when the helper did not run it.
  std::uint32_t RefusalCode = 0;
  std::string Refusal;
};

class AccessClient : public Machine, public std::enable_shared_from_this<AccessClient> {
 public:
  AccessClient(std::shared_ptr<Machine> local, std::unique_ptr<AccessLink> link,
               std::unique_ptr<AccessLink> eccLink)
      : local_(std::move(local)), link_(std::move(link)), eccLink_(std::move(eccLink)) {}

  std::string Name() const override { return local_->Name(); }
  std::string Description() const override { return local_->Description(); }
  int ProcessorCount() const override { return local_->ProcessorCount(); }

  void Expect(const SequencePlan& plan) override {
    std::lock_guard<std::mutex> lock(mu_);
    planned_ = plan;
    // A sequence that begins ends whatever was left of the one before.
    script_.reset();
  }

  // Within the Cyrix identification, the CPUID requests that its port
  // accesses switch on or off are the record's; all others are the
  // program's own.
  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (script_ && script_->Plan.Kind == SequenceKind::CyrixIdentification &&
          script_->Plan.Cpu == cpu && script_->Next < script_->Steps.size()) {
        const AccessStep& s = script_->Steps[script_->Next];
        if (s.What == AccessStep::Cpuid && s.Reg == leaf) {
          ++script_->Next;
          if (s.Error != 0) return Failed(s, "CPUID leaf " + Hex(leaf));
          eax = s.Regs[0];
          ebx = s.Regs[1];
          ecx = s.Regs[2];
          edx = s.Regs[3];
          return 0;
        }
      }
    }
    return local_->Cpuid(cpu, leaf, eax, ebx, ecx, edx);
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    std::lock_guard<std::mutex> lock(mu_);
    const AccessStep* s = nullptr;
    const std::uint32_t e = Take(SequenceKind::Analysis, cpu, {AccessStep::ReadMsr, reg}, s);
    if (e != 0 || s == nullptr) return e;
    value = s->Value;
    return 0;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    std::lock_guard<std::mutex> lock(mu_);
    const AccessStep* s = nullptr;
    AccessStep want{AccessStep::WriteMsr, reg};
    want.Value = value;
    return Take(SequenceKind::Analysis, cpu, want, s);
  }

  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    std::lock_guard<std::mutex> lock(mu_);
    const AccessStep* s = nullptr;
    const std::uint32_t e =
        Take(SequenceKind::CyrixIdentification, 0, {AccessStep::PortIn, port}, s);
    if (e != 0 || s == nullptr) return e;
    value = static_cast<std::uint8_t>(s->Value);
    return 0;
  }

  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    std::lock_guard<std::mutex> lock(mu_);
    const AccessStep* s = nullptr;
    AccessStep want{AccessStep::PortOut, port};
    want.Value = value;
    return Take(SequenceKind::CyrixIdentification, 0, want, s);
  }

  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
    return local_->ClockCount(cpu, cycles);
  }
  bool DivisionLeavesFlags(int cpu) override { return local_->DivisionLeavesFlags(cpu); }
  bool BindsHostThreads() const override { return local_->BindsHostThreads(); }

  std::string DescribeError(std::uint32_t lastError) const override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (lastError != 0 && lastError == lastCode_) return lastReason_;
    }
    return local_->DescribeError(lastError);
  }

  std::unique_ptr<RegisterLock> AnalysisLock() override;

  // The analysis lock's attempt: the helper runs the announced analysis
  // whole, under its lock, or answers "busy" while another analysis holds
  // it. A helper that cannot be started leaves the analysis to go on
  // without a lock, and its first register request says why.
  RegisterLock::Attempt Lock(std::string& reason) {
    std::lock_guard<std::mutex> lock(mu_);
    if (planned_ && planned_->Kind == SequenceKind::CyrixIdentification) {
      // The Cyrix identification runs under the lock as well: the helper
      // runs it whole now, or answers "busy". A helper that cannot be
      // reached is asked again at the first port request, which says why.
      AccessRequest r;
      r.Op = AccessOp::Cyrix;
      r.Cpu = static_cast<std::uint32_t>(planned_->Cpu - 1);
      std::string answer;
      if (!link_->Exchange(FormatAccessRequest(r), answer, failure_)) {
        reason = failure_;
        return RegisterLock::Attempt::Unavailable;
      }
      if (answer == "busy") return RegisterLock::Attempt::Busy;
      script_ = Run(*planned_, answer, "the ports of processor " + std::to_string(planned_->Cpu));
      planned_.reset();
      return RegisterLock::Attempt::Held;
    }
    if (!planned_ || planned_->Kind != SequenceKind::Analysis) {
      script_ = Script{};
      script_->Plan.Cpu = 0;
      script_->RefusalCode = kErrAccessDenied;
      script_->Refusal = "torvacin-access serves only an analysis that the program announced";
      return RegisterLock::Attempt::Held;
    }
    const SequencePlan plan = *planned_;
    AccessRequest r;
    r.Op = plan.EccMode == kNoEccPass ? AccessOp::Probe : AccessOp::EccPass;
    r.Cpu = static_cast<std::uint32_t>(plan.Cpu - 1);
    r.EccTest = plan.EccTest;
    r.EccMode = plan.EccMode == kNoEccPass ? 0 : plan.EccMode;
    std::string answer;
    if (r.Op == AccessOp::EccPass && eccLink_) {
      // The ECC pass has a consent of its own: a helper started for it,
      // asked for this one pass and ended after it.
      std::string failure;
      const bool answered = eccLink_->Exchange(FormatAccessRequest(r), answer, failure);
      eccLink_->Finish();
      if (!answered) {
        script_ = Script{};
        script_->Plan = plan;
        script_->RefusalCode = kErrAccessDenied;
        script_->Refusal = failure;
        return RegisterLock::Attempt::Held;
      }
    } else if (!link_->Exchange(FormatAccessRequest(r), answer, failure_)) {
      reason = failure_;
      return RegisterLock::Attempt::Unavailable;
    }
    if (answer == "busy") return RegisterLock::Attempt::Busy;
    script_ = Run(plan, answer, "the registers of processor " + std::to_string(plan.Cpu));
    return RegisterLock::Attempt::Held;
  }

  // The analysis is over: nothing of its record is served any more.
  void Unlock() {
    std::lock_guard<std::mutex> lock(mu_);
    script_.reset();
    planned_.reset();
  }

 private:
  std::uint32_t Remember(std::uint32_t code, std::string reason) {
    lastCode_ = code;
    lastReason_ = std::move(reason);
    return code;
  }

  // A script from the helper's answer to `plan`'s request.
  static Script Run(const SequencePlan& plan, const std::string& answer, const std::string& what) {
    Script s;
    s.Plan = plan;
    if (answer == "ok" || answer.rfind("ok ", 0) == 0) {
      if (ParseAccessSteps(answer.size() > 3 ? std::string_view(answer).substr(3) : "", s.Steps)) {
        return s;
      }
    } else if (answer == "denied") {
      s.RefusalCode = kErrAccessDenied;
      s.Refusal = "torvacin-access does not serve " + what + ": not a processor of its sequences";
      return s;
    } else if (answer == "bad") {
      s.RefusalCode = kErrInvalidParameter;
      s.Refusal = "torvacin-access did not understand the request";
      return s;
    } else if (answer.rfind("error ", 0) == 0) {
      int e = 0;
      std::size_t i = 6;
      for (; i < answer.size() && answer[i] >= '0' && answer[i] <= '9' && e <= 0xFFFF; ++i) {
        e = e * 10 + (answer[i] - '0');
      }
      if (e > 0 && e <= 0xFFFF && i > 6) {
        s.RefusalCode = kErrOsBase | static_cast<std::uint32_t>(e);
        s.Refusal = "torvacin-access: " +
                    (i + 1 < answer.size() ? answer.substr(i + 1) : std::string(std::strerror(e)));
        return s;
      }
    }
    s.Steps.clear();
    s.RefusalCode = kErrInvalidParameter;
    s.Refusal = "torvacin-access gave an answer that is not understood";
    return s;
  }

  // The last-error value of a step the helper's access failed, with its reason.
  std::uint32_t Failed(const AccessStep& s, const std::string& what) {
    const int e = s.Error;
    // Without the msr module the helper has no register device to open.
    const bool noDevice =
        e == ENOENT && (s.What == AccessStep::ReadMsr || s.What == AccessStep::WriteMsr);
    return Remember(kErrOsBase | static_cast<std::uint32_t>(e),
                    "torvacin-access: " + what + ": " + std::strerror(e) +
                        (noDevice ? " (no msr device: modprobe msr)" : ""));
  }

  // The next step of the current sequence, which must be `want` (its kind,
  // register or port, and a written value) of a sequence of kind `kind` on
  // processor `cpu` (0: any, for ports). Returns a last-error value; `step`
  // is the record's step when it served.
  std::uint32_t Take(SequenceKind kind, int cpu, const AccessStep& want, const AccessStep*& step) {
    const bool port = want.What == AccessStep::PortIn || want.What == AccessStep::PortOut;
    const std::string what = (port ? "port " : "register ") + Hex(want.Reg);
    if (!script_ && port && planned_ && planned_->Kind == SequenceKind::CyrixIdentification) {
      // The Cyrix identification's first port request: the helper runs it.
      AccessRequest r;
      r.Op = AccessOp::Cyrix;
      r.Cpu = static_cast<std::uint32_t>(planned_->Cpu - 1);
      std::string answer;
      if (!link_->Exchange(FormatAccessRequest(r), answer, failure_)) {
        return Remember(kErrAccessDenied, failure_);
      }
      script_ = Run(*planned_, answer, "the ports of processor " + std::to_string(planned_->Cpu));
      planned_.reset();
    }
    if (!script_) {
      if (!failure_.empty()) return Remember(kErrAccessDenied, failure_);
      return Remember(kErrAccessDenied, "torvacin-access serves " + what +
                                            " only within a sequence the program announced");
    }
    Script& s = *script_;
    if (s.RefusalCode != 0) return Remember(s.RefusalCode, s.Refusal);
    const bool fits = s.Plan.Kind == kind && (cpu == 0 || s.Plan.Cpu == cpu) &&
                      s.Next < s.Steps.size() && s.Steps[s.Next].What == want.What &&
                      s.Steps[s.Next].Reg == want.Reg &&
                      (want.What != AccessStep::WriteMsr && want.What != AccessStep::PortOut
                           ? true
                           : s.Steps[s.Next].Value == want.Value);
    if (!fits) {
      // Whatever follows is no longer the helper's sequence.
      const bool forcedWrite = s.Plan.EccMode == 2 && s.Next == s.Steps.size() &&
                               want.What == AccessStep::WriteMsr && want.Reg == kMsrBblCtl3;
      script_.reset();
      if (forcedWrite) {
        return Remember(kErrAccessDenied,
                        "torvacin-access does not force ECC checking on: its ECC test found "
                        "no ECC storage in the cache");
      }
      return Remember(kErrAccessDenied, "torvacin-access did not make this request (" +
                                            std::string(want.What == AccessStep::ReadMsr ||
                                                                want.What == AccessStep::PortIn
                                                            ? "reading "
                                                            : "writing ") +
                                            what + ") in the sequence it ran");
    }
    step = &s.Steps[s.Next++];
    const std::uint32_t e = step->Error != 0 ? Failed(*step, what) : 0;
    // A Cyrix identification is over with its last port request.
    if (s.Plan.Kind == SequenceKind::CyrixIdentification && s.Next == s.Steps.size()) {
      // The step stays valid for the caller until it returns: keep it.
      finished_ = *step;
      step = &finished_;
      script_.reset();
    }
    return e;
  }

  std::shared_ptr<Machine> local_;
  std::unique_ptr<AccessLink> link_;
  std::unique_ptr<AccessLink> eccLink_;  // null: the ECC passes go through link_
  mutable std::mutex mu_;
  std::optional<SequencePlan> planned_;
  std::optional<Script> script_;
  AccessStep finished_;
  std::string failure_;  // why the helper is not available; empty until then
  std::uint32_t lastCode_ = 0;
  std::string lastReason_;
};

// The analysis lock through the helper: each attempt asks it for the whole
// announced analysis. It keeps the helper's connection.
class HelperLock : public RegisterLock {
 public:
  explicit HelperLock(std::shared_ptr<AccessClient> client) : client_(std::move(client)) {}
  Attempt TryLock(std::string& reason) override { return client_->Lock(reason); }
  void Unlock() override { client_->Unlock(); }

 private:
  std::shared_ptr<AccessClient> client_;
};

std::unique_ptr<RegisterLock> AccessClient::AnalysisLock() {
  return std::make_unique<HelperLock>(shared_from_this());
}

}  // namespace

std::string InstalledAccessHelper(std::string_view program) {
  constexpr std::string_view bindir = TORV_BINDIR;
  constexpr std::string_view libexecdir = TORV_LIBEXECDIR;
  if (bindir.empty() || bindir.front() == '/' || libexecdir.empty() || libexecdir.front() == '/' ||
      !program.starts_with('/')) {
    return {};
  }
  const std::string_view folder = program.substr(0, program.rfind('/'));
  if (folder.size() <= bindir.size() || !folder.ends_with(bindir) ||
      folder[folder.size() - bindir.size() - 1] != '/') {
    return {};
  }
  std::string helper(folder.substr(0, folder.size() - bindir.size()));
  helper += libexecdir;
  helper += "/torvacin-access";
  return helper;
}

std::vector<std::string> AccessHelperCommand() {
  // A package installs under another prefix than the build was configured
  // for: the helper that came with this program is the one to start (and the
  // one its polkit policy names).
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    self[n] = '\0';
    std::string helper = InstalledAccessHelper(self);
    if (!helper.empty() && access(helper.c_str(), X_OK) == 0) return {TORV_PKEXEC, helper};
  }
  return {TORV_PKEXEC, TORV_ACCESS_HELPER};
}

std::unique_ptr<AccessLink> MakeSpawnedAccessLink(std::vector<std::string> command,
                                                  std::string consent) {
  return std::make_unique<SpawnedLink>(std::move(command), std::move(consent));
}

std::shared_ptr<Machine> MakeAccessClient(std::shared_ptr<Machine> local,
                                          std::unique_ptr<AccessLink> link,
                                          std::unique_ptr<AccessLink> eccLink) {
  return std::make_shared<AccessClient>(std::move(local), std::move(link), std::move(eccLink));
}

std::shared_ptr<Machine> MakeAccessClient(std::shared_ptr<Machine> local,
                                          std::vector<std::string> command) {
  std::unique_ptr<AccessLink> ecc = MakeSpawnedAccessLink(command, "ecc");
  return MakeAccessClient(std::move(local), MakeSpawnedAccessLink(std::move(command), "analysis"),
                          std::move(ecc));
}

std::shared_ptr<Machine> MakeHostMachine() {
  std::shared_ptr<Machine> local = MakeLinuxMachine();
  if (geteuid() == 0) return local;
  const int fd = open("/dev/cpu/0/msr", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return local;
  }
  return MakeAccessClient(std::move(local), AccessHelperCommand());
}

}  // namespace torv
