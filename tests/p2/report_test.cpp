// The Pentium II report's rules beyond the eight configurations: ratio
// table, OverDrive, cache lines, cacheable area, the refusal path, the
// processor that the driver could not reach, the ECC pass line.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "p2_fixture.h"

namespace torv {
namespace {

using test::Col;
using test::ReportWorld;
using test::ValueCol;
using Lines = std::vector<std::string>;

// A report world holding the record of configuration n, ready for P2Report.
struct Loaded : ReportWorld {
  explicit Loaded(int n, std::uint16_t lang = 1) : ReportWorld(lang) {
    w.settings.TestNo = static_cast<std::uint8_t>(n);
    LoadTestCase(w.ForP2());
  }
  TP2Info& Info() { return w.p2.P2Info; }
  bool Report(int proc = 1) {
    Clear();
    return P2Report(w.ForP2(), proc);
  }
  bool Has(const std::string& line) const {
    return std::find(Lines().begin(), Lines().end(), line) != Lines().end();
  }
};

TEST(P2ReportRatio, TableByCodeAndModel) {
  struct Case {
    std::uint8_t Model, Code;
    double Ratio;
    const char* Text;
    std::uint8_t Plus4 = 0;  // EBL_CR_POWERON bit 27
  };
  const Case cases[] = {
      {3, 0, 2.0, ": 2.0"},
      {3, 4, 2.0, ": 2.0"},
      {5, 0, 5.0, ": 5.0"},
      {5, 4, 5.5, ": 5.5"},
      {6, 0, 5.0, ": 5.0"},
      {6, 4, 5.5, ": 5.5"},
      {5, 1, 3.0, ": 3.0"},
      {5, 2, 4.0, ": 4.0"},
      {5, 3, 2.0, ": 2.0"},
      {5, 5, 3.5, ": 3.5"},
      {5, 6, 4.5, ": 4.5"},
      {5, 7, 2.5, ": 2.5"},
      {5, 8, 2.0, ": 2.0"},
      {5, 9, 7.0, ": 7.0"},
      {5, 10, 8.0, ": 8.0"},
      {5, 11, 6.0, ": 6.0"},
      {5, 12, 2.0, ": 2.0"},
      {5, 13, 7.5, ": 7.5"},
      {5, 14, 1.5, ": 1.5"},
      {5, 15, 6.5, ": 6.5"},
      {3, 6, 4.5, ": 4.5"},
      {3, 15, 6.5, ": 6.5"},
      // Bit 27 adds 4.0: a Celeron 700 (10.5 x 66), a Pentium III-S 1266 (9.5 x 133).
      {8, 15, 10.5, ": 10.5", 1},
      {11, 4, 9.5, ": 9.5", 1},
      {8, 2, 8.0, ": 8.0", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Model) + "/" + std::to_string(c.Code));
    Loaded l(2);
    l.Info().Cpu.Model = c.Model;
    l.Info().RatioCode = c.Code;
    l.Info().RatioPlus4 = c.Plus4;
    ASSERT_TRUE(l.Report());
    EXPECT_EQ(l.w.p2.BusRatio, c.Ratio);
    EXPECT_TRUE(l.Has(Col(" Ratio (cpu/syst)", c.Text)));
    EXPECT_DOUBLE_EQ(l.w.p2.SysClockHz, 300'400'000.0 / c.Ratio);
  }
}

TEST(P2ReportRatio, OverDriveForcesFiveWhateverTheCode) {
  for (std::uint8_t code : {0, 2, 6, 14}) {
    Loaded l(8);
    l.Info().Cpu.CpuType = 1;
    l.Info().RatioCode = code;
    ASSERT_TRUE(l.Report());
    EXPECT_TRUE(l.w.p2.FlagOverdrive);
    EXPECT_EQ(l.w.p2.BusRatio, 5.0);
    EXPECT_EQ(l.Lines()[1], Col(" Processor Core", ": PPRo-Overdrive, Deschutes"));
    EXPECT_TRUE(l.Has(Col(" Ratio (cpu/syst)", ": 5.0")));
    // 450 MHz at ratio 5.0 is no 400/450 MHz part: no jumper caution.
    EXPECT_FALSE(l.Has(" If this will not work, the processor is probably a fake"));
  }
}

TEST(P2ReportProcessorLine, Variants) {
  struct Case {
    std::uint8_t Model, Stepping, CpuType, Reg0;
    std::uint32_t Ctl3Lo;
    const char* Want;
  };
  const Case cases[] = {
      {5, 2, 0, 0x20, 0x4501, ": Pentium II, Deschutes,Xeon"},
      {5, 1, 0, 0x20, 0x4501, ": Pentium II, Deschutes"},  // stepping below 2
      {5, 2, 0, 0x00, 0x4501, ": Pentium II, Deschutes"},  // BSRAM
      {5, 2, 1, 0x20, 0x4501, ": PPRo-Overdrive, Deschutes"},
      {4, 0, 0, 0x00, 0x4501, ": Pentium II, "},
      {3, 3, 0, 0x00, 0x2004501, ": Pentium II, Klamath, L2 1:1 clock"},
      {5, 1, 0, 0x00, 0x2804501, ": Pentium II, Deschutes, L2 1:1 clock, Celeron"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Want);
    Loaded l(2);
    l.Info().Cpu.Model = c.Model;
    l.Info().Cpu.Stepping = c.Stepping;
    l.Info().Cpu.CpuType = c.CpuType;
    l.Info().L2Regs[0] = c.Reg0;
    l.Info().Ctl3Lo = c.Ctl3Lo;
    ASSERT_TRUE(l.Report());
    EXPECT_EQ(l.Lines()[1], Col(" Processor Core", c.Want));
    EXPECT_EQ(l.w.p2.IsCsram, c.Reg0 == 0x20);
  }
}

TEST(P2ReportCaches, DataCacheWaysAndSizes) {
  Loaded l(2);
  l.Info().Cpu.L1DataKB = 8;
  l.Info().Cpu.L1CodeKB = 8;
  l.Info().Cpu.L2KB = 0xFFFF;
  ASSERT_TRUE(l.Report());
  EXPECT_EQ(l.Lines()[2], Col(" L1 Data Cache", ":   8 KB, 2way associative"));
  EXPECT_EQ(l.Lines()[3], Col(" L1 Code Cache", ":   8 KB, 4way associative"));
  // No descriptor gave a size: none is printed (65535 was the marker's value).
  EXPECT_EQ(l.Lines()[4], Col(" L2 Cache:", ":  ??"));
}

TEST(P2ReportCaches, NoCacheLinesWithoutDescriptors) {
  Loaded l(2);
  l.Info().Cpu.CacheInfoValid = false;
  ASSERT_TRUE(l.Report());
  EXPECT_EQ(l.Lines()[2], Col(" L2 Cacheable Area", ": 512 MByte"));
}

TEST(P2ReportCaches, CacheableAreaByCode) {
  const char* want[8] = {": 512 MByte", ":   1 GByte", ":   2 GByte", ":   4 GByte",
                         ":   8 GByte", ":  16 GByte", ":  32 GByte", ":  64 GByte"};
  for (std::uint32_t a = 0; a < 8; ++a) {
    Loaded l(2);
    l.Info().Ctl3Lo = 0x4501 | (a << 20);
    ASSERT_TRUE(l.Report());
    EXPECT_EQ(l.Lines()[5], Col(" L2 Cacheable Area", want[a]));
  }
}

TEST(P2ReportEcc, WasLineAfterAnEccPass) {
  struct Case {
    std::uint16_t Lang;
    std::uint8_t Was;
    const char* Want;
  };
  const Case cases[] = {
      {1, 1, ": was enabled"},
      {1, 0, ": was disabled"},
      {49, 1, ": war eingeschaltet"},
      {31, 0, ": vooraf uitgeschakeld"},
  };
  for (const Case& c : cases) {
    Loaded l(2, c.Lang);
    l.w.settings.EccWas[1] = c.Was;
    ASSERT_TRUE(l.Report());
    EXPECT_EQ(l.Lines()[7], ValueCol(c.Want));
  }
}

TEST(P2ReportEcc, NoWasLineWithoutPassOrBeyondFourProcessors) {
  Loaded l(2);
  l.w.settings.EccWas = {1, 0xFF, 1, 1, 1};
  ASSERT_TRUE(l.Report(1));
  EXPECT_FALSE(l.Has(ValueCol(": was enabled")));
  // Processor 7 has no ECC entry: no line, no read beyond the table.
  ASSERT_TRUE(l.Report(7));
  EXPECT_FALSE(l.Has(ValueCol(": was enabled")));
}

TEST(P2ReportEcc, NotPresentButEnabled) {
  Loaded l(1);
  l.Info().EccEnabled = true;
  ASSERT_TRUE(l.Report());
  EXPECT_EQ(l.Lines()[6], Col(" L2 ECC", ": not present, but enabled"));
}

TEST(P2ReportQueue, DepthFromPowerOnBit13) {
  Loaded l(2);
  ASSERT_TRUE(l.Report());
  EXPECT_EQ(l.w.p2.IoqDepth, 8);
  l.Info().PowerOnLo = 1u << 13;
  ASSERT_TRUE(l.Report());
  EXPECT_EQ(l.w.p2.IoqDepth, 1);
}

TEST(P2ReportClock, DefaultBusFromPowerOnBits19And18) {
  struct Case {
    std::uint8_t Bus100, Bus133;
    const char* Want;
  };
  const Case cases[] = {
      {0, 0, ": default: 66.6 MHz, measured:75.1 MHz"},
      {1, 0, ": default: 100 MHz, measured:75.1 MHz"},
      {0, 1, ": default: 133 MHz, measured:75.1 MHz"},
      {1, 1, ": default: ??, measured:75.1 MHz"},  // a setting of no part
  };
  for (const Case& c : cases) {
    Loaded l(3);
    l.Info().Bus100 = c.Bus100;
    l.Info().Bus133 = c.Bus133;
    ASSERT_TRUE(l.Report());
    EXPECT_EQ(l.Lines()[8], Col(" System clock rate", c.Want));
  }
}

TEST(P2ReportClock, UnmeasuredClockIsAnErrorNotAVerdict) {
  for (int n : {2, 4, 8}) {
    SCOPED_TRACE(n);
    Loaded l(n);
    l.w.hw.CpuClockHz = 0.0;
    ASSERT_TRUE(l.Report());
    const Lines want = {
        " error",
        Col(" System clock rate", n == 8 ? ": default: 100 MHz, measured: error"
                                         : ": default: 66.6 MHz, measured: error"),
        Col(" Ratio (cpu/syst)", n == 8   ? ": 4.5"
                                 : n == 2 ? ": 4.5"
                                          : ": 4.0"),
        "",
        Col(" Torvacin has detected",
            n == 4 ? ": Pentium II without ECC" : ": Pentium II with ECC"),
        "",
        // No all-clear: the clock checks could not be made.
        ValueCol(": Clock not measured: clock rates not checked"),
    };
    ASSERT_GE(l.Lines().size(), 7u + want.size());
    EXPECT_EQ(Lines(l.Lines().begin() + 7, l.Lines().begin() + 7 + want.size()), want);
    EXPECT_FALSE(l.w.p2.FlagClockLow || l.w.p2.FlagClockHigh);
  }
}

TEST(P2ReportCeleron, FixedSystemClock) {
  Loaded l(5);
  ASSERT_TRUE(l.Report());
  EXPECT_EQ(l.w.p2.SysClockHz, 66'600'000.0);
}

// A record of a processor outside the Pentium Pro / Pentium II class.
struct Refused : ReportWorld {
  explicit Refused(std::uint16_t lang = 1) : ReportWorld(lang) {
    TCpuInfo& cpu = w.p2.P2Info.Cpu;
    cpu.CpuidOk = true;
    cpu.Vendor = "AuthenticAMD";
    cpu.VendorCode = kVendorAmd;
    cpu.Family = 5;
    cpu.Model = 8;
    cpu.Stepping = 12;
    cpu.CpuName = "AMD K6";
    cpu.NameSuffix = "-2 Step 12";
    cpu.ClassCode = 47;
    cpu.CacheInfoValid = true;
    w.p2.P2Info.L2Present = true;
  }
};

TEST(P2ReportRefusal, NameClockAndRefusalOnly) {
  Refused r;
  r.w.hw.CpuClockHz = 350'123'456.0;
  EXPECT_FALSE(P2Report(r.w.ForP2(), 1));
  const Lines want = {
      Col(" CPUID", ": AuthenticAMD, Typ=0, Family=5, Model=8, Step=12"),
      Col(" Processor Core", ": AMD K6-2 Step 12"),
      Col(" Actual clock rate", ": 350.1 MHz"),
      " error no Pentium II=> Break",
  };
  EXPECT_EQ(r.Lines(), want);
}

TEST(P2ReportRefusal, ZeroClockPrintsErrorWord) {
  Refused r(49);
  r.w.hw.CpuClockHz = 0.0;
  EXPECT_FALSE(P2Report(r.w.ForP2(), 1));
  const Lines want = {
      Col(" CPUID", ": AuthenticAMD, Typ=0, Family=5, Model=8, Step=12"),
      Col(" Prozessorkern", ": AMD K6-2 Step 12"),
      " Fehler",
      " Fehler kein Pentium II=> Abbruch",
  };
  EXPECT_EQ(r.Lines(), want);
}

TEST(P2ReportRefusal, WithoutCpuidTheNameStandsAlone) {
  Refused r;
  r.w.p2.P2Info.Cpu.CpuidOk = false;
  r.w.hw.CpuClockHz = 0.0;
  EXPECT_FALSE(P2Report(r.w.ForP2(), 1));
  const Lines want = {"CPUID-Error", "AMD K6-2 Step 12", " error", " error no Pentium II=> Break"};
  EXPECT_EQ(r.Lines(), want);
}

TEST(P2ReportRefusal, TestModeReportsAnyClass) {
  Refused r;
  r.w.settings.TestNo = 3;
  EXPECT_TRUE(P2Report(r.w.ForP2(), 1));
  EXPECT_EQ(r.Lines()[1], Col(" Processor Core", ": PPro"));
  EXPECT_EQ(r.Lines()[2], "");
}

TEST(P2ReportPentiumPro, ProcessorLineThenEmptyLine) {
  ReportWorld rw;
  TP2Info& info = rw.w.p2.P2Info;
  info.Cpu.CpuidOk = true;
  info.Cpu.Vendor = "GenuineIntel";
  info.Cpu.Family = 6;
  info.Cpu.Model = 1;
  info.Cpu.Stepping = 9;
  info.Cpu.ClassCode = kClassPPro;
  info.L2Present = true;
  info.RatioCode = 1;
  rw.w.hw.CpuClockHz = 200'000'000.0;
  rw.w.settings.VerdictOn = false;
  EXPECT_TRUE(P2Report(rw.w.ForP2(), 1));
  const Lines want = {
      Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=1, Step=9"),
      Col(" Processor Core", ": PPro"),
      "",
      Col(" L2 Cacheable Area", ": 512 MByte"),
      Col(" L2 ECC", ": not present and not enabled"),
      Col(" Actual clock rate", ": 200.0 MHz"),
      Col(" System clock rate", ": default: 66.6 MHz, measured:66.7 MHz"),
      Col(" Ratio (cpu/syst)", ": 3.0"),
      "",
  };
  EXPECT_EQ(rw.Lines(), want);
}

TEST(P2ReportCpuidFault, MultiprocessorEndsWithTheFixedLine) {
  for (std::uint16_t lang : {1, 49, 31}) {
    Loaded l(2, lang);
    l.w.shell.MultiProc = true;
    l.w.hw.CpuidFault = true;
    EXPECT_FALSE(l.Report(3));
    const Lines want = {
        Col(lang == 49 ? " Prozessor" : " Processor", ": 3"),
        "Fehler beim Einloggen der gew\xFCnschten CPU",
    };
    EXPECT_EQ(l.Lines(), want);
  }
}

TEST(P2ReportCpuidFault, SingleProcessorGoesOn) {
  Loaded l(2);
  l.w.hw.CpuidFault = true;
  EXPECT_TRUE(l.Report());
  EXPECT_EQ(l.Lines()[0], Col(" CPUID", ": GenuineIntel, Typ=0, Family=6, Model=3, Step=3"));
}

}  // namespace
}  // namespace torv
