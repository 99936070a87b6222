// Profile parser fuzz target: any text either parses into a machine that
// reads back the same from the profile written of it and then answers every
// kind of request, or fails with one error line. ./test starts it from the
// published dump layouts of tests/data/dumps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/hw.h"
#include "machine/machine.h"
#include "machine/sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace torv;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  SimProfile profile;
  std::string error;
  if (!ParseProfile(text, "fuzz.profile", profile, error)) {
    if (error.empty() || error.find('\n') != std::string::npos ||
        error.rfind("fuzz.profile:", 0) != 0) {
      std::abort();
    }
    return 0;
  }
  if (profile.Processors.empty() || profile.Processors.size() > kSimMaxProcessors) std::abort();
  // What the reader made, written as a profile, reads back into the same
  // machine.
  SimProfile again;
  if (!ParseProfile(WriteProfile(profile, {"written back"}), "again.profile", again, error) ||
      !SameMachine(profile, again)) {
    std::abort();
  }
  const auto m = MakeSimMachine(profile);
  if (!m) std::abort();

  // Drive the machine a little the way the analysis does.
  const int n = m->ProcessorCount();
  for (int cpu = 0; cpu <= n + 1; ++cpu) {
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    m->Cpuid(cpu, 0, a, b, c, d);
    m->Cpuid(cpu, 1, a, b, c, d);
    std::uint32_t cycles = 0;
    m->ClockCount(cpu, cycles);
    m->DivisionLeavesFlags(cpu);
    std::uint64_t v = 0;
    for (std::uint32_t reg : {kMsrPowerOn, kMsrBblCtl3, kMsrMtrrCap, 0x17u})
      m->ReadMsr(cpu, reg, v);
    m->WriteMsr(cpu, kMsrBblDecc, 0x51786A77);
    m->WriteMsr(cpu, kMsrBblCtl, 0x1C);
    m->WriteMsr(cpu, kMsrBblTrig, 0);
    m->WriteMsr(cpu, kMsrBblCtl, 0x0E);
    m->WriteMsr(cpu, kMsrBblTrig, 0);
    m->WriteMsr(cpu, kMsrBblCtl, 0x02);
    m->WriteMsr(cpu, kMsrBblAddr, 0xFFFFFFFFFFFFFFFFull);
    m->WriteMsr(cpu, kMsrBblTrig, 0);
    m->ReadMsr(cpu, kMsrBblBusy, v);
    m->ReadMsr(cpu, kMsrBblAddr, v);
  }
  std::uint8_t byte = 0;
  for (std::uint16_t port : {0x21, 0x22, 0x23}) m->PortIn(port, byte);
  for (int index = 0xC0; index <= 0xFF; index += 0x13) {
    m->PortOut(0x22, static_cast<std::uint8_t>(index));
    m->PortIn(0x23, byte);
    m->PortOut(0x22, static_cast<std::uint8_t>(index));
    m->PortOut(0x23, 0x90);
  }
  for (std::uint32_t e : {kErrRegisterFault, kErrAccessDenied, kErrNoCpuid, 0u})
    m->DescribeError(e);
  return 0;
}
