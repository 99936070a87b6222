// The profile text of a simulated machine: one setting a line, '#' starts a
// comment. CPUID and register lines are taken in the forms that published
// dumps use, so that a dump file is a valid start of a profile.
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/hw.h"
#include "machine/sim.h"

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

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Exactly 1 to maxDigits hexadecimal digits.
std::optional<std::uint64_t> Hex(std::string_view s, std::size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    const int d = HexDigit(c);
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

// "Name   :" header lines of the dump files.
bool IsDumpHeader(std::string_view line) {
  for (std::string_view h :
       {"CPU Type", "CPU Alias", "CPU Stepping", "Cyrix CPU Revision", "CPUID Revision"}) {
    if (StartsWith(line, h) && StartsWith(Trim(line.substr(h.size())), ":")) return true;
  }
  // The "CPU 0:" lines that separate processors in a raw CPUID listing.
  if (StartsWith(line, "CPU ") && line.back() == ':' && line.size() > 5) {
    return Decimal(line.substr(4, line.size() - 5), 4095).has_value();
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
    current_ = &template_;
    inSections_ = false;
    lineNo_ = 0;
    settings_ = 0;
    std::size_t pos = 0;
    for (;;) {
      ++lineNo_;
      const auto nl = text.find('\n', pos);
      std::string_view line =
          text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
      const auto hash = line.find('#');
      if (hash != std::string_view::npos) line = line.substr(0, hash);
      line = Trim(line);
      if (!line.empty() && !IsDumpHeader(line)) ++settings_;
      if (!line.empty() && !Line(line)) return false;
      if (nl == std::string_view::npos) break;
      pos = nl + 1;
    }
    if (!inSections_) out_.Processors.assign(static_cast<std::size_t>(count_), template_);
    return true;
  }

  // Lines that set something (not blank, not a comment, not a dump header).
  int Settings() const { return settings_; }

 private:
  bool Fail(const std::string& what) {
    error_ = std::string(source_) + ":" + std::to_string(lineNo_) + ": " + what;
    return false;
  }

  bool Line(std::string_view line) {
    if (IsDumpHeader(line)) return true;
    if (line.front() == '[') return Section(line);
    if (StartsWith(line, "CPUID ")) return CpuidLine(line.substr(6));
    if (StartsWith(line, "0x") || StartsWith(line, "0X")) return RawCpuidLine(line);
    if (StartsWith(line, "MSR ")) return MsrLine(line.substr(4));
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) return Fail("unrecognised line " + Quote(line));
    return Setting(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
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
    if (!inSections_) {
      // The settings so far are processor 1's and the template of the rest.
      out_.Processors.assign(static_cast<std::size_t>(count_), template_);
      inSections_ = true;
    }
    current_ = &out_.Processors[static_cast<std::size_t>(*n - 1)];
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

  // "CPUID 00000001: 00000652-00000000-00000000-0183FBFF" (EAX-EBX-ECX-EDX).
  bool CpuidLine(std::string_view rest) {
    std::array<std::string_view, 4> parts;
    const auto leaf = NumberAndParts(rest, parts);
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
      return true;
    }
    if (key == "l2ecc") return Choice(key, value, "yes", true, "no", false, p.L2Ecc);
    if (key == "l2busy") return Choice(key, value, "normal", false, "stuck", true, p.L2BusyStuck);
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
    return Fail("unknown setting " + Quote(key));
  }

  std::string_view source_;
  SimProfile& out_;
  std::string& error_;
  SimProcessor template_;
  SimProcessor* current_ = nullptr;
  int count_ = 1;
  bool inSections_ = false;
  int lineNo_ = 0;
  int settings_ = 0;
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
