// The closing verdict of the Pentium II report: clock limits of the 66 and
// 100 MHz bus, the 300 MHz Klamath without ECC, the stepping-0 Deschutes above
// 333 MHz, and the jumper caution for 400/450 MHz Deschutes parts.
// The last step of probe -> record -> facts -> report -> verdict (see p2info.h).
#include <string>

#include "p2/facts.h"
#include "p2/p2info.h"
#include "p2/p2text.h"
#include "report/utility.h"

namespace torv {

using p2text::Cat;
using p2text::EndLine;
using p2text::Line;
using p2text::Write;

void Verdict(const P2Context& ctx) {
  P2State& p = ctx.p2;
  const TP2Info& info = p.P2Info;
  const double core = ctx.hw.CpuClockHz;
  const bool measured = core != 0.0;
  const bool eccKnown = EccResultRead(p);
  const DumpGaps& gaps = p.NotInDump;
  const VerdictFlags v = Judge(info, FactsOf(p), core, eccKnown, RegistersRead(p), gaps);
  p.FlagFake300 = v.Fake300;
  p.FlagClockHigh = v.ClockHigh;
  p.FlagNot100On66 = v.Not100On66;
  p.FlagClockLow = v.ClockLow;

  if (!ctx.settings.VerdictOn) return;

  const LangRec& m = ctx.Msg();
  const auto& s = m.Sentences;
  bool allClear =
      !p.FlagFake300 && !p.FlagClockHigh && !p.FlagClockLow && (eccKnown || !v.Klamath300);

  Write(ctx, Cat(m.HasDetected, "\t: "));
  Write(ctx, measured ? Cat("Pentium II ", RealStr(ctx.util, core * 1e-6, 1), " MHz") : "Pentium II");
  if (eccKnown) {
    Line(ctx, Cat(info.EccPresent ? m.With.view() : m.Without.view(), " ECC"));
  } else {
    EndLine(ctx);
  }
  EndLine(ctx);

  if (p.FlagClockHigh) {
    // Not FlagNot100On66: a 66 MHz part runs at about 100 MHz.
    Line(ctx, p.FlagNot100On66 ? s[ClockTooHigh] : s[AutoDetectOff]);
  }
  if (p.FlagClockLow) Line(ctx, s[ClockTooLow]);
  if (p.FlagFake300) {
    Line(ctx, s[Fake300Line1]);
    Line(ctx, s[Fake300Line2]);
    Line(ctx, s[Fake300Line3]);
    Line(ctx, s[Fake300Line4]);
    EndLine(ctx);
    Line(ctx, s[Notify1]);
  }
  if (v.Stepping0Fake) {
    Line(ctx, s[FakeStepLine1]);
    Line(ctx, s[FakeStepLine2]);
    Line(ctx, s[FakeStepLine3]);
    Line(ctx, s[FakeStepLine4]);
    Line(ctx, s[Notify2]);
    allClear = false;
  }
  // No all-clear that rests on a check that could not be made: the line
  // says which one instead.
  if (!v.ClockChecked) Line(ctx, Cat("\t:", m.ClockNotChecked));
  // A published dump's missing registers: what rests on them is named.
  if (gaps.PowerOn) {
    Line(ctx, Cat("\t:", m.RatioNotInDump));
  } else if (!v.BusChecked) {
    Line(ctx, Cat("\t:", m.BusNotChecked));
  }
  if (gaps.Ctl3) Line(ctx, Cat("\t:", m.L2NotInDump));
  const bool eccRuleOpen = !gaps.Ctl3 && gaps.EccTest && v.Klamath300;
  if (eccRuleOpen) Line(ctx, Cat("\t:", m.EccNotInDump));
  if (allClear && v.ClockChecked && v.BusChecked && !gaps.PowerOn && !gaps.Ctl3 && !eccRuleOpen) {
    Line(ctx, Cat("\t:", s[NoIrregularities]));
  }

  if (v.JumperCaution) {
    EndLine(ctx);
    Line(ctx, s[JumperWarning1]);
    Line(ctx, s[JumperWarning2]);
    Line(ctx, Cat("   =>", s[Notify2]));
  }
}

}  // namespace torv
