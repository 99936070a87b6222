// The helper's hold on this computer: every processor's msr and cpuid device
// opened once and the ports 21h to 23h granted while it still has its
// privileges, then every privilege given up. Capabilities are dropped with
// the prctl and capset system calls themselves, so the helper needs no
// library beyond the C library.
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/protocol.h"
#include "machine/access.h"
#include "machine/port_io.h"
#include "platform/linux_pinning.h"
#include "platform/linux_run_dir.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <sys/io.h>
#define TORV_ACCESS_X86 1
#else
#define TORV_ACCESS_X86 0
#endif

namespace torv {

namespace {

constexpr int kMaxDevices = 1024;
constexpr std::uint16_t kFirstPort = 0x21;
constexpr std::uint16_t kPortCount = 3;

std::uint32_t OsCode(int e) {
  return kErrOsBase | static_cast<std::uint32_t>(e > 0 ? e : EIO);
}

// The analysis lock on the helper's own descriptors of the run folder's
// "lock" file and of /dev/cpu/0/msr, opened while it was privileged: flock
// needs no privilege. The run folder's first (it exists even where the msr
// device of CPU 0 does not), then the device's, shared with every program
// that flocks it; either alone serves. Held for one register sequence at a
// time, and released when the helper ends. The reason of a failed attempt
// is "ERRNO TEXT".
class DescriptorLock : public RegisterLock {
 public:
  DescriptorLock(int runFd, int fd, int openErrno)
      : runFd_(runFd), fd_(fd), openErrno_(openErrno) {}
  ~DescriptorLock() override { Unlock(); }
  DescriptorLock(const DescriptorLock&) = delete;
  DescriptorLock& operator=(const DescriptorLock&) = delete;

  Attempt TryLock(std::string& reason) override {
    if (fd_ < 0 && runFd_ < 0) return Failed(openErrno_ > 0 ? openErrno_ : ENOENT, reason);
    if (runFd_ >= 0 && flock(runFd_, LOCK_EX | LOCK_NB) != 0) return Refused(reason);
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      if (runFd_ >= 0) flock(runFd_, LOCK_UN);
      errno = e;
      return Refused(reason);
    }
    held_ = true;
    return Attempt::Held;
  }

  void Unlock() override {
    if (held_) {
      if (fd_ >= 0) flock(fd_, LOCK_UN);
      if (runFd_ >= 0) flock(runFd_, LOCK_UN);
    }
    held_ = false;
  }

 private:
  static Attempt Refused(std::string& reason) {
    if (errno == EWOULDBLOCK || errno == EINTR) return Attempt::Busy;
    return Failed(errno, reason);
  }
  // The reason in the helper's answer form: "ERRNO TEXT".
  static Attempt Failed(int e, std::string& reason) {
    reason = std::to_string(e) + " " + std::strerror(e);
    return Attempt::Unavailable;
  }

  int runFd_;
  int fd_;
  int openErrno_;
  bool held_ = false;
};

class AccessDevices : public Machine {
 public:
  AccessDevices() {
    long n = sysconf(_SC_NPROCESSORS_CONF);
    if (n < 1) n = 1;
    if (n > kMaxDevices) n = kMaxDevices;
    cpus_.resize(static_cast<std::size_t>(n));
    for (std::size_t i = 0; i < cpus_.size(); ++i) {
      const std::string dir = "/dev/cpu/" + std::to_string(i) + "/";
      Cpu& c = cpus_[i];
      c.Msr = open((dir + "msr").c_str(), O_RDWR | O_CLOEXEC);
      if (c.Msr < 0) c.MsrErrno = errno;
      c.Cpuid = open((dir + "cpuid").c_str(), O_RDONLY | O_CLOEXEC);
    }
    std::string runError;
    runLock_ = OpenRunFile(kRunDir, "lock", runError);
#if TORV_ACCESS_X86
    // The port permission belongs to the calling thread: the one that serves.
    if (ioperm(kFirstPort, kPortCount, 1) != 0) portErrno_ = errno;
#else
    portErrno_ = ENOSYS;
#endif
  }

  ~AccessDevices() override {
    if (runLock_ >= 0) close(runLock_);
    for (Cpu& c : cpus_) {
      if (c.Msr >= 0) close(c.Msr);
      if (c.Cpuid >= 0) close(c.Cpuid);
    }
  }

  AccessDevices(const AccessDevices&) = delete;
  AccessDevices& operator=(const AccessDevices&) = delete;

  std::string Name() const override {
    return "torvacin-access";
  }
  std::string Description() const override {
    return "this computer through torvacin-access";
  }
  int ProcessorCount() const override {
    return static_cast<int>(cpus_.size());
  }

  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    const Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    std::uint32_t r[4] = {};
    if (c->Cpuid >= 0) {
      if (pread(c->Cpuid, r, sizeof r, static_cast<off_t>(leaf)) !=
          static_cast<ssize_t>(sizeof r)) {
        return OsCode(errno);
      }
    } else if (!HasCpuid()) {
      return kErrNoCpuid;
    } else if (!CpuidOnThread(cpu - 1, leaf, r)) {
      return kErrCpuUnreachable;
    }
    eax = r[0];
    ebx = r[1];
    ecx = r[2];
    edx = r[3];
    return 0;
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    const Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    if (c->Msr < 0) return OsCode(c->MsrErrno);
    std::uint64_t v = 0;
    const ssize_t n = pread(c->Msr, &v, sizeof v, static_cast<off_t>(reg));
    if (n != static_cast<ssize_t>(sizeof v)) return OsCode(n < 0 ? errno : EIO);
    value = v;
    return 0;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    const Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    if (c->Msr < 0) return OsCode(c->MsrErrno);
    const ssize_t n = pwrite(c->Msr, &value, sizeof value, static_cast<off_t>(reg));
    if (n != static_cast<ssize_t>(sizeof value)) return OsCode(n < 0 ? errno : EIO);
    return 0;
  }

  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    if (!PortOpen(port)) return OsCode(portErrno_ != 0 ? portErrno_ : EPERM);
    value = PortInByte(port);
    return 0;
  }

  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    if (!PortOpen(port)) return OsCode(portErrno_ != 0 ? portErrno_ : EPERM);
    PortOutByte(port, value);
    return 0;
  }

  std::unique_ptr<RegisterLock> AnalysisLock() override {
    if (cpus_.empty()) return std::make_unique<DescriptorLock>(runLock_, -1, ENOENT);
    return std::make_unique<DescriptorLock>(runLock_, cpus_[0].Msr, cpus_[0].MsrErrno);
  }

  // The helper measures no clock. The flag test runs on a thread bound to
  // the processor, as the program's analysis thread is: the Cyrix
  // identification takes its port path only where the program does.
  std::uint32_t ClockCount(int, std::uint32_t&) override {
    return kErrInvalidFunction;
  }
  bool DivisionLeavesFlags(int cpu) override {
    bool leaves = false;
    int err = 0;
    return RunPinned(
               cpu - 1, [&] { leaves = DivisionLeavesFlagsHere(); }, err) &&
           leaves;
  }
  bool OutlivesProgram() const override {
    return true;
  }
  bool BindsHostThreads() const override {
    return true;
  }
  std::string DescribeError(std::uint32_t lastError) const override {
    if (lastError > kErrOsBase && lastError < kErrOsBase + 0x10000u) {
      return std::strerror(static_cast<int>(lastError - kErrOsBase));
    }
    return "";
  }

 private:
  struct Cpu {
    int Msr = -1;
    int MsrErrno = 0;
    int Cpuid = -1;
  };

  const Cpu* Find(int cpu) const {
    if (cpu < 1 || cpu > static_cast<int>(cpus_.size())) return nullptr;
    return &cpus_[static_cast<std::size_t>(cpu - 1)];
  }

  bool PortOpen(std::uint16_t port) const {
    return portErrno_ == 0 && port >= kFirstPort && port < kFirstPort + kPortCount;
  }

  // Whether this processor has CPUID at all: a 486 without it (where the
  // kernel's cpuid device refuses to open) ends a program that runs it with
  // an illegal instruction. cpuid.h tests whether the ID flag can change.
  static bool HasCpuid() {
#if TORV_ACCESS_X86
    return __get_cpuid_max(0, nullptr) != 0;
#else
    return true;
#endif
  }

  // Without the cpuid device, the instruction on a thread bound to the
  // processor alone.
  static bool CpuidOnThread(int hostCpu, std::uint32_t leaf, std::uint32_t (&r)[4]) {
#if TORV_ACCESS_X86
    int err = 0;
    return RunPinned(
        hostCpu,
        [&] {
          unsigned a = 0, b = 0, c = 0, d = 0;
          __cpuid_count(leaf, 0, a, b, c, d);
          r[0] = a;
          r[1] = b;
          r[2] = c;
          r[3] = d;
        },
        err);
#else
    (void)hostCpu;
    (void)leaf;
    (void)r;
    return false;
#endif
  }

  std::vector<Cpu> cpus_;
  int portErrno_ = 0;
  int runLock_ = -1;  // the run folder's lock file, -1 when it did not open
};

std::string Failed(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// The user and group numbers of `name` in /etc/passwd, read directly (no
// name service: the Pentium II build is static); false when there is none.
bool FindSystemUser(const char* name, uid_t& uid, gid_t& gid) {
  const int fd = open("/etc/passwd", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 && text.size() < (1u << 22)) {
    text.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  const std::string prefix = std::string(name) + ":";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    // name:password:uid:gid:...
    const std::size_t u = line.find(':', prefix.size());
    const std::size_t g = u == std::string::npos ? u : line.find(':', u + 1);
    const std::size_t e = g == std::string::npos ? g : line.find(':', g + 1);
    if (e == std::string::npos) return false;
    char* stop = nullptr;
    const unsigned long uu = std::strtoul(line.c_str() + u + 1, &stop, 10);
    if (stop != line.c_str() + g) return false;
    const unsigned long gg = std::strtoul(line.c_str() + g + 1, &stop, 10);
    if (stop != line.c_str() + e) return false;
    // Never root, and never a user with root's group.
    if (uu == 0 || gg == 0 || uu > 0xFFFFFFFEul || gg > 0xFFFFFFFEul) return false;
    uid = static_cast<uid_t>(uu);
    gid = static_cast<gid_t>(gg);
    return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<Machine> OpenAccessDevices() {
  return std::make_shared<AccessDevices>();
}

bool DropAccessPrivileges(std::string& error) {
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    error = Failed("no new privileges");
    return false;
  }
  const bool root = geteuid() == 0;
  if (root) {
    // Empty the bounding set while the right to do so is still held; a
    // capability the kernel does not know ends the loop.
    for (unsigned long cap = 0; cap < 64; ++cap) {
      if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) {
        if (errno == EINVAL) break;
        error = Failed("capability bounding set");
        return false;
      }
    }
    // A user of its own, which no other process runs as: no one else may
    // signal or trace the helper.
    uid_t uid = 0;
    gid_t gid = 0;
    if (!FindSystemUser(kAccessUser, uid, gid)) {
      error = std::string("no system user ") + kAccessUser +
              " (the package makes it; after cmake --install, as root: adduser --system "
              "--group --no-create-home --home /nonexistent " +
              kAccessUser + ")";
      return false;
    }
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
      error = Failed((std::string("changing to user ") + kAccessUser).c_str());
      return false;
    }
  }
  // Ambient capabilities are unknown to old kernels (EINVAL): nothing to clear.
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
    error = Failed("ambient capabilities");
    return false;
  }
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capset, &header, data) != 0) {
    error = Failed("dropping capabilities");
    return false;
  }
  // Check that nothing is left.
  __user_cap_data_struct left[2] = {};
  if (syscall(SYS_capget, &header, left) != 0) {
    error = Failed("reading capabilities");
    return false;
  }
  for (const auto& d : left) {
    if (d.effective != 0 || d.permitted != 0 || d.inheritable != 0) {
      error = "capabilities remain after dropping them";
      return false;
    }
  }
  if (root && (getuid() == 0 || geteuid() == 0 || getgid() == 0 || getegid() == 0)) {
    error = std::string("still root after changing to user ") + kAccessUser;
    return false;
  }
  // No core dump and no tracing by the new user's other processes.
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    error = Failed("dumpable flag");
    return false;
  }
  return true;
}

}  // namespace torv
