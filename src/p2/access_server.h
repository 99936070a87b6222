// torvacin-access's request handling: each request runs one of the
// program's own sequences whole (the analysis of p2, the Cyrix
// identification of cpu) on the helper's machine and answers with the
// record of its accesses (see machine/access.h for the protocol).
#pragma once

#include <cstdio>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "machine/access.h"
#include "machine/machine.h"

namespace torv {

class SignalHub;

// What a helper serves: the analysis consent serves the analyses and the
// Cyrix identification; the ECC pass consent serves the ECC passes too.
enum class AccessConsent : std::uint8_t { Analysis, EccPass };

class AccessServer {
 public:
  // The helper's machine (processors 1-based there), what it was started
  // for, and the process's signal hub (null: nothing is held).
  explicit AccessServer(Machine& machine, AccessConsent consent = AccessConsent::EccPass,
                        SignalHub* signals = nullptr)
      : machine_(machine), consent_(consent), signals_(signals) {}
  AccessServer(const AccessServer&) = delete;
  AccessServer& operator=(const AccessServer&) = delete;

  // The journal the register sequences keep (see driver/journal.h), and
  // where the line that an earlier sequence's values were put back from it
  // goes (the program's error stream); null for none.
  void SetJournal(JournalStore* journal, std::FILE* notes) {
    journal_ = journal;
    notes_ = notes;
  }

  // The answer to one request line (without its line end).
  std::string Answer(std::string_view line);
  // Answers every line of `in` on `out`, flushing after each, until the end
  // of `in` or a failed write. Lines longer than kAccessMaxLine are answered
  // "bad" without being kept. The signals that end or stop the helper wait
  // in the signal hub from each request until its answer is written. With
  // an idle limit, the helper ends by SIGALRM when no request line comes
  // within that many seconds after the last answer (or the start).
  void Serve(std::istream& in, std::ostream& out, unsigned idleSeconds = 0);

 private:
  // The record of a sequence; false when the processor is not one of the
  // sequence's (the answer is then "denied").
  bool RunAnalysis(const AccessRequest& r, std::string& answer);
  bool RunCyrix(const AccessRequest& r, std::string& answer);
  bool PutBackLeftJournal(int proc, std::string& answer);
  template <class Body>
  bool RunLocked(int proc, std::string& answer, Body body);

  Machine& machine_;
  AccessConsent consent_;
  SignalHub* signals_;
  JournalStore* journal_ = nullptr;
  std::FILE* notes_ = nullptr;
  std::unique_ptr<RegisterLock> lock_;  // made at the first register sequence
};

}  // namespace torv
