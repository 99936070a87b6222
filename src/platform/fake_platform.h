// A scriptable stand-in for the operating system, for tests: it plays any
// platform kind, processor count and language, records every message box and
// answers them as scripted, runs workers on a plain thread, and never sleeps.
// For the driver's start it also plays a Windows machine: working, system and
// Windows directories, driver files with dates, copies that can fail, mapped
// network drives, a service control manager, and driver devices whose
// identity and version the test sets.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace torv {

struct RecordedBox {
  std::string Title;
  std::string Text;
  BoxButtons Buttons;
};

// A driver file: its date and what its device answers once loaded.
struct FakeDriverFile {
  std::int32_t Date = 0;
  std::uint32_t Version = 0x0103;      // NT form; major.minor as 0xMMmm on 95/98
  std::uint32_t Identity = 0x12340000;  // reply word 0 of ReqIdentify
};

struct FakeService {
  Platform::ServiceConfig Config;
  bool Running = false;
  bool MarkedForDelete = false;
};

class FakePlatform : public Platform {
 public:
  FakePlatform();

  std::uint8_t Kind = kOsLinux;
  // When set, the platform kind is mapped from this version instead.
  std::optional<OsVersion> Version;
  int Processors = 1;
  std::uint16_t LangId = 0x0409;
  std::vector<RecordedBox> Boxes;
  std::deque<int> BoxAnswers;  // answers in order; kIdOk when empty
  bool SaveDialogResult = true;
  std::string SaveDialogName;  // when non-empty, the name the dialog returns
  std::vector<int> BoundProcs;  // processors that workers were bound to
  bool FailThreads = false;     // workers cannot be created
  int SleptMs = 0;

  // Files and directories.
  std::string Program = "C:\\TORVACIN\\TORVACIN.EXE";
  std::string WorkDir = "C:\\TORVACIN";
  std::string SysDir = "C:\\WINDOWS\\SYSTEM";
  std::string WinDir = "C:\\WINDOWS";
  std::map<std::string, FakeDriverFile> Files;  // by full path
  std::set<std::string> FailCopiesTo;           // copies to these paths fail
  std::vector<std::string> Copies;              // "from -> to" of every copy made
  std::map<char, std::string> NetworkDrives;    // drive letter -> "\\server\share"

  // Service control manager.
  bool ScmDenied = false;  // the manager does not open: access denied
  std::uint32_t CreateServiceError = 0;  // when set, creation fails with it
  std::map<std::string, FakeService> Services;
  std::vector<std::string> ScmLog;  // "create NAME PATH", "start NAME", "stop NAME", "delete NAME"
  int OpenScHandles = 0;            // manager and service handles not yet closed

  // Another program holds the NT driver's device: opening it is refused
  // with access denied.
  bool NtDeviceHeld = false;
  // What the program asked to be done at an end the system brings about.
  std::function<void()> EndCleanup;

  // A Windows 95/98 driver already loaded ("\\.\kelvor95").
  std::optional<FakeDriverFile> LoadedVxd;

  // Linux start.
  bool Root = false;
  std::set<std::string> ExistingPaths;
  std::vector<std::vector<std::string>> Ran;  // every program run
  int RunStatus = 0;
  // Paths that appear once a program has run (a loaded kernel module's device).
  std::set<std::string> PathsAfterRun;
  std::vector<std::string> ErrorLines;
  bool Window = false;  // boxes show in a window, not on the terminal

  // Held signals: how many held sections began, whether one is open now, and
  // the signal that comes during the next one (Number 0: none).
  int SignalHolds = 0;
  bool SignalsHeld = false;
  HeldSignal SignalDuringHold;

  // The journal of changed registers, in memory: its text ("" for none),
  // whether it can be kept, and how many times it was saved.
  struct MemoryJournal : JournalStore {
    std::string Text;
    bool Keeps = true;
    int Saves = 0;
    bool Save(std::string_view text, std::string& error) override {
      if (!Keeps) {
        error = "/run/torvacin: Permission denied";
        return false;
      }
      ++Saves;
      Text = text;
      return true;
    }
    std::string Load() override { return Text; }
    void Clear() override { Text.clear(); }
  } Journaled;
  JournalStore* Journal() override { return &Journaled; }

  std::uint8_t GetWinVersion() override { return Version ? MapWinVersion(*Version) : Kind; }
  int ProcessorCount() override { return Processors; }
  std::uint16_t SystemLangId() override { return LangId; }
  int MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) override;
  bool SaveDialog(std::string& name) override;
  bool RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                      std::uint32_t& exitCode) override;
  void Sleep(int milliseconds) override { SleptMs += milliseconds; }
  // Ends the process for real: fatal ends are tested as death tests.
  [[noreturn]] void ExitProcess(int code) override;
  DeviceTable& Devices() override { return devices_; }
  bool BoxesInWindow() const override { return Window; }

  std::string ProgramFile() override { return Program; }
  std::string CurrentDirectory() override { return WorkDir; }
  std::string SystemDirectory() override { return SysDir; }
  std::string WindowsDirectory() override { return WinDir; }
  std::int32_t FileAge(const std::string& path) override;
  bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
  std::string UniversalName(const std::string& path) override;

  std::uintptr_t OpenSCManager(std::uint32_t access) override;
  std::uintptr_t CreateService(std::uintptr_t scm, const ServiceConfig& config) override;
  std::uintptr_t OpenService(std::uintptr_t scm, const std::string& name,
                             std::uint32_t access) override;
  bool StartService(std::uintptr_t service) override;
  bool ControlService(std::uintptr_t service, std::uint32_t control) override;
  bool DeleteService(std::uintptr_t service) override;
  void CloseServiceHandle(std::uintptr_t handle) override;

  bool IsRoot() override { return Root; }
  bool PathExists(const std::string& path) override { return ExistingPaths.count(path) != 0; }
  int RunProgram(const std::vector<std::string>& argv) override;
  void ErrorLine(std::string_view text) override { ErrorLines.emplace_back(text); }
  void HoldSignals() override {
    ++SignalHolds;
    SignalsHeld = true;
  }
  HeldSignal ReleaseSignals() override {
    SignalsHeld = false;
    HeldSignal s = SignalDuringHold;
    SignalDuringHold = {};
    return s;
  }
  void SetEndCleanup(std::function<void()> cleanup) override { EndCleanup = std::move(cleanup); }

 private:
  std::shared_ptr<Device> Resolve(const std::string& path, std::uint32_t& lastError);
  bool Fail(std::uint32_t error) {
    lastError_ = error;
    return false;
  }
  // The service an open service handle names, or Services.end() with the
  // last error set (an unknown handle, or a service deleted meanwhile).
  std::map<std::string, FakeService>::iterator ServiceOf(std::uintptr_t handle);

  DeviceTable devices_;
  std::map<std::uintptr_t, std::string> serviceHandles_;  // handle -> service name ("" manager)
  std::uintptr_t nextScHandle_ = 0x1000;
};

}  // namespace torv
