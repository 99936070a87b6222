// The memory type range listing: one line per valid variable range and the
// closing line on write combining for a linear frame buffer.
#include <cstdint>
#include <string>

#include "p2/p2info.h"
#include "p2/p2text.h"
#include "report/utility.h"

namespace torv {

namespace {

using p2text::Cat;
using p2text::Line;
using p2text::Write;

constexpr const char* kMtrrTypeNames[7] = {"UC", "WC", "??", "??", "WT", "WP", "WB"};
constexpr std::uint32_t kMtrrValid = 1u << 11;
constexpr std::uint32_t kPageMask = 0xFFFFF000u;

}  // namespace

std::string MtrrTypeName(std::uint8_t type) {
  return type <= 6 ? kMtrrTypeNames[type] : "??";
}

void MtrrLine(const P2Context& ctx, std::uint16_t i, const TMtrrPair& pair) {
  if ((pair.MaskLo & kMtrrValid) == 0) return;
  const auto type = static_cast<std::uint8_t>(pair.BaseLo & 0x0F);
  const std::uint32_t mask = pair.MaskLo & kPageMask;
  const std::uint32_t start = (pair.BaseLo & kPageMask) & mask;
  // The last valid range decides; the memory type is not consulted.
  ctx.p2.LfbWc = i > 0 && start >= 0x80000000u;

  // Size: the lowest mask bit at or above bit 12. A mask without such a bit
  // leaves size 0: the whole 4 GB, printed with the end bound start - 1 and
  // no wraparound mark.
  std::uint32_t size = 0x1000;
  int sizeBit = 12;
  while (size != 0 && (mask & size) == 0) {
    size <<= 1;
    ++sizeBit;
  }
  // A clear mask bit above the size bit: the range is not one block.
  bool wrap = false;
  if (size != 0) {
    for (int b = sizeBit + 1; b <= 31; ++b) {
      if (((mask >> b) & 1u) == 0) wrap = true;
    }
  }

  const std::uint32_t end = start + size;  // modulo 2^32
  std::string text =
      Cat(" MTRR", DecStr(i), ":", HexDword(start), "..", HexDword(end - 1),
          "\t: ", MtrrTypeName(type), DecStrW(static_cast<std::int32_t>(start >> 20), 5), " MB .. ",
          DecStrW(static_cast<std::int32_t>(end >> 20), 5), " MB ", HexDword(mask));
  if (wrap) text += " ## wraparound ##";
  Line(ctx, text);
}

void MtrrReport(const P2Context& ctx) {
  if (ctx.settings.TestNo != 0) return;
  const TP2Info& info = ctx.p2.P2Info;
  const std::uint32_t n = info.MtrrCapLo & 0x0F;
  for (std::uint32_t i = 0; i < n; ++i) {
    MtrrLine(ctx, static_cast<std::uint16_t>(i), info.VarMtrr[i]);
  }
  const LangRec& m = ctx.Msg();
  if (!ctx.p2.LfbWc) Write(ctx, m.No);
  Line(ctx, Cat(" Write Combining", m.For, " LFB (Linear Frame Buffer)", m.Supported));
}

}  // namespace torv
