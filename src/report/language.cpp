// The report screen over the list box's lines, and the report language.
#include "report/language.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace torv {
namespace {

// Longest report line and longest text handed to the output.
constexpr std::size_t kLineMax = 255;
// Column that a tab moves the following text to.
constexpr std::size_t kTabColumn = 26;
// Columns kept on a line when folding.
constexpr std::int32_t kFoldColumn = 80;
// Keeps the column far from overflow when a line is written on for ever
// without a line end; far beyond any line the screen can hold.
constexpr std::int32_t kColumnLimit = 1 << 20;

// OEM code page 437/850 codes of the message tables → code page 1252.
constexpr std::array<std::pair<unsigned char, unsigned char>, 9> kOemToAnsiPairs{{
    {0x84, 0xE4},  // ä
    {0x94, 0xF6},  // ö
    {0x81, 0xFC},  // ü
    {0x8E, 0xC4},  // Ä
    {0x99, 0xD6},  // Ö
    {0x9A, 0xDC},  // Ü
    {0xE1, 0xDF},  // ß
    {0x15, 0xA7},  // §
    {0xE6, 0xB5},  // µ
}};

char OemToAnsi(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  for (const auto& [oem, ansi] : kOemToAnsiPairs) {
    if (c == oem) return static_cast<char>(ansi);
  }
  return ch;
}

void CutLine(std::string& line) {
  if (line.size() > kLineMax) line.resize(kLineMax);
}

// Unicode code points of the bytes 80..9F of code page 1252. The five
// unassigned bytes 81 8D 8F 90 9D show as the replacement character, so
// that no C1 control code ever reaches a terminal.
constexpr auto kCp1252High = std::to_array<char32_t>({
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,  // 88..8F
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,  // 98..9F
});
static_assert(kCp1252High.size() == 32, "one character per byte 80h..9Fh");

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

void ReportInit(ReportState& r, ListBox& box, bool scroll, bool wrap, bool convert) {
  r.Bound = &box;
  r.Scroll = scroll;
  r.Wrap = wrap;
  r.Convert = convert;
  // A box too small for one line (or without a valid item height) still
  // counts one row, so that scrolling always has a line to write on.
  const int rows = box.ItemHeight > 0 ? (box.Height - 4) / box.ItemHeight : 1;
  r.RowCount = std::max(rows, 1);
  for (std::int32_t i = 0; i < r.RowCount; ++i) box.Items.emplace_back(79, ' ');
  r.CurLine = 1;
  r.CurCol = 1;
}

void ReportClear(ReportState& r) {
  if (r.Bound != nullptr) r.Bound->Items.clear();
  r.CurLine = 1;
  r.CurCol = 1;
}

// Before the first ReportInit there is no list box: the text goes nowhere and
// the position stays as it is.
void ReportWrite(ReportState& r, std::string_view text) {
  if (r.Bound == nullptr) return;
  std::vector<std::string>& items = r.Bound->Items;
  r.CurLine = std::max<std::int32_t>(r.CurLine, 1);
  r.CurCol = std::clamp<std::int32_t>(r.CurCol, 1, kColumnLimit);

  std::string piece(text.substr(0, std::min(text.size(), kLineMax)));
  if (r.Convert) {
    for (char& c : piece) c = OemToAnsi(c);
  }

  while (items.size() < static_cast<std::size_t>(r.CurLine)) items.emplace_back();
  std::string line = items[static_cast<std::size_t>(r.CurLine) - 1];
  CutLine(line);

  // Overwrite from the current column; blanks fill up to it, within the
  // 255 characters a line holds.
  const std::size_t col = static_cast<std::size_t>(r.CurCol);
  const std::size_t fill = std::min(col - 1, kLineMax);
  if (line.size() < fill) line.append(fill - line.size(), ' ');
  const std::size_t at = std::min(col - 1, line.size());
  line.replace(at, std::min(piece.size(), line.size() - at), piece);
  CutLine(line);
  r.CurCol =
      std::min<std::int32_t>(r.CurCol + static_cast<std::int32_t>(piece.size()), kColumnLimit);

  // The first tab lines up what follows it in column 26.
  const std::size_t tab = line.find('\t');
  if (tab != std::string::npos) {
    const std::size_t p = tab + 1;  // column of the tab
    line.erase(tab, 1);
    r.CurCol -= 1;
    if (p < kTabColumn) {
      line.insert(tab, kTabColumn - p, ' ');
      CutLine(line);
      r.CurCol += static_cast<std::int32_t>(kTabColumn - p);
    }
    // A tab left in the line by an earlier write and lying beyond the text
    // just written still takes a column off the position; written from
    // column 1 that would leave column 0, which no line has.
    r.CurCol = std::max<std::int32_t>(r.CurCol, 1);
  }

  // Fold once: the part beyond column 80 moves to the next line.
  if (r.Wrap && r.CurCol > kFoldColumn) {
    const std::size_t keep = std::min<std::size_t>(kFoldColumn, line.size());
    items[static_cast<std::size_t>(r.CurLine) - 1] = line.substr(0, keep);
    line.erase(0, keep);
    r.CurCol = 1;
    r.CurLine += 1;
    if (items.size() < static_cast<std::size_t>(r.CurLine)) items.emplace_back();
  }
  items[static_cast<std::size_t>(r.CurLine) - 1] = std::move(line);
}

void ReportWriteLn(ReportState& r, std::string_view text) {
  if (r.Bound == nullptr) return;
  ReportWrite(r, text);
  r.CurLine += 1;
  r.CurCol = 1;
  if (r.Scroll && r.CurLine > r.RowCount) {
    std::vector<std::string>& items = r.Bound->Items;
    if (!items.empty()) items.erase(items.begin());
    r.CurLine = std::max<std::int32_t>(r.RowCount, 1);
  }
}

std::uint16_t SystemLanguage(std::uint16_t langId) {
  switch (langId) {
    case 0x0407:
    case 0x0807:
    case 0x0C07:
      return 49;
    case 0x0413:
    case 0x0813:
      return 31;
    default:
      return 1;
  }
}

void SetLanguage(ReportState& r, std::uint16_t code) {
  r.LangCode = code;
  switch (code) {
    case 31:
      r.Cur = &DutchRec();
      break;
    case 43:
    case 49:
      r.Cur = &GermanRec();
      break;
    default:
      r.Cur = &EnglishRec();
      break;
  }
}

std::string TableText(std::string_view oem) {
  std::string text(oem);
  for (char& c : text) c = OemToAnsi(c);
  return text;
}

std::string Cp1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 && c <= 0x9F) {
      AppendUtf8(out, kCp1252High[c - 0x80]);
    } else {
      AppendUtf8(out, c);  // ASCII and A0..FF are Latin-1
    }
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    int len = 1;
    char32_t cp = b;
    if (b >= 0xC0 && b < 0xE0) {
      len = 2;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b < 0xF0) {
      len = 3;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b < 0xF8) {
      len = 4;
      cp = b & 0x07;
    } else if (b >= 0x80) {
      len = 0;  // a stray continuation byte or an invalid lead byte
    }
    bool valid = len > 0 && i + static_cast<std::size_t>(len) <= s.size();
    for (int k = 1; valid && k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    i += static_cast<std::size_t>(len);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    // The code points of bytes 80h..9Fh that are not Latin-1; the
    // replacement character stands for no byte.
    char mapped = '?';
    for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
      if (kCp1252High[k] == cp && cp != 0xFFFD) mapped = static_cast<char>(0x80 + k);
    }
    out += mapped;
  }
  return out;
}

}  // namespace torv
