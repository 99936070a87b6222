// Start-up time and memory of the program in console mode.
//
//   bench_startup <path/to/torvacin> [runs] [switches...]
//
// Runs the program `runs` times (default 30) without a display with the
// switches (default "/TEST=2 /CON") and measures, from the moment the process
// is spawned, the time until its first report line arrives on standard output
// and until it ends, and the peak memory (max RSS) of every run. The program's
// deliberate waits (the driver open's settling time, the worker's pause, and
// on this computer's hardware the clock measurement's one timer tick, which
// test mode and simulated machines skip) are found by running the same
// start-up in this process over a platform that counts the waits instead of
// sleeping and a back-end that counts the clock measurements; the figures
// printed are the measured times minus those waits.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/shell.h"
#include "machine/machine.h"
#include "platform/linux_platform.h"
#include "app/world.h"

extern char** environ;

namespace {

// The Linux platform, but a wait is only added up.
class WaitCounter : public torv::LinuxPlatform {
 public:
  void Sleep(int milliseconds) override { WaitedMs += milliseconds; }
  int WaitedMs = 0;
};

// This computer's hardware, counting the clock measurements: each one waits
// one timer tick on purpose.
class TickCounter : public torv::Machine {
 public:
  explicit TickCounter(std::shared_ptr<torv::Machine> m) : m_(std::move(m)) {}
  std::string Name() const override { return m_->Name(); }
  std::string Description() const override { return m_->Description(); }
  int ProcessorCount() const override { return m_->ProcessorCount(); }
  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    return m_->Cpuid(cpu, leaf, eax, ebx, ecx, edx);
  }
  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    return m_->ReadMsr(cpu, reg, value);
  }
  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    return m_->WriteMsr(cpu, reg, value);
  }
  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    return m_->PortIn(port, value);
  }
  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    return m_->PortOut(port, value);
  }
  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
    ++Ticks;
    return m_->ClockCount(cpu, cycles);
  }
  bool DivisionLeavesFlags(int cpu) override { return m_->DivisionLeavesFlags(cpu); }
  bool BindsHostThreads() const override { return m_->BindsHostThreads(); }
  std::string DescribeError(std::uint32_t e) const override { return m_->DescribeError(e); }
  int Ticks = 0;

 private:
  std::shared_ptr<torv::Machine> m_;
};

double NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Sample {
  double FirstLineMs = -1;
  double ExitMs = -1;
  long MaxRssKb = 0;
  int Status = -1;
};

bool RunOnce(const std::string& bin, const std::vector<std::string>& switches, Sample& s) {
  int out[2];
  if (pipe(out) != 0) return false;
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) env.emplace_back(*e);
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args{bin};
  args.insert(args.end(), switches.begin(), switches.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const double t0 = NowMs();
  const int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return false;
  }
  char buf[4096];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) {
    if (s.FirstLineMs < 0 && std::memchr(buf, '\n', static_cast<std::size_t>(n)) != nullptr) {
      s.FirstLineMs = NowMs() - t0;
    }
  }
  close(out[0]);
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid) return false;
  s.ExitMs = NowMs() - t0;
  s.MaxRssKb = ru.ru_maxrss;
  s.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <path/to/torvacin> [runs] [switches...]\n", argv[0]);
    return 2;
  }
  const std::string bin = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 30;
  std::vector<std::string> switches(argv + std::min(argc, 3), argv + argc);
  if (switches.empty()) switches = {"/TEST=2", "/CON"};

  // The deliberate waits of this start-up.
  WaitCounter counter;
  int ticks = 0;
  {
    torv::World w(counter);
    torv::InitLanguage(w);
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null == nullptr) return 1;
    std::shared_ptr<TickCounter> host;
    if (torv::PrepareMachine(w, switches, null, null) < 0) {
      if (!w.machine) {
        host = std::make_shared<TickCounter>(torv::MakeLinuxMachine());
        w.machine = host;
      }
      torv::RunConsole(w, switches, null);
    }
    std::fclose(null);
    if (host) ticks = host->Ticks;
  }
  const double waits = counter.WaitedMs + ticks * (1000.0 / 18.206);

  std::vector<double> first, total;
  long peakKb = 0;
  for (int i = 0; i < runs; ++i) {
    Sample s;
    if (!RunOnce(bin, switches, s) || s.Status != 0 || s.FirstLineMs < 0) {
      std::fprintf(stderr, "run %d failed (status %d)\n", i + 1, s.Status);
      return 1;
    }
    first.push_back(s.FirstLineMs - waits);
    total.push_back(s.ExitMs - waits);
    peakKb = std::max(peakKb, s.MaxRssKb);
  }
  std::string sw;
  for (const std::string& a : switches) sw += " " + a;
  std::printf("torvacin%s, %d runs, deliberate waits %.0f ms (subtracted)\n", sw.c_str(), runs,
              waits);
  std::printf("start to first report line: median %.1f ms (goal < 50 ms)\n", Median(first));
  std::printf("start to exit:              median %.1f ms\n", Median(total));
  std::printf("peak memory (max RSS):      %.1f MB (goal < 8 MB)\n",
              static_cast<double>(peakKb) / 1024.0);
  return 0;
}
