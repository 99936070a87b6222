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
#include <functional>
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

}  // namespace

// The devices the platform opened, and the gate of their requests: one
// request at a time, and none any more once the system ends the program
// (EndAll). Also the cleanup that such an end must still do.
class Win32DeviceGate {
 public:
  Win32DeviceGate() { InitializeCriticalSection(&lock_); }
  ~Win32DeviceGate() { DeleteCriticalSection(&lock_); }
  Win32DeviceGate(const Win32DeviceGate&) = delete;
  Win32DeviceGate& operator=(const Win32DeviceGate&) = delete;

  void Enter() { EnterCriticalSection(&lock_); }
  void Leave() { LeaveCriticalSection(&lock_); }

  // A handle that the gate closes at such an end (null once closed).
  void Add(HANDLE* handle) {
    Enter();
    open_.push_back(handle);
    Leave();
  }
  void Remove(HANDLE* handle) {
    Enter();
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (*it == handle) {
        open_.erase(it);
        break;
      }
    }
    Leave();
  }

  void SetCleanup(std::function<void()> cleanup) {
    Enter();
    cleanup_ = std::move(cleanup);
    Leave();
  }

  // Whether such an end has anything to do: a device open or a cleanup.
  bool Holds() {
    Enter();
    const bool holds = !open_.empty() || static_cast<bool>(cleanup_);
    Leave();
    return holds;
  }

  // The end the system brings about: a request under way is waited for,
  // every device closed (so that a driver can stop), the cleanup done. The
  // gate stays shut: no request of another thread runs any more before the
  // system ends the program.
  void EndAll() {
    Enter();
    for (HANDLE* h : open_) {
      if (*h != nullptr) CloseHandle(*h);
      *h = nullptr;
    }
    if (cleanup_) cleanup_();
    cleanup_ = nullptr;
  }

 private:
  CRITICAL_SECTION lock_;
  std::vector<HANDLE*> open_;
  std::function<void()> cleanup_;
};

namespace {

// A driver's device opened with CreateFile. A request goes down as one input
// buffer: the 16-byte request block, then the block it refers to, so that the
// driver never has to read memory at an address the caller names. The handle
// is closed with the device (Windows 95/98 then unload a driver that was
// loaded by opening it), or by the gate at an end the system brings about.
class Win32Device : public Device {
 public:
  Win32Device(HANDLE handle, Win32DeviceGate& gate) : handle_(handle), gate_(gate) {
    gate_.Add(&handle_);
  }
  ~Win32Device() override {
    gate_.Enter();
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
    gate_.Leave();
    gate_.Remove(&handle_);
  }
  Win32Device(const Win32Device&) = delete;
  Win32Device& operator=(const Win32Device&) = delete;

  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override {
    std::vector<std::uint8_t> buffer(in, in + sizeof in);
    if (attached != nullptr && attachedLen != 0) {
      const auto* a = static_cast<const std::uint8_t*>(attached);
      buffer.insert(buffer.end(), a, a + attachedLen);
    }
    gate_.Enter();
    DWORD returned = 0;
    BOOL ok = FALSE;
    DWORD error = ERROR_INVALID_HANDLE;
    if (handle_ != nullptr) {
      ok = DeviceIoControl(handle_, ioctlCode, buffer.data(), static_cast<DWORD>(buffer.size()),
                           out, outLen, &returned, nullptr);
      error = ok != FALSE ? 0 : GetLastError();
    }
    gate_.Leave();
    return {ok != FALSE, static_cast<std::uint32_t>(error)};
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
  Win32DeviceGate& gate_;
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
std::shared_ptr<Device> OpenDevice(const std::string& path, std::uint32_t& lastError,
                                   Win32DeviceGate& gate) {
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
  return std::make_shared<Win32Device>(h, gate);
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

// The one piece of process-wide state: the console control handler is
// called by the system on a thread of its own and gets no context, so it
// reaches the platform through this pointer, set while the platform exists.
std::atomic<Win32Platform*> consolePlatform{nullptr};

// The held state (Win32Platform::held_): kHeld while an analysis changes
// registers, with the event that came meanwhile in the low byte (its type +
// 1); kEnding once an event ends the program.
constexpr int kHeld = 0x1000;
constexpr int kEnding = 0x2000;

// The events the handler takes: the number the program ends with after the
// restore (128 + number) and the name it gives. Ctrl+C as SIGINT,
// Ctrl+Break as SIGQUIT, a closed console and logging off as SIGHUP, a
// shutdown as SIGTERM.
struct ControlEvent {
  unsigned long Type;
  int Number;
  const char* Name;
};
constexpr ControlEvent kControlEvents[] = {
    {CTRL_C_EVENT, 2, "Ctrl+C"},
    {CTRL_BREAK_EVENT, 3, "Ctrl+Break"},
    {CTRL_CLOSE_EVENT, 1, "closing the console"},
    {CTRL_LOGOFF_EVENT, 1, "logging off"},
    {CTRL_SHUTDOWN_EVENT, 15, "shutting down"},
};

const ControlEvent* FindEvent(unsigned long type) {
  for (const ControlEvent& e : kControlEvents) {
    if (e.Type == type) return &e;
  }
  return nullptr;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  return Win32ConsoleControl(type) ? TRUE : FALSE;
}

// The analysis lock's security, self-relative and built by hand (no
// security function is needed, and Windows 95/98 ignore it): owner
// Administrators, group SYSTEM, and a DACL that grants the mutex's rights
// (MUTEX_ALL_ACCESS, 1F0001h) to SYSTEM and to Administrators, to nobody
// else. An ordinary user can neither open the mutex nor make one with this
// owner, so a mutex of this name owned by anybody else is not the program's.
constexpr unsigned char kSidSystem[12] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
constexpr unsigned char kSidAdmins[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

struct MutexDescriptor {
  unsigned char Bytes[100];
  MutexDescriptor() {
    // Header: revision 1, SE_SELF_RELATIVE | SE_DACL_PRESENT, owner at 20,
    // group at 36, no SACL, DACL at 48.
    static constexpr unsigned char kHeader[20] = {1, 0, 0x04, 0x80, 20, 0, 0,  0, 36, 0,
                                                  0, 0, 0,    0,    0,  0, 48, 0, 0,  0};
    // ACL revision 2, size 52, two ACEs; each ACCESS_ALLOWED with its size
    // and mask.
    static constexpr unsigned char kAcl[8] = {2, 0, 52, 0, 2, 0, 0, 0};
    static constexpr unsigned char kSystemAce[8] = {0, 0, 20, 0, 0x01, 0x00, 0x1F, 0x00};
    static constexpr unsigned char kAdminsAce[8] = {0, 0, 24, 0, 0x01, 0x00, 0x1F, 0x00};
    std::size_t n = 0;
    const auto put = [&](const unsigned char* p, std::size_t len) {
      std::memcpy(Bytes + n, p, len);
      n += len;
    };
    put(kHeader, sizeof kHeader);
    put(kSidAdmins, sizeof kSidAdmins);
    put(kSidSystem, sizeof kSidSystem);
    put(kAcl, sizeof kAcl);
    put(kSystemAce, sizeof kSystemAce);
    put(kSidSystem, sizeof kSidSystem);
    put(kAdminsAce, sizeof kAdminsAce);
    put(kSidAdmins, sizeof kSidAdmins);
  }
};

// Whether the object's owner is SYSTEM or Administrators; true where the
// system keeps no owners (Windows 95/98), false when it cannot be read.
// GetKernelObjectSecurity is looked up, not imported: Windows 98 need not
// have it.
bool OwnedBySystemOrAdmins(HANDLE object) {
  using GetSecurity =
      BOOL(WINAPI*)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  // The program imports other functions of advapi32: it is loaded.
  const HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (advapi == nullptr) return true;
  // Through a plain function pointer type, which any function pointer may be
  // cast to and from.
  const auto get = reinterpret_cast<GetSecurity>(
      reinterpret_cast<void (*)()>(GetProcAddress(advapi, "GetKernelObjectSecurity")));
  if (get == nullptr) return true;
  unsigned char sd[512] = {};
  DWORD needed = 0;
  if (!get(object, OWNER_SECURITY_INFORMATION, sd, sizeof sd, &needed)) {
    return GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
  }
  // Self-relative: the owner's offset at 4, the SID there (its length from
  // its count of sub-authorities at byte 1).
  std::uint32_t at = 0;
  std::memcpy(&at, sd + 4, 4);
  if (at == 0 || at + 8 > sizeof sd) return false;
  const std::size_t len = 8 + 4 * std::size_t{sd[at + 1]};
  if (at + len > sizeof sd) return false;
  return (len == sizeof kSidSystem && std::memcmp(sd + at, kSidSystem, len) == 0) ||
         (len == sizeof kSidAdmins && std::memcmp(sd + at, kSidAdmins, len) == 0);
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
      const Attempt made = Make(reason);
      if (made != Attempt::Held) return made;
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
  // Makes or opens the mutex; Held when handle_ is the program's mutex.
  Attempt Make(std::string& reason) {
    MutexDescriptor sd;
    SECURITY_ATTRIBUTES sa{sizeof sa, sd.Bytes, FALSE};
    const char* name = "Global\\TorvacinRegisters";
    HANDLE h = CreateMutexA(&sa, FALSE, name);
    DWORD e = GetLastError();
    // Windows 95, 98 and NT 4.0 know no "Global\" names; there a plain name
    // is the one of every session.
    if (h == nullptr && (e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_PATHNAME ||
                         e == ERROR_INVALID_NAME || e == ERROR_INVALID_PARAMETER)) {
      name = "TorvacinRegisters";
      h = CreateMutexA(&sa, FALSE, name);
      e = GetLastError();
    }
    if (h == nullptr && e == ERROR_ACCESS_DENIED) {
      reason = std::string("the mutex ") + name +
               " exists but cannot be opened: another user made it (log that user off, or "
               "restart Windows)";
      return Attempt::Denied;
    }
    if (h == nullptr) {
      reason = std::string("the mutex ") + name + " cannot be made: error " + std::to_string(e);
      return Attempt::Unavailable;
    }
    // One that existed already was made with its maker's security: it is
    // the program's only when an administrator or the system made it.
    if (e == ERROR_ALREADY_EXISTS && !OwnedBySystemOrAdmins(h)) {
      CloseHandle(h);
      reason = std::string("the mutex ") + name +
               " was made by a user who is no administrator (log that user off, or restart "
               "Windows)";
      return Attempt::Denied;
    }
    handle_ = h;
    return Attempt::Held;
  }

  HANDLE handle_ = nullptr;
  bool held_ = false;
};

SC_HANDLE Sc(std::uintptr_t h) { return reinterpret_cast<SC_HANDLE>(h); }
std::uintptr_t Handle(SC_HANDLE h) { return reinterpret_cast<std::uintptr_t>(h); }

}  // namespace

bool Win32ConsoleControl(unsigned long type) {
  Win32Platform* p = consolePlatform.load();
  return p != nullptr && p->ConsoleControl(type);
}

bool Win32Platform::ConsoleControl(unsigned long type) {
  const ControlEvent* event = FindEvent(type);
  if (event == nullptr) return false;
  const bool ends = type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT;
  int state = held_.load();
  for (;;) {
    if ((state & kEnding) != 0) return true;  // the first event ends it
    if ((state & kHeld) == 0) {
      // Not held. With nothing of the program's to close or remove, the
      // system's default ends it as always.
      if (!gate_->Holds()) return false;
      if (!held_.compare_exchange_weak(state, kEnding)) continue;
      // No analysis changes registers from here (HoldSignals waits): the
      // devices are closed and the driver's service removed, then the
      // system's default ends the program.
      gate_->EndAll();
      return false;
    }
    if ((state & 0xFF) != 0) break;  // one came already; that one counts
    if (held_.compare_exchange_weak(state, state | static_cast<int>(type + 1))) break;
  }
  if (ends) {
    // The system ends the program when the handler returns: not before the
    // registers are put back, and then the program ends itself with its
    // status, its service removed (the grace time bounds the wait should it
    // not).
    while ((held_.load() & kHeld) != 0) ::Sleep(10);
    ::Sleep(2000);
  }
  return true;
}

Win32Platform::Win32Platform() : gate_(std::make_unique<Win32DeviceGate>()) {
  Win32DeviceGate* gate = gate_.get();
  devices_.SetResolver([gate](const std::string& path, std::uint32_t& lastError) {
    return OpenDevice(path, lastError, *gate);
  });
  consolePlatform.store(this);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Win32Platform::~Win32Platform() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  Win32Platform* self = this;
  consolePlatform.compare_exchange_strong(self, nullptr);
}

void Win32Platform::SetEndCleanup(std::function<void()> cleanup) {
  gate_->SetCleanup(std::move(cleanup));
}

std::unique_ptr<RegisterLock> Win32Platform::AnalysisLock() {
  return std::make_unique<NamedMutexLock>();
}

void Win32Platform::HoldSignals() {
  int state = 0;
  while (!held_.compare_exchange_weak(state, kHeld)) {
    // An event is ending the program: no register is changed any more.
    if ((state & kEnding) != 0) {
      for (;;) ::Sleep(INFINITE);
    }
    state = 0;
  }
}

HeldSignal Win32Platform::ReleaseSignals() {
  const int state = held_.exchange(0);
  const int type = (state & 0xFF) - 1;
  const ControlEvent* e = type >= 0 ? FindEvent(static_cast<unsigned long>(type)) : nullptr;
  if (e == nullptr) return {};
  return {e->Number, e->Name};
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
