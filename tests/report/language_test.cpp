// Choice of the report language; code page 1252 to UTF-8 and back.
#include "report/language.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "report/torvlan.h"

namespace torv {
namespace {

TEST(Language, SystemLanguageCodes) {
  const struct {
    std::uint16_t id;
    std::uint16_t code;
  } cases[] = {{0x0407, 49}, {0x0807, 49}, {0x0C07, 49}, {0x1007, 1}, {0x1407, 1},
               {0x0413, 31}, {0x0813, 31}, {0x0409, 1},  {0x0000, 1}, {0xFFFF, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(SystemLanguage(c.id), c.code);
  }
}

TEST(Language, SetLanguageChoosesRecord) {
  const struct {
    std::uint16_t code;
    const LangRec* rec;
  } cases[] = {{1, &EnglishRec()}, {31, &DutchRec()},   {43, &GermanRec()},
               {49, &GermanRec()}, {44, &EnglishRec()}, {0, &EnglishRec()}};
  ReportState r;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    SetLanguage(r, c.code);
    EXPECT_EQ(r.LangCode, c.code);
    EXPECT_EQ(&r.Msg(), c.rec);
  }
}

TEST(Language, WayAssociativeJoinsTheNumber) {
  EXPECT_EQ(std::string("4").append(EnglishRec().WayAssociative.view()), "4way associative");
  EXPECT_EQ(std::string("8").append(DutchRec().WayAssociative.view()), "8maal associatief");
}

TEST(Language, Cp1252ToUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("abc\t:"), "abc\t:");
  EXPECT_EQ(Cp1252ToUtf8("\xE4\xF6\xFC\xDF\xD6\xB5\xA7\xF5\xAF\xFF"), "äöüßÖµ§õ¯ÿ");
  EXPECT_EQ(Cp1252ToUtf8("\x80\x8A\x99\x9F\x85"), "€Š™Ÿ…");
  // Unassigned bytes show as the replacement character.
  EXPECT_EQ(Cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Utf8ToCp1252, ConvertsWhatTheCodePageHasAndMarksTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"/GR /ext", "/GR /ext"},
      {"\xC3\xBC\xC3\x9F", "\xFC\xDF"},
      {"\xE2\x82\xAC", "\x80"},
      {"\xE6\x97\xA5", "?"},
      {"a\xFF"
       "b",
       "a?b"},
      {"\xC3", "?"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Utf8ToCp1252(in), out) << in;
}

}  // namespace
}  // namespace torv
