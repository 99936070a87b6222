#include "platform/linux_platform.h"

#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cerrno>
#include <thread>
#include <vector>

#include "platform/linux_pinning.h"
#include "platform/locale.h"
#include "report/language.h"

extern char** environ;

namespace torv {

LinuxPlatform::LinuxPlatform() {
  // Processor p is the kernel's CPU p - 1, as the register back-end numbers
  // /dev/cpu/N. A CPU that this process may not use (a container's CPU set)
  // cannot be bound, and its analysis says so instead of reading another one.
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  count_ = n > 0 ? static_cast<int>(n) : 1;
}

int LinuxPlatform::HostCpu(int proc) const {
  return proc >= 1 && proc <= count_ ? proc - 1 : -1;
}

std::uint16_t LinuxPlatform::SystemLangId() {
  return LangIdFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

int LinuxPlatform::MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) {
  BoxPresenter& p = presenter_ != nullptr ? *presenter_ : console_;
  return p.Show(title, text, buttons);
}

bool LinuxPlatform::SaveDialog(std::string& name) {
  if (!saveDialog_) return false;
  return saveDialog_(name);
}

namespace {

// The signals that end the program and wait for a held section.
sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, s);
  return set;
}

const char* SignalName(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    default:
      return "a signal";
  }
}

struct ThreadCall {
  const std::function<std::uint32_t()>* Body = nullptr;
  int Cpu = -1;  // the one CPU the thread must run on, -1 for none
  bool Bound = true;
  std::uint32_t Code = 0;
  sigset_t Mask{};  // the caller's signal mask, which the thread runs with
};

void* ThreadMain(void* arg) {
  auto* call = static_cast<ThreadCall*>(arg);
  pthread_sigmask(SIG_SETMASK, &call->Mask, nullptr);
  if (call->Cpu >= 0) {
    // The mask was set before the thread started (or, where the C library
    // cannot do that, is set now); make sure it holds exactly the processor
    // asked for before anything runs.
    if (!BoundToOnly(call->Cpu) && (BindThisThread(call->Cpu) != 0 || !BoundToOnly(call->Cpu))) {
      call->Bound = false;
      return nullptr;
    }
  }
  call->Code = (*call->Body)();
  return nullptr;
}

}  // namespace

bool LinuxPlatform::RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                                   std::uint32_t& exitCode) {
  ThreadCall call;
  call.Body = &body;
  if (proc != 0) {
    call.Cpu = HostCpu(proc);
    if (call.Cpu < 0) return false;
  }
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  bool ok = true;
  if (call.Cpu >= 0) ok = BindAttributes(&attr, call.Cpu);
  // While the analysis thread runs, the signals that end the program reach
  // it and not this waiting thread: the analysis thread holds them while it
  // changes registers, and nothing else may take them then. The thread
  // starts blocked and sets the caller's mask itself.
  const sigset_t ending = EndingSignals();
  pthread_sigmask(SIG_BLOCK, &ending, &call.Mask);
  pthread_t thread;
  if (ok) ok = pthread_create(&thread, &attr, ThreadMain, &call) == 0;
  pthread_attr_destroy(&attr);
  const bool joined = ok && pthread_join(thread, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &call.Mask, nullptr);
  if (!joined) return false;
  if (!call.Bound) return false;
  exitCode = call.Code;
  return true;
}

void LinuxPlatform::Sleep(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool LinuxPlatform::IsRoot() { return geteuid() == 0; }

bool LinuxPlatform::PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// The program is started directly, without a shell and without a search of
// PATH: argv[0] is its full path.
int LinuxPlatform::RunProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void LinuxPlatform::ErrorLine(std::string_view text) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stderr);
}

std::string LinuxPlatform::CurrentDirectory() {
  // getcwd with a null buffer allocates one as long as the path needs.
  char* dir = getcwd(nullptr, 0);
  if (dir == nullptr) return "";
  std::string result(dir);
  std::free(dir);
  return result;
}

void LinuxPlatform::HoldSignals() {
  const sigset_t ending = EndingSignals();
  pthread_sigmask(SIG_BLOCK, &ending, &blockedBefore_);
}

// A held signal is pending for the process (or this thread): it is taken
// from the queue here, so that unblocking does not act on it.
HeldSignal LinuxPlatform::ReleaseSignals() {
  HeldSignal got;
  sigset_t pending;
  sigemptyset(&pending);
  if (sigpending(&pending) == 0) {
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      if (sigismember(&pending, s) != 1 || sigismember(&blockedBefore_, s) == 1) continue;
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, s);
      const timespec now{0, 0};
      if (sigtimedwait(&one, nullptr, &now) == s && got.Number == 0) {
        got.Number = s;
        got.Name = SignalName(s);
      }
    }
  }
  sigset_t unblock;
  sigemptyset(&unblock);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    if (sigismember(&blockedBefore_, s) != 1) sigaddset(&unblock, s);
  }
  pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
  return got;
}

void LinuxPlatform::ExitProcess(int code) {
  std::fflush(nullptr);
  _exit(code);
}

}  // namespace torv
