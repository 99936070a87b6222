// The Pentium Pro / Pentium II facts and verdict flags worked out from a
// probe record, without any report text.
#include "p2/facts.h"

#include <gtest/gtest.h>

namespace torv {
namespace {

TP2Info Record(std::uint8_t model, std::uint8_t stepping, std::uint8_t ratioCode,
               std::uint8_t bus100, bool l2 = true) {
  TP2Info info;
  info.Cpu.ClassCode = kClassPentiumII;
  info.Cpu.Family = 6;
  info.Cpu.Model = model;
  info.Cpu.Stepping = stepping;
  info.RatioCode = ratioCode;
  info.Bus100 = bus100;
  info.L2Present = l2;
  return info;
}

TEST(Facts, RatioByCodeAndModel) {
  const struct {
    std::uint8_t Code, Model;
    double Ratio;
  } cases[] = {{0, 5, 5.0}, {0, 3, 2.0},  {4, 3, 2.0},  {4, 5, 5.5}, {6, 3, 4.5},
               {2, 5, 4.0}, {14, 5, 1.5}, {15, 5, 6.5}, {9, 6, 7.0}, {3, 3, 2.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << int(c.Code) << " model " << int(c.Model));
    EXPECT_EQ(RatioFromCode(c.Code, c.Model), c.Ratio);
  }
}

TEST(Facts, FromTheRecord) {
  struct Case {
    const char* Name;
    TP2Info Info;
    double CoreHz;
    bool RegistersRead;
    double Ratio, SysHz;
    std::uint8_t Ioq;
    std::uint32_t AreaMByte;
    bool Csram, Overdrive;
  };
  TP2Info d450 = Record(5, 2, 6, 1);  // Deschutes 450 on a 100 MHz bus
  d450.Ctl3Lo = 0x00300000;           // 4 GByte cacheable
  d450.L2Regs[0] = 0x20;              // CSRAM
  TP2Info k300 = Record(3, 3, 6, 0);  // Klamath 300 on a 66 MHz bus
  k300.PowerOnLo = 1u << 13;          // in-order queue depth 1
  TP2Info celeron = Record(6, 0, 3, 0, false);
  TP2Info overdrive = Record(3, 2, 2, 0);
  overdrive.Cpu.CpuType = 1;
  TP2Info plus4 = Record(8, 3, 2, 1);
  plus4.RatioPlus4 = 1;
  const Case cases[] = {
      {"Deschutes 450", d450, 450e6, true, 4.5, 100e6, 8, 4096, true, false},
      {"cache type unread", d450, 450e6, false, 4.5, 100e6, 8, 4096, false, false},
      {"Klamath 300", k300, 300e6, true, 4.5, 300e6 / 4.5, 1, 512, false, false},
      {"Celeron without L2: the 66 MHz bus", celeron, 266e6, true, 2.0, 66.6e6, 8, 512, false,
       false},
      {"OverDrive: ratio 5", overdrive, 333e6, true, 5.0, 333e6 / 5.0, 8, 512, false, true},
      {"ratio 4 above the code", plus4, 800e6, true, 8.0, 100e6, 8, 512, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const P6Facts f = WorkOutFacts(c.Info, c.RegistersRead, c.CoreHz, P6Facts{});
    EXPECT_EQ(f.BusRatio, c.Ratio);
    EXPECT_DOUBLE_EQ(f.SysClockHz, c.SysHz);
    EXPECT_EQ(f.IoqDepth, c.Ioq);
    EXPECT_EQ(f.CacheableMByte, c.AreaMByte);
    EXPECT_EQ(f.Csram, c.Csram);
    EXPECT_EQ(f.Overdrive, c.Overdrive);
  }
}

TEST(Facts, APentiumProKeepsTheEarlierRunsCacheTypeAndOverDrive) {
  TP2Info ppro = Record(1, 9, 0, 0);
  ppro.Cpu.ClassCode = kClassPPro;
  P6Facts earlier;
  earlier.Overdrive = true;
  earlier.Csram = true;
  const P6Facts f = WorkOutFacts(ppro, true, 200e6, earlier);
  EXPECT_TRUE(f.Overdrive);
  EXPECT_TRUE(f.Csram);
  EXPECT_EQ(f.BusRatio, 5.0);
}

TEST(Facts, L2SizeAndBanks) {
  const struct {
    std::uint8_t Reg2;
    bool Csram;
    const char* Size;  // null: no size meaning
    std::int32_t Banks;
  } cases[] = {
      {0x04, false, "256 KByte", 1}, {0x09, false, "512 KByte", 2}, {0x13, false, "1 MByte", 4},
      {0x20, false, "2 MByte", 1},   {0x40, false, "4 MByte", 1},   {0x0C, false, nullptr, 1},
      {0x00, true, "512 KByte", 1},  {0x47, true, "1 MByte", 8},    {0xC1, true, "4 MByte", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "register 2 = " << int(c.Reg2) << " csram " << c.Csram);
    const L2SizeBanks sb = L2SizeAndBanks(c.Reg2, c.Csram);
    if (c.Size == nullptr) {
      EXPECT_EQ(sb.Size, nullptr);
    } else {
      ASSERT_NE(sb.Size, nullptr);
      EXPECT_STREQ(sb.Size, c.Size);
    }
    EXPECT_EQ(sb.Banks, c.Banks);
  }
}

TEST(Facts, VerdictFlags) {
  struct Case {
    const char* Name;
    TP2Info Info;
    double CoreHz;
    bool EccKnown;
    bool Fake300, High, Not100On66, Low, Step0, Jumper;
  };
  TP2Info k300 = Record(3, 3, 6, 0);  // Klamath 300, 66 MHz bus, no ECC
  TP2Info k300ecc = k300;
  k300ecc.EccPresent = true;
  TP2Info d66at100 = Record(5, 1, 6, 0);  // a 300 MHz part run at 450 on 100 MHz
  TP2Info d100slow = Record(5, 1, 6, 1);
  TP2Info step0 = Record(5, 0, 6, 1);
  TP2Info d400 = Record(5, 1, 2, 1);
  const Case cases[] = {
      {"Klamath 300 without ECC", k300, 300e6, true, true, false, true, false, false, false},
      {"Klamath 300 with ECC", k300ecc, 300e6, true, false, false, true, false, false, false},
      {"ECC unknown: no statement", k300, 300e6, false, false, false, true, false, false, false},
      {"66 MHz part at 100 MHz", d66at100, 450e6, true, false, true, false, false, false, true},
      {"100 MHz bus run slow", d100slow, 405e6, true, false, false, true, true, false, false},
      {"stepping-0 Deschutes at 450", step0, 450e6, true, false, false, true, false, true, false},
      {"400 MHz Deschutes", d400, 400e6, true, false, false, true, false, false, true},
      {"clock not measured", d66at100, 0.0, true, false, false, true, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const P6Facts f = WorkOutFacts(c.Info, true, c.CoreHz, P6Facts{});
    const VerdictFlags v = Judge(c.Info, f, c.CoreHz, c.EccKnown, true);
    EXPECT_EQ(v.Fake300, c.Fake300);
    EXPECT_EQ(v.ClockHigh, c.High);
    EXPECT_EQ(v.Not100On66, c.Not100On66);
    EXPECT_EQ(v.ClockLow, c.Low);
    EXPECT_EQ(v.Stepping0Fake, c.Step0);
    EXPECT_EQ(v.JumperCaution, c.Jumper);
  }
}

}  // namespace
}  // namespace torv
