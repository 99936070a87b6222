// The driver protocol served on a Machine, as the kernel driver serves it:
// decode the request block, check the control code and the reply area, carry
// out the function on the processor announced with ReqSetCpu.
#include <cstring>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/access.h"
#include "machine/machine.h"

namespace torv {

namespace {

// Word `index` of a reply area.
void PutWord(void* out, std::size_t index, std::uint32_t v) {
  torv::PutWord(static_cast<std::uint8_t*>(out) + 4 * index, v);
}

// The reply length each function needs; -1 for an unknown function.
int ReplyLength(std::uint32_t func) {
  switch (func) {
    case ReqIdentify:
      return 12;
    case ReqPortIn:
      return 1;
    case ReqMsrRead:
    case ReqClockCount:
    case ReqL2Transaction:
    case ReqVersion:
      return 8;
    case ReqCpuid:
      return 16;
    case ReqPortOut:
    case ReqMsrWrite:
    case ReqSetCpu:
    case ReqSignature:
      return 0;
    default:
      return -1;
  }
}

constexpr DevResult Done() {
  return {true, 0};
}
constexpr DevResult Fail(std::uint32_t e) {
  return {false, e};
}

}  // namespace

MachineDevice::MachineDevice(std::shared_ptr<Machine> machine, std::uint16_t version)
    : machine_(std::move(machine)), version_(version) {}

DevResult MachineDevice::Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16],
                                 const void* attached, std::size_t attachedLen, void* out,
                                 std::uint32_t outLen) {
  if (!machine_ || ioctlCode != kDrvIoctlCode) return Fail(kErrInvalidFunction);
  const RequestBlock r = DecodeRequest(in);
  const int need = ReplyLength(r.Func);
  if (need < 0) return Fail(kErrInvalidFunction);
  if (need > 0 && (out == nullptr || outLen < static_cast<std::uint32_t>(need))) {
    return Fail(kErrBadLength);
  }
  // Processor-bound functions act on the announced processor only.
  const bool cpuKnown = cpu_ >= 1 && cpu_ <= machine_->ProcessorCount();

  switch (r.Func) {
    case ReqIdentify:
      PutWord(out, 0, 0x12340001u);
      PutWord(out, 1, 0);
      PutWord(out, 2, 0);
      return Done();

    case ReqVersion:
      PutWord(out, 0, version_);
      PutWord(out, 1, 0);
      return Done();

    case ReqSignature:
      return r.P1 == kDrvSignature ? Done() : Fail(kErrInvalidParameter);

    case ReqSetCpu:
      // The number is kept even when no such processor exists, so that every
      // later processor-bound request fails with the unreachable-processor
      // error instead of acting on another processor.
      cpu_ = r.P1 > 0x7FFFu ? 0 : static_cast<int>(r.P1);
      return cpu_ >= 1 && cpu_ <= machine_->ProcessorCount() ? Done() : Fail(kErrCpuUnreachable);

    case ReqPortIn: {
      if (r.P1 > 0xFFFFu) return Fail(kErrInvalidParameter);
      std::uint8_t v = 0xFF;
      const std::uint32_t e = machine_->PortIn(static_cast<std::uint16_t>(r.P1), v);
      if (e != 0) return Fail(e);
      static_cast<std::uint8_t*>(out)[0] = v;
      return Done();
    }

    case ReqPortOut: {
      if (r.P1 > 0xFFFFu || r.P2 > 0xFFu) return Fail(kErrInvalidParameter);
      const std::uint32_t e =
          machine_->PortOut(static_cast<std::uint16_t>(r.P1), static_cast<std::uint8_t>(r.P2));
      return e == 0 ? Done() : Fail(e);
    }

    case ReqCpuid: {
      if (!cpuKnown) return Fail(kErrCpuUnreachable);
      std::uint32_t a = 0, b = 0, c = 0, d = 0;
      const std::uint32_t e = machine_->Cpuid(cpu_, r.P1, a, b, c, d);
      if (e != 0) return Fail(e);
      PutWord(out, 0, a);
      PutWord(out, 1, b);
      PutWord(out, 2, c);
      PutWord(out, 3, d);
      return Done();
    }

    case ReqMsrRead: {
      if (!cpuKnown) return Fail(kErrCpuUnreachable);
      std::uint64_t v = 0;
      const std::uint32_t e = machine_->ReadMsr(cpu_, r.P1, v);
      if (e != 0) return Fail(e);
      PutWord(out, 0, static_cast<std::uint32_t>(v));
      PutWord(out, 1, static_cast<std::uint32_t>(v >> 32));
      return Done();
    }

    case ReqMsrWrite: {
      if (!cpuKnown) return Fail(kErrCpuUnreachable);
      const std::uint32_t e =
          machine_->WriteMsr(cpu_, r.P1, static_cast<std::uint64_t>(r.P3) << 32 | r.P2);
      return e == 0 ? Done() : Fail(e);
    }

    case ReqClockCount: {
      // The selector names the system timer; there is only the one.
      if (!cpuKnown) return Fail(kErrCpuUnreachable);
      std::uint32_t cycles = 0;
      const std::uint32_t e = machine_->ClockCount(cpu_, cycles);
      if (e != 0) return Fail(e);
      PutWord(out, 0, cycles);
      PutWord(out, 1, 0);
      return Done();
    }

    case ReqL2Transaction: {
      if (!cpuKnown) return Fail(kErrCpuUnreachable);
      if (r.P1 > 0x1Fu || r.P2 > 3u || attached == nullptr || attachedLen < 16) {
        return Fail(kErrInvalidParameter);
      }
      std::uint8_t block[16];
      std::memcpy(block, attached, sizeof block);
      std::uint32_t addrLo = 0;
      std::uint32_t addrHi = 0;
      const std::uint32_t e = RunL2Transaction(r.P1, r.P2, block, addrLo, addrHi);
      if (e != 0) return Fail(e);
      PutWord(out, 0, addrLo);
      PutWord(out, 1, addrHi);
      return Done();
    }

    default:
      return Fail(kErrInvalidFunction);
  }
}

std::uint32_t MachineDevice::RunL2Transaction(std::uint32_t command, std::uint32_t way,
                                              const std::uint8_t (&block)[16],
                                              std::uint32_t& addrLo, std::uint32_t& addrHi) {
  Machine& m = *machine_;
  const auto pair = [&](std::size_t at) {
    return static_cast<std::uint64_t>(GetWord(block + at + 4)) << 32 | GetWord(block + at);
  };
  std::uint32_t e = m.WriteMsr(cpu_, kMsrBblAddr, pair(0));
  for (std::uint32_t reg = kMsrBblD0; e == 0 && reg < kMsrBblD0 + 4; ++reg) {
    e = m.WriteMsr(cpu_, reg, pair(8));
  }
  std::uint64_t ctl = 0;
  if (e == 0) e = m.ReadMsr(cpu_, kMsrBblCtl, ctl);
  if (e == 0) {
    const std::uint32_t lo = (static_cast<std::uint32_t>(ctl) & 0xFFFFFCE0u) | way << 8 | command;
    e = m.WriteMsr(cpu_, kMsrBblCtl, (ctl & 0xFFFFFFFF00000000u) | lo);
  }
  if (e == 0) e = m.WriteMsr(cpu_, kMsrBblTrig, 0);
  if (e != 0) return e;
  bool idle = false;
  for (int i = 0; i < kL2BusyPolls && !idle; ++i) {
    std::uint64_t busy = 0;
    e = m.ReadMsr(cpu_, kMsrBblBusy, busy);
    if (e != 0) return e;
    idle = (busy & 1) == 0;
  }
  if (!idle) return kErrL2Busy;
  std::uint64_t addr = 0;
  e = m.ReadMsr(cpu_, kMsrBblAddr, addr);
  if (e != 0) return e;
  addrLo = static_cast<std::uint32_t>(addr);
  addrHi = static_cast<std::uint32_t>(addr >> 32);
  return 0;
}

std::string MachineDevice::DescribeError(std::uint32_t lastError) const {
  if (machine_) {
    std::string text = machine_->DescribeError(lastError);
    if (!text.empty()) return text;
  }
  switch (lastError) {
    case 0:
      return "";
    case kErrInvalidFunction:
      return "request not supported by the driver";
    case kErrBadLength:
      return "reply area too short for the request";
    case kErrInvalidParameter:
      return "request parameter out of range";
    case kErrL2Busy:
      return "second-level cache controller stays busy (BBL_CR_BUSY bit 0 never cleared)";
    case kErrCpuUnreachable:
      return "processor " + std::to_string(cpu_) + " does not exist or cannot be reached";
    default:
      return "";
  }
}

LinuxStart DefaultLinuxStart() {
  LinuxStart s;
  // CPUID and the clock need no privilege, so this computer's back-end is
  // always there; a register that this user may not read is refused on its
  // own, with its reason.
  s.MakeHost = [](std::uint32_t&) { return MakeHostMachine(); };
  s.Name = [](const Machine& m) { return m.Name(); };
  s.Serve = [](const std::shared_ptr<Machine>& m, std::uint16_t version) -> std::shared_ptr<Device> {
    return std::make_shared<MachineDevice>(m, version);
  };
  s.Lock = [](Machine& m) { return m.AnalysisLock(); };
  s.KeepsJournal = [](Machine& m) { return m.OutlivesProgram(); };
  return s;
}

void LoadDriver(const DriverContext& ctx, std::uint8_t kind, std::string_view fileName,
                std::uint32_t requiredVersion, std::uint32_t& errorCode) {
  LoadDriver(ctx, kind, fileName, requiredVersion, errorCode, DefaultLinuxStart());
}

}  // namespace torv
