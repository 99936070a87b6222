#include "platform/win32_platform.h"

#include <windows.h>
#include <winnetwk.h>

// The platform's own names, not the system's A/W macros.
#undef MessageBox
#undef CopyFile
#undef OpenSCManager
#undef CreateService
#undef OpenService
#undef StartService

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/console_box.h"

namespace torv {

namespace {

// Whether the system is Windows 95 or 98 (the high bit of GetVersion).
bool IsWin9x() { return (GetVersion() & 0x80000000u) != 0; }

// A string the system writes into a buffer of MAX_PATH characters: "" when
// the call fails or the text does not fit.
template <typename Call>
std::string PathFrom(Call call) {
  char buf[MAX_PATH + 1];
  const DWORD n = call(buf, static_cast<DWORD>(sizeof buf));
  if (n == 0 || n >= sizeof buf) return "";
  return std::string(buf, n);
}

// A driver's device opened with CreateFile. A request goes down as one input
// buffer: the 16-byte request block, then the block it refers to, so that the
// driver never has to read memory at an address the caller names. The handle
// is closed with the device (Windows 95/98 then unload a driver that was
// loaded by opening it).
class Win32Device : public Device {
 public:
  explicit Win32Device(HANDLE handle) : handle_(handle) {}
  ~Win32Device() override { CloseHandle(handle_); }
  Win32Device(const Win32Device&) = delete;
  Win32Device& operator=(const Win32Device&) = delete;

  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override {
    std::vector<std::uint8_t> buffer(in, in + sizeof in);
    if (attached != nullptr && attachedLen != 0) {
      const auto* a = static_cast<const std::uint8_t*>(attached);
      buffer.insert(buffer.end(), a, a + attachedLen);
    }
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(handle_, ioctlCode, buffer.data(),
                                    static_cast<DWORD>(buffer.size()), out, outLen, &returned,
                                    nullptr);
    return {ok != FALSE, ok != FALSE ? 0u : static_cast<std::uint32_t>(GetLastError())};
  }

  // The system's own words for the error, without the line end it adds.
  std::string DescribeError(std::uint32_t lastError) const override {
    if (lastError == 0) return "";
    char buf[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, lastError, 0, buf, sizeof buf, nullptr);
    if (n == 0 || n >= sizeof buf) return "";
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
      text.pop_back();
    }
    return text;
  }

 private:
  HANDLE handle_;
};

// Wine playing Windows 95 or 98 has no driver loader: "\\.\C:\path" is the
// file itself there, and FILE_FLAG_DELETE_ON_CLOSE would delete it.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Opens "\\.\name". Windows 95 and 98 load a dynamic driver by this open
// and unload it when the handle closes (FILE_FLAG_DELETE_ON_CLOSE); NT opens
// the device of a started driver service.
std::shared_ptr<Device> OpenDevice(const std::string& path, std::uint32_t& lastError) {
  HANDLE h;
  if (IsWin9x()) {
    const DWORD unload = UnderWine() ? 0 : FILE_FLAG_DELETE_ON_CLOSE;
    h = CreateFileA(path.c_str(), 0, 0, nullptr, 0, unload, nullptr);
  } else {
    h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    lastError = GetLastError();
    return nullptr;
  }
  lastError = 0;
  return std::make_shared<Win32Device>(h);
}

struct BoundCall {
  const std::function<std::uint32_t()>* Body = nullptr;
};

DWORD WINAPI BoundThreadMain(LPVOID arg) {
  auto* call = static_cast<BoundCall*>(arg);
  try {
    return (*call->Body)();
  } catch (const ThreadEnded&) {
    return 0;
  }
}

// The held state of the console control events. The handler is called by
// the system on a thread of its own and gets no context, so this one value is
// shared process-wide: kHeld while an analysis changes registers, with the
// number of the event that came meanwhile in the low byte.
constexpr int kHeld = 0x1000;
std::atomic<int> heldControl{0};

// The event's number as the program ends with it (128 + number): Ctrl+C as
// SIGINT, Ctrl+Break as SIGQUIT, a closed console as SIGHUP.
int ControlNumber(unsigned long type) {
  switch (type) {
    case CTRL_C_EVENT:
      return 2;
    case CTRL_BREAK_EVENT:
      return 3;
    case CTRL_CLOSE_EVENT:
      return 1;
    default:
      return 0;
  }
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  return Win32ConsoleControl(type) ? TRUE : FALSE;
}

// The analysis lock across instances: a named mutex, owned by the analysis
// thread that took it.
class NamedMutexLock : public RegisterLock {
 public:
  NamedMutexLock() = default;
  ~NamedMutexLock() override {
    Unlock();
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  Attempt TryLock(std::string& reason) override {
    if (handle_ == nullptr) {
      handle_ = CreateMutexA(nullptr, FALSE, "Global\\TorvacinRegisters");
      // Windows 95, 98 and NT 4.0 know no "Global\" names.
      if (handle_ == nullptr) handle_ = CreateMutexA(nullptr, FALSE, "TorvacinRegisters");
      if (handle_ == nullptr) {
        reason =
            "the mutex TorvacinRegisters cannot be made: error " + std::to_string(GetLastError());
        return Attempt::Unavailable;
      }
    }
    switch (WaitForSingleObject(handle_, 0)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:  // its holder ended without giving it back
        held_ = true;
        return Attempt::Held;
      case WAIT_TIMEOUT:
        return Attempt::Busy;
      default:
        reason = "waiting for the mutex TorvacinRegisters: error " + std::to_string(GetLastError());
        return Attempt::Unavailable;
    }
  }

  void Unlock() override {
    if (held_) ReleaseMutex(handle_);
    held_ = false;
  }

 private:
  HANDLE handle_ = nullptr;
  bool held_ = false;
};

SC_HANDLE Sc(std::uintptr_t h) { return reinterpret_cast<SC_HANDLE>(h); }
std::uintptr_t Handle(SC_HANDLE h) { return reinterpret_cast<std::uintptr_t>(h); }

}  // namespace

bool Win32ConsoleControl(unsigned long type) {
  const int number = ControlNumber(type);
  if (number == 0) return false;
  int state = heldControl.load();
  for (;;) {
    if ((state & kHeld) == 0) return false;  // not held: the program ends as always
    if ((state & 0xFF) != 0) break;          // one came already; that one counts
    if (heldControl.compare_exchange_weak(state, state | number)) break;
  }
  if (type == CTRL_CLOSE_EVENT) {
    // The system ends the program when the handler returns: not before the
    // registers are put back, and then the program ends itself with its
    // status (the grace time bounds the wait should it not).
    while ((heldControl.load() & kHeld) != 0) ::Sleep(10);
    ::Sleep(2000);
  }
  return true;
}

Win32Platform::Win32Platform() {
  devices_.SetResolver(OpenDevice);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Win32Platform::~Win32Platform() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

std::unique_ptr<RegisterLock> Win32Platform::AnalysisLock() {
  return std::make_unique<NamedMutexLock>();
}

void Win32Platform::HoldSignals() {
  heldControl.store(kHeld);
}

HeldSignal Win32Platform::ReleaseSignals() {
  const int state = heldControl.exchange(0);
  switch (state & 0xFF) {
    case 2:
      return {2, "Ctrl+C"};
    case 3:
      return {3, "Ctrl+Break"};
    case 1:
      return {1, "closing the console"};
    default:
      return {};
  }
}

std::uint8_t Win32Platform::GetWinVersion() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return kOsOther;
  return MapWinVersion({info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion});
}

// Processor p (1-based) is bit p - 1 of the system's affinity mask; the count
// is the number of processors the system has. A processor this process may
// not use cannot be bound, and its analysis says so.
int Win32Platform::ProcessorCount() {
  SYSTEM_INFO info;
  std::memset(&info, 0, sizeof info);
  GetSystemInfo(&info);
  int n = static_cast<int>(info.dwNumberOfProcessors);
  const int bits = static_cast<int>(sizeof(DWORD_PTR) * 8);
  if (n > bits) n = bits;
  return n > 0 ? n : 1;
}

std::uint16_t Win32Platform::SystemLangId() { return GetUserDefaultLangID(); }

int Win32Platform::MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) {
  if (presenter_ != nullptr) return presenter_->Show(title, text, buttons);
  ConsoleBoxPresenter console;
  return console.Show(title, text, buttons);
}

bool Win32Platform::SaveDialog(std::string& name) {
  if (!saveDialog_) return false;
  return saveDialog_(name);
}

// The thread is created suspended and bound before it runs a single
// instruction of the analysis.
bool Win32Platform::RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                                   std::uint32_t& exitCode) {
  if (proc < 0 || proc > ProcessorCount()) return false;
  BoundCall call;
  call.Body = &body;
  DWORD id = 0;  // Windows 95 and 98 want a place for the thread identifier
  HANDLE thread = CreateThread(nullptr, 0, BoundThreadMain, &call, CREATE_SUSPENDED, &id);
  if (thread == nullptr) return false;
  bool ok = true;
  if (proc != 0) {
    // Windows 95 and 98 accept the mask 1 of their one processor.
    const DWORD_PTR mask = static_cast<DWORD_PTR>(1) << (proc - 1);
    ok = SetThreadAffinityMask(thread, mask) != 0;
  }
  if (!ok) {
    // Never run unbound: the suspended thread ends without running the body.
    TerminateThread(thread, 0);
    CloseHandle(thread);
    return false;
  }
  DWORD code = 0;
  ok = ResumeThread(thread) != static_cast<DWORD>(-1) &&
       WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 &&
       GetExitCodeThread(thread, &code) != FALSE;
  CloseHandle(thread);
  if (ok) exitCode = code;
  return ok;
}

void Win32Platform::Sleep(int milliseconds) {
  if (milliseconds > 0) ::Sleep(static_cast<DWORD>(milliseconds));
}

void Win32Platform::ExitProcess(int code) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(code));
}

void Win32Platform::ErrorLine(std::string_view text) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stderr);
}

std::string Win32Platform::ProgramFile() {
  return PathFrom([](char* buf, DWORD size) { return GetModuleFileNameA(nullptr, buf, size); });
}

std::string Win32Platform::CurrentDirectory() {
  return PathFrom([](char* buf, DWORD size) { return GetCurrentDirectoryA(size, buf); });
}

std::string Win32Platform::SystemDirectory() {
  return PathFrom([](char* buf, DWORD size) { return GetSystemDirectoryA(buf, size); });
}

std::string Win32Platform::WindowsDirectory() {
  return PathFrom([](char* buf, DWORD size) { return GetWindowsDirectoryA(buf, size); });
}

// The last-write time in local time as a packed DOS date-time: the date in
// the high word, the time in the low word. FindFirstFile answers on every
// system from Windows 95 on; a folder or a name with wildcards is no file.
std::int32_t Win32Platform::FileAge(const std::string& path) {
  if (path.find_first_of("*?") != std::string::npos) return -1;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(path.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return -1;
  FindClose(h);
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return -1;
  FILETIME local;
  WORD date = 0;
  WORD time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
      !FileTimeToDosDateTime(&local, &date, &time)) {
    return -1;
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(date) << 16 | time);
}

bool Win32Platform::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  const bool ok = CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
  lastError_ = ok ? 0 : GetLastError();
  return ok;
}

// Only a path on a mapped network drive has a universal form; the system
// answers an error for any other path, which then stays as it is.
std::string Win32Platform::UniversalName(const std::string& path) {
  union {
    UNIVERSAL_NAME_INFOA info;
    char bytes[sizeof(UNIVERSAL_NAME_INFOA) + 2 * MAX_PATH];
  } buf;
  DWORD size = sizeof buf;
  if (WNetGetUniversalNameA(path.c_str(), UNIVERSAL_NAME_INFO_LEVEL, &buf, &size) != NO_ERROR ||
      buf.info.lpUniversalName == nullptr || buf.info.lpUniversalName[0] == '\0') {
    return path;
  }
  return buf.info.lpUniversalName;
}

std::uintptr_t Win32Platform::OpenSCManager(std::uint32_t access) {
  const SC_HANDLE h = OpenSCManagerA(nullptr, nullptr, access);
  lastError_ = h != nullptr ? 0 : GetLastError();
  return Handle(h);
}

std::uintptr_t Win32Platform::CreateService(std::uintptr_t scm, const ServiceConfig& config) {
  const SC_HANDLE h = CreateServiceA(
      Sc(scm), config.Name.c_str(), config.DisplayName.c_str(), config.DesiredAccess,
      config.ServiceType, config.StartType, config.ErrorControl, config.BinaryPath.c_str(),
      nullptr, nullptr, nullptr, nullptr, nullptr);
  lastError_ = h != nullptr ? 0 : GetLastError();
  return Handle(h);
}

std::uintptr_t Win32Platform::OpenService(std::uintptr_t scm, const std::string& name,
                                          std::uint32_t access) {
  const SC_HANDLE h = OpenServiceA(Sc(scm), name.c_str(), access);
  lastError_ = h != nullptr ? 0 : GetLastError();
  return Handle(h);
}

bool Win32Platform::StartService(std::uintptr_t service) {
  const bool ok = StartServiceA(Sc(service), 0, nullptr) != FALSE;
  lastError_ = ok ? 0 : GetLastError();
  return ok;
}

bool Win32Platform::ControlService(std::uintptr_t service, std::uint32_t control) {
  SERVICE_STATUS status;
  std::memset(&status, 0, sizeof status);
  const bool ok = ::ControlService(Sc(service), control, &status) != FALSE;
  lastError_ = ok ? 0 : GetLastError();
  return ok;
}

bool Win32Platform::DeleteService(std::uintptr_t service) {
  const bool ok = ::DeleteService(Sc(service)) != FALSE;
  lastError_ = ok ? 0 : GetLastError();
  return ok;
}

void Win32Platform::CloseServiceHandle(std::uintptr_t handle) {
  if (handle != 0) ::CloseServiceHandle(Sc(handle));
}

}  // namespace torv
