// The operating-system layer: everything the program needs from the system
// behind one interface, with a Linux implementation and a scriptable fake.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/thread.h"

namespace torv {

// Platform kinds as the program numbers them.
enum : std::uint8_t {
  kOsWin95 = 0,
  kOsWinNT = 1,
  kOsWin32s = 2,
  kOsWin98 = 3,
  kOsOther = 6,
  kOsLinux = 7,
};

// The running system's version as it reports it: the platform identifier
// (VER_PLATFORM_WIN32s 0, VER_PLATFORM_WIN32_WINDOWS 1, VER_PLATFORM_WIN32_NT 2)
// and the major and minor version.
inline constexpr std::uint32_t kVerPlatformWin32s = 0;
inline constexpr std::uint32_t kVerPlatformWin32Windows = 1;
inline constexpr std::uint32_t kVerPlatformWin32NT = 2;
struct OsVersion {
  std::uint32_t PlatformId = 0;
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
};
// The platform kind of a Windows version: Windows 95 0 (98 and later 3),
// NT 1, Win32s 2, anything else 6.
std::uint8_t MapWinVersion(const OsVersion& v);

// Result of one device request: whether the device accepted it and the
// system's last-error value afterwards.
struct DevResult {
  bool Ok = false;
  std::uint32_t LastError = 0;
};

// A driver device. `in` is the 16-byte request block; `attached` is memory of
// the caller that the request refers to (the cache transaction block), since a
// 32-bit parameter cannot carry an address of this process.
class Device {
 public:
  virtual ~Device() = default;
  virtual DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16],
                            const void* attached, std::size_t attachedLen, void* out,
                            std::uint32_t outLen) = 0;
  // Words for a last-error value this device produced ("" when it has none).
  virtual std::string DescribeError(std::uint32_t lastError) const = 0;
};

inline constexpr std::uint32_t kInvalidHandle = 0xFFFFFFFFu;
inline constexpr std::uint32_t kErrFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrFileExists = 80;
inline constexpr std::uint32_t kErrCallNotImplemented = 120;
inline constexpr std::uint32_t kErrServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrServiceNotActive = 1062;
inline constexpr std::uint32_t kErrServiceMarkedForDelete = 1072;
inline constexpr std::uint32_t kErrServiceExists = 1073;

// Devices by name ("\\.\name") and open handles.
class DeviceTable {
 public:
  // Asked for a name that is not registered (a system that loads a driver
  // when its device is opened); null with `lastError` set when there is none.
  using Resolver =
      std::function<std::shared_ptr<Device>(const std::string& path, std::uint32_t& lastError)>;
  void SetResolver(Resolver r) { resolver_ = std::move(r); }
  void Register(const std::string& path, std::shared_ptr<Device> dev);
  void Unregister(const std::string& path);
  // Returns a handle, or kInvalidHandle with lastError set.
  std::uint32_t Open(const std::string& path, std::uint32_t& lastError);
  void Close(std::uint32_t handle);
  Device* Get(std::uint32_t handle) const;
  std::size_t OpenCount() const { return open_.size(); }

 private:
  Resolver resolver_;
  std::map<std::string, std::shared_ptr<Device>> named_;
  std::map<std::uint32_t, std::shared_ptr<Device>> open_;
  std::uint32_t next_ = 0x104;

};

// An exclusive hold on this computer's processor registers, shared with every
// other program that analyses them: one analysis at a time changes the cache
// controller.
class RegisterLock {
 public:
  virtual ~RegisterLock() = default;
  enum class Attempt { Held, Busy, Unavailable, Denied };
  // One attempt that does not wait. Unavailable: no lock can be had here
  // (`reason` says why); the analysis goes on without one, and its first
  // register request fails with its own reason if the registers cannot be
  // reached either. Denied: the lock exists but is not one this program may
  // trust or take (another user made it, or keeps it from being opened);
  // `reason` says so, and the analysis does not run.
  virtual Attempt TryLock(std::string& reason) = 0;
  virtual void Unlock() = 0;
};

// Where the original values of registers that an analysis changes are kept
// while it changes them (see driver/journal.h): a place only root reads and
// writes, tied to this boot, that outlives the program, so that a program
// ended by SIGKILL leaves them for the next run.
class JournalStore {
 public:
  virtual ~JournalStore() = default;
  // Replaces the journal with `text`; false with `error` set when it cannot
  // be kept.
  virtual bool Save(std::string_view text, std::string& error) = 0;
  // The journal of this boot; "" when there is none (one of an earlier boot
  // is dropped).
  virtual std::string Load() = 0;
  // The registers are back: the journal goes.
  virtual void Clear() = 0;
};

// A request to end the program that came while such requests were held: the
// signal's number (Windows: Ctrl+C 2, Ctrl+Break 3, a closed console 1) and
// its name; Number 0 for none.
struct HeldSignal {
  int Number = 0;
  std::string Name;
};

enum class BoxButtons { Ok, OkCancel };
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Shows message boxes: the window's own boxes, or the terminal in console mode.
class BoxPresenter {
 public:
  virtual ~BoxPresenter() = default;
  virtual int Show(std::string_view title, std::string_view text, BoxButtons buttons) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // Platform kind: 0 Win95, 1 WinNT, 2 Win32s, 3 Win98, 6 other, 7 Linux.
  virtual std::uint8_t GetWinVersion() = 0;
  virtual int ProcessorCount() = 0;
  virtual std::uint16_t SystemLangId() = 0;  // a Windows language identifier
  // A modal box; returns kIdOk or kIdCancel. Texts are code page 1252.
  virtual int MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) = 0;
  // Save-file dialog preset with `name`; false when cancelled.
  virtual bool SaveDialog(std::string& name) = 0;
  // Runs `body` on a new thread that is bound to processor `proc` (1-based)
  // before it runs, waits for it without a time limit and stores its exit
  // code. A `proc` of 0 runs it unbound (a simulated machine's processors are
  // not this computer's). False when the thread could not be created or bound.
  virtual bool RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                              std::uint32_t& exitCode) = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Ends the process at once (fatal register failures).
  [[noreturn]] virtual void ExitProcess(int code) = 0;
  // Whether the caller runs on a thread other than the one that made the
  // platform (the main thread): an analysis thread of RunBoundThread.
  bool OnWorkerThread() const { return CurrentThreadToken() != mainThread_; }
  // Ends the calling analysis thread at once; RunBoundThread then returns.
  [[noreturn]] virtual void EndThread();
  // Whether message boxes show in a window rather than on the terminal: a
  // fatal register failure is then also shown in an "Error" box.
  virtual bool BoxesInWindow() const { return false; }
  virtual DeviceTable& Devices() = 0;

  // The lock of the processor registers that the driver reaches (Windows: a
  // named mutex); null where the register back-end brings its own (Linux) or
  // there is none.
  virtual std::unique_ptr<RegisterLock> AnalysisLock() { return nullptr; }
  // The requests that end the program (SIGINT, SIGTERM, SIGHUP and SIGQUIT;
  // on Windows Ctrl+C, Ctrl+Break and closing the console) wait from
  // HoldSignals until ReleaseSignals, which returns the first that came
  // meanwhile; the caller then ends the program as it asks. A stop from the
  // terminal (SIGTSTP, SIGTTIN, SIGTTOU) waits too and stops the program in
  // ReleaseSignals. Called on the analysis thread around the changes of the
  // cache controller; outside they act as always, whichever thread runs.
  virtual void HoldSignals() {}
  virtual HeldSignal ReleaseSignals() { return {}; }
  // The journal of this computer's changed registers; null where none is
  // kept.
  virtual JournalStore* Journal() { return nullptr; }
  // Whether a request to end the program waits for ReleaseSignals: a
  // simulated machine's slow cache controller stops waiting then.
  virtual bool EndRequested() { return false; }
  // What an end of the program that the system brings about must still do:
  // remove the driver service that the program started (Windows: a console
  // control event outside the held section; the platform closes its devices
  // first and then lets the system end the program). The driver's loader
  // sets it when the service runs and clears it (null) when the service is
  // gone. Where the system brings about no such end, it is never called.
  virtual void SetEndCleanup(std::function<void()> cleanup) { (void)cleanup; }

  // The system's last-error value, left by the calls below.
  virtual std::uint32_t LastError() { return lastError_; }

  // Files and directories, in the system's own path form. Where a system has
  // no such thing the defaults answer "none".
  virtual std::string ProgramFile() { return ""; }       // full path of the program
  virtual std::string CurrentDirectory() { return ""; }  // the working directory
  virtual std::string SystemDirectory() { return ""; }
  virtual std::string WindowsDirectory() { return ""; }
  // The file's date as a packed date-time, -1 when there is no such file.
  virtual std::int32_t FileAge(const std::string&) { return -1; }
  // Copies a file; with `failIfExists` an existing target is left alone and
  // the copy fails.
  virtual bool CopyFile(const std::string&, const std::string&, bool) {
    lastError_ = kErrCallNotImplemented;
    return false;
  }
  // The universal form of a path: a mapped network drive's letter replaced
  // by its share name; any other path unchanged.
  virtual std::string UniversalName(const std::string& path) { return path; }

  // Service control manager. Handles are non-zero; 0 means failure, with
  // LastError() telling why.
  struct ServiceConfig {
    std::string Name;
    std::string DisplayName;
    std::uint32_t DesiredAccess = 0;
    std::uint32_t ServiceType = 0;
    std::uint32_t StartType = 0;
    std::uint32_t ErrorControl = 0;
    std::string BinaryPath;
  };
  virtual std::uintptr_t OpenSCManager(std::uint32_t) { return NoServices(); }
  virtual std::uintptr_t CreateService(std::uintptr_t, const ServiceConfig&) { return NoServices(); }
  virtual std::uintptr_t OpenService(std::uintptr_t, const std::string&, std::uint32_t) {
    return NoServices();
  }
  virtual bool StartService(std::uintptr_t) { return NoServices() != 0; }
  virtual bool ControlService(std::uintptr_t, std::uint32_t) { return NoServices() != 0; }
  virtual bool DeleteService(std::uintptr_t) { return NoServices() != 0; }
  virtual void CloseServiceHandle(std::uintptr_t) {}

  // Linux start: root's rights, whether a path exists, and running a program
  // directly (no shell) with fixed arguments, waiting for its end. RunProgram
  // returns the exit status, or -1 when the program could not be started.
  virtual bool IsRoot() { return false; }
  virtual bool PathExists(const std::string&) { return false; }
  virtual int RunProgram(const std::vector<std::string>&) { return -1; }
  // One line for the user on the error stream (console mode).
  virtual void ErrorLine(std::string_view) {}

 protected:
  std::uint32_t lastError_ = 0;
  ThreadToken mainThread_ = CurrentThreadToken();

 private:
  std::uintptr_t NoServices() {
    lastError_ = kErrCallNotImplemented;
    return 0;
  }
};

// Service control values.
inline constexpr std::uint32_t kScManagerAllAccess = 0xF003F;
inline constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
inline constexpr std::uint32_t kServiceKernelDriver = 1;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceErrorNormal = 1;
inline constexpr std::uint32_t kServiceControlStop = 1;

}  // namespace torv
