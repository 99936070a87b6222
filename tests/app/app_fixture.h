// A main window over a fake view, a fake platform and a small machine of the
// test's own, with analysis steps that a test can script.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/form.h"
#include "machine/machine.h"
#include "platform/fake_platform.h"
#include "report/language.h"
#include "report/utility.h"
#include "app/world.h"

namespace torv::test {

// A Pentium II 300 on every processor; registers read as zero.
class TestMachine : public Machine {
 public:
  TestMachine(int processors, bool bindsHost) : processors_(processors), bindsHost_(bindsHost) {}
  std::string Name() const override { return "testbox"; }
  std::string Description() const override { return "machine of the shell tests"; }
  int ProcessorCount() const override { return processors_; }
  std::uint32_t Cpuid(int, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    eax = ebx = ecx = edx = 0;
    if (leaf == 0) {
      eax = 2;
      ebx = 0x756E6547;  // "Genu"
      edx = 0x49656E69;  // "ineI"
      ecx = 0x6C65746E;  // "ntel"
    } else if (leaf == 1) {
      eax = 0x0633;
      edx = 0x0080FBFF;
    }
    return 0;
  }
  std::uint32_t ReadMsr(int, std::uint32_t, std::uint64_t& value) override {
    value = 0;
    return 0;
  }
  std::uint32_t WriteMsr(int, std::uint32_t, std::uint64_t) override { return 0; }
  std::uint32_t PortIn(std::uint16_t, std::uint8_t& value) override {
    value = 0xFF;
    return 0;
  }
  std::uint32_t PortOut(std::uint16_t, std::uint8_t) override { return 0; }
  std::uint32_t ClockCount(int, std::uint32_t& cycles) override {
    cycles = 16500000;
    return 0;
  }
  bool DivisionLeavesFlags(int) override { return false; }
  bool BindsHostThreads() const override { return bindsHost_; }
  std::string DescribeError(std::uint32_t) const override { return ""; }

 private:
  int processors_;
  bool bindsHost_;
};

class FakeView : public FormView {
 public:
  void SetCaption(std::string_view caption) override { Captions.emplace_back(caption); }
  void EnableControl(Ctl, bool) override {}
  void ShowEdit() override { ++EditShown; }
  std::string EditText() override { return Edit; }
  void Repaint() override { ++Repaints; }
  void Place(Ctl, int, int, int, int) override {}
  int WindowHeight() override { return Height; }
  int WindowWidth() override { return Width; }
  void Close() override { ++Closes; }
  void SetStatus(std::string_view text) override { Status = text; }

  std::vector<std::string> Captions;
  int EditShown = 0;
  std::string Edit;
  int Repaints = 0;
  int Height = kFormHeight;
  int Width = kFormWidth;
  int Closes = 0;
  std::string Status;
};

// Exit codes for the workers in order (0 once used up), and what ran.
struct Script {
  std::deque<std::uint32_t> Codes;
  std::vector<std::int32_t> WorkerArgs;
  int DetailsCalls = 0;
};

// Each report is two lines naming the processor; the details one line.
inline AnalysisSteps ScriptedSteps(Script& s) {
  AnalysisSteps steps;
  steps.Worker = [&s](World&, std::int32_t arg) {
    s.WorkerArgs.push_back(arg);
    if (s.Codes.empty()) return std::uint32_t{0};
    const std::uint32_t c = s.Codes.front();
    s.Codes.pop_front();
    return c;
  };
  steps.Report = [](World& w, int proc) {
    ReportWriteLn(w.report, " report of processor " + DecStr(proc));
    ReportWriteLn(w.report, " end of report " + DecStr(proc));
    return true;
  };
  steps.Details = [&s](World& w) {
    ++s.DetailsCalls;
    ReportWriteLn(w.report, " details");
  };
  return steps;
}

class FormFixture : public ::testing::Test {
 protected:
  // A window on `processors` processors of this computer (bound workers),
  // or of a simulated machine with that many when `simulated`.
  TForm1& Make(int processors, bool simulated = false, bool scripted = true) {
    platform.Processors = simulated ? 1 : processors;
    w.machine = std::make_shared<TestMachine>(processors, !simulated);
    form = std::make_unique<TForm1>(w, view,
                                    scripted ? ScriptedSteps(script) : DefaultAnalysisSteps());
    return *form;
  }
  TForm1& Start(int processors, const std::vector<std::string>& args = {}, bool simulated = false) {
    Make(processors, simulated).formcreate(args);
    return *form;
  }
  std::vector<std::string> Lines() const { return form->ListBox1.Items; }

  FakePlatform platform;
  World w{platform};
  FakeView view;
  Script script;
  std::unique_ptr<TForm1> form;
};

}  // namespace torv::test
