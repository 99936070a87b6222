// The journal of what an analysis found before it changed anything: the
// original values of the registers and ports that a sequence changes (a
// processor's cache controller; the Cyrix MAPEN and the interrupt mask),
// kept through the platform's JournalStore from before the first change
// until they are put back. A program that is killed in between (SIGKILL,
// the OOM killer, a service manager's timeout) leaves the journal, and the
// next analysis of this boot, under the analysis lock, puts those values back
// before it reads anything and says so.
//
// Kept only for this computer's registers, where they outlive the program
// (Machine::OutlivesProgram): never for a simulated machine, and not by the
// program for what torvacin-access changes (the helper keeps its own).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/context.h"

namespace torv {

// One register or port and the value found there.
struct JournalEntry {
  enum Kind : char { Register = 'M', Port = 'P' };
  char What = Register;
  std::uint32_t Reg = 0;  // register number, or port
  std::uint64_t Value = 0;
  bool operator==(const JournalEntry&) const = default;
};

// The values found by one sequence on processor Cpu (1-based), named for the
// line that reports their restore ("cache controller", "Cyrix
// configuration registers").
struct RegisterJournal {
  int Cpu = 1;
  std::string Sequence;
  std::vector<JournalEntry> Entries;
  bool operator==(const RegisterJournal&) const = default;
};

// The journal as text: "cpu N", "sequence WORDS", then one entry a line,
// "M REG VALUE" or "P PORT VALUE" in hexadecimal.
std::string FormatJournal(const RegisterJournal& journal);
// False for anything that is not such a text.
bool ParseJournal(std::string_view text, RegisterJournal& journal);

// The journal of one sequence: kept when made (before the first change),
// gone with Close (after the restore). A scope left without Close (a failure
// that ended the thread) leaves it for the next analysis.
class JournalScope {
 public:
  JournalScope(const DriverContext& ctx, const RegisterJournal& journal);
  ~JournalScope() = default;
  JournalScope(const JournalScope&) = delete;
  JournalScope& operator=(const JournalScope&) = delete;
  void Close();

 private:
  const DriverContext ctx_;
  bool kept_ = false;
};

// A journal of this boot left by an analysis that did not end: its values
// are written back (each register that no longer holds its value, each
// port), the journal goes, and one line on the error stream says so; the
// line is also kept in HwState::JournalNote for the window's status. A value
// that cannot be put back ends the program with kExitMsrWrite and keeps the
// journal. Called under the analysis lock, before anything is read.
void RestoreLeftJournal(const DriverContext& ctx);

}  // namespace torv
