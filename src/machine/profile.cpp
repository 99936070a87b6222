// The profile text of a simulated machine: one setting a line, '#' starts a
// comment; and the choice of reader. A published layout with a reader of its
// own (dump_layout.h: CPU-Z, RJCP XML, IC Book Labs, VirtualBox, VB CPUID,
// cpuid2cpuflags) is known by its content and read by it; every other text
// is read here line by line, where the lines of InstLatx64, EVEREST, AIDA64,
// cpuid -r and libcpuid (line_layouts.h) stand beside the settings: every
// line is a setting, a CPUID or MSR line, a processor header, or a dump's own
// text, which is ignored.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "driver/hw.h"
#include "machine/dump_layout.h"
#include "machine/line_layouts.h"
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

bool IsStartRegister(std::uint32_t reg) {
  static const SimProcessor kStart;
  return kStart.Msr.count(reg) != 0;
}

bool SimProcessor::HoldsMsr(std::uint32_t reg) const {
  if (!FromDump) return true;
  return IsStartRegister(reg) ? DumpMsrs.count(reg) != 0 : FindMsr(reg) != nullptr;
}

const std::array<std::uint32_t, 4>* SimProcessor::FindCpuid(std::uint32_t leaf) const {
  if (const auto it = Cpuid.find(leaf); it != Cpuid.end()) return &it->second;
  if (Shared) {
    if (const auto it = Shared->Cpuid.find(leaf); it != Shared->Cpuid.end()) return &it->second;
  }
  return nullptr;
}

const std::uint64_t* SimProcessor::FindMsr(std::uint32_t reg) const {
  if (const auto it = Msr.find(reg); it != Msr.end()) return &it->second;
  if (Shared) {
    if (const auto it = Shared->Msr.find(reg); it != Shared->Msr.end()) return &it->second;
  }
  return nullptr;
}

SimCpuidTable SimProcessor::AllCpuid() const {
  SimCpuidTable all = Cpuid;
  if (Shared) all.insert(Shared->Cpuid.begin(), Shared->Cpuid.end());  // own values stay
  return all;
}

SimMsrTable SimProcessor::AllMsr() const {
  SimMsrTable all = Msr;
  if (Shared) all.insert(Shared->Msr.begin(), Shared->Msr.end());
  return all;
}

namespace {

using lines::Decimal;
using lines::Hex;
using lines::HeaderKind;
using lines::IsDigit;
using lines::ProcessorHeader;
using lines::Quote;
using lines::Split;
using lines::StartsWith;
using lines::Trim;

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

// A '#' starts a comment, except where a dump writes it as part of a
// processor number ("CPU #1", "CPU#000", "Logical CPU #0") or inside a
// bracketed note ("[Hv#1]").
std::string_view WithoutComment(std::string_view line) {
  int depth = 0;
  // A '#' is inside a note when a ']' still follows it: the last ']' of the
  // line, found once, so that a long line is read in one pass.
  const std::size_t lastClose = line.rfind(']');
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '[') {
      ++depth;
    } else if (c == ']') {
      if (depth > 0) --depth;
    } else if (c == '#') {
      const std::string_view before = line.substr(0, i);
      const bool number = (before.ends_with("CPU") || before.ends_with("CPU ")) &&
                          i + 1 < line.size() && IsDigit(line[i + 1]);
      const bool inNote = depth > 0 && lastClose != std::string_view::npos && lastClose > i;
      if (!number && !inNote) return line.substr(0, i);
    }
  }
  return line;
}

// The processor headers of the layouts read line by line:
//   "------[ Logical CPU #0 ]------" and its kin (EVEREST, AIDA, AIDA64),
//   "CPU 0:" and "CPU:" (the raw listing of cpuid -r),
//   "_________________ Logical CPU #0 _________________" (libcpuid's raw save).
std::optional<ProcessorHeader> FindProcessorHeader(std::string_view line) {
  if (auto h = lines::AidaHeader(line)) return h;
  if (auto h = lines::CpuidRHeader(line)) return h;
  return lines::LibcpuidHeader(line);
}

// CPUID and MSR lines in every form a published dump writes them.
bool IsRegisterLine(std::string_view line) {
  if (StartsWith(line, "CPUID ")) return lines::NumberFollows(line.substr(6));
  if (StartsWith(line, "MSR ")) return lines::NumberFollows(line.substr(4));
  return lines::IsCpuidRLine(line) || lines::IsLibcpuidLine(line);
}

// A performance counter below this frequency counts one of the PC's timers
// (1.19 MHz, 3.58 MHz, 7.16 MHz, 14.3 MHz), not the processor's clock: the
// time-stamp counter of the slowest Pentium runs at 60 MHz.
constexpr std::uint64_t kLowestCounterClockHz = 50'000'000;

// The settings' names; "l2reg" and "cyrix" take a register after the name.
constexpr std::string_view kSettingNames[] = {
    "name",  "processors", "clock",     "l2reg",    "l2ecc", "l2busy",    "l2delay",
    "cyrix", "cpuid",      "cpuidfail", "divflags", "pic",   "msraccess", "published",
};
bool TakesRegister(std::string_view name) {
  return name == "l2reg" || name == "cyrix";
}

// A setting's name in any case: "Clock = ..." is a mistyped setting, not a
// dump's header line.
bool IsSettingName(std::string_view key) {
  std::string lower;
  for (char c : key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (std::string_view k : kSettingNames) {
    if (!TakesRegister(k)) {
      if (lower == k) return true;
      continue;
    }
    // "l2reg 2", "cyrix C3"; "Cyrix CPU Revision" is a dump's header.
    const std::string prefix = std::string(k) + " ";
    if (StartsWith(lower, prefix) &&
        Trim(lower.substr(prefix.size())).find(' ') == std::string::npos) {
      return true;
    }
  }
  return false;
}

// The processor a line applies to: 0 and up a processor of the profile, or
// one of these.
constexpr int kEveryProcessor = -1;  // the settings before the first section
constexpr int kLeftOut = -2;         // a processor of a dump beyond the ones kept

// What one line was, for telling a profile that sets something from one that
// holds only comments or a dump's text.
enum class LineKind { Setting, Register, Fact, Header, Text };

class Parser {
 public:
  Parser(std::string_view source, SimProfile& out, std::string& error)
      : source_(source), out_(out), error_(error) {}

  bool Run(std::string_view text) {
    // The register set every processor starts with is shared, not copied.
    shared_->Msr.swap(template_.Msr);
    SetCurrent(kEveryProcessor);
    std::size_t pos = 0;
    for (;;) {
      ++lineNo_;
      const auto nl = text.find('\n', pos);
      const std::string_view line = Trim(WithoutComment(
          text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos)));
      if (!line.empty()) {
        LineKind kind = LineKind::Text;
        if (!Line(line, kind)) return false;
        Count(kind);
      }
      if (nl == std::string_view::npos) break;
      pos = nl + 1;
    }
    MakeProcessors(static_cast<std::size_t>(count_));
    for (SimProcessor& p : out_.Processors) p.Shared = shared_;
    DumpDefaults();
    if (dumpProcessors_ > static_cast<std::size_t>(kSimMaxProcessors)) {
      std::string note(source_);
      note.append(": the dump lists ")
          .append(std::to_string(dumpProcessors_))
          .append(" processors; the first ")
          .append(std::to_string(kSimMaxProcessors))
          .append(" are simulated");
      out_.Note = note;
    }
    return true;
  }

  // Lines that set something (not blank, not a comment, not a dump's text);
  // a dump that names its processors but lists none of their registers sets
  // nothing.
  int Settings() const { return processorHeaders_ && ownLines_ == 0 ? 0 : settings_; }

 private:
  void Count(LineKind kind) {
    switch (kind) {
      case LineKind::Setting:
      case LineKind::Register:
        ++settings_;
        ++ownLines_;
        break;
      case LineKind::Fact:
        ++settings_;
        break;
      case LineKind::Header:
        processorHeaders_ = true;
        break;
      case LineKind::Text:
        break;
    }
  }

  bool Fail(const std::string& what) {
    error_ = std::string(source_) + ":" + std::to_string(lineNo_) + ": " + what;
    return false;
  }

  bool Line(std::string_view line, LineKind& kind) {
    if (line.front() == '[') {
      kind = LineKind::Setting;
      ++ownSettings_;
      return Section(line);
    }
    if (const auto header = FindProcessorHeader(line)) {
      kind = LineKind::Header;
      dumpMarks_ = true;
      return Header(*header);
    }
    if (lines::DumpSection(line)) {
      // Another section of a dump: its lines are the dump's text.
      allProcessors_ = false;
      dumpMarks_ = true;
      return true;
    }
    if (IsRegisterLine(line)) {
      kind = LineKind::Register;
      // The CPUID and MSR lines of the settings are also InstLatx64's and
      // AIDA's; the raw listing of cpuid -r and libcpuid's arrays are a
      // dump's alone.
      if (!StartsWith(line, "CPUID ") && !StartsWith(line, "MSR ")) dumpMarks_ = true;
      return RegisterLine(line);
    }
    if (!allProcessors_) return Other(line, kind);
    // Every processor, and the settings that later processors start from.
    const int current = currentIndex_;
    bool ok = true;
    for (int i = kEveryProcessor; ok && i < static_cast<int>(out_.Processors.size()); ++i) {
      SetCurrent(i);
      ok = Other(line, kind);
    }
    SetCurrent(current);
    return ok;
  }

  // A line that is neither a section, a processor header nor a register
  // line: a setting, a dump's header line with a fact, or a dump's text.
  bool Other(std::string_view line, LineKind& kind) {
    const auto eq = line.find('=');
    const auto colon = line.find(':');
    if (eq != std::string_view::npos && (colon == std::string_view::npos || eq < colon)) {
      const std::string_view key = Trim(line.substr(0, eq));
      const std::string_view value = Trim(line.substr(eq + 1));
      // libcpuid's raw save opens with its version.
      if (key == "version") {
        dumpMarks_ = true;
        return true;
      }
      // The settings are in lower case; "Name = value" lines of a dump
      // ("PerformanceFrequency = 333040000") have capitalised names.
      if (key.empty() || IsSettingName(key) ||
          std::islower(static_cast<unsigned char>(key.front()))) {
        kind = LineKind::Setting;
        if (key != "published") ++ownSettings_;
        return Setting(key, value);
      }
      return DumpHeader(key, value, kind);
    }
    if (colon != std::string_view::npos && std::isalpha(static_cast<unsigned char>(line.front()))) {
      const std::string_view name = Trim(line.substr(0, colon));
      // "clock: 450000000" is a setting written wrongly, not a header line.
      if (IsSettingName(name)) return Fail("unrecognised line " + Quote(line));
      return DumpHeader(name, Trim(line.substr(colon + 1)), kind);
    }
    // A line in lower case is meant as a setting; a dump writes its other
    // text (tables, notes, "< FAILED >") in any other way.
    if (std::islower(static_cast<unsigned char>(line.front()))) {
      return Fail("unrecognised line " + Quote(line));
    }
    return true;
  }

  // Processor 1 (index 0) to n, the settings before the first section, or a
  // processor left out.
  void SetCurrent(int index) {
    currentIndex_ = index;
    current_ = index == kEveryProcessor ? &template_
               : index == kLeftOut      ? &leftOut_
                                        : &out_.Processors[static_cast<std::size_t>(index)];
  }

  // Processors 1 to n exist from here on; new ones start as copies of the
  // settings before the first section.
  void MakeProcessors(std::size_t n) {
    if (!inSections_) {
      out_.Processors.clear();
      eccGiven_.clear();
      l2RegGiven_.clear();
      ownMsrs_.clear();
      inSections_ = true;
    }
    if (out_.Processors.size() < n) {
      out_.Processors.resize(n, template_);
      eccGiven_.resize(n, templateEccGiven_ ? 1 : 0);
      l2RegGiven_.resize(n, templateL2RegGiven_ ? 1 : 0);
      ownMsrs_.resize(n);
    }
    count_ = static_cast<int>(out_.Processors.size());
    if (currentIndex_ >= 0) SetCurrent(currentIndex_);  // the vector may have moved
  }

  // A dump's processor header. The k-th header that starts a processor is
  // processor k, whether the dump counts from 0 or from 1; the dump's own
  // number finds it again for a later register section of that processor.
  bool Header(const ProcessorHeader& h) {
    allProcessors_ = false;
    switch (h.Kind) {
      case HeaderKind::AllMsrs:
        allProcessors_ = true;
        if (currentIndex_ == kLeftOut) SetCurrent(kEveryProcessor);
        return true;
      case HeaderKind::ProcessorMsrs: {
        const auto it = h.Number ? numbers_.find(*h.Number) : numbers_.end();
        SetCurrent(it == numbers_.end() ? kLeftOut : it->second);
        return true;
      }
      case HeaderKind::NextProcessor:
        break;
    }
    const std::size_t n = ++dumpProcessors_;
    if (n > static_cast<std::size_t>(kSimMaxProcessors)) {
      SetCurrent(kLeftOut);
      return true;
    }
    MakeProcessors(std::max(n, static_cast<std::size_t>(count_)));
    SetCurrent(static_cast<int>(n - 1));
    if (h.Number) numbers_.emplace(*h.Number, static_cast<int>(n - 1));
    return true;
  }

  // A dump's "Name : value" or "Name = value" header line. Three of them
  // carry facts of the machine: its clock, twice, and the Cyrix device
  // identification registers; the rest are left alone.
  bool DumpHeader(std::string_view name, std::string_view value, LineKind& kind) {
    if (name == "PerformanceFrequency") {
      const auto hz = Decimal(value, kSimMaxClockHz);
      if (!hz) return Fail("bad value " + Quote(value) + " for 'PerformanceFrequency' (want Hz)");
      counterHz_ = *hz;
    } else if (name == "CPU Type") {
      typeHz_ = lines::MhzInText(value);
    } else if (name == "Cyrix CPU Revision") {
      std::string_view digits = value;
      if (!digits.empty() && (digits.back() == 'h' || digits.back() == 'H')) {
        digits.remove_suffix(1);
      }
      const auto v = digits.size() == 4 ? Hex(digits, 4) : std::nullopt;
      if (!v) return Fail("bad value " + Quote(value) + " for 'Cyrix CPU Revision' (want XXYYh)");
      cyrixRevision_ = static_cast<std::uint16_t>(*v);
    } else {
      return true;
    }
    kind = LineKind::Fact;
    return true;
  }

  // A published dump: the file is marked so, or it has a dump's marks
  // (processor headers, sections, the raw listings), or it sets nothing of
  // the program's own profile settings (InstLatx64's bare CPUID lines). A
  // dump's header lines ("CPU Type : ...") are no mark: the program's own
  // profiles quote them. Marked "published = no" it is a profile of the program's
  // own, whose registers exist and read zero unless set.
  bool Published() const { return published_.value_or(dumpMarks_ || ownSettings_ == 0); }

  // What a dump says, for what the profile's own lines leave open: the clock,
  // the ECC bits of the cache, DIR0 and DIR1; and, for a published dump, what
  // it holds.
  void DumpDefaults() {
    const std::uint64_t dumpHz = counterHz_ >= kLowestCounterClockHz ? counterHz_ : typeHz_;
    const bool published = Published();
    for (std::size_t i = 0; i < out_.Processors.size(); ++i) {
      SimProcessor& p = out_.Processors[i];
      if (p.ClockHz == 0) p.ClockHz = dumpHz;
      // Cache SRAMs with ECC bits go with ECC checking on in BBL_CR_CTL3.
      const std::uint64_t* ctl3 = p.FindMsr(kMsrBblCtl3);
      const bool eccOn = ctl3 != nullptr && (*ctl3 & 0x20) != 0;
      if (eccGiven_[i] == 0) p.L2Ecc = eccOn;
      if (!published) continue;
      p.FromDump = true;
      p.DumpMsrs = sharedMsrs_;
      p.DumpMsrs.insert(ownMsrs_[i].begin(), ownMsrs_[i].end());
      p.DumpL2Config = l2RegGiven_[i] != 0;
      // Without ECC checking on, a dump says nothing of the SRAMs' ECC bits.
      p.DumpEccTest = eccGiven_[i] != 0 || (p.DumpMsrs.count(kMsrBblCtl3) != 0 && eccOn);
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

  // A register line of the layouts read line by line (line_layouts.h): its
  // leaf or register kept, or its fault.
  bool RegisterLine(std::string_view line) {
    lines::RegisterValue v;
    std::string error;
    bool msr = false;
    bool ok = false;
    if (StartsWith(line, "CPUID ")) {
      ok = lines::ReadCpuidLine(line.substr(6), v, error);
    } else if (StartsWith(line, "MSR ")) {
      msr = true;
      ok = lines::ReadMsrLine(line.substr(4), v, error);
    } else if (lines::IsCpuidRLine(line)) {
      ok = lines::ReadCpuidRLine(line, v, error);
    } else {
      ok = lines::ReadLibcpuidLine(line, v, error);
    }
    if (!ok) return Fail(error);
    if (v.Keep && msr) StoreMsr(v.Number, v.Msr);
    if (v.Keep && !msr) StoreCpuid(v.Number, v.Regs);
    return true;
  }

  // Where a line's leaf or register goes: the shared tables (before the
  // first section, or in a register section for every processor), the
  // current processor's own, or nowhere for a processor left out.
  template <typename Table>
  void Store(Table SimSharedTables::*shared, Table SimProcessor::*own, std::uint32_t key,
             const typename Table::mapped_type& value) {
    if (currentIndex_ == kLeftOut) return;
    if (currentIndex_ == kEveryProcessor || allProcessors_) {
      ((*shared_).*shared)[key] = value;
      for (SimProcessor& p : out_.Processors) (p.*own).erase(key);
    } else {
      ((*current_).*own)[key] = value;
    }
  }
  void StoreCpuid(std::uint32_t leaf, const std::array<std::uint32_t, 4>& regs) {
    Store(&SimSharedTables::Cpuid, &SimProcessor::Cpuid, leaf, regs);
  }
  void StoreMsr(std::uint32_t reg, std::uint64_t value) {
    Store(&SimSharedTables::Msr, &SimProcessor::Msr, reg, value);
    // Which of the registers every processor starts with the lines name, for
    // a published dump (any other register is there only where named).
    if (!IsStartRegister(reg)) return;
    if (currentIndex_ == kEveryProcessor || allProcessors_) {
      sharedMsrs_.insert(reg);
    } else if (currentIndex_ >= 0) {
      ownMsrs_[static_cast<std::size_t>(currentIndex_)].insert(reg);
    }
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
      if (currentIndex_ == kEveryProcessor) {
        templateL2RegGiven_ = true;
      } else if (currentIndex_ >= 0) {
        l2RegGiven_[static_cast<std::size_t>(currentIndex_)] = 1;
      }
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
      if (currentIndex_ == kEveryProcessor) {
        templateEccGiven_ = true;
      } else if (currentIndex_ >= 0) {
        eccGiven_[static_cast<std::size_t>(currentIndex_)] = 1;
      }
      return Choice(key, value, "yes", true, "no", false, p.L2Ecc);
    }
    if (key == "published") {
      bool published = false;
      if (!Choice(key, value, "yes", true, "no", false, published)) return false;
      published_ = published;
      return true;
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
  SimProcessor leftOut_;  // takes the settings of a processor left out
  std::shared_ptr<SimSharedTables> shared_ = std::make_shared<SimSharedTables>();
  SimProcessor* current_ = nullptr;
  int currentIndex_ = kEveryProcessor;
  int count_ = 1;
  bool inSections_ = false;
  int lineNo_ = 0;
  int settings_ = 0;
  int ownLines_ = 0;               // settings other than a dump's header lines
  bool processorHeaders_ = false;  // a dump's processor header was read
  // What a published dump adds.
  bool allProcessors_ = false;  // in its register section for every processor
  std::size_t dumpProcessors_ = 0;
  std::map<std::uint64_t, int> numbers_;  // the dump's processor numbers, by index
  std::uint64_t counterHz_ = 0;           // "PerformanceFrequency"
  std::uint64_t typeHz_ = 0;              // the MHz of "CPU Type"
  std::optional<std::uint16_t> cyrixRevision_;
  bool dir0Given_ = false, dir1Given_ = false;
  // Which processors have an "l2ecc" line, and an "l2reg" line.
  bool templateEccGiven_ = false;
  std::vector<char> eccGiven_;
  bool templateL2RegGiven_ = false;
  std::vector<char> l2RegGiven_;
  // Whether the text is a published dump's (see Published).
  std::optional<bool> published_;
  bool dumpMarks_ = false;
  int ownSettings_ = 0;
  // The registers the MSR lines name: for every processor, and each one's.
  std::set<std::uint32_t> sharedMsrs_;
  std::vector<std::set<std::uint32_t>> ownMsrs_;
};

}  // namespace

std::span<const std::string_view> ProfileSettingNames() {
  return kSettingNames;
}

namespace {

// The layouts read, for a refusal.
std::string LayoutList() {
  std::string list = "the profile settings; InstLatx64, EVEREST and AIDA64 dumps; libcpuid's raw "
                     "save; cpuid -r";
  for (const DumpLayout* layout : DumpLayouts()) list += "; " + std::string(layout->Name());
  return list;
}

// A file with no line that is blank or a comment.
bool OnlyComments(std::string_view text) {
  return dumptext::EachLine(text, [](int, std::string_view l) {
    l = dumptext::Trim(l);
    return l.empty() || l.front() == '#';
  });
}

// The line reader's refusal of a foreign file: that it is no layout
// torvacin reads, with the list, rather than the fault of whichever line
// came first.
// A text of a few lines (a mistyped profile keeps its line's fault) none of
// which is a CPUID, MSR or setting line.
bool ForeignText(std::string_view text) {
  int lines = 0;
  const bool nothing = dumptext::EachLine(text, [&lines](int, std::string_view l) {
    l = dumptext::Trim(l);
    if (!l.empty() && l.front() != '#') ++lines;
    return !(dumptext::ContainsNoCase(l, "cpuid") || dumptext::StartsWith(l, "MSR") ||
             dumptext::StartsWith(l, "0x") || l.find('=') != std::string_view::npos ||
             (!l.empty() && l.front() == '['));
  });
  return nothing && lines >= 3;
}

}  // namespace

bool ParseProfile(std::string_view text, std::string_view source, SimProfile& out,
                  std::string& error) {
  error.clear();
  // A UTF-8 byte-order mark, as some editors write one, is not part of the
  // first line.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const std::string where(source);
  if (text.find('\0') != std::string_view::npos) {
    error = where + ": a binary file, not a layout torvacin reads (it reads text: " +
            LayoutList() + ")";
    return false;
  }
  // A published layout of its own, known by its content.
  for (const DumpLayout* layout : DumpLayouts()) {
    if (!layout->Recognises(text)) continue;
    DumpReading reading;
    std::string why;
    SimProfile parsed;
    std::string note;
    if (!layout->Read(text, reading, why) || !ProfileFromDump(reading, parsed, note)) {
      if (why.empty()) why = "it lists no processor";
      error = where + ": " + std::string(layout->Name()) + " that cannot be used: " + why;
      return false;
    }
    parsed.Name = where;
    parsed.Description = where;
    if (!note.empty()) parsed.Note = where + ": " + note;
    out = std::move(parsed);
    return true;
  }
  SimProfile parsed;
  Parser parser(source, parsed, error);
  if (!parser.Run(text)) {
    if (ForeignText(text)) {
      error = where + ": not a layout torvacin reads (no CPUID, MSR or setting line; it reads " +
              LayoutList() + ")";
    }
    return false;
  }
  if (parser.Settings() == 0) {
    error = OnlyComments(text)
                ? where + ": no settings: the profile is empty or holds only comments "
                          "(torvacin /SIM=? lists the catalogue)"
                : where + ": not a layout torvacin reads: its lines hold no CPUID or MSR "
                          "value and no setting (it reads " + LayoutList() + ")";
    return false;
  }
  parsed.Name = std::string(source);
  if (parsed.Description.empty()) parsed.Description = parsed.Name;
  out = std::move(parsed);
  return true;
}

}  // namespace torv
