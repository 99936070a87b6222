// Finding, copying, installing and opening the Windows drivers, over a fake
// Windows: directories, dated driver files, a network drive and a service
// control manager.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/world.h"
#include "driver/hw.h"
#include "driver/loader.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"

namespace torv {
namespace {

constexpr const char* kNt = "KELVORNT.SYS";
constexpr const char* kVxd = "KELVOR95.VXD";
const std::string kProgDir = "C:\\TORVACIN\\";
const std::string kSysDir = "C:\\WINDOWS\\SYSTEM\\";
const std::string kWinDir = "C:\\WINDOWS\\";
constexpr std::int32_t kOld = 0x2A1C5000;
constexpr std::int32_t kNew = 0x2C2D6000;

struct File {
  std::int32_t Date;
  std::uint32_t Version;
};

struct WinWorld {
  FakePlatform os;
  World w{os};
  explicit WinWorld(std::uint8_t kind) {
    os.Kind = kind;
    w.shell.OsKind = kind;
  }
  void Put(const std::string& path, File f) { os.Files[path] = {f.Date, f.Version, 0x12340000}; }
  std::uint32_t Load(std::uint8_t kind) {
    std::uint32_t code = 99;
    const bool nt = kind == kOsWinNT;
    LoadDriver(w.ForDriver(), kind, nt ? kNt : kVxd, nt ? 0x0103 : 0x0101, code);
    return code;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const RecordedBox& b : os.Boxes) t.push_back(b.Title + ": " + b.Text);
    return t;
  }
  std::string ServicePath() const {
    const auto s = os.Services.find("KelvorNT");
    return s == os.Services.end() ? "" : s->second.Config.BinaryPath;
  }
};

// ---- Windows NT -------------------------------------------------------------

struct NtCase {
  const char* Name;
  std::optional<File> Work, Sys, Win;
  bool Network = false;
  std::vector<int> Answers;
  bool ScmDenied = false;
  std::uint32_t CreateError = 0;
  std::uint32_t Code;
  std::vector<std::string> Boxes;
  std::string Service;  // binary path of the service left running, "" none
  std::vector<std::string> Copies;
};

const std::string kNetQuestion =
    "Warning: can't use driver KELVORNT.SYS on a network drive, copy driver to C:\\WINDOWS\\SYSTEM?";
const std::string kSysQuestion =
    "Warning: Old Version of KELVORNT.SYS in C:\\WINDOWS\\SYSTEM detected, replace?";
const std::string kCopyToSys = kProgDir + kNt + " -> " + kSysDir + kNt;

const NtCase kNtCases[] = {
    {"NetworkCopyAccepted", File{kNew, 0x103}, {}, {}, true, {kIdOk}, false, 0, 0,
     {kNetQuestion}, kSysDir + kNt, {kCopyToSys}},
    {"NetworkCopyCancelled", File{kNew, 0x103}, {}, {}, true, {kIdCancel}, false, 0, 261,
     {kNetQuestion}, "", {}},
    {"NetworkOlderSystemCopyReplaced", File{kNew, 0x103}, File{kOld, 0x102}, {}, true, {kIdOk},
     false, 0, 0, {kSysQuestion}, kSysDir + kNt, {kCopyToSys}},
    {"NetworkOlderSystemCopyKept", File{kNew, 0x103}, File{kOld, 0x103}, {}, true, {kIdCancel},
     false, 0, 261, {kSysQuestion}, "", {}},
    {"NetworkEqualDatesNotReplaced", File{kNew, 0x103}, File{kNew, 0x103}, {}, true, {}, false, 0,
     0, {}, kSysDir + kNt, {}},
    {"NetworkNewerSystemCopyUsed", File{kOld, 0x103}, File{kNew, 0x104}, {}, true, {}, false, 0, 0,
     {}, kSysDir + kNt, {}},
    {"OnlyWindowsDirectoryCopy", {}, {}, File{kOld, 0x103}, false, {}, false, 0, 0, {},
     kWinDir + kNt, {}},
    {"LocalWorkingCopyFirst", File{kOld, 0x103}, File{kNew, 0x103}, {}, false, {}, false, 0, 0, {},
     kProgDir + kNt, {}},
    {"NoFileAnywhere", {}, {}, {}, false, {}, false, 0, 257, {}, "", {}},
    {"WorkingTooOldSystemCurrent", File{kNew, 0x102}, File{kOld, 0x103}, {}, false, {}, false, 0,
     0, {}, kSysDir + kNt, {}},
    {"EveryCopyTooOld", File{kNew, 0x102}, File{kOld, 0x101}, File{kOld, 0x100}, false, {}, false,
     0, 258, {}, "", {}},
    {"NoAdministratorRights", File{kNew, 0x103}, {}, {}, false, {}, true, 0, 263, {}, "", {}},
    {"ServiceMarkedForDeletion", File{kNew, 0x103}, {}, {}, false, {}, false, 1072, 262, {}, "", {}},
    // Any other reason is no success either: no driver is open.
    {"ServiceDisabled", File{kNew, 0x103}, {}, {}, false, {}, false, 1058, 264, {}, "", {}},
};

class NtLoad : public ::testing::TestWithParam<NtCase> {};

TEST_P(NtLoad, CodeQuestionsCopiesAndService) {
  const NtCase& c = GetParam();
  WinWorld t(kOsWinNT);
  if (c.Work) t.Put(kProgDir + kNt, *c.Work);
  if (c.Sys) t.Put(kSysDir + kNt, *c.Sys);
  if (c.Win) t.Put(kWinDir + kNt, *c.Win);
  if (c.Network) t.os.NetworkDrives['C'] = "\\\\server\\tools";
  t.os.BoxAnswers.assign(c.Answers.begin(), c.Answers.end());
  t.os.ScmDenied = c.ScmDenied;
  t.os.CreateServiceError = c.CreateError;

  EXPECT_EQ(t.Load(kOsWinNT), c.Code);
  EXPECT_EQ(t.Texts(), c.Boxes);
  EXPECT_EQ(t.os.Copies, c.Copies);
  EXPECT_EQ(t.ServicePath(), c.Service);
  if (!c.Service.empty()) {
    EXPECT_TRUE(t.os.Services.at("KelvorNT").Running);
    EXPECT_EQ(t.os.Devices().OpenCount(), 1u);
    EXPECT_NE(t.os.Devices().Get(t.w.drv.DrvHandle), nullptr);
  } else {
    // A refused start leaves no device open and no service behind.
    EXPECT_EQ(t.os.Devices().OpenCount(), 0u);
    EXPECT_TRUE(t.os.Services.empty());
  }
  EXPECT_EQ(t.os.OpenScHandles, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NtLoad, ::testing::ValuesIn(kNtCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(NtLoad, ServiceParametersAndTheSecondAttempt) {
  WinWorld t(kOsWinNT);
  t.Put(kProgDir + kNt, {kNew, 0x102});
  t.Put(kSysDir + kNt, {kOld, 0x103});
  ASSERT_EQ(t.Load(kOsWinNT), 0u);
  // The too-old working copy was started, stopped and deleted before the
  // system copy was tried.
  const std::vector<std::string> log = {
      "create KelvorNT " + kProgDir + kNt, "start KelvorNT", "stop KelvorNT", "delete KelvorNT",
      "create KelvorNT " + kSysDir + kNt,  "start KelvorNT",
  };
  EXPECT_EQ(t.os.ScmLog, log);
  const Platform::ServiceConfig& c = t.os.Services.at("KelvorNT").Config;
  EXPECT_EQ(c.DisplayName, "KelvorNT");
  EXPECT_EQ(c.DesiredAccess, 0xF01FFu);
  EXPECT_EQ(c.ServiceType, 1u);
  EXPECT_EQ(c.StartType, 3u);
  EXPECT_EQ(c.ErrorControl, 1u);
  EXPECT_EQ(t.w.drv.DrvVersion, 0x0103u);
  EXPECT_EQ(t.os.Devices().OpenCount(), 1u);

  // The window's end removes the service, closing the device first.
  DrvUnload(t.w.ForDriver());
  EXPECT_TRUE(t.os.Services.empty());
  EXPECT_EQ(t.os.Devices().OpenCount(), 0u);
  EXPECT_EQ(t.os.OpenScHandles, 0);
}

TEST(NtLoad, RunningDriverIsUsedAndAStoppedOneReplaced) {
  WinWorld t(kOsWinNT);
  t.Put(kWinDir + kNt, {kOld, 0x103});
  t.os.Services["KelvorNT"].Config.BinaryPath = kWinDir + kNt;
  t.os.Services["KelvorNT"].Running = true;
  t.Put(kProgDir + kNt, {kNew, 0x104});
  EXPECT_EQ(t.Load(kOsWinNT), 0u);
  EXPECT_TRUE(t.os.ScmLog.empty());
  EXPECT_EQ(t.w.drv.DrvVersion, 0x0103u);

  // Registered but stopped: the attempt with the running driver fails and
  // removes that service before the candidates are tried.
  WinWorld u(kOsWinNT);
  u.Put(kWinDir + kNt, {kOld, 0x103});
  u.Put(kProgDir + kNt, {kNew, 0x104});
  u.os.Services["KelvorNT"].Config.BinaryPath = kWinDir + kNt;
  EXPECT_EQ(u.Load(kOsWinNT), 0u);
  EXPECT_EQ(u.ServicePath(), kProgDir + kNt);
}

// A driver that another program holds (its device refuses the open, or on
// a system that opens first, the identity request) is that program's: its
// service is neither stopped nor deleted, nor replaced by a candidate, and
// the start ends with "already in use" (an administrator) or "not allowed"
// (anyone else); its end leaves the service alone as well.
TEST(NtLoad, ADriverAnotherProgramHoldsIsLeftAlone) {
  for (const bool admin : {true, false}) {
    SCOPED_TRACE(admin ? "administrator" : "user");
    WinWorld t(kOsWinNT);
    t.Put(kProgDir + kNt, {kNew, 0x103});
    t.os.Services["KelvorNT"].Config.BinaryPath = kProgDir + kNt;
    t.os.Services["KelvorNT"].Running = true;
    t.os.NtDeviceHeld = true;
    t.os.ScmDenied = !admin;
    EXPECT_EQ(t.Load(kOsWinNT), admin ? 262u : 263u);
    EXPECT_TRUE(t.os.ScmLog.empty());
    EXPECT_TRUE(t.os.Services.at("KelvorNT").Running);
    EXPECT_FALSE(t.os.Services.at("KelvorNT").MarkedForDelete);
    EXPECT_EQ(t.os.Devices().OpenCount(), 0u);
    EXPECT_EQ(t.os.OpenScHandles, 0);
    EXPECT_FALSE(t.os.EndCleanup) << "nothing of the other program's to remove at this end";
    // The end of this second program leaves the service running too.
    DrvUnload(t.w.ForDriver());
    EXPECT_TRUE(t.os.ScmLog.empty());
    EXPECT_TRUE(t.os.Services.at("KelvorNT").Running);
  }
}

// A service left running by an earlier run that was killed is found and
// used, and removed at the end like the program's own; whatever ends the
// program from outside removes it too (the cleanup the platform keeps).
TEST(NtLoad, EveryEndRemovesTheService) {
  WinWorld t(kOsWinNT);
  t.Put(kProgDir + kNt, {kNew, 0x103});
  t.os.Services["KelvorNT"].Config.BinaryPath = kProgDir + kNt;
  t.os.Services["KelvorNT"].Running = true;
  ASSERT_EQ(t.Load(kOsWinNT), 0u);
  ASSERT_TRUE(t.os.EndCleanup);
  DrvUnload(t.w.ForDriver());
  EXPECT_TRUE(t.os.Services.empty());
  EXPECT_FALSE(t.os.EndCleanup);
  DrvUnload(t.w.ForDriver());  // a second end does nothing more
  EXPECT_EQ(t.os.ScmLog, (std::vector<std::string>{"stop KelvorNT", "delete KelvorNT"}));

  WinWorld u(kOsWinNT);
  u.Put(kProgDir + kNt, {kNew, 0x103});
  ASSERT_EQ(u.Load(kOsWinNT), 0u);
  ASSERT_TRUE(u.os.EndCleanup);
  u.w.platform->Devices().Close(u.w.drv.DrvHandle);  // the platform closes its devices first
  u.os.EndCleanup();
  EXPECT_TRUE(u.os.Services.empty());
  EXPECT_EQ(u.os.OpenScHandles, 0);
}

// A platform that writes the service manager's log to standard error as the
// process ends, so that a death test sees what the end did.
class EndingPlatform : public FakePlatform {
 public:
  [[noreturn]] void ExitProcess(int code) override {
    for (const std::string& l : ScmLog) std::fprintf(stderr, "[%s]", l.c_str());
    std::fprintf(stderr, "[services left: %zu]\n", Services.size());
    FakePlatform::ExitProcess(code);
  }
};

void FailAnAnalysisWithTheDriverLoaded(bool window) {
  EndingPlatform os;
  os.Kind = kOsWinNT;
  os.Window = window;
  os.Files[kProgDir + kNt] = {kNew, 0x103, 0x12340000};
  World w{os};
  w.shell.OsKind = kOsWinNT;
  std::uint32_t code = 99;
  LoadDriver(w.ForDriver(), kOsWinNT, kNt, 0x0103, code);
  // A register write failed on the analysis thread: it ends the thread,
  // and the main thread then the program.
  w.hw.FatalText = "Writing model-specific register 0000011E failed";
  std::uint32_t exit = 0;
  os.RunBoundThread(1, [&]() -> std::uint32_t { MsrFailureEnd(w.ForDriver(), kExitMsrWrite); }, exit);
  EndFatally(w.ForDriver());
}

TEST(NtLoadDeathTest, ARegisterFailureEndsWithTheServiceRemoved) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const bool window : {false, true}) {
    EXPECT_EXIT(FailAnAnalysisWithTheDriverLoaded(window), ::testing::ExitedWithCode(7),
                "\\[create KelvorNT C:.TORVACIN.KELVORNT.SYS\\]\\[start KelvorNT\\]\\[stop "
                "KelvorNT\\]\\[delete KelvorNT\\]\\[services left: 0\\]");
  }
}

TEST(NtLoad, DeviceFailingTheIdentityCheckIsClosed) {
  WinWorld t(kOsWinNT);
  t.Put(kProgDir + kNt, {kNew, 0x103});
  t.os.Files[kProgDir + kNt].Identity = 0x12330000;
  EXPECT_EQ(t.Load(kOsWinNT), static_cast<std::uint32_t>(kDrvErrOpening));
  EXPECT_EQ(t.os.Devices().OpenCount(), 0u);
  EXPECT_TRUE(t.os.Services.empty());
}

// ---- Windows 95 and 98 ------------------------------------------------------

struct VxdCase {
  const char* Name;
  std::uint8_t Kind;
  std::optional<File> Loaded, Work, Sys, Win;
  std::vector<int> Answers;
  bool CopyFails = false;
  std::uint32_t Code;
  std::vector<std::string> Boxes;
  std::vector<std::string> Copies;
  std::uint32_t Version;  // of the driver left open (0 when none)
};

const std::string kWinQuestion =
    "Warning: Old Version of KELVOR95.VXD in C:\\WINDOWS detected, replace?";
const std::string kSys95Question =
    "Warning: Old Version of KELVOR95.VXD in C:\\WINDOWS\\SYSTEM detected, replace?";
const std::string kCopyToWin = kProgDir + kVxd + " -> " + kWinDir + kVxd;
const std::string kCopyToSys95 = kProgDir + kVxd + " -> " + kSysDir + kVxd;
// A packed date with its top bit set is a negative number, and older.
constexpr std::int32_t kTopBitDate = static_cast<std::int32_t>(0x90000000u);

const VxdCase kVxdCases[] = {
    {"LoadedRecent95", kOsWin95, File{0, 0x101}, File{kNew, 0x102}, {}, {}, {}, false, 0, {}, {},
     0x101},
    {"LoadedRecent98", kOsWin98, File{0, 0x102}, File{kNew, 0x103}, {}, File{kOld, 0x101}, {},
     false, 0, {}, {}, 0x102},
    {"LoadedOlder98", kOsWin98, File{0, 0x100}, File{kNew, 0x103}, {}, {}, {}, false, 262, {}, {},
     0x100},
    {"LoadedOlder95", kOsWin95, File{0, 0x100}, File{kNew, 0x103}, {}, {}, {}, false, 262, {}, {},
     0x100},
    {"ReplaceAccepted", kOsWin98, {}, File{kNew, 0x102}, {}, File{kOld, 0x100}, {kIdOk}, false, 0,
     {kWinQuestion}, {kCopyToWin}, 0x102},
    {"ReplaceCancelled", kOsWin98, {}, File{kNew, 0x102}, {}, File{kOld, 0x100}, {kIdCancel},
     false, 261, {kWinQuestion}, {}, 0},
    {"FailedReplacementOnlyWarns", kOsWin98, {}, File{kNew, 0x102}, {}, File{kOld, 0x101},
     {kIdOk, kIdCancel}, true, 0, {kWinQuestion, "Warning: Error, can't replace"}, {}, 0x101},
    {"FailedReplacementOfTooOld", kOsWin98, {}, File{kNew, 0x102}, {}, File{kOld, 0x100}, {},
     true, 258, {kWinQuestion, "Warning: Error, can't replace"}, {}, 0x100},
    {"SystemCopyReplaced", kOsWin98, {}, File{kNew, 0x102}, File{kOld, 0x100}, {}, {}, false, 0,
     {kSys95Question}, {kCopyToSys95}, 0x102},
    {"EqualDatesNotReplaced", kOsWin98, {}, File{kNew, 0x102}, {}, File{kNew, 0x101}, {}, false, 0,
     {}, {}, 0x101},
    {"SignedDates", kOsWin98, {}, File{kOld, 0x102}, {}, File{kTopBitDate, 0x101}, {}, false, 0,
     {kWinQuestion}, {kCopyToWin}, 0x102},
    {"Win98NoFile", kOsWin98, {}, File{kNew, 0x102}, {}, {}, {}, false, 257, {}, {}, 0},
    {"Win95FromTheProgramFolder", kOsWin95, {}, File{kNew, 0x102}, {}, File{kOld, 0x101}, {},
     false, 0, {}, {}, 0x102},
    {"Win95SearchesTheSystem", kOsWin95, {}, {}, {}, File{kOld, 0x101}, {}, false, 0, {}, {},
     0x101},
    {"Win95TooOld", kOsWin95, {}, File{kNew, 0x100}, {}, {}, {}, false, 258, {}, {}, 0x100},
};

class VxdLoad : public ::testing::TestWithParam<VxdCase> {};

TEST_P(VxdLoad, CodeQuestionsAndCopies) {
  const VxdCase& c = GetParam();
  WinWorld t(c.Kind);
  if (c.Loaded) t.os.LoadedVxd = FakeDriverFile{c.Loaded->Date, c.Loaded->Version, 0x12340000};
  if (c.Work) t.Put(kProgDir + kVxd, *c.Work);
  if (c.Sys) t.Put(kSysDir + kVxd, *c.Sys);
  if (c.Win) t.Put(kWinDir + kVxd, *c.Win);
  if (c.CopyFails) t.os.FailCopiesTo = {kWinDir + kVxd, kSysDir + kVxd};
  t.os.BoxAnswers.assign(c.Answers.begin(), c.Answers.end());

  EXPECT_EQ(t.Load(c.Kind), c.Code);
  EXPECT_EQ(t.Texts(), c.Boxes);
  EXPECT_EQ(t.os.Copies, c.Copies);
  EXPECT_EQ(t.os.Devices().OpenCount(), c.Version != 0 ? 1u : 0u);
  if (c.Version != 0) {
    EXPECT_EQ(t.w.drv.DrvVersion, c.Version);
  }
  // Windows 95/98 has no service.
  EXPECT_TRUE(t.os.ScmLog.empty());
  DrvUnload(t.w.ForDriver());
  EXPECT_EQ(t.os.Devices().OpenCount(), c.Version != 0 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, VxdLoad, ::testing::ValuesIn(kVxdCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- paths and the debug box ------------------------------------------------

TEST(DriverPaths, DriveRootAndTheDebugBoxes) {
  WinWorld t(kOsWin95);
  t.w.settings.DriverDebug = true;
  t.os.Program = "C:\\TORVACIN.EXE";
  t.os.WorkDir = "D:\\";
  EXPECT_EQ(t.Load(kOsWin95), static_cast<std::uint32_t>(kDrvErrNotFound));
  // A missing device: handle FFFFFFFF, the open error 2, no request sent.
  const std::vector<std::string> boxes = {
      "DRVdebug: \\\\.\\kelvor95, FFFFFFFF, found= false:00000002,  false:00000000,  "
      "false:00000000,Vers:0000",
      "DRVdebug: \\\\.\\C:\\KELVOR95.VXD, FFFFFFFF, found= false:00000002,  false:00000000,  "
      "false:00000000,Vers:0000",
      "DRVdebug: \\\\.\\KELVOR95.VXD, FFFFFFFF, found= false:00000002,  false:00000000,  "
      "false:00000000,Vers:0000",
  };
  EXPECT_EQ(t.Texts(), boxes);

  t.os.Boxes.clear();
  t.Put(std::string("C:\\") + kVxd, {kNew, 0x101});
  EXPECT_EQ(t.Load(kOsWin95), 0u);
  ASSERT_EQ(t.os.Boxes.size(), 2u);
  EXPECT_EQ(t.os.Boxes[1].Text.substr(0, 22), "\\\\.\\C:\\KELVOR95.VXD, 0");
  EXPECT_NE(t.os.Boxes[1].Text.find("found= true :00000000"), std::string::npos);
}

// The driver is looked for beside the program, not in the working
// directory, and the network rule judges that same folder.
TEST(DriverPaths, ProgramFolderNotWorkingDirectory) {
  WinWorld t(kOsWinNT);
  t.os.WorkDir = "E:\\ELSEWHERE";
  t.Put("E:\\ELSEWHERE\\" + std::string(kNt), {kNew, 0x103});
  EXPECT_EQ(t.Load(kOsWinNT), static_cast<std::uint32_t>(kDrvErrNotFound));

  WinWorld u(kOsWinNT);
  u.os.WorkDir = "E:\\";
  u.os.NetworkDrives['E'] = "\\\\server\\home";
  u.Put(kProgDir + kNt, {kNew, 0x103});
  EXPECT_EQ(u.Load(kOsWinNT), 0u);
  EXPECT_TRUE(u.os.Boxes.empty());
  EXPECT_EQ(u.ServicePath(), kProgDir + kNt);
}

// A simulated machine answers on every Windows kind through its own device:
// no driver file is looked at, no service installed, and the end of the
// program touches no service either.
TEST(DriverPaths, SimulatedMachineNeedsNoDriver) {
  for (const std::uint8_t kind : {kOsWin95, kOsWin98, kOsWinNT}) {
    WinWorld t(kind);
    std::string error;
    t.w.machine = MakeSimMachine("p2-450", error);
    ASSERT_TRUE(t.w.machine) << error;
    EXPECT_EQ(t.Load(kind), 0u) << int{kind};
    EXPECT_NE(t.w.platform->Devices().Get(t.w.drv.DrvHandle), nullptr);
    EXPECT_TRUE(t.os.Boxes.empty());
    DrvUnload(t.w.ForDriver());
    EXPECT_TRUE(t.os.ScmLog.empty());
    EXPECT_EQ(t.os.OpenScHandles, 0);
  }
}

}  // namespace
}  // namespace torv
