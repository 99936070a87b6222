// VirtualBox's CPU profiles (its CPU database, src/VBox/VMM/VMMR3/cpus/*.h,
// made by VBoxCpuReport from a real processor):
//   CPUID leaves as an array of CPUMCPUIDLEAF
//     { 0x00000001, 0x00000000, 0x00000000, 0x00000652, 0x00000000, 0x00000000, 0x0183fbff, 0 },
//   (leaf, sub-leaf, sub-leaf mask, EAX, EBX, ECX, EDX, flags);
//   registers as the macros of its MSR ranges; those that carry the value
//   read from the processor are MVO, MVI and MVX (third argument) and MFX and
//   MFV (fifth):  MFX(0x0000002a, "EBL_CR_POWERON", ..., 0x45080000, ...).
//   The other macros carry no value (a "value=" comment is no register value
//   the profile gives) and are left out.
// The clock is the one the entry's full name states ("... 2.00GHz").
#include <array>
#include <optional>

#include "machine/dump_layout.h"

namespace torv {

namespace {

using dumptext::StartsWith;
using dumptext::Trim;

// The arguments of a macro call or the fields of a braced line, split at the
// commas outside parentheses.
std::vector<std::string_view> Arguments(std::string_view inner) {
  std::vector<std::string_view> args;
  int depth = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    if (inner[i] == '(') ++depth;
    if (inner[i] == ')') --depth;
    if (inner[i] == ',' && depth == 0) {
      args.push_back(Trim(inner.substr(start, i - start)));
      start = i + 1;
    }
  }
  args.push_back(Trim(inner.substr(start)));
  return args;
}

// "0x45080000", "UINT64_C(0xc0000000c1ae9fda)", "UINT32_C(0xfee00100)", "0".
std::optional<std::uint64_t> Number(std::string_view s) {
  for (std::string_view wrap : {"UINT64_C(", "UINT32_C("}) {
    if (StartsWith(s, wrap) && s.ends_with(")")) s = Trim(s.substr(9, s.size() - 10));
  }
  unsigned base = 10;
  if (StartsWith(s, "0x") || StartsWith(s, "0X")) {
    s.remove_prefix(2);
    base = 16;
  }
  if (s.empty() || s.size() > 16) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    unsigned d = 0;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (base == 10 && v > (UINT64_MAX - d) / 10) return std::nullopt;
    v = v * base + d;
  }
  return v;
}

class VirtualBoxReader : public DumpLayout {
 public:
  std::string_view Name() const override { return "VirtualBox CPU profile"; }

  bool Recognises(std::string_view text) const override {
    return text.find("CPUMCPUIDLEAF") != std::string_view::npos ||
           text.find("g_aCpuIdLeaves_") != std::string_view::npos;
  }

  bool Read(std::string_view text, DumpReading& out, std::string& why) const override {
    DumpProcessor p;
    std::uint64_t nameClock = 0, titleClock = 0;
    dumptext::EachLine(text, [&](int, std::string_view raw) {
      const std::string_view line = Trim(raw);
      if (line.find("pszFullName") != std::string_view::npos) {
        nameClock = dumptext::ClockInText(line);
      } else if (line.find("CPU database entry") != std::string_view::npos) {
        titleClock = dumptext::ClockInText(line);
      } else if (StartsWith(line, "{") && line.find('}') != std::string_view::npos) {
        Leaf(line.substr(1, line.find('}') - 1), p);
      } else {
        Register(line, p);
      }
      return true;
    });
    if (p.Cpuid.empty()) {
      why = "the profile holds no CPUMCPUIDLEAF entry: nothing identifies the processor";
      return false;
    }
    p.ClockHz = nameClock != 0 ? nameClock : titleClock;
    out.Processors.push_back(std::move(p));
    return true;
  }

 private:
  static void Leaf(std::string_view inner, DumpProcessor& p) {
    const auto f = Arguments(inner);
    if (f.size() < 7) return;
    std::array<std::uint64_t, 7> v{};
    for (std::size_t i = 0; i < 7; ++i) {
      const auto x = Number(f[i]);
      if (!x || *x > 0xFFFFFFFFu) return;
      v[i] = *x;
    }
    if (v[1] != 0) return;  // only sub-leaf 0
    p.Cpuid[static_cast<std::uint32_t>(v[0])] = {
        static_cast<std::uint32_t>(v[3]), static_cast<std::uint32_t>(v[4]),
        static_cast<std::uint32_t>(v[5]), static_cast<std::uint32_t>(v[6])};
  }

  static void Register(std::string_view line, DumpProcessor& p) {
    std::size_t valueArg = 0;
    for (std::string_view m : {"MVO(", "MVI(", "MVX("}) {
      if (StartsWith(line, m)) valueArg = 2;
    }
    for (std::string_view m : {"MFX(", "MFV("}) {
      if (StartsWith(line, m)) valueArg = 4;
    }
    if (valueArg == 0) return;
    // The arguments up to the call's closing parenthesis.
    int depth = 0;
    std::size_t close = std::string_view::npos;
    for (std::size_t i = 3; i < line.size(); ++i) {
      if (line[i] == '(') ++depth;
      if (line[i] == ')' && --depth == 0) {
        close = i;
        break;
      }
    }
    if (close == std::string_view::npos) return;
    const auto args = Arguments(line.substr(4, close - 4));
    if (args.size() <= valueArg) return;
    const auto reg = Number(args[0]);
    const auto value = Number(args[valueArg]);
    if (!reg || !value || *reg > 0xFFFFFFFFu) return;
    p.Msr[static_cast<std::uint32_t>(*reg)] = *value;
  }
};

}  // namespace

const DumpLayout& VirtualBoxLayout() {
  static const VirtualBoxReader kReader;
  return kReader;
}

}  // namespace torv
