// The Pentium II report: identity, processor line, caches, cacheable area,
// ECC state, core clock, system clock and ratio, then the verdict and, with
// /EXT, the details listing.
// Step four of probe -> record -> facts -> report -> verdict (see p2info.h).
#include <cstdint>
#include <string>

#include "driver/hw.h"
#include "p2/facts.h"
#include "p2/p2info.h"
#include "p2/p2text.h"
#include "report/utility.h"

namespace torv {

namespace {

using p2text::Bit;
using p2text::Bus;
using p2text::BusSetting;
using p2text::Cat;
using p2text::EndLine;
using p2text::HasEccEntry;
using p2text::Line;
using p2text::Write;

std::string Mhz(const P2Context& ctx, double hz) {
  return RealStr(ctx.util, hz * 1e-6, 1);
}

// The processor line after its label, up to and including its line end.
void ProcessorLine(const P2Context& ctx) {
  const TP2Info& info = ctx.p2.P2Info;
  const TCpuInfo& cpu = info.Cpu;
  if (cpu.ClassCode == kClassPentiumII) {
    ctx.p2.FlagOverdrive = cpu.CpuType == 1;
    Write(ctx, ctx.p2.FlagOverdrive ? "PPRo-Overdrive, " : "Pentium II, ");
    // Cache register 0 left over from an earlier run says nothing.
    ctx.p2.IsCsram = RegistersRead(ctx.p2) && Bit(info.L2Regs[0], 5);
    if (cpu.Model == 3) Write(ctx, "Klamath");
    if (cpu.Model == 5) Write(ctx, "Deschutes");
    if (cpu.CpuType == 0 && cpu.Model == 5 && cpu.Stepping >= 2 && ctx.p2.IsCsram) {
      Write(ctx, ",Xeon");
    }
    if (cpu.Model > 5) Write(ctx, "> Deschutes (Katmai? Williamette?)");
  } else {
    Line(ctx, "PPro");
  }
  // Both rest on BBL_CR_CTL3, which a published dump may not hold.
  if (!ctx.p2.NotInDump.Ctl3) {
    if (Bit(info.Ctl3Lo, 25)) Write(ctx, ", L2 1:1 clock");
    if (Bit(info.Ctl3Lo, 23)) Write(ctx, ", Celeron");
  }
  EndLine(ctx);
}

// A size of leaf 2 in the value column: FFFFh (no descriptor gave one) is no
// size and prints as "??".
std::string SizeKB(std::uint16_t kb) {
  return kb == 0xFFFF ? std::string("  ??") : DecStrW(kb, 4);
}

// The registers a published dump did not hold, once, in one line.
void NotInDumpLine(const P2Context& ctx) {
  const DumpGaps& g = ctx.p2.NotInDump;
  if (!g.AnyRegister()) return;
  std::string list;
  const auto add = [&list](bool missing, const char* name) {
    if (!missing) return;
    if (!list.empty()) list += ", ";
    list += name;
  };
  add(g.PowerOn, "2Ah");
  add(g.Ctl3, "11Eh");
  add(g.Msr1E0, "1E0h");
  add(g.Mtrrs, "MTRR");
  add(g.L2Regs, "L2 0-8");
  Line(ctx, Cat(ctx.Msg().NotInDump, "\t: ", list));
}

void CacheLines(const P2Context& ctx) {
  const TCpuInfo& cpu = ctx.p2.P2Info.Cpu;
  const LangRec& m = ctx.Msg();
  // A size that leaf 2 did not give prints as "??", without ways.
  Write(ctx, Cat(" L1 Data Cache\t:", SizeKB(cpu.L1DataKB)));
  if (cpu.L1DataKB == 0xFFFF) {
    EndLine(ctx);
  } else {
    Line(ctx, Cat(cpu.L1DataKB == 8 ? " KB, 2" : " KB, 4", m.WayAssociative));
  }
  Write(ctx, Cat(" L1 Code Cache\t:", SizeKB(cpu.L1CodeKB)));
  if (cpu.L1CodeKB != 0xFFFF) Write(ctx, Cat(" KB, 4", m.WayAssociative));
  EndLine(ctx);
  Write(ctx, " L2 Cache:\t:");
  if (cpu.L2KB == 0) {
    Line(ctx, m.Disabled);
  } else if (cpu.L2KB == 0xFFFF) {
    Line(ctx, SizeKB(cpu.L2KB));
  } else {
    // The descriptor's ways; 4 where it gave none.
    const int ways = cpu.L2Ways != 0 ? cpu.L2Ways : 4;
    Line(ctx, Cat(DecStrW(cpu.L2KB, 4), " KB, ", DecStr(ways), m.WayAssociative));
  }
}

void CacheableArea(const P2Context& ctx) {
  const TP2Info& info = ctx.p2.P2Info;
  if (ctx.p2.NotInDump.Ctl3) return;  // cache present and area rest on BBL_CR_CTL3
  if (!info.L2Present) {
    Line(ctx, Cat(" L2\t:", ctx.Msg().NotPresentOrDisabled));
    return;
  }
  Write(ctx, " L2 Cacheable Area\t:");
  const std::uint32_t mbyte = ctx.p2.CacheableMByte;
  if (mbyte < 1024) {
    Line(ctx, " 512 MByte");
  } else {
    Line(ctx, Cat(DecStrW(static_cast<std::int32_t>(mbyte / 1024), 4), " GByte"));
  }
}

void EccLines(const P2Context& ctx, int proc) {
  const TP2Info& info = ctx.p2.P2Info;
  const LangRec& m = ctx.Msg();
  Write(ctx, " L2 ECC\t:");
  // Not tested with /NOL2, nor on a dump that cannot say (ECC checking off).
  if (ctx.settings.OptNoL2 || ctx.p2.NotInDump.EccTest) {
    Write(ctx, " ECC Presence not tested");
    Line(ctx, info.EccEnabled ? ", ECC enabled" : ", ECC not enabled");
  } else if (!EccResultRead(ctx.p2)) {
    Line(ctx, m.EccTestFailed);
  } else if (info.EccPresent) {
    Write(ctx, m.Present);
    Line(ctx, info.EccEnabled ? Cat(m.And, m.Enabled) : Cat(",", m.But, m.Not, m.Enabled));
  } else {
    Write(ctx, Cat(m.Not, m.Present));
    Line(ctx, info.EccEnabled ? Cat(",", m.But, m.Enabled) : Cat(m.And, m.Not, m.Enabled));
  }
  // The state an ECC pass found before it changed anything.
  if (HasEccEntry(proc) && ctx.settings.EccWas[proc] != 0xFF) {
    Line(ctx, Cat("\t:", m.Was, ctx.settings.EccWas[proc] != 0 ? m.Enabled : m.Disabled));
  }
}

// The default bus of the system clock line.
const char* BusText(Bus bus) {
  switch (bus) {
    case Bus::Mhz66:
      return " 66.6 MHz";
    case Bus::Mhz100:
      return " 100 MHz";
    case Bus::Mhz133:
      return " 133 MHz";
    case Bus::Unknown:
      break;
  }
  return " ??";
}

void ClockLines(const P2Context& ctx) {
  const TP2Info& info = ctx.p2.P2Info;
  const LangRec& m = ctx.Msg();
  // A clock of 0 was not measured: the word for an error stands for it.
  const bool measured = ctx.hw.CpuClockHz != 0.0;
  if (measured) {
    Line(ctx, Cat(m.ActualClock, "\t: ", Mhz(ctx, ctx.hw.CpuClockHz), " MHz"));
  } else {
    Line(ctx, m.Error);
  }
  if (ctx.p2.NotInDump.PowerOn && info.Cpu.ClassCode == kClassPentiumII) {
    // Bus and ratio rest on EBL_CR_POWERON: nothing is said of them.
  } else if (!info.L2Present) {
    // Without a second-level cache the ratio cannot be read.
    Line(ctx, Cat(m.SystemClock, "\t:", m.NotOnCeleron));
  } else {
    Write(ctx, Cat(m.SystemClock, "\t:", m.Default, ":"));
    Write(ctx, BusText(BusSetting(info)));
    Line(ctx, measured ? Cat(",", m.Measured, ":", Mhz(ctx, ctx.p2.SysClockHz), " MHz")
                     : Cat(",", m.Measured, ":", m.Error));
    Line(ctx, Cat(m.Ratio, " (cpu/syst)", "\t: ", RealStr(ctx.util, ctx.p2.BusRatio, 1)));
  }
  EndLine(ctx);
}

}  // namespace

bool P2Report(const P2Context& ctx, int proc) {
  const TP2Info& info = ctx.p2.P2Info;
  const TCpuInfo& cpu = info.Cpu;
  const LangRec& m = ctx.Msg();

  if (ctx.MultiProc) {
    Line(ctx, Cat(m.Processor, "\t: ", DecStr(proc)));
    if (ctx.hw.CpuidFault) {
      // The same line in every language; 81h is the OEM code of the u-umlaut.
      Line(ctx, "Fehler beim Einloggen der gew\x81nschten CPU");
      return false;
    }
  }

  if (cpu.CpuidOk) {
    // A vendor of zero bytes is none: a dump without leaf 0 answers it with
    // zeros. It is said so, not shown as twelve unprintable bytes.
    const std::string_view vendor = cpu.Vendor.view();
    const bool noVendor = !vendor.empty() && vendor.find_first_not_of('\0') == vendor.npos;
    Line(ctx, Cat(" CPUID\t: ", noVendor ? std::string_view("unknown") : vendor,
                ", Typ=", DecStr(cpu.CpuType),
                ", Family=", DecStr(cpu.Family), ", Model=", DecStr(cpu.Model),
                ", Step=", DecStr(cpu.Stepping)));
    Write(ctx, Cat(m.ProcessorCore, "\t: "));
  } else {
    Line(ctx, "CPUID-Error");
  }

  const bool p6 = cpu.ClassCode == kClassPPro || cpu.ClassCode == kClassPentiumII;
  if (!p6 && ctx.settings.TestNo == 0) {
    Line(ctx, Cut(Cat(cpu.CpuName, cpu.NameSuffix), 61));
    if (ctx.hw.CpuClockHz == 0.0) {
      Line(ctx, m.Error);
    } else {
      Line(ctx, Cat(m.ActualClock, "\t: ", Mhz(ctx, ctx.hw.CpuClockHz), " MHz"));
    }
    Line(ctx, Cat(m.Error, m.No, " Pentium II", "=>", m.Break));
    return false;
  }

  StoreFacts(ctx.p2, WorkOutFacts(info, RegistersRead(ctx.p2), ctx.hw.CpuClockHz, FactsOf(ctx.p2)));
  ProcessorLine(ctx);
  if (cpu.CacheInfoValid) CacheLines(ctx);
  NotInDumpLine(ctx);
  CacheableArea(ctx);

  if (info.L2Present && !ctx.p2.NotInDump.Ctl3) EccLines(ctx, proc);
  ClockLines(ctx);
  Verdict(ctx);
  if (ctx.settings.OptExt) P2Details(ctx);
  return true;
}

}  // namespace torv
