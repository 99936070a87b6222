// The summary of saved logs: each processor's report in a log (as /SAVE and
// the Save button write it, in any of the three report languages) read back
// into one line: processor, clock, system clock x ratio, second-level cache
// with its ECC, and the verdict in a word.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "report/torvlan.h"

namespace torv {

// The verdict of one report in a word.
//   Alarm:      the verdict wrote one of its warnings: the system clock above
//               or below what the part allows (also "Autodetection ...
//               disabled", which stands for a clock too high), the 300 MHz
//               part without ECC, or the stepping-0 Deschutes above 333 MHz.
//               The caution that genuine 400/450 MHz parts can be jumpered
//               lower is no alarm.
//   AllClear:   no warning, and the verdict's "No irregularities detected",
//               which it writes only when every check could be made.
//   NotChecked: everything else: no verdict (a processor outside the Pentium
//               Pro / Pentium II family, /NOL2, a log cut short), a verdict
//               whose checks could not all be made (registers not in a dump,
//               clock not measured), or a processor the run could not
//               analyse (not reached, no analysis thread).
enum class ChipVerdict { AllClear, Alarm, NotChecked };

// What one processor's report in a log says. Texts are the log's own bytes
// (code page 1252), trimmed; empty when the report did not say.
struct ChipSummary {
  int Number = 0;           // the processor's number in the log, from 1
  std::string Processor;    // "Pentium II, Deschutes", "PPro", or the name
  std::string Clock;        // "450.0 MHz"
  std::string SystemClock;  // measured, "100.2 MHz"
  std::string Ratio;        // "4.5"
  std::string L2Size;       // "512 KB", or the report's word for none
  enum class Ecc { Unknown, Present, Absent } L2Ecc = Ecc::Unknown;
  bool NoL2 = false;  // the cache does not exist or is disabled
  ChipVerdict Verdict = ChipVerdict::NotChecked;
};

// The processors of a log's bytes, in order; empty when the bytes are no
// log (no report's "CPUID" line nor a processor that could not be reached).
// Any bytes are safe: lines of any length, no line ends, NUL bytes.
std::vector<ChipSummary> ReadLogSummary(std::string_view bytes);

// The summary line of one processor of file `fileName` (code page 1252), in
// the language of `m`: file, processor number, processor, clock, system
// clock x ratio, cache and ECC, verdict.
std::string SummaryLine(const LangRec& m, std::string_view fileName, const ChipSummary& chip);
// The line for a file that is skipped: its name and `why`.
std::string SkippedLine(std::string_view fileName, std::string_view why);

}  // namespace torv
