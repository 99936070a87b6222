// Fuzzes the report screen: a bound list box of fuzzed size and flags, then a
// sequence of writes and line ends of fuzzed pieces. No line may ever exceed
// 255 characters, and the position stays where the screen can reach it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "report/language.h"
#include "report/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  torv::ListBox box;
  box.Height = static_cast<std::int8_t>(data[1]) * 4;
  box.ItemHeight = static_cast<std::int8_t>(data[2]) % 20;
  torv::ReportState r;
  if (flags & 0x08) torv::ReportWrite(r, "before the screen is bound");
  torv::ReportInit(r, box, flags & 0x01, flags & 0x02, flags & 0x04);
  if (flags & 0x10) torv::ReportClear(r);

  // Pieces: a length byte (its top bit chooses WriteLn), then that many bytes;
  // a length byte of 0xFF stands for 300 characters of the following byte.
  std::size_t i = 3;
  while (i < size) {
    const std::uint8_t head = data[i++];
    const bool line = head & 0x80;
    std::string_view piece;
    std::string longPiece;
    if (head == 0xFF && i < size) {
      longPiece.assign(300, static_cast<char>(data[i++]));
      piece = longPiece;
    } else {
      const std::size_t len = std::min<std::size_t>(head & 0x7F, size - i);
      piece = std::string_view(reinterpret_cast<const char*>(data + i), len);
      i += len;
    }
    if (line) {
      torv::ReportWriteLn(r, piece);
    } else {
      torv::ReportWrite(r, piece);
    }
    for (const auto& l : box.Items) {
      if (l.size() > 255) std::abort();
    }
    if (r.CurLine < 1 || r.CurCol < 1) std::abort();
    // Folding may move past the last row; the line end scrolls back.
    if (line && (flags & 0x01) && r.CurLine > r.RowCount) std::abort();
    if ((flags & 0x02) && r.CurCol > 80) std::abort();
    if (box.Items.size() + 1 < static_cast<std::size_t>(r.CurLine)) std::abort();
  }
  // The view's conversion takes any line.
  for (const auto& l : box.Items) {
    if (torv::Cp1252ToUtf8(l).size() < l.size()) std::abort();
  }
  return 0;
}
