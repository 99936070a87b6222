#include "platform/linux_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace torv {

namespace {

constexpr int kEnding[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// The ending signals and the terminal's stops.
constexpr int kTaken[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU};

bool IsEnding(int sig) {
  for (int s : kEnding) {
    if (s == sig) return true;
  }
  return false;
}

}  // namespace

const char* SignalHub::Name(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGQUIT:
      return "SIGQUIT";
    case SIGTSTP:
      return "SIGTSTP";
    case SIGTTIN:
      return "SIGTTIN";
    case SIGTTOU:
      return "SIGTTOU";
    default:
      return "a signal";
  }
}

SignalHub::SignalHub() {
  sigemptyset(&taken_);
  pthread_sigmask(SIG_SETMASK, nullptr, &blockedBefore_);
  for (const int sig : kTaken) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) != 0) continue;
    if ((old.sa_flags & SA_SIGINFO) == 0 && old.sa_handler == SIG_IGN) continue;
    if (sigismember(&blockedBefore_, sig) == 1) continue;
    sigaddset(&taken_, sig);
  }
  pthread_sigmask(SIG_BLOCK, &taken_, nullptr);
  fd_ = signalfd(-1, &taken_, SFD_CLOEXEC);
  if (fd_ >= 0 && pipe2(wake_, O_CLOEXEC) == 0) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
    }
  }
  if (!thread_.joinable()) {
    // Nothing reads them: they act as they did before.
    pthread_sigmask(SIG_SETMASK, &blockedBefore_, nullptr);
    sigemptyset(&taken_);
  }
}

SignalHub::~SignalHub() {
  if (thread_.joinable()) {
    const char byte = 0;
    while (write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int fd : {fd_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void SignalHub::Run() {
  for (;;) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents != 0) return;
    signalfd_siginfo info{};
    if (read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
    const int sig = static_cast<int>(info.ssi_signo);
    std::lock_guard<std::mutex> lock(mutex_);
    if (holds_ == 0) {
      Act(sig);
    } else if (IsEnding(sig)) {
      int none = 0;
      pendingEnd_.compare_exchange_strong(none, sig);
    } else {
      pendingStop_ = true;
    }
  }
}

void SignalHub::Act(int sig) {
  if (!IsEnding(sig)) {
    // A stop: the whole process stops until it is continued.
    kill(getpid(), SIGSTOP);
    return;
  }
  // The signal's default ends the process: delivered to this thread, the
  // only one that has it unblocked.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(sig);
  // Not reached unless the signal's action was changed meanwhile.
  pthread_sigmask(SIG_BLOCK, &one, nullptr);
}

void SignalHub::Hold() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++holds_;
}

HeldSignal SignalHub::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (holds_ > 0) --holds_;
  HeldSignal got;
  if (holds_ > 0) return got;
  got.Number = pendingEnd_.exchange(0);
  if (got.Number != 0) got.Name = Name(got.Number);
  const bool stop = pendingStop_;
  pendingStop_ = false;
  // An ending signal ends the program after this; a stop alone stops it
  // now, with everything put back.
  if (got.Number == 0 && stop) Act(SIGTSTP);
  return got;
}

void SignalHub::ReleaseAndAct() {
  const HeldSignal s = Release();
  if (s.Number == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Act(s.Number);
}

}  // namespace torv
