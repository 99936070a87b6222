// CPU-Z's TXT report, as owners of these machines post it and a seller can
// send it:
//   current  "CPU Thread N" before each processor's dump, CPUID rows
//            "0x00000001  0x00000652  0x00000000  0x00000000  0x0183FBFF"
//            (leaf, EAX, EBX, ECX, EDX; also with "CPUID" before them), a
//            repeated leaf being its next sub-leaf, MSR rows
//            "MSR 0x0000002A  0x00000000  0xC4180000" (high, low) or
//            "MSR 0x0000002A  edx = 0x00000000  eax = 0xC4180000", and the
//            clock in "Core Speed  350.2 MHz (3.5 x 100.1 MHz)";
//   early    (1.2x-1.3x, the Windows 98 era) "Function 00000001  00000652 ..."
//            rows, "MSR 0000002A  edx=00000000 eax=C4180000" rows and the
//            clock in "Clock Speed".
// Everything else of the report (chipset, memory, PCI dumps) is left alone.
#include <array>
#include <cctype>
#include <optional>
#include <set>

#include "machine/dump_layout.h"

namespace torv {

namespace {

using dumptext::ClockInText;
using dumptext::Hex32;
using dumptext::StartsWith;
using dumptext::StartsWithNoCase;
using dumptext::Trim;
using dumptext::Words;

// "Function 00000001" at the start of a line: the early report's row.
bool IsFunctionRow(std::string_view line) {
  const auto w = Words(line, ":");
  return w.size() >= 2 && w[0] == "Function" && w[1].size() == 8 && Hex32(w[1]);
}

// The five values of a CPUID row (leaf and four registers), or nothing when
// the line is none.
std::optional<std::array<std::uint32_t, 5>> CpuidRow(std::string_view line) {
  auto w = Words(line, ":");
  if (w.empty()) return std::nullopt;
  if (w[0] == "CPUID" || w[0] == "Function") {
    w.erase(w.begin());
  } else if (!StartsWith(w[0], "0x") && !StartsWith(w[0], "0X")) {
    return std::nullopt;
  }
  if (w.size() < 5) return std::nullopt;
  std::array<std::uint32_t, 5> v{};
  for (std::size_t i = 0; i < 5; ++i) {
    const auto x = Hex32(w[i]);
    if (!x) return std::nullopt;
    v[i] = *x;
  }
  return v;
}

class CpuzReader : public DumpLayout {
 public:
  std::string_view Name() const override { return "CPU-Z TXT report"; }

  bool Recognises(std::string_view text) const override {
    // Its title ("CPU-Z TXT Report") or version line ("CPU-Z version 1.31")
    // opens a line; the early report's rows are its own.
    return !dumptext::EachLine(text, [](int, std::string_view l) {
      l = Trim(l);
      return !(StartsWith(l, "CPU-Z ") || IsFunctionRow(l));
    });
  }

  bool Read(std::string_view text, DumpReading& out, std::string& why) const override {
    std::uint64_t clock = 0;
    std::set<std::uint32_t> seen;  // the current processor's leaves so far
    bool rows = false;
    const auto current = [&]() -> DumpProcessor& {
      if (out.Processors.empty()) out.Processors.emplace_back();
      return out.Processors.back();
    };
    dumptext::EachLine(text, [&](int, std::string_view raw) {
      const std::string_view line = Trim(raw);
      if (StartsWith(line, "CPU Thread ")) {
        out.Processors.emplace_back();
        seen.clear();
        return true;
      }
      if (line.empty()) return true;
      if (clock == 0 &&
          (StartsWithNoCase(line, "Core Speed") || StartsWithNoCase(line, "Clock Speed"))) {
        clock = ClockInText(line);
        return true;
      }
      if (Words(line).front() == "MSR") return MsrRow(line, current());
      if (const auto row = CpuidRow(line)) {
        rows = true;
        // A leaf listed again is its next sub-leaf; only sub-leaf 0 is kept.
        if (seen.insert((*row)[0]).second) {
          current().Cpuid[(*row)[0]] = {(*row)[1], (*row)[2], (*row)[3], (*row)[4]};
        }
      }
      return true;
    });
    if (!rows) {
      why =
          "the report holds no CPUID table (its thread dumps are missing): nothing "
          "identifies the processor";
      return false;
    }
    // Processors whose dump held no row are not processors of the report.
    std::erase_if(out.Processors, [](const DumpProcessor& p) { return p.Cpuid.empty(); });
    for (DumpProcessor& p : out.Processors) p.ClockHz = clock;
    return true;
  }

 private:
  // "MSR 0x0000002A  0x00000000  0xC4180000", also with "edx =" and "eax ="
  // naming the halves (in either order). A row whose values cannot be read
  // gives nothing: that register is not in the dump.
  static bool MsrRow(std::string_view line, DumpProcessor& p) {
    const auto w = Words(line, ":=,");
    const auto reg = w.size() >= 2 ? Hex32(w[1]) : std::nullopt;
    std::optional<std::uint32_t> high, low;
    char label = 0;  // 'd' after "edx", 'a' after "eax"
    for (std::size_t i = 2; reg && i < w.size(); ++i) {
      std::string lower;
      for (char c : w[i]) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (lower == "edx" || lower == "eax") {
        label = lower[1];
        continue;
      }
      const auto v = Hex32(w[i]);
      if (!v) break;
      if (label == 'a' || (label == 0 && high)) {
        low = v;
      } else {
        high = v;
      }
      label = 0;
    }
    if (reg && high && low) p.Msr[*reg] = static_cast<std::uint64_t>(*high) << 32 | *low;
    return true;
  }
};

}  // namespace

const DumpLayout& CpuzLayout() {
  static const CpuzReader kReader;
  return kReader;
}

}  // namespace torv
