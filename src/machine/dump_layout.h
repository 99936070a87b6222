// The published CPU dump layouts that are read beside the profile's own
// lines: each layout has a reader of its own (layout_*.cpp) behind one
// interface, chosen by the file's content (profile.cpp asks them in turn).
// The helpers below are what the readers share: lines with their numbers,
// words, hexadecimal and clock values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "machine/sim.h"

namespace torv {

// One processor as a dump gives it.
struct DumpProcessor {
  SimCpuidTable Cpuid;        // sub-leaf 0 of every leaf the dump holds
  SimMsrTable Msr;            // the registers the dump holds
  std::uint64_t ClockHz = 0;  // the clock the dump states; 0 when none
};

struct DumpReading {
  std::vector<DumpProcessor> Processors;  // in the dump's order
};

class DumpLayout {
 public:
  virtual ~DumpLayout() = default;
  // The layout's name in messages and README ("CPU-Z TXT report").
  virtual std::string_view Name() const = 0;
  // Whether `text` is of this layout, by marks that only it has.
  virtual bool Recognises(std::string_view text) const = 0;
  // Reads the processors; false with `why` ("line N: what is wrong", or why
  // the file cannot be used) otherwise.
  virtual bool Read(std::string_view text, DumpReading& out, std::string& why) const = 0;
};

// The readers, in the order they are asked.
const DumpLayout& CpuzLayout();
const DumpLayout& RjcpXmlLayout();
const DumpLayout& IcBookLayout();
const DumpLayout& VirtualBoxLayout();
const DumpLayout& VbCpuidLayout();
const DumpLayout& Cpuid2CpuflagsLayout();
std::span<const DumpLayout* const> DumpLayouts();

// The processors of a dump as a profile: every register it lacks is one the
// analysis takes as not read (SimProcessor::FromDump). At most
// kSimMaxProcessors are kept; `note` says how many were left out.
bool ProfileFromDump(const DumpReading& reading, SimProfile& out, std::string& note);

namespace dumptext {

std::string_view Trim(std::string_view s);
bool StartsWith(std::string_view s, std::string_view prefix);
// Case-insensitive StartsWith.
bool StartsWithNoCase(std::string_view s, std::string_view prefix);
bool ContainsNoCase(std::string_view s, std::string_view part);

// Calls `f(lineNumber, line)` for every line (without its line end); stops
// and returns false when `f` does.
template <typename F>
bool EachLine(std::string_view text, F&& f) {
  int n = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    const auto nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? text.npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!f(++n, line)) return false;
    if (nl == std::string_view::npos) break;
    pos = nl + 1;
  }
  return true;
}

// The words of a line, split at blanks, tabs and the characters in `more`.
std::vector<std::string_view> Words(std::string_view line, std::string_view more = "");

// A 32-bit value written in hexadecimal: "0000002A", "0x0000002A", "2Ah";
// at most 8 digits.
std::optional<std::uint32_t> Hex32(std::string_view word);

// The clock in a text such as "350.2 MHz (3.5 x 100.1 MHz)" or "2.00GHz":
// the number before the first "MHz" or "GHz", in Hz; 0 when there is none.
std::uint64_t ClockInText(std::string_view text);

// "line N: what".
std::string AtLine(int line, std::string_view what);

// A short, printable quotation of a line for a message.
std::string Quote(std::string_view s);

}  // namespace dumptext

}  // namespace torv
