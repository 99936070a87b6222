// The Pentium Pro / Pentium II facts and verdict flags from the probe record.
#include "p2/facts.h"

#include <iterator>

#include "driver/hw.h"

namespace torv {

namespace {

// All limits in Hz; every comparison is strict.
constexpr double kKlamath300Class = 280'000'000.0;
constexpr double kBus66Max = 67'400'000.0;
constexpr double kBus100Max = 102'000'000.0;
constexpr double kBand100Low = 98'000'000.0;
constexpr double kBus66Min = 64'000'000.0;
// The 133 MHz bus has the 100 MHz bus's band of 2 % either side.
constexpr double kBus133 = 400'000'000.0 / 3.0;
constexpr double kBus133Max = kBus133 * 1.02;
constexpr double kBand133Low = kBus133 * 0.98;
constexpr double kStepping0Limit = 340'000'000.0;
constexpr double kPart400 = 396'000'000.0;
constexpr double kPart450 = 445'000'000.0;

// Without a second-level cache the ratio cannot be read: the system clock is
// taken as the 66 MHz bus's.
constexpr double kSysClockWithoutL2 = 66'600'000.0;

constexpr Field kL2Reg0Csram{5, 5};
constexpr Field kPowerOnIoq1{13, 13};  // EBL_CR_POWERON: in-order queue depth 1
constexpr Field kL2Reg2BsramSize{7, 2};
constexpr Field kL2Reg2BsramBanks{1, 0};
constexpr Field kL2Reg2CsramSize{7, 6};
constexpr Field kL2Reg2CsramBanks{2, 0};

}  // namespace

Bus BusSetting(const TP2Info& info) {
  if (info.Bus100 == 0) return info.Bus133 == 0 ? Bus::Mhz66 : Bus::Mhz133;
  return info.Bus133 == 0 ? Bus::Mhz100 : Bus::Unknown;
}

double RatioFromCode(std::uint8_t code, std::uint8_t model) {
  static constexpr double kRatios[] = {5.0, 3.0, 4.0, 2.0, 5.5, 3.5, 4.5, 2.5,
                                       2.0, 7.0, 8.0, 6.0, 2.0, 7.5, 1.5, 6.5};
  static_assert(std::size(kRatios) == 16, "one ratio per 4-bit code");
  if ((code == 0 || code == 4) && model == 3) return 2.0;
  return kRatios[code & 0x0F];
}

P6Facts WorkOutFacts(const TP2Info& info, bool registersRead, double coreHz,
                     const P6Facts& earlier) {
  const TCpuInfo& cpu = info.Cpu;
  P6Facts f = earlier;
  if (cpu.ClassCode == kClassPentiumII) {
    f.Overdrive = cpu.CpuType == 1;
    // Cache register 0 left over from an earlier run says nothing.
    f.Csram = registersRead && Bits(info.L2Regs[0], kL2Reg0Csram) != 0;
  }
  f.CacheableMByte = 512u << Bits(info.Ctl3Lo, kCtl3CacheableArea);
  f.BusRatio = RatioFromCode(info.RatioCode, cpu.Model) + (info.RatioPlus4 != 0 ? 4.0 : 0.0);
  if (f.Overdrive) f.BusRatio = 5.0;
  f.IoqDepth = Bits(info.PowerOnLo, kPowerOnIoq1) != 0 ? 1 : 8;
  f.SysClockHz = info.L2Present ? coreHz / f.BusRatio : kSysClockWithoutL2;
  return f;
}

P6Facts FactsOf(const P2State& p) {
  P6Facts f;
  f.Overdrive = p.FlagOverdrive;
  f.Csram = p.IsCsram;
  f.BusRatio = p.BusRatio;
  f.SysClockHz = p.SysClockHz;
  f.IoqDepth = p.IoqDepth;
  f.CacheableMByte = p.CacheableMByte;
  return f;
}

void StoreFacts(P2State& p, const P6Facts& f) {
  p.FlagOverdrive = f.Overdrive;
  p.IsCsram = f.Csram;
  p.BusRatio = f.BusRatio;
  p.SysClockHz = f.SysClockHz;
  p.IoqDepth = f.IoqDepth;
  p.CacheableMByte = f.CacheableMByte;
}

L2SizeBanks L2SizeAndBanks(std::uint8_t reg2, bool csram) {
  if (csram) {
    static constexpr const char* kCsramSizes[] = {"512 KByte", "1 MByte", "2 MByte", "4 MByte"};
    return {kCsramSizes[Bits(reg2, kL2Reg2CsramSize)],
            static_cast<std::int32_t>(Bits(reg2, kL2Reg2CsramBanks)) + 1};
  }
  const char* size = nullptr;
  switch (Bits(reg2, kL2Reg2BsramSize)) {
    case 1:
      size = "256 KByte";
      break;
    case 2:
      size = "512 KByte";
      break;
    case 4:
      size = "1 MByte";
      break;
    case 8:
      size = "2 MByte";
      break;
    case 16:
      size = "4 MByte";
      break;
    default:
      break;
  }
  return {size, static_cast<std::int32_t>(Bits(reg2, kL2Reg2BsramBanks)) + 1};
}

VerdictFlags Judge(const TP2Info& info, const P6Facts& facts, double coreHz, bool eccKnown,
                   bool registersRead, const DumpGaps& gaps) {
  const TCpuInfo& cpu = info.Cpu;
  const double core = coreHz;
  const double sys = facts.SysClockHz;
  // An unknown bus setting gives no bus check; an unmeasured clock (0) no
  // clock check.
  const Bus bus = BusSetting(info);
  const bool measured = core != 0.0;
  // Without EBL_CR_POWERON there is no bus setting and no ratio to judge by.
  const bool ratioRead = !gaps.PowerOn;
  const bool bus66 = bus == Bus::Mhz66;
  const bool bus100 = bus == Bus::Mhz100;
  const bool bus133 = bus == Bus::Mhz133;

  VerdictFlags v;
  // Ratio code 6 is 4.5, which gives 300 MHz on the 66 MHz bus. Without an
  // ECC result of this run there is no statement on ECC, and the 300 MHz rule
  // cannot be decided where it applies.
  v.Klamath300 =
      cpu.Model == 3 && ((ratioRead && info.RatioCode == 6) || core > kKlamath300Class);
  v.Fake300 = eccKnown && v.Klamath300 && !info.EccPresent;
  v.ClockHigh = measured && ratioRead &&
                ((bus66 && sys > kBus66Max) || (bus100 && sys > kBus100Max) ||
                 (bus133 && sys > kBus133Max));
  v.Not100On66 = !(ratioRead && bus66 && kBand100Low < sys && sys < kBus100Max);
  v.ClockLow =
      measured && ratioRead &&
      ((bus66 && sys < kBus66Min) ||
       (((bus100 && sys < kBand100Low) || (bus133 && sys < kBand133Low)) && info.L2Present));
  v.Stepping0Fake = core > kStepping0Limit && cpu.Model == 5 && cpu.Stepping == 0;
  // Genuine 400/450 MHz parts of steppings 1 and 2 also run jumpered for
  // 300/350 MHz. The ratios are compared for equality; they are exact. The
  // cache type rests on cache register 0, so it needs this run's reading.
  const bool part400 = facts.BusRatio == 4.0 && core > kPart400;
  const bool part450 = facts.BusRatio == 4.5 && core > kPart450;
  v.ClockChecked = measured;
  v.BusChecked = bus != Bus::Unknown;
  v.JumperCaution = registersRead && ratioRead && !gaps.L2Regs && !gaps.Ctl3 && info.L2Present &&
                    cpu.Model == 5 &&
                    (cpu.Stepping == 1 || cpu.Stepping == 2) && !facts.Csram &&
                    (part400 || part450);
  return v;
}

}  // namespace torv
