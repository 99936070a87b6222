// The simulated machine: its profile (read from the text format of the
// catalogue and of profile files) and the machine built from it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

// One processor of a simulated machine.
struct SimProcessor {
  // CPUID answers by leaf (sub-leaf 0): EAX, EBX, ECX, EDX.
  std::map<std::uint32_t, std::array<std::uint32_t, 4>> Cpuid;
  // The model-specific registers that exist, with their power-on values.
  std::map<std::uint32_t, std::uint64_t> Msr;
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

  SimProcessor();  // the P6 register set with MTRRcap 508h
};

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
};

// Reads a profile text. `source` names it in error messages
// ("source:line: what is wrong"). False with `error` set on the first fault.
bool ParseProfile(std::string_view text, std::string_view source, SimProfile& out,
                  std::string& error);

std::shared_ptr<Machine> MakeSimMachine(const SimProfile& profile);

// The profile text of a catalogue entry, or null. Names match regardless of
// case.
const char* FindCatalogueProfile(std::string_view name);
// The catalogue entry of that name (any case), with its own spelling.
std::optional<CatalogueEntry> FindCatalogueEntry(std::string_view name);

}  // namespace torv
