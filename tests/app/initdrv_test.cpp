// The window's driver start on each Windows kind, over a fake Windows: the
// platform check, the caption, the error box of a failed start and the
// driver restart of a typed "/DEB".
#include <gtest/gtest.h>

#include "app_fixture.h"
#include "driver/loader.h"

namespace torv::test {
namespace {

struct StartCase {
  OsVersion Version;
  const char* File;           // path of the driver file
  std::uint32_t FileVersion;  // 0: no driver file
  bool Ends;
  const char* Caption;  // or the text of the error box
};

TEST(InitDrv, EachWindowsKind) {
  const StartCase cases[] = {
      {{kVerPlatformWin32Windows, 4, 0}, "C:\\TORVACIN\\KELVOR95.VXD", 0x0101, false,
       "Torvacin V 1.6 Win95 KELVOR95.VXD V01.01"},
      {{kVerPlatformWin32Windows, 4, 10}, "C:\\WINDOWS\\KELVOR95.VXD", 0x0102, false,
       "Torvacin V 1.6 Win98 KELVOR95.VXD V01.02"},
      {{kVerPlatformWin32NT, 4, 0}, "C:\\TORVACIN\\KELVORNT.SYS", 0x0103, false,
       "Torvacin V 1.6 WinNT KELVORNT.SYS V01.03"},
      {{kVerPlatformWin32NT, 4, 0}, "C:\\WINDOWS\\KELVORNT.SYS", 0x0102, true, "KELVORNT.SYS Version too old"},
      {{kVerPlatformWin32Windows, 4, 10}, "", 0, true, "KELVOR95.VXD not found "},
      {{kVerPlatformWin32s, 3, 11}, "", 0, true, "Sorry, only for Win95/86 and WinNT"},
      {{7, 1, 0}, "", 0, true, "Sorry, only for Win95/86 and WinNT"},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.Caption);
    FakePlatform p;
    p.Version = c.Version;
    if (c.FileVersion != 0) p.Files[c.File] = {1, c.FileVersion};
    World world(p);
    FakeView v;
    Script s;
    TForm1 f(world, v, ScriptedSteps(s));
    f.formcreate({});
    EXPECT_EQ(f.Ended, c.Ends);
    if (c.Ends) {
      EXPECT_NE(f.ExitCode, 0);
      ASSERT_EQ(p.Boxes.size(), 1u);
      EXPECT_EQ(p.Boxes[0].Title, "Error");
      EXPECT_EQ(p.Boxes[0].Text, c.Caption);
      EXPECT_TRUE(s.WorkerArgs.empty());
    } else {
      EXPECT_EQ(f.Caption(), c.Caption);
      EXPECT_TRUE(p.Boxes.empty());
    }
  }
}

TEST(InitDrv, TypedDebugSwitchRestartsTheNtDriver) {
  FakePlatform p;
  p.Version = OsVersion{kVerPlatformWin32NT, 4, 0};
  p.Files["C:\\TORVACIN\\KELVORNT.SYS"] = {1, 0x0103};
  World world(p);
  FakeView v;
  Script s;
  TForm1 f(world, v, ScriptedSteps(s));
  f.formcreate({});
  ASSERT_FALSE(f.Ended);
  p.ScmLog.clear();
  v.Edit = "/deb";
  f.OnEditKey(kKeyEnter, 0);
  ASSERT_FALSE(f.Ended);
  // The service is stopped and deleted, then installed and started anew,
  // and the new open shows its box.
  const std::vector<std::string> log = {"stop KelvorNT", "delete KelvorNT",
                                        "create KelvorNT C:\\TORVACIN\\KELVORNT.SYS",
                                        "start KelvorNT"};
  EXPECT_EQ(p.ScmLog, log);
  ASSERT_FALSE(p.Boxes.empty());
  EXPECT_EQ(p.Boxes.back().Title, "DRVdebug");
  EXPECT_EQ(p.Devices().OpenCount(), 1u);

  // The window's end removes the service.
  f.formDestroy();
  EXPECT_TRUE(p.Services.empty());
}

}  // namespace
}  // namespace torv::test
