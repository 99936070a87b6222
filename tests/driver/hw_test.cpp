#include "driver/hw.h"

#include <gtest/gtest.h>

#include "machine/machine.h"
#include "support/recording_device.h"

namespace torv {
namespace {

using test::Answer;
using test::DriverWorld;

std::uint32_t AttachedWord(const test::RecordedRequest& r, std::size_t i) {
  std::uint32_t v = 0;
  for (std::size_t b = 0; b < 4; ++b)
    v |= static_cast<std::uint32_t>(r.Attached[4 * i + b]) << (8 * b);
  return v;
}

// Register fields as the analysis reads them, on real register values.
TEST(Bits, NamedFieldsOfRegisterValues) {
  const struct {
    const char* Name;
    std::uint32_t Value;
    Field F;
    std::uint32_t Want;
  } cases[] = {
      {"whole word", 0xDEADBEEF, {31, 0}, 0xDEADBEEF},
      {"top bit", 0x80000000, {31, 31}, 1},
      {"Deschutes 0651 family", 0x00000651, kSigFamily, 6},
      {"Deschutes 0651 model", 0x00000651, kSigModel, 5},
      {"Deschutes 0651 stepping", 0x00000651, kSigStepping, 1},
      {"OverDrive type", 0x00001632, kSigType, 1},
      {"extended family", 0x0FF00F00, kSigExtFamily, 0xFF},
      {"ratio code 4.5 (1011b)", 0x02C00000, kPowerOnRatio, 0x0B},
      {"100 MHz bus", 0x00080000, kPowerOnBus100, 1},
      {"133 MHz bus bit apart from 100", 0x00080000, kPowerOnBus133, 0},
      {"ratio above 4.5 not set", 0x02C00000, kPowerOnRatioPlus4, 0},
      {"cacheable area 4 GByte", 0x00300000, kCtl3CacheableArea, 3},
      {"latency", 0x0000001F, kCtl3Latency, 0x0F},
      {"ECC on", 0x00000020, kCtl3Ecc, 1},
      {"L2 disabled", 0x00800000, kCtl3L2Disabled, 1},
      {"time-stamp counter", 0x0183F9FF, kFeatTsc, 1},
      {"no MMX", 0x0000F9FF, kFeatMmx, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Bits(c.Value, c.F), c.Want);
    EXPECT_EQ(Bits(c.Value, c.F.Msb, c.F.Lsb), c.Want);
  }
  static_assert(Bits(0xF0u, 7, 4) == 0xF);
}

TEST(L2Transaction, SendsTheBlockWithTheRequest) {
  DriverWorld t;
  t.dev->Answers[ReqL2Transaction] = Answer{true, 0, {0x00000020, 0}};
  bool ok = false;
  EXPECT_EQ(L2Transaction(t.w.ForDriver(), 0x1C, 0, 0, 0, 0x7A766B20, 0x12345678, ok), 0x20u);
  EXPECT_TRUE(ok);
  ASSERT_EQ(t.dev->Requests.size(), 1u);
  const auto& r = t.dev->Requests[0];
  EXPECT_EQ(r.Req.Func, 91u);
  EXPECT_EQ(r.Req.P1, 0x1Cu);
  EXPECT_EQ(r.Req.P2, 0u);
  EXPECT_EQ(r.OutLen, 8u);
  ASSERT_EQ(r.Attached.size(), 16u);
  EXPECT_EQ(AttachedWord(r, 0), 0u);
  EXPECT_EQ(AttachedWord(r, 1), 0u);
  EXPECT_EQ(AttachedWord(r, 2), 0x7A766B20u);
  EXPECT_EQ(AttachedWord(r, 3), 0x12345678u);
}

TEST(L2Transaction, RefusedRequestGivesOkFalse) {
  DriverWorld t;
  t.dev->Answers[ReqL2Transaction] = Answer{false, kErrL2Busy, {0xFFFFFFFF}};
  bool ok = true;
  L2Transaction(t.w.ForDriver(), 0x0E, 0, 0, 0, 0, 0, ok);
  EXPECT_FALSE(ok);
}

TEST(ReadL2Config, TakesBits21To28OfTheAddress) {
  struct Case {
    std::uint32_t Addr;
    std::uint8_t Value;
  };
  for (const Case c : {Case{0x1FE00000, 0xFF}, Case{0x00200000, 0x01}, Case{0xE01FFFFF, 0x00},
                       Case{0xFFFFFFFF, 0xFF}}) {
    DriverWorld t;
    t.dev->Answers[ReqL2Transaction] = Answer{true, 0, {c.Addr, 0}};
    bool ok = false;
    EXPECT_EQ(ReadL2Config(t.w.ForDriver(), 3, ok), c.Value) << std::hex << c.Addr;
    EXPECT_TRUE(ok);
    EXPECT_EQ(t.dev->Requests[0].Req.P1, 2u);
    EXPECT_EQ(AttachedWord(t.dev->Requests[0], 0), 3u * 32);
  }
}

TEST(DrvCpuid, RecordOrderAndFaultFlag) {
  DriverWorld t;
  t.dev->Answers[ReqCpuid] = Answer{true, 0, {2, 0x756E6547, 0x6C65746E, 0x49656E69}};
  CpuidRegs regs;
  bool ok = false;
  DrvCpuid(t.w.ForDriver(), 0, regs, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(regs.Eax, 2u);
  EXPECT_EQ(regs.Ebx, 0x756E6547u);  // "Genu"
  EXPECT_EQ(regs.Edx, 0x49656E69u);  // "ineI"
  EXPECT_EQ(regs.Ecx, 0x6C65746Eu);  // "ntel"
  EXPECT_EQ(t.dev->Requests[0].OutLen, 16u);

  struct Case {
    std::uint32_t LastError;
    bool Fault;
  };
  for (const Case c : {Case{kErrCpuUnreachable, true}, Case{kErrNoCpuid, false},
                       Case{kErrInvalidFunction, false}}) {
    t.dev->Answers[ReqCpuid] = Answer{false, c.LastError, {}};
    DrvCpuid(t.w.ForDriver(), 1, regs, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(t.w.hw.CpuidFault, c.Fault) << std::hex << c.LastError;
  }
  t.dev->Answers[ReqCpuid] = Answer{false, kErrCpuUnreachable, {}};
  DrvCpuid(t.w.ForDriver(), 1, regs, ok);
  ASSERT_TRUE(t.w.hw.CpuidFault);
  t.dev->Answers[ReqCpuid] = Answer{true, 0, {0x652, 0, 0, 0}};
  DrvCpuid(t.w.ForDriver(), 1, regs, ok);
  EXPECT_FALSE(t.w.hw.CpuidFault);
}

TEST(Primitives, RequestsAndReplies) {
  DriverWorld t;
  t.dev->Answers[ReqPortIn] = Answer{true, 0, {0xFFFFFF5A}};
  t.dev->Answers[ReqMsrRead] = Answer{true, 0, {0x1A400000, 0x00000001}};
  t.dev->Answers[ReqClockCount] = Answer{true, 0, {16500000, 99}};

  EXPECT_EQ(PortIn(t.w.ForDriver(), 0x22), 0x5A);
  PortOut(t.w.ForDriver(), 0x23, 0xC3);
  std::uint32_t lo = 0, hi = 0, status = 7;
  ReadMsrRaw(t.w.ForDriver(), 0x2A, lo, hi, status);
  EXPECT_EQ(lo, 0x1A400000u);
  EXPECT_EQ(hi, 1u);
  EXPECT_EQ(status, 0u);
  WriteMsrRaw(t.w.ForDriver(), 0x11E, 0x4527, 0x0, status);
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(DrvSetCpu(t.w.ForDriver(), 2));
  EXPECT_EQ(t.w.hw.CurrentCpu, 2);
  MeasureClock(t.w.ForDriver());
  EXPECT_DOUBLE_EQ(t.w.hw.CpuClockHz, 16500000 * 18.206);

  struct Want {
    std::uint32_t Func, P1, P2, P3, OutLen;
  };
  const Want want[] = {{ReqPortIn, 0x22, 0, 0, 1},  {ReqPortOut, 0x23, 0xC3, 0, 0},
                       {ReqMsrRead, 0x2A, 0, 0, 8}, {ReqMsrWrite, 0x11E, 0x4527, 0, 0},
                       {ReqSetCpu, 2, 0, 0, 0},     {ReqClockCount, 0, 0, 0, 8}};
  ASSERT_EQ(t.dev->Requests.size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    const auto& r = t.dev->Requests[i];
    EXPECT_EQ(r.Req.Func, want[i].Func) << i;
    EXPECT_EQ(r.Req.P1, want[i].P1) << i;
    EXPECT_EQ(r.Req.P2, want[i].P2) << i;
    EXPECT_EQ(r.Req.P3, want[i].P3) << i;
    EXPECT_EQ(r.OutLen, want[i].OutLen) << i;
    EXPECT_TRUE(r.HadOut) << i;
  }
}

TEST(Primitives, FailuresGiveTheirNeutralResults) {
  DriverWorld t;
  for (std::uint32_t f : {ReqPortIn, ReqMsrRead, ReqMsrWrite, ReqClockCount, ReqSetCpu}) {
    t.dev->Answers[f] = Answer{false, 5, {0x12, 0x34}};
  }
  EXPECT_EQ(PortIn(t.w.ForDriver(), 0x21), 0xFF);
  std::uint32_t lo = 1, hi = 1, status = 0;
  ReadMsrRaw(t.w.ForDriver(), 0x2A, lo, hi, status);
  EXPECT_EQ(status, 1u);
  WriteMsrRaw(t.w.ForDriver(), 0x2A, 0, 0, status);
  EXPECT_EQ(status, 1u);
  EXPECT_FALSE(DrvSetCpu(t.w.ForDriver(), 3));
  EXPECT_EQ(t.w.hw.CurrentCpu, 3);
  EXPECT_EQ(DrvClockCount(t.w.ForDriver(), 0), 0u);
  MeasureClock(t.w.ForDriver());
  EXPECT_EQ(t.w.hw.CpuClockHz, 0.0);
}

// Every system kind reaches the ports through the driver.
TEST(Primitives, PortsGoThroughTheDriverOnEveryKind) {
  for (std::uint8_t kind : {kOsWin95, kOsWinNT, kOsWin98, kOsLinux}) {
    DriverWorld t;
    t.w.shell.OsKind = kind;
    t.dev->Answers[ReqPortIn] = Answer{true, 0, {0x31}};
    EXPECT_EQ(PortIn(t.w.ForDriver(), 0x23), 0x31) << int(kind);
    PortOut(t.w.ForDriver(), 0x22, 0xFE);
    ASSERT_EQ(t.dev->Requests.size(), 2u);
    EXPECT_EQ(t.dev->Requests[1].Req.Func, static_cast<std::uint32_t>(ReqPortOut));
  }
}

TEST(MsrTrace, ReadAndWriteLines) {
  DriverWorld t;
  t.w.settings.OptLog = true;
  t.dev->Answers[ReqMsrRead] = Answer{true, 0, {0x1A400000, 0}};
  std::uint32_t lo = 0, hi = 0;
  ReadMsr(t.w.ForDriver(), 0x2A, lo, hi);
  EXPECT_EQ(lo, 0x1A400000u);
  EXPECT_EQ(t.w.hw.MsrStatus, 0u);
  WriteMsr(t.w.ForDriver(), 0x11E, 0x4527, 0);
  // No trace without /LOG.
  t.w.settings.OptLog = false;
  ReadMsr(t.w.ForDriver(), 0x2A, lo, hi);
  WriteMsr(t.w.ForDriver(), 0x11E, 0x4527, 0);
  EXPECT_EQ(t.dev->Requests.size(), 4u);

  const std::vector<std::string> want = {"20000002A  1A400000  00000000  0000",
                                         "10000011E  00004527  00000000  0000", "0000"};
  EXPECT_EQ(t.Lines(), want);
  EXPECT_EQ(want[0].size(), 35u);
}

TEST(MsrTrace, WriteShowsThePreviousStatusFirst) {
  DriverWorld t;
  t.w.settings.OptLog = true;
  t.w.hw.MsrStatus = 1;  // left by an earlier access
  WriteMsr(t.w.ForDriver(), 0x119, 0x40000, 0);
  EXPECT_EQ(t.w.hw.MsrStatus, 0u);
  const std::vector<std::string> want = {"100000119  00040000  00000000  0001", "0000"};
  EXPECT_EQ(t.Lines(), want);
  // The second line keeps its four blanks.
  bool found = false;
  for (const auto& s : t.box.Items) found = found || s.rfind("0000    ", 0) == 0;
  EXPECT_TRUE(found);
}

// The fatal ends run in a child process; each scenario is one function.
void FailingRead() {
  DriverWorld t;
  t.dev->Answers[ReqMsrRead] = Answer{false, kErrOsBase | 2, {}};
  t.dev->Reason = "/dev/cpu/0/msr: No such file or directory";
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  ReadMsr(t.w.ForDriver(), 0x2A, lo, hi);
}

void FailingWrite() {
  DriverWorld t;
  t.dev->Answers[ReqMsrWrite] = Answer{false, kErrAccessDenied, {}};
  t.dev->Reason = "register access denied (run as root)";
  WriteMsr(t.w.ForDriver(), 0x11E, 0, 0);
}

// A platform that shows the report's lines on the error stream as the
// program ends, so that a death test can see the trace.
class ShowReportAtExit : public FakePlatform {
 public:
  ListBox* Box = nullptr;
  [[noreturn]] void ExitProcess(int code) override {
    for (std::string s : Box->Items) {
      while (!s.empty() && s.back() == ' ') s.pop_back();
      if (!s.empty()) std::fprintf(stderr, "[%s]\n", s.c_str());
    }
    FakePlatform::ExitProcess(code);
  }
};

void FailingTracedRead() {
  ShowReportAtExit platform;
  World w(platform);
  ListBox box;
  ReportInit(w.report, box, true, false, false);
  platform.Box = &box;
  auto dev = std::make_shared<test::RecordingDevice>();
  dev->Answers[ReqMsrRead] = Answer{false, kErrRegisterFault, {}};
  platform.Devices().Register("d", dev);
  std::uint32_t err = 0;
  w.drv.DrvHandle = platform.Devices().Open("d", err);
  w.settings.OptLog = true;
  std::uint32_t lo = 0;
  std::uint32_t hi = 0;
  ReadMsr(w.ForDriver(), 0x2A, lo, hi);
}

class MsrFatal : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(MsrFatal, FailedReadEndsWithCode8AndSaysWhy) {
  EXPECT_EXIT(FailingRead(), ::testing::ExitedWithCode(8),
              "torvacin: reading model-specific register 0000002A failed: /dev/cpu/0/msr: No "
              "such file or directory");
}

TEST_F(MsrFatal, FailedWriteEndsWithCode7) {
  EXPECT_EXIT(FailingWrite(), ::testing::ExitedWithCode(7),
              "writing model-specific register 0000011E failed: register access denied");
}

TEST_F(MsrFatal, FailedReadIsTracedWithStatus0001BeforeTheEnd) {
  EXPECT_EXIT(FailingTracedRead(), ::testing::ExitedWithCode(8),
              "\\[20000002A  00000000  00000000  0001\\]");
}

}  // namespace
}  // namespace torv

namespace torv {
namespace {

// ---- a register failure on the analysis thread -----------------------------

// The worker records the failure and ends; nothing after the failed access
// runs, and the program goes on until the main thread looks.
TEST(MsrFailureOnWorker, RecordedAndTheThreadEnds) {
  struct Case {
    bool Write;
    int Code;
    const char* Text;
  };
  const Case cases[] = {
      {false, 8, "Reading model-specific register 0000002A failed: msr device missing"},
      {true, 7, "Writing model-specific register 0000011E failed: msr device missing"},
  };
  for (const Case& c : cases) {
    test::DriverWorld t;
    t.dev->Answers[ReqMsrRead] = test::Answer{false, kErrOsBase | 2, {}};
    t.dev->Answers[ReqMsrWrite] = test::Answer{false, kErrOsBase | 2, {}};
    t.dev->Reason = "msr device missing";
    bool after = false;
    std::uint32_t exitCode = 99;
    ASSERT_TRUE(t.platform.RunBoundThread(
        1,
        [&]() -> std::uint32_t {
          std::uint32_t lo = 0, hi = 0;
          if (c.Write) {
            WriteMsr(t.w.ForDriver(), 0x11E, 0, 0);
          } else {
            ReadMsr(t.w.ForDriver(), 0x2A, lo, hi);
          }
          after = true;
          return 0;
        },
        exitCode));
    EXPECT_FALSE(after);
    EXPECT_EQ(t.w.hw.FatalCode, c.Code);
    EXPECT_EQ(t.w.hw.FatalText, c.Text);
    // No box from the worker.
    EXPECT_TRUE(t.platform.Boxes.empty());
  }
}

// Boxes are written to the error stream as the process ends, so that the
// death test sees what the user saw.
class WindowEnd : public FakePlatform {
 public:
  [[noreturn]] void ExitProcess(int code) override {
    for (const RecordedBox& b : Boxes) {
      std::fprintf(stderr, "[%s: %s]\n", b.Title.c_str(), b.Text.c_str());
    }
    FakePlatform::ExitProcess(code);
  }
};

void WorkerFailsThenMainEnds(bool window) {
  WindowEnd platform;
  platform.Window = window;
  World w(platform);
  auto dev = std::make_shared<test::RecordingDevice>();
  dev->Answers[ReqMsrRead] = test::Answer{false, kErrAccessDenied, {}};
  dev->Reason = "/dev/cpu/0/msr: Permission denied (run as root)";
  platform.Devices().Register("d", dev);
  std::uint32_t err = 0;
  w.drv.DrvHandle = platform.Devices().Open("d", err);
  std::uint32_t code = 0;
  platform.RunBoundThread(
      1,
      [&]() -> std::uint32_t {
        std::uint32_t lo = 0, hi = 0;
        ReadMsr(w.ForDriver(), kMsrPowerOn, lo, hi);
        return 0;
      },
      code);
  std::fprintf(stderr, "[main thread]\n");
  EndFatally(w.ForDriver());
  std::fprintf(stderr, "[not reached]\n");
}

TEST(MsrFailureOnWorkerDeathTest, MainThreadShowsTheBoxAndEnds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(WorkerFailsThenMainEnds(true), ::testing::ExitedWithCode(8),
              "^torvacin: reading model-specific register 0000002A failed: /dev/cpu/0/msr: "
              "Permission denied \\(run as root\\)\n\\[main thread\\]\n\\[Error: Reading "
              "model-specific register 0000002A failed: /dev/cpu/0/msr: Permission denied "
              "\\(run as root\\)\\]\n$");
  // Console mode: the line on the error stream only.
  EXPECT_EXIT(WorkerFailsThenMainEnds(false), ::testing::ExitedWithCode(8),
              "^torvacin: reading model-specific register 0000002A failed: /dev/cpu/0/msr: "
              "Permission denied \\(run as root\\)\n\\[main thread\\]\n$");
}

TEST(MsrFailureOnWorker, NothingToShowAfterAGoodRun) {
  test::DriverWorld t;
  EndFatally(t.w.ForDriver());  // returns: no failure was recorded
  EXPECT_TRUE(t.platform.Boxes.empty());
}

// A lock that is busy for its first attempts, or cannot be had at all.
class ScriptedLock : public RegisterLock {
 public:
  int BusyFor = 0;
  bool Unavailable = false;
  int Attempts = 0;
  int Unlocks = 0;
  Attempt TryLock(std::string& reason) override {
    ++Attempts;
    if (Unavailable) {
      reason = "no device";
      return Attempt::Unavailable;
    }
    return Attempts <= BusyFor ? Attempt::Busy : Attempt::Held;
  }
  void Unlock() override { ++Unlocks; }
};

const std::string kWaiting =
    "torvacin: another analysis of this computer's processor registers is running; waiting for "
    "it to end (at most 30 s)";

// The session waits for another analysis, saying so once, and holds the lock
// until its end; where no lock can be had the analysis goes on.
TEST(RegisterSession, WaitsForAnotherAnalysisAndHoldsTheLockToItsEnd) {
  struct Case {
    int BusyFor;
    bool Unavailable;
    std::vector<std::string> Lines;
    int SleptMs, Unlocks;
  };
  const Case cases[] = {
      {0, false, {}, 0, 1},
      {3, false, {kWaiting}, 300, 1},
      {299, false, {kWaiting}, 29'900, 1},  // the last attempt within the 30 s
      {0, true, {}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.BusyFor);
    DriverWorld t;
    auto lock = std::make_shared<ScriptedLock>();
    lock->BusyFor = c.BusyFor;
    lock->Unavailable = c.Unavailable;
    t.w.drv.Lock = lock;
    {
      const RegisterSession session(t.w.ForDriver());
      EXPECT_EQ(lock->Unlocks, 0);
    }
    EXPECT_EQ(lock->Unlocks, c.Unlocks);
    EXPECT_EQ(t.platform.ErrorLines, c.Lines);
    EXPECT_EQ(t.platform.SleptMs, c.SleptMs);
  }
  // No lock (a simulated machine): nothing to wait for.
  DriverWorld t;
  { const RegisterSession session(t.w.ForDriver()); }
  EXPECT_TRUE(t.platform.ErrorLines.empty());
  // The msr module, if still to be loaded, comes first.
  t.platform.Root = true;
  t.platform.ExistingPaths.insert("/sbin/modprobe");
  t.w.drv.MsrModulePending = true;
  { const RegisterSession session(t.w.ForDriver()); }
  EXPECT_EQ(t.platform.Ran, (std::vector<std::vector<std::string>>{{"/sbin/modprobe", "msr"}}));
}

TEST(RegisterSessionDeathTest, GivesUpAfter30SecondsWithStatus5) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  DriverWorld t;
  auto lock = std::make_shared<ScriptedLock>();
  lock->BusyFor = 1'000'000;
  t.w.drv.Lock = lock;
  EXPECT_EXIT({ const RegisterSession session(t.w.ForDriver()); },
              ::testing::ExitedWithCode(kExitLockTimeout), "");
  // On an analysis thread the main thread ends the program, with the reason
  // in an "Error" box in the window.
  t.platform.Window = true;
  std::uint32_t exit = 0;
  ASSERT_TRUE(t.platform.RunBoundThread(
      1,
      [&] {
        const RegisterSession session(t.w.ForDriver());
        return 0u;
      },
      exit));
  EXPECT_EQ(t.w.hw.FatalCode, kExitLockTimeout);
  EXPECT_EQ(t.platform.ErrorLines.back(),
            "torvacin: another analysis of this computer's processor registers did not end "
            "within 30 s: gave up (exit status 5)");
  EXPECT_EQ(t.w.hw.FatalText,
            "Another analysis of this computer's processor registers did not end within 30 s: "
            "gave up");
  EXPECT_EXIT(EndFatally(t.w.ForDriver()), ::testing::ExitedWithCode(kExitLockTimeout), "");
  EXPECT_EQ(lock->Unlocks, 0);
}

}  // namespace
}  // namespace torv
