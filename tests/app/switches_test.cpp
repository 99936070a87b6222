// The switch parser over typed lines and command-line arguments, the report
// language and decimal separator it picks, and the runtime integer conversion
// it reads numbers with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/fake_platform.h"
#include "report/torvlan.h"
#include "app/world.h"

namespace torv {
namespace {

// What a parser run changed, as blank-separated words: the flags that are
// set, "verdict-off", "ecc<p>=<mode>", "asks<p>" for each "/ECC=" switch and
// the processor it names (0: none readable), "test=<n>", "lang=<code>",
// "comma".
// TestNo starts at 7 so that setting it to 0 shows.
std::string Changes(const std::string& text, const std::vector<std::string>& args = {}) {
  FakePlatform fake;
  World w(fake);
  w.settings.TestNo = 7;
  ParseSwitches(w.settings, w.report, w.util, text, args);
  const Settings& s = w.settings;
  std::string out;
  auto add = [&out](bool on, const std::string& word) {
    if (on) out += (out.empty() ? "" : " ") + word;
  };
  add(s.OptLog, "log");
  add(s.OptQuit, "quit");
  add(s.OptSave, "save");
  add(s.OptExt, "ext");
  add(s.OptExx, "exx");
  add(s.OptNoL2, "nol2");
  add(!s.VerdictOn, "verdict-off");
  for (int p = 1; p <= 4; ++p) {
    add(s.EccMode[p] != 0xFF, "ecc" + std::to_string(p) + "=" + std::to_string(s.EccMode[p]));
  }
  for (const EccSwitch& e : s.EccSwitches) add(true, "asks" + std::to_string(e.Processor));
  add(s.TestNo != 7, "test=" + std::to_string(s.TestNo));
  add(w.report.LangCode != 1, "lang=" + std::to_string(w.report.LangCode));
  add(!w.util.DecimalPoint, "comma");
  add(s.DriverDebug, "debug");
  return out;
}

TEST(Switches, TypedLine) {
  const struct {
    const char* text;
    const char* changes;
  } cases[] = {
      {"/log", "log"},
      {"/Q /SAVE /DEB /FEA /SIM=2", "quit save"},
      {"/EXT", "ext"},
      {"/EXX", "ext exx"},
      {"/NOL2 /GR", "nol2 verdict-off lang=49 comma"},
      {"/SAVEX /LOGS /EX /ECC /TEST", ""},
      {"/ECC=ON", "ecc1=1 asks1"},
      // A number that is not 1 to 4, or none, sets no entry: no processor
      // that nobody named is switched (the window then names the switch).
      {"/ECC=5:ON", "asks5"},
      {"/ECC=x:ON", "asks0"},
      {"/ECC=3x:ON", "asks0"},
      {"/ECC=0:OFF", "asks0"},
      {"/ECC=260:ON", "asks260"},
      {"/ECC=-255:OFF", "asks-255"},
      {"/ECC=2:YES", ""},
      {"/ECC=2:OFF", "ecc2=0 asks2"},
      {"/ECC=3:1", "ecc3=1 asks3"},
      {"/ecc=4:0", "ecc4=0 asks4"},
      {"/ECC=2:ON /ECC=2:OFF", "ecc2=0 asks2 asks2"},
      {"/ECC=0000002:ON", "ecc2=1 asks2"},  // the value is cut to 10 characters: "0000002:ON" fits
      {"/ECC=00000002:ON", ""},             // ... but here only "00000002:O" remains
      {"/TEST=3x", "test=3"},
      {"/TEST=", "test=0"},
      {"/TEST=$A", "test=10"},
      {"/test=258", "test=2"},
      {"/TEST=-1", "test=255"},
      {"/GR /EXT", "ext lang=49 comma"},
      {"/GR  /EXT", "lang=49 comma"},
      {" /EXT", ""},
      {"/EXT ", "ext"},
      {"/GR /NL", "lang=31"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Changes(c.text), c.changes);
  }
}

TEST(Switches, TypedLineIsCutTo255) {
  EXPECT_EQ(Changes("/Q " + std::string(250, 'x') + " /EXT"), "quit");
}

TEST(Switches, CommandLineArguments) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* changes;
  } cases[] = {
      {"last language wins (German)", {"/EN", "/GR"}, "lang=49 comma"},
      {"last language wins (English)", {"/GR", "/EN"}, ""},
      {"an empty argument is skipped", {"/LOG", "", "/EXT"}, "log ext"},
      {"an empty argument first", {"", "/SAVE"}, "save"},
      {"an argument holds no second switch", {"/LOG /EXT"}, ""},
      {"each argument is cut to 255", {"/TEST=" + std::string(249, '0') + "12"}, "test=0"},
      {"no arguments", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Changes("", c.args), c.changes);
  }
}

TEST(Switches, ARunOnlyEverSets) {
  FakePlatform fake;
  World w(fake);
  ParseSwitches(w.settings, w.report, w.util, "/LOG /NOL2 /ECC=2:ON", {});
  ParseSwitches(w.settings, w.report, w.util, "/EXT", {});
  EXPECT_TRUE(w.settings.OptLog);
  EXPECT_TRUE(w.settings.OptNoL2);
  EXPECT_FALSE(w.settings.VerdictOn);
  EXPECT_EQ(w.settings.EccMode[2], 1);
  EXPECT_TRUE(w.settings.OptExt);
}

TEST(Switches, ReadInteger) {
  const struct {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"42", true, 42},        {"  -17", true, -17},
      {"+8", true, 8},         {"$1f", true, 31},
      {"-$10", true, -16},     {"3x", false, 3},
      {"12 ", false, 12},      {"", false, 0},
      {"-", false, 0},         {"$", false, 0},
      {"x1", false, 0},        {"2147483647", true, 2147483647},
      {"4294967298", true, 2},  // wraps modulo 2^32
      {"$FFFFFFFF", true, -1}, {"99999999999999999999999999999999999999", true, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t v = 12345;
    EXPECT_EQ(ReadInteger(c.text, v), c.ok);
    EXPECT_EQ(v, c.value);
  }
}

// Start-up as the program runs it: the system language, then the switches.
TEST(Language, SystemLanguageThenSwitches) {
  struct Case {
    const char* name;
    std::uint16_t langId;
    std::string text;
    const LangRec* rec;
    bool decimalPoint;
  };
  const Case cases[] = {
      {"German (Switzerland)", 0x0807, "", &GermanRec(), false},
      {"German (Luxembourg) counts as English", 0x1007, "", &EnglishRec(), true},
      {"Dutch (Belgium)", 0x0813, "", &DutchRec(), true},
      {"/NL on a German system", 0x0407, "/NL", &DutchRec(), true},
      {"/GR on an English system", 0x0409, "/GR", &GermanRec(), false},
      {"/US on a German system", 0x0C07, "/us", &EnglishRec(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform fake;
    fake.LangId = c.langId;
    World w(fake);
    SetLanguage(w.report, SystemLanguage(fake.SystemLangId()));
    ParseSwitches(w.settings, w.report, w.util, c.text, {});
    EXPECT_EQ(&w.Msg(), c.rec);
    EXPECT_EQ(w.util.DecimalPoint, c.decimalPoint);
  }
}

TEST(Language, Code43IsGermanButKeepsTheDecimalPoint) {
  FakePlatform fake;
  World w(fake);
  SetLanguage(w.report, 43);
  ParseSwitches(w.settings, w.report, w.util, "/EXT", {});
  EXPECT_EQ(&w.Msg(), &GermanRec());
  EXPECT_TRUE(w.util.DecimalPoint);
}

}  // namespace
}  // namespace torv
