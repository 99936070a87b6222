// torvacin-access: the small privileged helper that carries out the program's
// own register and port sequences for an unprivileged Torvacin, and the
// program's side of it.
//
// The helper answers one request a line on its standard input with one
// answer a line on its standard output. A request names one of the
// program's sequences and the processor it runs on (decimal, from 0);
// nothing else, no register, value, command or address, can be asked for:
//   probe CPU                    the register analysis of the processor, with
//                                the ECC presence test of its cache
//   probe CPU nol2               the same without the ECC presence test
//   ecc CPU off|on|force         the analysis and then the ECC pass: ECC
//   ecc CPU off|on|force nol2    checking off, on (only where the test
//                                found ECC) or forced on (processors 0-3)
//   cyrix CPU                    the Cyrix identification through the
//                                configuration registers (ports 22h, 23h)
// The helper runs the sequence whole with the program's own code (p2 and
// cpu) and answers "ok" followed by every register and port access it made,
// in order, one word each (see AccessStep). The register sequences hold the
// analysis lock (flock on /dev/cpu/0/msr) from their first access to their
// last, taken without waiting: "busy" while another analysis holds it. A
// processor the sequence is not for answers "denied" (registers: GenuineIntel
// with the P6 cache controller; ports: a processor without CPUID or a
// CyrixInstead), a malformed or oversized line "bad"; none of them ends the
// helper, which ends when its input closes.
//
// The program's side (MakeAccessClient) asks for the sequence the analysis
// announces (Machine::Expect) and answers the analysis's register and port
// requests from the helper's record, in order; a request that is not the
// record's next one is refused.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "machine/machine.h"

namespace torv {

// A helper that gets no request for this long after its last answer (or its
// start) ends by SIGALRM; the program starts a new one when it needs one.
inline constexpr unsigned kAccessIdleSeconds = 600;
// Longest request line read; a longer line is answered "bad" and skipped.
inline constexpr std::size_t kAccessMaxLine = 64;
// Highest processor number a request may name: the analysis names
// processors 1 to 15 (0 to 14 here), its ECC pass 1 to 4.
inline constexpr std::uint32_t kAccessMaxCpu = 14;
inline constexpr std::uint32_t kAccessMaxEccCpu = 3;
// Longest answer line the program takes from the helper.
inline constexpr std::size_t kAccessMaxAnswer = 1 << 20;

enum class AccessOp : std::uint8_t { Probe, EccPass, Cyrix };

struct AccessRequest {
  AccessOp Op = AccessOp::Probe;
  std::uint32_t Cpu = 0;     // 0-based
  bool EccTest = true;       // Probe, EccPass: the ECC presence test runs
  std::uint8_t EccMode = 0;  // EccPass: 0 off, 1 on, 2 forced on
};

// Parses one line without its line end. False for anything malformed.
bool ParseAccessRequest(std::string_view line, AccessRequest& out);
// The request line of `r`.
std::string FormatAccessRequest(const AccessRequest& r);

// One access of a sequence as the helper made it, written as one word:
//   RREG:VALUE          register REG read, giving VALUE
//   WREG:VALUE          register REG written with VALUE
//   IPORT:VALUE         port PORT read, giving VALUE
//   OPORT:VALUE         port PORT written with VALUE
//   CLEAF:EAX.EBX.ECX.EDX  CPUID leaf LEAF (only within the Cyrix
//                       identification, where it depends on the ports)
// and a failed access with "!ERRNO" in place of the value read, or after the
// value written (RREG!ERRNO, WREG:VALUE!ERRNO). Numbers are hexadecimal
// without prefix, ERRNO decimal.
struct AccessStep {
  enum Kind : char { ReadMsr = 'R', WriteMsr = 'W', PortIn = 'I', PortOut = 'O', Cpuid = 'C' };
  char What = ReadMsr;
  std::uint32_t Reg = 0;                // register, port or leaf
  std::uint64_t Value = 0;              // value read or written
  std::array<std::uint32_t, 4> Regs{};  // CPUID: EAX, EBX, ECX, EDX
  int Error = 0;                        // errno of a failed access; 0: it worked
  bool operator==(const AccessStep&) const = default;
};
std::string FormatAccessSteps(const std::vector<AccessStep>& steps);
// The words after "ok"; false when any is malformed.
bool ParseAccessSteps(std::string_view text, std::vector<AccessStep>& out);

// The errno that stands for a back-end's last-error value in the helper's
// answers (a kernel error itself; a processor that cannot be reached ENXIO,
// a refused access EPERM, anything else EIO).
int AccessErrno(std::uint32_t lastError);

// Whether CPUID leaf 0 (vendor in EBX, EDX, ECX) and leaf 1 EAX describe a
// processor the helper runs register sequences on: GenuineIntel with the P6
// cache controller (HasP6CacheController: family 6, models 0-8, 0Ah, 0Bh).
bool AccessServesProcessor(std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx,
                           std::uint32_t eax1);
// Whether the helper runs the Cyrix identification's port sequence on a
// processor: one without CPUID (`hasCpuid` false), or one whose vendor text
// (leaf 0 EBX, EDX, ECX) is CyrixInstead.
bool AccessServesPorts(bool hasCpuid, std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx);

// ---- The helper process on this computer ----

// This computer's registers and ports as the helper holds them: the msr and
// cpuid devices of every processor opened once, and the ports 21h to 23h
// granted to the calling thread, before the privileges are given up. Register
// requests use the open devices, so they need no privilege afterwards. Its
// analysis lock is a flock on its own /dev/cpu/0/msr descriptor.
std::shared_ptr<Machine> OpenAccessDevices();

// The helper's own system user, made by the package's maintainer scripts.
inline constexpr const char* kAccessUser = "torvacin-access";

// Gives up every privilege: no new privileges, an empty capability bounding
// set, the user and group of kAccessUser (from /etc/passwd; never root) and
// no supplementary groups when running as root, and no capability at all.
// False with `error` set when a step fails or the user does not exist.
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

// The connection to the helper: one request line, one answer line.
class AccessLink {
 public:
  virtual ~AccessLink() = default;
  // False with `failure` set when there is no helper to answer: it could not
  // be started, its authorisation was refused, or it has gone away. Once
  // false, always false with the same reason.
  virtual bool Exchange(const std::string& request, std::string& answer, std::string& failure) = 0;
  // Ends the helper of this link; the next exchange starts a new one.
  virtual void Finish() {}
};

// The helper started with `command` (through pkexec) and the consent it is
// started for ("analysis" or "ecc"; none when empty) at the first exchange,
// connected by its standard input and output.
std::unique_ptr<AccessLink> MakeSpawnedAccessLink(std::vector<std::string> command,
                                                  std::string consent = "");

// A back-end that answers CPUID, the clock and the flag test from `local` and
// the register and port requests of each announced sequence from the
// helper's record of it, the helper asked on the first of them. A helper
// that cannot be started, or whose authorisation is refused, fails every
// request with kErrAccessDenied and that reason.
// The ECC passes go through `eccLink` when there is one: a helper started
// with the ECC pass consent for each pass and ended after it.
std::shared_ptr<Machine> MakeAccessClient(std::shared_ptr<Machine> local,
                                          std::unique_ptr<AccessLink> link,
                                          std::unique_ptr<AccessLink> eccLink = nullptr);
// The helper started with `command` and "analysis" for the analyses, and
// with "ecc" for each ECC pass.
std::shared_ptr<Machine> MakeAccessClient(std::shared_ptr<Machine> local,
                                          std::vector<std::string> command);

// This computer for the program: the devices directly when running as root
// or when the msr device opens, otherwise through the helper.
std::shared_ptr<Machine> MakeHostMachine();

}  // namespace torv
