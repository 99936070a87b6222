// How well one clock measurement (the time-stamp counter during one system
// timer tick, as the analysis takes it) agrees with the kernel's idea of the
// counter's frequency, and how long it takes. Goes the program's whole way:
// the Linux back-end loaded as the driver, ReqSetCpu, ReqClockCount.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "driver/hw.h"
#include "driver/loader.h"
#include "machine/machine.h"
#include "machine/tsc_clock.h"
#include "platform/linux_platform.h"
#include "app/world.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main() {
  using namespace torv;
  constexpr int kRuns = 20;

  TscReference ref;
  if (!KernelTscReference(ref)) {
    std::fprintf(stderr, "clock-accuracy: the kernel publishes no TSC frequency\n");
    return 1;
  }

  LinuxPlatform platform;
  World w(platform);
  w.shell.OsKind = kOsLinux;
  std::uint32_t code = 0;
  LoadDriver(w.ForDriver(), kOsLinux, kLinuxDriverName, kLinuxDriverVersion, code);
  if (code != 0) {
    std::fprintf(stderr, "clock-accuracy: %s\n", DrvErrorText(w.ForDriver(), code).c_str());
    return 1;
  }
  DrvSetCpu(w.ForDriver(), 1);

  std::vector<double> hz, ms;
  for (int i = 0; i < kRuns; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    MeasureClock(w.ForDriver());
    const auto t1 = std::chrono::steady_clock::now();
    if (w.hw.CpuClockHz <= 0) {
      std::fprintf(stderr, "clock-accuracy: the measurement failed\n");
      return 1;
    }
    hz.push_back(w.hw.CpuClockHz);
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  // A long measurement by the same method: its own error is far below the
  // kernel number's step, so it shows the scatter of the short ones alone.
  const double longHz = MeasureTscRate(0, 2.0);

  std::vector<double> errRef, absRef, absLong;
  for (double h : hz) {
    errRef.push_back((h - ref.Hz) / ref.Hz * 1e6);
    absRef.push_back(std::fabs(h - ref.Hz) / ref.Hz * 1e6);
    if (longHz > 0) absLong.push_back(std::fabs(h - longHz) / longHz * 1e6);
  }

  std::printf("reference          : %.0f Hz from %s\n", ref.Hz, ref.Source.c_str());
  std::printf("                     published in steps of %.0f Hz, i.e. +-%.2f ppm\n",
              ref.ResolutionHz, ref.ResolutionHz / 2 / ref.Hz * 1e6);
  if (ref.MayBeCoreClock) {
    std::printf(
        "                     caution: this processor reports its current core clock "
        "there, not necessarily the TSC rate\n");
  }
  std::printf("one-tick measurements: %d on processor 1, %.3f ms interval each\n", kRuns,
              1000 / 18.206);
  std::printf("  median             : %.0f Hz\n", Median(hz));
  std::printf("  median error       : %.3f ppm (median signed %.3f ppm, worst %.3f ppm)\n",
              Median(absRef), Median(errRef), *std::max_element(absRef.begin(), absRef.end()));
  if (longHz > 0) {
    std::printf("2-second measurement : %.0f Hz, %.3f ppm from the reference\n", longHz,
                (longHz - ref.Hz) / ref.Hz * 1e6);
    std::printf("  one-tick scatter   : median %.3f ppm from the 2-second value\n",
                Median(absLong));
  }
  std::printf("time per measurement : median %.2f ms (max %.2f ms)\n", Median(ms),
              *std::max_element(ms.begin(), ms.end()));
  return 0;
}
