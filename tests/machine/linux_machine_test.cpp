// The Linux back-end on this computer. Tests that need /dev/cpu or an x86
// processor skip where it is absent.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <thread>

#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/tsc_clock.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TORV_TEST_X86 1
#else
#define TORV_TEST_X86 0
#endif

namespace torv {
namespace {

class LinuxMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TORV_TEST_X86) GTEST_SKIP() << "not an x86 processor";
    if (!std::filesystem::exists("/dev/cpu/0")) GTEST_SKIP() << "no /dev/cpu on this system";
    m = MakeLinuxMachine();
    ASSERT_TRUE(m);
  }
  std::shared_ptr<Machine> m;
};

#if TORV_TEST_X86
// CPUID executed here, on a thread bound to host processor `host`.
void CpuidOn(int host, std::uint32_t leaf, std::uint32_t (&r)[4]) {
  std::thread t([&] {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(host, &set);
    ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof set, &set), 0);
    __cpuid_count(leaf, 0, r[0], r[1], r[2], r[3]);
  });
  t.join();
}
#endif

TEST_F(LinuxMachineTest, CpuidMatchesTheInstruction) {
#if TORV_TEST_X86
  EXPECT_EQ(m->Name(), "kelvorlx");
  EXPECT_TRUE(m->BindsHostThreads());
  const int n = std::min(m->ProcessorCount(), 4);
  for (int cpu = 1; cpu <= n; ++cpu) {
    std::uint32_t want0[4], want1[4];
    CpuidOn(cpu - 1, 0, want0);
    CpuidOn(cpu - 1, 1, want1);
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    ASSERT_EQ(m->Cpuid(cpu, 0, a, b, c, d), 0u) << m->DescribeError(m->Cpuid(cpu, 0, a, b, c, d));
    EXPECT_EQ(b, want0[1]) << "vendor, processor " << cpu;
    EXPECT_EQ(c, want0[2]);
    EXPECT_EQ(d, want0[3]);
    ASSERT_EQ(m->Cpuid(cpu, 1, a, b, c, d), 0u);
    // Family, model and stepping (the APIC id in EBX differs between processors).
    EXPECT_EQ(a & 0x0FFF3FFF, want1[0] & 0x0FFF3FFF) << "signature, processor " << cpu;
  }
#endif
}

TEST_F(LinuxMachineTest, MissingProcessorIsUnreachable) {
  std::uint32_t a, b, c, d;
  const std::uint32_t e = m->Cpuid(CPU_SETSIZE + 5, 0, a, b, c, d);
  EXPECT_EQ(e, kErrCpuUnreachable);
  std::uint32_t cycles = 0;
  EXPECT_EQ(m->ClockCount(CPU_SETSIZE + 5, cycles), kErrCpuUnreachable);
  EXPECT_NE(m->DescribeError(kErrCpuUnreachable).find("cannot be reached"), std::string::npos);
}

TEST_F(LinuxMachineTest, ClockAgreesWithTheKernel) {
  TscReference ref;
  if (!KernelTscReference(ref)) GTEST_SKIP() << "the kernel publishes no TSC frequency";
  if (ref.MayBeCoreClock) GTEST_SKIP() << ref.Source << " shows the current core clock";
  std::uint32_t cycles = 0;
  ASSERT_EQ(m->ClockCount(1, cycles), 0u);
  const double hz = cycles * 18.206;
  EXPECT_NEAR(hz / ref.Hz, 1.0, 1e-4)
      << hz << " Hz against " << ref.Hz << " Hz from " << ref.Source;
}

TEST_F(LinuxMachineTest, RegisterFailureNamesTheDevice) {
  std::uint64_t v = 0;
  const std::uint32_t e = m->ReadMsr(1, 0x2A, v);
  if (e == 0) GTEST_SKIP() << "this computer answers register 2Ah";
  EXPECT_EQ(e & 0xF0000000u, kErrOsBase);
  const std::string why = m->DescribeError(e);
  EXPECT_EQ(why.rfind("/dev/cpu/0/msr: ", 0), 0u) << why;
  EXPECT_NE(why.find(std::strerror(static_cast<int>(e - kErrOsBase))), std::string::npos) << why;
}

TEST_F(LinuxMachineTest, OnlyTheThreeLegacyPortsAreOpened) {
  std::uint8_t v = 0;
  for (std::uint16_t port : {0x20, 0x24, 0x80, 0x3F8, 0xCF8}) {
    EXPECT_EQ(m->PortIn(port, v), kErrAccessDenied) << port;
    EXPECT_EQ(m->PortOut(port, 0), kErrAccessDenied) << port;
  }
  EXPECT_NE(m->DescribeError(kErrAccessDenied).find("not opened"), std::string::npos);
}

TEST_F(LinuxMachineTest, DivisionFlagsTestIsStable) {
  // Whatever this processor does, it does it every time and leaves the
  // caller's data alone.
  volatile std::uint64_t guard[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const bool first = m->DivisionLeavesFlags(1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(m->DivisionLeavesFlags(1), first);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(guard[i], static_cast<std::uint64_t>(i + 1));
}

}  // namespace
}  // namespace torv
