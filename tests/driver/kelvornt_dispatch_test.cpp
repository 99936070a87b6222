// KELVORNT.SYS's request handling (dispatch.c, the same C the kernel driver
// compiles) run over simulated machines: the protocol compared byte for byte
// with the program's own device, and every request outside the program's own
// sequences refused with no register, port or clock operation carried out.
// The program's whole analysis and identification through the driver are
// tested with the analysis (tests/p2) and the identification (tests/cpu);
// the Wine cases load the real driver and try what Wine can carry out.
#include "driver/kelvornt/dispatch.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/sim.h"
#include "support/kelvornt_device.h"

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

namespace torv {
namespace {

using test::SimOps;

std::shared_ptr<Machine> Sim(const std::string& name) {
  std::string error;
  auto m = MakeSimMachine(name, error);
  EXPECT_TRUE(m) << name << ": " << error;
  return m;
}

// A one-processor machine that answers CPUID leaves 0 and 1 as given and has
// the P6 register file, so that a register request carried out would work:
// only the driver can refuse it.
std::shared_ptr<Machine> Processor(const char (&vendor)[13], std::uint32_t signature,
                                   std::uint32_t features) {
  SimProfile p;
  p.Name = vendor;
  p.Processors.resize(1);
  std::uint32_t w[3];
  std::memcpy(w, vendor, 12);
  // EBX, ECX, EDX: bytes 0-3, 8-11 and 4-7 of the text.
  p.Processors[0].Cpuid[0] = {2, w[0], w[2], w[1]};
  p.Processors[0].Cpuid[1] = {signature, 0, 0, features};
  p.Processors[0].ClockHz = 1'000'000'000;
  return MakeSimMachine(p);
}

constexpr std::uint32_t kFeatures = 0x0183FBFFu;  // TSC and MSR among them

struct Req {
  const char* Name;
  std::uint32_t Func, P1 = 0, P2 = 0, P3 = 0;
  std::uint32_t OutLen = 16;
  std::array<std::uint32_t, 4> Block = {};  // the cache transaction block
  bool Attach = false;
  std::uint32_t Ioctl = kDrvIoctlCode;
};

// A cache transaction: command, way, address, data (both halves).
Req Cache(const char* name, std::uint32_t command, std::uint32_t way, std::uint32_t address,
          std::uint32_t data = 0, std::uint32_t addressHigh = 0) {
  return {name, ReqL2Transaction, command, way, 0, 8, {address, addressHigh, data, data}, true};
}

struct Answer {
  bool Ok = false;
  std::uint32_t LastError = 0;
  std::array<std::uint8_t, 16> Reply{};
};

Answer ViaDevice(MachineDevice& dev, const Req& r) {
  std::uint8_t in[16];
  EncodeRequest({r.Func, r.P1, r.P2, r.P3}, in);
  std::uint8_t block[16];
  for (int i = 0; i < 4; ++i) PutWord(block + 4 * i, r.Block[static_cast<std::size_t>(i)]);
  Answer a;
  a.Reply.fill(0xCC);
  const DevResult res = dev.Control(r.Ioctl, in, r.Attach ? block : nullptr, r.Attach ? 16 : 0,
                                    a.Reply.data(), r.OutLen);
  a.Ok = res.Ok;
  a.LastError = res.Ok ? 0 : res.LastError;
  return a;
}

Answer ViaDriver(SimOps& ops, KvHandle& h, const Req& r, std::uint32_t* replyLen = nullptr,
                 std::uint32_t version = 0x0103) {
  std::uint8_t in[32];
  EncodeRequest({r.Func, r.P1, r.P2, r.P3}, reinterpret_cast<std::uint8_t(&)[16]>(in));
  for (int i = 0; i < 4; ++i) PutWord(in + 16 + 4 * i, r.Block[static_cast<std::size_t>(i)]);
  Answer a;
  a.Reply.fill(0xCC);
  std::uint32_t len = 0;
  a.LastError = KvDispatch(&ops.Ops, &h, version, r.Ioctl, in, r.Attach ? 32 : 16,
                           a.Reply.data(), r.OutLen, &len);
  a.Ok = a.LastError == 0;
  EXPECT_EQ(ops.Bound, 0) << r.Name << ": the thread stays bound";
  if (replyLen != nullptr) *replyLen = len;
  return a;
}

// A fresh handle, as an open of the device gives.
struct Handle {
  std::unique_ptr<KvHandle> H = std::make_unique<KvHandle>();
  Handle() { KvHandleInit(H.get()); }
  KvHandle& operator*() { return *H; }
};

// The protocol: every function, bad reply lengths, unknown functions and
// processors, in one sequence on each P6 machine, answered as the program's
// own device answers.
const std::vector<Req>& Sequence() {
  static const std::vector<Req> seq = {
      {"identify", ReqIdentify, 0, 0, 0, 12},
      {"identify, reply area 11 bytes", ReqIdentify, 0, 0, 0, 11},
      {"version", ReqVersion, 0, 0, 0, 8},
      {"version, reply area 4 bytes", ReqVersion, 0, 0, 0, 4},
      {"signature", ReqSignature, kDrvSignature, 0, 0, 0},
      {"wrong signature", ReqSignature, kDrvSignature + 1, 0, 0, 0},
      {"unknown function 0", 0},
      {"unknown function 55", 55},
      {"another control code", ReqIdentify, 0, 0, 0, 12, {}, false, kDrvIoctlCode + 4},
      {"CPUID 0", ReqCpuid, 0},
      {"CPUID 1", ReqCpuid, 1},
      {"CPUID 2", ReqCpuid, 2},
      {"CPUID 80000000h", ReqCpuid, 0x80000000u},
      {"CPUID, reply area 15 bytes", ReqCpuid, 1, 0, 0, 15},
      {"EBL_CR_POWERON", ReqMsrRead, 0x2A},
      {"MTRRcap", ReqMsrRead, 0xFE},
      {"first MTRR base", ReqMsrRead, 0x200},
      {"last MTRR mask", ReqMsrRead, 0x20F},
      {"register 1E0h", ReqMsrRead, 0x1E0},
      {"RDMSR, reply area 7 bytes", ReqMsrRead, 0x2A, 0, 0, 7},
      {"clock count", ReqClockCount, 0},
      {"clock count, reply area 4 bytes", ReqClockCount, 0, 0, 0, 4},
      Cache("cache transaction, command 20h", 0x20, 0, 0x60),
      Cache("cache transaction, way 4", 2, 4, 0x60),
      {"cache transaction without its block", ReqL2Transaction, 2, 0, 0, 8},
      {"cache transaction, reply area 7 bytes", ReqL2Transaction, 2, 0, 0, 7, {0x60}, true},
      {"port 10021h", ReqPortIn, 0x10021, 0, 0, 1},
      {"write port 21h a word", ReqPortOut, 0x21, 0x100, 0, 0},
      {"processor 2", ReqSetCpu, 2, 0, 0, 0},
      {"CPUID 1 there", ReqCpuid, 1},
      {"EBL_CR_POWERON there", ReqMsrRead, 0x2A},
      {"processor 3", ReqSetCpu, 3, 0, 0, 0},
      {"CPUID on processor 3", ReqCpuid, 1},
      {"RDMSR on processor 3", ReqMsrRead, 0x2A},
      {"WRMSR on processor 3", ReqMsrWrite, 0x118, 0x51786A77, 0, 0},
      {"clock count on processor 3", ReqClockCount, 0},
      Cache("cache transaction on processor 3", 2, 0, 0x60),
      {"processor 0", ReqSetCpu, 0, 0, 0, 0},
      {"CPUID on processor 0", ReqCpuid, 0},
      {"processor 80000001h", ReqSetCpu, 0x80000001u, 0, 0, 0},
      {"CPUID on processor 80000001h", ReqCpuid, 0},
      {"processor 1", ReqSetCpu, 1, 0, 0, 0},
      {"CPUID 1 on processor 1", ReqCpuid, 1},
  };
  return seq;
}

class SameAnswers : public testing::TestWithParam<const char*> {};

TEST_P(SameAnswers, AsTheProgramsDevice) {
  MachineDevice dev(Sim(GetParam()), 0x0103);
  SimOps ops(Sim(GetParam()));
  Handle h;
  for (const Req& r : Sequence()) {
    const Answer want = ViaDevice(dev, r);
    const Answer got = ViaDriver(ops, *h, r);
    EXPECT_EQ(got.Ok, want.Ok) << r.Name;
    EXPECT_EQ(got.LastError, want.LastError) << r.Name;
    EXPECT_EQ(got.Reply, want.Reply) << r.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Kelvornt, SameAnswers,
                         testing::Values("p2-450", "p2-300-noecc", "celeron-266", "p2-dual",
                                         "ppro", "katmai"));

// Reply lengths the I/O manager copies back, and the version word of the
// older build.
TEST(KelvorntDispatch, ReplyLengthsAndVersion) {
  const struct {
    const char* Machine;
    Req R;
    std::uint32_t Len;
  } cases[] = {
      {"p2-450", {"identify", ReqIdentify, 0, 0, 0, 16}, 12},
      {"p2-450", {"version", ReqVersion, 0, 0, 0, 16}, 8},
      {"p2-450", {"CPUID", ReqCpuid, 0}, 16},
      {"p2-450", {"RDMSR", ReqMsrRead, 0xFE}, 8},
      {"p2-450", {"clock count", ReqClockCount, 0}, 8},
      {"p2-450", Cache("cache transaction", 2, 0, 0x60), 8},
      {"p2-450", {"WRMSR", ReqMsrWrite, 0x118, 0x51786A77, 0}, 0},
      {"p2-450", {"signature", ReqSignature, kDrvSignature}, 0},
      {"p2-450", {"processor 1", ReqSetCpu, 1}, 0},
      {"p2-450", {"unknown function", 99}, 0},
      {"p2-450", {"refused register", ReqMsrRead, 0x10}, 0},
      {"cx486", {"port in", ReqPortIn, 0x21}, 1},
      {"cx486", {"port out", ReqPortOut, 0x21, 0xB8}, 0},
  };
  for (const auto& c : cases) {
    SimOps ops(Sim(c.Machine));
    Handle h;
    std::uint32_t len = 77;
    ViaDriver(ops, *h, c.R, &len);
    EXPECT_EQ(len, c.Len) << c.R.Name;
  }
  SimOps ops(Sim("p2-450"));
  Handle h;
  std::uint32_t len = 0;
  const Answer old = ViaDriver(ops, *h, {"version", ReqVersion, 0, 0, 0, 8}, &len, 0x0102);
  ASSERT_TRUE(old.Ok);
  EXPECT_EQ(GetWord(old.Reply.data()), 0x0102u);
  EXPECT_EQ(GetWord(old.Reply.data() + 4), 0u);
}

// Every request outside the program's own sequences is refused before it
// reaches the hardware: no register, port or clock operation is carried
// out, and the reply area is left alone. Each case first sends what the
// program sends before such a request (a register is read before it is put
// back, the interrupt mask before it is restored).
TEST(KelvorntDispatch, RefusesEveryRequestOutsideTheAnalysis) {
  struct Case {
    const char* Machine;
    std::vector<Req> Before;  // served, in this order
    Req Refused;
    std::uint32_t Error = kErrAccessDenied;
  };
  const Req read11E = {"read BBL_CR_CTL3", ReqMsrRead, 0x11E};
  const Req read119 = {"read BBL_CR_CTL", ReqMsrRead, 0x119};
  const Req read116 = {"read BBL_CR_ADDR", ReqMsrRead, 0x116};
  const Req readMask = {"read the interrupt mask", ReqPortIn, 0x21, 0, 0, 1};
  const Req selectCcr0 = {"select CCR0", ReqPortOut, 0x22, 0xC0};
  const Req selectCcr3 = {"select CCR3", ReqPortOut, 0x22, 0xC3};
  const Req readData = {"read port 23h", ReqPortIn, 0x23, 0, 0, 1};
  const std::vector<Case> cases = {
      // Registers the analysis does not read or write.
      {"p2-450", {}, {"read the time-stamp counter", ReqMsrRead, 0x10}},
      {"p2-450", {}, {"read the APIC base", ReqMsrRead, 0x1B}},
      {"p2-450", {}, {"read BBL_CR_D3 + 1", ReqMsrRead, 0x8C}},
      {"p2-450", {}, {"read MTRR pair 8", ReqMsrRead, 0x210}},
      {"p2-450", {}, {"read BBL_CR_BUSY", ReqMsrRead, 0x11B}},
      {"p2-450", {{"read it", ReqMsrRead, 0x200}}, {"write MTRR base 0", ReqMsrWrite, 0x200, 6}},
      {"p2-450", {}, {"write MTRR mask 7", ReqMsrWrite, 0x20F, 0xFFFFF800, 0xF}},
      {"p2-450", {}, {"write MTRRdefType", ReqMsrWrite, 0x2FF, 0xC06, 0}},
      {"p2-450", {{"read it", ReqMsrRead, 0xFE}}, {"write MTRRcap as read", ReqMsrWrite, 0xFE, 0x508, 0}},
      {"p2-450", {}, {"write BBL_CR_BUSY", ReqMsrWrite, 0x11B, 0, 0}},
      {"p2-450", {}, {"write EBL_CR_POWERON", ReqMsrWrite, 0x2A, 0, 0}},
      {"p2-450", {}, {"write register 1E0h", ReqMsrWrite, 0x1E0, 4, 0}},
      {"p2-450", {}, {"write BBL_CR_TRIG", ReqMsrWrite, 0x11A, 0, 0}},
      {"p2-450", {}, {"write the APIC base", ReqMsrWrite, 0x1B, 0, 0}},
      // Cache controller writes off the analysis's forms.
      {"p2-450", {read11E}, {"BBL_CR_CTL3 = 0", ReqMsrWrite, 0x11E, 0, 0}},
      {"p2-450", {}, {"BBL_CR_CTL3 as found, never read", ReqMsrWrite, 0x11E, 0x4C501, 0}},
      {"p2-450", {read11E}, {"BBL_CR_CTL3 with reserved bit 30", ReqMsrWrite, 0x11E, 0x4004C501, 0}},
      {"p2-450", {read119}, {"BBL_CR_CTL with a command", ReqMsrWrite, 0x119, 0x1F, 0}},
      {"p2-450", {}, {"BBL_CR_DECC another pattern", ReqMsrWrite, 0x118, 0x12345678, 0}},
      {"p2-450", {}, {"BBL_CR_DECC pattern, high half set", ReqMsrWrite, 0x118, 0x51786A77, 1}},
      {"p2-450", {read116}, {"BBL_CR_ADDR = 100000h", ReqMsrWrite, 0x116, 0x100000, 0}},
      {"p2-450", {}, {"BBL_CR_D0 with data", ReqMsrWrite, 0x88, 0x12345678, 0}},
      // Cache transactions the analysis does not send.
      {"p2-450", {}, Cache("command 1Fh: a modified line at 100000h", 0x1F, 0, 0x100000, 0x90909090)},
      {"p2-450", {}, Cache("command 1Fh at address 0", 0x1F, 0, 0, 0x7A766B20)},
      {"p2-450", {}, Cache("command 03h: a configuration write", 0x03, 0, 0x60)},
      {"p2-450", {}, Cache("way 3", 2, 3, 0x60)},
      {"p2-450", {}, Cache("configuration register 9", 2, 0, 9 * 32)},
      {"p2-450", {}, Cache("configuration read off the register grid", 2, 0, 0x61)},
      {"p2-450", {}, Cache("configuration read, address high half", 2, 0, 0x60, 0, 1)},
      {"p2-450", {}, Cache("line write at 100000h", 0x1C, 0, 0x100000, 0x7A766B20)},
      {"p2-450", {}, Cache("line write with other data", 0x1C, 0, 0, 0x90909090)},
      {"p2-450", {}, Cache("line read at 20h", 0x0E, 0, 0x20)},
      // The Pentium Pro has no cache controller registers.
      {"ppro", {}, {"read BBL_CR_CTL3", ReqMsrRead, 0x11E}},
      {"ppro", {}, {"write BBL_CR_DECC", ReqMsrWrite, 0x118, 0x51786A77, 0}},
      {"ppro", {}, Cache("configuration read", 2, 0, 0x60)},
      // Processors outside the set, whatever their register file.
      {"skylake", {}, {"read EBL_CR_POWERON on a Core i5", ReqMsrRead, 0x2A}},
      {"core2", {}, {"read EBL_CR_POWERON on a Core 2", ReqMsrRead, 0x2A}},
      {"core2", {}, {"write BBL_CR_DECC on a Core 2", ReqMsrWrite, 0x118, 0x51786A77, 0}},
      {"core2", {}, Cache("configuration read on a Core 2", 2, 0, 0x60)},
      {"pentium-m", {}, {"read BBL_CR_CTL3 on a Pentium M", ReqMsrRead, 0x11E}},
      {"athlon", {}, {"read EBL_CR_POWERON on an Athlon", ReqMsrRead, 0x2A}},
      {"athlon", {}, {"write BBL_CR_DECC on an Athlon", ReqMsrWrite, 0x118, 0x51786A77, 0}},
      {"athlon", {}, Cache("configuration read on an Athlon", 2, 0, 0x60)},
      {"k6", {}, {"read EBL_CR_POWERON on a K6", ReqMsrRead, 0x2A}},
      {"6x86mx", {}, {"read EBL_CR_POWERON on a 6x86MX", ReqMsrRead, 0x2A}},
      {"i486dx2", {}, {"read EBL_CR_POWERON on an i486", ReqMsrRead, 0x2A}, kErrRegisterFault},
      {"cx486", {}, {"write BBL_CR_DECC without CPUID", ReqMsrWrite, 0x118, 0x51786A77, 0},
       kErrRegisterFault},
      // Ports: not on a processor that identifies itself by CPUID.
      {"p2-450", {}, readMask},
      {"p2-450", {}, {"write port 21h", ReqPortOut, 0x21, 0xB8}},
      {"athlon", {}, selectCcr3},
      // Ports the identification does not use.
      {"cx486", {}, {"read port 20h", ReqPortIn, 0x20, 0, 0, 1}},
      {"cx486", {}, {"read port 24h", ReqPortIn, 0x24, 0, 0, 1}},
      {"cx486", {}, {"read port 80h", ReqPortIn, 0x80, 0, 0, 1}},
      {"cx486", {}, {"read port 22h", ReqPortIn, 0x22, 0, 0, 1}},
      {"cx486", {}, {"write port 70h", ReqPortOut, 0x70, 0x8F}},
      {"cx486", {}, {"write port 0CF9h", ReqPortOut, 0xCF9, 6}},
      // The interrupt mask: only put back, or masked by the mirror check.
      {"6x86mx", {}, {"mask every interrupt", ReqPortOut, 0x21, 0xFF}},
      {"6x86mx", {readMask}, {"mask every interrupt after reading it", ReqPortOut, 0x21, 0xFF}},
      {"6x86mx", {readMask}, {"unmask every interrupt", ReqPortOut, 0x21, 0x00}},
      {"cx486", {readMask, selectCcr0, readData}, {"mask when 23h is not the mask", ReqPortOut, 0x21, 0xFF}},
      {"pic-mirror", {readMask, selectCcr0, readData, readMask},
       {"mask after another request", ReqPortOut, 0x21, 0xFF}},
      // Configuration registers: indexes read, one access per index, writes
      // of CCR3 and CCR4 only as the identification forms them.
      {"6x86mx", {}, {"select index 20h", ReqPortOut, 0x22, 0x20}},
      {"6x86mx", {}, readData},
      {"6x86mx", {selectCcr3, readData}, {"port 23h again without an index", ReqPortIn, 0x23, 0, 0, 1}},
      {"6x86mx", {selectCcr0}, {"write CCR0", ReqPortOut, 0x23, 0x02}},
      {"6x86mx", {selectCcr3}, {"write CCR3 never read", ReqPortOut, 0x23, 0x10}},
      {"6x86mx", {selectCcr3, readData, selectCcr3}, {"write CCR3 = FFh", ReqPortOut, 0x23, 0xFF}},
      {"6x86mx", {{"select CCR4", ReqPortOut, 0x22, 0xE8}, readData, {"select CCR4", ReqPortOut, 0x22, 0xE8}},
       {"write CCR4 with bit 0 cleared", ReqPortOut, 0x23, 0x80}},
      // Without CPUID, no register index but C0h before the mirror check...
      {"cx486", {}, {"select DIR0 first", ReqPortOut, 0x22, 0xFE}},
      // ...and none once it found a mirror of the interrupt controller.
      {"pic-mirror",
       {readMask, selectCcr0, readData, {"mask for the check", ReqPortOut, 0x21, 0xFF}, selectCcr0,
        readData, {"put the mask back", ReqPortOut, 0x21, 0xB8}},
       {"select CCR1 on a mirror", ReqPortOut, 0x22, 0xC1}},
  };
  for (const Case& c : cases) {
    std::shared_ptr<Machine> m;
    if (std::string(c.Machine) == "core2") {
      m = Processor("GenuineIntel", 0x6F6, kFeatures);
    } else if (std::string(c.Machine) == "pentium-m") {
      m = Processor("GenuineIntel", 0x695, kFeatures);
    } else if (std::string(c.Machine) == "athlon") {
      m = Processor("AuthenticAMD", 0x642, kFeatures);
    } else {
      m = Sim(c.Machine);
    }
    SimOps ops(m);
    Handle h;
    for (const Req& r : c.Before) {
      ASSERT_TRUE(ViaDriver(ops, *h, r).Ok) << c.Refused.Name << ": " << r.Name;
    }
    const int calls = ops.HardwareCalls;
    const Answer a = ViaDriver(ops, *h, c.Refused);
    EXPECT_EQ(a.LastError, c.Error) << c.Machine << ": " << c.Refused.Name;
    EXPECT_EQ(a.Reply[0], 0xCC) << c.Refused.Name;
    EXPECT_EQ(ops.HardwareCalls, calls) << c.Refused.Name << ": reached the hardware";
  }
}

// Port requests act on the announced processor like every other: an
// unknown one refuses them.
TEST(KelvorntDispatch, PortsOnAnUnknownProcessor) {
  SimOps ops(Sim("cx486"));
  Handle h;
  EXPECT_EQ(ViaDriver(ops, *h, {"processor 2", ReqSetCpu, 2, 0, 0, 0}).LastError,
            kErrCpuUnreachable);
  EXPECT_EQ(ViaDriver(ops, *h, {"port 21h", ReqPortIn, 0x21, 0, 0, 1}).LastError,
            kErrCpuUnreachable);
  EXPECT_EQ(ops.HardwareCalls, 0);
}

// A register is put back only as it was found on the same processor (the
// first value the handle read there): a value that processor 1 gave is no
// form on processor 2, and a value read after a change is none either.
TEST(KelvorntDispatch, ValuesFoundAreKeptPerProcessor) {
  SimOps ops(Sim("p2-dual"));
  Handle h;
  const Answer before = ViaDriver(ops, *h, {"read BBL_CR_ADDR", ReqMsrRead, 0x116});
  ASSERT_TRUE(ViaDriver(ops, *h, Cache("configuration register 2", 2, 0, 0x40)).Ok);
  const Answer after = ViaDriver(ops, *h, {"read BBL_CR_ADDR again", ReqMsrRead, 0x116});
  ASSERT_TRUE(before.Ok && after.Ok);
  const std::uint32_t found = GetWord(before.Reply.data());
  const std::uint32_t changed = GetWord(after.Reply.data());
  ASSERT_NE(found, changed);
  ASSERT_TRUE(ViaDriver(ops, *h, {"processor 2", ReqSetCpu, 2, 0, 0, 0}).Ok);
  EXPECT_EQ(ViaDriver(ops, *h, {"processor 1's value", ReqMsrWrite, 0x116, changed, 0}).LastError,
            kErrAccessDenied);
  ASSERT_TRUE(ViaDriver(ops, *h, {"processor 1", ReqSetCpu, 1, 0, 0, 0}).Ok);
  EXPECT_EQ(ViaDriver(ops, *h, {"as read last", ReqMsrWrite, 0x116, changed, 0}).LastError,
            kErrAccessDenied);
  EXPECT_TRUE(ViaDriver(ops, *h, {"put back as found", ReqMsrWrite, 0x116, found, 0}).Ok);
  std::uint64_t now = 0;
  ASSERT_EQ(ops.M->ReadMsr(1, 0x116, now), 0u);
  EXPECT_EQ(now, found);
}

// The kept cache controller registers of every processor, as the machine
// holds them.
std::vector<std::uint64_t> KeptRegisters(Machine& m) {
  std::vector<std::uint64_t> out;
  for (int cpu = 1; cpu <= m.ProcessorCount(); ++cpu) {
    for (std::uint32_t reg : {0x88u, 0x89u, 0x8Au, 0x8Bu, 0x116u, 0x118u, 0x119u, 0x11Eu}) {
      std::uint64_t v = 0;
      out.push_back(m.ReadMsr(cpu, reg, v) == 0 ? v : ~std::uint64_t{0});
    }
  }
  return out;
}

std::uint64_t RegisterOf(Machine& m, std::uint32_t reg, int cpu = 1) {
  std::uint64_t v = 0;
  EXPECT_EQ(m.ReadMsr(cpu, reg, v), 0u);
  return v;
}

// BBL_CR_CTL3 in the ECC test's form (cache off, ECC off, bits 14 and 18),
// from the value found.
Req Ctl3TestForm(std::uint64_t found) {
  const auto lo = static_cast<std::uint32_t>(found);
  return {"BBL_CR_CTL3 in the ECC test's form", ReqMsrWrite, 0x11E,
          (lo & 0xFF88061Eu) | 0x00044000u, static_cast<std::uint32_t>(found >> 32)};
}

// Whatever changes a handle was allowed to make, its close puts the cache
// controller back as found: the program's own ECC test stopped anywhere
// ("End process" and a crash close the handle too), a caller that changes
// registers it never read, a processor other than the announced one.
TEST(KelvorntDispatch, CloseAfterAllowedChangesPutsTheControllerBack) {
  struct Case {
    const char* Name;
    const char* On;  // the machine
    std::vector<Req> (*Steps)(Machine& m);
  };
  const Case cases[] = {
      {"read BBL_CR_CTL3, write the ECC test's form, close", "p2-450",
       [](Machine& m) {
         return std::vector<Req>{{"read BBL_CR_CTL3", ReqMsrRead, 0x11E},
                                 Ctl3TestForm(RegisterOf(m, 0x11E))};
       }},
      {"End process during the ECC test, after the line was read back", "p2-450",
       [](Machine& m) {
         const std::uint64_t ctl = RegisterOf(m, 0x119);
         std::vector<Req> v;
         for (std::uint32_t reg : {0x116u, 0x88u, 0x89u, 0x8Au, 0x8Bu, 0x118u, 0x119u, 0x11Eu}) {
           v.push_back({"read a register to put back", ReqMsrRead, reg});
         }
         v.push_back(Ctl3TestForm(RegisterOf(m, 0x11E)));
         v.push_back(Cache("configuration register 0", 2, 0, 0));
         v.push_back({"BBL_CR_CTL with bit 18", ReqMsrWrite, 0x119,
                      static_cast<std::uint32_t>(ctl) | 0x40000u,
                      static_cast<std::uint32_t>(ctl >> 32)});
         v.push_back({"BBL_CR_DECC pattern", ReqMsrWrite, 0x118, 0x51786A77u, 0});
         v.push_back(Cache("the line written", 0x1C, 0, 0, 0x7A766B20u));
         v.push_back(Cache("the line read back", 0x0E, 0, 0));
         return v;
       }},
      {"the ECC pattern and a line write, nothing read first", "p2-450",
       [](Machine&) {
         return std::vector<Req>{{"BBL_CR_DECC pattern", ReqMsrWrite, 0x118, 0x51786A77u, 0},
                                 Cache("the line written", 0x1C, 0, 0, 0x7A766B20u)};
       }},
      {"changes on processor 2, processor 1 announced at the end", "p2-dual",
       [](Machine& m) {
         return std::vector<Req>{{"processor 2", ReqSetCpu, 2, 0, 0, 0},
                                 {"read BBL_CR_CTL3", ReqMsrRead, 0x11E},
                                 Ctl3TestForm(RegisterOf(m, 0x11E, 2)),
                                 Cache("configuration register 3", 2, 0, 3 * 32),
                                 {"processor 1", ReqSetCpu, 1, 0, 0, 0}};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SimOps ops(Sim(c.On));
    const std::vector<std::uint64_t> found = KeptRegisters(*ops.M);
    Handle h;
    for (const Req& r : c.Steps(*ops.M)) ASSERT_TRUE(ViaDriver(ops, *h, r).Ok) << r.Name;
    ASSERT_NE(KeptRegisters(*ops.M), found) << "the steps changed nothing";
    KvHandleClose(&ops.Ops, &*h);
    EXPECT_EQ(KeptRegisters(*ops.M), found);
    EXPECT_EQ(ops.Bound, 0) << "the closing thread stays bound";
    // A second close (the file object's after its cleanup) has nothing left.
    const int calls = ops.HardwareCalls;
    KvHandleClose(&ops.Ops, &*h);
    EXPECT_EQ(ops.HardwareCalls, calls);
  }
}

// The ECC pass is the one change meant to last until the next boot: the
// value it writes is the one found from then on, which a later ECC test in
// the same handle puts back and the close leaves.
TEST(KelvorntDispatch, EccPassOutlastsTheClose) {
  SimOps ops(Sim("p2-450"));
  Handle h;
  ASSERT_TRUE(ViaDriver(ops, *h, {"read BBL_CR_CTL3", ReqMsrRead, 0x11E}).Ok);
  const std::uint64_t found = RegisterOf(*ops.M, 0x11E);
  ASSERT_NE(found & 0x20u, 0u) << "ECC checking on in this machine";
  const auto off = static_cast<std::uint32_t>(found) & ~0x20u;
  ASSERT_TRUE(ViaDriver(ops, *h, {"ECC pass: off", ReqMsrWrite, 0x11E, off, 0}).Ok);
  // The next analysis: the ECC test from the passed value, its restore, and
  // the ECC test again, stopped by the close.
  ASSERT_TRUE(ViaDriver(ops, *h, {"read BBL_CR_CTL3", ReqMsrRead, 0x11E}).Ok);
  ASSERT_TRUE(ViaDriver(ops, *h, Ctl3TestForm(off)).Ok);
  EXPECT_TRUE(ViaDriver(ops, *h, {"put back as passed", ReqMsrWrite, 0x11E, off, 0}).Ok);
  ASSERT_TRUE(ViaDriver(ops, *h, Ctl3TestForm(off)).Ok);
  KvHandleClose(&ops.Ops, &*h);
  EXPECT_EQ(RegisterOf(*ops.M, 0x11E), std::uint64_t{off});
}

// The Cyrix registers: CPUID switched on through CCR3/CCR4 and left so, with
// MAPEN still set or already cleared, goes back at close; the program's own
// closing of MAPEN stays.
TEST(KelvorntDispatch, CloseAfterCyrixChangesPutsThemBack) {
  const Req selectCcr3 = {"select CCR3", ReqPortOut, 0x22, 0xC3};
  const Req selectCcr4 = {"select CCR4", ReqPortOut, 0x22, 0xE8};
  const Req readData = {"read port 23h", ReqPortIn, 0x23, 0, 0, 1};
  const Req openMapen = {"CCR3 with MAPEN", ReqPortOut, 0x23, 0x10};
  const Req closeMapen = {"CCR3 as read", ReqPortOut, 0x23, 0x00};
  const Req cpuidOn = {"CCR4 with CPUID", ReqPortOut, 0x23, 0x81};
  const struct {
    const char* Name;
    std::vector<Req> Steps;
  } cases[] = {
      {"MAPEN left set", {selectCcr3, readData, selectCcr3, openMapen}},
      {"CPUID left on, MAPEN set",
       {selectCcr3, readData, selectCcr3, openMapen, selectCcr4, readData, selectCcr4, cpuidOn}},
      {"CPUID left on, MAPEN cleared",
       {selectCcr3, readData, selectCcr3, openMapen, selectCcr4, readData, selectCcr4, cpuidOn,
        selectCcr3, closeMapen}},
      {"stopped between the index and the data",
       {selectCcr3, readData, selectCcr3, openMapen, selectCcr4, readData, selectCcr4, cpuidOn,
        selectCcr3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto m = Sim("6x86");  // CPUID off: CCR3 00h, CCR4 01h
    SimOps ops(m);
    Handle h;
    // Without CPUID the mirror check comes first: 23h at C0h is not the mask.
    const Req check[] = {{"read the mask", ReqPortIn, 0x21, 0, 0, 1},
                         {"select CCR0", ReqPortOut, 0x22, 0xC0},
                         readData};
    for (const Req& r : check) ASSERT_TRUE(ViaDriver(ops, *h, r).Ok) << r.Name;
    for (const Req& r : c.Steps) ASSERT_TRUE(ViaDriver(ops, *h, r).Ok) << r.Name;
    KvHandleClose(&ops.Ops, &*h);
    std::uint8_t ccr3 = 0xEE;
    m->PortOut(0x22, 0xC3);
    m->PortIn(0x23, ccr3);
    EXPECT_EQ(ccr3, 0x00);
    std::uint32_t r[4];
    EXPECT_EQ(m->Cpuid(1, 0, r[0], r[1], r[2], r[3]), kErrNoCpuid) << "CPUID stays on";
    EXPECT_EQ(ops.Bound, 0);
  }
}

// The board mirror check masks every interrupt for a moment; a caller that
// stops there leaves nothing masked: the handle's end puts back the mask
// found before, even when the raised one was read since.
TEST(KelvorntDispatch, MaskRaisedByTheMirrorCheckGoesBackAtClose) {
  auto m = Sim("pic-mirror");
  SimOps ops(m);
  Handle h;
  const Req steps[] = {
      {"read the mask", ReqPortIn, 0x21, 0, 0, 1},
      {"select CCR0", ReqPortOut, 0x22, 0xC0},
      {"23h shows the mask", ReqPortIn, 0x23, 0, 0, 1},
      {"mask every interrupt", ReqPortOut, 0x21, 0xFF},
      {"read the raised mask", ReqPortIn, 0x21, 0, 0, 1},
  };
  for (const Req& r : steps) ASSERT_TRUE(ViaDriver(ops, *h, r).Ok) << r.Name;
  std::uint8_t mask = 0;
  m->PortIn(0x21, mask);
  EXPECT_EQ(mask, 0xFF);
  KvHandleClose(&ops.Ops, &*h);
  m->PortIn(0x21, mask);
  EXPECT_EQ(mask, kSimPicMask);
}

// Without the feature flag the register and clock requests fail cleanly
// instead of executing RDMSR/RDTSC, which would fault on such a processor.
TEST(KelvorntDispatch, ProcessorsWithoutRegistersOrTimeStampCounter) {
  for (const char* name : {"i486dx2", "cx486", "pic-mirror"}) {
    SimOps ops(Sim(name));
    Handle h;
    EXPECT_EQ(ViaDriver(ops, *h, {"RDMSR", ReqMsrRead, 0x2A}).LastError, kErrRegisterFault)
        << name;
    EXPECT_EQ(ViaDriver(ops, *h, {"WRMSR", ReqMsrWrite, 0x118, 0x51786A77, 0, 0}).LastError,
              kErrRegisterFault)
        << name;
    EXPECT_EQ(ViaDriver(ops, *h, Cache("cache", 2, 0, 0x60)).LastError, kErrRegisterFault)
        << name;
    EXPECT_EQ(ViaDriver(ops, *h, {"clock", ReqClockCount, 0}).LastError, kErrInvalidFunction)
        << name;
    EXPECT_EQ(ops.HardwareCalls, 0) << name;
  }
}

// Each open handle keeps its own processor, as the file object does.
TEST(KelvorntDispatch, ProcessorPerHandle) {
  SimOps ops(Sim("p2-dual"));
  Handle a, b;
  ASSERT_TRUE(ViaDriver(ops, *a, {"processor 2", ReqSetCpu, 2, 0, 0, 0}).Ok);
  const Answer onA = ViaDriver(ops, *a, {"CPUID 1", ReqCpuid, 1});
  const Answer onB = ViaDriver(ops, *b, {"CPUID 1", ReqCpuid, 1});
  ASSERT_TRUE(onA.Ok && onB.Ok);
  EXPECT_NE(GetWord(onA.Reply.data()), GetWord(onB.Reply.data()));  // steppings 2 and 1
  EXPECT_EQ((*a).cpu, 2);
  EXPECT_EQ((*b).cpu, 1);
  EXPECT_EQ(ViaDriver(ops, *b, {"processor 9", ReqSetCpu, 9, 0, 0, 0}).LastError,
            kErrCpuUnreachable);
  EXPECT_TRUE(ViaDriver(ops, *a, {"CPUID 1", ReqCpuid, 1}).Ok);
}

// A request block shorter than 16 bytes is refused without being read.
TEST(KelvorntDispatch, ShortRequestBlock) {
  SimOps ops(Sim("p2-450"));
  Handle h;
  std::uint8_t in[16] = {ReqIdentify};
  std::uint8_t out[16] = {};
  std::uint32_t len = 5;
  for (std::uint32_t inLen : {0u, 4u, 15u}) {
    EXPECT_EQ(KvDispatch(&ops.Ops, &*h, 0x0103, kDrvIoctlCode, in, inLen, out, 16, &len),
              kErrBadLength);
    EXPECT_EQ(len, 0u);
  }
  EXPECT_EQ(KvDispatch(&ops.Ops, &*h, 0x0103, kDrvIoctlCode, nullptr, 16, out, 16, &len),
            kErrBadLength);
}

// The NTSTATUS each last-error value travels as; DeviceIoControl's
// translation (RtlNtStatusToDosError) turns it back into the value.
TEST(KelvorntDispatch, StatusForEachLastError) {
  const struct {
    std::uint32_t LastError, Status;
  } cases[] = {
      {0, 0},
      {kErrInvalidFunction, 0xC0000010u},   // STATUS_INVALID_DEVICE_REQUEST
      {kErrAccessDenied, 0xC0000022u},      // STATUS_ACCESS_DENIED
      {kErrBadLength, 0xC0000004u},         // STATUS_INFO_LENGTH_MISMATCH
      {kErrInvalidParameter, 0xC000000Du},  // STATUS_INVALID_PARAMETER
      {kErrL2Busy, 0xC00705B4u},            // the Win32 code in facility 7
      {kErrNoCpuid, 0xC000001Du},
      {kErrCpuUnreachable, 0xC0000026u},
      {kErrRegisterFault, 0xC0000096u},
  };
  for (const auto& c : cases) EXPECT_EQ(KvNtStatus(c.LastError), c.Status) << c.LastError;
}

TEST(KelvorntDispatch, ScalesCyclesToOneTick) {
  const struct {
    std::uint64_t Cycles, Elapsed, Target;
    std::uint32_t Want;
  } cases[] = {
      {24716895, 549254, 549254, 24716895},       // exactly one tick
      {24761895, 550254, 549254, 24716894},       // read 1000 units late
      {150000000, 170000000, 169000000, 149117647},  // performance counter at 3.1 GHz
      {1, 0, 5, 0},                               // nothing elapsed
      {UINT64_C(1) << 40, 1, 2, 0},               // does not fit 32 bits
  };
  for (const auto& c : cases) {
    EXPECT_EQ(KvScaleCycles(c.Cycles, c.Elapsed, c.Target), c.Want) << c.Cycles;
  }
}

#ifdef _WIN32
// The descriptor every open is checked against, as the system reads it:
// owner Administrators, group SYSTEM, full access for SYSTEM and
// Administrators and for nobody else.
TEST(KelvorntDispatch, OpenDescriptorAdmitsOnlyAdministratorsAndSystem) {
  std::uint8_t sd[KV_OPEN_DESCRIPTOR_SIZE + 8] = {};
  EXPECT_EQ(KvOpenDescriptor(sd, KV_OPEN_DESCRIPTOR_SIZE - 1), 0u);
  ASSERT_EQ(KvOpenDescriptor(sd, sizeof sd), KV_OPEN_DESCRIPTOR_SIZE);
  ASSERT_TRUE(IsValidSecurityDescriptor(sd));
  EXPECT_EQ(GetSecurityDescriptorLength(sd), KV_OPEN_DESCRIPTOR_SIZE);
  LPSTR text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
      sd, SDDL_REVISION_1,
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr));
  EXPECT_STREQ(text, "O:BAG:SYD:(A;;FA;;;SY)(A;;FA;;;BA)");
  LocalFree(text);
}
#endif

}  // namespace
}  // namespace torv
