// The operating-system layer on Linux: processors from the affinity mask,
// the language from the locale environment, workers on pthreads bound to one
// processor before they run, and message boxes and the save dialog through
// pluggable presenters (the window's own, or the terminal in console mode).
#pragma once

#include <signal.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/console_box.h"
#include "platform/linux_run_dir.h"
#include "platform/linux_signals.h"
#include "platform/platform.h"

namespace torv {

class LinuxPlatform : public Platform {
 public:
  // `signals`: the process's signal hub, made first thing in main, through
  // which the held sections hold the signals; null holds nothing.
  explicit LinuxPlatform(SignalHub* signals = nullptr);

  std::uint8_t GetWinVersion() override { return kOsLinux; }
  // Processor p (1-based) is the kernel's CPU p - 1; the count is the number
  // of online CPUs.
  int ProcessorCount() override { return count_; }
  std::uint16_t SystemLangId() override;
  int MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) override;
  bool SaveDialog(std::string& name) override;
  bool RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                      std::uint32_t& exitCode) override;
  void Sleep(int milliseconds) override;
  [[noreturn]] void ExitProcess(int code) override;
  DeviceTable& Devices() override { return devices_; }
  bool BoxesInWindow() const override { return presenter_ != nullptr; }
  bool IsRoot() override;
  bool PathExists(const std::string& path) override;
  int RunProgram(const std::vector<std::string>& argv) override;
  void ErrorLine(std::string_view text) override;
  std::string CurrentDirectory() override;
  void HoldSignals() override;
  HeldSignal ReleaseSignals() override;
  bool EndRequested() override { return signals_ != nullptr && signals_->EndPending(); }
  // The journal in /run/torvacin (root only).
  JournalStore* Journal() override { return &journal_; }

  // The kernel's CPU number of processor p, or -1 when there is none.
  int HostCpu(int proc) const;

  // The window installs its own boxes and file dialog; null restores the
  // terminal boxes and a dialog that is always cancelled.
  void SetPresenter(BoxPresenter* presenter) { presenter_ = presenter; }
  void SetSaveDialog(std::function<bool(std::string&)> dialog) { saveDialog_ = std::move(dialog); }

 private:
  int count_ = 0;
  ConsoleBoxPresenter console_;
  BoxPresenter* presenter_ = nullptr;
  std::function<bool(std::string&)> saveDialog_;
  DeviceTable devices_;
  SignalHub* signals_;
  FileJournal journal_;
};

}  // namespace torv
