// The program's side of torvacin-access: CPUID, the clock and the flag test
// stay in the program, unprivileged; register and port requests go as lines
// to the helper, which is started through pkexec on the first of them, so
// that an analysis that needs no register asks for no authorisation.
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

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

// The longest answer line kept; the helper's answers are far shorter.
constexpr std::size_t kMaxAnswer = 256;

std::string Hex(std::uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return buf;
}

bool ParseHexWord(const std::string& s, std::uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      d = c - 'A' + 10;
    } else {
      return false;
    }
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}

class AccessClient : public Machine, public std::enable_shared_from_this<AccessClient> {
 public:
  AccessClient(std::shared_ptr<Machine> local, std::vector<std::string> command)
      : local_(std::move(local)), command_(std::move(command)) {}

  ~AccessClient() override {
    // Closing the connection ends the helper; collect it.
    if (fd_ >= 0) close(fd_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }

  AccessClient(const AccessClient&) = delete;
  AccessClient& operator=(const AccessClient&) = delete;

  std::string Name() const override { return local_->Name(); }
  std::string Description() const override { return local_->Description(); }
  int ProcessorCount() const override { return local_->ProcessorCount(); }

  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    return local_->Cpuid(cpu, leaf, eax, ebx, ecx, edx);
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    if (cpu < 1) return kErrCpuUnreachable;
    std::vector<std::string> words;
    const std::uint32_t e =
        Ask("rdmsr " + std::to_string(cpu - 1) + " " + Hex(reg), 2, words, "register " + Hex(reg));
    if (e != 0) return e;
    std::uint32_t hi = 0, lo = 0;
    if (!ParseHexWord(words[0], hi) || !ParseHexWord(words[1], lo)) return Garbled();
    value = static_cast<std::uint64_t>(hi) << 32 | lo;
    return 0;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    if (cpu < 1) return kErrCpuUnreachable;
    std::vector<std::string> words;
    return Ask("wrmsr " + std::to_string(cpu - 1) + " " + Hex(reg) + " " +
                   Hex(static_cast<std::uint32_t>(value >> 32)) + " " +
                   Hex(static_cast<std::uint32_t>(value)),
               0, words, "register " + Hex(reg));
  }

  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    std::vector<std::string> words;
    const std::uint32_t e = Ask("inb " + Hex(port), 1, words, "port " + Hex(port));
    if (e != 0) return e;
    std::uint32_t v = 0;
    if (!ParseHexWord(words[0], v) || v > 0xFF) return Garbled();
    value = static_cast<std::uint8_t>(v);
    return 0;
  }

  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    std::vector<std::string> words;
    return Ask("outb " + Hex(port) + " " + Hex(value), 0, words, "port " + Hex(port));
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

  // The analysis lock, which the helper takes on its /dev/cpu/0/msr: "lock"
  // answers "ok" or "busy" at once; a helper that cannot be started or
  // takes no lock leaves the analysis to go on without one.
  RegisterLock::Attempt Lock(std::string& reason) {
    std::string answer;
    if (!Exchange("lock", answer, reason)) return RegisterLock::Attempt::Unavailable;
    if (answer == "ok") return RegisterLock::Attempt::Held;
    if (answer == "busy") return RegisterLock::Attempt::Busy;
    reason = "torvacin-access takes no lock: " + answer;
    return RegisterLock::Attempt::Unavailable;
  }
  void Unlock() {
    std::string answer, reason;
    Exchange("unlock", answer, reason);
  }

 private:
  // One request line and its answer line, the helper started if need be;
  // false with `reason` when there is no helper to ask.
  bool Exchange(const std::string& request, std::string& answer, std::string& reason) {
    std::lock_guard<std::mutex> lock(mu_);
    if (failure_.empty() && fd_ < 0) Start();
    if (failure_.empty() && !(Send(request + "\n") && Receive(answer))) Ended();
    reason = failure_;
    return failure_.empty();
  }

  std::uint32_t Remember(std::uint32_t code, std::string reason) {
    lastCode_ = code;
    lastReason_ = std::move(reason);
    return code;
  }

  std::uint32_t Garbled() {
    return Remember(kErrInvalidParameter, "torvacin-access gave an answer that is not understood");
  }

  // Sends one request and reads its answer; on "ok" `words` holds the
  // `expect` numbers after it. Returns a last-error value.
  std::uint32_t Ask(const std::string& request, std::size_t expect,
                    std::vector<std::string>& words, const std::string& what) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!failure_.empty()) return Remember(kErrAccessDenied, failure_);
    if (fd_ < 0 && !Start()) return Remember(kErrAccessDenied, failure_);
    std::string answer;
    if (!Send(request + "\n") || !Receive(answer)) {
      Ended();
      return Remember(kErrAccessDenied, failure_);
    }
    words.clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i <= answer.size(); ++i) {
      if (i == answer.size() || answer[i] == ' ') {
        words.push_back(answer.substr(start, i - start));
        start = i + 1;
      }
    }
    if (words[0] == "ok" && words.size() == expect + 1) {
      words.erase(words.begin());
      return 0;
    }
    if (answer == "denied") {
      return Remember(kErrAccessDenied,
                      "torvacin-access does not serve " + what + " on this processor");
    }
    if (words[0] == "error" && words.size() >= 2) {
      int e = 0;
      for (char c : words[1]) {
        if (c < '0' || c > '9' || e > 0xFFFF) return Garbled();
        e = e * 10 + (c - '0');
      }
      if (e <= 0 || e > 0xFFFF) return Garbled();
      const std::string text = answer.size() > 7 + words[1].size()
                                    ? answer.substr(7 + words[1].size())
                                    : std::string(std::strerror(e));
      // Without the msr module the helper has no register device to open.
      const bool noDevice = e == ENOENT && what.rfind("register", 0) == 0;
      return Remember(kErrOsBase | static_cast<std::uint32_t>(e),
                      "torvacin-access: " + what + ": " + text +
                          (noDevice ? " (no msr device: modprobe msr)" : ""));
    }
    if (answer == "bad") {
      return Remember(kErrInvalidParameter, "torvacin-access did not understand the request");
    }
    return Garbled();
  }

  // Starts the helper with its ends of a socket pair as standard input and
  // output. A socket rather than a pipe: a helper that has gone away makes
  // a send fail instead of raising SIGPIPE in the program.
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
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
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
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      if (pending_.size() > kMaxAnswer) return false;
      char buf[128];
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
      failure_ =
          "torvacin-access could not be run: not authorised, or pkexec could not start it";
    } else if (WIFEXITED(status)) {
      failure_ = "torvacin-access ended with status " + std::to_string(WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      failure_ = "torvacin-access ended by signal " + std::to_string(WTERMSIG(status));
    } else {
      failure_ = "torvacin-access ended without an answer";
    }
  }

  std::shared_ptr<Machine> local_;
  std::vector<std::string> command_;
  mutable std::mutex mu_;
  int fd_ = -1;
  pid_t pid_ = -1;
  std::string pending_;
  std::string failure_;  // why the helper is not available; empty until then
  std::uint32_t lastCode_ = 0;
  std::string lastReason_;
};

// The analysis lock through the helper; it keeps the helper's connection.
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

std::shared_ptr<Machine> MakeAccessClient(std::shared_ptr<Machine> local,
                                          std::vector<std::string> command) {
  return std::make_shared<AccessClient>(std::move(local), std::move(command));
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
