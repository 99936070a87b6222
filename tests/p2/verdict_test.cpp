// The verdict's flags at their exact limits, the lines they print, and the
// jumper caution.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "p2_fixture.h"

namespace torv {
namespace {

using test::ReportWorld;
using test::ValueCol;

const std::string kTooHigh = " Attention, the external system clock rate is higher than allowed";
const std::string kTooLow = " Attention, the external system clock rate is lower than allowed";
const std::string kAutoOff = " Autodetection for 66/100 MHz is disabled";
const std::string kFake300 = " there exists no 300 MHz Pentium II without ECC, therefore";
const std::string kFakeStep =
    " there is no Pentium II Deschutes > 333 MHz without Stepping 0, therefore";
const std::string kFine = ValueCol(": No irregularities detected");
const std::string kClockUnchecked = ValueCol(": Clock not measured: clock rates not checked");
const std::string kBusUnchecked = ValueCol(": Bus setting unknown: system clock not checked");
const std::string kJumper =
    " Attention, genuine 400/450 MHz types can also be jumpered for 300/350 MHz!";

// A processor record built on configuration 2 (Klamath with ECC, 66 MHz bus),
// changed per case; the report computes the system clock as core / ratio.
struct Chip {
  std::uint8_t Model = 3;
  std::uint8_t Stepping = 3;
  double CoreHz = 300'400'000.0;
  std::uint8_t RatioCode = 2;  // 4.0 on every model
  std::uint8_t Bus100 = 0;
  std::uint8_t Bus133 = 0;
  bool EccPresent = true;
  bool L2Present = true;
  std::uint8_t Reg0 = 0;
  ProbeEnd End = ProbeEnd::Complete;
};

struct Outcome {
  bool Fake300, High, Not100On66, Low;
  std::vector<std::string> Lines;  // the lines after the detected-processor line
};

Outcome Judge(const Chip& s) {
  ReportWorld rw;
  rw.w.settings.TestNo = 2;
  LoadTestCase(rw.w.ForP2());
  TP2Info& info = rw.w.p2.P2Info;
  info.Cpu.Model = s.Model;
  info.Cpu.Stepping = s.Stepping;
  info.RatioCode = s.RatioCode;
  info.Bus100 = s.Bus100;
  info.Bus133 = s.Bus133;
  info.EccPresent = s.EccPresent;
  info.L2Present = s.L2Present;
  info.L2Regs[0] = s.Reg0;
  rw.w.hw.CpuClockHz = s.CoreHz;
  rw.w.p2.ProbeEnded = s.End;
  EXPECT_TRUE(P2Report(rw.w.ForP2(), 1));
  Outcome o{
      rw.w.p2.FlagFake300, rw.w.p2.FlagClockHigh, rw.w.p2.FlagNot100On66, rw.w.p2.FlagClockLow, {}};
  const auto& all = rw.Lines();
  auto it = std::find_if(all.begin(), all.end(), [](const std::string& l) {
    return l.rfind(" Torvacin has detected", 0) == 0;
  });
  EXPECT_NE(it, all.end());
  if (it != all.end()) o.Lines.assign(it + 2, all.end());  // after the empty line
  return o;
}

TEST(VerdictLimits, Klamath300Class) {
  Chip s;
  s.EccPresent = false;
  s.CoreHz = 280'000'000.0;
  EXPECT_FALSE(Judge(s).Fake300);  // exactly 280 MHz with ratio 4.0
  s.RatioCode = 6;
  EXPECT_TRUE(Judge(s).Fake300);  // ratio 4.5 decides at any clock
  s.RatioCode = 2;
  s.CoreHz = 280'000'001.0;
  EXPECT_TRUE(Judge(s).Fake300);
  s.EccPresent = true;
  EXPECT_FALSE(Judge(s).Fake300);
  s.EccPresent = false;
  s.Model = 5;
  EXPECT_FALSE(Judge(s).Fake300);
}

TEST(VerdictLimits, SystemClockOf66MhzBus) {
  struct Case {
    double Core;  // ratio 4.0
    bool High, Low;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {269'600'000.0, false, false, {kFine}},    // 67.4 MHz: not too high
      {269'600'004.0, true, false, {kTooHigh}},  // just above
      {256'000'000.0, false, false, {kFine}},    // 64.0 MHz: not too low
      {255'999'996.0, false, true, {kTooLow}},   // just below
      {392'000'000.0, true, false, {kTooHigh}},  // 98.0 MHz: outside the open band
      {408'000'000.0, true, false, {kTooHigh}},  // 102.0 MHz: outside the open band
      {400'000'000.0, true, false, {kAutoOff}},  // 100.0 MHz: set for 66, runs at 100
      {392'000'004.0, true, false, {kAutoOff}},  // just inside the band
      {0.0, false, false, {kClockUnchecked}},    // clock not measured: no clock check
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Core);
    Chip s;
    s.Model = 5;
    s.Stepping = 3;  // no stepping rule, no jumper caution
    s.CoreHz = c.Core;
    const Outcome o = Judge(s);
    EXPECT_EQ(o.High, c.High);
    EXPECT_EQ(o.Low, c.Low);
    EXPECT_EQ(o.Lines, c.Lines);
  }
}

TEST(VerdictLimits, SystemClockOf100MhzBus) {
  struct Case {
    double Core;  // ratio 4.0
    bool L2Present;
    bool High, Low;
  };
  const Case cases[] = {
      {408'000'000.0, true, false, false},  // 102.0 MHz: not too high
      {408'000'004.0, true, true, false},
      {392'000'000.0, true, false, false},  // 98.0 MHz: not too low
      {391'999'996.0, true, false, true},
      {391'999'996.0, false, false, false},  // no cache: never too low
      {0.0, true, false, false},             // not measured
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Core);
    Chip s;
    s.Model = 5;
    s.Stepping = 0;
    s.CoreHz = c.Core;
    s.Bus100 = 1;
    s.L2Present = c.L2Present;
    const Outcome o = Judge(s);
    EXPECT_EQ(o.High, c.High);
    EXPECT_EQ(o.Low, c.Low);
    EXPECT_TRUE(o.Not100On66);  // only a 66 MHz setting clears it
  }
}

// The 133 MHz bus (bit 18 set, bit 19 clear) has the 100 MHz bus's band of
// 2 % either side; the pattern with both bits set is no part's and gets no
// bus check.
TEST(VerdictLimits, SystemClockOf133MhzBusAndUnknownSetting) {
  struct Case {
    std::uint8_t Bus100;
    double Core;  // ratio 4.0
    bool L2Present;
    bool High, Low;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {0, 533'333'333.0, true, false, false, {kFine}},    // 133.3 MHz
      {0, 544'000'000.0, true, false, false, {kFine}},    // 136.0 MHz: not too high
      {0, 544'000'100.0, true, true, false, {kTooHigh}},  // just above
      {0, 522'667'000.0, true, false, false, {kFine}},    // 130.67 MHz: not too low
      {0, 522'666'000.0, true, false, true, {kTooLow}},   // just below 130.667 MHz
      {0, 522'666'000.0, false, false, false, {kFine}},   // no cache: never too low
      {0, 400'000'000.0, true, false, true, {kTooLow}},   // a 100 MHz bus on a 133 MHz part
      {1, 300'000'000.0, true, false, false, {kBusUnchecked}},  // unknown: 75 MHz unchecked
      {1, 900'000'000.0, true, false, false, {kBusUnchecked}},
      {1, 0.0, true, false, false, {kClockUnchecked, kBusUnchecked}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Core);
    Chip s;
    s.Model = 8;
    s.Stepping = 3;
    s.CoreHz = c.Core;
    s.Bus100 = c.Bus100;
    s.Bus133 = 1;
    s.L2Present = c.L2Present;
    const Outcome o = Judge(s);
    EXPECT_EQ(o.High, c.High);
    EXPECT_EQ(o.Low, c.Low);
    EXPECT_EQ(o.Lines, c.Lines);
  }
}

TEST(VerdictLimits, HighOn100MhzBusAlwaysSaysTooHigh) {
  Chip s;
  s.Model = 5;
  s.Stepping = 3;
  s.CoreHz = 412'000'000.0;  // 103 MHz at ratio 4.0
  s.Bus100 = 1;
  EXPECT_EQ(Judge(s).Lines, std::vector<std::string>{kTooHigh});
}

TEST(VerdictLimits, DeschutesStepping0) {
  Chip s;
  s.Model = 5;
  s.Stepping = 0;
  s.CoreHz = 340'000'000.0;
  s.RatioCode = 0;  // 5.0: 68 MHz, too high, which does not touch the stepping rule
  const Outcome at = Judge(s);
  EXPECT_EQ(std::count(at.Lines.begin(), at.Lines.end(), kFakeStep), 0);
  s.CoreHz = 340'000'001.0;
  const Outcome above = Judge(s);
  EXPECT_EQ(std::count(above.Lines.begin(), above.Lines.end(), kFakeStep), 1);
  s.Stepping = 1;
  const Outcome stepping1 = Judge(s);
  EXPECT_EQ(std::count(stepping1.Lines.begin(), stepping1.Lines.end(), kFakeStep), 0);
}

TEST(VerdictLimits, StepRuleAloneClearsNoIrregularities) {
  Chip s;
  s.Model = 5;
  s.Stepping = 0;
  s.CoreHz = 400'000'000.0;
  s.Bus100 = 1;  // 100 MHz at ratio 4.0: within every clock limit
  const Outcome o = Judge(s);
  const std::vector<std::string> want = {
      " Attention, as stated in the Intel Pentium II Specification Upgrade #243337",
      kFakeStep,
      " processor is overclocked and if marked as a 350/400 MHz type",
      " it is possibly a fake.",
      std::string(" Please notify Vemora via internet: ") + kSurveyAddress + ")",
  };
  EXPECT_EQ(o.Lines, want);
}

TEST(VerdictJumper, CautionForGenuine400And450Parts) {
  struct Case {
    std::uint8_t Stepping, RatioCode, Reg0;
    double Core;
    bool Caution;
  };
  const Case cases[] = {
      {1, 2, 0x00, 400'200'000.0, true},   // 4.0 above 396 MHz
      {1, 2, 0x20, 400'200'000.0, false},  // CSRAM cache (Xeon)
      {1, 2, 0x00, 396'000'000.0, false},  // exactly 396 MHz
      {2, 6, 0x00, 445'000'000.0, false},  // exactly 445 MHz
      {2, 6, 0x00, 445'000'001.0, true},   {3, 2, 0x00, 400'200'000.0, false},  // stepping 3
      {0, 2, 0x00, 400'200'000.0, false},                                       // stepping 0
      {1, 13, 0x00, 450'000'000.0, false},                                      // ratio 7.5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Core);
    Chip s;
    s.Model = 5;
    s.Stepping = c.Stepping;
    s.RatioCode = c.RatioCode;
    s.Reg0 = c.Reg0;
    s.CoreHz = c.Core;
    s.Bus100 = 1;
    const Outcome o = Judge(s);
    const bool caution = std::count(o.Lines.begin(), o.Lines.end(), kJumper) == 1;
    EXPECT_EQ(caution, c.Caution);
    if (c.Caution && c.Stepping != 0) {
      // The caution follows the no-irregularities line after an empty line.
      ASSERT_GE(o.Lines.size(), 3u);
      EXPECT_EQ(o.Lines[0], kFine);
      EXPECT_EQ(o.Lines[1], "");
      EXPECT_EQ(o.Lines[2], kJumper);
    }
  }
}

// An analysis that ended early: the clock checks stay, nothing rests on the
// missing ECC result or on cache registers of an earlier run.
TEST(VerdictEarlyEnd, OnlyWhatWasReadIsJudged) {
  struct Case {
    const char* What;
    ProbeEnd End;
    std::uint8_t Model, Stepping, RatioCode, Bus100;
    double Core;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      // The 300 MHz rule cannot be decided: neither the fake text nor the all-clear.
      {"Klamath 300 at 4.5 x 66", ProbeEnd::EccTestFailed, 3, 3, 6, 0, 300'400'000.0, {}},
      {"Klamath at 4.0 x 75", ProbeEnd::EccTestFailed, 3, 3, 2, 0, 300'400'000.0, {kTooHigh}},
      {"Klamath 233 at 3.5 x 66", ProbeEnd::EccTestFailed, 3, 3, 5, 0, 233'000'000.0, {kFine}},
      {"Deschutes 266", ProbeEnd::EccTestFailed, 5, 1, 2, 0, 266'000'000.0, {kFine}},
      // Cache register 0 unread: no jumper caution, which rests on the cache type.
      {"Deschutes 400 stepping 1", ProbeEnd::L2ConfigFailed, 5, 1, 2, 1, 400'200'000.0, {kFine}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.What);
    Chip s;
    s.End = c.End;
    s.Model = c.Model;
    s.Stepping = c.Stepping;
    s.RatioCode = c.RatioCode;
    s.Bus100 = c.Bus100;
    s.CoreHz = c.Core;
    s.EccPresent = false;  // what an earlier run may have left
    const Outcome o = Judge(s);
    EXPECT_FALSE(o.Fake300);
    EXPECT_EQ(o.Lines, c.Lines);
  }
  // Stepping 0 above 333 MHz rests on CPUID and the clock: it stays.
  Chip s;
  s.End = ProbeEnd::EccTestFailed;
  s.Model = 5;
  s.Stepping = 0;
  s.RatioCode = 5;
  s.Bus100 = 1;
  s.CoreHz = 350'000'000.0;
  const Outcome o = Judge(s);
  ASSERT_GE(o.Lines.size(), 2u);
  EXPECT_EQ(o.Lines[1], kFakeStep);
}

// A check that could not be made is named where the all-clear would stand,
// in every language, and the findings that rest on other facts stay.
TEST(VerdictUnchecked, NoAllClearWithoutTheClockOrTheBus) {
  struct Case {
    std::uint16_t Lang;
    double Core;
    std::uint8_t Bus100, Bus133, RatioCode;
    bool EccPresent;
    std::vector<std::string> Lines;
  };
  const Case cases[] = {
      {49, 0.0, 0, 0, 2, true, {ValueCol(": Takt nicht gemessen: Taktraten nicht gepr\xFC" "ft")}},
      {31, 0.0, 0, 0, 2, true, {ValueCol(": Klok niet gemeten: kloksnelheid niet getest")}},
      {49, 300'400'000.0, 1, 1, 2, true,
       {ValueCol(": Bus-Einstellung unbekannt: Systemtakt nicht gepr\xFC" "ft")}},
      {31, 300'400'000.0, 1, 1, 2, true,
       {ValueCol(": Businstelling onbekend: systeemklok niet getest")}},
      // Ratio 4.5 on a Klamath without ECC: the 300 MHz rule needs no clock.
      {1, 0.0, 0, 0, 6, false,
       {" Attention, as stated in the Intel Pentium II Specification Upgrade #243337", kFake300,
        " processor is overclocked and if marked as a 300 MHz type", " it is possibly a fake.",
        "", std::string(" Please notify Vemora via internet: ") + kSurveyAddress,
        kClockUnchecked}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Lines.back());
    ReportWorld rw(c.Lang);
    rw.w.settings.TestNo = 2;
    LoadTestCase(rw.w.ForP2());
    TP2Info& info = rw.w.p2.P2Info;
    info.Bus100 = c.Bus100;
    info.Bus133 = c.Bus133;
    info.RatioCode = c.RatioCode;
    info.EccPresent = c.EccPresent;
    rw.w.hw.CpuClockHz = c.Core;
    ASSERT_TRUE(P2Report(rw.w.ForP2(), 1));
    const auto& all = rw.Lines();
    const std::vector<std::string> tail(all.end() - static_cast<long>(c.Lines.size()), all.end());
    EXPECT_EQ(tail, c.Lines);
    for (const std::string& l : all) {
      EXPECT_EQ(l.find("rregularit"), std::string::npos) << l;  // no all-clear in English
      EXPECT_EQ(l.find("Auff"), std::string::npos) << l;        // nor in German
      EXPECT_EQ(l.find("afwijkingen"), std::string::npos) << l;  // nor in Dutch
    }
  }
}

TEST(VerdictOff, FlagsComputedButNothingPrinted) {
  ReportWorld rw;
  rw.w.settings.TestNo = 3;
  LoadTestCase(rw.w.ForP2());
  rw.w.settings.VerdictOn = false;
  ASSERT_TRUE(P2Report(rw.w.ForP2(), 1));
  EXPECT_TRUE(rw.w.p2.FlagFake300);
  EXPECT_TRUE(rw.w.p2.FlagClockHigh);
  EXPECT_TRUE(rw.w.p2.FlagNot100On66);
  EXPECT_FALSE(rw.w.p2.FlagClockLow);
  EXPECT_EQ(rw.Lines().back(), "");
  EXPECT_EQ(rw.Lines()[rw.Lines().size() - 2], test::Col(" Ratio (cpu/syst)", ": 4.0"));
}

}  // namespace
}  // namespace torv
