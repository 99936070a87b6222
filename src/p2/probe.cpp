// The analysis thread's body: identification, clock, the Pentium II registers,
// the ECC presence test, the memory type ranges and the ECC on/off pass; and
// the eight simulated configurations of /TEST=.
// Step one of probe -> record -> facts -> report -> verdict (see p2info.h).
#include <cstdint>
#include <iterator>

#include "cpu/cpuinfo.h"
#include "driver/hw.h"
#include "driver/journal.h"
#include "machine/machine.h"
#include "p2/p2info.h"
#include "p2/p2text.h"

namespace torv {

namespace {

using p2text::HasEccEntry;

constexpr std::uint32_t kCtl3EccBit = 1u << kCtl3Ecc.Lsb;  // BBL_CR_CTL3: ECC checking on

// One simulated configuration: the fields that differ from the common ones
// (kKeep: the common value stays).
constexpr int kKeep = -1;
struct TestCase {
  double ClockHz;
  int Model, Stepping, L2KB;
  std::int64_t Ctl3Lo;
  bool L2Present, EccPresent, EccEnabled;
  std::uint8_t RatioCode;
  int Bus100;
};

constexpr TestCase kTestCases[] = {
    {300'400'000.0, kKeep, kKeep, kKeep, kKeep, true, false, false, 6, kKeep},
    {300'400'000.0, kKeep, kKeep, kKeep, kKeep, true, true, true, 6, kKeep},
    {300'400'000.0, kKeep, kKeep, kKeep, kKeep, true, false, false, 2, kKeep},
    {250'000'000.0, kKeep, kKeep, kKeep, kKeep, true, false, false, 2, kKeep},
    {266'000'000.0, 5, 1, 0, 0x804501, false, false, false, 2, kKeep},
    {333'000'000.0, 6, 1, 128, kKeep, true, true, true, 0, kKeep},
    {350'000'000.0, 5, 0, 512, kKeep, true, true, false, 5, kKeep},
    {450'000'000.0, 5, 2, 512, kKeep, true, true, true, 6, 1},
};
static_assert(std::size(kTestCases) == 8, "one case per /TEST=1..8");

// The cache controller's registers that the ECC test and the cache
// transactions change besides BBL_CR_CTL3 (which the ECC test puts back
// itself): the address, the four data registers, the ECC register and the
// control register. Read before the first change; Finish writes back each
// one that no longer holds the value found, so that nothing is written
// where nothing changed (an msr device that refuses writes changed nothing).
// A scope left without Finish (a register failure that ends the thread) does
// the same quietly, as far as the driver takes it.
class CacheControllerRestore {
 public:
  explicit CacheControllerRestore(const P2Context& ctx) : ctx_(ctx) {
    for (Saved& s : saved_) ReadMsr(ctx_, s.Reg, s.Lo, s.Hi);
  }
  ~CacheControllerRestore() {
    if (done_) return;
    for (const Saved& s : saved_) {
      std::uint32_t lo = 0, hi = 0, status = 0;
      ReadMsrRaw(ctx_, s.Reg, lo, hi, status);
      if (status != 0 || lo != s.Lo || hi != s.Hi) WriteMsrRaw(ctx_, s.Reg, s.Lo, s.Hi, status);
    }
  }
  CacheControllerRestore(const CacheControllerRestore&) = delete;
  // The values found, for the journal.
  void AddTo(RegisterJournal& journal) const {
    for (const Saved& s : saved_) {
      journal.Entries.push_back(
          {JournalEntry::Register, s.Reg, std::uint64_t{s.Hi} << 32 | s.Lo});
    }
  }
  CacheControllerRestore& operator=(const CacheControllerRestore&) = delete;

  // A failed access ends the program after the other registers (exit code
  // 8 for a read, 7 for a write).
  void Finish() {
    done_ = true;
    int fatal = 0;
    for (const Saved& s : saved_) {
      std::uint32_t lo = 0, hi = 0;
      if (!ReadMsrChecked(ctx_, s.Reg, lo, hi)) {
        if (fatal == 0) fatal = kExitMsrRead;
      } else if ((lo != s.Lo || hi != s.Hi) && !WriteMsrChecked(ctx_, s.Reg, s.Lo, s.Hi)) {
        if (fatal == 0) fatal = kExitMsrWrite;
      }
    }
    if (fatal != 0) MsrFailureEnd(ctx_, fatal);
  }

 private:
  struct Saved {
    std::uint32_t Reg;
    std::uint32_t Lo = 0, Hi = 0;
  };
  P2Context ctx_;
  Saved saved_[7] = {{kMsrBblAddr},   {kMsrBblD0},   {kMsrBblD0 + 1}, {kMsrBblD0 + 2},
                     {kMsrBblD0 + 3}, {kMsrBblDecc}, {kMsrBblCtl}};
  bool done_ = false;
};

// Whether the machine holds register `reg` of processor `proc`: a published
// dump may not, and a register it lacks is not read.
bool Holds(const P2Context& ctx, int proc, std::uint32_t reg) {
  return !ctx.machine || ctx.machine->HoldsMsr(proc, reg);
}

// A register the machine holds is read; one it lacks reads as zero and is
// noted in `gap`.
void ReadHeld(const P2Context& ctx, int proc, std::uint32_t reg, std::uint32_t& lo,
              std::uint32_t& hi, bool& gap) {
  gap = !Holds(ctx, proc, reg);
  lo = hi = 0;
  if (!gap) ReadMsr(ctx, reg, lo, hi);
}

// The nine cache configuration registers; false after a failed read.
bool ReadL2Regs(const P2Context& ctx, int proc) {
  TP2Info& info = ctx.p2.P2Info;
  if (ctx.machine && !ctx.machine->HoldsL2Config(proc)) {
    ctx.p2.NotInDump.L2Regs = true;
    info.L2Regs = {};
    return true;
  }
  for (std::uint32_t r = 0; r <= 8; ++r) {
    info.L2Regs[r] = ReadL2Config(ctx, r, ctx.p2.L2ReadOk);
    if (!ctx.p2.L2ReadOk) return false;
  }
  return true;
}

void DecodePowerOn(TP2Info& info) {
  info.RatioCode = static_cast<std::uint8_t>(Bits(info.PowerOnLo, kPowerOnRatio));
  info.Bus100 = static_cast<std::uint8_t>(Bits(info.PowerOnLo, kPowerOnBus100));
  info.Bus133 = static_cast<std::uint8_t>(Bits(info.PowerOnLo, kPowerOnBus133));
  info.RatioPlus4 = static_cast<std::uint8_t>(Bits(info.PowerOnLo, kPowerOnRatioPlus4));
}

// A published dump without BBL_CR_CTL3: no ECC test and no cache transaction;
// whether a second-level cache is there is taken from CPUID leaf 2 (a
// descriptor 40h says none), for the ratio's use alone.
std::uint32_t ProbeDumpWithoutCtl3(const P2Context& ctx, int proc) {
  TP2Info& info = ctx.p2.P2Info;
  const TCpuInfo& cpu = info.Cpu;
  info.L2Present = !(cpu.CacheInfoValid && cpu.L2KB == 0);
  info.EccEnabled = false;
  info.EccPresent = false;
  ctx.p2.NotInDump.EccTest = true;
  DecodePowerOn(info);
  ctx.p2.L2AccessOk = true;
  ctx.p2.L2ReadOk = true;
  if (!ReadL2Regs(ctx, proc)) {
    ctx.p2.ProbeEnded = ProbeEnd::L2ConfigFailed;
    return kExitL2Config;
  }
  return kExitFinished;
}

// Pentium II family: BBL_CR_CTL3, the ECC presence test, the ratio and bus
// setting, and the nine cache configuration registers. Returns the exit code
// of an early end, or kExitFinished to go on.
std::uint32_t ProbePentiumII(const P2Context& ctx, int proc) {
  TP2Info& info = ctx.p2.P2Info;
  ReadHeld(ctx, proc, kMsrBblCtl3, info.Ctl3Lo, info.Ctl3Hi, ctx.p2.NotInDump.Ctl3);
  if (ctx.p2.NotInDump.Ctl3) return ProbeDumpWithoutCtl3(ctx, proc);
  info.L2Present = Bits(info.Ctl3Lo, kCtl3L2Disabled) == 0;
  info.EccEnabled = Bits(info.Ctl3Lo, kCtl3Ecc) != 0;
  // A dump that cannot say whether the SRAMs store ECC bits gets no test.
  ctx.p2.NotInDump.EccTest = ctx.machine && !ctx.machine->HoldsEccTest(proc);
  // From here until the cache controller is as it was found, a signal that
  // would end the program waits; every way out puts the registers back.
  HeldSection held(ctx);
  CacheControllerRestore restore(ctx);
  // What was found goes to the journal before the first change, so that a
  // kill that no signal announces leaves it for the next analysis.
  RegisterJournal found;
  found.Cpu = ctx.hw.CurrentCpu;
  found.Sequence = "cache controller";
  found.Entries.push_back(
      {JournalEntry::Register, kMsrBblCtl3, std::uint64_t{info.Ctl3Hi} << 32 | info.Ctl3Lo});
  restore.AddTo(found);
  JournalScope journal(ctx, found);
  ctx.p2.L2AccessOk = true;
  if (info.L2Present && !ctx.settings.OptNoL2 && !ctx.p2.NotInDump.EccTest) {
    info.EccPresent = L2EccTest(ctx, ctx.p2.L2AccessOk);
  } else {
    info.EccPresent = false;
  }
  DecodePowerOn(info);
  std::uint32_t code = kExitFinished;
  ctx.p2.L2ReadOk = true;
  if (!ctx.p2.L2AccessOk) {
    ctx.p2.ProbeEnded = ProbeEnd::EccTestFailed;
    code = kExitL2Access;
  } else if (!ReadL2Regs(ctx, proc)) {
    // Read whether or not a cache is present.
    ctx.p2.ProbeEnded = ProbeEnd::L2ConfigFailed;
    code = kExitL2Config;
  }
  restore.Finish();
  journal.Close();
  held.End();
  return code;
}

// Pentium Pro: no BBL_CR_CTL3 to read; a fixed picture of its cache.
void ProbePentiumPro(const P2Context& ctx) {
  TP2Info& info = ctx.p2.P2Info;
  info.L2Present = true;
  info.Ctl3Lo = 0;
  info.L2Regs[3] = 3;
  ctx.settings.VerdictOn = false;
  info.RatioCode = 1;
  info.RatioPlus4 = 0;
  info.Bus133 = 0;
}

// MTRRcap and the variable ranges it counts; a dump that lacks any of them
// gives none.
void ReadMtrrs(const P2Context& ctx, int proc) {
  TP2Info& info = ctx.p2.P2Info;
  bool gap = false;
  ReadHeld(ctx, proc, kMsrMtrrCap, info.MtrrCapLo, info.MtrrCapHi, gap);
  const std::uint32_t n = Bits(info.MtrrCapLo, kMtrrCapCount);
  for (std::uint32_t i = 0; i < n && !gap; ++i) {
    gap = !Holds(ctx, proc, kMsrMtrrBase0 + 2 * i) || !Holds(ctx, proc, kMsrMtrrBase0 + 2 * i + 1);
  }
  ctx.p2.NotInDump.Mtrrs = gap;
  if (gap) {
    info.MtrrCapLo = info.MtrrCapHi = 0;
    info.VarMtrr = {};
    return;
  }
  for (std::uint32_t i = 0; i < n; ++i) {
    TMtrrPair& p = info.VarMtrr[i];
    ReadMsr(ctx, kMsrMtrrBase0 + 2 * i, p.BaseLo, p.BaseHi);
    ReadMsr(ctx, kMsrMtrrBase0 + 2 * i + 1, p.MaskLo, p.MaskHi);
  }
}

}  // namespace

std::uint32_t WorkerThread(const P2Context& ctx, std::int32_t arg) {
  const int proc = static_cast<int>(static_cast<std::uint32_t>(arg) & 0x0F);
  const bool eccPass = arg >= 128;
  DrvSetCpu(ctx, static_cast<std::uint32_t>(proc));
  ctx.p2.ProbeEnded = ProbeEnd::Complete;
  ctx.p2.EccSkipped = EccPassSkip::None;
  ctx.p2.NotInDump = DumpGaps{};
  if (ctx.settings.TestNo >= 1 && ctx.settings.TestNo <= 8) {
    LoadTestCase(ctx);
    return kExitFinished;
  }
  ctx.platform.Sleep(10);

  TP2Info& info = ctx.p2.P2Info;
  IdentifyCpu(ctx, info.Cpu);
  if (ctx.hw.CpuidFault) return kExitCpuidFault;
  if (!info.Cpu.CpuidOk || Bits(info.Cpu.Features, kFeatTsc) == 0) return kExitNoCpuid;
  MeasureClock(ctx);
  info.CoreClock = ctx.hw.CpuClockHz;
  const bool pentiumII = info.Cpu.ClassCode == kClassPentiumII;
  if (!pentiumII && info.Cpu.ClassCode != kClassPPro) return kExitNotP6;

  // ECC on/off pass. Only a Pentium II family processor has a BBL_CR_CTL3
  // value read from the chip to write back (the Pentium Pro record holds a
  // made-up 0), and only processors 1 to 4 have an /ECC= entry.
  const bool eccAsked =
      eccPass && HasEccEntry(proc) && ctx.settings.EccMode[proc] != kNoEccPass;

  // From the first register read to the last write, this computer's
  // registers are this analysis's alone. The back-end learns first which
  // sequence follows (torvacin-access carries it out whole).
  SequencePlan plan;
  plan.Cpu = proc;
  plan.EccTest = !ctx.settings.OptNoL2;
  plan.EccMode = eccAsked ? ctx.settings.EccMode[proc] : kNoEccPass;
  if (ctx.machine) ctx.machine->Expect(plan);
  const RegisterSession session(ctx);
  DumpGaps& gaps = ctx.p2.NotInDump;
  ReadHeld(ctx, proc, kMsrPowerOn, info.PowerOnLo, info.PowerOnHi, gaps.PowerOn);
  ReadHeld(ctx, proc, kMsr1E0, info.Msr1E0Lo, info.Msr1E0Hi, gaps.Msr1E0);
  if (pentiumII) {
    const std::uint32_t code = ProbePentiumII(ctx, proc);
    if (code != kExitFinished) return code;
  } else {
    ProbePentiumPro(ctx);
  }
  ReadMtrrs(ctx, proc);

  // BBL_CR_CTL3 as read, and the ECC test's result where the mode needs it.
  const bool eccUnknown =
      eccAsked && (gaps.Ctl3 || (ctx.settings.EccMode[proc] == 1 && gaps.EccTest));
  if (eccAsked && !pentiumII) ctx.p2.EccSkipped = EccPassSkip::PentiumPro;
  if (eccAsked && pentiumII && eccUnknown) ctx.p2.EccSkipped = EccPassSkip::NotInDump;
  if (eccAsked && pentiumII && !eccUnknown && !info.L2Present) {
    ctx.p2.EccSkipped = EccPassSkip::NoCache;
  }
  if (eccAsked && pentiumII && !eccUnknown && info.L2Present) {
    const std::uint8_t mode = ctx.settings.EccMode[proc];
    ctx.settings.EccWas[proc] = info.EccEnabled ? 1 : 0;
    if (mode == 1 && !info.EccPresent) return kExitEccMissing;
    if (mode == 1 || mode == 2) {
      info.Ctl3Lo |= kCtl3EccBit;
    } else if (mode == 0) {
      info.Ctl3Lo &= ~kCtl3EccBit;
    }
    // The high half is written as zero, not as read.
    WriteMsr(ctx, kMsrBblCtl3, info.Ctl3Lo, 0);
    info.EccEnabled = Bits(info.Ctl3Lo, kCtl3Ecc) != 0;
  }
  return kExitFinished;
}

void LoadTestCase(const P2Context& ctx) {
  const std::uint8_t n = ctx.settings.TestNo;
  if (n < 1 || n > 8) return;
  TP2Info& info = ctx.p2.P2Info;
  info = TP2Info{};
  info.Msr1E0Lo = 0;
  info.Ctl3Lo = 0x4501;
  info.PowerOnLo = 0;
  info.RatioCode = 2;
  info.Bus100 = 0;
  info.MtrrCapLo = 8;
  TCpuInfo& cpu = info.Cpu;
  cpu.Vendor = "GenuineIntel";
  cpu.VendorCode = kVendorIntel;
  cpu.CpuidOk = true;
  cpu.CpuType = 0;
  cpu.Family = 6;
  cpu.Model = 3;
  cpu.Stepping = 3;
  cpu.CacheInfoValid = true;
  cpu.L2KB = 512;
  cpu.L1DataKB = 16;
  cpu.L1CodeKB = 16;
  cpu.ClassCode = kClassPentiumII;

  const TestCase& c = kTestCases[n - 1];
  ctx.hw.CpuClockHz = c.ClockHz;
  if (c.Model != kKeep) cpu.Model = static_cast<std::uint8_t>(c.Model);
  if (c.Stepping != kKeep) cpu.Stepping = static_cast<std::uint8_t>(c.Stepping);
  if (c.L2KB != kKeep) cpu.L2KB = static_cast<std::uint16_t>(c.L2KB);
  if (c.Ctl3Lo != kKeep) info.Ctl3Lo = static_cast<std::uint32_t>(c.Ctl3Lo);
  info.L2Present = c.L2Present;
  info.EccPresent = c.EccPresent;
  info.EccEnabled = c.EccEnabled;
  info.RatioCode = c.RatioCode;
  if (c.Bus100 != kKeep) info.Bus100 = static_cast<std::uint8_t>(c.Bus100);
}

}  // namespace torv
