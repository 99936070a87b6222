// Cyrix designs: the presence tests, the names by DIR0/DIR1, switching CPUID on
// through CCR3/CCR4 and back, and the family taken from the name.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cpu/sim_cpu.h"
#include "driver/context.h"
#include "driver/journal.h"
#include "platform/thread.h"

namespace torv::test {
namespace {

using Mode = SimCpuidMode;

class CyrixTest : public CpuTest {
 protected:
  // A Cyrix part: configuration registers with varied values in C0h..CFh.
  void CyrixPart(std::uint8_t dir0, std::uint8_t dir1, std::uint8_t ccr3 = 0x01,
                 std::uint8_t ccr4 = 0x00) {
    for (int i = 0xC0; i <= 0xCF; ++i) SetCyrixReg(i, static_cast<std::uint8_t>(0x10 + i));
    SetCyrixReg(0xC3, ccr3);
    SetCyrixReg(0xE8, ccr4);
    SetCyrixReg(0xE9, 0x5A);
    SetCyrixReg(0xFE, dir0);
    SetCyrixReg(0xFF, dir1);
  }
  // A division that leaves the flags alone (a Cyrix by the flags test), or
  // changes them.
  void DivisionLeavesFlags(bool leaves) { Cpu().DivFlagsUnchanged = leaves; }
};

// ---------------------------------------------------------------- DIR0 names

struct Dir0Case {
  std::uint8_t Dir0, Dir1;
  const char* Name;
  const char* Suffix;
  std::uint8_t Family;
};

std::ostream& operator<<(std::ostream& os, const Dir0Case& c) {
  return os << "DIR0 " << int(c.Dir0) << " DIR1 " << int(c.Dir1);
}

class Dir0Test : public CyrixTest, public ::testing::WithParamInterface<Dir0Case> {};

// Without any CPUID the DIR0 name stands, the part counts as an identified
// Cyrix, and the family comes from the third character of the name.
TEST_P(Dir0Test, NamesThePartWithoutCpuid) {
  const Dir0Case& c = GetParam();
  CyrixPart(c.Dir0, c.Dir1);
  Cpu().CpuidMode = Mode::Off;
  DivisionLeavesFlags(true);

  const TCpuInfo ci = Identify();

  EXPECT_EQ(ci.CpuName.view(), c.Name);
  EXPECT_EQ(ci.NameSuffix.view(), c.Suffix);
  EXPECT_EQ(ci.Family, c.Family);
  EXPECT_EQ(ci.Dir0, c.Dir0);
  EXPECT_EQ(ci.Dir1, c.Dir1);
  EXPECT_EQ(ci.VendorCode, kVendorCyrix);
  EXPECT_TRUE(ci.Identified);
  EXPECT_FALSE(ci.CpuidOk);
  EXPECT_EQ(ci.Vendor.view(), "NONE");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dir0Test,
    ::testing::Values(Dir0Case{0x31, 0x17, "Cx686 (M1)", " 2:1, ID=31h, Rev=17h", 6},
                      Dir0Case{0x35, 0x20, "Cx686L (M1)", " 3:1, ID=35h, Rev=20h", 6},
                      Dir0Case{0x30, 0x1F, "Cx686L (M1)", " 1:1, ID=30h, Rev=1Fh", 6},
                      Dir0Case{0x3E, 0x1E, "Cx686 (M1)", " 4:1, ID=3Eh, Rev=1Eh", 6},
                      Dir0Case{0x55, 0x08, "Cx686MX (M2)", ", ID=55h, Rev=08h", 6},
                      Dir0Case{0x52, 0x08, "Cx686MX (M2)", " 2.5:1, ID=52h, Rev=08h", 6},
                      Dir0Case{0x5C, 0x08, "Cx686MX (M2)", " 3.5:1, ID=5Ch, Rev=08h", 6},
                      Dir0Case{0x58, 0x08, "Cx686MX (M2)", ", ID=58h, Rev=08h", 6},
                      Dir0Case{0x09, 0x00, "Cyrix 09", ", ID=09h, Rev=00h", 4},
                      Dir0Case{0x27, 0x00, "Cyrix 27", ", ID=27h, Rev=00h", 4},
                      Dir0Case{0x28, 0x00, "Cx586 (M1SC)", ", ID=28h, Rev=00h", 5},
                      Dir0Case{0x2F, 0x00, "Cx586 (M1SC)", ", ID=2Fh, Rev=00h", 5},
                      Dir0Case{0x00, 0x00, "Cx486??", ", ID=00h, Rev=00h", 4},
                      Dir0Case{0x1B, 0x08, "Cx486DX2", ", ID=1Bh, Rev=08h", 4},
                      Dir0Case{0x13, 0x00, "Cx486S2e (B)", ", ID=13h, Rev=00h", 4},
                      Dir0Case{0x44, 0x00, "Cx86gx (MediaGX)", ", ID=44h, Rev=00h", 8},
                      Dir0Case{0x61, 0x00, "Cx786 (M3)", ", ID=61h, Rev=00h", 7},
                      Dir0Case{0x70, 0x00, "Cx868", ", ID=70h, Rev=00h", 8},
                      Dir0Case{0x8F, 0x00, "TIdx4", ", ID=8Fh, Rev=00h", 4},
                      Dir0Case{0xFD, 0x00, "Cx486SLC/DLC", ", ID=FDh, Rev=00h", 4},
                      Dir0Case{0xFE, 0x00, "Cx486S (A)", ", ID=FEh, Rev=00h", 4},
                      Dir0Case{0xFF, 0xAB, "Cx486SLC", "/DLC/S, ID=FFh, Rev=ABh", 4},
                      Dir0Case{0xC7, 0x00, "Cyrix C7", ", ID=C7h, Rev=00h", 4}));

// ---------------------------------------------------------------- CCR3/CCR4

TEST_F(CyrixTest, SwitchesCpuidOnForASecondIdentificationAndBack) {
  CyrixPart(0x31, 0x17, /*ccr3=*/0x01, /*ccr4=*/0x02);
  Cpu().CpuidMode = Mode::Cyrix;
  SetVendor("CyrixInstead", 1);
  SetSignature(0x0530, 0x00000001);  // cyrix-6x86-0530
  DivisionLeavesFlags(true);

  const TCpuInfo ci = Identify();

  EXPECT_EQ(CyrixWrites(),
            (std::vector<RegWrite>{{0xC3, 0x11}, {0xE8, 0x82}, {0xE8, 0x02}, {0xC3, 0x01}}));
  EXPECT_FALSE(w.cpu.CpuidWasEnabled);
  EXPECT_EQ(ci.Ccr4, 0x02);
  EXPECT_EQ(ci.Ccr5, 0x5A);
  // The second identification saw CPUID: vendor and signature from it.
  EXPECT_TRUE(ci.CpuidOk);
  EXPECT_TRUE(ci.Identified);
  EXPECT_EQ(ci.Vendor.view(), "CyrixInstead");
  EXPECT_EQ(ci.VendorCode, kVendorCyrix);
  EXPECT_EQ(ci.Family, 5);
  EXPECT_EQ(ci.Model, 3);
  // The name is the one from DIR0; the class code from the family name.
  EXPECT_EQ(ci.CpuName.view(), "Cx686 (M1)");
  EXPECT_EQ(ci.NameSuffix.view(), " 2:1, ID=31h, Rev=17h");
  EXPECT_EQ(ci.ClassCode, 38);
  // CPUID is off again, and CCR3 closed.
  EXPECT_EQ(CyrixReg(0xE8), 0x02);
  EXPECT_EQ(CyrixReg(0xC3), 0x01);
}

TEST_F(CyrixTest, CpuidAlreadyEnabledLeavesCcr4Alone) {
  CyrixPart(0x53, 0x08, /*ccr3=*/0x10, /*ccr4=*/0x83);
  Cpu().CpuidMode = Mode::Cyrix;
  SetVendor("CyrixInstead", 1);
  SetSignature(0x0600, 0x0080A135);  // cyrix-mii-0600

  const TCpuInfo ci = Identify();

  // CCR3 bit 4 is set and then cleared, whatever it held before.
  EXPECT_EQ(CyrixWrites(), (std::vector<RegWrite>{{0xC3, 0x10}, {0xC3, 0x00}}));
  EXPECT_TRUE(w.cpu.CpuidWasEnabled);
  EXPECT_EQ(ci.Ccr4, 0x83);
  EXPECT_EQ(ci.CpuName.view(), "Cx686MX (M2)");
  EXPECT_EQ(ci.NameSuffix.view(), " 3:1, ID=53h, Rev=08h");
  EXPECT_EQ(ci.ClassCode, 41);
  EXPECT_EQ(ci.Family, 6);
  // A part that answers CPUID as Cyrix is taken as one without the presence
  // test: its division changes the flags, and yet 21h stays untouched.
  for (const PortAccess& p : Ports()) EXPECT_NE(p.Port, kPortPicMask);
}

// An IBM-labelled part is of Cyrix design as well.
TEST_F(CyrixTest, IbmVendorIsTakenAsCyrixDesignWithoutTest) {
  CyrixPart(0x1F, 0x00);
  SetVendor("IBM Inside  ", 1);
  SetSignature(0x0480);
  DivisionLeavesFlags(false);
  Start();

  // The Cyrix methods run from IdentifyCpu only for vendor code 5; called
  // directly on an IBM record they skip the presence test, which would read
  // the interrupt mask first.
  IdentifyByCpuid(w.ForCpu());
  EXPECT_TRUE(IdentifyCyrix(w.ForCpu()));

  for (const PortAccess& p : Ports()) EXPECT_NE(p.Port, kPortPicMask);
  EXPECT_EQ(w.cpu.CpuInfo.CpuName.view(), "Cx486DX4");
  EXPECT_EQ(w.cpu.CpuInfo.VendorCode, kVendorIbm);
}

// DIR0 of FDh..FFh counts as 28h or more: the registers are handled and the
// CPUID identification runs a second time.
TEST_F(CyrixTest, OldPartsAboveThe28hLineGoThroughCcr4Too) {
  CyrixPart(0xFE, 0x00, 0x00, 0x00);
  Cpu().CpuidMode = Mode::Off;
  DivisionLeavesFlags(true);

  Identify();

  EXPECT_EQ(CyrixWrites(),
            (std::vector<RegWrite>{{0xC3, 0x10}, {0xE8, 0x80}, {0xE8, 0x00}, {0xC3, 0x00}}));
  EXPECT_EQ(CpuidLeaves(), (std::vector<std::uint32_t>{0, 0}));
}

TEST_F(CyrixTest, PartsBelow28hAreNotTouched) {
  CyrixPart(0x1B, 0x08);
  Cpu().CpuidMode = Mode::Off;
  DivisionLeavesFlags(true);

  Identify();

  EXPECT_TRUE(CyrixWrites().empty());
  EXPECT_EQ(CpuidLeaves(), (std::vector<std::uint32_t>{0}));
}

// ---------------------------------------------------------------- presence

struct CountCase {
  int Varied;  // registers of C0h..CFh holding neither 00h nor FFh
  bool Cyrix;
};

std::ostream& operator<<(std::ostream& os, const CountCase& c) {
  return os << c.Varied << " varied registers";
}

class RegisterCountTest : public CyrixTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(RegisterCountTest, MoreThanThreeVariedRegistersMakeACyrix) {
  for (int i = 0; i < 16; ++i) {
    const bool varied = i < GetParam().Varied;
    SetCyrixReg(0xC0 + i, varied ? static_cast<std::uint8_t>(0x20 + i) : (i % 2 ? 0xFF : 0x00));
  }
  DivisionLeavesFlags(false);
  Start();

  EXPECT_EQ(IsCyrix(w.ForCpu()), GetParam().Cyrix);
  EXPECT_EQ(PicMask(), kSimPicMask);
}

INSTANTIATE_TEST_SUITE_P(Counts, RegisterCountTest,
                         ::testing::Values(CountCase{0, false}, CountCase{3, false},
                                           CountCase{4, true}, CountCase{16, true}));

TEST_F(CyrixTest, ThreeVariedRegistersLeaveTheRecordAsCpuidLeftIt) {
  SetCyrixReg(0xC1, 0x12);
  SetCyrixReg(0xC5, 0x34);
  SetCyrixReg(0xCF, 0x56);
  SetCyrixReg(0xFE, 0x31);
  Cpu().CpuidMode = Mode::Off;
  DivisionLeavesFlags(false);

  const TCpuInfo ci = Identify();

  EXPECT_EQ(ci.CpuName.view(), "unbekannt");
  EXPECT_EQ(ci.Vendor.view(), "NONE");
  EXPECT_FALSE(ci.Identified);
  EXPECT_EQ(ci.Dir0, 0);
}

// Ports 22h/23h decoded as copies of the interrupt controller: port 23h shows
// the mask and follows it to FFh. Not a Cyrix, and the mask is put back.
TEST_F(CyrixTest, MirroredInterruptControllerIsNotACyrix) {
  profile.PicMirrored = true;
  DivisionLeavesFlags(false);
  for (std::uint8_t mask : {std::uint8_t{0xB8}, std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
    SCOPED_TRACE(int(mask));
    Start();
    SetPicMask(mask);

    EXPECT_FALSE(IsCyrix(w.ForCpu()));
    EXPECT_EQ(PicMask(), mask);
    const std::vector<PortAccess> ports = Ports();
    ASSERT_FALSE(ports.empty());
    const PortAccess& last = ports.back();
    EXPECT_TRUE(last.Out);
    EXPECT_EQ(last.Port, kPortPicMask);
    EXPECT_EQ(last.Value, mask);
  }
}

// A first read of 23h that happens to equal the mask, on a real Cyrix: the
// second read does not follow the mask, so the register count decides.
TEST_F(CyrixTest, CcrThatEqualsTheMaskByChanceStillCounts) {
  for (int i = 0xC0; i <= 0xCF; ++i) SetCyrixReg(i, static_cast<std::uint8_t>(i));
  DivisionLeavesFlags(false);
  Start();
  SetPicMask(0xC0);  // CCR0 holds C0h as well

  EXPECT_TRUE(IsCyrix(w.ForCpu()));
  EXPECT_EQ(PicMask(), 0xC0);
}

// The flags test asks the processor announced last: here only processor 3
// leaves the flags alone, and the ports decide on the others.
TEST_F(CyrixTest, DivisionFlagsDecideWithoutPortAccess) {
  profile.Processors.resize(3);
  profile.Processors[2].DivFlagsUnchanged = true;
  Start();

  for (std::uint32_t cpu : {3u, 1u}) {
    SCOPED_TRACE(cpu);
    DrvSetCpu(w.ForDriver(), cpu);
    dev->Requests.clear();
    EXPECT_EQ(IsCyrix(w.ForCpu()), cpu == 3);
    EXPECT_EQ(Ports().empty(), cpu == 3);
  }
}

// Without a machine (the Windows drivers) the flags test runs on the
// calling thread itself: this host's processor is no Cyrix, so the ports
// decide.
TEST_F(CyrixTest, NoMachineRunsTheFlagsTestHere) {
  for (int i = 0xC0; i <= 0xCF; ++i) SetCyrixReg(i, 0x42);
  DivisionLeavesFlags(true);
  Start();
  w.machine = nullptr;  // the driver stays open on the machine

  EXPECT_TRUE(IsCyrix(w.ForCpu()));
  EXPECT_EQ(w.cpu.Readings.DivisionLeavesFlags, std::optional<bool>(false));
  EXPECT_FALSE(Ports().empty());
}

TEST_F(CyrixTest, RegisterAccessIsIndexThenData) {
  SetCyrixReg(0xFE, 0x31);
  Start();

  EXPECT_EQ(ReadCyrixReg(w.ForCpu(), 0xFE), 0x31);
  WriteCyrixReg(w.ForCpu(), 0xC3, 0x10);

  const std::vector<PortAccess> ports = Ports();
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_TRUE(ports[0].Out);
  EXPECT_EQ(ports[0].Port, kPortCyrixIndex);
  EXPECT_EQ(ports[0].Value, 0xFE);
  EXPECT_FALSE(ports[1].Out);
  EXPECT_EQ(ports[1].Port, kPortCyrixData);
  EXPECT_TRUE(ports[2].Out);
  EXPECT_EQ(ports[2].Value, 0xC3);
  EXPECT_TRUE(ports[3].Out);
  EXPECT_EQ(ports[3].Port, kPortCyrixData);
  EXPECT_EQ(ports[3].Value, 0x10);
  EXPECT_EQ(CyrixReg(0xC3), 0x10);
}

// ---------------------------------------------------------------- robustness

// Every DIR0 and a spread of DIR1 values, with and without CPUID behind CCR4:
// identification ends, the texts stay within their capacities, and the
// configuration registers are left as found (CCR3 apart from bit 4).
TEST_F(CyrixTest, EveryDir0EndsWithTextsInCapacity) {
  for (int dir0 = 0; dir0 < 256; ++dir0) {
    for (std::uint8_t dir1 : {std::uint8_t{0x00}, std::uint8_t{0x1F}, std::uint8_t{0xFF}}) {
      SimCpu fresh;
      fresh.SetCyrixReg(0xFE, static_cast<std::uint8_t>(dir0));
      fresh.SetCyrixReg(0xFF, dir1);
      fresh.SetCyrixReg(0xE8, static_cast<std::uint8_t>(dir0 & 0x80));
      fresh.Cpu().CpuidMode = dir0 % 2 ? Mode::Cyrix : Mode::Off;
      fresh.Cpu().DivFlagsUnchanged = true;
      fresh.SetVendor("CyrixInstead", 1);
      fresh.SetSignature(static_cast<std::uint32_t>(dir0) << 4);

      const TCpuInfo ci = fresh.Identify();

      ASSERT_TRUE(ci.Identified) << dir0;
      EXPECT_FALSE(ci.CpuName.empty()) << dir0;
      EXPECT_LE(ci.CpuName.size(), 21u);
      EXPECT_LE(ci.NameSuffix.size(), 40u);
      EXPECT_EQ(ci.Dir0, dir0);
      EXPECT_EQ(fresh.CyrixReg(0xE8), dir0 & 0x80) << dir0;
      EXPECT_EQ(fresh.PicMask(), kSimPicMask);
    }
  }
}

// ---------------------------------------------------------------- one at a time

// One board under two programs: every request is carried out alone, and
// after each port access a pause lets the other program's requests come
// between. The port writes are recorded, and whether the program that made
// each write of FFh to the interrupt mask held its signals then.
class SharedBoard : public Machine {
 public:
  explicit SharedBoard(std::shared_ptr<Machine> m) : m_(std::move(m)) {}
  std::vector<PortAccess> Writes;
  const FakePlatform* Holder = nullptr;  // the one program whose holds are checked
  std::vector<bool> MaskRaisedHeld;
  std::function<void()> OnMaskRaised;  // called after each write of FFh to the mask

  std::string Name() const override { return m_->Name(); }
  std::string Description() const override { return m_->Description(); }
  int ProcessorCount() const override { return m_->ProcessorCount(); }
  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& a, std::uint32_t& b,
                      std::uint32_t& c, std::uint32_t& d) override {
    std::lock_guard<std::mutex> g(mu_);
    return m_->Cpuid(cpu, leaf, a, b, c, d);
  }
  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& v) override {
    std::lock_guard<std::mutex> g(mu_);
    return m_->ReadMsr(cpu, reg, v);
  }
  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t v) override {
    std::lock_guard<std::mutex> g(mu_);
    return m_->WriteMsr(cpu, reg, v);
  }
  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& v) override {
    std::uint32_t e;
    {
      std::lock_guard<std::mutex> g(mu_);
      e = m_->PortIn(port, v);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    return e;
  }
  std::uint32_t PortOut(std::uint16_t port, std::uint8_t v) override {
    std::uint32_t e;
    {
      std::lock_guard<std::mutex> g(mu_);
      Writes.push_back({true, port, v});
      if (port == kPortPicMask && v == 0xFF && Holder != nullptr) {
        MaskRaisedHeld.push_back(Holder->SignalsHeld);
      }
      e = m_->PortOut(port, v);
    }
    if (port == kPortPicMask && v == 0xFF && OnMaskRaised) OnMaskRaised();
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    return e;
  }
  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
    std::lock_guard<std::mutex> g(mu_);
    return m_->ClockCount(cpu, cycles);
  }
  bool DivisionLeavesFlags(int cpu) override {
    std::lock_guard<std::mutex> g(mu_);
    return m_->DivisionLeavesFlags(cpu);
  }
  bool BindsHostThreads() const override { return false; }
  std::string DescribeError(std::uint32_t e) const override { return m_->DescribeError(e); }
  std::uint8_t Mask() {
    std::lock_guard<std::mutex> g(mu_);
    std::uint8_t v = 0;
    m_->PortIn(kPortPicMask, v);
    return v;
  }

 private:
  std::shared_ptr<Machine> m_;
  std::mutex mu_;
};

// The analysis lock of two programs on one computer; an attempt waits for
// it a while, as the program waits between attempts.
class SharedLock : public RegisterLock {
 public:
  explicit SharedLock(std::shared_ptr<std::timed_mutex> m) : m_(std::move(m)) {}
  Attempt TryLock(std::string&) override {
    return m_->try_lock_for(std::chrono::seconds(20)) ? Attempt::Held : Attempt::Busy;
  }
  void Unlock() override { m_->unlock(); }

 private:
  std::shared_ptr<std::timed_mutex> m_;
};

// One program on the shared board, its driver opened as /SIM= opens it.
struct Program {
  FakePlatform platform;
  World w{platform};
  Program(const std::shared_ptr<Machine>& board, std::shared_ptr<RegisterLock> lock) {
    platform.Devices().Register("/dev/board",
                                std::make_shared<MachineDevice>(board, kLinuxDriverVersion));
    w.shell.OsKind = kOsLinux;
    EXPECT_TRUE(DrvOpen(w.ForDriver(), kOsLinux, "/dev/board"));
    w.machine = board;
    w.drv.Lock = std::move(lock);
    DrvSetCpu(w.ForDriver(), 1);
  }
};

std::shared_ptr<SharedBoard> Board(const char* name) {
  std::string error;
  auto m = MakeSimMachine(name, error);
  EXPECT_TRUE(m) << error;
  return std::make_shared<SharedBoard>(m);
}

// Two programs identify the processor on a board whose ports 22h and 23h
// mirror the interrupt controller, the second starting while the first has
// every interrupt masked. One at a time under the analysis lock, the second
// neither takes the raised mask for the one to put back nor, seeing the
// mask change under it, sends configuration register indexes (C1h..CFh) to
// the controller's command port: the mask ends as found, and 22h only ever
// gets the C0h of the board check.
TEST(CyrixOneAtATime, TwoIdentificationsOnAMirroringBoard) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    auto board = Board("pic-mirror");
    auto mutex = std::make_shared<std::timed_mutex>();
    Program a(board, std::make_shared<SharedLock>(mutex));
    Program b(board, std::make_shared<SharedLock>(mutex));
    std::promise<void> raised;
    std::once_flag once;
    board->OnMaskRaised = [&] { std::call_once(once, [&] { raised.set_value(); }); };
    std::future<void> raisedOnce = raised.get_future();
    TCpuInfo infoA, infoB;
    std::thread ta([&] { IdentifyCpu(a.w.ForCpu(), infoA); });
    std::thread tb([&] {
      raisedOnce.wait_for(std::chrono::seconds(10));
      IdentifyCpu(b.w.ForCpu(), infoB);
    });
    ta.join();
    tb.join();
    EXPECT_EQ(board->Mask(), kSimPicMask);
    for (const PortAccess& p : board->Writes) {
      if (p.Port == kPortCyrixIndex) {
        EXPECT_EQ(p.Value, 0xC0);
      }
    }
    EXPECT_TRUE(a.w.cpu.Readings.PicMirrored);
    EXPECT_TRUE(b.w.cpu.Readings.PicMirrored);
    EXPECT_EQ(infoA.CpuName.view(), infoB.CpuName.view());
  }
}

// A request to end the program (SIGTERM) that comes while every interrupt
// is masked waits until the mask is back, then ends the program with 143
// and one line that says so.
TEST(CyrixOneAtATime, SignalWhileTheMaskIsRaisedWaitsForItsRestore) {
  auto board = Board("pic-mirror");
  Program p(board, nullptr);
  board->Holder = &p.platform;
  p.platform.SignalDuringHold = {15, "SIGTERM"};
  std::uint32_t code = 0;
  ASSERT_TRUE(p.platform.RunBoundThread(
      0,
      [&] {
        TCpuInfo info;
        IdentifyCpu(p.w.ForCpu(), info);
        return 0u;
      },
      code));
  EXPECT_EQ(board->MaskRaisedHeld, (std::vector<bool>{true}));
  EXPECT_EQ(board->Mask(), kSimPicMask);
  EXPECT_EQ(p.w.hw.FatalCode, 143);
  ASSERT_FALSE(p.platform.ErrorLines.empty());
  EXPECT_EQ(p.platform.ErrorLines.back(),
            "torvacin: interrupted by SIGTERM while the interrupt mask or the Cyrix configuration "
            "registers were changed: they were put back as found first; ending with status 143");
}

// ---------------------------------------------------------------- journal

// The driver of a program killed in the middle of the identification: each
// request goes to the machine, and the one that `Kill` names (a port write,
// the configuration register index last sent to 22h with it) ends the thread
// right after it is carried out, as SIGKILL would, with nothing put back.
class KilledAfter : public Device {
 public:
  KilledAfter(std::shared_ptr<Device> behind, std::uint16_t port, std::uint8_t index,
              std::uint8_t value)
      : behind_(std::move(behind)), port_(port), index_(index), value_(value) {}
  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override {
    const DevResult r = behind_->Control(ioctlCode, in, attached, attachedLen, out, outLen);
    const RequestBlock req = DecodeRequest(in);
    if (req.Func == ReqPortOut) {
      const auto port = static_cast<std::uint16_t>(req.P1);
      const auto value = static_cast<std::uint8_t>(req.P2);
      if (port == kPortCyrixIndex) index_now_ = value;
      if (port == port_ && value == value_ && (port != kPortCyrixData || index_now_ == index_)) {
        EndCurrentThread();
      }
    }
    return r;
  }
  std::string DescribeError(std::uint32_t e) const override { return behind_->DescribeError(e); }

 private:
  std::shared_ptr<Device> behind_;
  std::uint16_t port_;
  std::uint8_t index_, value_;
  std::uint8_t index_now_ = 0;
};

struct KillCase {
  const char* Name;
  bool Mirrored;  // a board mirroring the interrupt controller, else a 6x86MX
  std::uint16_t Port;
  std::uint8_t Index, Value;  // the write after which the program is killed
  std::uint8_t LeftMask, LeftCcr3, LeftCcr4;
  const char* Told;
};

std::ostream& operator<<(std::ostream& os, const KillCase& c) {
  return os << c.Name;
}

class CyrixKilledTest : public CyrixTest, public ::testing::WithParamInterface<KillCase> {};

// A program killed while the interrupt mask or the configuration registers
// were changed leaves its journal; the next program's analysis session puts
// the values found back before anything is read, in the journal's order
// (CCR4 with MAPEN open, MAPEN closed last), says so, and its own
// identification then sees the machine as it was.
TEST_P(CyrixKilledTest, NextRunPutsBackWhatTheKilledOneFound) {
  const KillCase& c = GetParam();
  constexpr std::uint8_t kCcr3 = 0x01, kCcr4 = 0x00;
  if (c.Mirrored) {
    profile.PicMirrored = true;
    Cpu().CpuidMode = Mode::Off;
    DivisionLeavesFlags(false);
  } else {
    CyrixPart(0x55, 0x08, kCcr3, kCcr4);
    Cpu().CpuidMode = Mode::Cyrix;
    SetVendor("CyrixInstead", 1);
    DivisionLeavesFlags(true);
  }
  Start();
  auto lock = std::make_shared<std::timed_mutex>();
  w.drv.Lock = std::make_shared<SharedLock>(lock);
  w.drv.KeepsJournal = true;
  dev->Behind = std::make_shared<KilledAfter>(dev->Behind, c.Port, c.Index, c.Value);
  std::uint32_t code = 0;
  ASSERT_TRUE(platform.RunBoundThread(
      0,
      [&] {
        TCpuInfo info;
        IdentifyCpu(w.ForCpu(), info);
        return 0u;
      },
      code));
  EXPECT_EQ(PicMask(), c.LeftMask);
  if (!c.Mirrored) {
    EXPECT_EQ(CyrixReg(0xC3), c.LeftCcr3);
    EXPECT_EQ(CyrixReg(0xE8), c.LeftCcr4);
  }
  ASSERT_NE(platform.Journaled.Text, "");

  // The next program on the same machine.
  SimCpu next;
  next.machine = machine;
  next.dev = std::make_shared<RecordingDevice>();
  next.dev->Behind = std::make_shared<MachineDevice>(machine, kLinuxDriverVersion);
  next.platform.Devices().Register("/dev/sim", next.dev);
  next.w.shell.OsKind = kOsLinux;
  ASSERT_TRUE(DrvOpen(next.w.ForDriver(), kOsLinux, "/dev/sim"));
  next.w.machine = machine;
  DrvSetCpu(next.w.ForDriver(), 1);
  next.w.drv.Lock = std::make_shared<SharedLock>(lock);
  next.w.drv.KeepsJournal = true;
  next.platform.Journaled.Text = platform.Journaled.Text;
  next.dev->Requests.clear();
  { const RegisterSession session(next.w.ForDriver()); }

  EXPECT_EQ(next.PicMask(), kSimPicMask);
  if (!c.Mirrored) {
    EXPECT_EQ(next.CyrixReg(0xC3), kCcr3);
    EXPECT_EQ(next.CyrixReg(0xE8), kCcr4);
    // CCR3 as found first; then MAPEN open, CCR4, and CCR3 closing it last.
    std::vector<RegWrite> order = {{0xC3, kCcr3}};
    if (c.LeftCcr4 != kCcr4)
      order.insert(order.end(), {{0xC3, 0x11}, {0xE8, kCcr4}, {0xC3, kCcr3}});
    EXPECT_EQ(next.CyrixWrites(), order);
  }
  EXPECT_EQ(next.platform.Journaled.Text, "");
  EXPECT_EQ(next.platform.ErrorLines, std::vector<std::string>{c.Told});
  EXPECT_EQ(next.w.hw.JournalNote.rfind("Found in its journal: ", 0), 0u);

  const TCpuInfo ci = next.Identify();
  if (!c.Mirrored) {
    EXPECT_EQ(ci.Ccr4, kCcr4);
    EXPECT_FALSE(next.w.cpu.CpuidWasEnabled);
  }
  EXPECT_EQ(next.PicMask(), kSimPicMask);
  EXPECT_EQ(next.platform.Journaled.Text, "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CyrixKilledTest,
    ::testing::Values(
        KillCase{"AfterTheMaskIsRaised", true, kPortPicMask, 0, 0xFF, 0xFF, 0, 0,
                 "torvacin: found in its journal: an earlier analysis of processor 1 ended in the "
                 "middle of its changes of the interrupt mask; its 1 port write that puts back "
                 "what it had found was made before this analysis"},
        KillCase{"AfterMapenIsSet", false, kPortCyrixData, 0xC3, 0x11, kSimPicMask, 0x11, 0x00,
                 "torvacin: found in its journal: an earlier analysis of processor 1 ended in the "
                 "middle of its changes of the Cyrix configuration registers; its 2 port writes "
                 "that put back what it had found were made before this analysis"},
        KillCase{"AfterCpuidIsSwitchedOn", false, kPortCyrixData, 0xE8, 0x80, kSimPicMask, 0x11,
                 0x80,
                 "torvacin: found in its journal: an earlier analysis of processor 1 ended in the "
                 "middle of its changes of the Cyrix configuration registers; its 8 port writes "
                 "that put back what it had found were made before this analysis"}),
    [](const ::testing::TestParamInfo<KillCase>& i) { return std::string(i.param.Name); });

// An identification that ends leaves no journal.
TEST_F(CyrixTest, FinishedIdentificationLeavesNoJournal) {
  CyrixPart(0x55, 0x08);
  Cpu().CpuidMode = Mode::Cyrix;
  DivisionLeavesFlags(true);
  Start();
  w.drv.KeepsJournal = true;
  Identify();
  EXPECT_EQ(platform.Journaled.Saves, 2);  // CCR3, then CCR4 with it
  EXPECT_EQ(platform.Journaled.Text, "");
  EXPECT_EQ(CyrixReg(0xE8), 0x00);
}

}  // namespace
}  // namespace torv::test
