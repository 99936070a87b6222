// The time-stamp clock: counter readings bracketed by CLOCK_MONOTONIC_RAW,
// counter cycles during an interval, the measured counter rate and the
// kernel's own figure for it.
#include "machine/tsc_clock.h"

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/linux_pinning.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define TORV_X86 1
#else
#define TORV_X86 0
#endif

namespace torv {

#if TORV_X86
namespace {

std::int64_t RawNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// RDTSC does not wait for earlier instructions, and later ones may start
// before it: out of order, the counter could be read before the clock
// reading that brackets it has finished, or after the next one has begun.
// A fence on each side keeps the counter read inside its bracket.
std::uint64_t Tsc() {
#if defined(__SSE2__)
  // LFENCE waits for every earlier instruction and holds back later ones.
  _mm_lfence();
  const std::uint64_t t = __rdtsc();
  _mm_lfence();
#else
  // A Pentium Pro or Pentium II has no LFENCE (SSE2). CPUID is its
  // serialising instruction: it completes every earlier instruction and
  // starts no later one before it has finished. A compiler barrier alone
  // would not do, since the processor itself reorders around RDTSC.
  // The macro from <cpuid.h> names EBX as an output, so the compiler saves
  // EBX where 32-bit position-independent code keeps its GOT pointer there.
  // One CPUID on each side widens the bracket about evenly, so its middle
  // still marks the counter read.
  unsigned a, b, c, d;
  __cpuid(0, a, b, c, d);
  const std::uint64_t t = __rdtsc();
  __cpuid(0, a, b, c, d);
  (void)a;
  (void)b;
  (void)c;
  (void)d;
#endif
  return t;
}

// One reading of the counter bracketed by two clock readings; of several
// tries the one with the narrowest bracket, timed at the bracket's middle.
struct Stamp {
  double Ns = 0;
  std::uint64_t Cycles = 0;
};

Stamp TakeStamp() {
  Stamp best;
  std::int64_t bestWindow = INT64_MAX;
  for (int i = 0; i < 32; ++i) {
    const std::int64_t t0 = RawNs();
    const std::uint64_t c = Tsc();
    const std::int64_t t1 = RawNs();
    if (t1 - t0 < bestWindow) {
      bestWindow = t1 - t0;
      best.Ns = static_cast<double>(t0) + static_cast<double>(t1 - t0) / 2.0;
      best.Cycles = c;
    }
  }
  return best;
}

// Counter cycles during `intervalNs`, measured over about that long on the
// calling thread and scaled to exactly that interval.
}  // namespace

double CyclesDuring(double intervalNs) {
  const Stamp start = TakeStamp();
  const double target = start.Ns + intervalNs;
  // Sleep through most of the interval, then wait the rest out: a sleep
  // may overshoot by milliseconds on a busy or virtual machine.
  constexpr double kSpinNs = 2e6;
  for (;;) {
    const double left = target - static_cast<double>(RawNs());
    if (left <= kSpinNs) break;
    const double nap = left - kSpinNs;
    timespec ts;
    ts.tv_sec = static_cast<time_t>(nap / 1e9);
    ts.tv_nsec = static_cast<long>(nap - static_cast<double>(ts.tv_sec) * 1e9);
    nanosleep(&ts, nullptr);
  }
  while (static_cast<double>(RawNs()) < target) {
  }
  const Stamp end = TakeStamp();
  const double dt = end.Ns - start.Ns;
  if (dt <= 0 || end.Cycles <= start.Cycles) return 0;
  return static_cast<double>(end.Cycles - start.Cycles) * intervalNs / dt;
}
#else
double CyclesDuring(double) {
  return 0;
}
#endif

namespace {

// The kernel's files are read with stdio: the stream classes would bring
// the whole locale machinery into the static programs for these two reads.
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The next line of `f` without its newline; false at the end of the file.
bool NextLine(std::FILE* f, std::string& line) {
  line.clear();
  int c = 0;
  while ((c = std::fgetc(f)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  return c != EOF || !line.empty();
}

}  // namespace

bool KernelTscReference(TscReference& ref) {
  ref = TscReference{};
  std::string line;
  if (File f{std::fopen("/sys/devices/system/cpu/cpu0/tsc_freq_khz", "r")};
      f && NextLine(f.get(), line)) {
    char* end = nullptr;
    const double khz = std::strtod(line.c_str(), &end);
    if (end != line.c_str() && khz > 0) {
      ref.Hz = khz * 1000.0;
      ref.Source = "/sys/devices/system/cpu/cpu0/tsc_freq_khz";
      ref.ResolutionHz = 1000.0;
      return true;
    }
  }
  const File f{std::fopen("/proc/cpuinfo", "r")};
  bool first = true;
  bool aperf = false;
  while (f && NextLine(f.get(), line)) {
    if (line.rfind("processor", 0) == 0 && !first) break;
    first = false;
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, line.find_last_not_of(" \t", colon - 1) + 1);
    const std::string val = line.substr(colon + 1);
    if (key == "cpu MHz") {
      ref.Hz = std::strtod(val.c_str(), nullptr) * 1e6;
    } else if (key == "flags") {
      aperf = (" " + val + " ").find(" aperfmperf ") != std::string::npos;
    }
  }
  if (!(ref.Hz > 0)) return false;
  ref.Source = "/proc/cpuinfo \"cpu MHz\"";
  ref.ResolutionHz = 1000.0;
  ref.MayBeCoreClock = aperf;
  return true;
}

double MeasureTscRate(int hostCpu, double seconds) {
#if TORV_X86
  double cycles = 0;
  int err = 0;
  if (!RunPinned(
          hostCpu, [&] { cycles = CyclesDuring(seconds * 1e9); }, err))
    return 0;
  return cycles / seconds;
#else
  (void)hostCpu;
  (void)seconds;
  return 0;
#endif
}

}  // namespace torv
