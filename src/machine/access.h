// torvacin-access: the small privileged helper that serves an unprivileged
// Torvacin the model-specific registers and ports of its analysis, and the
// program's side of it.
//
// The helper answers one request a line on its standard input with one answer
// a line on its standard output:
//   rdmsr CPU REG          -> ok HI LO
//   wrmsr CPU REG HI LO    -> ok
//   inb PORT               -> ok VAL
//   outb PORT VAL          -> ok
//   lock                   -> ok | busy
//   unlock                 -> ok
// Numbers are hexadecimal without prefix, CPU is decimal from 0. A request
// outside the allow-list answers "denied", one the kernel refuses
// "error ERRNO TEXT", a malformed or oversized line "bad"; none of them ends
// the helper, which ends when its input closes. "lock" takes the analysis
// lock (flock on /dev/cpu/0/msr) without waiting, "unlock" gives it back; the
// helper's end gives it back too.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "machine/machine.h"

namespace torv {

// Longest request line read; a longer line is answered "bad" and skipped.
inline constexpr std::size_t kAccessMaxLine = 64;
// Highest processor number a request may name.
inline constexpr std::uint32_t kAccessMaxCpu = 4095;

enum class AccessOp : std::uint8_t { ReadMsr, WriteMsr, PortIn, PortOut };

struct AccessRequest {
  AccessOp Op = AccessOp::ReadMsr;
  std::uint32_t Cpu = 0;  // 0-based, register requests only
  std::uint32_t Reg = 0;  // register number, or port
  std::uint32_t Hi = 0;   // wrmsr high half
  std::uint32_t Lo = 0;   // wrmsr low half, or outb value
};

// Parses one line without its line end. False for anything malformed.
bool ParseAccessRequest(std::string_view line, AccessRequest& out);

// The allow-list: exactly the registers and ports the analysis uses.
bool AccessAllowed(AccessOp op, std::uint32_t regOrPort);

// Whether CPUID leaf 0 (vendor in EBX, EDX, ECX) and leaf 1 EAX describe a
// processor the helper serves registers on: GenuineIntel with the P6 cache
// controller (HasP6CacheController: family 6, models 0-8, 0Ah, 0Bh).
bool AccessServesProcessor(std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx,
                           std::uint32_t eax1);

// The helper's request handling over a Machine (processors 1-based there).
class AccessServer {
 public:
  explicit AccessServer(Machine& machine) : machine_(machine) {}
  // The answer to one request line (without its line end).
  std::string Answer(std::string_view line);
  // Answers every line of `in` on `out`, flushing after each, until the end
  // of `in` or a failed write. Lines longer than kAccessMaxLine are answered
  // "bad" without being kept.
  void Serve(std::istream& in, std::ostream& out);

 private:
  // Checks processor `cpu` (0-based) once; later requests use the verdict.
  bool Serves(std::uint32_t cpu);
  std::string KernelError(std::uint32_t lastError) const;
  std::string LockAnswer(bool lock);

  Machine& machine_;
  std::unique_ptr<RegisterLock> lock_;    // made at the first "lock"
  std::map<std::uint32_t, bool> served_;  // by processor, once checked
};

// ---- The helper process on this computer ----

// This computer's registers and ports as the helper holds them: the msr and
// cpuid devices of every processor opened once, and the ports 21h to 23h
// granted to the calling thread, before the privileges are given up. Register
// requests use the open devices, so they need no privilege afterwards.
std::shared_ptr<Machine> OpenAccessDevices();

// Gives up every privilege: no new privileges, an empty capability bounding
// set, the user and groups of "nobody" (65534) when running as root, and no
// capability at all. False with `error` set when a step fails.
bool DropAccessPrivileges(std::string& error);

// ---- The program's side ----

// Where the program finds the helper and how it starts it: a fixed argument
// list, no shell. The helper is the one installed with the program (see
// InstalledAccessHelper), else the one at the path the program was built for.
std::vector<std::string> AccessHelperCommand();

// The helper installed beside `program` (an absolute path): for a program in
// PREFIX/bin, PREFIX/libexec/torvacin-access (the folders this build installs
// to). Empty when the program is not in such a folder.
std::string InstalledAccessHelper(std::string_view program);

// A back-end that answers CPUID, the clock and the flag test from `local` and
// sends register and port requests to the helper, started with `command` on
// the first such request. A helper that cannot be started, or whose
// authorisation is refused, fails every request with kErrAccessDenied and
// that reason.
std::shared_ptr<Machine> MakeAccessClient(std::shared_ptr<Machine> local,
                                          std::vector<std::string> command);

// This computer for the program: the devices directly when running as root
// or when the msr device opens, otherwise through the helper.
std::shared_ptr<Machine> MakeHostMachine();

}  // namespace torv
