// The closing verdict of the Pentium II report: clock limits of the 66 and
// 100 MHz bus, the 300 MHz Klamath without ECC, the stepping-0 Deschutes above
// 333 MHz, and the jumper caution for 400/450 MHz Deschutes parts.
// The last step of probe -> record -> facts -> report -> verdict (see p2info.h).
#include <string>

#include "p2/facts.h"
#include "p2/p2info.h"
#include "p2/p2text.h"
#include "report/utility.h"
#include "world.h"

namespace torv {

using p2text::Cat;
using p2text::EndLine;
using p2text::Line;
using p2text::Write;

void Verdict(World& w) {
  P2State& p = w.p2;
  const TP2Info& info = p.P2Info;
  const double core = w.hw.CpuClockHz;
  const bool measured = core != 0.0;
  const bool eccKnown = EccResultRead(p);
  const VerdictFlags v = Judge(info, FactsOf(p), core, eccKnown, RegistersRead(p));
  p.FlagFake300 = v.Fake300;
  p.FlagClockHigh = v.ClockHigh;
  p.FlagNot100On66 = v.Not100On66;
  p.FlagClockLow = v.ClockLow;

  if (!w.settings.VerdictOn) return;

  const LangRec& m = w.Msg();
  const auto& s = m.Sentences;
  bool allClear =
      !p.FlagFake300 && !p.FlagClockHigh && !p.FlagClockLow && (eccKnown || !v.Klamath300);

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
  if (v.Stepping0Fake) {
    Line(w, s[FakeStepLine1]);
    Line(w, s[FakeStepLine2]);
    Line(w, s[FakeStepLine3]);
    Line(w, s[FakeStepLine4]);
    Line(w, s[Notify2]);
    allClear = false;
  }
  // No all-clear that rests on a check that could not be made: the line
  // says which one instead.
  if (!v.ClockChecked) Line(w, Cat("\t:", m.ClockNotChecked));
  if (!v.BusChecked) Line(w, Cat("\t:", m.BusNotChecked));
  if (allClear && v.ClockChecked && v.BusChecked) Line(w, Cat("\t:", s[NoIrregularities]));

  if (v.JumperCaution) {
    EndLine(w);
    Line(w, s[JumperWarning1]);
    Line(w, s[JumperWarning2]);
    Line(w, Cat("   =>", s[Notify2]));
  }
}

}  // namespace torv
