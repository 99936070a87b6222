// Formatting helpers: register values, numbers and flags as report text.
#include "report/utility.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>

namespace torv {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// Longest text a short string holds.
constexpr std::size_t kShortMax = 255;

// What the real-number formatters keep of the fixed-point text.
constexpr std::size_t kRealMax = 20;

// Upper case of one code page 1252 character.
char UpperChar(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char>(c - 0x20);  // à..þ, not ÷
  switch (c) {
    case 0x9A:
      return static_cast<char>(0x8A);  // š → Š
    case 0x9C:
      return static_cast<char>(0x8C);  // œ → Œ
    case 0x9E:
      return static_cast<char>(0x8E);  // ž → Ž
    case 0xFF:
      return static_cast<char>(0x9F);  // ÿ → Ÿ
    default:
      return ch;
  }
}

}  // namespace

std::string HexByte(std::uint8_t b) {
  return std::string{kHexDigits[b >> 4], kHexDigits[b & 0x0F]};
}

std::string HexWord(std::uint16_t w) {
  return HexByte(static_cast<std::uint8_t>(w >> 8)) + HexByte(static_cast<std::uint8_t>(w));
}

std::string HexDword(std::uint32_t d) {
  return HexWord(static_cast<std::uint16_t>(d >> 16)) + HexWord(static_cast<std::uint16_t>(d));
}

std::string DecStr(std::int32_t n) {
  return std::to_string(n);
}

std::string DecStrW(std::int32_t n, int width) {
  std::string s = DecStr(n);
  // The result is a short string: padding never goes past 255 characters.
  const std::size_t want =
      static_cast<std::size_t>(std::clamp(width, 0, static_cast<int>(kShortMax)));
  if (s.size() < want) s.insert(0, want - s.size(), ' ');
  return s;
}

std::string UpperStr(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = UpperChar(c);
  return out;
}

void AppendChar(std::string& s, std::size_t capacity, char c) {
  if (s.size() < capacity) s.push_back(c);
}

std::string BoolWord(bool flag) {
  return flag ? " true " : " false";
}

void SetDecimalPoint(UtilityState& u, bool flag) {
  u.DecimalPoint = flag;
}

// Rounds to the nearest value with `decimals` decimals, judged on the exact
// binary value. With one decimal or more a double can never lie exactly
// halfway (that would need a factor 5 in its denominator); whole numbers
// (0 decimals) round halves away from zero. Not-a-number and the infinities
// print as "NaN", "Inf" and "-Inf"; huge values keep their first 20
// characters, as the text is kept to 20.
std::string RealStrW(const UtilityState& u, double value, int width, int decimals) {
  std::string text;
  if (std::isnan(value)) {
    text = "NaN";
  } else if (std::isinf(value)) {
    text = value < 0 ? "-Inf" : "Inf";
  } else {
    const int prec = std::clamp(decimals, 0, 17);
    if (prec == 0) value = std::round(value);
    // Fixed notation of the largest double has 309 digits before the point.
    // printf's %f is exact in the "C" locale the program keeps, as
    // std::to_chars is, without the latter's tables in the static programs.
    std::array<char, 400> buf{};
    const int n = std::snprintf(buf.data(), buf.size(), "%.*f", prec, value);
    if (n > 0 && static_cast<std::size_t>(n) < buf.size()) text.assign(buf.data(), n);
    // A value that rounds to zero prints without a sign.
    if (!text.empty() && text[0] == '-' && text.find_first_not_of("0.", 1) == std::string::npos) {
      text.erase(0, 1);
    }
  }
  // Right-aligned in the width, but never padded past the 20 characters that
  // are kept: a wider field would push the number itself out.
  const std::size_t want =
      static_cast<std::size_t>(std::clamp(width, 0, static_cast<int>(kRealMax)));
  if (text.size() < want) text.insert(0, want - text.size(), ' ');
  if (text.size() > kRealMax) text.resize(kRealMax);
  if (!u.DecimalPoint) {
    const std::size_t dot = text.find('.');
    if (dot != std::string::npos) text[dot] = ',';
  }
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string RealStr(const UtilityState& u, double value, int decimals) {
  return RealStrW(u, value, 15, decimals);
}

}  // namespace torv
