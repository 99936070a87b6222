// A simulated machine's profile written as text, in the forms the profile
// reader takes: what /DUMP writes, and what reads back into the same machine.
#include <string>
#include <vector>

#include "machine/sim.h"
#include "report/utility.h"

namespace torv {

namespace {

// Text for a value or a comment: one line, and nothing that the reader would
// take for the start of a comment.
std::string OneLine(std::string_view text) {
  std::string s(text);
  for (char& c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '#') c = '?';
  }
  return s;
}

std::string MsrText(std::uint64_t v) {
  return HexWord(static_cast<std::uint16_t>(v >> 48)) + "-" +
         HexWord(static_cast<std::uint16_t>(v >> 32)) + "-" +
         HexWord(static_cast<std::uint16_t>(v >> 16)) + "-" + HexWord(static_cast<std::uint16_t>(v));
}

void Processor(std::string& out, const SimProcessor& p, const std::vector<std::string>& notes) {
  for (const std::string& n : notes) out += "# " + OneLine(n) + "\n";
  if (p.ClockHz != 0) out += "clock = " + std::to_string(p.ClockHz) + "\n";
  if (p.CpuidMode == SimCpuidMode::Off) out += "cpuid = off\n";
  if (p.CpuidMode == SimCpuidMode::Cyrix) out += "cpuid = cyrix\n";
  if (p.CpuidFailsAt != 0) out += "cpuidfail = " + std::to_string(p.CpuidFailsAt) + "\n";
  if (p.DivFlagsUnchanged) out += "divflags = unchanged\n";
  if (p.MsrDenied) out += "msraccess = denied\n";
  if (p.MsrReadOnly) out += "msraccess = readonly\n";
  for (const auto& [leaf, r] : p.AllCpuid()) {
    out += "CPUID " + HexDword(leaf) + ": " + HexDword(r[0]) + "-" + HexDword(r[1]) + "-" +
           HexDword(r[2]) + "-" + HexDword(r[3]) + "\n";
  }
  // The registers every processor has from the start are written only where
  // they differ from it; a published dump's, exactly those it holds.
  const SimProcessor start;
  for (const auto& [reg, value] : p.AllMsr()) {
    const auto given = start.Msr.find(reg);
    if (p.FromDump ? IsStartRegister(reg) && p.DumpMsrs.count(reg) == 0
                   : given != start.Msr.end() && given->second == value) {
      continue;
    }
    out += "MSR " + HexDword(reg) + ": " + MsrText(value) + "\n";
  }
  for (std::size_t r = 0; r < p.L2Reg.size(); ++r) {
    if (p.L2Reg[r] != 0 || (p.FromDump && p.DumpL2Config)) {
      out += "l2reg " + std::to_string(r) + " = " + HexByte(p.L2Reg[r]) + "\n";
    }
  }
  if (!p.FromDump || p.DumpEccTest) out += p.L2Ecc ? "l2ecc = yes\n" : "l2ecc = no\n";
  if (p.L2BusyStuck) out += "l2busy = stuck\n";
  if (p.L2DelayMs != 0) out += "l2delay = " + std::to_string(p.L2DelayMs) + "\n";
}

bool SameProcessor(const SimProcessor& a, const SimProcessor& b) {
  return a.AllCpuid() == b.AllCpuid() && a.AllMsr() == b.AllMsr() && a.ClockHz == b.ClockHz &&
         a.L2Reg == b.L2Reg && a.L2Ecc == b.L2Ecc && a.L2BusyStuck == b.L2BusyStuck &&
         a.L2DelayMs == b.L2DelayMs &&
         a.DivFlagsUnchanged == b.DivFlagsUnchanged && a.CpuidMode == b.CpuidMode &&
         a.CpuidFailsAt == b.CpuidFailsAt && a.MsrDenied == b.MsrDenied &&
         a.MsrReadOnly == b.MsrReadOnly && a.FromDump == b.FromDump &&
         (!a.FromDump || (a.DumpMsrs == b.DumpMsrs && a.DumpL2Config == b.DumpL2Config &&
                          a.DumpEccTest == b.DumpEccTest));
}

}  // namespace

bool SameMachine(const SimProfile& a, const SimProfile& b) {
  if (a.Processors.size() != b.Processors.size() || a.CyrixBank != b.CyrixBank ||
      a.PicMirrored != b.PicMirrored || (a.CyrixBank && a.CyrixRegs != b.CyrixRegs)) {
    return false;
  }
  for (std::size_t i = 0; i < a.Processors.size(); ++i) {
    if (!SameProcessor(a.Processors[i], b.Processors[i])) return false;
  }
  return true;
}

std::string WriteProfile(const SimProfile& profile, const std::vector<std::string>& comments,
                         const std::vector<std::vector<std::string>>& notes) {
  std::string out;
  for (const std::string& c : comments) out += "# " + OneLine(c) + "\n";
  if (!profile.Description.empty()) out += "name = " + OneLine(profile.Description) + "\n";
  if (profile.PicMirrored) out += "pic = mirrored\n";
  if (profile.CyrixBank) {
    // The configuration registers of the machine, whichever processor reads them.
    bool any = false;
    for (std::size_t i = 0; i < profile.CyrixRegs.size(); ++i) {
      if (profile.CyrixRegs[i] == 0) continue;
      out += "cyrix " + HexByte(static_cast<std::uint8_t>(i)) + " = " +
             HexByte(profile.CyrixRegs[i]) + "\n";
      any = true;
    }
    if (!any) out += "cyrix C0 = 00\n";  // the registers are there, and all read zero
  }
  // A published dump's registers that it lacks stay unread on replay.
  const bool published = !profile.Processors.empty() && profile.Processors.front().FromDump;
  out += published ? "published = yes\n" : "published = no\n";
  out += "processors = " + std::to_string(profile.Processors.size()) + "\n";
  for (std::size_t i = 0; i < profile.Processors.size(); ++i) {
    out += "\n[processor " + std::to_string(i + 1) + "]\n";
    Processor(out, profile.Processors[i], i < notes.size() ? notes[i] : std::vector<std::string>{});
  }
  return out;
}

}  // namespace torv
