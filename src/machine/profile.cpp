// The profile text of a simulated machine: one setting a line, '#' starts a
// comment. CPUID and register lines are taken in the forms that published
// dumps use, so that a dump file is a valid start of a profile.
#include <algorithm>
#include <cctype>
#include <cstdint>
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

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view p) {
  return s.substr(0, p.size()) == p;
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
    if (c < '0' || c > '9') return std::nullopt;
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

// The values of a dump line may be followed by a note in brackets.
std::string_view DropNote(std::string_view s) {
  s = Trim(s);
  if (!s.empty() && s.back() == ']') {
    const auto open = s.rfind('[');
    if (open != std::string_view::npos) s = Trim(s.substr(0, open));
  }
  return s;
}

// Quoted text of a line for an error message: printable, and short.
std::string Quote(std::string_view s) {
  std::string q;
  for (char c : s.substr(0, 40)) q += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  if (s.size() > 40) q += "...";
  return "'" + q + "'";
}

bool IsHexDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (HexDigitValue(c) < 0) return false;
  }
  return true;
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

// The two headers that open one processor's part of a dump:
// "------[ Logical CPU #0 ]------" and "CPUID Registers (CPU #1):".
bool IsDumpProcessor(std::string_view line) {
  const auto section = DumpSection(line);
  if (section) return StartsWith(*section, "Logical CPU #");
  return StartsWith(line, "CPUID Registers (CPU #") && line.back() == ':';
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
  while (start > 0 &&
         ((before[start - 1] >= '0' && before[start - 1] <= '9') || before[start - 1] == '.')) {
    --start;
  }
  const std::string_view number = before.substr(start);
  const auto dot = number.find('.');
  const auto whole = Decimal(number.substr(0, dot), kSimMaxClockHz / 1'000'000);
  if (!whole) return 0;
  std::uint64_t hz = *whole * 1'000'000;
  if (dot != std::string_view::npos) {
    std::uint64_t scale = 100'000;
    for (char c : number.substr(dot + 1, 6)) {
      if (c < '0' || c > '9') return 0;
      hz += static_cast<std::uint64_t>(c - '0') * scale;
      scale /= 10;
    }
  }
  return hz;
}

// A setting's name in any case: "Clock = ..." is a mistyped setting, not a
// dump's header line.
bool IsSettingName(std::string_view key) {
  std::string lower;
  for (char c : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view k : {"name", "processors", "clock", "l2ecc", "l2busy", "l2delay",
                             "divflags", "pic", "msraccess", "cpuid", "cpuidfail"}) {
    if (lower == k) return true;
  }
  // "l2reg 2", "cyrix C3"; "Cyrix CPU Revision" is a dump's header.
  for (std::string_view k : {"l2reg ", "cyrix "}) {
    if (StartsWith(lower, k) && Trim(lower.substr(k.size())).find(' ') == std::string::npos) {
      return true;
    }
  }
  return false;
}

// "Name = value" lines of a dump ("PerformanceFrequency = 333040000") have
// capitalised names; the profile's own settings are in lower case.
bool IsDumpName(std::string_view key) {
  return !key.empty() && std::isupper(static_cast<unsigned char>(key.front())) &&
         !IsSettingName(key);
}

// A processor header of a dump: "Logical CPU #n", "CPUID Registers (CPU #n):"
// or the "CPU n:" of a raw CPUID listing.
bool IsProcessorHeader(std::string_view line) {
  if (IsDumpProcessor(line)) return true;
  return StartsWith(line, "CPU ") && line.size() > 5 && line.back() == ':' &&
         std::all_of(line.begin() + 4, line.end() - 1,
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// A "Name : value" / "Name = value" header line of a dump (or a dump's
// section line).
bool IsNamedHeader(std::string_view line) {
  if (DumpSection(line)) return true;
  if (StartsWith(line, "CPUID ") && NumberFollows(line.substr(6))) return false;
  if (StartsWith(line, "MSR ") && NumberFollows(line.substr(4))) return false;
  if (StartsWith(line, "0x") || StartsWith(line, "0X")) return false;
  const auto end = std::min(line.find('='), line.find(':'));
  if (end == std::string_view::npos) return false;
  return IsDumpName(Trim(line.substr(0, end)));
}

// The header lines that carry the clock or the Cyrix revision.
bool IsFactHeader(std::string_view line) {
  for (std::string_view name : {"PerformanceFrequency", "CPU Type", "Cyrix CPU Revision"}) {
    if (StartsWith(line, name) && !Trim(line.substr(name.size())).empty() &&
        (Trim(line.substr(name.size())).front() == ':' ||
         Trim(line.substr(name.size())).front() == '=')) {
      return true;
    }
  }
  return false;
}

class Parser {
 public:
  Parser(std::string_view source, SimProfile& out, std::string& error)
      : source_(source), out_(out), error_(error) {}

  bool Run(std::string_view text) {
    out_ = SimProfile{};
    template_ = SimProcessor{};
    count_ = 1;
    SetCurrent(-1);
    inSections_ = false;
    lineNo_ = 0;
    settings_ = 0;
    registerLines_ = 0;
    processorHeaders_ = false;
    allProcessors_ = false;
    dumpProcessors_ = 0;
    counterHz_ = typeHz_ = 0;
    cyrixRevision_.reset();
    dir0Given_ = dir1Given_ = templateEccGiven_ = false;
    std::size_t pos = 0;
    for (;;) {
      ++lineNo_;
      const auto nl = text.find('\n', pos);
      std::string_view line =
          text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
      if (IsDumpProcessor(Trim(line))) {
        // Its '#' is part of the processor number, not a comment.
        line = Trim(line);
      } else {
        const auto hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        line = Trim(line);
      }
      if (!line.empty()) {
        if (IsProcessorHeader(line)) {
          processorHeaders_ = true;
        } else if (!IsNamedHeader(line)) {
          ++settings_;
          ++registerLines_;
        } else if (IsFactHeader(line)) {
          ++settings_;
        }
      }
      if (!line.empty() && !Line(line)) return false;
      if (nl == std::string_view::npos) break;
      pos = nl + 1;
    }
    MakeProcessors(static_cast<std::size_t>(count_));
    DumpDefaults();
    return true;
  }

  // Lines that set something (not blank, not a comment, not a dump header);
  // a dump that names its processors but lists none of their registers sets
  // nothing.
  int Settings() const { return processorHeaders_ && registerLines_ == 0 ? 0 : settings_; }

 private:
  bool Fail(const std::string& what) {
    error_ = std::string(source_) + ":" + std::to_string(lineNo_) + ": " + what;
    return false;
  }

  bool Line(std::string_view line) {
    if (line.front() == '[') return Section(line);
    if (IsDumpProcessor(line)) return DumpProcessor();
    if (const auto section = DumpSection(line)) {
      // The register section of a dump applies to every processor; the
      // others hold header lines.
      allProcessors_ = *section == "MSR Registers";
      return true;
    }
    if (!allProcessors_) return Content(line);
    // Every processor, and the settings that later processors start from.
    SimProcessor* const current = current_;
    const int currentIndex = currentIndex_;
    bool ok = true;
    for (int i = -1; ok && i < static_cast<int>(out_.Processors.size()); ++i) {
      SetCurrent(i);
      ok = Content(line);
    }
    current_ = current;
    currentIndex_ = currentIndex;
    return ok;
  }

  bool Content(std::string_view line) {
    if (StartsWith(line, "CPUID ") && NumberFollows(line.substr(6))) {
      return CpuidLine(line.substr(6));
    }
    if (StartsWith(line, "0x") || StartsWith(line, "0X")) return RawCpuidLine(line);
    if (StartsWith(line, "MSR ") && NumberFollows(line.substr(4))) return MsrLine(line.substr(4));
    const auto eq = line.find('=');
    const auto colon = line.find(':');
    if (eq != std::string_view::npos && (colon == std::string_view::npos || eq < colon)) {
      const std::string_view key = Trim(line.substr(0, eq));
      if (IsDumpName(key)) return DumpHeader(key, Trim(line.substr(eq + 1)));
      return Setting(key, Trim(line.substr(eq + 1)));
    }
    if (colon != std::string_view::npos && std::isalpha(static_cast<unsigned char>(line.front()))) {
      const std::string_view name = Trim(line.substr(0, colon));
      // "clock: 450000000" is a setting written wrongly, not a header line.
      if (!IsDumpName(name) && IsSettingName(name)) {
        return Fail("unrecognised line " + Quote(line));
      }
      return DumpHeader(name, Trim(line.substr(colon + 1)));
    }
    return Fail("unrecognised line " + Quote(line));
  }

  // Processor 1 (index 0) to n, or the settings before the first section (-1).
  void SetCurrent(int index) {
    currentIndex_ = index;
    current_ = index < 0 ? &template_ : &out_.Processors[static_cast<std::size_t>(index)];
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
  }

  // A dump's processor header: the k-th of them in the file starts processor
  // k (dumps number their processors from 0 or from 1).
  bool DumpProcessor() {
    const std::size_t n = dumpProcessors_ + 1;
    if (n > static_cast<std::size_t>(kSimMaxProcessors)) {
      // Appended piece by piece: g++ -O3 for 32 bits sees a false overlap in
      // the concatenation of a literal and a number.
      std::string what = "more than ";
      what.append(std::to_string(kSimMaxProcessors)).append(" processors");
      return Fail(what);
    }
    dumpProcessors_ = n;
    MakeProcessors(std::max(n, static_cast<std::size_t>(count_)));
    SetCurrent(static_cast<int>(n - 1));
    allProcessors_ = false;
    return true;
  }

  // A dump's "Name : value" or "Name = value" header line. Three of them
  // carry facts of the machine: its clock, twice, and the Cyrix device
  // identification registers; the rest are left alone.
  bool DumpHeader(std::string_view name, std::string_view value) {
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
    }
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
        const auto ctl3 = p.Msr.find(kMsrBblCtl3);
        p.L2Ecc = ctl3 != p.Msr.end() && (ctl3->second & 0x20) != 0;
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

  // The dump form "nnnnnnnn: a-b-c-d" of CPUID and MSR lines: the leaf or
  // register number before the colon, the four dash-separated values after it
  // (a bracketed note at the end is dropped).
  static std::optional<std::uint64_t> NumberAndParts(std::string_view rest,
                                                     std::array<std::string_view, 4>& parts) {
    const auto colon = rest.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto number = Hex(Trim(rest.substr(0, colon)), 8);
    if (!number || !Split(DropNote(rest.substr(colon + 1)), '-', parts)) return std::nullopt;
    return number;
  }

  // The leaf and the four values of a CPUID line in any of its published
  // forms: "llllllll: a-b-c-d", without the colon ("llllllll a-b-c-d", blanks
  // or a tab between), and with blank-separated values ("llllllll : a b c d").
  static std::optional<std::uint64_t> CpuidParts(std::string_view rest,
                                                 std::array<std::string_view, 4>& parts) {
    if (const auto leaf = NumberAndParts(rest, parts)) return leaf;
    rest = DropNote(rest);
    const auto end = rest.find_first_of(": \t");
    if (end == std::string_view::npos) return std::nullopt;
    const auto leaf = Hex(rest.substr(0, end), 8);
    if (!leaf) return std::nullopt;
    rest = Trim(rest.substr(end));
    if (!rest.empty() && rest.front() == ':') rest = Trim(rest.substr(1));
    if (Split(rest, '-', parts)) return leaf;
    for (std::size_t i = 0; i < 4; ++i) {
      const auto gap = rest.find_first_of(" \t");
      parts[i] = rest.substr(0, gap);
      rest = Trim(rest.substr(gap == std::string_view::npos ? rest.size() : gap));
      if (parts[i].empty()) return std::nullopt;
    }
    if (!rest.empty()) return std::nullopt;
    return leaf;
  }

  // "CPUID 00000001: 00000652-00000000-00000000-0183FBFF" (EAX-EBX-ECX-EDX).
  bool CpuidLine(std::string_view rest) {
    std::array<std::string_view, 4> parts;
    const auto leaf = CpuidParts(rest, parts);
    if (!leaf) return Fail("malformed CPUID line (want CPUID llllllll: EAX-EBX-ECX-EDX)");
    std::array<std::uint32_t, 4> regs{};
    for (std::size_t i = 0; i < 4; ++i) {
      const auto v = Hex(Trim(parts[i]), 8);
      if (!v) return Fail("bad CPUID value " + Quote(parts[i]));
      regs[i] = static_cast<std::uint32_t>(*v);
    }
    current_->Cpuid[static_cast<std::uint32_t>(*leaf)] = regs;
    return true;
  }

  // "0x00000001 0x00: eax=0x00000652 ebx=0x00000000 ecx=0x00000000 edx=0x0183fbff".
  bool RawCpuidLine(std::string_view line) {
    const char* form =
        "malformed CPUID line (want 0xLEAF 0xSUB: eax=0x... ebx=0x... ecx=0x... edx=0x...)";
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) return Fail(form);
    std::array<std::string_view, 2> head;
    if (!Split(Trim(line.substr(0, colon)), ' ', head)) return Fail(form);
    const auto hex32 = [](std::string_view s) -> std::optional<std::uint64_t> {
      if (!StartsWith(s, "0x") && !StartsWith(s, "0X")) return std::nullopt;
      return Hex(s.substr(2), 8);
    };
    const auto leaf = hex32(head[0]);
    const auto sub = hex32(Trim(head[1]));
    if (!leaf || !sub) return Fail(form);
    std::string_view rest = DropNote(line.substr(colon + 1));
    std::array<std::uint32_t, 4> regs{};
    static constexpr std::string_view kNames[4] = {"eax=", "ebx=", "ecx=", "edx="};
    for (std::size_t i = 0; i < 4; ++i) {
      rest = Trim(rest);
      if (!StartsWith(rest, kNames[i])) return Fail(form);
      rest.remove_prefix(4);
      const auto end = rest.find_first_of(" \t");
      const auto v = hex32(rest.substr(0, end));
      if (!v) return Fail(form);
      regs[i] = static_cast<std::uint32_t>(*v);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    if (!Trim(rest).empty()) return Fail(form);
    // Only sub-leaf 0 is ever asked for; the other sub-leaves of a listing
    // are accepted and left out.
    if (*sub == 0) current_->Cpuid[static_cast<std::uint32_t>(*leaf)] = regs;
    return true;
  }

  // "MSR 0000002A: 0000-0000-C410-0000", the value high to low.
  bool MsrLine(std::string_view rest) {
    std::array<std::string_view, 4> parts;
    const auto reg = NumberAndParts(rest, parts);
    if (!reg) return Fail("malformed MSR line (want MSR rrrrrrrr: hhhh-hhhh-llll-llll)");
    std::uint64_t value = 0;
    for (std::string_view p : parts) {
      const auto v = Hex(Trim(p), 4);
      if (!v) return Fail("bad MSR value " + Quote(p));
      value = value << 16 | *v;
    }
    current_->Msr[static_cast<std::uint32_t>(*reg)] = value;
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
      if (currentIndex_ < 0) {
        templateEccGiven_ = true;
      } else {
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
  SimProcessor* current_ = nullptr;
  int currentIndex_ = -1;  // -1: the settings before the first section
  int count_ = 1;
  bool inSections_ = false;
  int lineNo_ = 0;
  int settings_ = 0;
  int registerLines_ = 0;          // settings other than a dump's header lines
  bool processorHeaders_ = false;  // a dump's processor header was read
  // What a published dump adds.
  bool allProcessors_ = false;  // in its register section
  std::size_t dumpProcessors_ = 0;
  std::uint64_t counterHz_ = 0;  // "PerformanceFrequency"
  std::uint64_t typeHz_ = 0;     // the MHz of "CPU Type"
  std::optional<std::uint16_t> cyrixRevision_;
  bool dir0Given_ = false, dir1Given_ = false;
  // Which processors have an "l2ecc" line.
  bool templateEccGiven_ = false;
  std::vector<char> eccGiven_;
};

}  // namespace

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
