// The text report of IC Book Labs' "CPUID vX" utility: after its title
// ("CPUID v1.03.06", "(C)2020 IC Book Labs") come tables of decoded
// parameters and, under the header "Function  Subfunction  Pass  EAX  EBX
// ECX  EDX", the rows of the dump, eight hexadecimal digits each:
//   00000001    00000000      00000000    00000652    00000000    00000000    0183F9FF
// The first table lists every leaf; later ones repeat single leaves. The
// decoded tables ("xTPR update control ...") are left alone. The report
// states no clock; the utility's binary records are not read.
#include <array>
#include <map>
#include <utility>

#include "machine/dump_layout.h"

namespace torv {

namespace {

using dumptext::Hex32;
using dumptext::Trim;
using dumptext::Words;

bool IsTableHeader(std::string_view line) {
  const auto w = Words(line);
  return w.size() >= 3 && w[0] == "Function" && w[1] == "Subfunction" && w[2] == "Pass";
}

class IcBookReader : public DumpLayout {
 public:
  std::string_view Name() const override { return "IC Book Labs CPUID report"; }

  bool Recognises(std::string_view text) const override {
    // Its copyright line ("(C)2020 IC Book Labs") or its table's header.
    return !dumptext::EachLine(text, [](int, std::string_view l) {
      l = Trim(l);
      const bool title = dumptext::StartsWith(l, "(C)") && l.find("IC Book Labs") != l.npos;
      return !(title || IsTableHeader(l));
    });
  }

  bool Read(std::string_view text, DumpReading& out, std::string& why) const override {
    DumpProcessor p;
    bool inTable = false, tables = false;
    dumptext::EachLine(text, [&](int, std::string_view raw) {
      const std::string_view line = Trim(raw);
      if (IsTableHeader(line)) {
        inTable = tables = true;
        return true;
      }
      if (!inTable || line.empty() || line.front() == '-') return true;
      const auto w = Words(line);
      std::array<std::uint32_t, 7> v{};
      bool row = w.size() == 7;
      for (std::size_t i = 0; row && i < 7; ++i) {
        const auto x = w[i].size() == 8 ? Hex32(w[i]) : std::nullopt;
        row = x.has_value();
        if (row) v[i] = *x;
      }
      if (!row) {
        inTable = false;  // the table has ended
        return true;
      }
      // Sub-leaf 0 of the first pass; a repeated row changes nothing.
      if (v[1] == 0 && v[2] == 0) p.Cpuid.emplace(v[0], std::array{v[3], v[4], v[5], v[6]});
      return true;
    });
    if (!tables || p.Cpuid.empty()) {
      why = tables ? "its Function/Subfunction/Pass tables hold no row"
                   : "the report holds no Function/Subfunction/Pass table (only decoded "
                     "parameters): nothing identifies the processor";
      return false;
    }
    out.Processors.push_back(std::move(p));
    return true;
  }
};

}  // namespace

const DumpLayout& IcBookLayout() {
  static const IcBookReader kReader;
  return kReader;
}

}  // namespace torv
