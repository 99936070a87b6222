// The XML files of the RJCP.DLL.CpuId library (its test corpus and what its
// tools write): one <processor> element per processor, each leaf as
//   <register eax="00000001" ecx="00000000">00000652,00000000,00000000,0183FBFF</register>
// with the leaf in the eax attribute, the sub-leaf in ecx and the values EAX,
// EBX, ECX, EDX. The file states no clock.
#include <array>
#include <optional>

#include "machine/dump_layout.h"

namespace torv {

namespace {

using dumptext::Hex32;
using dumptext::Trim;
using dumptext::Words;

// The value of attribute `name` in the tag text `tag`, or nothing.
std::optional<std::string_view> Attribute(std::string_view tag, std::string_view name) {
  std::size_t at = 0;
  while ((at = tag.find(name, at)) != std::string_view::npos) {
    const bool wordStart = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' ||
                                      tag[at - 1] == '\n' || tag[at - 1] == '\r');
    std::string_view rest = Trim(tag.substr(at + name.size()));
    at += name.size();
    if (!wordStart || rest.empty() || rest.front() != '=') continue;
    rest = Trim(rest.substr(1));
    if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) return std::nullopt;
    const auto close = rest.find(rest.front(), 1);
    if (close == std::string_view::npos) return std::nullopt;
    return rest.substr(1, close - 1);
  }
  return std::nullopt;
}

// The line number of offset `pos` in `text`.
int LineOf(std::string_view text, std::size_t pos) {
  int n = 1;
  for (std::size_t i = 0; i < pos && i < text.size(); ++i) n += text[i] == '\n' ? 1 : 0;
  return n;
}

class RjcpXmlReader : public DumpLayout {
 public:
  std::string_view Name() const override { return "RJCP.DLL.CpuId XML"; }

  bool Recognises(std::string_view text) const override {
    const std::string_view head = text.substr(0, 1 << 12);
    return head.find("<cpuid") != std::string_view::npos &&
           text.find("<register") != std::string_view::npos;
  }

  bool Read(std::string_view text, DumpReading& out, std::string& why) const override {
    std::size_t pos = 0;
    bool inProcessor = false;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
      const auto end = text.find('>', pos);
      if (end == std::string_view::npos) {
        why = dumptext::AtLine(LineOf(text, pos), "a tag that does not end");
        return false;
      }
      const std::string_view tag = text.substr(pos + 1, end - pos - 1);
      if (tag.starts_with("processor")) {
        out.Processors.emplace_back();
        inProcessor = true;
      } else if (tag.starts_with("/processor")) {
        inProcessor = false;
      } else if (tag.starts_with("register")) {
        const auto close = text.find('<', end);
        const std::string_view body =
            text.substr(end + 1, close == std::string_view::npos ? 0 : close - end - 1);
        if (!Register(tag, body, inProcessor, out)) {
          why = dumptext::AtLine(LineOf(text, pos),
                                 "malformed register element (want <register eax=\"LEAF\" "
                                 "ecx=\"SUB\">EAX,EBX,ECX,EDX</register> inside <processor>)");
          return false;
        }
      }
      pos = end + 1;
    }
    std::erase_if(out.Processors, [](const DumpProcessor& p) { return p.Cpuid.empty(); });
    if (out.Processors.empty()) {
      why = "no <processor> element holds a <register> element: nothing identifies a processor";
      return false;
    }
    return true;
  }

 private:
  static bool Register(std::string_view tag, std::string_view body, bool inProcessor,
                       DumpReading& out) {
    if (!inProcessor) return false;
    const auto eax = Attribute(tag, "eax");
    const auto ecx = Attribute(tag, "ecx");
    const auto leaf = eax ? Hex32(*eax) : std::nullopt;
    const auto sub = ecx ? Hex32(*ecx) : std::optional<std::uint32_t>(0);
    const auto values = Words(body, ",");
    if (!leaf || !sub || values.size() != 4) return false;
    std::array<std::uint32_t, 4> regs{};
    for (std::size_t i = 0; i < 4; ++i) {
      const auto v = Hex32(values[i]);
      if (!v) return false;
      regs[i] = *v;
    }
    if (*sub == 0) out.Processors.back().Cpuid[*leaf] = regs;
    return true;
  }
};

}  // namespace

const DumpLayout& RjcpXmlLayout() {
  static const RjcpXmlReader kReader;
  return kReader;
}

}  // namespace torv
