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

constexpr auto kLocaleIds = std::to_array<LocaleId>({
    // A language without a territory counts as its main territory.
    {"de", 0x0407},
    {"nl", 0x0413},
    {"en", 0x0409},
    {"de_DE", 0x0407},
    {"de_CH", 0x0807},
    {"de_AT", 0x0C07},
    {"de_LU", 0x1007},
    {"nl_NL", 0x0413},
    {"nl_BE", 0x0813},
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
  return kUsEnglish;
}

}  // namespace torv
