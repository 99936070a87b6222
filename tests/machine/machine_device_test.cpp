#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/machine.h"

namespace torv {
namespace {

// A machine that logs every register access and can be told to keep the
// cache controller busy or to refuse one register.
class LogMachine : public Machine {
 public:
  std::vector<std::string> Log;
  int BusyReads = 0;                      // reads of BBL_CR_BUSY that show bit 0 set
  std::uint32_t FailingReg = 0xFFFFFFFF;  // this register faults
  std::uint64_t Ctl = 0xAAAA5555FFFFFFFFull;
  int Processors = 2;
  int LastCpu = 0;

  std::string Name() const override { return "log"; }
  std::string Description() const override { return "log"; }
  int ProcessorCount() const override { return Processors; }
  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& a, std::uint32_t& b,
                      std::uint32_t& c, std::uint32_t& d) override {
    LastCpu = cpu;
    a = leaf;
    b = 1;
    c = 2;
    d = 3;
    return 0;
  }
  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& v) override {
    LastCpu = cpu;
    Log.push_back(std::string("R").append(std::to_string(reg)));
    if (reg == FailingReg) return kErrRegisterFault;
    if (reg == kMsrBblBusy) {
      v = BusyReads > 0 ? 1 : 0;
      if (BusyReads > 0 && BusyReads < 1000) --BusyReads;
    } else if (reg == kMsrBblCtl) {
      v = Ctl;
    } else if (reg == kMsrBblAddr) {
      v = 0x0000000500200000ull;
    } else {
      v = 0;
    }
    return 0;
  }
  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t v) override {
    LastCpu = cpu;
    char buf[48];
    std::snprintf(buf, sizeof buf, "W%u=%016llX", reg, static_cast<unsigned long long>(v));
    Log.push_back(buf);
    return reg == FailingReg ? kErrRegisterFault : 0;
  }
  std::uint32_t PortIn(std::uint16_t, std::uint8_t& v) override {
    v = 0x42;
    return 0;
  }
  std::uint32_t PortOut(std::uint16_t, std::uint8_t) override { return 0; }
  std::uint32_t ClockCount(int cpu, std::uint32_t& c) override {
    LastCpu = cpu;
    c = 1000;
    return 0;
  }
  bool DivisionLeavesFlags(int) override { return false; }
  bool BindsHostThreads() const override { return false; }
  std::string DescribeError(std::uint32_t e) const override {
    return e == kErrRegisterFault ? "no such register" : "";
  }
};

struct DeviceFixture : ::testing::Test {
  std::shared_ptr<LogMachine> m = std::make_shared<LogMachine>();
  MachineDevice dev{m, 0x0103};
  std::uint8_t reply[16] = {};

  DevResult Send(std::uint32_t func, std::uint32_t p1 = 0, std::uint32_t p2 = 0,
                 std::uint32_t p3 = 0, std::uint32_t outLen = 16, const void* att = nullptr,
                 std::size_t attLen = 0, std::uint32_t code = kDrvIoctlCode) {
    std::uint8_t in[16];
    EncodeRequest(RequestBlock{func, p1, p2, p3}, in);
    std::memset(reply, 0xEE, sizeof reply);
    return dev.Control(code, in, att, attLen, reply, outLen);
  }
  std::uint32_t Word(int i) const {
    std::uint32_t v;
    std::memcpy(&v, reply + 4 * i, 4);
    return v;
  }
  DevResult Transaction(std::uint32_t command, std::uint32_t way) {
    const std::uint32_t block[4] = {0x40, 0x1, 0x7A766B20, 0x9};
    return Send(ReqL2Transaction, command, way, 0, 8, block, sizeof block);
  }
};

TEST_F(DeviceFixture, IdentityVersionAndSignature) {
  EXPECT_TRUE(Send(ReqIdentify, 0, 0, 0, 12).Ok);
  EXPECT_EQ(Word(0) >> 16, 0x1234u);
  EXPECT_TRUE(Send(ReqVersion, 0, 0, 0, 8).Ok);
  EXPECT_EQ(Word(0), 0x0103u);
  EXPECT_EQ(Word(1), 0u);
  EXPECT_TRUE(Send(ReqSignature, kDrvSignature, 0, 0, 0).Ok);
  EXPECT_EQ(Send(ReqSignature, 0x12345678, 0, 0, 0).LastError, kErrInvalidParameter);
}

TEST_F(DeviceFixture, RefusesWhatADriverWouldRefuse) {
  struct Case {
    const char* What;
    DevResult Got;
    std::uint32_t Error;
  };
  const Case cases[] = {
      {"other control code", Send(ReqIdentify, 0, 0, 0, 12, nullptr, 0, 0x9C402000),
       kErrInvalidFunction},
      {"unknown function", Send(55), kErrInvalidFunction},
      {"short reply area", Send(ReqMsrRead, 0x2A, 0, 0, 4), kErrBadLength},
      {"short CPUID reply", Send(ReqCpuid, 0, 0, 0, 12), kErrBadLength},
      {"port above FFFFh", Send(ReqPortIn, 0x10000, 0, 0, 1), kErrInvalidParameter},
      {"byte above FFh", Send(ReqPortOut, 0x21, 0x100, 0, 0), kErrInvalidParameter},
      {"command above 1Fh", Transaction(0x20, 0), kErrInvalidParameter},
      {"way above 3", Transaction(2, 4), kErrInvalidParameter},
      {"no block", Send(ReqL2Transaction, 2, 0, 0, 8), kErrInvalidParameter},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(c.Got.Ok) << c.What;
    EXPECT_EQ(c.Got.LastError, c.Error) << c.What;
  }
}

TEST_F(DeviceFixture, AnnouncedProcessorCarriesTheRequests) {
  EXPECT_TRUE(Send(ReqSetCpu, 2, 0, 0, 0).Ok);
  EXPECT_EQ(dev.CurrentCpu(), 2);
  ASSERT_TRUE(Send(ReqCpuid, 0x80000000u).Ok);
  EXPECT_EQ(m->LastCpu, 2);
  EXPECT_EQ(Word(0), 0x80000000u);
  EXPECT_EQ(Word(1), 1u);
  EXPECT_EQ(Word(2), 2u);
  EXPECT_EQ(Word(3), 3u);
  ASSERT_TRUE(Send(ReqClockCount, 0, 0, 0, 8).Ok);
  EXPECT_EQ(Word(0), 1000u);

  // A processor the machine does not have: the announcement and every
  // processor-bound request after it fail with the unreachable-processor
  // error; the ports are the machine's and still answer.
  for (std::uint32_t bad : {3u, 0u, 0xFFFFFFFFu}) {
    EXPECT_EQ(Send(ReqSetCpu, bad, 0, 0, 0).LastError, kErrCpuUnreachable) << bad;
    EXPECT_EQ(Send(ReqCpuid, 0).LastError, kErrCpuUnreachable);
    EXPECT_EQ(Send(ReqMsrRead, 0x2A, 0, 0, 8).LastError, kErrCpuUnreachable);
    EXPECT_EQ(Send(ReqMsrWrite, 0x2A, 0, 0, 0).LastError, kErrCpuUnreachable);
    EXPECT_EQ(Send(ReqClockCount, 0, 0, 0, 8).LastError, kErrCpuUnreachable);
    EXPECT_EQ(Transaction(2, 0).LastError, kErrCpuUnreachable);
    EXPECT_TRUE(Send(ReqPortIn, 0x21, 0, 0, 1).Ok);
  }
  EXPECT_NE(dev.DescribeError(kErrCpuUnreachable).find("processor"), std::string::npos);
  EXPECT_TRUE(Send(ReqSetCpu, 1, 0, 0, 0).Ok);
  EXPECT_TRUE(Send(ReqCpuid, 0).Ok);
}

TEST_F(DeviceFixture, MsrWriteJoinsTheHalves) {
  ASSERT_TRUE(Send(ReqMsrWrite, 0x11E, 0x00304527, 0x00000001, 0).Ok);
  EXPECT_EQ(m->Log.back(), "W286=0000000100304527");
}

TEST_F(DeviceFixture, CacheTransactionIsTheRegisterSequence) {
  m->BusyReads = 2;
  const DevResult r = Transaction(0x1C, 2);
  ASSERT_TRUE(r.Ok);
  const std::vector<std::string> want = {
      "W278=0000000100000040",  // BBL_CR_ADDR
      "W136=000000097A766B20",  // BBL_CR_D0..D3
      "W137=000000097A766B20",
      "W138=000000097A766B20",
      "W139=000000097A766B20",
      "R281",  // BBL_CR_CTL, bits 0-4 and 8-9 replaced
      "W281=AAAA5555FFFFFEFC",
      "W282=0000000000000000",  // BBL_CR_TRIG
      "R283",
      "R283",
      "R283",  // BBL_CR_BUSY until bit 0 clears
      "R278",  // BBL_CR_ADDR
  };
  EXPECT_EQ(m->Log, want);
  EXPECT_EQ(Word(0), 0x00200000u);
}

TEST_F(DeviceFixture, BusyThatNeverClearsFailsAfter273Reads) {
  m->BusyReads = 1000;  // never clears
  const DevResult r = Transaction(0x0E, 0);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.LastError, kErrL2Busy);
  int busyReads = 0;
  for (const auto& s : m->Log) busyReads += s == "R283";
  EXPECT_EQ(busyReads, 273);
  EXPECT_NE(dev.DescribeError(kErrL2Busy).find("busy"), std::string::npos);

  // Cleared at the 273rd read: still done.
  m->Log.clear();
  m->BusyReads = 272;
  EXPECT_TRUE(Transaction(0x0E, 0).Ok);
}

TEST_F(DeviceFixture, AFailingRegisterFailsTheTransactionAtOnce) {
  for (std::uint32_t reg : {kMsrBblAddr, kMsrBblD0 + 2, kMsrBblCtl, kMsrBblTrig, kMsrBblBusy}) {
    m->Log.clear();
    m->FailingReg = reg;
    const DevResult r = Transaction(2, 0);
    EXPECT_FALSE(r.Ok) << reg;
    EXPECT_EQ(r.LastError, kErrRegisterFault) << reg;
    ASSERT_FALSE(m->Log.empty());
    EXPECT_NE(m->Log.back().find(std::to_string(reg)), std::string::npos)
        << "the sequence stops at the failing register " << reg;
  }
  EXPECT_EQ(dev.DescribeError(kErrRegisterFault), "no such register");
}

}  // namespace
}  // namespace torv
