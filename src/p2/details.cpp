// The details listing: the second-level cache configuration registers
// decoded, latency, in-order queue depth, fast strings, the raw registers
// with /EXX, and the memory type ranges.
#include <cstdint>
#include <iterator>
#include <string>

#include "driver/hw.h"
#include "p2/facts.h"
#include "p2/p2info.h"
#include "p2/p2text.h"
#include "report/utility.h"

namespace torv {

namespace {

using p2text::Bit;
using p2text::Cat;
using p2text::Line;

constexpr PStr<30> kL2RegLabels[] = {
    "Controller", "Manufacturer",  "Cache Size", "Cacheable Area", "Latency Mode",
    "Error Type", "Associativity", "???",        "Timing",
};
static_assert(std::size(kL2RegLabels) == 9, "one label per cache register 0..8");

// Registers listed only with /EXX.
constexpr bool IsExtOnlyReg(int r) {
  return r == 3 || r == 5 || r == 6 || r == 7 || r == 8;
}

// Register 2: size and number of banks. A code without a size meaning keeps
// the size text of the previous listing.
std::string SizeAndBanks(P2State& p, std::uint8_t v) {
  const L2SizeBanks sb = L2SizeAndBanks(v, p.IsCsram);
  if (sb.Size != nullptr) p.L2SizeText = sb.Size;
  p.L2Banks = sb.Banks;
  return Cat(p.L2SizeText, ", ", DecStr(p.L2Banks), p.L2Banks > 1 ? " banks" : " bank");
}

std::string Associativity(std::uint8_t v) {
  switch (v >> 1) {
    case 0:
      return "direct mapped";
    case 1:
      return "2 way";
    case 2:
      return "4 way";
    case 3:
      return "?? way";
    default:
      return "";
  }
}

}  // namespace

void L2RegReport(const P2Context& ctx) {
  P2State& p = ctx.p2;
  const bool exx = ctx.settings.OptExx;
  for (int r = 0; r <= 8; ++r) {
    if (IsExtOnlyReg(r) && !exx) continue;
    const std::uint8_t v = p.P2Info.L2Regs[r];
    std::string text = Cat(" L2 ", kL2RegLabels[r], "\t: ");
    if (exx) text += Cat("(", HexByte(v), ") ");
    switch (r) {
      case 0:
        text += Cat("ID:", HexByte(static_cast<std::uint8_t>(v >> 4)),
                    ", Step:", HexByte(static_cast<std::uint8_t>(v & 0x0F)));
        p.IsCsram = Bit(v, 5);
        text += p.IsCsram ? ", Type:CSRAM" : ", Type:BSRAM";
        break;
      case 1:
        text += Cat("ID:", HexByte(static_cast<std::uint8_t>(v & 0x3F)));
        if ((v & 0x3F) == 9) text += " = Intel";
        break;
      case 2:
        text += SizeAndBanks(p, v);
        break;
      case 3: {
        // A signed 32-bit shift with the count taken modulo 32: 22 gives the
        // sign bit, 23 to 31 shift everything out.
        const auto mbyte = static_cast<std::int32_t>(512u << (v % 32));
        text += Cat(DecStr(mbyte), " MByte");
        break;
      }
      case 6:
        text += Associativity(v);
        break;
      default:
        text += HexByte(v);
        break;
    }
    Line(ctx, text);
  }
}

void P2Details(const P2Context& ctx) {
  const TP2Info& info = ctx.p2.P2Info;
  const bool read = RegistersRead(ctx.p2);
  // What a published dump did not hold is not listed: the report's line
  // "not in the dump" has named it once.
  const DumpGaps& gaps = ctx.p2.NotInDump;
  if (info.Cpu.ClassCode == kClassPentiumII) {
    // Registers an early end left unread are not decoded: what the record
    // holds there belongs to an earlier run.
    if (!read) {
      Line(ctx, Cat(" L2\t:", ctx.Msg().L2RegsNotRead));
    } else if (!gaps.L2Regs) {
      L2RegReport(ctx);
    }
    if (!gaps.Ctl3) {
      Line(ctx, Cat(" L2 Latency\t: ",
                  DecStr(static_cast<std::int32_t>(Bits(info.Ctl3Lo, kCtl3Latency)))));
    }
  }
  if (!gaps.PowerOn) Line(ctx, Cat(" In Order Queue Depth\t:", DecStrW(ctx.p2.IoqDepth, 2)));
  // Bit 2 of MSR 1E0h set means fast strings are off.
  if (!gaps.Msr1E0) Line(ctx, Cat(" Fast Strings\t:", BoolWord(!Bit(info.Msr1E0Lo, 2))));
  if (ctx.settings.OptExx) {
    std::string raw;
    if (!gaps.PowerOn) raw += Cat(" 2A:", HexDword(info.PowerOnLo));
    if (!gaps.Ctl3) raw += Cat(" 11E:", HexDword(info.Ctl3Lo));
    if (!gaps.Msr1E0) raw += Cat(" 1E0:", HexDword(info.Msr1E0Lo));
    if (!raw.empty()) Line(ctx, raw);
  }
  // The memory type ranges are read after the cache registers.
  if (read && !gaps.Mtrrs) MtrrReport(ctx);
}

}  // namespace torv
