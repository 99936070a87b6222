// The Win32 layer against the running system (Wine in the test run): folders,
// file dates and copies, the bound analysis thread, the service control
// manager and driver devices.
#include "platform/win32_platform.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// The platform's own names, not the system's A/W macros.
#undef CopyFile
#undef OpenSCManager
#undef CreateService
#undef OpenService

namespace torv {
namespace {

// A fresh folder under the system's temporary folder, removed with its files.
class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof tmp, tmp), 0u);
    dir_ = std::string(tmp) + "torvtest" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) != FALSE) << dir_;
  }
  void TearDown() override {
    for (const std::string& f : made_) DeleteFileA(f.c_str());
    RemoveDirectoryA(dir_.c_str());
  }

  std::string Write(const std::string& name, const std::string& content) {
    const std::string path = dir_ + "\\" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr) << path;
    if (f != nullptr) {
      std::fwrite(content.data(), 1, content.size(), f);
      std::fclose(f);
    }
    made_.push_back(path);
    return path;
  }
  std::string Name(const std::string& name) {
    made_.push_back(dir_ + "\\" + name);
    return made_.back();
  }
  static std::string Read(const std::string& path) {
    std::string s;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
      char buf[256];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
      std::fclose(f);
    }
    return s;
  }

  Win32Platform os_;
  std::string dir_;
  std::vector<std::string> made_;
};

bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() &&
         lstrcmpiA(s.c_str() + s.size() - tail.size(), tail.c_str()) == 0;
}

TEST_F(Win32PlatformTest, FoldersAndProgram) {
  EXPECT_TRUE(EndsWithNoCase(os_.ProgramFile(), "\\test_platform.exe")) << os_.ProgramFile();
  const std::string win = os_.WindowsDirectory();
  const std::string sys = os_.SystemDirectory();
  ASSERT_FALSE(win.empty());
  EXPECT_EQ(sys.compare(0, win.size(), win), 0) << sys << " under " << win;
  EXPECT_NE(os_.FileAge(sys + "\\kernel32.dll"), -1);

  char before[MAX_PATH];
  ASSERT_NE(GetCurrentDirectoryA(sizeof before, before), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()) != FALSE);
  const std::string cwd = os_.CurrentDirectory();
  SetCurrentDirectoryA(before);
  EXPECT_TRUE(lstrcmpiA(cwd.c_str(), dir_.c_str()) == 0) << cwd;
}

// The last-write time in local time, packed as date << 16 | time the way
// the driver loader compares files.
TEST_F(Win32PlatformTest, FileAgeIsPackedLocalDate) {
  const std::string path = Write("DRV.SYS", "x");
  SYSTEMTIME st = {};
  st.wYear = 2003;
  st.wMonth = 5;
  st.wDay = 17;
  st.wHour = 13;
  st.wMinute = 45;
  st.wSecond = 30;
  FILETIME local, utc;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &local) != FALSE);
  ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc) != FALSE);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &utc) != FALSE);
  CloseHandle(h);

  const std::int32_t date = (2003 - 1980) << 9 | 5 << 5 | 17;
  const std::int32_t time = 13 << 11 | 45 << 5 | 30 / 2;
  EXPECT_EQ(os_.FileAge(path), date << 16 | time);
  EXPECT_EQ(os_.FileAge(dir_ + "\\MISSING.SYS"), -1);
  EXPECT_EQ(os_.FileAge(dir_), -1);                 // a folder is no file
  EXPECT_EQ(os_.FileAge(dir_ + "\\DRV.*"), -1);     // nor is a pattern
  EXPECT_EQ(os_.FileAge(dir_ + "\\NOPE\\X"), -1);
}

TEST_F(Win32PlatformTest, CopyWithAndWithoutFailIfExists) {
  const std::string from = Write("NEW.SYS", "new driver");
  const std::string to = Name("OLD.SYS");

  ASSERT_TRUE(os_.CopyFile(from, to, true));
  EXPECT_EQ(os_.LastError(), 0u);
  EXPECT_EQ(Read(to), "new driver");

  Write("OLD.SYS", "old driver");
  EXPECT_FALSE(os_.CopyFile(from, to, true));
  EXPECT_EQ(os_.LastError(), kErrFileExists);
  EXPECT_EQ(Read(to), "old driver");

  EXPECT_TRUE(os_.CopyFile(from, to, false));
  EXPECT_EQ(Read(to), "new driver");

  EXPECT_FALSE(os_.CopyFile(dir_ + "\\MISSING.SYS", to, false));
  EXPECT_EQ(os_.LastError(), kErrFileNotFound);
  EXPECT_EQ(Read(to), "new driver");
}

TEST_F(Win32PlatformTest, LocalPathHasNoUniversalName) {
  const std::string path = Write("TORVACIN.EXE", "");
  EXPECT_EQ(os_.UniversalName(path), path);
  EXPECT_EQ(os_.UniversalName("relative\\name"), "relative\\name");
}

// The worker runs with exactly the processor it was given; asking for the
// thread's mask by setting the same one again reads it back.
TEST(Win32BoundThread, RunsOnTheProcessorItWasGiven) {
  Win32Platform os;
  const int n = os.ProcessorCount();
  ASSERT_GE(n, 1);
  for (int proc = 1; proc <= n && proc <= 4; ++proc) {
    const DWORD_PTR want = static_cast<DWORD_PTR>(1) << (proc - 1);
    DWORD_PTR seen = 0;
    DWORD thread = 0;
    std::uint32_t code = 0;
    ASSERT_TRUE(os.RunBoundThread(
        proc,
        [&] {
          seen = SetThreadAffinityMask(GetCurrentThread(), want);
          thread = GetCurrentThreadId();
          return 0xC0DE0000u + static_cast<std::uint32_t>(proc);
        },
        code))
        << proc;
    EXPECT_EQ(seen, want) << proc;
    EXPECT_NE(thread, GetCurrentThreadId());
    EXPECT_EQ(code, 0xC0DE0000u + static_cast<std::uint32_t>(proc));
  }
}

TEST(Win32BoundThread, UnboundEndedAndRefused) {
  Win32Platform os;
  std::uint32_t code = 7;
  bool ran = false;
  // Processor 0 runs unbound, with the process's own mask.
  DWORD_PTR processMask = 0, systemMask = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask) != FALSE);
  DWORD_PTR seen = 0;
  ASSERT_TRUE(os.RunBoundThread(
      0,
      [&] {
        seen = SetThreadAffinityMask(GetCurrentThread(), processMask);
        return 5u;
      },
      code));
  EXPECT_EQ(seen, processMask);
  EXPECT_EQ(code, 5u);

  // A worker that ends its thread counts as run, with exit code 0.
  code = 7;
  ASSERT_TRUE(os.RunBoundThread(
      1,
      [&]() -> std::uint32_t {
        ran = true;
        os.EndThread();
        return 9;  // never reached
      },
      code));
  EXPECT_TRUE(ran);
  EXPECT_EQ(code, 0u);

  // A processor the system does not have is refused before anything runs.
  ran = false;
  code = 7;
  for (int proc : {os.ProcessorCount() + 1, -1}) {
    EXPECT_FALSE(os.RunBoundThread(proc, [&] { ran = true; return 1u; }, code)) << proc;
  }
  EXPECT_FALSE(ran);
  EXPECT_EQ(code, 7u);
}

// Wine's service control manager with a kernel-driver service whose file does
// not exist: it is never started.
TEST(Win32Services, CreateExistsOpenDeleteGone) {
  Win32Platform os;
  const std::string name = "TorvTest" + std::to_string(GetCurrentProcessId());
  const std::uintptr_t scm = os.OpenSCManager(kScManagerAllAccess);
  ASSERT_NE(scm, 0u) << os.LastError();

  Platform::ServiceConfig config;
  config.Name = name;
  config.DisplayName = name;
  config.DesiredAccess = kServiceAllAccess;
  config.ServiceType = kServiceKernelDriver;
  config.StartType = kServiceDemandStart;
  config.ErrorControl = kServiceErrorNormal;
  config.BinaryPath = os.SystemDirectory() + "\\drivers\\" + name + ".sys";
  const std::uintptr_t created = os.CreateService(scm, config);
  ASSERT_NE(created, 0u) << os.LastError();
  os.CloseServiceHandle(created);

  EXPECT_EQ(os.CreateService(scm, config), 0u);
  EXPECT_EQ(os.LastError(), kErrServiceExists);

  const std::uintptr_t service = os.OpenService(scm, name, kServiceAllAccess);
  ASSERT_NE(service, 0u) << os.LastError();
  EXPECT_FALSE(os.ControlService(service, kServiceControlStop));
  EXPECT_EQ(os.LastError(), kErrServiceNotActive);
  EXPECT_TRUE(os.DeleteService(service)) << os.LastError();
  os.CloseServiceHandle(service);

  EXPECT_EQ(os.OpenService(scm, name, kServiceAllAccess), 0u);
  EXPECT_EQ(os.LastError(), kErrServiceDoesNotExist);
  os.CloseServiceHandle(scm);
}

TEST_F(Win32PlatformTest, DevicesOpenThroughTheSystem) {
  DeviceTable& devices = os_.Devices();
  std::uint32_t error = 0;
  EXPECT_EQ(devices.Open("\\\\.\\Dev_TorvNoSuchDevice", error), kInvalidHandle);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_EQ(devices.OpenCount(), 0u);

  // Any file opens as a device by its "\\.\" name: a request it does not
  // understand fails with the system's error and words, and closing the
  // handle lets the file go.
  const std::string path = Write("DEVICE.BIN", "data");
  const std::uint32_t h = devices.Open("\\\\.\\" + path, error);
  ASSERT_NE(h, kInvalidHandle) << error;
  Device* dev = devices.Get(h);
  ASSERT_NE(dev, nullptr);
  const std::uint8_t in[16] = {1};
  const std::uint8_t attached[16] = {};
  std::uint32_t out[2] = {};
  const DevResult r = dev->Control(0x9C406000u, in, attached, sizeof attached, out, sizeof out);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.LastError, 0u);
  EXPECT_NE(dev->DescribeError(kErrFileNotFound), "");
  EXPECT_EQ(dev->DescribeError(kErrFileNotFound).back() != '\n', true);
  EXPECT_EQ(dev->DescribeError(0), "");
  EXPECT_FALSE(DeleteFileA(path.c_str()));  // held open without sharing
  devices.Close(h);
  EXPECT_TRUE(DeleteFileA(path.c_str()) != FALSE) << GetLastError();
}

// The analysis lock across instances: a named mutex that one thread holds
// at a time; another finds it busy until it is given back.
TEST_F(Win32PlatformTest, AnalysisLockIsOneHolderAtATime) {
  std::unique_ptr<RegisterLock> a = os_.AnalysisLock();
  std::unique_ptr<RegisterLock> b = os_.AnalysisLock();
  ASSERT_NE(a, nullptr);
  std::string reason;
  ASSERT_EQ(a->TryLock(reason), RegisterLock::Attempt::Held) << reason;
  RegisterLock::Attempt other = RegisterLock::Attempt::Unavailable;
  ASSERT_TRUE(RunOnNewThread([&] { other = b->TryLock(reason); }));
  EXPECT_EQ(other, RegisterLock::Attempt::Busy);
  a->Unlock();
  ASSERT_TRUE(RunOnNewThread([&] {
    other = b->TryLock(reason);
    b->Unlock();
  }));
  EXPECT_EQ(other, RegisterLock::Attempt::Held);
}

// The user this process runs as, as an SDDL SID string.
std::string ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  unsigned char buffer[256] = {};
  DWORD len = 0;
  std::string out;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &len)) {
    LPSTR text = nullptr;
    if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
      out = text;
      LocalFree(text);
    }
  }
  CloseHandle(token);
  return out;
}

// A mutex of the lock's name that somebody else made first (owned by an
// ordinary user): one nobody may open, and one everybody may. Neither is
// taken as the lock, neither makes the analysis wait, and none of another
// name takes its place: the attempt is refused and says which mutex.
TEST_F(Win32PlatformTest, AnalysisLockRefusesAMutexSomebodyElseMade) {
  const std::string user = ProcessUserSid();
  ASSERT_FALSE(user.empty());
  for (const char* dacl : {"D:", "D:(A;;GA;;;WD)"}) {
    SCOPED_TRACE(dacl);
    const std::string sddl = "O:" + user + dacl;
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &sd, nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    HANDLE squatter = CreateMutexA(&sa, FALSE, "Global\\TorvacinRegisters");
    const DWORD made = GetLastError();
    LocalFree(sd);
    ASSERT_NE(squatter, nullptr) << GetLastError();
    ASSERT_NE(made, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    std::unique_ptr<RegisterLock> lock = os_.AnalysisLock();
    std::string reason;
    EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Denied);
    EXPECT_NE(reason.find("the mutex Global\\TorvacinRegisters "), std::string::npos) << reason;
    lock.reset();
    CloseHandle(squatter);
  }
  // Once it is gone the program's own is made and taken.
  std::unique_ptr<RegisterLock> lock = os_.AnalysisLock();
  std::string reason;
  EXPECT_EQ(lock->TryLock(reason), RegisterLock::Attempt::Held) << reason;
  lock->Unlock();
}

// The system's call of the handler for an event, on a thread of its own.
struct EventCall {
  unsigned long Type;
  bool Handled = false;
};
DWORD WINAPI ConsoleEvent(LPVOID arg) {
  auto* call = static_cast<EventCall*>(arg);
  call->Handled = Win32ConsoleControl(call->Type);
  return 0;
}

// Ctrl+C and Ctrl+Break wait while held and are handed over at the release;
// closing the console, logging off and shutting down wait for the release
// itself, since the system ends the program when the handler returns.
// Outside, with nothing of the program's open, they end the program as
// always (the handler leaves them to the system).
TEST_F(Win32PlatformTest, ConsoleControlWaitsWhileHeld) {
  EXPECT_FALSE(Win32ConsoleControl(CTRL_C_EVENT));
  EXPECT_FALSE(Win32ConsoleControl(CTRL_SHUTDOWN_EVENT));
  const struct {
    unsigned long Type;
    int Number;
    const char* Name;
  } cases[] = {{CTRL_C_EVENT, 2, "Ctrl+C"}, {CTRL_BREAK_EVENT, 3, "Ctrl+Break"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    os_.HoldSignals();
    EXPECT_TRUE(Win32ConsoleControl(c.Type));
    EXPECT_TRUE(Win32ConsoleControl(CTRL_BREAK_EVENT + CTRL_C_EVENT - c.Type));  // the first counts
    const HeldSignal s = os_.ReleaseSignals();
    EXPECT_EQ(s.Number, c.Number);
    EXPECT_EQ(s.Name, c.Name);
  }
  const struct {
    unsigned long Type;
    int Number;
    const char* Name;
  } ending[] = {{CTRL_CLOSE_EVENT, 1, "closing the console"},
                {CTRL_LOGOFF_EVENT, 1, "logging off"},
                {CTRL_SHUTDOWN_EVENT, 15, "shutting down"}};
  for (const auto& c : ending) {
    SCOPED_TRACE(c.Name);
    os_.HoldSignals();
    EventCall call{c.Type};
    DWORD released = 0;
    DWORD returned = 0;
    ASSERT_TRUE(RunOnNewThread([&] {
      HANDLE t = CreateThread(nullptr, 0, ConsoleEvent, &call, 0, nullptr);
      ::Sleep(200);
      released = GetTickCount();
      const HeldSignal s = os_.ReleaseSignals();
      EXPECT_EQ(s.Number, c.Number);
      EXPECT_EQ(s.Name, c.Name);
      WaitForSingleObject(t, INFINITE);
      returned = GetTickCount();
      CloseHandle(t);
    }));
    EXPECT_TRUE(call.Handled);
    EXPECT_GE(returned - released, 1000u) << "the handler returned before the release";
  }
}

// An event outside the held section while the program holds a device: the
// request under way is waited for, every device closed and the end cleanup
// done (the driver's service removed) before the system's default ends the
// program; no other request reaches a device any more, and a second event
// is taken while the first ends it.
TEST_F(Win32PlatformTest, ConsoleControlOutsideClosesTheDevicesAndCleansUp) {
  DeviceTable& devices = os_.Devices();
  const std::string path = Write("HELD.BIN", "data");
  std::uint32_t error = 0;
  const std::uint32_t h = devices.Open("\\\\.\\" + path, error);
  ASSERT_NE(h, kInvalidHandle) << error;
  int cleanups = 0;
  os_.SetEndCleanup([&] { ++cleanups; });
  EXPECT_FALSE(Win32ConsoleControl(CTRL_BREAK_EVENT)) << "the system ends the program";
  EXPECT_EQ(cleanups, 1);
  EXPECT_TRUE(DeleteFileA(path.c_str()) != FALSE) << "the handle was closed: " << GetLastError();
  const std::uint8_t in[16] = {1};
  std::uint32_t out[2] = {};
  const DevResult r = devices.Get(h)->Control(0x9C406000u, in, nullptr, 0, out, sizeof out);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.LastError, static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(Win32ConsoleControl(CTRL_C_EVENT));
  EXPECT_EQ(cleanups, 1);
}

}  // namespace
}  // namespace torv
