// The simulated machine: its profile (read from the text format of the
// catalogue and of profile files) and the machine built from it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "machine/machine.h"

namespace torv {

enum class SimCpuidMode : std::uint8_t {
  On,     // every leaf answers
  Off,    // the instruction is missing: every request fails
  Cyrix,  // answers only while CCR4 bit 7 is set
};

using SimCpuidTable = std::map<std::uint32_t, std::array<std::uint32_t, 4>>;
using SimMsrTable = std::map<std::uint32_t, std::uint64_t>;

// CPUID leaves and registers that a profile gives every processor: the lines
// before its first processor section and those of a dump's register section
// for all processors. Held once, however many processors share them.
struct SimSharedTables {
  SimCpuidTable Cpuid;
  SimMsrTable Msr;
};

// One processor of a simulated machine.
struct SimProcessor {
  // CPUID answers by leaf (sub-leaf 0): EAX, EBX, ECX, EDX.
  SimCpuidTable Cpuid;
  // The model-specific registers that exist, with their power-on values.
  SimMsrTable Msr;
  // What every processor shares, behind the processor's own leaves and
  // registers above (a later shared line for the same leaf or register
  // removes the processor's own one); null for none.
  std::shared_ptr<const SimSharedTables> Shared;
  std::uint64_t ClockHz = 0;
  std::array<std::uint8_t, 9> L2Reg{};  // cache controller configuration registers
  bool L2Ecc = false;                   // the cache SRAMs store ECC bits
  bool L2BusyStuck = false;             // BBL_CR_BUSY bit 0 never clears
  // Each cache transaction takes this long (milliseconds): a slow cache
  // controller, which makes the held section of an analysis last.
  std::uint32_t L2DelayMs = 0;
  bool DivFlagsUnchanged = false;       // a 16-bit division leaves the flags alone
  SimCpuidMode CpuidMode = SimCpuidMode::On;
  // The CPUID request of this number (counted from 1 on this processor,
  // refused ones included) fails once, as a read error; 0: none does.
  std::uint32_t CpuidFailsAt = 0;
  bool MsrDenied = false;  // every register request is refused
  bool MsrReadOnly = false;  // reads work, every register write is refused
  // A processor of a published dump (any layout other than the program's own
  // profile settings): only what the dump holds was read. DumpMsrs are the
  // registers of the set every processor starts with (IsStartRegister) that
  // the dump names; any other register it has, it names. The cache
  // configuration registers and the ECC presence test count as held when
  // the profile's own lines give them (l2reg, l2ecc), or, for the test, when
  // BBL_CR_CTL3 has ECC checking on (SRAMs without ECC bits cannot run so).
  bool FromDump = false;
  std::set<std::uint32_t> DumpMsrs;
  bool DumpL2Config = false;
  bool DumpEccTest = false;

  SimProcessor();  // the P6 register set with MTRRcap 508h

  // Whether the processor's source holds register `reg` (see FromDump).
  bool HoldsMsr(std::uint32_t reg) const;

  // A leaf or register, the processor's own before the shared one; null when
  // neither table has it.
  const std::array<std::uint32_t, 4>* FindCpuid(std::uint32_t leaf) const;
  const std::uint64_t* FindMsr(std::uint32_t reg) const;
  // Every leaf and register the processor answers, own and shared.
  SimCpuidTable AllCpuid() const;
  SimMsrTable AllMsr() const;
};

// Whether `reg` is one of the P6 register set every processor starts with.
bool IsStartRegister(std::uint32_t reg);

inline constexpr int kSimMaxProcessors = 16;
inline constexpr std::uint32_t kSimMaxL2DelayMs = 60'000;
inline constexpr std::uint64_t kSimMaxClockHz = 50'000'000'000ull;
inline constexpr std::uint8_t kSimPicMask = 0xB8;  // interrupt mask at power-on

struct SimProfile {
  std::string Name;                      // catalogue name or file name
  std::string Description;               // "name = ..."
  std::vector<SimProcessor> Processors;  // at least one
  bool CyrixBank = false;                // configuration registers behind 22h/23h
  std::array<std::uint8_t, 256> CyrixRegs{};
  bool PicMirrored = false;  // 22h/23h are copies of the interrupt controller's ports
  // What the reader left out, in one line for the user ("" when nothing): the
  // processors of a dump beyond the ones a simulated machine holds.
  std::string Note;
};

// The names of the settings a profile line can make ("name", "clock", ...;
// "l2reg" and "cyrix" followed by a register). In any case such a name is a
// setting, never a dump's header line.
std::span<const std::string_view> ProfileSettingNames();

// Reads a profile text. `source` names it in error messages
// ("source:line: what is wrong"). False with `error` set on the first fault.
bool ParseProfile(std::string_view text, std::string_view source, SimProfile& out,
                  std::string& error);

// The profile text of `profile`, as ParseProfile reads it back: `comments`
// first (each a "# " line), then the name, the processors and their settings
// one section each; `notes` (by processor, may be shorter) become comment
// lines at the head of each processor's section.
std::string WriteProfile(const SimProfile& profile, const std::vector<std::string>& comments,
                         const std::vector<std::vector<std::string>>& notes = {});

// Whether two profiles make machines that answer every request alike: the
// same processors with the same leaves, registers and settings, and the same
// machine-wide ports (their names and notes aside).
bool SameMachine(const SimProfile& a, const SimProfile& b);

std::shared_ptr<Machine> MakeSimMachine(const SimProfile& profile);
std::shared_ptr<Machine> MakeSimMachine(SimProfile&& profile);

// The profile text of a catalogue entry, or null. Names match regardless of
// case.
const char* FindCatalogueProfile(std::string_view name);
// The catalogue entry of that name (any case), with its own spelling.
std::optional<CatalogueEntry> FindCatalogueEntry(std::string_view name);

}  // namespace torv
