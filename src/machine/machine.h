// The back-ends behind the driver protocol: the hardware of this computer
// (Linux) or a simulated machine. A MachineDevice serves the protocol's
// functions on top of a Machine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/loader.h"
#include "platform/platform.h"

namespace torv {

// Last-error values of the back-ends besides kErrCpuUnreachable.
inline constexpr std::uint32_t kErrInvalidFunction = 1;          // unknown function number
inline constexpr std::uint32_t kErrBadLength = 24;               // reply area too short
inline constexpr std::uint32_t kErrRegisterFault = 0xC0000096u;  // no such register (#GP)
inline constexpr std::uint32_t kErrAccessDenied = 5;             // register access not allowed
// An operating-system error number e, kept as 0x20000000 | e.
inline constexpr std::uint32_t kErrOsBase = 0x20000000u;
inline constexpr std::uint32_t kErrInvalidParameter = 87;  // parameter out of range
inline constexpr std::uint32_t kErrL2Busy = 1460;          // cache controller stays busy
inline constexpr std::uint32_t kErrNoCpuid = 0xC000001Du;  // CPUID is an invalid opcode

// The program's own sequences of register and port requests. The analysis
// announces each to its back-end before the first request of it
// (Machine::Expect): a back-end that carries sequences out whole elsewhere
// (torvacin-access, see machine/access.h) needs to know which one follows.
enum class SequenceKind : std::uint8_t {
  Analysis,             // a processor's register analysis, with its ECC pass
  CyrixIdentification,  // the Cyrix configuration registers (ports 22h, 23h)
};
inline constexpr std::uint8_t kNoEccPass = 0xFF;
struct SequencePlan {
  SequenceKind Kind = SequenceKind::Analysis;
  int Cpu = 1;  // the processor, 1-based
  // Analysis: whether the ECC presence test runs (not with /NOL2), and the
  // ECC pass that follows: 0 ECC checking off, 1 on where the test found
  // ECC, 2 forced on; kNoEccPass for none.
  bool EccTest = true;
  std::uint8_t EccMode = kNoEccPass;
};

class Machine {
 public:
  virtual ~Machine() = default;
  // Name used for the device and in messages ("kelvorlx" for this computer).
  virtual std::string Name() const = 0;
  virtual std::string Description() const = 0;
  virtual int ProcessorCount() const = 0;
  // Each operation acts on processor `cpu` (1-based) and returns a last-error
  // value: 0 on success.
  virtual std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                              std::uint32_t& ecx, std::uint32_t& edx) = 0;
  virtual std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) = 0;
  virtual std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) = 0;
  virtual std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) = 0;
  virtual std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) = 0;
  // Processor clock cycles during one system timer tick (1/18.206 s).
  virtual std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) = 0;
  // Whether a 16-bit division leaves the arithmetic flags unchanged (Cyrix
  // designs do). Runs on the calling thread, which is bound to `cpu`.
  virtual bool DivisionLeavesFlags(int cpu) = 0;
  // Whether threads must be bound to host processors (false for a simulated
  // machine, whose processors are not the host's).
  virtual bool BindsHostThreads() const = 0;
  // Whether what is written to its registers stays after the program ends,
  // so that their changes are journalled where they are written: this
  // computer's registers as the program or torvacin-access reaches them;
  // not a simulated machine's, and not torvacin-access's as the program
  // sees them (the helper keeps the journal itself).
  virtual bool OutlivesProgram() const { return false; }
  virtual std::string DescribeError(std::uint32_t lastError) const = 0;
  // The lock that keeps every other analysis out of these registers (see
  // RegisterLock); null when none is needed, as on a simulated machine,
  // whose registers no other program reaches.
  virtual std::unique_ptr<RegisterLock> AnalysisLock() { return nullptr; }
  // The sequence whose requests follow (see SequencePlan); a back-end that
  // serves requests one by one has nothing to do.
  virtual void Expect(const SequencePlan&) {}
  // What a published dump behind a simulated machine holds of what the
  // analysis reads: a register it lacks counts as not read, not as zero. A
  // machine whose registers are read (this computer, a profile of the
  // program's own) holds everything.
  virtual bool HoldsMsr(int /*cpu*/, std::uint32_t /*reg*/) const { return true; }
  // The nine cache configuration registers (read through the cache
  // controller), and the ECC presence test's result.
  virtual bool HoldsL2Config(int /*cpu*/) const { return true; }
  virtual bool HoldsEccTest(int /*cpu*/) const { return true; }
  // Asked while a simulated machine makes the program wait (its slow cache
  // controller): true ends the wait, as when a request to end the program
  // is pending. A simulated machine has no hardware to protect, so nothing
  // of it needs the time. Others do not wait and ignore it.
  virtual void SetWaitBreaker(std::function<bool()> breaker) { (void)breaker; }
};

// Serves the driver protocol on a Machine, as the kernel driver would.
class MachineDevice : public Device {
 public:
  MachineDevice(std::shared_ptr<Machine> machine, std::uint16_t version);
  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override;
  std::string DescribeError(std::uint32_t lastError) const override;
  int CurrentCpu() const { return cpu_; }

 private:
  // The cache controller's register sequence of ReqL2Transaction; returns a
  // last-error value.
  std::uint32_t RunL2Transaction(std::uint32_t command, std::uint32_t way,
                                 const std::uint8_t (&block)[16], std::uint32_t& addrLo,
                                 std::uint32_t& addrHi);

  std::shared_ptr<Machine> machine_;
  std::uint16_t version_;
  int cpu_ = 1;
};

// The loader's way to the back-ends: this computer's (MakeHostMachine), each
// served by a MachineDevice under its name, with its own analysis lock.
LinuxStart DefaultLinuxStart();
// LoadDriver with DefaultLinuxStart.
void LoadDriver(const DriverContext& ctx, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode);

// This computer through /dev/cpu/N/cpuid and /dev/cpu/N/msr. Its analysis
// lock is MakeAnalysisLock("/dev/cpu/0/msr", "/run/torvacin").
std::shared_ptr<Machine> MakeLinuxMachine();
// An exclusive flock on the file at `path` (opened for reading at the first
// attempt), shared with every process that flocks the same file.
std::unique_ptr<RegisterLock> MakeFileLock(const std::string& path);
// The analysis lock of this computer: first the file "lock" in the run
// folder `runDir` (made by root, see platform/linux_run_dir.h), which exists
// even where `path` cannot be opened (no msr device for CPU 0, a container
// with other processors' devices only), then the flock on `path` that other
// programs share. Either alone serves when the other cannot be opened (the
// run folder is root's; `path` may be missing); neither: Unavailable.
std::unique_ptr<RegisterLock> MakeAnalysisLock(const std::string& path, const std::string& runDir);

// A simulated machine from a catalogue name or a profile file. On failure
// returns null and sets `error` to one clear line (file, line, what is wrong).
// `note`, when given, gets what the reader left out of a dump, in one line
// ("" for nothing).
std::shared_ptr<Machine> MakeSimMachine(const std::string& nameOrPath, std::string& error,
                                        std::string* note = nullptr);

// Catalogue of simulated machines: name, description.
struct CatalogueEntry {
  const char* Name;
  const char* Description;
  const char* Profile;  // profile text
};
// All entries, the analysis machines first, then the identification set.
std::vector<CatalogueEntry> Catalogue();
// The identification set: one machine per processor the name tables know.
std::vector<CatalogueEntry> IdentificationCatalogue();

}  // namespace torv
