#include "report/summary.h"

#include <array>
#include <cctype>

#include "report/language.h"

namespace torv {

namespace {

// The labelled lines of a report: the label and the blanks of its tab fill
// the first 25 columns, the colon stands in column 26; a longer label has
// the colon right after it.
constexpr std::size_t kLabelColumns = 25;
// A line longer than a report line can be is read only so far.
constexpr std::size_t kLineMax = 255;

// The report line of a processor the driver could not log in to: the same
// in every language, its u-umlaut as the log holds it (code page 1252).
constexpr std::string_view kLoginFailed = "Fehler beim Einloggen der gew\xFCnschten CPU";
constexpr std::string_view kNoThreadHead = " Processor ";
constexpr std::string_view kNoThreadTail = " could not be reached: ";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A message table text as the log holds it, trimmed.
std::string Logged(std::string_view oem) {
  return std::string(Trim(TableText(oem)));
}

// The words of one report language, as the log holds them.
struct LogWords {
  std::string Processor, ProcessorCore, ActualClock, SystemClock, Ratio, HasDetected;
  std::string Present, NotPresent, RunFailed, NoIrregularities;
  std::vector<std::string> Alarms;
};

LogWords WordsOf(const LangRec& m) {
  const auto& s = m.Sentences;
  LogWords w;
  w.Processor = Logged(m.Processor);
  w.ProcessorCore = Logged(m.ProcessorCore);
  w.ActualClock = Logged(m.ActualClock);
  w.SystemClock = Logged(m.SystemClock);
  w.Ratio = Logged(m.Ratio) + " (cpu/syst)";
  w.HasDetected = Logged(m.HasDetected);
  w.Present = Logged(m.Present);
  w.NotPresent = Logged(std::string(m.Not.view()) + std::string(m.Present.view()));
  w.RunFailed = Logged(m.RunFailed);
  w.NoIrregularities = Logged(s[NoIrregularities]);
  for (int i : {Fake300Line1, ClockTooHigh, ClockTooLow, FakeStepLine1, AutoDetectOff}) {
    w.Alarms.push_back(Logged(s[static_cast<std::size_t>(i)]));
  }
  return w;
}

const std::array<LogWords, 3>& AllWords() {
  static const std::array<LogWords, 3> words{WordsOf(EnglishRec()), WordsOf(GermanRec()),
                                             WordsOf(DutchRec())};
  return words;
}

template <typename Pick>
bool AnyLanguage(std::string_view text, Pick pick) {
  for (const LogWords& w : AllWords()) {
    if (text == pick(w)) return true;
  }
  return false;
}

int Number(std::string_view digits) {
  if (digits.empty() || digits.size() > 3) return 0;
  int n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The text after the last colon ("default: 66.6 MHz, measured:200.0 MHz"
// gives "200.0 MHz"); empty when there is none.
std::string_view AfterLastColon(std::string_view value) {
  const std::size_t colon = value.rfind(':');
  return colon == std::string_view::npos ? std::string_view() : Trim(value.substr(colon + 1));
}

class LogReader {
 public:
  void Take(std::string_view line) {
    if (line.size() > kLineMax) line = line.substr(0, kLineMax);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view whole = Trim(line);
    if (whole.empty()) return;

    // " Processor 2 could not be reached: the analysis thread ...".
    if (line.starts_with(kNoThreadHead) && line.find(kNoThreadTail) != std::string_view::npos) {
      const std::string_view rest = line.substr(kNoThreadHead.size());
      Start(Number(rest.substr(0, rest.find(' '))), true);
      chips_.back().Verdict = ChipVerdict::NotChecked;
      failed_ = true;
      return;
    }
    if (whole == "CPUID-Error") {
      Start(0, false);
      return;
    }
    if (whole == kLoginFailed ||
        AnyLanguage(whole, [](const LogWords& w) { return std::string_view(w.RunFailed); })) {
      if (!chips_.empty()) failed_ = true;
      return;
    }
    // "                        : No irregularities detected".
    if (whole.front() == ':') {
      if (AnyLanguage(Trim(whole.substr(1)),
                      [](const LogWords& w) { return std::string_view(w.NoIrregularities); })) {
        clear_ = true;
      }
      return;
    }
    for (const LogWords& w : AllWords()) {
      for (const std::string& a : w.Alarms) {
        if (whole == a) alarm_ = true;
      }
    }
    if (line.size() <= kLabelColumns) return;
    const std::size_t colon =
        line[kLabelColumns] == ':' ? kLabelColumns : line.find(':', kLabelColumns);
    if (colon == std::string_view::npos) return;
    const std::string_view label = Trim(line.substr(0, colon));
    const std::string_view value = Trim(line.substr(colon + 1));
    Labelled(label, value);
  }

  std::vector<ChipSummary> Finish() {
    Close();
    return std::move(chips_);
  }

 private:
  void Labelled(std::string_view label, std::string_view value) {
    if (AnyLanguage(label, [](const LogWords& w) { return std::string_view(w.Processor); })) {
      // A log of several processors names each before its report.
      Start(Number(value), true);
      return;
    }
    if (label == "CPUID") {
      Start(0, false);
      return;
    }
    if (chips_.empty() || !open_) return;
    ChipSummary& c = chips_.back();
    if (AnyLanguage(label, [](const LogWords& w) { return std::string_view(w.ProcessorCore); })) {
      c.Processor = std::string(value);
    } else if (AnyLanguage(label,
                           [](const LogWords& w) { return std::string_view(w.ActualClock); })) {
      c.Clock = std::string(value);
    } else if (AnyLanguage(label,
                           [](const LogWords& w) { return std::string_view(w.SystemClock); })) {
      c.SystemClock = std::string(AfterLastColon(value));
    } else if (AnyLanguage(label, [](const LogWords& w) { return std::string_view(w.Ratio); })) {
      c.Ratio = std::string(value);
    } else if (label == "L2 Cache:") {
      c.L2Size = std::string(Trim(value.substr(0, value.find(','))));
    } else if (label == "L2") {
      c.NoL2 = true;
    } else if (label == "L2 ECC") {
      for (const LogWords& w : AllWords()) {
        if (value.starts_with(w.Present)) c.L2Ecc = ChipSummary::Ecc::Present;
        if (value.starts_with(w.NotPresent)) c.L2Ecc = ChipSummary::Ecc::Absent;
      }
    }
  }

  // A new processor's report begins; `named` when the log named its number
  // (a "Processor" line or a processor that could not be reached), which the
  // next "CPUID" line then continues.
  void Start(int number, bool named) {
    if (!named && open_ && pendingName_) {
      pendingName_ = false;
      return;
    }
    Close();
    ChipSummary c;
    c.Number = number > 0 ? number : static_cast<int>(chips_.size()) + 1;
    chips_.push_back(std::move(c));
    open_ = true;
    pendingName_ = named;
  }

  void Close() {
    if (!open_) return;
    ChipSummary& c = chips_.back();
    c.Verdict = failed_  ? ChipVerdict::NotChecked
                : alarm_ ? ChipVerdict::Alarm
                : clear_ ? ChipVerdict::AllClear
                         : ChipVerdict::NotChecked;
    open_ = false;
    pendingName_ = false;
    failed_ = alarm_ = clear_ = false;
  }

  std::vector<ChipSummary> chips_;
  bool open_ = false;
  bool pendingName_ = false;
  bool failed_ = false;
  bool alarm_ = false;
  bool clear_ = false;
};

std::string OrQuestion(const std::string& s) {
  return s.empty() ? std::string("?") : s;
}

}  // namespace

std::vector<ChipSummary> ReadLogSummary(std::string_view bytes) {
  LogReader reader;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    reader.Take(bytes.substr(0, end));
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return reader.Finish();
}

std::string SummaryLine(const LangRec& m, std::string_view fileName, const ChipSummary& chip) {
  // Built by appending: columns of at least their width, two blanks apart.
  std::string line;
  const auto column = [&line](std::string_view text, std::size_t width) {
    if (!line.empty()) line.append(2, ' ');
    line.append(text);
    if (text.size() < width) line.append(width - text.size(), ' ');
  };
  column(fileName, 12);
  column(std::to_string(chip.Number), 2);
  column(OrQuestion(chip.Processor), 22);
  column(OrQuestion(chip.Clock), 10);
  std::string bus = OrQuestion(chip.SystemClock);
  bus.append(" x ");
  bus.append(OrQuestion(chip.Ratio));
  column(bus, 16);
  std::string cache;
  if (chip.NoL2) {
    cache.append(Trim(TableText(m.No)));
    cache.append(" L2");
  } else if (chip.L2Size.empty() && chip.L2Ecc == ChipSummary::Ecc::Unknown) {
    cache = "?";  // the report said nothing of a second-level cache
  } else {
    cache.append(OrQuestion(chip.L2Size));
    cache.append(",");
    if (chip.L2Ecc == ChipSummary::Ecc::Absent) cache.append(TableText(m.No));
    cache.append(" ECC");
    if (chip.L2Ecc == ChipSummary::Ecc::Unknown) cache.append(" ?");
  }
  column(cache, 16);
  const PStr<16>& word = chip.Verdict == ChipVerdict::AllClear ? m.AllClear
                         : chip.Verdict == ChipVerdict::Alarm  ? m.Alarm
                                                               : m.NotChecked;
  column(TableText(word), 0);
  return line;
}

std::string SkippedLine(std::string_view fileName, std::string_view why) {
  std::string line(fileName);
  if (line.size() < 12) line.resize(12, ' ');
  line.append(2, ' ');
  line.append(why);
  return line;
}

}  // namespace torv
