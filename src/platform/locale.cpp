// POSIX locale names to Windows language identifiers.
#include "platform/locale.h"

#include <array>
#include <string_view>

namespace torv {
namespace {

struct LocaleId {
  std::string_view Name;  // language_TERRITORY
  std::uint16_t LangId;
};

// The territories with a language identifier of their own that the report's
// language choice knows; every other territory of German or Dutch counts as
// the language's main one (de_LU, de_LI, de_BE, de_IT, nl_AW ...).
constexpr auto kLocaleIds = std::to_array<LocaleId>({
    {"de_CH", 0x0807},
    {"de_AT", 0x0C07},
    {"nl_BE", 0x0813},
});

// A language alone, or with any territory.
constexpr auto kLanguageIds = std::to_array<LocaleId>({
    {"de", 0x0407},
    {"nl", 0x0413},
});

constexpr std::uint16_t kUsEnglish = 0x0409;

bool Empty(const char* s) {
  return s == nullptr || *s == '\0';
}

}  // namespace

std::uint16_t LangIdFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* chosen = !Empty(lcAll) ? lcAll : !Empty(lcMessages) ? lcMessages : lang;
  if (Empty(chosen)) return kUsEnglish;
  std::string_view name(chosen);
  // language_TERRITORY, before any ".codeset" or "@modifier".
  name = name.substr(0, name.find_first_of(".@"));
  for (const LocaleId& l : kLocaleIds) {
    if (name == l.Name) return l.LangId;
  }
  const std::string_view language = name.substr(0, name.find('_'));
  for (const LocaleId& l : kLanguageIds) {
    if (language == l.Name) return l.LangId;
  }
  return kUsEnglish;
}

}  // namespace torv
