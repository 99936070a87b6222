// The Windows language identifier that a POSIX locale stands for, so that the
// report language follows the system language on Linux as well.
#pragma once

#include <cstdint>

namespace torv {

// Takes the first non-empty of LC_ALL, LC_MESSAGES and LANG (null counts as
// empty) and maps its language and territory, as in "de_CH.UTF-8" or
// "de_AT@euro": de_DE 0x0407, de_CH 0x0807, de_AT 0x0C07, de_LU 0x1007,
// nl_NL 0x0413, nl_BE 0x0813; a language without a territory ("de",
// "nl.UTF-8", "en") as de_DE, nl_NL and US English; anything else (also "C",
// "POSIX") gives US English 0x0409.
std::uint16_t LangIdFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

}  // namespace torv
