// The closing verdict of the Pentium II report: clock limits of the 66 and
// 100 MHz bus, the 300 MHz Klamath without ECC, the stepping-0 Deschutes above
// 333 MHz, and the jumper caution for 400/450 MHz Deschutes parts.
#include <string>

#include "world.h"
#include "p2/p2info.h"
#include "p2/p2text.h"
#include "report/utility.h"

namespace torv {

namespace {

using p2text::Bus;
using p2text::BusSetting;
using p2text::Cat;
using p2text::EndLine;
using p2text::Line;
using p2text::Write;

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

}  // namespace

void Verdict(World& w) {
  P2State& p = w.p2;
  const TP2Info& info = p.P2Info;
  const TCpuInfo& cpu = info.Cpu;
  const double core = w.hw.CpuClockHz;
  const double sys = p.SysClockHz;
  // An unknown bus setting gives no bus check; an unmeasured clock (0) no
  // clock check.
  const Bus bus = BusSetting(info);
  const bool measured = core != 0.0;
  const bool bus66 = bus == Bus::Mhz66;
  const bool bus100 = bus == Bus::Mhz100;
  const bool bus133 = bus == Bus::Mhz133;

  // Ratio code 6 is 4.5, which gives 300 MHz on the 66 MHz bus.
  // Without an ECC result of this run there is no statement on ECC, and the
  // 300 MHz rule cannot be decided where it applies.
  const bool eccKnown = EccResultRead(p);
  const bool klamath300 = cpu.Model == 3 && (info.RatioCode == 6 || core > kKlamath300Class);
  p.FlagFake300 = eccKnown && klamath300 && !info.EccPresent;
  p.FlagClockHigh = measured && ((bus66 && sys > kBus66Max) || (bus100 && sys > kBus100Max) ||
                                 (bus133 && sys > kBus133Max));
  p.FlagNot100On66 = !(bus66 && kBand100Low < sys && sys < kBus100Max);
  p.FlagClockLow = measured && ((bus66 && sys < kBus66Min) ||
                                (((bus100 && sys < kBand100Low) || (bus133 && sys < kBand133Low)) &&
                                 info.L2Present));

  if (!w.settings.VerdictOn) return;

  const LangRec& m = w.Msg();
  const auto& s = m.Sentences;
  bool allClear =
      !p.FlagFake300 && !p.FlagClockHigh && !p.FlagClockLow && (eccKnown || !klamath300);

  Write(w, Cat(m.HasDetected, "\t: "));
  Write(w, measured ? Cat("Pentium II ", RealStr(w.util, core * 1e-6, 1), " MHz") : "Pentium II");
  if (eccKnown) {
    Line(w, Cat(info.EccPresent ? m.With.view() : m.Without.view(), " ECC"));
  } else {
    EndLine(w);
  }
  EndLine(w);

  if (p.FlagClockHigh) {
    // Not FlagNot100On66: a 66 MHz part runs at about 100 MHz.
    Line(w, p.FlagNot100On66 ? s[ClockTooHigh] : s[AutoDetectOff]);
  }
  if (p.FlagClockLow) Line(w, s[ClockTooLow]);
  if (p.FlagFake300) {
    Line(w, s[Fake300Line1]);
    Line(w, s[Fake300Line2]);
    Line(w, s[Fake300Line3]);
    Line(w, s[Fake300Line4]);
    EndLine(w);
    Line(w, s[Notify1]);
  }
  if (core > kStepping0Limit && cpu.Model == 5 && cpu.Stepping == 0) {
    Line(w, s[FakeStepLine1]);
    Line(w, s[FakeStepLine2]);
    Line(w, s[FakeStepLine3]);
    Line(w, s[FakeStepLine4]);
    Line(w, s[Notify2]);
    allClear = false;
  }
  if (allClear) Line(w, Cat("\t:", s[NoIrregularities]));

  // Genuine 400/450 MHz parts of steppings 1 and 2 also run jumpered for
  // 300/350 MHz. The ratios are compared for equality; they are exact. The
  // cache type rests on cache register 0, so it needs this run's reading.
  const bool part400 = p.BusRatio == 4.0 && core > kPart400;
  const bool part450 = p.BusRatio == 4.5 && core > kPart450;
  if (RegistersRead(p) && info.L2Present && cpu.Model == 5 &&
      (cpu.Stepping == 1 || cpu.Stepping == 2) && !p.IsCsram && (part400 || part450)) {
    EndLine(w);
    Line(w, s[JumperWarning1]);
    Line(w, s[JumperWarning2]);
    Line(w, Cat("   =>", s[Notify2]));
  }
}

}  // namespace torv
