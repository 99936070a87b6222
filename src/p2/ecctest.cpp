// The ECC presence test of the second-level cache: one line is written while
// BBL_CR_DECC holds a known pattern and read back; SRAMs that store ECC bits
// give the pattern back in BBL_CR_DECC.
#include <cstdint>

#include "driver/hw.h"
#include "p2/p2info.h"

namespace torv {

namespace {

// BBL_CR_CTL3 during the test: keep bits 1-4, 9, 10, 19 and 23-31, clear the
// rest (ECC checking, bit 5, is off), then set bits 14 and 18.
constexpr std::uint32_t kCtl3KeepMask = 0xFF88061Eu;
constexpr std::uint32_t kCtl3TestBits = 0x00044000u;
constexpr std::uint32_t kCtlBit18 = 0x00040000u;
constexpr std::uint32_t kDeccPattern = 0x51786A77u;  // "wjxQ" in memory
constexpr std::uint32_t kDataPattern = 0x7A766B20u;  // " kvz" in memory
constexpr std::uint32_t kCmdWriteLine = 0x1C;
constexpr std::uint32_t kCmdReadLine = 0x0E;

}  // namespace

bool L2EccTest(const P2Context& ctx, bool& ok) {
  // Both cache control registers are read before anything is changed, so
  // that every way out can put back what was found. A failed read here ends
  // the program with nothing changed yet.
  std::uint32_t saved3Lo = 0, saved3Hi = 0;
  std::uint32_t savedCtlLo = 0, savedCtlHi = 0;
  ReadMsr(ctx, kMsrBblCtl3, saved3Lo, saved3Hi);
  ReadMsr(ctx, kMsrBblCtl, savedCtlLo, savedCtlHi);

  // A register access that fails from here on ends the program, but only
  // after the restore below: its exit code waits here.
  int fatal = 0;
  std::uint32_t readLo = 0, readHi = 0;
  if (!WriteMsrChecked(ctx, kMsrBblCtl3, (saved3Lo & kCtl3KeepMask) | kCtl3TestBits, saved3Hi)) {
    fatal = kExitMsrWrite;
  } else {
    ReadL2Config(ctx, 0, ok);
    if (ok) {
      if (!WriteMsrChecked(ctx, kMsrBblCtl, savedCtlLo | kCtlBit18, savedCtlHi) ||
          !WriteMsrChecked(ctx, kMsrBblDecc, kDeccPattern, 0)) {
        fatal = kExitMsrWrite;
      } else {
        L2Transaction(ctx, kCmdWriteLine, 0, 0, 0, kDataPattern, kDataPattern, ok);
        if (ok) L2Transaction(ctx, kCmdReadLine, 0, 0, 0, 0, 0, ok);
        if (ok && !ReadMsrChecked(ctx, kMsrBblDecc, readLo, readHi)) fatal = kExitMsrRead;
      }
    }
  }

  // Leave the cache controller as it was found, on every way out. Each
  // register is written back once; a restore that fails has its line on the
  // error stream and ends the program like any failed write.
  const bool ctlBack = WriteMsrChecked(ctx, kMsrBblCtl, savedCtlLo, savedCtlHi);
  const bool ctl3Back = WriteMsrChecked(ctx, kMsrBblCtl3, saved3Lo, saved3Hi);
  if (fatal == 0 && !(ctlBack && ctl3Back)) fatal = kExitMsrWrite;
  if (fatal != 0) MsrFailureEnd(ctx, fatal);
  if (!ok) return false;

  ctx.p2.EccReadBack = readLo;
  return readLo == kDeccPattern;
}

}  // namespace torv
