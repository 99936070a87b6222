// The dump layouts read line by line together with the profile's own
// settings (profile.cpp): InstLatx64, EVEREST and AIDA64 (layout_aida.cpp),
// the raw listing of cpuid -r (layout_cpuid_r.cpp) and libcpuid's raw save
// (layout_libcpuid.cpp). Each gives its processor headers and reads its
// register lines; the profile reader keeps the processors and the values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "machine/dump_layout.h"

namespace torv::lines {

using dumptext::Quote;
using dumptext::StartsWith;
using dumptext::Trim;

// Exactly 1 to maxDigits hexadecimal digits.
std::optional<std::uint64_t> Hex(std::string_view s, std::size_t maxDigits);
// Decimal digits up to `max`.
std::optional<std::uint64_t> Decimal(std::string_view s, std::uint64_t max);
bool IsDigit(char c);
bool IsDigits(std::string_view s);
bool IsHexDigits(std::string_view s);
// The number at the start of `s` ("12 Virtual" gives 12).
std::optional<std::uint64_t> LeadingNumber(std::string_view s);

// Splits at `sep`; false unless there are exactly `N` parts.
template <std::size_t N>
bool Split(std::string_view s, char sep, std::array<std::string_view, N>& parts) {
  for (std::size_t i = 0; i < N; ++i) {
    const auto at = s.find(sep);
    if (i + 1 == N) {
      if (at != std::string_view::npos) return false;
      parts[i] = s;
    } else {
      if (at == std::string_view::npos) return false;
      parts[i] = s.substr(0, at);
      s.remove_prefix(at + 1);
    }
  }
  return true;
}

// Exactly N words separated by blanks or tabs.
template <std::size_t N>
bool SplitWords(std::string_view s, std::array<std::string_view, N>& parts) {
  s = Trim(s);
  for (std::size_t i = 0; i < N; ++i) {
    const auto gap = s.find_first_of(" \t");
    parts[i] = s.substr(0, gap);
    s = Trim(s.substr(gap == std::string_view::npos ? s.size() : gap));
    if (parts[i].empty()) return false;
  }
  return s.empty();
}

// What a header line of a dump says about processors.
enum class HeaderKind {
  NextProcessor,  // the next processor's part starts
  ProcessorMsrs,  // the registers of the processor with that number follow
  AllMsrs,        // registers for every processor follow
};
struct ProcessorHeader {
  HeaderKind Kind;
  std::optional<std::uint64_t> Number;  // the dump's own number of the processor
};

// What a register line gives: a CPUID leaf (sub-leaf 0) or an MSR value, or
// nothing to keep (another sub-leaf, a value the dump's tool could not read).
struct RegisterValue {
  bool Keep = false;
  std::uint32_t Number = 0;  // the leaf or the register
  std::array<std::uint32_t, 4> Regs{};
  std::uint64_t Msr = 0;
};

// InstLatx64, EVEREST, AIDA and AIDA64 (layout_aida.cpp).
// The section header "------[ CPU Info ]------": the text between the
// brackets, or nothing when the line is none.
std::optional<std::string_view> DumpSection(std::string_view line);
std::optional<ProcessorHeader> AidaHeader(std::string_view line);
// "CPUID 00000001..." and "MSR 0000002A...": whether a register number
// follows the keyword (a header line has a word: "CPUID CPU Name : ...").
bool NumberFollows(std::string_view rest);
// The line after "CPUID " and after "MSR "; false with `error` set.
bool ReadCpuidLine(std::string_view rest, RegisterValue& v, std::string& error);
bool ReadMsrLine(std::string_view rest, RegisterValue& v, std::string& error);
// The clock in a "CPU Type" line's text ("733 MHz (5.5 x 133)"), in Hz; 0
// when there is none.
std::uint64_t MhzInText(std::string_view s);

// cpuid -r (layout_cpuid_r.cpp): "CPU 0:" and "CPU:" headers, and
// "0x00000001 0x00: eax=0x00000652 ebx=... ecx=... edx=..." lines.
std::optional<ProcessorHeader> CpuidRHeader(std::string_view line);
bool IsCpuidRLine(std::string_view line);
bool ReadCpuidRLine(std::string_view line, RegisterValue& v, std::string& error);

// libcpuid's raw save (layout_libcpuid.cpp): "___ Logical CPU #0 ___"
// headers, "version=..." and "basic_cpuid[i]=EAX EBX ECX EDX" lines.
std::optional<ProcessorHeader> LibcpuidHeader(std::string_view line);
bool IsLibcpuidLine(std::string_view line);
bool ReadLibcpuidLine(std::string_view line, RegisterValue& v, std::string& error);

}  // namespace torv::lines
