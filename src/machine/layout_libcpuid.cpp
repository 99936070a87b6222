// libcpuid's raw save (cpuid_tool --save), read line by line with the
// profile's own settings: "version=..." first, then before each processor
// "_________________ Logical CPU #0 _________________" and its arrays,
//   basic_cpuid[1]=00000652 00000000 00000000 0183fbff   (leaf i: EAX EBX ECX EDX)
//   ext_cpuid[1]=...                                       (leaf 80000000h + i)
// Its other arrays ("intel_fn4[0]=...") hold sub-leaves and are not used.
#include <algorithm>

#include "machine/line_layouts.h"

namespace torv::lines {

namespace {

// The array's name of a line "name[i]=...", or nothing when the line is none.
std::optional<std::string_view> ArrayName(std::string_view line) {
  const auto open = line.find('[');
  if (open == 0 || open == std::string_view::npos) return std::nullopt;
  const std::string_view name = line.substr(0, open);
  if (!std::all_of(name.begin(), name.end(),
                   [](char c) { return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_'; })) {
    return std::nullopt;
  }
  const auto close = line.find(']', open);
  if (close == std::string_view::npos || !IsDigits(line.substr(open + 1, close - open - 1)) ||
      !StartsWith(Trim(line.substr(close + 1)), "=")) {
    return std::nullopt;
  }
  return name;
}

}  // namespace

std::optional<ProcessorHeader> LibcpuidHeader(std::string_view line) {
  const auto first = line.find_first_not_of('_');
  if (line.empty() || line.front() != '_' || line.back() != '_' ||
      first == std::string_view::npos) {
    return std::nullopt;
  }
  const auto last = line.find_last_not_of('_');
  const std::string_view inner = Trim(line.substr(first, last - first + 1));
  if (StartsWith(inner, "Logical CPU #") && IsDigits(inner.substr(13))) {
    return ProcessorHeader{HeaderKind::NextProcessor, LeadingNumber(inner.substr(13))};
  }
  return std::nullopt;
}

bool IsLibcpuidLine(std::string_view line) {
  return ArrayName(line).has_value();
}

bool ReadLibcpuidLine(std::string_view line, RegisterValue& v, std::string& error) {
  v.Keep = false;
  const std::string_view name = *ArrayName(line);
  std::uint32_t base = 0;
  if (name == "ext_cpuid") {
    base = 0x80000000u;
  } else if (name != "basic_cpuid") {
    return true;  // sub-leaves and other processors' arrays
  }
  const auto open = line.find('[');
  const auto close = line.find(']');
  const auto index = Decimal(line.substr(open + 1, close - open - 1), 0x7FFFFFFF);
  std::string_view values = Trim(line.substr(close + 1));
  values = Trim(values.substr(1));  // after '='
  std::array<std::string_view, 4> words;
  if (!index || !SplitWords(values, words)) {
    error = "malformed CPUID line (want " + std::string(name) + "[i]=EAX EBX ECX EDX)";
    return false;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    const auto x = Hex(words[i], 8);
    if (!x) {
      error = "bad CPUID value " + Quote(words[i]);
      return false;
    }
    v.Regs[i] = static_cast<std::uint32_t>(*x);
  }
  v.Number = base + static_cast<std::uint32_t>(*index);
  v.Keep = true;
  return true;
}

}  // namespace torv::lines
