// The three message records: German, English and Dutch words and sentences of
// the report. Stored texts use the OEM codes for the nine characters
// ä ö ü Ä Ö Ü ß § µ; the report screen converts them on output.
#pragma once

#include <array>

#include "report/shortstr.h"

namespace torv {

struct LangRec {
  PStr<4> On;
  PStr<4> Off;
  PStr<4> Is;
  PStr<7> Was;
  PStr<6> Not;
  PStr<5> With;
  PStr<4> At;
  PStr<8> Without;
  PStr<4> And;
  PStr<5> But;
  PStr<5> Or;
  PStr<4> For;
  PStr<5> From;
  PStr<5> No;
  PStr<6> NoFem;
  PStr<6> Under;
  PStr<10> Present;
  PStr<12> Supported;
  PStr<14> Disabled;
  PStr<14> Enabled;
  PStr<9> Measured;
  PStr<13> Detected;
  PStr<10> Found;
  PStr<5> True;
  PStr<7> False;
  PStr<14> Determined;
  PStr<10> Unknown;
  PStr<13> Determinable;
  PStr<7> Active;
  PStr<13> AccordingTo;
  PStr<13> GreaterThan;
  PStr<13> SmallerThan;
  PStr<7> Error;
  PStr<8> Break;
  PStr<9> Default;
  PStr<11> Detection;
  PStr<12> Measurement;
  PStr<9> Result;
  PStr<5> Name;
  PStr<18> GoOnKey;
  PStr<10> Processor;
  PStr<15> ProcessorCore;
  PStr<21> ActualClock;
  PStr<21> SystemClock;
  PStr<14> MainMemory;
  PStr<14> PrimaryCache;
  PStr<16> SecondaryCache;
  PStr<16> Associativity;
  PStr<16> WayAssociative;
  PStr<16> DriverError;
  PStr<28> ErrorOpening;
  PStr<31> ErrorClosing;
  PStr<30> ErrorCopying;
  PStr<15> NotFound;
  PStr<16> AlreadyInUse;
  PStr<16> VersionTooOld;
  PStr<35> NoLoadPermission;
  PStr<14> Ratio;
  PStr<28> HasDetected;
  PStr<7> ErrorCap;
  PStr<40> NotOnCeleron;
  PStr<48> NotPresentOrDisabled;
  PStr<64> OldVxdActive;
  PStr<69> NoVirtualMode;
  // Sentences[1..19]; index 0 is unused.
  std::array<PStr<75>, 20> Sentences;
  // An analysis that ended early: the ECC line and the details listing.
  PStr<48> EccTestFailed;
  PStr<32> L2RegsNotRead;
  // The verdict's checks that could not be made, in place of the all-clear.
  PStr<56> ClockNotChecked;
  PStr<56> BusNotChecked;
  // A published dump that lacks registers: the report's label of the line
  // that names them, and the verdict's checks that rest on them.
  PStr<24> NotInDump;
  PStr<56> RatioNotInDump;
  PStr<56> L2NotInDump;
  PStr<60> EccNotInDump;
  // A processor the run could not analyse (no analysis thread, or the
  // processor could not be reached): the report's last line for it.
  PStr<48> RunFailed;
  // The line after an unattended save: "<n> report(s) saved to <path>".
  PStr<24> ReportSaved;
  PStr<24> ReportsSaved;
  // The summary of a folder of logs: the verdict in a word, and the lines
  // for a file that is skipped and for a folder without a log.
  PStr<16> AllClear;
  PStr<16> Alarm;
  PStr<16> NotChecked;
  PStr<40> NotALog;
  PStr<40> CannotRead;
  PStr<48> NoLogRead;
};

// Sentence indices by entry name.
enum SentenceIndex : int {
  Fake300Line1 = 1,
  Fake300Line2 = 2,
  Fake300Line3 = 3,
  Fake300Line4 = 4,
  Notify1 = 5,
  ClockTooHigh = 6,
  ClockTooLow = 7,
  NoIrregularities = 8,
  MultiProcBootOnly = 9,
  RebootDos1 = 10,
  RebootDos2 = 11,
  FakeStepLine1 = 12,
  FakeStepLine2 = 13,
  FakeStepLine3 = 14,
  FakeStepLine4 = 15,
  Notify2 = 16,
  AutoDetectOff = 17,
  JumperWarning1 = 18,
  JumperWarning2 = 19,
};

// The survey page that Notify1 and Notify2 name.
inline constexpr const char* kSurveyAddress = "https://torvacin.org/survey";

const LangRec& GermanRec();
const LangRec& EnglishRec();
const LangRec& DutchRec();

}  // namespace torv
