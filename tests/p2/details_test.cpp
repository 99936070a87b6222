// The details listing: cache configuration registers decoded, latency, queue
// depth, fast strings, the raw line of /EXX, and the memory type ranges.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "p2_fixture.h"

namespace torv {
namespace {

using test::Col;
using test::ReportWorld;
using Rows = std::vector<std::string>;

// A Pentium II record outside test mode, with the given cache registers.
struct Details : ReportWorld {
  explicit Details(std::uint16_t lang = 1) : ReportWorld(lang) {
    TP2Info& info = w.p2.P2Info;
    info.Cpu.ClassCode = kClassPentiumII;
    info.Ctl3Lo = 0x4501;
    w.p2.IoqDepth = 8;
  }
  Rows List() {
    Clear();
    P2Details(w.ForP2());
    return Lines();
  }
  Rows Registers() {
    Clear();
    L2RegReport(w.ForP2());
    return Lines();
  }
  void Regs(std::initializer_list<std::uint8_t> v) {
    std::size_t i = 0;
    for (std::uint8_t b : v) w.p2.P2Info.L2Regs[i++] = b;
  }
};

TEST(L2RegReport, DecodesControllerManufacturerSize) {
  struct Case {
    std::uint8_t R0, R1, R2;
    const char *Controller, *Manufacturer, *Size;
  };
  const Case cases[] = {
      {0x2A, 0x49, 0x40, ": ID:02, Step:0A, Type:CSRAM", ": ID:09 = Intel", ": 1 MByte, 1 bank"},
      {0x0A, 0x09, 0x09, ": ID:00, Step:0A, Type:BSRAM", ": ID:09 = Intel", ": 512 KByte, 2 banks"},
      {0x13, 0x0A, 0x04, ": ID:01, Step:03, Type:BSRAM", ": ID:0A", ": 256 KByte, 1 bank"},
      {0x00, 0xC9, 0x43, ": ID:00, Step:00, Type:BSRAM", ": ID:09 = Intel", ": 4 MByte, 4 banks"},
      {0x20, 0x00, 0xC7, ": ID:02, Step:00, Type:CSRAM", ": ID:00", ": 4 MByte, 8 banks"},
      {0xD0, 0x3F, 0x10, ": ID:0D, Step:00, Type:BSRAM", ": ID:3F", ": 1 MByte, 1 bank"},
      {0x00, 0x00, 0x20, ": ID:00, Step:00, Type:BSRAM", ": ID:00", ": 2 MByte, 1 bank"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Controller);
    Details d;
    d.Regs({c.R0, c.R1, c.R2, 0, 0x11});
    const Rows want = {
        Col(" L2 Controller", c.Controller),
        Col(" L2 Manufacturer", c.Manufacturer),
        Col(" L2 Cache Size", c.Size),
        Col(" L2 Latency Mode", ": 11"),
    };
    EXPECT_EQ(d.Registers(), want);
    EXPECT_EQ(d.w.p2.IsCsram, (c.R0 & 0x20) != 0);
  }
}

TEST(L2RegReport, SizeWithoutMeaningKeepsTheEarlierText) {
  Details d;
  d.Regs({0x00, 0x00, 0x0C});  // BSRAM, size code 3
  EXPECT_EQ(d.Registers()[2], Col(" L2 Cache Size", ": ??, 1 bank"));
  d.Regs({0x00, 0x00, 0x09});
  EXPECT_EQ(d.Registers()[2], Col(" L2 Cache Size", ": 512 KByte, 2 banks"));
  d.Regs({0x00, 0x00, 0x0F});  // code 3 again, four banks
  EXPECT_EQ(d.Registers()[2], Col(" L2 Cache Size", ": 512 KByte, 4 banks"));
  EXPECT_EQ(d.w.p2.L2SizeText.str(), "512 KByte");
  EXPECT_EQ(d.w.p2.L2Banks, 4);
}

TEST(L2RegReport, AllNineWithRawValuesUnderExx) {
  Details d;
  d.w.settings.OptExx = true;
  d.Regs({0x2A, 0x49, 0x40, 0x03, 0x05, 0x81, 0x04, 0x7F, 0xFF});
  const Rows want = {
      Col(" L2 Controller", ": (2A) ID:02, Step:0A, Type:CSRAM"),
      Col(" L2 Manufacturer", ": (49) ID:09 = Intel"),
      Col(" L2 Cache Size", ": (40) 1 MByte, 1 bank"),
      Col(" L2 Cacheable Area", ": (03) 4096 MByte"),
      Col(" L2 Latency Mode", ": (05) 05"),
      Col(" L2 Error Type", ": (81) 81"),
      Col(" L2 Associativity", ": (04) 4 way"),
      Col(" L2 ???", ": (7F) 7F"),
      Col(" L2 Timing", ": (FF) FF"),
  };
  EXPECT_EQ(d.Registers(), want);
}

TEST(L2RegReport, CacheableAreaAsSigned32BitShift) {
  struct Case {
    std::uint8_t V;
    const char* Want;
  };
  const Case cases[] = {
      {0, ": (00) 512 MByte"},          {3, ": (03) 4096 MByte"}, {21, ": (15) 1073741824 MByte"},
      {22, ": (16) -2147483648 MByte"}, {23, ": (17) 0 MByte"},   {31, ": (1F) 0 MByte"},
      {32, ": (20) 512 MByte"},         {0xFF, ": (FF) 0 MByte"},
  };
  for (const Case& c : cases) {
    Details d;
    d.w.settings.OptExx = true;
    d.w.p2.P2Info.L2Regs[3] = c.V;
    EXPECT_EQ(d.Registers()[3], Col(" L2 Cacheable Area", c.Want));
  }
}

TEST(L2RegReport, Associativity) {
  struct Case {
    std::uint8_t V;
    const char* Want;
  };
  const Case cases[] = {
      {0, ": (00) direct mapped"}, {1, ": (01) direct mapped"}, {2, ": (02) 2 way"},
      {5, ": (05) 4 way"},         {6, ": (06) ?? way"},        {8, ": (08) "},
  };
  for (const Case& c : cases) {
    Details d;
    d.w.settings.OptExx = true;
    d.w.p2.P2Info.L2Regs[6] = c.V;
    EXPECT_EQ(d.Registers()[6], Col(" L2 Associativity", c.Want));
  }
}

TEST(P2Details, LatencyQueueFastStringsRawLine) {
  Details d;
  d.w.settings.OptExx = true;
  d.w.p2.P2Info.Ctl3Lo = 0x0004451F;
  d.w.p2.P2Info.Msr1E0Lo = 0x4;
  d.w.p2.P2Info.PowerOnLo = 0x1A402000;
  d.w.p2.IoqDepth = 1;
  d.w.p2.P2Info.MtrrCapLo = 0;
  const Rows all = d.List();
  const Rows tail(all.begin() + 9, all.end());
  const Rows want = {
      Col(" L2 Latency", ": 15"),
      Col(" In Order Queue Depth", ": 1"),
      Col(" Fast Strings", ": false"),
      " 2A:1A402000 11E:0004451F 1E0:00000004",
      " no Write Combining for LFB (Linear Frame Buffer) supported",
  };
  EXPECT_EQ(tail, want);
}

TEST(P2Details, TestModeListsZeroRegistersAndNoRanges) {
  ReportWorld rw;
  EXPECT_TRUE(rw.RunTestCase(2));
  rw.Clear();
  rw.w.settings.OptExt = true;
  P2Details(rw.w.ForP2());
  const Rows want = {
      Col(" L2 Controller", ": ID:00, Step:00, Type:BSRAM"),
      Col(" L2 Manufacturer", ": ID:00"),
      Col(" L2 Cache Size", ": ??, 1 bank"),
      Col(" L2 Latency Mode", ": 00"),
      Col(" L2 Latency", ": 0"),
      Col(" In Order Queue Depth", ": 8"),
      Col(" Fast Strings", ": true "),
  };
  EXPECT_EQ(rw.Lines(), want);
}

TEST(P2Details, ReportWithExtAppendsTheListing) {
  ReportWorld rw(49);
  rw.w.settings.OptExt = true;
  EXPECT_TRUE(rw.RunTestCase(2));
  const Rows& all = rw.Lines();
  ASSERT_GE(all.size(), 7u);
  const Rows tail(all.end() - 7, all.end());
  EXPECT_EQ(tail[0], Col(" L2 Controller", ": ID:00, Step:00, Type:BSRAM"));
  EXPECT_EQ(tail[6], Col(" Fast Strings", ": true "));
  EXPECT_EQ(all[all.size() - 8], Col("", ": Keine Auff\xE4lligkeiten festgestellt"));
}

TEST(P2Details, PentiumProHasNoRegisterOrLatencyLines) {
  Details d;
  d.w.p2.P2Info.Cpu.ClassCode = kClassPPro;
  d.w.p2.P2Info.L2Regs[3] = 3;
  d.w.settings.OptExx = true;
  d.w.p2.P2Info.MtrrCapLo = 1;
  d.w.p2.P2Info.VarMtrr[0] = {0x00000006, 0, 0xFC000800, 0xF};
  const Rows want = {
      Col(" In Order Queue Depth", ": 8"),
      Col(" Fast Strings", ": true "),
      " 2A:00000000 11E:00004501 1E0:00000000",
      Col(" MTRR0:00000000..03FFFFFF", ": WB    0 MB ..    64 MB FC000000"),
      " no Write Combining for LFB (Linear Frame Buffer) supported",
  };
  EXPECT_EQ(d.List(), want);
}

TEST(P2Details, RepeatedListingsAreTheSame) {
  Details d;
  d.Regs({0x2A, 0x49, 0x40});
  d.w.p2.P2Info.MtrrCapLo = 2;
  d.w.p2.P2Info.VarMtrr[1] = {0xE0000001, 0, 0xFE000800, 0};
  const Rows first = d.List();
  EXPECT_EQ(d.List(), first);
  EXPECT_EQ(first.back(), " Write Combining for LFB (Linear Frame Buffer) supported");
}

// ---- memory type ranges ----------------------------------------------------

struct Ranges : Details {
  using Details::Details;
  Rows Listing(std::initializer_list<TMtrrPair> pairs, std::uint32_t capLo = 8) {
    TP2Info& info = w.p2.P2Info;
    info.MtrrCapLo = capLo;
    std::size_t i = 0;
    for (const TMtrrPair& p : pairs) info.VarMtrr[i++] = p;
    Clear();
    MtrrReport(w.ForP2());
    return Lines();
  }
};

const std::string kLfbYes = " Write Combining for LFB (Linear Frame Buffer) supported";
const std::string kLfbNo = " no Write Combining for LFB (Linear Frame Buffer) supported";

TEST(MtrrReport, RangesAndTheLastValidRangeDecidesLfb) {
  Ranges r;
  const Rows want = {
      " MTRR0:00000000..07FFFFFF: WB    0 MB ..   128 MB F8000000",
      " MTRR1:E0000000..E1FFFFFF: WC 3584 MB ..  3616 MB FE000000",
      kLfbYes,
  };
  EXPECT_EQ(r.Listing({{0x00000006, 0, 0xF8000800, 0}, {0xE0000001, 0, 0xFE000800, 0}}), want);
  EXPECT_TRUE(r.w.p2.LfbWc);

  // A valid range below 2 GB after the frame buffer clears it.
  const Rows after = {
      " MTRR0:00000000..07FFFFFF: WB    0 MB ..   128 MB F8000000",
      " MTRR1:E0000000..E1FFFFFF: WC 3584 MB ..  3616 MB FE000000",
      " MTRR2:08000000..0BFFFFFF: WT  128 MB ..   192 MB FC000000",
      kLfbNo,
  };
  EXPECT_EQ(r.Listing({{0x00000006, 0, 0xF8000800, 0},
                       {0xE0000001, 0, 0xFE000800, 0},
                       {0x08000004, 0, 0xFC000800, 0}}),
            after);
  EXPECT_FALSE(r.w.p2.LfbWc);
}

TEST(MtrrReport, InvalidRangesAreSkippedAndLeaveLfbAlone) {
  Ranges r;
  const Rows want = {
      " MTRR1:E0000000..E1FFFFFF: WC 3584 MB ..  3616 MB FE000000",
      kLfbYes,
  };
  EXPECT_EQ(r.Listing({{0x00000006, 0, 0xF8000000, 0},
                       {0xE0000001, 0, 0xFE000800, 0},
                       {0x08000004, 0, 0xFC000000, 0}}),
            want);
  // Range 0 never counts, whatever its start.
  EXPECT_EQ(r.Listing({{0xE0000001, 0, 0xFE000800, 0}}, 1),
            (Rows{" MTRR0:E0000000..E1FFFFFF: WC 3584 MB ..  3616 MB FE000000", kLfbNo}));
}

TEST(MtrrReport, WraparoundTwoAndFourGigabytes) {
  struct Case {
    TMtrrPair Pair;
    const char* Want;
  };
  const Case cases[] = {
      // Bits 24 to 27 clear above the size bit 23.
      {{0x00000000, 0, 0xF0800800, 0},
       " MTRR0:00000000..007FFFFF: UC    0 MB ..     8 MB F0800000 ## wraparound ##"},
      // Only bit 31: 2 GB, the end bound wraps to 0 MB, no mark.
      {{0x80000006, 0, 0x80000800, 0},
       " MTRR0:80000000..FFFFFFFF: WB 2048 MB ..     0 MB 80000000"},
      // No mask bit at or above bit 12: the whole 4 GB, no mark.
      {{0x00000000, 0, 0x00000800, 0},
       " MTRR0:00000000..FFFFFFFF: UC    0 MB ..     0 MB 00000000"},
      {{0x12345005, 0xFFFFFFFF, 0x00000FFF, 0xF},
       " MTRR0:00000000..FFFFFFFF: WP    0 MB ..     0 MB 00000000"},
      // Base bits outside the mask do not count; the type keeps its low nibble.
      {{0x1234567F, 0, 0xFFFFF800, 0},
       " MTRR0:12345000..12345FFF: ??  291 MB ..   291 MB FFFFF000"},
      // Top range of the address space: end 0 MB.
      {{0xFFFFF001, 0, 0xFFFFF800, 0},
       " MTRR0:FFFFF000..FFFFFFFF: WC 4095 MB ..     0 MB FFFFF000"},
  };
  for (const Case& c : cases) {
    Ranges r;
    const Rows lines = r.Listing({c.Pair}, 1);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], c.Want);
  }
}

TEST(MtrrReport, HighIndexLabel) {
  Ranges r;
  TP2Info& info = r.w.p2.P2Info;
  info.MtrrCapLo = 0xFFFF000B;  // only the low four bits count: 11 ranges
  info.VarMtrr[10] = {0xF0000001, 0, 0xFF000800, 0};
  info.VarMtrr[11] = {0x00000006, 0, 0xF8000800, 0};  // beyond the count
  r.Clear();
  MtrrReport(r.w.ForP2());
  const Rows want = {
      " MTRR10:F0000000..F0FFFFFF: WC 3840 MB ..  3856 MB FF000000",
      kLfbYes,
  };
  EXPECT_EQ(r.Lines(), want);
}

TEST(MtrrReport, NoRangesKeepsThePreviousResult) {
  Ranges r;
  EXPECT_EQ(r.Listing({}, 0), Rows{kLfbNo});
  r.Listing({{0x00000006, 0, 0xF8000800, 0}, {0xE0000001, 0, 0xFE000800, 0}}, 2);
  EXPECT_EQ(r.Listing({}, 0x10), Rows{kLfbYes});  // 10h AND 0Fh is 0
}

TEST(MtrrReport, TestModePrintsNothing) {
  Ranges r;
  r.w.settings.TestNo = 4;
  EXPECT_TRUE(r.Listing({{0x00000006, 0, 0xF8000800, 0}}).empty());
}

TEST(MtrrReport, ClosingLineInGermanAndDutch) {
  Ranges de(49);
  EXPECT_EQ(de.Listing({}, 0),
            Rows{" kein Write Combining f\xFCr LFB (Linear Frame Buffer) unterst\xFCtzt"});
  Ranges nl(31);
  EXPECT_EQ(nl.Listing({}, 0),
            Rows{" geen Write Combining for LFB (Linear Frame Buffer) ondersteund"});
}

TEST(MtrrTypeName, AllTypes) {
  const char* want[8] = {"UC", "WC", "??", "??", "WT", "WP", "WB", "??"};
  for (int t = 0; t < 8; ++t) EXPECT_EQ(MtrrTypeName(static_cast<std::uint8_t>(t)), want[t]);
  EXPECT_EQ(MtrrTypeName(0xFF), "??");
}

}  // namespace
}  // namespace torv
