// The platform kind from the version the system reports.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace torv {
namespace {

TEST(MapWinVersion, PlatformIdentifierAndVersion) {
  struct Case {
    OsVersion Version;
    std::uint8_t Kind;
  };
  const Case cases[] = {
      {{kVerPlatformWin32Windows, 4, 0}, kOsWin95},   // Windows 95
      {{kVerPlatformWin32Windows, 4, 1}, kOsWin95},   // minor 1 is not above 1
      {{kVerPlatformWin32Windows, 4, 10}, kOsWin98},  // Windows 98
      {{kVerPlatformWin32Windows, 4, 90}, kOsWin98},  // Windows Me
      {{kVerPlatformWin32Windows, 5, 0}, kOsWin95},   // only major 4 becomes 98
      {{kVerPlatformWin32NT, 4, 0}, kOsWinNT},
      {{kVerPlatformWin32NT, 5, 1}, kOsWinNT},
      {{kVerPlatformWin32s, 3, 11}, kOsWin32s},
      {{3, 4, 0}, kOsOther},
      {{0xFFFFFFFFu, 0, 0}, kOsOther},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapWinVersion(c.Version), c.Kind)
        << c.Version.PlatformId << " " << c.Version.Major << "." << c.Version.Minor;
  }
}

}  // namespace
}  // namespace torv
