// The time-stamp clock of the Linux back-end, also used by the clock tests and
// the clock bench.
#pragma once

#include <cstdint>
#include <string>

namespace torv {

// The kernel's idea of the time-stamp counter frequency.
struct TscReference {
  double Hz = 0;
  std::string Source;       // where it came from
  double ResolutionHz = 0;  // the step of the published number
  // True when the number comes from /proc/cpuinfo on a processor that reports
  // its current core clock there (aperfmperf), which need not be the TSC rate.
  bool MayBeCoreClock = false;
};

// Reads /sys/devices/system/cpu/cpu0/tsc_freq_khz, or else the "cpu MHz" of
// processor 0 in /proc/cpuinfo. False when neither gives a number.
bool KernelTscReference(TscReference& ref);

// Counter cycles during `intervalNs` on the calling thread, measured over
// about that long and scaled to exactly that interval; 0 without a counter.
double CyclesDuring(double intervalNs);

// Time-stamp counter rate of host processor `hostCpu` (0-based) measured over
// `seconds` against CLOCK_MONOTONIC_RAW, on a thread bound to it. Cycles per
// second, or 0 when the thread could not be bound or there is no counter.
double MeasureTscRate(int hostCpu, double seconds);

}  // namespace torv
