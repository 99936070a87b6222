// A scriptable stand-in for the operating system, for tests: it plays any
// platform kind, processor count and language, records every message box and
// answers them as scripted, runs workers on a plain thread, and never sleeps.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace torv {

struct RecordedBox {
  std::string Title;
  std::string Text;
  BoxButtons Buttons;
};

class FakePlatform : public Platform {
 public:
  std::uint8_t Kind = kOsLinux;
  int Processors = 1;
  std::uint16_t LangId = 0x0409;
  std::vector<RecordedBox> Boxes;
  std::deque<int> BoxAnswers;  // answers in order; kIdOk when empty
  bool SaveDialogResult = true;
  std::string SaveDialogName;  // when non-empty, the name the dialog returns
  std::vector<int> BoundProcs;  // processors that workers were bound to
  bool FailThreads = false;     // workers cannot be created
  int SleptMs = 0;

  std::uint8_t GetWinVersion() override { return Kind; }
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

 private:
  DeviceTable devices_;
};

}  // namespace torv
