#include "driver/loader.h"

#include <gtest/gtest.h>

#include "driver/hw.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "world.h"

namespace torv {
namespace {

struct LoaderWorld {
  FakePlatform platform;
  World w{platform};
  LoaderWorld() { w.shell.OsKind = kOsLinux; }
};

std::shared_ptr<Machine> Sim(const char* name) {
  std::string error;
  auto m = MakeSimMachine(name, error);
  EXPECT_TRUE(m) << error;
  return m;
}

TEST(LoadDriver, OpensTheChosenMachineAsTheDriver) {
  LoaderWorld t;
  t.w.machine = Sim("p2-450");
  std::uint32_t code = 99;
  LoadDriver(t.w, kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(t.w.drv.DrvFileName, "kelvorlx");
  EXPECT_EQ(t.w.drv.DrvVersion, 0x0103u);
  ASSERT_NE(t.platform.Devices().Get(t.w.drv.DrvHandle), nullptr);
  // The device answers on the machine: CPUID of processor 1.
  CpuidRegs r;
  bool ok = false;
  DrvCpuid(t.w, 1, r, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.Eax, 0x652u);
  // It is registered under the machine's name.
  std::uint32_t err = 0;
  EXPECT_NE(t.platform.Devices().Open("\\\\.\\p2-450", err), kInvalidHandle);
}

TEST(LoadDriver, TooOldForTheRequiredVersion) {
  LoaderWorld t;
  t.w.machine = Sim("p2-300");
  std::uint32_t code = 0;
  LoadDriver(t.w, kOsLinux, kLinuxDriverName, 0x0104, code);
  EXPECT_EQ(code, static_cast<std::uint32_t>(kDrvErrTooOld));
}

TEST(LoadDriver, ThisComputerByDefault) {
  LoaderWorld t;
  std::uint32_t code = 99;
  LoadDriver(t.w, kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(t.w.machine);
  EXPECT_EQ(t.w.machine->Name(), "kelvorlx");
  EXPECT_TRUE(t.w.machine->BindsHostThreads());
}

TEST(LoadDriver, WindowsKindsAreNotBuilt) {
  for (std::uint8_t kind : {kOsWin95, kOsWinNT, kOsWin98}) {
    LoaderWorld t;
    std::uint32_t code = 0;
    LoadDriver(t.w, kind, "KELVORNT.SYS", 0x0103, code);
    EXPECT_EQ(code, static_cast<std::uint32_t>(kDrvErrNotFound)) << int(kind);
    EXPECT_EQ(t.w.drv.DrvFileName, "KELVORNT.SYS");
  }
}

TEST(LoadDriver, UnloadIsHarmlessTwice) {
  LoaderWorld t;
  t.w.machine = Sim("p2-450");
  std::uint32_t code = 0;
  LoadDriver(t.w, kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  DrvUnload(t.w);
  DrvUnload(t.w);
  // The device stays open: requests still work.
  EXPECT_TRUE(DrvSetCpu(t.w, 1));
  // Loading again (the debug switch does this) opens it anew.
  LoadDriver(t.w, kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  EXPECT_EQ(code, 0u);
}

TEST(DrvErrorText, EveryCode) {
  LoaderWorld t;
  t.w.drv.DrvFileName = "kelvorlx";
  const LangRec& m = t.w.Msg();
  ASSERT_EQ(m.NotFound.view(), " not found ");
  struct Case {
    std::uint32_t Code;
    std::string Text;
  };
  const Case cases[] = {
      {0, ""},
      {257, "kelvorlx not found "},
      {258, "kelvorlx Version too old"},
      {259, " Error copying kelvorlx"},
      {260, " Error opening kelvorlx"},
      {261, " Break"},
      {262, "kelvorlx already in use "},
      {263, "kelvorlx Not allowed to load Driver"},
      {264, " Driver Error"},
      {1, " Driver Error"},
  };
  for (const Case& c : cases) EXPECT_EQ(DrvErrorText(t.w, c.Code), c.Text) << c.Code;
}

}  // namespace
}  // namespace torv
