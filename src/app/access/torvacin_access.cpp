// torvacin-access: carries out Torvacin's own register and port sequences,
// one request a line on standard input, one answer a line on standard
// output, until the input ends or no request comes for kAccessIdleSeconds
// (see machine/access.h). Run as root through pkexec with one argument, the
// consent it was started with ("analysis", or "ecc" for the ECC pass too);
// it reads no environment, leaves the caller's session, opens its devices,
// gives up every privilege and then serves.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "machine/access.h"
#include "p2/access_server.h"
#include "platform/linux_run_dir.h"
#include "platform/linux_signals.h"

int main(int argc, char** argv) {
  // No descriptor of the caller's but standard input, output and error.
#ifdef SYS_close_range
  if (syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
#endif
  {
    for (int fd = 3; fd < 1024; ++fd) close(fd);
  }
  // Before anything else: the signals that end or stop the helper are taken
  // by one thread of the hub and wait while a sequence runs.
  torv::SignalHub signals;
  // Out of the caller's terminal and process group: a Ctrl+Z or Ctrl+C
  // typed there does not reach the helper, which ends when its input closes.
  setsid();
  // Nothing from the caller's environment is used, and nothing is passed on.
  clearenv();
  const std::string what = argc == 2 ? argv[1] : "";
  if (what != "analysis" && what != "ecc") {
    std::fprintf(stderr, "usage: torvacin-access analysis|ecc\n");
    return 2;
  }
  const torv::AccessConsent consent =
      what == "ecc" ? torv::AccessConsent::EccPass : torv::AccessConsent::Analysis;
  // A client that has gone away ends the helper through a failed write.
  std::signal(SIGPIPE, SIG_IGN);
  std::shared_ptr<torv::Machine> machine = torv::OpenAccessDevices();
  // The journal of the register sequences, opened while root (the run
  // folder is root's alone); without it the sequences run unjournalled.
  torv::FileJournal journal;
  journal.Open();
  std::string error;
  if (!torv::DropAccessPrivileges(error)) {
    std::fprintf(stderr, "torvacin-access: %s\n", error.c_str());
    return 3;
  }
  // The sequences are the program's own code, which tells the program's user
  // on its error stream when a register access fails: here the record
  // carries the failure to the program, which says so itself.
  // The program's error stream stays for the one line that says an earlier
  // sequence's registers were put back from the journal.
  const int notesFd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  std::FILE* notes = notesFd >= 0 ? fdopen(notesFd, "w") : nullptr;
  const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (quiet >= 0) {
    dup2(quiet, STDERR_FILENO);
    close(quiet);
  }
  std::ios::sync_with_stdio(false);
  torv::AccessServer server(*machine, consent, &signals);
  server.SetJournal(&journal, notes);
  server.Serve(std::cin, std::cout, torv::kAccessIdleSeconds);
  return 0;
}
