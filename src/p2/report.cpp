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
#include "world.h"

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

std::string Mhz(const World& w, double hz) {
  return RealStr(w.util, hz * 1e-6, 1);
}

// The processor line after its label, up to and including its line end.
void ProcessorLine(World& w) {
  const TP2Info& info = w.p2.P2Info;
  const TCpuInfo& cpu = info.Cpu;
  if (cpu.ClassCode == kClassPentiumII) {
    w.p2.FlagOverdrive = cpu.CpuType == 1;
    Write(w, w.p2.FlagOverdrive ? "PPRo-Overdrive, " : "Pentium II, ");
    // Cache register 0 left over from an earlier run says nothing.
    w.p2.IsCsram = RegistersRead(w.p2) && Bit(info.L2Regs[0], 5);
    if (cpu.Model == 3) Write(w, "Klamath");
    if (cpu.Model == 5) Write(w, "Deschutes");
    if (cpu.CpuType == 0 && cpu.Model == 5 && cpu.Stepping >= 2 && w.p2.IsCsram) {
      Write(w, ",Xeon");
    }
    if (cpu.Model > 5) Write(w, "> Deschutes (Katmai? Williamette?)");
  } else {
    Line(w, "PPro");
  }
  if (Bit(info.Ctl3Lo, 25)) Write(w, ", L2 1:1 clock");
  if (Bit(info.Ctl3Lo, 23)) Write(w, ", Celeron");
  EndLine(w);
}

void CacheLines(World& w) {
  const TCpuInfo& cpu = w.p2.P2Info.Cpu;
  const LangRec& m = w.Msg();
  Write(w, Cat(" L1 Data Cache\t:", DecStrW(cpu.L1DataKB, 4)));
  Line(w, Cat(cpu.L1DataKB == 8 ? " KB, 2" : " KB, 4", m.WayAssociative));
  Write(w, Cat(" L1 Code Cache\t:", DecStrW(cpu.L1CodeKB, 4), " KB, 4", m.WayAssociative));
  EndLine(w);
  Write(w, " L2 Cache:\t:");
  if (cpu.L2KB == 0) {
    Line(w, m.Disabled);
  } else {
    Line(w, Cat(DecStrW(cpu.L2KB, 4), " KB, 4", m.WayAssociative));
  }
}

void CacheableArea(World& w) {
  const TP2Info& info = w.p2.P2Info;
  if (!info.L2Present) {
    Line(w, Cat(" L2\t:", w.Msg().NotPresentOrDisabled));
    return;
  }
  Write(w, " L2 Cacheable Area\t:");
  const std::uint32_t mbyte = w.p2.CacheableMByte;
  if (mbyte < 1024) {
    Line(w, " 512 MByte");
  } else {
    Line(w, Cat(DecStrW(static_cast<std::int32_t>(mbyte / 1024), 4), " GByte"));
  }
}

void EccLines(World& w, int proc) {
  const TP2Info& info = w.p2.P2Info;
  const LangRec& m = w.Msg();
  Write(w, " L2 ECC\t:");
  if (w.settings.OptNoL2) {
    Write(w, " ECC Presence not tested");
    Line(w, info.EccEnabled ? ", ECC enabled" : ", ECC not enabled");
  } else if (!EccResultRead(w.p2)) {
    Line(w, m.EccTestFailed);
  } else if (info.EccPresent) {
    Write(w, m.Present);
    Line(w, info.EccEnabled ? Cat(m.And, m.Enabled) : Cat(",", m.But, m.Not, m.Enabled));
  } else {
    Write(w, Cat(m.Not, m.Present));
    Line(w, info.EccEnabled ? Cat(",", m.But, m.Enabled) : Cat(m.And, m.Not, m.Enabled));
  }
  // The state an ECC pass found before it changed anything.
  if (HasEccEntry(proc) && w.settings.EccWas[proc] != 0xFF) {
    Line(w, Cat("\t:", m.Was, w.settings.EccWas[proc] != 0 ? m.Enabled : m.Disabled));
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

void ClockLines(World& w) {
  const TP2Info& info = w.p2.P2Info;
  const LangRec& m = w.Msg();
  // A clock of 0 was not measured: the word for an error stands for it.
  const bool measured = w.hw.CpuClockHz != 0.0;
  if (measured) {
    Line(w, Cat(m.ActualClock, "\t: ", Mhz(w, w.hw.CpuClockHz), " MHz"));
  } else {
    Line(w, m.Error);
  }
  if (!info.L2Present) {
    // Without a second-level cache the ratio cannot be read.
    Line(w, Cat(m.SystemClock, "\t:", m.NotOnCeleron));
  } else {
    Write(w, Cat(m.SystemClock, "\t:", m.Default, ":"));
    Write(w, BusText(BusSetting(info)));
    Line(w, measured ? Cat(",", m.Measured, ":", Mhz(w, w.p2.SysClockHz), " MHz")
                     : Cat(",", m.Measured, ":", m.Error));
    Line(w, Cat(m.Ratio, " (cpu/syst)", "\t: ", RealStr(w.util, w.p2.BusRatio, 1)));
  }
  EndLine(w);
}

}  // namespace

bool P2Report(World& w, int proc) {
  const TP2Info& info = w.p2.P2Info;
  const TCpuInfo& cpu = info.Cpu;
  const LangRec& m = w.Msg();

  if (w.shell.MultiProc) {
    Line(w, Cat(m.Processor, "\t: ", DecStr(proc)));
    if (w.hw.CpuidFault) {
      // The same line in every language; 81h is the OEM code of the u-umlaut.
      Line(w, "Fehler beim Einloggen der gew\x81nschten CPU");
      return false;
    }
  }

  if (cpu.CpuidOk) {
    Line(w, Cat(" CPUID\t: ", cpu.Vendor, ", Typ=", DecStr(cpu.CpuType),
                ", Family=", DecStr(cpu.Family), ", Model=", DecStr(cpu.Model),
                ", Step=", DecStr(cpu.Stepping)));
    Write(w, Cat(m.ProcessorCore, "\t: "));
  } else {
    Line(w, "CPUID-Error");
  }

  const bool p6 = cpu.ClassCode == kClassPPro || cpu.ClassCode == kClassPentiumII;
  if (!p6 && w.settings.TestNo == 0) {
    Line(w, Cut(Cat(cpu.CpuName, cpu.NameSuffix), 61));
    if (w.hw.CpuClockHz == 0.0) {
      Line(w, m.Error);
    } else {
      Line(w, Cat(m.ActualClock, "\t: ", Mhz(w, w.hw.CpuClockHz), " MHz"));
    }
    Line(w, Cat(m.Error, m.No, " Pentium II", "=>", m.Break));
    return false;
  }

  StoreFacts(w.p2, WorkOutFacts(info, RegistersRead(w.p2), w.hw.CpuClockHz, FactsOf(w.p2)));
  ProcessorLine(w);
  if (cpu.CacheInfoValid) CacheLines(w);
  CacheableArea(w);

  if (info.L2Present) EccLines(w, proc);
  ClockLines(w);
  Verdict(w);
  if (w.settings.OptExt) P2Details(w);
  return true;
}

}  // namespace torv
