// Facts of a Pentium Pro / Pentium II worked out from the probe record: the
// bus and its clock, the ratio, the queue depth, the cache's type, area, size
// and banks, and the verdict's flags. Pure functions: the report and the
// verdict only put them into words.
#pragma once
// Step three of probe -> record -> facts -> report -> verdict (see p2info.h).
#include <cstdint>

#include "p2/p2info.h"

namespace torv {

// The system bus that EBL_CR_POWERON bits 19:18 select: 00 66 MHz, 10 100 MHz,
// 01 133 MHz; 11 is no setting of any part.
enum class Bus : std::uint8_t { Mhz66, Mhz100, Mhz133, Unknown };
Bus BusSetting(const TP2Info& info);

// Core-to-bus clock ratio by the ratio code of EBL_CR_POWERON. Codes 0 and 4
// mean 2.0 on a Klamath (model 3).
double RatioFromCode(std::uint8_t code, std::uint8_t model);

// The facts the report shows and the verdict weighs.
struct P6Facts {
  bool Overdrive = false;  // a Pentium II family part of CPUID type 1
  bool Csram = false;      // cache register 0 bit 5: CSRAM, else BSRAM
  double BusRatio = 0.0;
  double SysClockHz = 0.0;
  std::uint8_t IoqDepth = 0;
  std::uint32_t CacheableMByte = 0;  // BBL_CR_CTL3 bits 22:20: 512 MByte << code
};

// The facts of the record `info` with the core clock `coreHz` (0: not
// measured). `registersRead`: this run read the cache registers. A Pentium
// Pro keeps the OverDrive and cache-type facts of `earlier`, the previous
// run's, as the report always has.
P6Facts WorkOutFacts(const TP2Info& info, bool registersRead, double coreHz,
                     const P6Facts& earlier);

// The facts as P2State keeps them between runs, and back.
P6Facts FactsOf(const P2State& p);
void StoreFacts(P2State& p, const P6Facts& f);

// Cache register 2: size text and number of banks. A code without a size
// meaning gives a null size (the listing keeps its previous text).
struct L2SizeBanks {
  const char* Size;
  std::int32_t Banks;
};
L2SizeBanks L2SizeAndBanks(std::uint8_t reg2, bool csram);

// The verdict's findings.
struct VerdictFlags {
  bool Fake300 = false;        // a 300 MHz Klamath without ECC
  bool ClockHigh = false;      // system clock above its bus's band
  bool Not100On66 = false;     // not a 100 MHz clock on a 66 MHz bus setting
  bool ClockLow = false;       // system clock below its bus's band
  bool Klamath300 = false;     // the 300 MHz Klamath rule applies
  bool Stepping0Fake = false;  // a stepping-0 Deschutes above 333 MHz
  bool JumperCaution = false;  // a 400/450 MHz Deschutes that may run jumpered lower
  // Checks that could be made: the core clock was measured, and the bus
  // setting is one of a part's. Without them there is no all-clear.
  bool ClockChecked = false;
  bool BusChecked = false;
};
// `eccKnown`: this run's ECC presence result stands. `gaps`: what a published
// dump did not hold; no flag rests on it (without EBL_CR_POWERON no ratio or
// bus check, without the cache configuration registers no jumper caution).
VerdictFlags Judge(const TP2Info& info, const P6Facts& facts, double coreHz, bool eccKnown,
                   bool registersRead, const DumpGaps& gaps = {});

}  // namespace torv
