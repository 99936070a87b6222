// Logs read back into one line a processor: small logs of each kind (all
// clear, alarm, not checked, foreign, cut short, German, Dutch, several
// processors) and the saved log of a dual Pentium II machine.
#include "report/summary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace torv {
namespace {

// A labelled report line as the log holds it: the label in 25 columns (a
// longer one keeps its length).
std::string L(std::string label, std::string_view value) {
  if (label.size() < 25) label.resize(25, ' ');
  return label + ":" + std::string(value);
}
const std::string kColon(25, ' ');

std::string Log(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

const std::string kCpuid = L(" CPUID", " GenuineIntel, Typ=0, Family=6, Model=5, Step=1");

std::vector<std::string> ClearP2() {
  return {kCpuid,
          L(" Processor Core", " Pentium II, Deschutes"),
          L(" L1 Data Cache", "  16 KB, 4way associative"),
          L(" L2 Cache:", " 512 KB, 4way associative"),
          L(" L2 Cacheable Area", "   4 GByte"),
          L(" L2 ECC", " present and enabled"),
          L(" Actual clock rate", " 450.0 MHz"),
          L(" System clock rate", " default: 100 MHz, measured:100.0 MHz"),
          L(" Ratio (cpu/syst)", " 4.5"),
          "",
          L(" Torvacin has detected", " Pentium II 450.0 MHz with ECC"),
          "",
          kColon + ": No irregularities detected"};
}

struct Expect {
  int Number;
  const char* Processor;
  const char* Clock;
  const char* SystemClock;
  const char* Ratio;
  const char* L2;
  ChipSummary::Ecc Ecc;
  ChipVerdict Verdict;
};

void Check(const std::vector<ChipSummary>& got, const std::vector<Expect>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].Number, want[i].Number);
    EXPECT_EQ(got[i].Processor, want[i].Processor);
    EXPECT_EQ(got[i].Clock, want[i].Clock);
    EXPECT_EQ(got[i].SystemClock, want[i].SystemClock);
    EXPECT_EQ(got[i].Ratio, want[i].Ratio);
    EXPECT_EQ(got[i].L2Size, want[i].L2);
    EXPECT_EQ(got[i].L2Ecc, want[i].Ecc);
    EXPECT_EQ(got[i].Verdict, want[i].Verdict);
  }
}

using E = ChipSummary::Ecc;
using V = ChipVerdict;

TEST(LogSummary, EachKindOfLogGivesItsLines) {
  std::vector<std::string> alarm = ClearP2();
  alarm.back() = " Attention, the external system clock rate is higher than allowed";
  std::vector<std::string> fake300 = ClearP2();
  fake300[5] = L(" L2 ECC", " not present and not enabled");
  fake300.back() = " Attention, as stated in the Intel Pentium II Specification Upgrade #243337";
  std::vector<std::string> jumper = ClearP2();
  jumper.push_back("");
  jumper.push_back(" Attention, genuine 400/450 MHz types can also be jumpered for 300/350 MHz!");
  std::vector<std::string> notInDump = ClearP2();
  notInDump.back() = kColon + ": 2Ah not in the dump: system clock not checked";
  std::vector<std::string> cut = ClearP2();
  cut.resize(7);
  std::vector<std::string> failed = ClearP2();
  failed.push_back(" Analysis of this processor failed");
  const std::vector<std::string> other = {
      L(" CPUID", " GenuineIntel, Typ=0, Family=6, Model=94, Step=3"),
      L(" Processor Core", " Intel Core i5-6500"), L(" Actual clock rate", " 3192.0 MHz"),
      " error no Pentium II=> Break"};
  const std::vector<std::string> noThread = {
      " Processor 2 could not be reached: the analysis thread could not be started",
      " Analysis of this processor failed"};
  const std::vector<std::string> german = {
      L(" CPUID", " GenuineIntel, Typ=0, Family=6, Model=6, Step=0"),
      L(" Prozessorkern", " Pentium II, Celeron"),
      L(" L2", " nicht vorhanden oder hardwarem\xF5\xAFig abgeschaltet"),
      L(" Aktueller Takt", " 300,0 MHz"),
      L(" Systemtakt", " bei Celeron nicht auslesbar"),
      "",
      L(" Torvacin ermittelt", " Pentium II 300,0 MHz"),
      "",
      " Achtung, der externe Systemtakt ist unzul\xE4ssig hoch"};
  const std::vector<std::string> dutch = {
      L(" Processor", " 1"),
      kCpuid,
      L(" Processorkern", " Pentium II, Deschutes"),
      L(" L2 Cache:", " 512 KB, 4maal associatief"),
      L(" L2 ECC", " aanwezig en ingeschakeld"),
      L(" actuele kloksnelheid", " 400.0 MHz"),
      L(" systeem kloksnelheid", " default: 100 MHz, gemeten:100.0 MHz"),
      L(" ratio (cpu/syst)", " 4.0"),
      L(" Torvacin heeft gedetecteerd", " Pentium II 400.0 MHz met ECC"),
      kColon + ": Geen afwijkingen geconstateerd),",
      L(" Processor", " 2"),
      " Fehler beim Einloggen der gew\xFCnschten CPU",
      " Analyse van deze processor mislukt"};

  struct Case {
    const char* Name;
    std::string Bytes;
    std::vector<Expect> Want;
  };
  const Expect clear{
      1,          "Pentium II, Deschutes", "450.0 MHz", "100.0 MHz", "4.5", "512 KB", E::Present,
      V::AllClear};
  auto with = [](Expect e, ChipVerdict v, E ecc = E::Present) {
    e.Verdict = v;
    e.Ecc = ecc;
    return e;
  };
  const Case cases[] = {
      {"all clear", Log(ClearP2()), {clear}},
      {"line ends without CR",
       [] {
         std::string s;
         for (const std::string& l : ClearP2()) s += l + "\n";
         return s;
       }(),
       {clear}},
      {"clock too high", Log(alarm), {with(clear, V::Alarm)}},
      {"300 MHz rule", Log(fake300), {with(clear, V::Alarm, E::Absent)}},
      {"jumper caution is no alarm", Log(jumper), {clear}},
      {"register not in the dump", Log(notInDump), {with(clear, V::NotChecked)}},
      {"cut short",
       Log(cut),
       {{1, "Pentium II, Deschutes", "450.0 MHz", "", "", "512 KB", E::Present, V::NotChecked}}},
      {"analysis failed", Log(failed), {with(clear, V::NotChecked)}},
      {"outside the family",
       Log(other),
       {{1, "Intel Core i5-6500", "3192.0 MHz", "", "", "", E::Unknown, V::NotChecked}}},
      {"no analysis thread", Log(noThread), {{2, "", "", "", "", "", E::Unknown, V::NotChecked}}},
      {"German Celeron without cache, alarm",
       Log(german),
       {{1, "Pentium II, Celeron", "300,0 MHz", "", "", "", E::Unknown, V::Alarm}}},
      {"Dutch, two processors, the second not reached",
       Log(dutch),
       {{1, "Pentium II, Deschutes", "400.0 MHz", "100.0 MHz", "4.0", "512 KB", E::Present,
         V::AllClear},
        {2, "", "", "", "", "", E::Unknown, V::NotChecked}}},
      {"foreign text", "Hello\r\nThis is a letter: nothing more\r\n", {}},
      {"empty", "", {}},
      {"binary", std::string("\0\xFF\r\r\n:\n\n\x1B[2J", 12), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Check(ReadLogSummary(c.Bytes), c.Want);
  }
}

TEST(LogSummary, SavedLogOfADualMachine) {
  std::ifstream in(TORV_SOURCE_DIR "/tests/p6vm/expected/p2smp.save.log", std::ios::binary);
  ASSERT_TRUE(in);
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const Expect chip{
      1, "Pentium II, Deschutes", "1000.0 MHz", "200.0 MHz", "5.0", "2048 KB", E::Absent, V::Alarm};
  Expect second = chip;
  second.Number = 2;
  Check(ReadLogSummary(log), {chip, second});
}

TEST(LogSummary, LinesInEachLanguage) {
  const ChipSummary chip{1,        "Pentium II, Deschutes",  "450.0 MHz", "100.0 MHz",       "4.5",
                         "512 KB", ChipSummary::Ecc::Absent, false,       ChipVerdict::Alarm};
  EXPECT_EQ(SummaryLine(EnglishRec(), "P2450-1.LOG", chip),
            "P2450-1.LOG   1   Pentium II, Deschutes   450.0 MHz   100.0 MHz x 4.5   "
            "512 KB, no ECC    alarm");
  ChipSummary clear = chip;
  clear.L2Ecc = ChipSummary::Ecc::Present;
  clear.Verdict = ChipVerdict::AllClear;
  EXPECT_EQ(SummaryLine(GermanRec(), "torvacin.log", clear),
            "torvacin.log  1   Pentium II, Deschutes   450.0 MHz   100.0 MHz x 4.5   "
            "512 KB, ECC       in Ordnung");
  ChipSummary none{};
  none.Number = 3;
  none.NoL2 = true;
  EXPECT_EQ(SummaryLine(DutchRec(), "CEL300-2.LOG", none),
            "CEL300-2.LOG  3   ?                       ?           ? x ?             "
            "geen L2           niet getest");
  EXPECT_TRUE(SummaryLine(GermanRec(), "X", none)
                  .ends_with("kein L2           nicht gepr\xFC"
                             "ft"));
  EXPECT_EQ(SkippedLine("README.TXT", "not a Torvacin log, skipped"),
            "README.TXT    not a Torvacin log, skipped");
}

}  // namespace
}  // namespace torv
