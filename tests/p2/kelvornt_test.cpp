// The whole analysis through KELVORNT.SYS's request handling (the C of the
// kernel driver over a simulated machine): every request the analysis sends
// is one the driver serves, so the report, the exit codes and the registers
// left behind are those of the same analysis through the program's own
// device. A request the driver refused would change the report or end the
// analysis with a register error.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "p2_fixture.h"
#include "probe_machine.h"
#include "support/kelvornt_device.h"

namespace torv {
namespace {

constexpr std::uint8_t kNoEccPass = 0xFF;

struct Case {
  const char* Machine;
  int Proc = 1;
  std::uint8_t EccMode = kNoEccPass;  // the /ECC= setting of that processor
  bool NoL2 = false;
};

// The registers the analysis reads or changes, as a machine holds them.
std::vector<std::uint64_t> Registers(Machine& m) {
  std::vector<std::uint64_t> out;
  for (int cpu = 1; cpu <= m.ProcessorCount(); ++cpu) {
    for (std::uint32_t reg : {0x2Au, 0x88u, 0x89u, 0x8Au, 0x8Bu, 0xFEu, 0x116u, 0x118u, 0x119u,
                              0x11Eu, 0x1E0u}) {
      std::uint64_t v = 0;
      out.push_back(m.ReadMsr(cpu, reg, v) == 0 ? v : ~std::uint64_t{0});
    }
  }
  return out;
}

struct Outcome {
  std::vector<std::uint32_t> Exits;
  int Fatal = 0;  // the exit code of a register failure that ended a pass
  std::string FatalText;
  std::vector<std::string> Report;
  std::vector<std::uint64_t> Registers;
  std::uint8_t PicMask = 0;
};

// As the window runs a processor: the ECC pass when /ECC= names it, then
// the analysis and its report with the details.
Outcome Analyse(const Case& c, bool throughDriver) {
  test::ReportWorld rw;
  World& w = rw.w;
  std::string error;
  std::shared_ptr<Machine> m = MakeSimMachine(c.Machine, error);
  EXPECT_TRUE(m) << error;
  if (!m) return {};
  rw.platform.Devices().Register("\\\\.\\Dev_KelvorNT", test::DeviceFor(m, throughDriver));
  EXPECT_TRUE(DrvOpen(w.ForDriver(), kOsWinNT, "\\\\.\\Dev_KelvorNT"));
  w.shell.MultiProc = m->ProcessorCount() > 1;
  w.settings.OptExt = true;
  w.settings.OptExx = true;
  w.settings.OptNoL2 = c.NoL2;
  Outcome o;
  // On an analysis thread of its own, as the program runs it: a register
  // failure ends the thread, not the test.
  const auto pass = [&](int arg) {
    std::uint32_t code = 0;
    EXPECT_TRUE(rw.platform.RunBoundThread(0, [&] { return WorkerThread(w.ForP2(), arg); }, code));
    o.Exits.push_back(code);
  };
  if (c.EccMode != kNoEccPass) {
    w.settings.EccMode[static_cast<std::size_t>(c.Proc)] = c.EccMode;
    pass(128 + c.Proc);
  }
  rw.Clear();
  pass(c.Proc);
  P2Report(w.ForP2(), c.Proc);
  P2Details(w.ForP2());
  o.Report = rw.Lines();
  o.Fatal = w.hw.FatalCode;
  o.FatalText = w.hw.FatalText;
  rw.platform.Devices().Close(w.drv.DrvHandle);
  o.Registers = Registers(*m);
  m->PortIn(0x21, o.PicMask);
  return o;
}

TEST(AnalysisThroughKelvornt, AsThroughTheProgramsDevice) {
  const Case cases[] = {
      {"p2-450"},
      {"p2-300"},
      {"p2-300-noecc"},
      {"p2-233-at-300"},
      {"celeron-266"},
      {"p2-dual", 1},
      {"p2-dual", 2},
      {"ppro", 1},
      {"ppro", 2},
      {"klamath"},
      {"p2-overdrive"},
      {"deschutes"},
      {"covington"},
      {"mendocino"},
      {"dixon"},
      {"p2-xeon", 2},
      {"katmai"},
      {"p2-450", 1, 0},      // ECC switched off
      {"p2-450", 1, 1},      // and on
      {"p2-300-noecc", 1, 1},  // on without ECC SRAMs: refused
      {"p2-300-noecc", 1, 2},  // forced on
      {"p2-dual", 2, 0},
      {"ppro", 1, 1},        // no ECC pass on a Pentium Pro
      {"p2-450", 1, kNoEccPass, true},  // /NOL2: no ECC test
      {"skylake"},           // refused before any register request
      {"k6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Machine) + ", processor " + std::to_string(c.Proc) +
                 ", ECC mode " + std::to_string(c.EccMode));
    const Outcome want = Analyse(c, false);
    const Outcome got = Analyse(c, true);
    EXPECT_EQ(got.Fatal, 0) << got.FatalText;
    EXPECT_EQ(got.Exits, want.Exits);
    EXPECT_EQ(got.Report, want.Report);
    EXPECT_EQ(got.Registers, want.Registers);
    EXPECT_EQ(got.PicMask, want.PicMask);
  }
}

// Five analyses in one handle of the driver, as the window's processor
// buttons run them, on a cache whose ECC bits come back different after each
// line read: the analysis puts BBL_CR_DECC back as found every time, and the
// driver, which remembers the value found and not the last values read,
// never refuses that restore.
TEST(AnalysisThroughKelvornt, FiveAnalysesInOneHandle) {
  test::ReportWorld rw;
  World& w = rw.w;
  std::string error;
  std::shared_ptr<Machine> sim = MakeSimMachine("p2-450", error);
  ASSERT_TRUE(sim) << error;
  auto m = std::make_shared<test::ObservedMachine>(sim);
  m->EccFlip = 0x00010000u;
  m->EccFlipGrows = true;
  const std::vector<std::uint64_t> found = Registers(*m);
  rw.platform.Devices().Register("\\\\.\\Dev_KelvorNT", std::make_shared<test::KelvorntDevice>(m));
  ASSERT_TRUE(DrvOpen(w.ForDriver(), kOsWinNT, "\\\\.\\Dev_KelvorNT"));
  std::set<std::uint32_t> readBack;
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE("analysis " + std::to_string(i));
    std::uint32_t code = 99;
    ASSERT_TRUE(rw.platform.RunBoundThread(
        0, [&] { return WorkerThread(w.ForP2(), 1); }, code));
    EXPECT_EQ(code, 0u);
    ASSERT_EQ(w.hw.FatalCode, 0) << w.hw.FatalText;
    readBack.insert(w.p2.EccReadBack);
    EXPECT_EQ(Registers(*m), found);
  }
  EXPECT_EQ(readBack.size(), 5u) << "the ECC bits came back alike";
  rw.platform.Devices().Close(w.drv.DrvHandle);
  EXPECT_EQ(Registers(*m), found);
}

}  // namespace
}  // namespace torv
