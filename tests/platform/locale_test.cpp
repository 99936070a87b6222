// POSIX locale names to Windows language identifiers.
#include "platform/locale.h"

#include <gtest/gtest.h>

#include <string_view>

#include "report/language.h"

namespace torv {
namespace {

TEST(Locale, LanguageAndTerritory) {
  const struct {
    const char* name;
    std::uint16_t id;
  } cases[] = {
      {"de_DE", 0x0407},
      {"de_DE.UTF-8", 0x0407},
      {"de_CH.UTF-8", 0x0807},
      {"de_AT@euro", 0x0C07},
      {"de_LU.ISO-8859-1@euro", 0x0407},
      {"de_BE.UTF-8", 0x0407},
      {"de_LI", 0x0407},
      {"de_IT.UTF-8", 0x0407},
      {"nl_AW", 0x0413},
      {"nl_SX.UTF-8", 0x0413},
      {"nl_NL.utf8", 0x0413},
      {"nl_BE", 0x0813},
      {"en_GB.UTF-8", 0x0409},
      {"C", 0x0409},
      {"C.UTF-8", 0x0409},
      {"POSIX", 0x0409},
      // A language alone counts as its main territory.
      {"de", 0x0407},
      {"de.UTF-8", 0x0407},
      {"nl", 0x0413},
      {"nl@euro", 0x0413},
      {"en", 0x0409},
      {"fr", 0x0409},
      {"de_DEX", 0x0407},
      {"fr_BE", 0x0409},
      {"deu_DE", 0x0409},
      {"en_DE", 0x0409},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LangIdFromLocale(c.name, nullptr, nullptr), c.id);
    // Every German locale gives the German report, every Dutch one the Dutch.
    const std::string_view name(c.name);
    const std::uint16_t language = SystemLanguage(LangIdFromLocale(c.name, nullptr, nullptr));
    EXPECT_EQ(language, name.starts_with("de") && !name.starts_with("deu") ? 49
                        : name.starts_with("nl")                          ? 31
                                                                          : 1);
  }
}

TEST(Locale, FirstNonEmptyVariableCounts) {
  EXPECT_EQ(LangIdFromLocale("nl_NL", "de_DE", "de_AT"), 0x0413);
  EXPECT_EQ(LangIdFromLocale("", "de_DE", "nl_BE"), 0x0407);
  EXPECT_EQ(LangIdFromLocale(nullptr, "", "nl_BE"), 0x0813);
  EXPECT_EQ(LangIdFromLocale("C", "de_DE", "de_DE"), 0x0409);
  EXPECT_EQ(LangIdFromLocale(nullptr, nullptr, nullptr), 0x0409);
  EXPECT_EQ(LangIdFromLocale("", "", ""), 0x0409);
}

}  // namespace
}  // namespace torv
