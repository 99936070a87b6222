// The INI saves of the VB CPUID tool: a "[Speed]" section with the clock in
// MHz and a "[Levels]" section with one key a leaf,
//   [Levels]
//   Level_0=00000002 756E6547 6C65746E 49656E69
//   Level_4=80000004 00000000 00000000 00000000
// where Level_0 to Level_3 are leaves 0 to 3 and Level_4 on are 80000000h on
// (EAX, EBX, ECX, EDX; blanks, commas or hyphens between).
#include <array>
#include <cctype>

#include "machine/dump_layout.h"

namespace torv {

namespace {

using dumptext::Hex32;
using dumptext::StartsWithNoCase;
using dumptext::Trim;
using dumptext::Words;

class VbCpuidReader : public DumpLayout {
 public:
  std::string_view Name() const override { return "VB CPUID INI save"; }

  bool Recognises(std::string_view text) const override {
    bool levels = false, key = false;
    dumptext::EachLine(text, [&](int, std::string_view l) {
      l = Trim(l);
      if (StartsWithNoCase(l, "[Levels]")) levels = true;
      if (levels && StartsWithNoCase(l, "Level_")) key = true;
      return !key;
    });
    return key;
  }

  bool Read(std::string_view text, DumpReading& out, std::string& why) const override {
    DumpProcessor p;
    std::string section;
    bool ok = dumptext::EachLine(text, [&](int n, std::string_view raw) {
      const std::string_view line = Trim(raw);
      if (line.empty() || line.front() == ';') return true;
      if (line.front() == '[') {
        section = std::string(line);
        for (char& c : section) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return true;
      }
      const auto eq = line.find('=');
      if (eq == std::string_view::npos) return true;
      const std::string_view key = Trim(line.substr(0, eq));
      const std::string_view value = Trim(line.substr(eq + 1));
      if (section == "[speed]" && p.ClockHz == 0) {
        p.ClockHz = Megahertz(value);
      } else if (section == "[levels]" && StartsWithNoCase(key, "Level_")) {
        return Level(n, key, value, p, why);
      }
      return true;
    });
    if (!ok) return false;
    if (p.Cpuid.empty()) {
      why = "its [Levels] section holds no Level_N line: nothing identifies the processor";
      return false;
    }
    out.Processors.push_back(std::move(p));
    return true;
  }

 private:
  // "350", "350.2", "350.2 MHz": megahertz.
  static std::uint64_t Megahertz(std::string_view value) {
    if (const std::uint64_t hz = dumptext::ClockInText(value)) return hz;
    const auto w = Words(value);
    return w.empty() ? 0 : dumptext::ClockInText(std::string(w[0]) + " MHz");
  }

  static bool Level(int n, std::string_view key, std::string_view value, DumpProcessor& p,
                    std::string& why) {
    const std::string_view index = key.substr(6);
    unsigned i = 0;
    bool digits = !index.empty() && index.size() <= 4;
    for (char c : index) {
      digits = digits && std::isdigit(static_cast<unsigned char>(c));
      if (digits) i = i * 10 + static_cast<unsigned>(c - '0');
    }
    const auto w = Words(value, ",-:");
    std::array<std::uint32_t, 4> regs{};
    bool ok = digits && w.size() == 4;
    for (std::size_t r = 0; ok && r < 4; ++r) {
      const auto v = Hex32(w[r]);
      ok = v.has_value();
      if (ok) regs[r] = *v;
    }
    if (!ok) {
      why = dumptext::AtLine(n, "malformed level " + dumptext::Quote(key) +
                                    " (want Level_N=EAX EBX ECX EDX in hexadecimal)");
      return false;
    }
    const std::uint32_t leaf = i < 4 ? i : 0x80000000u + (i - 4);
    p.Cpuid[leaf] = regs;
    return true;
  }
};

}  // namespace

const DumpLayout& VbCpuidLayout() {
  static const VbCpuidReader kReader;
  return kReader;
}

}  // namespace torv
