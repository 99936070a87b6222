// The simulated machine: CPUID answers, the P6 model-specific register file
// with the second-level cache controller and its transaction engine, the
// time-stamp counter at the profile's clock, the Cyrix configuration
// registers and the interrupt controller's mask port.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/sim.h"
#include "platform/files.h"
#include "report/utility.h"

namespace torv {

namespace {

constexpr std::uint8_t kCcr3 = 0xC3;
constexpr std::uint8_t kCcr4 = 0xE8;

// The last error of a CPUID request that fails once (profile setting
// cpuidfail): a read error, as the cpuid device gives one.
constexpr std::uint32_t kErrCpuidRead = kErrOsBase | EIO;

// Cache controller commands the engine carries out.
constexpr std::uint32_t kL2ReadConfig = 0x02;
constexpr std::uint32_t kL2ReadLine = 0x0E;
constexpr std::uint32_t kL2WriteLine = 0x1C;

// The time a slow cache controller takes for one transaction, in steps of
// at most 10 ms, cut short when `stop` says so.
void Pause(std::uint32_t ms, const std::function<bool()>& stop) {
  while (ms > 0) {
    if (stop && stop()) return;
    const std::uint32_t step = ms < 10 ? ms : 10;
    ms -= step;
#ifdef _WIN32
    ::Sleep(step);
#else
    timespec left{0, static_cast<long>(step) * 1'000'000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
#endif
  }
}

// A configuration register index that the Cyrix bank decodes: CCR0 to CCR3
// and the address ranges (C0h-CFh), CCR4 to CCR7 (E8h-EBh), DIR0 and DIR1.
bool InCyrixBank(std::uint8_t index) {
  return (index >= 0xC0 && index <= 0xCF) || (index >= 0xE8 && index <= 0xEB) || index >= 0xFE;
}

class SimMachine : public Machine {
 public:
  // The processors move into the machine: the profile's tables are held once.
  explicit SimMachine(SimProfile p) : cyrix_(p.CyrixRegs) {
    for (SimProcessor& proc : p.Processors) cpus_.push_back(Cpu{std::move(proc), {}, {}, 0});
    p.Processors.clear();
    for (std::size_t i = 0; i < cyrix_.size(); ++i) {
      named_[i] = p.CyrixBank && (InCyrixBank(static_cast<std::uint8_t>(i)) || p.CyrixRegs[i] != 0);
    }
    profile_ = std::move(p);
  }

  void SetWaitBreaker(std::function<bool()> breaker) override { breaker_ = std::move(breaker); }

  std::string Name() const override { return profile_.Name; }
  std::string Description() const override { return profile_.Description; }
  int ProcessorCount() const override { return static_cast<int>(cpus_.size()); }

  std::uint32_t Cpuid(int cpu, std::uint32_t leaf, std::uint32_t& eax, std::uint32_t& ebx,
                      std::uint32_t& ecx, std::uint32_t& edx) override {
    Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    ++c->CpuidRequests;
    if (c->CpuidRequests == c->Config.CpuidFailsAt) return kErrCpuidRead;
    const SimCpuidMode mode = c->Config.CpuidMode;
    if (mode == SimCpuidMode::Off || (mode == SimCpuidMode::Cyrix && (cyrix_[kCcr4] & 0x80) == 0)) {
      return kErrNoCpuid;
    }
    const std::array<std::uint32_t, 4>* found = c->Config.FindCpuid(leaf);
    const std::array<std::uint32_t, 4> r = found ? *found : std::array<std::uint32_t, 4>{};
    eax = r[0];
    ebx = r[1];
    ecx = r[2];
    edx = r[3];
    return 0;
  }

  std::uint32_t ReadMsr(int cpu, std::uint32_t reg, std::uint64_t& value) override {
    Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    if (c->Config.MsrDenied) return Denied(false);
    std::uint64_t* v = Register(*c, reg);
    if (v == nullptr) return Fault(reg);
    value = *v;
    if (reg == kMsrBblBusy) value = c->Config.L2BusyStuck ? 1 : 0;
    return 0;
  }

  std::uint32_t WriteMsr(int cpu, std::uint32_t reg, std::uint64_t value) override {
    Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    if (c->Config.MsrDenied) return Denied(false);
    if (c->Config.MsrReadOnly) return Denied(true);
    std::uint64_t* v = Register(*c, reg);
    if (v == nullptr || reg == kMsrMtrrCap) return Fault(reg);  // MTRRcap is read-only
    if (reg == kMsrBblBusy) return 0;  // the status is the controller's own
    *v = value;
    if (reg == kMsrBblTrig) Transaction(*c);
    return 0;
  }

  std::uint32_t PortIn(std::uint16_t port, std::uint8_t& value) override {
    value = 0xFF;  // nothing decodes the port: the bus floats
    if (port == 0x21) {
      value = picMask_;
    } else if (profile_.PicMirrored && (port == 0x22 || port == 0x23)) {
      value = port == 0x23 ? picMask_ : 0x00;
    } else if (profile_.CyrixBank && port == 0x23 && Open(index_)) {
      value = cyrix_[index_];
    }
    return 0;
  }

  std::uint32_t PortOut(std::uint16_t port, std::uint8_t value) override {
    if (port == 0x21) {
      picMask_ = value;
    } else if (profile_.PicMirrored && (port == 0x22 || port == 0x23)) {
      if (port == 0x23) picMask_ = value;  // 22h takes interrupt controller commands
    } else if (profile_.CyrixBank && port == 0x22) {
      index_ = value;
    } else if (profile_.CyrixBank && port == 0x23 && Open(index_)) {
      cyrix_[index_] = value;
    }
    return 0;
  }

  std::uint32_t ClockCount(int cpu, std::uint32_t& cycles) override {
    Cpu* c = Find(cpu);
    if (c == nullptr) return kErrCpuUnreachable;
    cycles =
        static_cast<std::uint32_t>(std::llround(static_cast<double>(c->Config.ClockHz) / 18.206));
    return 0;
  }

  bool DivisionLeavesFlags(int cpu) override {
    const Cpu* c = Find(cpu);
    return c != nullptr && c->Config.DivFlagsUnchanged;
  }

  bool BindsHostThreads() const override { return false; }

  bool HoldsMsr(int cpu, std::uint32_t reg) const override {
    const Cpu* c = Find(cpu);
    return c == nullptr || c->Config.HoldsMsr(reg);
  }
  bool HoldsL2Config(int cpu) const override {
    const Cpu* c = Find(cpu);
    return c == nullptr || !c->Config.FromDump || c->Config.DumpL2Config;
  }
  bool HoldsEccTest(int cpu) const override {
    const Cpu* c = Find(cpu);
    return c == nullptr || !c->Config.FromDump || c->Config.DumpEccTest;
  }

  std::string DescribeError(std::uint32_t lastError) const override {
    switch (lastError) {
      case kErrAccessDenied:
        return writeDenied_ ? "register write denied (the msr device allows no writes)"
                            : "register access denied (run as root)";
      case kErrRegisterFault:
        return "model-specific register " + HexDword(faultReg_) +
               " does not exist on this processor (general protection fault)";
      case kErrNoCpuid:
        return "the processor does not execute CPUID (invalid opcode)";
      case kErrCpuidRead:
        return std::string("the CPUID request failed: ") + std::strerror(EIO);
      default:
        return "";
    }
  }

 private:
  struct Line {
    std::array<std::uint64_t, 4> Data{};
    std::uint32_t Ecc = 0;
  };
  struct Cpu {
    SimProcessor Config;
    // The registers touched since power-on, with their values now; the rest
    // still hold what the profile gives.
    std::map<std::uint32_t, std::uint64_t> Msr;
    std::map<std::uint32_t, Line> Lines;  // by set and way
    std::uint32_t CpuidRequests = 0;      // CPUID requests so far
  };

  // A register of the processor's file, null when it has no such register.
  static std::uint64_t* Register(Cpu& c, std::uint32_t reg) {
    if (const auto it = c.Msr.find(reg); it != c.Msr.end()) return &it->second;
    const std::uint64_t* given = c.Config.FindMsr(reg);
    if (given == nullptr) return nullptr;
    return &c.Msr.emplace(reg, *given).first->second;
  }

  Cpu* Find(int cpu) {
    if (cpu < 1 || cpu > static_cast<int>(cpus_.size())) return nullptr;
    return &cpus_[static_cast<std::size_t>(cpu - 1)];
  }
  const Cpu* Find(int cpu) const { return const_cast<SimMachine*>(this)->Find(cpu); }

  std::uint32_t Denied(bool write) {
    writeDenied_ = write;
    return kErrAccessDenied;
  }

  std::uint32_t Fault(std::uint32_t reg) {
    faultReg_ = reg;
    return kErrRegisterFault;
  }

  // CCR4 to CCR7 answer only while CCR3 bit 4 opens them; reads are FFh and
  // writes are lost otherwise.
  bool Open(std::uint8_t index) const {
    if (!named_[index]) return false;
    if (index >= 0xE8 && index <= 0xEB) return (cyrix_[kCcr3] & 0x10) != 0;
    return true;
  }

  // A register the cache controller's engine uses: taken as it is, or made
  // (zero) in a profile whose processor lacks it.
  static std::uint64_t& Reg(Cpu& c, std::uint32_t reg) {
    std::uint64_t* v = Register(c, reg);
    return v != nullptr ? *v : c.Msr[reg];
  }

  // The write to BBL_CR_TRIG starts the command in BBL_CR_CTL bits 0-4; the
  // engine finishes after the profile's l2delay (BBL_CR_BUSY reads 0 unless
  // it is stuck).
  void Transaction(Cpu& c) {
    Pause(c.Config.L2DelayMs, breaker_);
    std::uint64_t& addr = Reg(c, kMsrBblAddr);
    const auto ctl = static_cast<std::uint32_t>(Reg(c, kMsrBblCtl));
    const std::uint32_t command = ctl & 0x1F;
    const std::uint32_t way = (ctl >> 8) & 3;
    const std::uint32_t set = (static_cast<std::uint32_t>(addr) >> 5) & 0x3FFF;
    const std::uint32_t key = set << 2 | way;
    switch (command) {
      case kL2ReadConfig: {
        const std::uint32_t r = (static_cast<std::uint32_t>(addr) >> 5) & 0xF;
        const std::uint64_t v = r < c.Config.L2Reg.size() ? c.Config.L2Reg[r] : 0;
        addr = (addr & ~(std::uint64_t{0xFF} << 21)) | v << 21;
        break;
      }
      case kL2WriteLine: {
        Line& line = c.Lines[key];
        for (std::uint32_t i = 0; i < 4; ++i) line.Data[i] = Reg(c, kMsrBblD0 + i);
        // One ECC byte for each of the four data words.
        line.Ecc = static_cast<std::uint32_t>(Reg(c, kMsrBblDecc));
        break;
      }
      case kL2ReadLine: {
        const auto it = c.Lines.find(key);
        const Line line = it == c.Lines.end() ? Line{} : it->second;
        for (std::uint32_t i = 0; i < 4; ++i) Reg(c, kMsrBblD0 + i) = line.Data[i];
        // SRAMs without ECC bits give nothing back for them.
        Reg(c, kMsrBblDecc) = c.Config.L2Ecc ? line.Ecc : 0;
        break;
      }
      default:
        break;
    }
  }

  SimProfile profile_;
  std::function<bool()> breaker_;
  std::vector<Cpu> cpus_;
  std::array<std::uint8_t, 256> cyrix_;
  std::array<bool, 256> named_{};
  std::uint8_t index_ = 0;
  std::uint8_t picMask_ = kSimPicMask;
  std::uint32_t faultReg_ = 0;
  bool writeDenied_ = false;
};

std::string FileName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::shared_ptr<Machine> MakeSimMachine(const SimProfile& profile) {
  if (profile.Processors.empty()) return nullptr;
  return std::make_shared<SimMachine>(profile);
}

std::shared_ptr<Machine> MakeSimMachine(SimProfile&& profile) {
  if (profile.Processors.empty()) return nullptr;
  return std::make_shared<SimMachine>(std::move(profile));
}

std::shared_ptr<Machine> MakeSimMachine(const std::string& nameOrPath, std::string& error,
                                        std::string* note) {
  static constexpr std::string_view kHint = " (torvacin /SIM=? lists the catalogue)";
  error.clear();
  SimProfile profile;
  // A value with a "/" is always a path; anything else is first looked up in
  // the catalogue, whatever its case.
  const bool isPath = nameOrPath.find('/') != std::string::npos;
  if (!isPath) {
    if (const std::optional<CatalogueEntry> entry = FindCatalogueEntry(nameOrPath)) {
      if (!ParseProfile(entry->Profile, entry->Name, profile, error)) return nullptr;
      return MakeSimMachine(std::move(profile));
    }
  }
  if (nameOrPath.empty()) {
    error = "no simulated machine named ''" + std::string(kHint);
    return nullptr;
  }
  // The largest published dumps (several hundred processors) are a few MB.
  constexpr std::size_t kMaxProfile = std::size_t{16} << 20;
  std::string text;
  int e = 0;
  std::string kind;
  switch (ReadRegularFile(nameOrPath, kMaxProfile, text, e, kind)) {
    case ReadResult::Ok:
      break;
    case ReadResult::Missing:
      error = isPath ? nameOrPath + ": no such profile file (" + std::strerror(e) + ")" +
                           std::string(kHint)
                     : nameOrPath + ": no catalogue entry and no profile file of that name" +
                           std::string(kHint);
      return nullptr;
    case ReadResult::CannotOpen:
      error = nameOrPath + ": cannot open the profile file (" + std::strerror(e) + ")";
      return nullptr;
    case ReadResult::NotRegular:
      error = nameOrPath + ": not a profile file: it is " + kind + ", not a regular file";
      return nullptr;
    case ReadResult::CannotRead:
      error = nameOrPath + ": cannot read the profile file (" + std::strerror(e) + ")";
      return nullptr;
    case ReadResult::TooLarge:
      error = nameOrPath + ": profile file larger than 16 MB";
      return nullptr;
  }
  const bool parsed = ParseProfile(text, nameOrPath, profile, error);
  text = std::string();  // the text is not needed beside the machine
  if (!parsed) return nullptr;
  profile.Name = FileName(nameOrPath);
  if (note != nullptr) *note = profile.Note;
  return MakeSimMachine(std::move(profile));
}

}  // namespace torv
