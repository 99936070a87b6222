// The ECC presence test of the second-level cache: one line is written while
// BBL_CR_DECC holds a known pattern and read back; SRAMs that store ECC bits
// give the pattern back in BBL_CR_DECC.
#include <cstdint>

#include "app/world.h"
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

bool L2EccTest(World& w, bool& ok) {
  std::uint32_t saved3Lo = 0, saved3Hi = 0;
  ReadMsr(w, kMsrBblCtl3, saved3Lo, saved3Hi);
  WriteMsr(w, kMsrBblCtl3, (saved3Lo & kCtl3KeepMask) | kCtl3TestBits, saved3Hi);

  bool ctlSaved = false;
  std::uint32_t savedCtlLo = 0, savedCtlHi = 0;
  std::uint32_t readLo = 0, readHi = 0;
  ReadL2Config(w, 0, ok);
  if (ok) {
    ReadMsr(w, kMsrBblCtl, savedCtlLo, savedCtlHi);
    ctlSaved = true;
    WriteMsr(w, kMsrBblCtl, savedCtlLo | kCtlBit18, savedCtlHi);
    WriteMsr(w, kMsrBblDecc, kDeccPattern, 0);
    L2Transaction(w, kCmdWriteLine, 0, 0, 0, kDataPattern, kDataPattern, ok);
    if (ok) L2Transaction(w, kCmdReadLine, 0, 0, 0, 0, 0, ok);
    if (ok) ReadMsr(w, kMsrBblDecc, readLo, readHi);
  }

  // Leave the cache controller as it was found, on every way out.
  if (ctlSaved) WriteMsr(w, kMsrBblCtl, savedCtlLo, savedCtlHi);
  WriteMsr(w, kMsrBblCtl3, saved3Lo, saved3Hi);
  if (!ok) return false;

  w.p2.EccReadBack = readLo;
  return readLo == kDeccPattern;
}

}  // namespace torv
