// InstLatx64's CPUID dumps and the reports of EVEREST, AIDA and AIDA64, read
// line by line with the profile's own settings:
//   "CPUID 00000001: 00000652-00000000-00000000-0183FBFF" (EAX-EBX-ECX-EDX),
//   also without the colon, with blanks or a tab between and with
//   blank-separated values; notes in brackets after the values ("[SL 01]"
//   marks a sub-leaf); "MSR 0000002A: 0000-0000-C410-0000" (high to low);
//   "< FAILED >" for a value the tool could not read;
//   the processor headers "------[ Logical CPU #0 ]------",
//   "------[ CPUID Registers / Logical CPU #0 ]------",
//   "------[ MSR Registers / Logical CPU #0 ]------", "------[ MSR Registers ]------"
//   (EVEREST, AIDA64), "CPUID Registers (CPU #1):", "MSR Registers (CPU #1):",
//   "MSR Registers:" (AIDA) and "CPU#000 AffMask: 0x..." (AIDA64's CPUID dump).
#include <utility>

#include "machine/line_layouts.h"
#include "machine/sim.h"

namespace torv::lines {

namespace {

// "... CPU #k..." in `text`: k, or nothing when `text` has no processor
// number after `mark`.
std::optional<std::uint64_t> CpuNumberAfter(std::string_view text, std::string_view mark) {
  const auto at = text.find(mark);
  if (at == std::string_view::npos) return std::nullopt;
  return LeadingNumber(text.substr(at + mark.size()));
}

// The parts of a CPUID or MSR line after its keyword:
// "00000004: 04000121-01C0003F-0000003F-00000001 [SL 00] [L1D: 32 KB]" --
// the number, a colon or blanks, the values, and the notes from the first
// '[' on.
struct RegisterParts {
  std::uint64_t Number = 0;
  std::string_view Values;
  std::string_view Notes;
};
std::optional<RegisterParts> SplitRegisterLine(std::string_view rest) {
  const auto end = rest.find_first_of(": \t");
  if (end == std::string_view::npos) return std::nullopt;
  const auto number = Hex(rest.substr(0, end), 8);
  if (!number) return std::nullopt;
  rest = Trim(rest.substr(end));
  if (!rest.empty() && rest.front() == ':') rest = Trim(rest.substr(1));
  const auto open = rest.find('[');
  RegisterParts parts;
  parts.Number = *number;
  parts.Values = Trim(rest.substr(0, open));
  parts.Notes = open == std::string_view::npos ? std::string_view() : rest.substr(open);
  return parts;
}

// An AIDA64 note "[SL 01]" marks a sub-leaf; only sub-leaf 0 is asked for.
bool OtherSubLeaf(std::string_view notes) {
  const auto at = notes.find("[SL ");
  if (at == std::string_view::npos) return false;
  const std::string_view rest = notes.substr(at + 4);
  const auto sub = Hex(Trim(rest.substr(0, rest.find(']'))), 8);
  return !sub || *sub != 0;
}

// A value that the dump's tool could not read, "< FAILED >": the line gives
// nothing.
bool Unread(std::string_view values) {
  return !values.empty() && values.front() == '<' && values.back() == '>';
}

}  // namespace

std::optional<std::string_view> DumpSection(std::string_view line) {
  const auto open = line.find('[');
  const auto close = line.rfind(']');
  if (open == 0 || open == std::string_view::npos || close == std::string_view::npos ||
      close < open) {
    return std::nullopt;
  }
  if (line.find_first_not_of('-') != open ||
      line.find_first_not_of('-', close + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  return Trim(line.substr(open + 1, close - open - 1));
}

std::optional<ProcessorHeader> AidaHeader(std::string_view line) {
  if (const auto section = DumpSection(line)) {
    if (*section == "MSR Registers") return ProcessorHeader{HeaderKind::AllMsrs, std::nullopt};
    const auto number = CpuNumberAfter(*section, "Logical CPU #");
    if (!number) return std::nullopt;
    if (section->find_first_not_of("0123456789", section->find("Logical CPU #") + 13) !=
        std::string_view::npos) {
      return std::nullopt;  // "Logical CPU # Multiplier,36.0x": a note, not a processor
    }
    return ProcessorHeader{StartsWith(*section, "MSR Registers") ? HeaderKind::ProcessorMsrs
                                                                 : HeaderKind::NextProcessor,
                           number};
  }
  if (line == "MSR Registers:") return ProcessorHeader{HeaderKind::AllMsrs, std::nullopt};
  for (const auto& [start, kind] :
       {std::pair{std::string_view("CPUID Registers (CPU #"), HeaderKind::NextProcessor},
        std::pair{std::string_view("MSR Registers (CPU #"), HeaderKind::ProcessorMsrs}}) {
    if (StartsWith(line, start) && line.ends_with("):")) {
      const auto number = LeadingNumber(line.substr(start.size()));
      if (number) return ProcessorHeader{kind, number};
    }
  }
  if (StartsWith(line, "CPU#") && line.find(" AffMask:") != std::string_view::npos) {
    const auto number = LeadingNumber(line.substr(4));
    if (number) return ProcessorHeader{HeaderKind::NextProcessor, number};
  }
  return std::nullopt;
}

bool NumberFollows(std::string_view rest) {
  return IsHexDigits(rest.substr(0, rest.find_first_of(": \t")));
}

bool ReadCpuidLine(std::string_view rest, RegisterValue& v, std::string& error) {
  const auto parts = SplitRegisterLine(rest);
  std::array<std::string_view, 4> words;
  v.Keep = false;
  if (parts && Unread(parts->Values)) return true;
  if (!parts || (!Split(parts->Values, '-', words) && !SplitWords(parts->Values, words))) {
    error = "malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)";
    return false;
  }
  for (std::size_t i = 0; i < 4; ++i) {
    const auto x = Hex(Trim(words[i]), 8);
    if (!x) {
      error = "bad CPUID value " + Quote(Trim(words[i]));
      return false;
    }
    v.Regs[i] = static_cast<std::uint32_t>(*x);
  }
  v.Number = static_cast<std::uint32_t>(parts->Number);
  v.Keep = !OtherSubLeaf(parts->Notes);
  return true;
}

bool ReadMsrLine(std::string_view rest, RegisterValue& v, std::string& error) {
  const auto parts = SplitRegisterLine(rest);
  v.Keep = false;
  if (parts && Unread(parts->Values)) return true;
  std::array<std::string_view, 4> groups;
  if (!parts || !Split(parts->Values, '-', groups)) {
    error = "malformed MSR line (want MSR rrrrrrrr: hhhh-hhhh-llll-llll)";
    return false;
  }
  std::uint64_t value = 0;
  for (std::string_view g : groups) {
    const auto x = Hex(Trim(g), 4);
    if (!x) {
      error = "bad MSR value " + Quote(Trim(g));
      return false;
    }
    value = value << 16 | *x;
  }
  v.Number = static_cast<std::uint32_t>(parts->Number);
  v.Msr = value;
  v.Keep = true;
  return true;
}

std::uint64_t MhzInText(std::string_view s) {
  const auto at = s.find("MHz");
  if (at == std::string_view::npos) return 0;
  std::string_view before = s.substr(0, at);
  while (!before.empty() && before.back() == ' ') before.remove_suffix(1);
  std::size_t start = before.size();
  while (start > 0 && (IsDigit(before[start - 1]) || before[start - 1] == '.')) --start;
  const std::string_view number = before.substr(start);
  const auto dot = number.find('.');
  const auto whole = Decimal(number.substr(0, dot), kSimMaxClockHz / 1'000'000);
  if (!whole) return 0;
  std::uint64_t hz = *whole * 1'000'000;
  if (dot != std::string_view::npos) {
    std::uint64_t scale = 100'000;
    for (char c : number.substr(dot + 1, 6)) {
      if (!IsDigit(c)) return 0;
      hz += static_cast<std::uint64_t>(c - '0') * scale;
      scale /= 10;
    }
  }
  return hz;
}

}  // namespace torv::lines
