// The test lines of cpuid2cpuflags, one CPUID answer a line, all values in
// hexadecimal:
//   top:00000001:00000652:00000000:00000000:0183fbff      leaf, EAX-EDX
//   sub:00000007:00000000:00000000:00000000:00000000:00000000   leaf, sub-leaf, EAX-EDX
// Other lines (the flags expected from them) are left alone. Many of them
// lack leaf 0: the processor then answers it with zeros and has no vendor.
#include <array>
#include <vector>

#include "machine/dump_layout.h"

namespace torv {

namespace {

using dumptext::Hex32;
using dumptext::StartsWith;
using dumptext::Trim;

// The fields of a "top:" or "sub:" line after its tag, or nothing.
std::optional<std::vector<std::uint32_t>> Fields(std::string_view line, std::size_t count) {
  std::vector<std::uint32_t> v;
  std::size_t pos = 4;
  while (pos <= line.size()) {
    const auto colon = line.find(':', pos);
    const auto x =
        Hex32(Trim(line.substr(pos, colon == std::string_view::npos ? line.npos : colon - pos)));
    if (!x) return std::nullopt;
    v.push_back(*x);
    if (colon == std::string_view::npos) break;
    pos = colon + 1;
  }
  if (v.size() != count) return std::nullopt;
  return v;
}

class Cpuid2CpuflagsReader : public DumpLayout {
 public:
  std::string_view Name() const override { return "cpuid2cpuflags test lines"; }

  bool Recognises(std::string_view text) const override {
    return !dumptext::EachLine(text, [](int, std::string_view l) {
      l = Trim(l);
      return !((StartsWith(l, "top:") && Fields(l, 5)) || (StartsWith(l, "sub:") && Fields(l, 6)));
    });
  }

  bool Read(std::string_view text, DumpReading& out, std::string& why) const override {
    DumpProcessor p;
    const bool ok = dumptext::EachLine(text, [&](int n, std::string_view raw) {
      const std::string_view line = Trim(raw);
      const bool top = StartsWith(line, "top:");
      if (!top && !StartsWith(line, "sub:")) return true;
      const auto f = Fields(line, top ? 5 : 6);
      if (!f) {
        why = dumptext::AtLine(n, "malformed line " + dumptext::Quote(line) +
                                      " (want top:LEAF:EAX:EBX:ECX:EDX or "
                                      "sub:LEAF:SUB:EAX:EBX:ECX:EDX)");
        return false;
      }
      const std::vector<std::uint32_t>& v = *f;
      if (top) {
        p.Cpuid[v[0]] = {v[1], v[2], v[3], v[4]};
      } else if (v[1] == 0) {
        p.Cpuid[v[0]] = {v[2], v[3], v[4], v[5]};
      }
      return true;
    });
    if (!ok) return false;
    out.Processors.push_back(std::move(p));
    return true;
  }
};

}  // namespace

const DumpLayout& Cpuid2CpuflagsLayout() {
  static const Cpuid2CpuflagsReader kReader;
  return kReader;
}

}  // namespace torv
