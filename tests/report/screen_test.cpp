// The report screen: overwrite, tab column, folding, conversion, scrolling.
#include <gtest/gtest.h>

#include <string>

#include "report/language.h"

namespace torv {
namespace {

class ScreenTest : public ::testing::Test {
 protected:
  // Binds the screen as the main window does (scroll off, wrap and
  // conversion on) and clears it as every analysis run does.
  void Bind(bool scroll = false, bool wrap = true, bool convert = true) {
    ReportInit(r, box, scroll, wrap, convert);
    ReportClear(r);
  }
  const std::vector<std::string>& Lines() const { return box.Items; }

  ListBox box;
  ReportState r;
};

TEST_F(ScreenTest, InitFillsRowsOfBlanksAfterExistingLines) {
  box.Items = {"kept"};
  box.Height = 4 + 3 * 13 + 5;  // three whole rows
  ReportInit(r, box, false, true, true);
  EXPECT_EQ(r.RowCount, 3);
  ASSERT_EQ(Lines().size(), 4u);
  EXPECT_EQ(Lines()[0], "kept");
  EXPECT_EQ(Lines()[3], std::string(79, ' '));
  EXPECT_EQ(r.CurLine, 1);
  EXPECT_EQ(r.CurCol, 1);
  ReportClear(r);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(ScreenTest, WritesBeforeInitGoNowhere) {
  ReportWrite(r, "abc");
  ReportWriteLn(r, "def");
  ReportClear(r);
  EXPECT_EQ(r.Bound, nullptr);
  EXPECT_EQ(r.CurLine, 1);
  EXPECT_EQ(r.CurCol, 1);
}

TEST_F(ScreenTest, WriteOverwritesAtCurrentColumn) {
  Bind();
  r.CurCol = 5;
  ReportWrite(r, "abc");
  EXPECT_EQ(Lines()[0], "    abc");
  EXPECT_EQ(r.CurCol, 8);

  ReportWriteLn(r, "");
  ReportWrite(r, "abcd");
  r.CurCol = 2;
  ReportWrite(r, "xy");
  EXPECT_EQ(Lines()[1], "axyd");
  EXPECT_EQ(r.CurCol, 4);
}

TEST_F(ScreenTest, FirstTabPadsToColumn26) {
  struct Case {
    const char* name;
    std::string text;
    std::string line;
  };
  const Case cases[] = {
      {"label, tab, colon", " L1 Code Cache\t: 16K", " L1 Code Cache           : 16K"},
      {"two tabs keep the second", "a\tb\tc", "a                        b\tc"},
      {"tab beyond column 26 only goes", std::string(29, 'x') + "\t:", std::string(29, 'x') + ":"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bind();
    ReportWrite(r, c.text);
    EXPECT_EQ(Lines()[0], c.line);
    EXPECT_EQ(r.CurCol, static_cast<int>(c.line.size()) + 1);
  }
  Bind();
  ReportWrite(r, " L1 Code Cache\t:");
  EXPECT_EQ(Lines()[0].find(':') + 1, 26u);
}

TEST_F(ScreenTest, SecondTabIsHandledByTheNextWrite) {
  Bind();
  ReportWrite(r, "a\tb\t");
  ReportWrite(r, "c");
  EXPECT_EQ(Lines()[0], "a                        bc");
}

TEST_F(ScreenTest, LeftOverTabBeyondColumn26NeverMovesThePositionOffTheLine) {
  Bind();
  ReportWrite(r, "a\tb\t");  // the second tab stays, in column 27
  r.CurCol = 1;
  ReportWrite(r, "");
  EXPECT_EQ(Lines()[0], "a                        b");
  EXPECT_EQ(r.CurCol, 1);
}

TEST_F(ScreenTest, FoldsOncePerWriteAt80Columns) {
  Bind();
  ReportWrite(r, std::string(85, 'x'));
  ASSERT_EQ(Lines().size(), 2u);
  EXPECT_EQ(Lines()[0], std::string(80, 'x'));
  EXPECT_EQ(Lines()[1], std::string(5, 'x'));
  EXPECT_EQ(r.CurLine, 2);
  EXPECT_EQ(r.CurCol, 1);
  // The moved part is overwritten from column 1 by the next write.
  ReportWrite(r, "ab");
  EXPECT_EQ(Lines()[1], "abxxx");

  // A moved part longer than 80 columns is not folded again.
  Bind();
  ReportWrite(r, std::string(200, 'y'));
  ASSERT_EQ(Lines().size(), 2u);
  EXPECT_EQ(Lines()[1].size(), 120u);
}

TEST_F(ScreenTest, WriteLnOfExactly80ColumnsLeavesAnEmptyLine) {
  Bind();
  ReportWriteLn(r, std::string(80, 'z'));
  ReportWriteLn(r, "next");
  ASSERT_EQ(Lines().size(), 3u);
  EXPECT_EQ(Lines()[0], std::string(80, 'z'));
  EXPECT_EQ(Lines()[1], "");
  EXPECT_EQ(Lines()[2], "next");
}

TEST_F(ScreenTest, WithoutWrapLinesStopAt255) {
  Bind(false, false, true);
  ReportWrite(r, std::string(300, 'a'));
  ReportWrite(r, std::string(100, 'b'));
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_EQ(Lines()[0], std::string(255, 'a'));
  // Far beyond the line's end a write changes nothing and never hangs.
  r.CurCol = 100000;
  ReportWrite(r, "c\t");
  EXPECT_EQ(Lines()[0], std::string(255, 'a'));
}

TEST_F(ScreenTest, ConvertsOemUmlautsOnly) {
  Bind();
  ReportWrite(r, "\x84\x94\x81\x8E\x99\x9A\xE1\x15\xE6|\xD6\xF5\xAF");
  EXPECT_EQ(Lines()[0], "\xE4\xF6\xFC\xC4\xD6\xDC\xDF\xA7\xB5|\xD6\xF5\xAF");

  Bind(false, true, false);
  ReportWrite(r, "f\x81r");
  EXPECT_EQ(Lines()[0], "f\x81r");
}

TEST_F(ScreenTest, ScrollingKeepsRowCountLines) {
  box.Height = 4 + 3 * 13;
  Bind(true, true, true);
  ASSERT_EQ(r.RowCount, 3);
  for (const char* s : {"1", "2", "3", "4", "5"}) ReportWriteLn(r, s);
  ReportWrite(r, "6");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"4", "5", "6"}));
  EXPECT_EQ(r.CurLine, 3);
}

TEST_F(ScreenTest, BoxTooSmallForARowStillScrollsSafely) {
  box.Height = 2;
  box.ItemHeight = 0;
  Bind(true, true, true);
  EXPECT_EQ(r.RowCount, 1);
  ReportWriteLn(r, "a");
  ReportWriteLn(r, "b");
  ReportWrite(r, "c");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"c"}));
}

}  // namespace
}  // namespace torv
