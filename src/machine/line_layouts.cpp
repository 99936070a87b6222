// The number helpers of the line-by-line layouts and the profile settings.
#include "machine/line_layouts.h"

#include <algorithm>

#include "report/utility.h"

namespace torv::lines {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::optional<std::uint64_t> Hex(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<unsigned>(d);
  }
  return v;
}

std::optional<std::uint64_t> Decimal(std::string_view s, std::uint64_t max) {
  if (s.empty() || s.size() > 20) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    const auto d = static_cast<std::uint64_t>(c - '0');
    if (v > (max - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

bool IsHexDigits(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

std::optional<std::uint64_t> LeadingNumber(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && IsDigit(s[n])) ++n;
  return Decimal(s.substr(0, n), 1'000'000'000);
}

}  // namespace torv::lines
