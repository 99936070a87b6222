#include "driver/loader.h"

#include <gtest/gtest.h>

#include "driver/hw.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "app/world.h"

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
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(t.w.drv.DrvFileName, "kelvorlx");
  EXPECT_EQ(t.w.drv.DrvVersion, 0x0103u);
  ASSERT_NE(t.platform.Devices().Get(t.w.drv.DrvHandle), nullptr);
  // The device answers on the machine: CPUID of processor 1.
  CpuidRegs r;
  bool ok = false;
  DrvCpuid(t.w.ForDriver(), 1, r, ok);
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
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, 0x0104, code);
  EXPECT_EQ(code, static_cast<std::uint32_t>(kDrvErrTooOld));
}

#ifndef _WIN32
// (On Windows the registers are reached through the kernel driver only.)
TEST(LoadDriver, ThisComputerByDefault) {
  LoaderWorld t;
  std::uint32_t code = 99;
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  EXPECT_EQ(code, 0u);
  ASSERT_TRUE(t.w.machine);
  EXPECT_EQ(t.w.machine->Name(), "kelvorlx");
  EXPECT_TRUE(t.w.machine->BindsHostThreads());
}
#endif

TEST(LoadDriver, NoDriverFileAnywhere) {
  for (std::uint8_t kind : {kOsWin95, kOsWinNT, kOsWin98}) {
    LoaderWorld t;
    t.platform.Kind = t.w.shell.OsKind = kind;
    std::uint32_t code = 0;
    LoadDriver(t.w.ForDriver(), kind, "KELVORNT.SYS", 0x0103, code);
    EXPECT_EQ(code, static_cast<std::uint32_t>(kDrvErrNotFound)) << int(kind);
    EXPECT_EQ(t.w.drv.DrvFileName, "KELVORNT.SYS");
    EXPECT_TRUE(t.platform.Boxes.empty());
    EXPECT_EQ(t.platform.Devices().OpenCount(), 0u);
  }
}

TEST(LoadDriver, UnloadIsHarmlessTwice) {
  LoaderWorld t;
  t.w.machine = Sim("p2-450");
  std::uint32_t code = 0;
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  DrvUnload(t.w.ForDriver());
  DrvUnload(t.w.ForDriver());
  // The device stays open: requests still work.
  EXPECT_TRUE(DrvSetCpu(t.w.ForDriver(), 1));
  // Loading again (the debug switch does this) opens it anew.
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
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
      {0x10, " Driver Error"},
      {1, " Driver Error"},
  };
  for (const Case& c : cases) EXPECT_EQ(DrvErrorText(t.w.ForDriver(), c.Code), c.Text) << c.Code;
}

}  // namespace
}  // namespace torv

namespace torv {
namespace {

// ---- Linux start ------------------------------------------------------------

struct MsrCase {
  const char* Name;
  bool Root;
  bool MsrPresent;
  const char* Modprobe;  // where modprobe is installed, "" nowhere
  int Status;            // its exit status, -1 when it cannot start
  bool Window;
  bool Ran;
  std::vector<std::string> Lines;
};

const std::string kNotice =
    "torvacin: /dev/cpu/0/msr is missing: loading the kernel's msr module (modprobe msr)";

const MsrCase kMsrCases[] = {
    {"RootLoadsTheModule", true, false, "/sbin/modprobe", 0, false, true, {kNotice}},
    {"ModuleNotLoaded", true, false, "/usr/sbin/modprobe", 1, false, true,
     {kNotice, "torvacin: /usr/sbin/modprobe msr ended with status 1, and /dev/cpu/0/msr is "
               "still missing"}},
    {"ModprobeCannotStart", true, false, "/sbin/modprobe", -1, false, true,
     {kNotice, "torvacin: /sbin/modprobe could not be started, and /dev/cpu/0/msr is still "
               "missing"}},
    {"WindowSaysNothingOnTheTerminal", true, false, "/sbin/modprobe", 1, true, true, {}},
    {"DevicePresent", true, true, "/sbin/modprobe", 0, false, false, {}},
    {"NotRoot", false, false, "/sbin/modprobe", 0, false, false, {}},
    {"NoModprobe", true, false, "", 0, false, false, {}},
};

class MsrModule : public ::testing::TestWithParam<MsrCase> {};

// Loaded at the first register request of an analysis, once, never by the
// driver's start itself (nor for a simulated machine: see SimulatedMachine).
TEST_P(MsrModule, LoadedAsRootWhenTheDeviceIsMissing) {
  const MsrCase& c = GetParam();
  LoaderWorld t;
  t.platform.Root = c.Root;
  t.platform.Window = c.Window;
  if (c.MsrPresent) t.platform.ExistingPaths.insert("/dev/cpu/0/msr");
  if (*c.Modprobe != '\0') t.platform.ExistingPaths.insert(c.Modprobe);
  t.platform.RunStatus = c.Status;
  if (c.Status == 0) t.platform.PathsAfterRun = {"/dev/cpu/0/msr"};
  LinuxStart start = DefaultLinuxStart();
  start.MakeHost = [](std::uint32_t&) { return Sim("p2-450"); };
  std::uint32_t code = 99;
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code, start);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(t.platform.Ran.empty());
  EXPECT_TRUE(t.platform.ErrorLines.empty());
  LoadMsrModuleOnce(t.w.ForDriver());
  LoadMsrModuleOnce(t.w.ForDriver());
  const std::vector<std::vector<std::string>> ran =
      c.Ran ? std::vector<std::vector<std::string>>{{c.Modprobe, "msr"}}
            : std::vector<std::vector<std::string>>{};
  EXPECT_EQ(t.platform.Ran, ran);
  EXPECT_EQ(t.platform.ErrorLines, c.Lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, MsrModule, ::testing::ValuesIn(kMsrCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(LoadDriver, SimulatedMachineNeverLoadsTheModule) {
  LoaderWorld t;
  t.platform.Root = true;
  t.platform.ExistingPaths.insert("/sbin/modprobe");
  t.w.machine = Sim("p2-450");
  std::uint32_t code = 99;
  LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  EXPECT_EQ(code, 0u);
  LoadMsrModuleOnce(t.w.ForDriver());
  EXPECT_TRUE(t.platform.Ran.empty());
  EXPECT_EQ(t.w.drv.Lock, nullptr);  // nor does it take the analysis lock
}

TEST(LoadDriver, LinuxWithoutBackEndOrPermission) {
  struct Case {
    std::uint32_t Why;
    std::uint32_t Code;
    const char* Text;
  };
  const Case cases[] = {
      {0, kDrvErrNotFound, "kelvorlx not found "},
      {kErrorAccessDenied, kDrvErrPermission, "kelvorlx Not allowed to load Driver"},
  };
  for (const Case& c : cases) {
    LoaderWorld t;
    LinuxStart start = DefaultLinuxStart();
    start.MakeHost = [&](std::uint32_t& why) {
      why = c.Why;
      return std::shared_ptr<Machine>();
    };
    std::uint32_t code = 0;
    LoadDriver(t.w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code, start);
    EXPECT_EQ(code, c.Code);
    EXPECT_EQ(DrvErrorText(t.w.ForDriver(), code), c.Text);
    EXPECT_EQ(t.platform.Devices().OpenCount(), 0u);
  }
}

}  // namespace
}  // namespace torv
