// Typed hardware operations built on the driver's requests.
#pragma once

#include <cstdint>
#include <string>

namespace torv {

struct DriverContext;

struct HwState {
  std::uint32_t MsrStatus = 0;
  bool CpuidFault = false;
  double CpuClockHz = 0.0;
  // The processor announced by the last DrvSetCpu (1-based).
  int CurrentCpu = 1;
  // What ended the analysis thread early: the exit code (7 or 8 for a
  // register failure, 5 for the lock's timeout, 128 + n for signal n; 0 for
  // none) and what the "Error" box says (empty: no box).
  int FatalCode = 0;
  std::string FatalText;
  // The line that said an earlier analysis's registers were put back from
  // its journal (driver/journal.h), for the window's status; "" for none.
  std::string JournalNote;
};

// CPUID result in the order EAX, EBX, EDX, ECX.
struct CpuidRegs {
  std::uint32_t Eax = 0, Ebx = 0, Edx = 0, Ecx = 0;
};

// A bit field of a register: bits msb down to lsb.
struct Field {
  unsigned Msb, Lsb;
};

// The value of bits msb..lsb of `value`, shifted down to bit 0.
constexpr std::uint32_t Bits(std::uint32_t value, unsigned msb, unsigned lsb) {
  const unsigned width = msb - lsb + 1;
  const std::uint32_t mask = width >= 32 ? ~0u : (1u << width) - 1;
  return (value >> lsb) & mask;
}
constexpr std::uint32_t Bits(std::uint32_t value, Field f) {
  return Bits(value, f.Msb, f.Lsb);
}

// CPUID leaf 1: the signature in EAX and the feature flags in EDX.
inline constexpr Field kSigStepping{3, 0};
inline constexpr Field kSigModel{7, 4};
inline constexpr Field kSigFamily{11, 8};
inline constexpr Field kSigType{15, 12};
inline constexpr Field kSigExtModel{19, 16};
inline constexpr Field kSigExtFamily{27, 20};
inline constexpr Field kFeatTsc{4, 4};
inline constexpr Field kFeatApic{9, 9};
inline constexpr Field kFeatCmov{15, 15};
inline constexpr Field kFeatMmx{23, 23};
// CPUID leaf 2: the number of requests in EAX's low byte.
inline constexpr Field kLeaf2Requests{7, 0};

// Whether CPUID leaf 1's signature (EAX) is that of a processor with the P6
// second-level cache controller and the registers the analysis reads: family
// 6 without extended model or family, models 0 to 8, 0Ah and 0Bh (Pentium
// Pro, Pentium II, Celeron, Pentium III and their Xeons). Models 9 and 0Ch to
// 0Fh (Pentium M, Core Solo/Duo, Core 2) have other registers, or none, at
// those numbers; no register of theirs is read or written.
constexpr bool HasP6CacheController(std::uint32_t eax1) {
  if (Bits(eax1, kSigFamily) != 6 || Bits(eax1, kSigExtModel) != 0 ||
      Bits(eax1, kSigExtFamily) != 0) {
    return false;
  }
  const std::uint32_t model = Bits(eax1, kSigModel);
  return model <= 8 || model == 0x0A || model == 0x0B;
}

// P6 register numbers used by the cache transaction and the analysis, each
// followed by the fields the analysis reads.
inline constexpr std::uint32_t kMsrPowerOn = 0x2A;  // EBL_CR_POWERON
inline constexpr Field kPowerOnBus133{18, 18};
inline constexpr Field kPowerOnBus100{19, 19};
inline constexpr Field kPowerOnRatio{25, 22};
inline constexpr Field kPowerOnRatioPlus4{27, 27};
inline constexpr std::uint32_t kMsrBblD0 = 0x88;     // BBL_CR_D0..D3 = 88h..8Bh
inline constexpr std::uint32_t kMsrMtrrCap = 0xFE;   // MTRRcap
inline constexpr Field kMtrrCapCount{3, 0};          // variable ranges (VCNT, low nibble)
inline constexpr std::uint32_t kMsrBblAddr = 0x116;  // BBL_CR_ADDR
inline constexpr std::uint32_t kMsrBblDecc = 0x118;  // BBL_CR_DECC
inline constexpr std::uint32_t kMsrBblCtl = 0x119;   // BBL_CR_CTL
inline constexpr std::uint32_t kMsrBblTrig = 0x11A;  // BBL_CR_TRIG
inline constexpr std::uint32_t kMsrBblBusy = 0x11B;  // BBL_CR_BUSY
inline constexpr std::uint32_t kMsrBblCtl3 = 0x11E;  // BBL_CR_CTL3
inline constexpr Field kCtl3Latency{4, 1};
inline constexpr Field kCtl3Ecc{5, 5};
inline constexpr Field kCtl3CacheableArea{22, 20};
inline constexpr Field kCtl3L2Disabled{23, 23};
inline constexpr std::uint32_t kMsr1E0 = 0x1E0;
inline constexpr std::uint32_t kMsrMtrrBase0 = 0x200;  // 200h + 2i base, 201h + 2i mask
inline constexpr int kL2BusyPolls = 273;

std::uint8_t PortIn(const DriverContext& ctx, std::uint16_t port);
void PortOut(const DriverContext& ctx, std::uint16_t port, std::uint8_t value);
void ReadMsrRaw(const DriverContext& ctx, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi,
                std::uint32_t& status);
void WriteMsrRaw(const DriverContext& ctx, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi,
                 std::uint32_t& status);
void DrvCpuid(const DriverContext& ctx, std::uint32_t leaf, CpuidRegs& regs, bool& ok);
bool DrvSetCpu(const DriverContext& ctx, std::uint32_t proc);
std::uint32_t DrvClockCount(const DriverContext& ctx, std::uint16_t selector);
std::uint32_t L2Request(const DriverContext& ctx, std::uint32_t command, std::uint32_t way, const void* block,
                        bool& ok);

// Exit status when another analysis kept the registers for kLockWaitMs, or
// when their lock cannot be taken (RegisterLock::Attempt::Denied).
inline constexpr int kExitLockTimeout = 5;
inline constexpr int kLockWaitMs = 30'000;
inline constexpr int kLockPollMs = 100;

// RegisterSession and HeldSection, the scopes of an analysis, are declared
// with DriverContext (driver/context.h), which they keep.

// Register read and write with the /LOG trace; a failure ends the program
// with exit code 8 (read) or 7 (write).
void ReadMsr(const DriverContext& ctx, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi);
void WriteMsr(const DriverContext& ctx, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi);
// The same with the trace and the line on the error stream, but a failure
// comes back as false, for a caller that must put registers back before the
// program ends; MsrFailureEnd then ends it with the code of the failed access.
bool ReadMsrChecked(const DriverContext& ctx, std::uint32_t reg, std::uint32_t& lo, std::uint32_t& hi);
bool WriteMsrChecked(const DriverContext& ctx, std::uint32_t reg, std::uint32_t lo, std::uint32_t hi);
inline constexpr int kExitMsrWrite = 7;
inline constexpr int kExitMsrRead = 8;
[[noreturn]] void MsrFailureEnd(const DriverContext& ctx, int code);
// Every end of the program other than its orderly one goes through here: a
// failed register access, a signal after the restore, the lock's timeout. On
// an analysis thread the code is kept and the thread ends (its stack
// unwinds, so that what it holds is released); the main thread then ends the
// program in EndFatally. On the main thread the program ends here: the
// driver unloaded (DrvUnload: on Windows NT its service removed), then an
// "Error" box with HwState::FatalText in the window (none when it is empty).
[[noreturn]] void AbruptEnd(const DriverContext& ctx, int code);
// Called by the main thread after an analysis thread has ended: a register
// failure that ended that thread is shown ("Error" box in the window) and
// ends the program with its code. Does nothing when there was none.
void EndFatally(const DriverContext& ctx);
void MeasureClock(const DriverContext& ctx);
std::uint32_t L2Transaction(const DriverContext& ctx, std::uint32_t command, std::uint32_t way,
                            std::uint32_t address, std::uint32_t addressHigh, std::uint32_t dataLow,
                            std::uint32_t dataHigh, bool& ok);
std::uint8_t ReadL2Config(const DriverContext& ctx, std::uint32_t reg, bool& ok);

}  // namespace torv
