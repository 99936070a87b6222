// What the readers of published dump layouts share: the list of readers,
// the profile made of a dump's processors, and the text helpers.
#include "machine/dump_layout.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "driver/hw.h"
#include "report/utility.h"

namespace torv {

std::span<const DumpLayout* const> DumpLayouts() {
  static const std::array<const DumpLayout*, 6> kLayouts = {
      &CpuzLayout(),       &RjcpXmlLayout(), &IcBookLayout(),
      &VirtualBoxLayout(), &VbCpuidLayout(), &Cpuid2CpuflagsLayout(),
  };
  return kLayouts;
}

bool ProfileFromDump(const DumpReading& reading, SimProfile& out, std::string& note) {
  note.clear();
  if (reading.Processors.empty()) return false;
  const std::size_t kept =
      std::min(reading.Processors.size(), static_cast<std::size_t>(kSimMaxProcessors));
  out.Processors.clear();
  for (std::size_t i = 0; i < kept; ++i) {
    const DumpProcessor& d = reading.Processors[i];
    SimProcessor p;  // the P6 register set, for the cache controller's transactions
    p.Cpuid = d.Cpuid;
    for (const auto& [reg, value] : d.Msr) {
      p.Msr[reg] = value;
      if (IsStartRegister(reg)) p.DumpMsrs.insert(reg);
    }
    p.ClockHz = d.ClockHz;
    p.FromDump = true;
    // ECC checking on in BBL_CR_CTL3 goes with SRAMs that store ECC bits;
    // with it off, or without the register, the dump cannot say.
    const auto ctl3 = d.Msr.find(kMsrBblCtl3);
    p.L2Ecc = ctl3 != d.Msr.end() && (ctl3->second & 0x20) != 0;
    p.DumpEccTest = p.L2Ecc;
    out.Processors.push_back(std::move(p));
  }
  if (reading.Processors.size() > kept) {
    note = "the dump lists " + std::to_string(reading.Processors.size()) +
           " processors; the first " + std::to_string(kept) + " are simulated";
  }
  return true;
}

namespace dumptext {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(s[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool ContainsNoCase(std::string_view s, std::string_view part) {
  if (part.empty()) return true;
  for (std::size_t i = 0; i + part.size() <= s.size(); ++i) {
    if (StartsWithNoCase(s.substr(i), part)) return true;
  }
  return false;
}

std::vector<std::string_view> Words(std::string_view line, std::string_view more) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  const auto separator = [more](char c) {
    return c == ' ' || c == '\t' || c == '\r' || more.find(c) != std::string_view::npos;
  };
  while (i < line.size()) {
    while (i < line.size() && separator(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !separator(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<std::uint32_t> Hex32(std::string_view w) {
  if (StartsWith(w, "0x") || StartsWith(w, "0X")) {
    w.remove_prefix(2);
  } else if (!w.empty() && (w.back() == 'h' || w.back() == 'H')) {
    w.remove_suffix(1);
  }
  if (w.empty() || w.size() > 8) return std::nullopt;
  std::uint32_t v = 0;
  for (char c : w) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return v;
}

std::uint64_t ClockInText(std::string_view text) {
  std::size_t at = std::string_view::npos;
  std::uint64_t unit = 0;
  for (std::size_t i = 0; i + 3 <= text.size(); ++i) {
    if (StartsWithNoCase(text.substr(i), "MHz")) {
      at = i;
      unit = 1'000'000;
      break;
    }
    if (StartsWithNoCase(text.substr(i), "GHz")) {
      at = i;
      unit = 1'000'000'000;
      break;
    }
  }
  if (at == std::string_view::npos) return 0;
  std::string_view before = text.substr(0, at);
  while (!before.empty() && before.back() == ' ') before.remove_suffix(1);
  std::size_t start = before.size();
  while (start > 0 && (std::isdigit(static_cast<unsigned char>(before[start - 1])) ||
                       before[start - 1] == '.')) {
    --start;
  }
  const std::string_view number = before.substr(start);
  const auto dot = number.find('.');
  const std::string_view whole = number.substr(0, dot);
  if (whole.empty() || whole.size() > 6) return 0;
  std::uint64_t hz = 0;
  for (char c : whole) hz = hz * 10 + static_cast<std::uint64_t>(c - '0');
  hz *= unit;
  if (dot != std::string_view::npos) {
    std::uint64_t scale = unit / 10;
    for (char c : number.substr(dot + 1, 6)) {
      if (c == '.') return 0;
      hz += static_cast<std::uint64_t>(c - '0') * scale;
      scale /= 10;
    }
  }
  return hz <= kSimMaxClockHz ? hz : 0;
}

std::string AtLine(int line, std::string_view what) {
  return "line " + std::to_string(line) + ": " + std::string(what);
}

std::string Quote(std::string_view s) {
  std::string q;
  for (char c : s.substr(0, 40)) q += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  if (s.size() > 40) q += "...";
  return "'" + q + "'";
}

}  // namespace dumptext

}  // namespace torv
