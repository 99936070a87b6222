// The raw listing of Todd Allen's cpuid (cpuid -r), read line by line with
// the profile's own settings: "CPU 0:" (or "CPU:") before each processor, and
//   0x00000001 0x00: eax=0x00000652 ebx=0x00000000 ecx=0x00000000 edx=0x0183fbff
// one leaf and sub-leaf a line; only sub-leaf 0 is kept.
#include "machine/line_layouts.h"

namespace torv::lines {

std::optional<ProcessorHeader> CpuidRHeader(std::string_view line) {
  if (line == "CPU:") return ProcessorHeader{HeaderKind::NextProcessor, std::nullopt};
  if (StartsWith(line, "CPU ") && line.ends_with(':') &&
      IsDigits(line.substr(4, line.size() - 5))) {
    return ProcessorHeader{HeaderKind::NextProcessor, LeadingNumber(line.substr(4))};
  }
  return std::nullopt;
}

bool IsCpuidRLine(std::string_view line) {
  return StartsWith(line, "0x") || StartsWith(line, "0X");
}

bool ReadCpuidRLine(std::string_view line, RegisterValue& v, std::string& error) {
  error = "malformed CPUID line (want 0xLEAF 0xSUB: eax=0x... ebx=0x... ecx=0x... edx=0x...)";
  v.Keep = false;
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::array<std::string_view, 2> head;
  if (!SplitWords(line.substr(0, colon), head)) return false;
  const auto hex32 = [](std::string_view s) -> std::optional<std::uint64_t> {
    if (!StartsWith(s, "0x") && !StartsWith(s, "0X")) return std::nullopt;
    return Hex(s.substr(2), 8);
  };
  const auto leaf = hex32(head[0]);
  const auto sub = hex32(head[1]);
  if (!leaf || !sub) return false;
  std::string_view rest = line.substr(colon + 1);
  rest = Trim(rest.substr(0, rest.find('[')));
  std::array<std::string_view, 4> words;
  if (!SplitWords(rest, words)) return false;
  static constexpr std::string_view kNames[4] = {"eax=", "ebx=", "ecx=", "edx="};
  for (std::size_t i = 0; i < 4; ++i) {
    if (!StartsWith(words[i], kNames[i])) return false;
    const auto x = hex32(words[i].substr(4));
    if (!x) return false;
    v.Regs[i] = static_cast<std::uint32_t>(*x);
  }
  error.clear();
  // Only sub-leaf 0 is ever asked for; the other sub-leaves of a listing are
  // accepted and left out.
  v.Number = static_cast<std::uint32_t>(*leaf);
  v.Keep = *sub == 0;
  return true;
}

}  // namespace torv::lines
