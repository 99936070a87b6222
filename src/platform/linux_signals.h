// The signals of a whole process, taken in one place: those that end it
// (INT, TERM, HUP, QUIT) and those that stop it from the terminal (TSTP,
// TTIN, TTOU). They are blocked in the thread that makes the hub, first
// thing in main, so that every thread started afterwards (the toolkit's, a
// file dialog's, the analysis threads) inherits the block, and one thread
// of the hub reads them from a signalfd.
//
// Outside a held section a signal acts at once as its default would: an
// ending signal ends the process by that signal, a stop signal stops it. In
// a held section (Hold .. Release) it waits: Release hands back the first
// ending signal for the caller to act on once its registers are put back,
// and a stop that came meanwhile stops the process in Release, after the
// restore. A signal that was ignored when the hub was made stays ignored,
// and one that was blocked stays blocked: the hub does not read either.
#pragma once

#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace torv {

class SignalHub {
 public:
  SignalHub();
  ~SignalHub();
  SignalHub(const SignalHub&) = delete;
  SignalHub& operator=(const SignalHub&) = delete;

  // Whether the hub could make its thread; without it the signals are left
  // as they were (not blocked) and nothing is held.
  bool Running() const { return thread_.joinable(); }
  // A held section begins. Holds may come from several threads; the
  // signals wait until the last one is released.
  void Hold();
  // The held section ends: the first ending signal that came meanwhile
  // (Number 0 for none), which the caller acts on. With none, a stop that
  // came meanwhile stops the process here.
  HeldSignal Release();
  // Release, and act on an ending signal at once: the process ends by it.
  void ReleaseAndAct();
  // Whether an ending signal waits for the release of a held section.
  bool EndPending() const { return pendingEnd_.load() != 0; }
  // The signals the hub takes: those neither ignored nor blocked when it
  // was made.
  const sigset_t& Taken() const { return taken_; }
  // The calling thread's signal mask before the hub blocked its signals:
  // the mask a child process starts with.
  const sigset_t& MaskBefore() const { return blockedBefore_; }

  static const char* Name(int sig);

 private:
  void Run();
  // Acts on `sig` as its default would; called with mutex_ held, so that no
  // held section can begin meanwhile.
  void Act(int sig);

  sigset_t taken_{};
  sigset_t blockedBefore_{};
  int fd_ = -1;             // signalfd of taken_
  int wake_[2] = {-1, -1};  // a byte here ends the hub's thread
  std::mutex mutex_;
  int holds_ = 0;
  std::atomic<int> pendingEnd_{0};
  bool pendingStop_ = false;
  std::thread thread_;
};

}  // namespace torv
