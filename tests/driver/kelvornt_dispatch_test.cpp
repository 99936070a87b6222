// KELVORNT.SYS's request handling (dispatch.c, the same C the kernel driver
// compiles) run over a simulated machine and compared byte for byte with the
// program's own device on the same machine. This is where the requests that
// Wine cannot carry out in its kernel-driver host are exercised: the
// model-specific registers, the ports and the cache transaction; the Wine
// cases only load the real driver and try identity, version, CPUID, the
// processor selection and the clock count.
#include "driver/kelvornt/dispatch.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "machine/machine.h"

namespace torv {
namespace {

// The driver's operation table backed by a Machine, counting what reaches it.
struct SimOps {
  std::shared_ptr<Machine> M;
  int Bound = 0;  // processor of the current bind, 0 outside
  int Binds = 0;
  int HardwareCalls = 0;
  KvOps Ops{};

  explicit SimOps(std::shared_ptr<Machine> m) : M(std::move(m)) {
    Ops.ctx = this;
    Ops.processor_count = [](void* c) { return Self(c).M->ProcessorCount(); };
    Ops.bind = [](void* c, int cpu) -> std::uint32_t {
      Self(c).Bound = cpu;
      ++Self(c).Binds;
      return 0;
    };
    Ops.unbind = [](void* c) { Self(c).Bound = 0; };
    Ops.cpuid = [](void* c, std::uint32_t leaf, std::uint32_t regs[4]) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "CPUID outside a bind";
      return s.M->Cpuid(s.Bound, leaf, regs[0], regs[1], regs[2], regs[3]);
    };
    Ops.rdmsr = [](void* c, std::uint32_t reg, std::uint64_t* v) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "RDMSR outside a bind";
      ++s.HardwareCalls;
      return s.M->ReadMsr(s.Bound, reg, *v);
    };
    Ops.wrmsr = [](void* c, std::uint32_t reg, std::uint64_t v) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "WRMSR outside a bind";
      ++s.HardwareCalls;
      return s.M->WriteMsr(s.Bound, reg, v);
    };
    Ops.port_in = [](void* c, std::uint16_t port, std::uint8_t* v) {
      ++Self(c).HardwareCalls;
      return Self(c).M->PortIn(port, *v);
    };
    Ops.port_out = [](void* c, std::uint16_t port, std::uint8_t v) {
      ++Self(c).HardwareCalls;
      return Self(c).M->PortOut(port, v);
    };
    Ops.clock_count = [](void* c, std::uint32_t* cycles) {
      SimOps& s = Self(c);
      EXPECT_NE(s.Bound, 0) << "clock count outside a bind";
      ++s.HardwareCalls;
      return s.M->ClockCount(s.Bound, *cycles);
    };
  }
  static SimOps& Self(void* c) { return *static_cast<SimOps*>(c); }
};

std::shared_ptr<Machine> Sim(const std::string& name) {
  std::string error;
  auto m = MakeSimMachine(name, error);
  EXPECT_TRUE(m) << name << ": " << error;
  return m;
}

struct Req {
  const char* Name;
  std::uint32_t Func, P1 = 0, P2 = 0, P3 = 0;
  std::uint32_t OutLen = 16;
  bool Attach = false;  // the 16-byte cache transaction block follows
  std::uint32_t Ioctl = kDrvIoctlCode;
};

struct Answer {
  bool Ok = false;
  std::uint32_t LastError = 0;
  std::array<std::uint8_t, 16> Reply{};
};

// A cache transaction block: address 3 * 32 (a configuration read), data 0.
constexpr std::array<std::uint8_t, 16> kBlock = {0x60, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Answer ViaDevice(MachineDevice& dev, const Req& r) {
  std::uint8_t in[16];
  EncodeRequest({r.Func, r.P1, r.P2, r.P3}, in);
  Answer a;
  a.Reply.fill(0xCC);
  const DevResult res = dev.Control(r.Ioctl, in, r.Attach ? kBlock.data() : nullptr,
                                    r.Attach ? kBlock.size() : 0, a.Reply.data(), r.OutLen);
  a.Ok = res.Ok;
  a.LastError = res.Ok ? 0 : res.LastError;
  return a;
}

Answer ViaDriver(SimOps& ops, KvHandle& h, const Req& r, std::uint32_t* replyLen = nullptr,
                 std::uint32_t version = 0x0103) {
  std::uint8_t in[32];
  EncodeRequest({r.Func, r.P1, r.P2, r.P3}, reinterpret_cast<std::uint8_t(&)[16]>(in));
  std::memcpy(in + 16, kBlock.data(), 16);
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

// Every function, bad reply lengths, unknown functions and processors, in one
// sequence whose writes change the machine for the requests after them.
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
      {"another control code", ReqIdentify, 0, 0, 0, 12, false, kDrvIoctlCode + 4},
      {"CPUID 0", ReqCpuid, 0},
      {"CPUID 1", ReqCpuid, 1},
      {"CPUID 2", ReqCpuid, 2},
      {"CPUID 80000000h", ReqCpuid, 0x80000000u},
      {"CPUID, reply area 15 bytes", ReqCpuid, 1, 0, 0, 15},
      {"EBL_CR_POWERON", ReqMsrRead, 0x2A},
      {"MTRRcap", ReqMsrRead, 0xFE},
      {"first MTRR base", ReqMsrRead, 0x200},
      {"last MTRR mask", ReqMsrRead, 0x20F},
      {"BBL_CR_CTL3", ReqMsrRead, 0x11E},
      {"register 1E0h", ReqMsrRead, 0x1E0},
      {"RDMSR, reply area 7 bytes", ReqMsrRead, 0x2A, 0, 0, 7},
      {"write BBL_CR_DECC", ReqMsrWrite, 0x118, 0x12345678, 0, 0},
      {"read BBL_CR_DECC back", ReqMsrRead, 0x118},
      {"clock count", ReqClockCount, 0},
      {"clock count, reply area 4 bytes", ReqClockCount, 0, 0, 0, 4},
      {"cache configuration read", ReqL2Transaction, 2, 0, 0, 8, true},
      {"cache transaction, command 20h", ReqL2Transaction, 0x20, 0, 0, 8, true},
      {"cache transaction, way 4", ReqL2Transaction, 2, 4, 0, 8, true},
      {"cache transaction without its block", ReqL2Transaction, 2, 0, 0, 8, false},
      {"cache transaction, reply area 7 bytes", ReqL2Transaction, 2, 0, 0, 7, true},
      {"port 21h", ReqPortIn, 0x21, 0, 0, 1},
      {"port 21h, no reply area", ReqPortIn, 0x21, 0, 0, 0},
      {"write port 21h", ReqPortOut, 0x21, 0xB8, 0, 0},
      {"port 21h again", ReqPortIn, 0x21, 0, 0, 1},
      {"port 10021h", ReqPortIn, 0x10021, 0, 0, 1},
      {"write port 21h a word", ReqPortOut, 0x21, 0x100, 0, 0},
      {"processor 2", ReqSetCpu, 2, 0, 0, 0},
      {"CPUID 1 there", ReqCpuid, 1},
      {"EBL_CR_POWERON there", ReqMsrRead, 0x2A},
      {"processor 3", ReqSetCpu, 3, 0, 0, 0},
      {"CPUID on processor 3", ReqCpuid, 1},
      {"RDMSR on processor 3", ReqMsrRead, 0x2A},
      {"WRMSR on processor 3", ReqMsrWrite, 0x118, 1, 0, 0},
      {"clock count on processor 3", ReqClockCount, 0},
      {"cache transaction on processor 3", ReqL2Transaction, 2, 0, 0, 8, true},
      {"port 21h on processor 3", ReqPortIn, 0x21, 0, 0, 1},
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
  KvHandle h;
  KvHandleInit(&h);
  for (const Req& r : Sequence()) {
    const Answer want = ViaDevice(dev, r);
    const Answer got = ViaDriver(ops, h, r);
    EXPECT_EQ(got.Ok, want.Ok) << r.Name;
    EXPECT_EQ(got.LastError, want.LastError) << r.Name;
    EXPECT_EQ(got.Reply, want.Reply) << r.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Kelvornt, SameAnswers,
                         testing::Values("p2-450", "p2-300-noecc", "celeron-266", "p2-dual",
                                         "ppro", "katmai"));

// The ports on boards and processors that decode 22h/23h: a Cyrix
// configuration register bank, and a board mirroring the interrupt
// controller there.
TEST(KelvorntDispatch, PortsAsTheProgramsDevice) {
  const Req seq[] = {
      {"port 23h", ReqPortIn, 0x23, 0, 0, 1},
      {"select CCR3", ReqPortOut, 0x22, 0xC3, 0, 0},
      {"read CCR3", ReqPortIn, 0x23, 0, 0, 1},
      {"select CCR3 again", ReqPortOut, 0x22, 0xC3, 0, 0},
      {"write CCR3", ReqPortOut, 0x23, 0x10, 0, 0},
      {"select CCR3 once more", ReqPortOut, 0x22, 0xC3, 0, 0},
      {"read CCR3 back", ReqPortIn, 0x23, 0, 0, 1},
      {"port 22h", ReqPortIn, 0x22, 0, 0, 1},
      {"write port 23h", ReqPortOut, 0x23, 0x5A, 0, 0},
      {"port 21h", ReqPortIn, 0x21, 0, 0, 1},
  };
  for (const char* name : {"6x86mx", "cx486", "pic-mirror", "p2-450"}) {
    MachineDevice dev(Sim(name), 0x0103);
    SimOps ops(Sim(name));
    KvHandle h;
    KvHandleInit(&h);
    for (const Req& r : seq) {
      const Answer want = ViaDevice(dev, r);
      const Answer got = ViaDriver(ops, h, r);
      EXPECT_EQ(got.LastError, want.LastError) << name << ": " << r.Name;
      EXPECT_EQ(got.Reply, want.Reply) << name << ": " << r.Name;
    }
  }
}

// Reply lengths the I/O manager copies back, and the version word of the
// older build.
TEST(KelvorntDispatch, ReplyLengthsAndVersion) {
  SimOps ops(Sim("p2-450"));
  KvHandle h;
  KvHandleInit(&h);
  const struct {
    Req R;
    std::uint32_t Len;
  } cases[] = {
      {{"identify", ReqIdentify, 0, 0, 0, 16}, 12},
      {{"version", ReqVersion, 0, 0, 0, 16}, 8},
      {{"CPUID", ReqCpuid, 0}, 16},
      {{"RDMSR", ReqMsrRead, 0xFE}, 8},
      {{"clock count", ReqClockCount, 0}, 8},
      {{"cache transaction", ReqL2Transaction, 2, 0, 0, 16, true}, 8},
      {{"port in", ReqPortIn, 0x21}, 1},
      {{"port out", ReqPortOut, 0x21, 0xFF}, 0},
      {{"WRMSR", ReqMsrWrite, 0x118, 0, 0}, 0},
      {{"signature", ReqSignature, kDrvSignature}, 0},
      {{"processor 1", ReqSetCpu, 1}, 0},
      {{"unknown function", 99}, 0},
  };
  for (const auto& c : cases) {
    std::uint32_t len = 77;
    ViaDriver(ops, h, c.R, &len);
    EXPECT_EQ(len, c.Len) << c.R.Name;
  }
  std::uint32_t len = 0;
  const Answer old = ViaDriver(ops, h, {"version", ReqVersion, 0, 0, 0, 8}, &len, 0x0102);
  ASSERT_TRUE(old.Ok);
  EXPECT_EQ(GetWord(old.Reply.data()), 0x0102u);
  EXPECT_EQ(GetWord(old.Reply.data() + 4), 0u);
}

// The driver refuses registers and ports the program does not use, before
// any instruction reaches the hardware: in the kernel a register the
// processor lacks is a fault nothing catches.
TEST(KelvorntDispatch, RefusesRegistersAndPortsOutsideItsList) {
  const Req cases[] = {
      {"time-stamp counter", ReqMsrRead, 0x10},
      {"APIC base", ReqMsrRead, 0x1B},
      {"BBL_CR_D3 + 1", ReqMsrRead, 0x8C},
      {"MTRR pair 8", ReqMsrRead, 0x210},
      {"write the APIC base", ReqMsrWrite, 0x1B, 0, 0, 0},
      {"write MTRRdefType", ReqMsrWrite, 0x2FF, 0, 0, 0},
      {"port 20h", ReqPortIn, 0x20, 0, 0, 1},
      {"port 24h", ReqPortIn, 0x24, 0, 0, 1},
      {"port 80h", ReqPortIn, 0x80, 0, 0, 1},
      {"write port 70h", ReqPortOut, 0x70, 0x8F, 0, 0},
      {"write port 0CF9h", ReqPortOut, 0xCF9, 6, 0, 0},
  };
  SimOps ops(Sim("p2-450"));
  KvHandle h;
  KvHandleInit(&h);
  for (const Req& r : cases) {
    const Answer a = ViaDriver(ops, h, r);
    EXPECT_EQ(a.LastError, kErrAccessDenied) << r.Name;
    EXPECT_EQ(a.Reply[0], 0xCC) << r.Name;
  }
  EXPECT_EQ(ops.HardwareCalls, 0);
  for (std::uint32_t reg : {0x2Au, 0x88u, 0x8Bu, 0xFEu, 0x116u, 0x118u, 0x119u, 0x11Au, 0x11Bu,
                            0x11Eu, 0x1E0u, 0x200u, 0x20Fu}) {
    EXPECT_TRUE(KvMsrAllowed(reg)) << std::hex << reg;
  }
}

// Without the feature flag the register and clock requests fail cleanly
// instead of executing RDMSR/RDTSC, which would fault on such a processor.
TEST(KelvorntDispatch, ProcessorsWithoutRegistersOrTimeStampCounter) {
  for (const char* name : {"i486dx2", "cx486", "pic-mirror"}) {
    SimOps ops(Sim(name));
    KvHandle h;
    KvHandleInit(&h);
    EXPECT_EQ(ViaDriver(ops, h, {"RDMSR", ReqMsrRead, 0x2A}).LastError, kErrRegisterFault) << name;
    EXPECT_EQ(ViaDriver(ops, h, {"WRMSR", ReqMsrWrite, 0x118, 0, 0, 0}).LastError,
              kErrRegisterFault)
        << name;
    EXPECT_EQ(ViaDriver(ops, h, {"cache", ReqL2Transaction, 2, 0, 0, 8, true}).LastError,
              kErrRegisterFault)
        << name;
    EXPECT_EQ(ViaDriver(ops, h, {"clock", ReqClockCount, 0}).LastError, kErrInvalidFunction)
        << name;
    EXPECT_EQ(ops.HardwareCalls, 0) << name;
  }
}

// Each open handle keeps its own processor, as the file object does.
TEST(KelvorntDispatch, ProcessorPerHandle) {
  SimOps ops(Sim("p2-dual"));
  KvHandle a, b;
  KvHandleInit(&a);
  KvHandleInit(&b);
  ASSERT_TRUE(ViaDriver(ops, a, {"processor 2", ReqSetCpu, 2, 0, 0, 0}).Ok);
  const Answer onA = ViaDriver(ops, a, {"CPUID 1", ReqCpuid, 1});
  const Answer onB = ViaDriver(ops, b, {"CPUID 1", ReqCpuid, 1});
  ASSERT_TRUE(onA.Ok && onB.Ok);
  EXPECT_NE(GetWord(onA.Reply.data()), GetWord(onB.Reply.data()));  // steppings 2 and 1
  EXPECT_EQ(a.cpu, 2);
  EXPECT_EQ(b.cpu, 1);
  EXPECT_EQ(ViaDriver(ops, b, {"processor 9", ReqSetCpu, 9, 0, 0, 0}).LastError,
            kErrCpuUnreachable);
  EXPECT_TRUE(ViaDriver(ops, a, {"CPUID 1", ReqCpuid, 1}).Ok);
}

// A request block shorter than 16 bytes is refused without being read.
TEST(KelvorntDispatch, ShortRequestBlock) {
  SimOps ops(Sim("p2-450"));
  KvHandle h;
  KvHandleInit(&h);
  std::uint8_t in[16] = {ReqIdentify};
  std::uint8_t out[16] = {};
  std::uint32_t len = 5;
  for (std::uint32_t inLen : {0u, 4u, 15u}) {
    EXPECT_EQ(KvDispatch(&ops.Ops, &h, 0x0103, kDrvIoctlCode, in, inLen, out, 16, &len),
              kErrBadLength);
    EXPECT_EQ(len, 0u);
  }
  EXPECT_EQ(KvDispatch(&ops.Ops, &h, 0x0103, kDrvIoctlCode, nullptr, 16, out, 16, &len),
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

}  // namespace
}  // namespace torv
