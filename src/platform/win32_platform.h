// The operating-system layer on Windows 95, 98 and NT: the system kind from
// GetVersionEx, the language from GetUserDefaultLangID, the directories and
// files through the Win32 calls, the service control manager, driver devices
// through CreateFile and DeviceIoControl, the worker thread created suspended
// and bound with SetThreadAffinityMask, and message boxes and the save dialog
// through pluggable presenters (the window's own, or the terminal in console
// mode).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace torv {

class Win32DeviceGate;

class Win32Platform : public Platform {
 public:
  Win32Platform();
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  std::uint8_t GetWinVersion() override;
  int ProcessorCount() override;
  std::uint16_t SystemLangId() override;
  int MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) override;
  bool SaveDialog(std::string& name) override;
  bool RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                      std::uint32_t& exitCode) override;
  void Sleep(int milliseconds) override;
  [[noreturn]] void ExitProcess(int code) override;
  DeviceTable& Devices() override { return devices_; }
  bool BoxesInWindow() const override { return presenter_ != nullptr; }
  void ErrorLine(std::string_view text) override;
  // The named mutex "Global\TorvacinRegisters" (plain "TorvacinRegisters"
  // where the system has no global names), shared by every instance: made
  // with access for SYSTEM and Administrators only. One that exists but
  // cannot be opened, or that a user who is no administrator made, is
  // refused (RegisterLock::Attempt::Denied), not replaced by another name.
  std::unique_ptr<RegisterLock> AnalysisLock() override;
  // Ctrl+C, Ctrl+Break, closing the console, logging off and shutting down
  // wait while held (the console control handler below); the last three
  // wait for the release.
  void HoldSignals() override;
  HeldSignal ReleaseSignals() override;
  // Done by the console control handler when an event ends the program
  // outside the held section, after every device is closed.
  void SetEndCleanup(std::function<void()> cleanup) override;
  // The console control handler's decision for an event (see
  // Win32ConsoleControl).
  bool ConsoleControl(unsigned long type);

  std::string ProgramFile() override;
  std::string CurrentDirectory() override;
  std::string SystemDirectory() override;
  std::string WindowsDirectory() override;
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

  // The window installs its own boxes and file dialog; null restores the
  // terminal boxes and a dialog that is always cancelled.
  void SetPresenter(BoxPresenter* presenter) { presenter_ = presenter; }
  void SetSaveDialog(std::function<bool(std::string&)> dialog) { saveDialog_ = std::move(dialog); }

 private:
  BoxPresenter* presenter_ = nullptr;
  std::function<bool(std::string&)> saveDialog_;
  std::unique_ptr<Win32DeviceGate> gate_;
  DeviceTable devices_;  // declared after the gate: its devices go first
  std::atomic<int> held_{0};
};

// The console control handler's decision for a control event (CTRL_C_EVENT,
// CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT)
// on the platform that exists: true when it is taken, false when the
// system's default (ending the program) applies. While held, the event
// waits for the release, and the program then ends itself (the last three
// are held until the release). Outside, the platform's devices are closed
// and its end cleanup done (the driver's service removed) before the
// default applies; with nothing to close or remove the default applies at
// once.
bool Win32ConsoleControl(unsigned long type);

}  // namespace torv
