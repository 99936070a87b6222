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

LinuxPlatform::LinuxPlatform(SignalHub* signals) : signals_(signals) {
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

struct ThreadCall {
  const std::function<std::uint32_t()>* Body = nullptr;
  int Cpu = -1;  // the one CPU the thread must run on, -1 for none
  bool Bound = true;
  std::uint32_t Code = 0;
};

void* ThreadMain(void* arg) {
  auto* call = static_cast<ThreadCall*>(arg);
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
  // The thread inherits the signal mask, in which the signal hub has
  // blocked the signals it takes for the whole process.
  pthread_t thread;
  if (ok) ok = pthread_create(&thread, &attr, ThreadMain, &call) == 0;
  pthread_attr_destroy(&attr);
  const bool joined = ok && pthread_join(thread, nullptr) == 0;
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
  // The program starts with the signal mask this process was started with,
  // not with the hub's block.
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return -1;
  if (signals_ != nullptr) {
    posix_spawnattr_setsigmask(&attr, &signals_->MaskBefore());
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
  }
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], nullptr, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return -1;
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
  if (signals_ != nullptr) signals_->Hold();
}

HeldSignal LinuxPlatform::ReleaseSignals() {
  return signals_ != nullptr ? signals_->Release() : HeldSignal{};
}

void LinuxPlatform::ExitProcess(int code) {
  std::fflush(nullptr);
  _exit(code);
}

}  // namespace torv
