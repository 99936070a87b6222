// Formatting helpers: numbers and flags as report text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torv {

// State of the formatting unit.
struct UtilityState {
  bool DecimalPoint = true;  // false: real numbers print with a decimal comma
};

std::string HexByte(std::uint8_t b);    // "0A"
std::string HexWord(std::uint16_t w);   // 4 digits
std::string HexDword(std::uint32_t d);  // 8 digits
// The value of a hexadecimal digit in either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
std::string DecStr(std::int32_t n);
std::string DecStrW(std::int32_t n, int width);  // right-aligned, padded with blanks
std::string UpperStr(std::string_view s);        // code page 1252 rules, umlauts included
// Appends c unless s already holds capacity characters.
void AppendChar(std::string& s, std::size_t capacity, char c);
std::string BoolWord(bool flag);  // " true " or " false"
void SetDecimalPoint(UtilityState& u, bool flag);

// Fixed-point text with `decimals` decimals, right-aligned in `width`, kept to
// 20 characters, "," for "." when DecimalPoint is off, leading blanks removed.
std::string RealStrW(const UtilityState& u, double value, int width, int decimals);
std::string RealStr(const UtilityState& u, double value, int decimals);  // width 15

}  // namespace torv
