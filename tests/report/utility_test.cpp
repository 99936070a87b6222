// Formatting helpers: hexadecimal, decimal, upper case, flags, real numbers.
#include "report/utility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace torv {
namespace {

TEST(Utility, HexAndDecimal) {
  EXPECT_EQ(HexByte(10), "0A");
  EXPECT_EQ(HexByte(0xFF), "FF");
  EXPECT_EQ(HexWord(0xBEEF), "BEEF");
  EXPECT_EQ(HexDword(0x1F), "0000001F");
  EXPECT_EQ(HexDword(0xDEADBEEF), "DEADBEEF");
  EXPECT_EQ(DecStr(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(DecStr(0), "0");
  EXPECT_EQ(DecStrW(7, 3), "  7");
  EXPECT_EQ(DecStrW(-12, 4), " -12");
  EXPECT_EQ(DecStrW(12345, 3), "12345");
  EXPECT_EQ(DecStrW(1, -5), "1");
  EXPECT_EQ(DecStrW(1, 100000).size(), 255u);
}

TEST(Utility, BoolWordsHaveEqualWidth) {
  EXPECT_EQ(BoolWord(true), " true ");
  EXPECT_EQ(BoolWord(false), " false");
}

TEST(Utility, UpperStrFollowsCodePage1252) {
  EXPECT_EQ(UpperStr("/ecc=2:on"), "/ECC=2:ON");
  // ä ö ü ß à þ ÷ š œ ž ÿ µ
  EXPECT_EQ(UpperStr("\xE4\xF6\xFC\xDF\xE0\xFE\xF7\x9A\x9C\x9E\xFF\xB5"),
            "\xC4\xD6\xDC\xDF\xC0\xDE\xF7\x8A\x8C\x8E\x9F\xB5");
  // The OEM umlaut codes of the tables are not letters of code page 1252.
  EXPECT_EQ(UpperStr("\x84\x94\x81"), "\x84\x94\x81");
}

TEST(Utility, AppendCharStopsAtCapacity) {
  std::string s = "ab";
  AppendChar(s, 3, 'c');
  AppendChar(s, 3, 'd');
  EXPECT_EQ(s, "abc");
}

TEST(Utility, RealStrOneDecimalPointOrComma) {
  struct Case {
    double value;
    const char* point;
    const char* comma;
  };
  const Case cases[] = {
      {300400000e-6, "300.4", "300,4"}, {66.6, "66.6", "66,6"},     {4.5, "4.5", "4,5"},
      {99.96, "100.0", "100,0"},        {0.04, "0.0", "0,0"},       {-0.04, "0.0", "0,0"},
      {-2.26, "-2.3", "-2,3"},          {466.65, "466.6", "466,6"},  // the double lies just below
                                                                     // .65
  };
  UtilityState point;
  UtilityState comma;
  SetDecimalPoint(comma, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(RealStr(point, c.value, 1), c.point);
    EXPECT_EQ(RealStr(comma, c.value, 1), c.comma);
  }
}

TEST(Utility, RealStrWidthsDecimalsAndOddValues) {
  const UtilityState u;
  EXPECT_EQ(RealStrW(u, 2.5, 10, 0), "3");  // a whole-number tie goes away from zero
  EXPECT_EQ(RealStrW(u, -2.5, 10, 0), "-3");
  EXPECT_EQ(RealStrW(u, 1.23456, 3, 3), "1.235");
  EXPECT_EQ(RealStrW(u, 1.5, 40, 1), "1.5");  // a wide field never pushes the number out
  EXPECT_EQ(RealStrW(u, 1.5, -3, -2), "2");
  EXPECT_EQ(RealStr(u, 1e300, 1), "10000000000000000525");  // kept to 20 characters
  EXPECT_EQ(RealStr(u, std::numeric_limits<double>::quiet_NaN(), 1), "NaN");
  EXPECT_EQ(RealStr(u, std::numeric_limits<double>::infinity(), 1), "Inf");
  EXPECT_EQ(RealStr(u, -std::numeric_limits<double>::infinity(), 1), "-Inf");
}

}  // namespace
}  // namespace torv
