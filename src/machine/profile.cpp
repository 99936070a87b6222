// The profile text of a simulated machine: one setting a line, '#' starts a
// comment. Published CPUID dumps are read as they stand: every line is a
// setting, a CPUID or MSR line, a processor header, or a dump's own text,
// which is ignored (see IsDumpText).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/hw.h"
#include "machine/sim.h"
#include "report/utility.h"

namespace torv {

SimProcessor::SimProcessor() {
  for (std::uint32_t r : {kMsrPowerOn, kMsr1E0, kMsrBblCtl3, kMsrMtrrCap, kMsrBblAddr, kMsrBblDecc,
                          kMsrBblCtl, kMsrBblTrig, kMsrBblBusy}) {
    Msr[r] = 0;
  }
  for (std::uint32_t r = 0; r < 4; ++r) Msr[kMsrBblD0 + r] = 0;
  for (std::uint32_t r = 0; r < 16; ++r) Msr[kMsrMtrrBase0 + r] = 0;
  Msr[kMsrMtrrCap] = 0x508;  // eight variable ranges, fixed ranges, write combining
}

const std::array<std::uint32_t, 4>* SimProcessor::FindCpuid(std::uint32_t leaf) const {
  if (const auto it = Cpuid.find(leaf); it != Cpuid.end()) return &it->second;
  if (Shared) {
    if (const auto it = Shared->Cpuid.find(leaf); it != Shared->Cpuid.end()) return &it->second;
  }
  return nullptr;
}

const std::uint64_t* SimProcessor::FindMsr(std::uint32_t reg) const {
  if (const auto it = Msr.find(reg); it != Msr.end()) return &it->second;
  if (Shared) {
    if (const auto it = Shared->Msr.find(reg); it != Shared->Msr.end()) return &it->second;
  }
  return nullptr;
}

SimCpuidTable SimProcessor::AllCpuid() const {
  SimCpuidTable all = Cpuid;
  if (Shared) all.insert(Shared->Cpuid.begin(), Shared->Cpuid.end());  // own values stay
  return all;
}

SimMsrTable SimProcessor::AllMsr() const {
  SimMsrTable all = Msr;
  if (Shared) all.insert(Shared->Msr.begin(), Shared->Msr.end());
  return all;
}

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view p) {
  return s.substr(0, p.size()) == p;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Exactly 1 to maxDigits hexadecimal digits.
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

// A byte written as "C3", "0xC3" or "C3h".
std::optional<std::uint8_t> HexByte(std::string_view s) {
  if (StartsWith(s, "0x") || StartsWith(s, "0X")) {
    s.remove_prefix(2);
  } else if (!s.empty() && (s.back() == 'h' || s.back() == 'H')) {
    s.remove_suffix(1);
  }
  const auto v = Hex(s, 2);
  if (!v) return std::nullopt;
  return static_cast<std::uint8_t>(*v);
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

// Splits at `sep`; false unless there are exactly `n` parts.
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

// Quoted text of a line for an error message: printable, and short.
std::string Quote(std::string_view s) {
  std::string q;
  for (char c : s.substr(0, 40)) q += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  if (s.size() > 40) q += "...";
  return "'" + q + "'";
}

bool IsHexDigits(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

// The number at the start of `s` ("12 Virtual" gives 12).
std::optional<std::uint64_t> LeadingNumber(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && IsDigit(s[n])) ++n;
  return Decimal(s.substr(0, n), 1'000'000'000);
}

// A '#' starts a comment, except where a dump writes it as part of a
// processor number ("CPU #1", "CPU#000", "Logical CPU #0") or inside a
// bracketed note ("[Hv#1]").
std::string_view WithoutComment(std::string_view line) {
  int depth = 0;
  // A '#' is inside a note when a ']' still follows it: the last ']' of the
  // line, found once, so that a long line is read in one pass.
  const std::size_t lastClose = line.rfind(']');
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth > 0) --depth;
    } else if (c == '#') {
      const std::string_view before = line.substr(0, i);
      const bool number = (before.ends_with("CPU") || before.ends_with("CPU ")) &&
                          i + 1 < line.size() && IsDigit(line[i + 1]);
      const bool inNote = depth > 0 && lastClose != std::string_view::npos && lastClose > i;
      if (!number && !inNote) return line.substr(0, i);
    }
  }
  return line;
}

// "CPUID 00000001..." and "MSR 0000002A...": the keyword is followed by a
// register number, where a header line has a word ("CPUID CPU Name : ...").
bool NumberFollows(std::string_view rest) {
  return IsHexDigits(rest.substr(0, rest.find_first_of(": \t")));
}

// The section header of an EVEREST or AIDA dump, "------[ CPU Info ]------":
// the text between the brackets, or nothing when the line is none.
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

// "... CPU #k..." at the end of `text`: k, or nothing when `text` does not
// end in a processor number.
std::optional<std::uint64_t> CpuNumberAfter(std::string_view text, std::string_view mark) {
  const auto at = text.find(mark);
  if (at == std::string_view::npos) return std::nullopt;
  return LeadingNumber(text.substr(at + mark.size()));
}

// The processor headers of the published dump forms:
//   "------[ Logical CPU #0 ]------", "------[ CPUID Registers / Logical CPU #0 ]------"
//     and "------[ MSR Registers / Logical CPU #0 ]------" (EVEREST, AIDA64),
//   "------[ MSR Registers ]------" (registers of every processor),
//   "CPUID Registers (CPU #1):", "MSR Registers (CPU #1):", "MSR Registers:" (AIDA),
//   "CPU#000 AffMask: 0x..." (AIDA64),
//   "CPU 0:" and "CPU:" (the raw listing of cpuid -r),
//   "_________________ Logical CPU #0 _________________" (libcpuid's raw save).
std::optional<ProcessorHeader> FindProcessorHeader(std::string_view line) {
  if (const auto section = DumpSection(line)) {
    if (*section == "MSR Registers") return ProcessorHeader{HeaderKind::AllMsrs, std::nullopt};
    const auto number = CpuNumberAfter(*section, "Logical CPU #");
    if (!number) return std::nullopt;
    if (section->find_first_not_of("0123456789", section->find("Logical CPU #") + 13) !=
        std::string_view::npos) {
      return std::nullopt;  // "Logical CPU # Multiplier,36.0x": a note, not a processor
    }
    return ProcessorHeader{
        StartsWith(*section, "MSR Registers") ? HeaderKind::ProcessorMsrs : HeaderKind::NextProcessor,
        number};
  }
  if (line == "MSR Registers:") return ProcessorHeader{HeaderKind::AllMsrs, std::nullopt};
  for (const auto& [start, kind] : {std::pair{std::string_view("CPUID Registers (CPU #"),
                                              HeaderKind::NextProcessor},
                                    std::pair{std::string_view("MSR Registers (CPU #"),
                                              HeaderKind::ProcessorMsrs}}) {
    if (StartsWith(line, start) && line.ends_with("):")) {
      const auto number = LeadingNumber(line.substr(start.size()));
      if (number) return ProcessorHeader{kind, number};
    }
  }
  if (StartsWith(line, "CPU#") && line.find(" AffMask:") != std::string_view::npos) {
    const auto number = LeadingNumber(line.substr(4));
    if (number) return ProcessorHeader{HeaderKind::NextProcessor, number};
  }
  if (line == "CPU:") return ProcessorHeader{HeaderKind::NextProcessor, std::nullopt};
  if (StartsWith(line, "CPU ") && line.ends_with(':') &&
      IsDigits(line.substr(4, line.size() - 5))) {
    return ProcessorHeader{HeaderKind::NextProcessor, LeadingNumber(line.substr(4))};
  }
  const auto first = line.find_first_not_of('_');
  if (line.front() == '_' && line.back() == '_' && first != std::string_view::npos) {
    const auto last = line.find_last_not_of('_');
    const std::string_view inner = Trim(line.substr(first, last - first + 1));
    if (StartsWith(inner, "Logical CPU #") && IsDigits(inner.substr(13))) {
      return ProcessorHeader{HeaderKind::NextProcessor, LeadingNumber(inner.substr(13))};
    }
  }
  return std::nullopt;
}

// libcpuid's raw save: "basic_cpuid[0]=00000001 68747541 444d4163 69746e65"
// (leaf i), "ext_cpuid[1]=..." (leaf 80000000h + i); its other arrays
// ("intel_fn4[0]=...") hold sub-leaves and are not used. The array's name,
// or nothing when the line is none.
std::optional<std::string_view> LibcpuidArray(std::string_view line) {
  const auto open = line.find('[');
  if (open == 0 || open == std::string_view::npos) return std::nullopt;
  const std::string_view name = line.substr(0, open);
  if (!std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || IsDigit(c) || c == '_';
      })) {
    return std::nullopt;
  }
  const auto close = line.find(']', open);
  if (close == std::string_view::npos || !IsDigits(line.substr(open + 1, close - open - 1)) ||
      !StartsWith(Trim(line.substr(close + 1)), "=")) {
    return std::nullopt;
  }
  return name;
}

// CPUID and MSR lines in every form a published dump writes them.
bool IsRegisterLine(std::string_view line) {
  if (StartsWith(line, "CPUID ")) return NumberFollows(line.substr(6));
  if (StartsWith(line, "MSR ")) return NumberFollows(line.substr(4));
  if (StartsWith(line, "0x") || StartsWith(line, "0X")) return true;
  return LibcpuidArray(line).has_value();
}

// A performance counter below this frequency counts one of the PC's timers
// (1.19 MHz, 3.58 MHz, 7.16 MHz, 14.3 MHz), not the processor's clock: the
// time-stamp counter of the slowest Pentium runs at 60 MHz.
constexpr std::uint64_t kLowestCounterClockHz = 50'000'000;

// The clock in the text of a dump's "CPU Type" line, "2x Intel Pentium IIIE,
// 733 MHz (5.5 x 133)": the number before "MHz", in Hz; 0 when there is none.
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

// The settings' names; "l2reg" and "cyrix" take a register after the name.
constexpr std::string_view kSettingNames[] = {
    "name",   "processors", "clock",     "l2reg",    "l2ecc", "l2busy", "l2delay",
    "cyrix",  "cpuid",      "cpuidfail", "divflags", "pic",   "msraccess",
};
bool TakesRegister(std::string_view name) {
  return name == "l2reg" || name == "cyrix";
}

// A setting's name in any case: "Clock = ..." is a mistyped setting, not a
// dump's header line.
bool IsSettingName(std::string_view key) {
  std::string lower;
  for (char c : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view k : kSettingNames) {
    if (!TakesRegister(k)) {
      if (lower == k) return true;
      continue;
    }
    // "l2reg 2", "cyrix C3"; "Cyrix CPU Revision" is a dump's header.
    const std::string prefix = std::string(k) + " ";
    if (StartsWith(lower, prefix) &&
        Trim(lower.substr(prefix.size())).find(' ') == std::string::npos) {
      return true;
    }
  }
  return false;
}

// The processor a line applies to: 0 and up a processor of the profile, or
// one of these.
constexpr int kEveryProcessor = -1;  // the settings before the first section
constexpr int kLeftOut = -2;         // a processor of a dump beyond the ones kept

// What one line was, for telling a profile that sets something from one that
// holds only comments or a dump's text.
enum class LineKind { Setting, Register, Fact, Header, Text };

class Parser {
 public:
  Parser(std::string_view source, SimProfile& out, std::string& error)
      : source_(source), out_(out), error_(error) {}

  bool Run(std::string_view text) {
    // The register set every processor starts with is shared, not copied.
    shared_->Msr.swap(template_.Msr);
    SetCurrent(kEveryProcessor);
    std::size_t pos = 0;
    for (;;) {
      ++lineNo_;
      const auto nl = text.find('\n', pos);
      const std::string_view line = Trim(WithoutComment(
          text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos)));
      if (!line.empty()) {
        LineKind kind = LineKind::Text;
        if (!Line(line, kind)) return false;
        Count(kind);
      }
      if (nl == std::string_view::npos) break;
      pos = nl + 1;
    }
    MakeProcessors(static_cast<std::size_t>(count_));
    for (SimProcessor& p : out_.Processors) p.Shared = shared_;
    DumpDefaults();
    if (dumpProcessors_ > static_cast<std::size_t>(kSimMaxProcessors)) {
      std::string note(source_);
      note.append(": the dump lists ")
          .append(std::to_string(dumpProcessors_))
          .append(" processors; the first ")
          .append(std::to_string(kSimMaxProcessors))
          .append(" are simulated");
      out_.Note = note;
    }
    return true;
  }

  // Lines that set something (not blank, not a comment, not a dump's text);
  // a dump that names its processors but lists none of their registers sets
  // nothing.
  int Settings() const { return processorHeaders_ && ownLines_ == 0 ? 0 : settings_; }

 private:
  void Count(LineKind kind) {
    switch (kind) {
      case LineKind::Setting:
      case LineKind::Register:
        ++settings_;
        ++ownLines_;
        break;
      case LineKind::Fact:
        ++settings_;
        break;
      case LineKind::Header:
        processorHeaders_ = true;
        break;
      case LineKind::Text:
        break;
    }
  }

  bool Fail(const std::string& what) {
    error_ = std::string(source_) + ":" + std::to_string(lineNo_) + ": " + what;
    return false;
  }

  bool Line(std::string_view line, LineKind& kind) {
    if (line.front() == '[') {
      kind = LineKind::Setting;
      return Section(line);
    }
    if (const auto header = FindProcessorHeader(line)) {
      kind = LineKind::Header;
      return Header(*header);
    }
    if (DumpSection(line)) {
      // Another section of a dump: its lines are the dump's text.
      allProcessors_ = false;
      return true;
    }
    if (IsRegisterLine(line)) {
      kind = LineKind::Register;
      return RegisterLine(line);
    }
    if (!allProcessors_) return Other(line, kind);
    // Every processor, and the settings that later processors start from.
    const int current = currentIndex_;
    bool ok = true;
    for (int i = kEveryProcessor; ok && i < static_cast<int>(out_.Processors.size()); ++i) {
      SetCurrent(i);
      ok = Other(line, kind);
    }
    SetCurrent(current);
    return ok;
  }

  // A line that is neither a section, a processor header nor a register
  // line: a setting, a dump's header line with a fact, or a dump's text.
  bool Other(std::string_view line, LineKind& kind) {
    const auto eq = line.find('=');
    const auto colon = line.find(':');
    if (eq != std::string_view::npos && (colon == std::string_view::npos || eq < colon)) {
      const std::string_view key = Trim(line.substr(0, eq));
      const std::string_view value = Trim(line.substr(eq + 1));
      // libcpuid's raw save opens with its version.
      if (key == "version") return true;
      // The settings are in lower case; "Name = value" lines of a dump
      // ("PerformanceFrequency = 333040000") have capitalised names.
      if (key.empty() || IsSettingName(key) ||
          std::islower(static_cast<unsigned char>(key.front()))) {
        kind = LineKind::Setting;
        return Setting(key, value);
      }
      return DumpHeader(key, value, kind);
    }
    if (colon != std::string_view::npos && std::isalpha(static_cast<unsigned char>(line.front()))) {
      const std::string_view name = Trim(line.substr(0, colon));
      // "clock: 450000000" is a setting written wrongly, not a header line.
      if (IsSettingName(name)) return Fail("unrecognised line " + Quote(line));
      return DumpHeader(name, Trim(line.substr(colon + 1)), kind);
    }
    // A line in lower case is meant as a setting; a dump writes its other
    // text (tables, notes, "< FAILED >") in any other way.
    if (std::islower(static_cast<unsigned char>(line.front()))) {
      return Fail("unrecognised line " + Quote(line));
    }
    return true;
  }

  // Processor 1 (index 0) to n, the settings before the first section, or a
  // processor left out.
  void SetCurrent(int index) {
    currentIndex_ = index;
    current_ = index == kEveryProcessor ? &template_
               : index == kLeftOut      ? &leftOut_
                                        : &out_.Processors[static_cast<std::size_t>(index)];
  }

  // Processors 1 to n exist from here on; new ones start as copies of the
  // settings before the first section.
  void MakeProcessors(std::size_t n) {
    if (!inSections_) {
      out_.Processors.clear();
      eccGiven_.clear();
      inSections_ = true;
    }
    if (out_.Processors.size() < n) {
      out_.Processors.resize(n, template_);
      eccGiven_.resize(n, templateEccGiven_ ? 1 : 0);
    }
    count_ = static_cast<int>(out_.Processors.size());
    if (currentIndex_ >= 0) SetCurrent(currentIndex_);  // the vector may have moved
  }

  // A dump's processor header. The k-th header that starts a processor is
  // processor k, whether the dump counts from 0 or from 1; the dump's own
  // number finds it again for a later register section of that processor.
  bool Header(const ProcessorHeader& h) {
    allProcessors_ = false;
    switch (h.Kind) {
      case HeaderKind::AllMsrs:
        allProcessors_ = true;
        if (currentIndex_ == kLeftOut) SetCurrent(kEveryProcessor);
        return true;
      case HeaderKind::ProcessorMsrs: {
        const auto it = h.Number ? numbers_.find(*h.Number) : numbers_.end();
        SetCurrent(it == numbers_.end() ? kLeftOut : it->second);
        return true;
      }
      case HeaderKind::NextProcessor:
        break;
    }
    const std::size_t n = ++dumpProcessors_;
    if (n > static_cast<std::size_t>(kSimMaxProcessors)) {
      SetCurrent(kLeftOut);
      return true;
    }
    MakeProcessors(std::max(n, static_cast<std::size_t>(count_)));
    SetCurrent(static_cast<int>(n - 1));
    if (h.Number) numbers_.emplace(*h.Number, static_cast<int>(n - 1));
    return true;
  }

  // A dump's "Name : value" or "Name = value" header line. Three of them
  // carry facts of the machine: its clock, twice, and the Cyrix device
  // identification registers; the rest are left alone.
  bool DumpHeader(std::string_view name, std::string_view value, LineKind& kind) {
    if (name == "PerformanceFrequency") {
      const auto hz = Decimal(value, kSimMaxClockHz);
      if (!hz) return Fail("bad value " + Quote(value) + " for 'PerformanceFrequency' (want Hz)");
      counterHz_ = *hz;
    } else if (name == "CPU Type") {
      typeHz_ = MhzInText(value);
    } else if (name == "Cyrix CPU Revision") {
      std::string_view digits = value;
      if (!digits.empty() && (digits.back() == 'h' || digits.back() == 'H')) {
        digits.remove_suffix(1);
      }
      const auto v = digits.size() == 4 ? Hex(digits, 4) : std::nullopt;
      if (!v) return Fail("bad value " + Quote(value) + " for 'Cyrix CPU Revision' (want XXYYh)");
      cyrixRevision_ = static_cast<std::uint16_t>(*v);
    } else {
      return true;
    }
    kind = LineKind::Fact;
    return true;
  }

  // What a dump says, for what the profile's own lines leave open: the clock,
  // the ECC bits of the cache, DIR0 and DIR1.
  void DumpDefaults() {
    const std::uint64_t dumpHz = counterHz_ >= kLowestCounterClockHz ? counterHz_ : typeHz_;
    for (std::size_t i = 0; i < out_.Processors.size(); ++i) {
      SimProcessor& p = out_.Processors[i];
      if (p.ClockHz == 0) p.ClockHz = dumpHz;
      if (eccGiven_[i] == 0) {
        // Cache SRAMs with ECC bits go with ECC checking on in BBL_CR_CTL3.
        const std::uint64_t* ctl3 = p.FindMsr(kMsrBblCtl3);
        p.L2Ecc = ctl3 != nullptr && (*ctl3 & 0x20) != 0;
      }
    }
    if (cyrixRevision_) {
      out_.CyrixBank = true;
      if (!dir0Given_) out_.CyrixRegs[0xFE] = static_cast<std::uint8_t>(*cyrixRevision_ >> 8);
      if (!dir1Given_) out_.CyrixRegs[0xFF] = static_cast<std::uint8_t>(*cyrixRevision_ & 0xFF);
    }
  }

  bool Section(std::string_view line) {
    if (line.back() != ']') return Fail("unrecognised line " + Quote(line));
    const std::string_view inner = Trim(line.substr(1, line.size() - 2));
    if (!StartsWith(inner, "processor ")) return Fail("unknown section " + Quote(line));
    const auto n = Decimal(Trim(inner.substr(10)), 1000);
    if (!n || *n < 1) return Fail("bad processor number in " + Quote(line));
    if (*n > static_cast<std::uint64_t>(count_)) {
      return Fail("no processor " + std::to_string(*n) +
                  " (processors = " + std::to_string(count_) + ")");
    }
    // The settings so far are processor 1's and the template of the rest.
    MakeProcessors(static_cast<std::size_t>(count_));
    SetCurrent(static_cast<int>(*n - 1));
    allProcessors_ = false;
    return true;
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
  static std::optional<RegisterParts> SplitRegisterLine(std::string_view rest) {
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
  static bool OtherSubLeaf(std::string_view notes) {
    const auto at = notes.find("[SL ");
    if (at == std::string_view::npos) return false;
    const std::string_view rest = notes.substr(at + 4);
    const auto sub = Hex(Trim(rest.substr(0, rest.find(']'))), 8);
    return !sub || *sub != 0;
  }

  // A value that the dump's tool could not read, "< FAILED >": the line
  // gives nothing.
  static bool Unread(std::string_view values) {
    return !values.empty() && values.front() == '<' && values.back() == '>';
  }

  bool RegisterLine(std::string_view line) {
    if (StartsWith(line, "CPUID ")) return CpuidLine(line.substr(6));
    if (StartsWith(line, "MSR ")) return MsrLine(line.substr(4));
    if (StartsWith(line, "0x") || StartsWith(line, "0X")) return RawCpuidLine(line);
    return LibcpuidLine(line);
  }

  // Where a line's leaf or register goes: the shared tables (before the
  // first section, or in a register section for every processor), the
  // current processor's own, or nowhere for a processor left out.
  template <typename Table>
  void Store(Table SimSharedTables::*shared, Table SimProcessor::*own, std::uint32_t key,
             const typename Table::mapped_type& value) {
    if (currentIndex_ == kLeftOut) return;
    if (currentIndex_ == kEveryProcessor || allProcessors_) {
      ((*shared_).*shared)[key] = value;
      for (SimProcessor& p : out_.Processors) (p.*own).erase(key);
    } else {
      ((*current_).*own)[key] = value;
    }
  }
  void StoreCpuid(std::uint32_t leaf, const std::array<std::uint32_t, 4>& regs) {
    Store(&SimSharedTables::Cpuid, &SimProcessor::Cpuid, leaf, regs);
  }
  void StoreMsr(std::uint32_t reg, std::uint64_t value) {
    Store(&SimSharedTables::Msr, &SimProcessor::Msr, reg, value);
  }

  // "CPUID 00000001: 00000652-00000000-00000000-0183FBFF" (EAX-EBX-ECX-EDX)
  // in any of its published forms: without the colon ("CPUID 00000001
  // 00000652-..."), blanks or a tab between, and with blank-separated values
  // ("CPUID 00000001 : 00000652 00000000 00000000 0183FBFF").
  bool CpuidLine(std::string_view rest) {
    const auto parts = SplitRegisterLine(rest);
    std::array<std::string_view, 4> words;
    if (parts && Unread(parts->Values)) return true;
    if (!parts || (!Split(parts->Values, '-', words) && !SplitWords(parts->Values, words))) {
      return Fail("malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)");
    }
    std::array<std::uint32_t, 4> regs{};
    for (std::size_t i = 0; i < 4; ++i) {
      const auto v = Hex(Trim(words[i]), 8);
      if (!v) return Fail("bad CPUID value " + Quote(Trim(words[i])));
      regs[i] = static_cast<std::uint32_t>(*v);
    }
    if (!OtherSubLeaf(parts->Notes)) StoreCpuid(static_cast<std::uint32_t>(parts->Number), regs);
    return true;
  }

  // "0x00000001 0x00: eax=0x00000652 ebx=0x00000000 ecx=0x00000000 edx=0x0183fbff".
  bool RawCpuidLine(std::string_view line) {
    const char* form =
        "malformed CPUID line (want 0xLEAF 0xSUB: eax=0x... ebx=0x... ecx=0x... edx=0x...)";
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return Fail(form);
    std::array<std::string_view, 2> head;
    if (!SplitWords(line.substr(0, colon), head)) return Fail(form);
    const auto hex32 = [](std::string_view s) -> std::optional<std::uint64_t> {
      if (!StartsWith(s, "0x") && !StartsWith(s, "0X")) return std::nullopt;
      return Hex(s.substr(2), 8);
    };
    const auto leaf = hex32(head[0]);
    const auto sub = hex32(head[1]);
    if (!leaf || !sub) return Fail(form);
    std::string_view rest = line.substr(colon + 1);
    rest = Trim(rest.substr(0, rest.find('[')));
    std::array<std::string_view, 4> words;
    if (!SplitWords(rest, words)) return Fail(form);
    std::array<std::uint32_t, 4> regs{};
    static constexpr std::string_view kNames[4] = {"eax=", "ebx=", "ecx=", "edx="};
    for (std::size_t i = 0; i < 4; ++i) {
      if (!StartsWith(words[i], kNames[i])) return Fail(form);
      const auto v = hex32(words[i].substr(4));
      if (!v) return Fail(form);
      regs[i] = static_cast<std::uint32_t>(*v);
    }
    // Only sub-leaf 0 is ever asked for; the other sub-leaves of a listing
    // are accepted and left out.
    if (*sub == 0) StoreCpuid(static_cast<std::uint32_t>(*leaf), regs);
    return true;
  }

  // "basic_cpuid[1]=00000652 00000000 00000000 0183fbff" (EAX EBX ECX EDX).
  bool LibcpuidLine(std::string_view line) {
    const std::string_view name = *LibcpuidArray(line);
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
      return Fail("malformed CPUID line (want " + std::string(name) + "[i]=EAX EBX ECX EDX)");
    }
    std::array<std::uint32_t, 4> regs{};
    for (std::size_t i = 0; i < 4; ++i) {
      const auto v = Hex(words[i], 8);
      if (!v) return Fail("bad CPUID value " + Quote(words[i]));
      regs[i] = static_cast<std::uint32_t>(*v);
    }
    StoreCpuid(base + static_cast<std::uint32_t>(*index), regs);
    return true;
  }

  // "MSR 0000002A: 0000-0000-C410-0000", the value high to low, also
  // without the colon.
  bool MsrLine(std::string_view rest) {
    const auto parts = SplitRegisterLine(rest);
    if (parts && Unread(parts->Values)) return true;
    std::array<std::string_view, 4> groups;
    if (!parts || !Split(parts->Values, '-', groups)) {
      return Fail("malformed MSR line (want MSR rrrrrrrr: hhhh-hhhh-llll-llll)");
    }
    std::uint64_t value = 0;
    for (std::string_view g : groups) {
      const auto v = Hex(Trim(g), 4);
      if (!v) return Fail("bad MSR value " + Quote(Trim(g)));
      value = value << 16 | *v;
    }
    StoreMsr(static_cast<std::uint32_t>(parts->Number), value);
    return true;
  }

  template <typename T>
  bool Choice(std::string_view key, std::string_view value, std::string_view a, T va,
              std::string_view b, T vb, T& out) {
    if (value == a) {
      out = va;
    } else if (value == b) {
      out = vb;
    } else {
      return Fail("bad value " + Quote(value) + " for '" + std::string(key) + "' (want " +
                  std::string(a) + " or " + std::string(b) + ")");
    }
    return true;
  }

  bool Setting(std::string_view key, std::string_view value) {
    SimProcessor& p = *current_;
    if (key == "name") {
      out_.Description = std::string(value.substr(0, 200));
      return true;
    }
    if (key == "processors") {
      if (inSections_) return Fail("'processors' belongs before the first [processor] section");
      const auto n = Decimal(value, 1000);
      if (!n || *n < 1 || *n > kSimMaxProcessors) {
        return Fail("bad value " + Quote(value) + " for 'processors' (want 1 to 16)");
      }
      count_ = static_cast<int>(*n);
      return true;
    }
    if (key == "clock") {
      const auto hz = Decimal(value, kSimMaxClockHz);
      if (!hz) return Fail("bad value " + Quote(value) + " for 'clock' (want Hz, at most 50 GHz)");
      p.ClockHz = *hz;
      return true;
    }
    if (StartsWith(key, "l2reg ")) {
      const auto r = Decimal(Trim(key.substr(6)), 1000);
      if (!r || *r > 8)
        return Fail("bad cache register number in " + Quote(key) + " (want 0 to 8)");
      const auto v = HexByte(value);
      if (!v)
        return Fail("bad value " + Quote(value) + " for '" + std::string(key) +
                    "' (want a hex byte)");
      p.L2Reg[static_cast<std::size_t>(*r)] = *v;
      return true;
    }
    if (StartsWith(key, "cyrix ")) {
      const auto index = HexByte(Trim(key.substr(6)));
      if (!index) return Fail("bad register index in " + Quote(key) + " (want a hex byte)");
      const auto v = HexByte(value);
      if (!v)
        return Fail("bad value " + Quote(value) + " for '" + std::string(key) +
                    "' (want a hex byte)");
      out_.CyrixBank = true;
      out_.CyrixRegs[*index] = *v;
      if (*index == 0xFE) dir0Given_ = true;
      if (*index == 0xFF) dir1Given_ = true;
      return true;
    }
    if (key == "l2ecc") {
      if (currentIndex_ == kEveryProcessor) {
        templateEccGiven_ = true;
      } else if (currentIndex_ >= 0) {
        eccGiven_[static_cast<std::size_t>(currentIndex_)] = 1;
      }
      return Choice(key, value, "yes", true, "no", false, p.L2Ecc);
    }
    if (key == "l2busy") return Choice(key, value, "normal", false, "stuck", true, p.L2BusyStuck);
    if (key == "l2delay") {
      const auto ms = Decimal(value, kSimMaxL2DelayMs);
      if (!ms) {
        return Fail("bad value " + Quote(value) + " for 'l2delay' (want milliseconds, at most " +
                    std::to_string(kSimMaxL2DelayMs) + ")");
      }
      p.L2DelayMs = static_cast<std::uint32_t>(*ms);
      return true;
    }
    if (key == "divflags") {
      return Choice(key, value, "unchanged", true, "changed", false, p.DivFlagsUnchanged);
    }
    if (key == "pic")
      return Choice(key, value, "normal", false, "mirrored", true, out_.PicMirrored);
    if (key == "msraccess") {
      // readonly: the msr device of a kernel that allows no register writes.
      if (value != "allowed" && value != "denied" && value != "readonly") {
        return Fail("bad value " + Quote(value) +
                    " for 'msraccess' (want allowed, denied or readonly)");
      }
      p.MsrDenied = value == "denied";
      p.MsrReadOnly = value == "readonly";
      return true;
    }
    if (key == "cpuid") {
      if (value == "on") {
        p.CpuidMode = SimCpuidMode::On;
      } else if (value == "off") {
        p.CpuidMode = SimCpuidMode::Off;
      } else if (value == "cyrix") {
        p.CpuidMode = SimCpuidMode::Cyrix;
        out_.CyrixBank = true;
      } else {
        return Fail("bad value " + Quote(value) + " for 'cpuid' (want on, off or cyrix)");
      }
      return true;
    }
    if (key == "cpuidfail") {
      const auto n = Decimal(value, 0xFFFFFFFFu);
      if (!n || *n < 1) {
        return Fail("bad value " + Quote(value) +
                    " for 'cpuidfail' (want a request number from 1)");
      }
      p.CpuidFailsAt = static_cast<std::uint32_t>(*n);
      return true;
    }
    return Fail("unknown setting " + Quote(key));
  }

  std::string_view source_;
  SimProfile& out_;
  std::string& error_;
  SimProcessor template_;
  SimProcessor leftOut_;  // takes the settings of a processor left out
  std::shared_ptr<SimSharedTables> shared_ = std::make_shared<SimSharedTables>();
  SimProcessor* current_ = nullptr;
  int currentIndex_ = kEveryProcessor;
  int count_ = 1;
  bool inSections_ = false;
  int lineNo_ = 0;
  int settings_ = 0;
  int ownLines_ = 0;               // settings other than a dump's header lines
  bool processorHeaders_ = false;  // a dump's processor header was read
  // What a published dump adds.
  bool allProcessors_ = false;  // in its register section for every processor
  std::size_t dumpProcessors_ = 0;
  std::map<std::uint64_t, int> numbers_;  // the dump's processor numbers, by index
  std::uint64_t counterHz_ = 0;           // "PerformanceFrequency"
  std::uint64_t typeHz_ = 0;              // the MHz of "CPU Type"
  std::optional<std::uint16_t> cyrixRevision_;
  bool dir0Given_ = false, dir1Given_ = false;
  // Which processors have an "l2ecc" line.
  bool templateEccGiven_ = false;
  std::vector<char> eccGiven_;
};

}  // namespace

std::span<const std::string_view> ProfileSettingNames() {
  return kSettingNames;
}

bool ParseProfile(std::string_view text, std::string_view source, SimProfile& out,
                  std::string& error) {
  error.clear();
  // A UTF-8 byte-order mark, as some editors write one, is not part of the
  // first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  SimProfile parsed;
  Parser parser(source, parsed, error);
  if (!parser.Run(text)) return false;
  if (parser.Settings() == 0) {
    error = std::string(source) +
            ": no settings: the profile is empty or holds only comments (torvacin /SIM=? lists "
            "the catalogue)";
    return false;
  }
  parsed.Name = std::string(source);
  if (parsed.Description.empty()) parsed.Description = parsed.Name;
  out = std::move(parsed);
  return true;
}

}  // namespace torv
