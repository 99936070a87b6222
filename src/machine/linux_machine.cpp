// This computer behind the driver protocol: CPUID through /dev/cpu/N/cpuid
// (or the instruction on a thread bound to processor N), model-specific
// registers through /dev/cpu/N/msr, the interrupt controller's and the Cyrix
// configuration ports with ioperm, and the clock count as time-stamp counter
// cycles measured against CLOCK_MONOTONIC_RAW (machine/tsc_clock.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "driver/loader.h"
#include "driver/protocol.h"
#include "machine/machine.h"
#include "machine/port_io.h"
#include "machine/tsc_clock.h"
#include "platform/linux_pinning.h"
#include "platform/linux_run_dir.h"
#include "report/utility.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <sys/io.h>
#define TORV_X86 1
#else
#define TORV_X86 0
#endif

namespace torv {

namespace {

std::string DevPath(int cpu, const char* leaf) {
  return "/dev/cpu/" + std::to_string(cpu - 1) + "/" + leaf;
}

#if TORV_X86
constexpr double kTickNs = 1e9 / 18.206;  // one system timer tick

// Runs `fn` on a thread bound to host processor `hostCpu` alone.
bool RunOn(int hostCpu, const std::function<void()>& fn, int& err) {
  return RunPinned(hostCpu, fn, err);
}

#endif

// flock(LOCK_EX) on a file, held while the descriptor is open; with a run
// folder, first on its file "lock" (root's own, so that it exists even where
// the file cannot be opened, and no one else can hold it), then on the file
// where it opens. Both are opened anew at each first attempt after an
// Unlock (the msr module may have been loaded meanwhile).
class FileLock : public RegisterLock {
 public:
  FileLock(std::string path, std::string runDir)
      : path_(std::move(path)), runDir_(std::move(runDir)) {}
  ~FileLock() override { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  Attempt TryLock(std::string& reason) override {
    if (fd_ < 0 && runFd_ < 0) {
      fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      const int openErrno = errno;
      std::string runError;
      if (!runDir_.empty()) runFd_ = OpenRunFile(runDir_, "lock", runError);
      if (fd_ < 0 && runFd_ < 0) {
        reason = path_ + ": " + std::strerror(openErrno);
        return Attempt::Unavailable;
      }
    }
    const Attempt run = Take(runFd_, runDir_ + "/lock", reason);
    if (run != Attempt::Held) return run;
    const Attempt file = Take(fd_, path_, reason);
    if (file != Attempt::Held && runFd_ >= 0) flock(runFd_, LOCK_UN);
    return file;
  }

  void Unlock() override {
    for (int* fd : {&fd_, &runFd_}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

 private:
  // The flock of one descriptor (none to take when it did not open).
  static Attempt Take(int fd, const std::string& what, std::string& reason) {
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) == 0) return Attempt::Held;
    if (errno == EWOULDBLOCK || errno == EINTR) return Attempt::Busy;
    reason = "flock " + what + ": " + std::strerror(errno);
    return Attempt::Unavailable;
  }

  std::string path_;
  std::string runDir_;
  int fd_ = -1;
  int runFd_ = -1;
};

class LinuxMachine : public Machine {
 public:
  std::string Name() const override { return kLinuxDriverName; }
  std::string Description() const override { return "this computer"; }

  // The processors the kernel knows, whichever thread asks: the cpuN
  // folders of sysfs, as glibc counts _SC_NPROCESSORS_CONF. musl counts the
  // calling thread's affinity instead, which on an analysis thread bound to
  // processor 1 would hide processor 2.
  int ProcessorCount() const override {
    int n = 0;
    if (DIR* d = opendir("/sys/devices/system/cpu")) {
      while (const dirent* e = readdir(d)) {
        const char* name = e->d_name;
        if (std::strncmp(name, "cpu", 3) == 0 && name[3] >= '0' && name[3] <= '9') ++n;
      }
      closedir(d);
    }
    if (n < 1) n = static_cast<int>(sysconf(_SC_NPROCESSORS_CONF));
    return n < 1 ? 1 : n;
  }

  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    const std::string path = DevPath(cpu, "cpuid");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      std::uint32_t r[4];
      // The file offset carries the leaf: 64-bit offsets, so that a 32-bit
      // build reaches the leaves from 80000000h on as well.
      const ssize_t n = pread64(fd, r, sizeof r, static_cast<off64_t>(leaf));
      close(fd);
      if (n == static_cast<ssize_t>(sizeof r)) {
        eax = r[0];
        ebx = r[1];
        ecx = r[2];
        edx = r[3];
        return 0;
      }
    }
#if TORV_X86
    // Without the device (no permission, no module) the instruction itself,
    // on a thread bound to the processor; but only where it exists: a 486
    // without CPUID (the kernel's cpuid device refuses to open there) would
    // end the program with an illegal instruction. cpuid.h tests whether the
    // ID flag of EFLAGS can be changed.
    if (__get_cpuid_max(0, nullptr) == 0) {
      return Remember(kErrNoCpuid, "no CPUID instruction on this processor and no " + path);
    }
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    int err = 0;
    if (!RunOn(
            cpu - 1, [&] { __cpuid_count(leaf, 0, a, b, c, d); }, err)) {
      return Unreachable(cpu, err);
    }
    eax = a;
    ebx = b;
    ecx = c;
    edx = d;
    return 0;
#else
    return Remember(kErrNoCpuid, "no CPUID instruction on this architecture and no " + path);
#endif
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    const std::string path = DevPath(cpu, "msr");
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return OsError(errno, path);
    std::uint64_t v = 0;
    const ssize_t n = pread64(fd, &v, sizeof v, static_cast<off64_t>(reg));
    const int e = errno;
    close(fd);
    if (n != static_cast<ssize_t>(sizeof v)) return RegisterError(n < 0 ? e : EIO, path, reg);
    value = v;
    return 0;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    const std::string path = DevPath(cpu, "msr");
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return OsError(errno, path);
    const ssize_t n = pwrite64(fd, &value, sizeof value, static_cast<off64_t>(reg));
    const int e = errno;
    close(fd);
    if (n != static_cast<ssize_t>(sizeof value)) return RegisterError(n < 0 ? e : EIO, path, reg);
    return 0;
  }

  // Only the interrupt mask (21h) and the Cyrix configuration ports
  // (22h, 23h) are opened; every other port is refused.
  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    const std::uint32_t e = OpenPort(port);
    if (e != 0) return e;
    value = PortInByte(port);
    return 0;
  }

  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    const std::uint32_t e = OpenPort(port);
    if (e != 0) return e;
    PortOutByte(port, value);
    return 0;
  }

  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
#if TORV_X86
    double c = 0;
    int err = 0;
    if (!RunOn(
            cpu - 1, [&] { c = CyclesDuring(kTickNs); }, err))
      return Unreachable(cpu, err);
    if (!(c > 0) || c > 4294967295.0) {
      return Remember(kErrInvalidFunction, "the time-stamp counter could not be measured");
    }
    cycles = static_cast<std::uint32_t>(std::llround(c));
    return 0;
#else
    (void)cpu;
    (void)cycles;
    return Remember(kErrInvalidFunction, "no time-stamp counter on this architecture");
#endif
  }

  // On the calling thread, which the program binds to the processor.
  bool DivisionLeavesFlags(int) override {
    return DivisionLeavesFlagsHere();
  }

  bool OutlivesProgram() const override { return true; }
  bool BindsHostThreads() const override {
    return true;
  }

  // flock on /dev/cpu/0/msr, which every analysis opens (and torvacin-access
  // too), so that "flock /dev/cpu/0/msr COMMAND" from a shell holds it as well.
  std::unique_ptr<RegisterLock> AnalysisLock() override {
    return MakeAnalysisLock(kMsrDevice, kRunDir);
  }

  std::string DescribeError(std::uint32_t lastError) const override {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (lastError != 0 && lastError == lastCode_) return lastReason_;
    }
    if (lastError > kErrOsBase && lastError < kErrOsBase + 0x10000u) {
      return std::strerror(static_cast<int>(lastError - kErrOsBase));
    }
    return "";
  }

 private:
  std::uint32_t Remember(std::uint32_t code, std::string reason) {
    std::lock_guard<std::mutex> lock(mu_);
    lastCode_ = code;
    lastReason_ = std::move(reason);
    return code;
  }

  std::uint32_t OsError(int e, const std::string& what) {
    if (e <= 0) e = EIO;
    return Remember(kErrOsBase | static_cast<std::uint32_t>(e), what + ": " + std::strerror(e));
  }

  // The msr device answers EIO when the processor faults on the register.
  std::uint32_t RegisterError(int e, const std::string& path, std::uint32_t reg) {
    if (e == EIO) {
      return Remember(kErrOsBase | EIO, path + ": " + std::strerror(EIO) +
                                            " (the processor refused register " + HexDword(reg) +
                                            ")");
    }
    return OsError(e, path);
  }

  std::uint32_t Unreachable(int cpu, int err) {
    std::string why = "processor " + std::to_string(cpu) + " cannot be reached";
    if (err != 0) why += std::string(": ") + std::strerror(err);
    return Remember(kErrCpuUnreachable, why);
  }

  std::uint32_t OpenPort(std::uint16_t port) {
    if (port < 0x21 || port > 0x23) {
      return Remember(kErrAccessDenied, "port " + HexDword(port).substr(4) + " is not opened");
    }
#if TORV_X86
    // The I/O permission bitmap belongs to the calling thread: grant the one
    // port each time.
    if (ioperm(port, 1, 1) != 0) return OsError(errno, "ioperm port " + HexDword(port).substr(4));
    return 0;
#else
    return Remember(kErrAccessDenied, "no port access on this architecture");
#endif
  }

  mutable std::mutex mu_;
  std::uint32_t lastCode_ = 0;
  std::string lastReason_;
};

}  // namespace

std::unique_ptr<RegisterLock> MakeFileLock(const std::string& path) {
  return std::make_unique<FileLock>(path, "");
}

std::unique_ptr<RegisterLock> MakeAnalysisLock(const std::string& path, const std::string& runDir) {
  return std::make_unique<FileLock>(path, runDir);
}

std::shared_ptr<Machine> MakeLinuxMachine() {
  return std::make_shared<LinuxMachine>();
}

}  // namespace torv
