// The catalogue of simulated machines for the Pentium II analysis: genuine
// parts, a part without ECC that cannot exist as sold, an overclocked part,
// a Celeron without second-level cache and a two-processor machine.
#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

#include "machine/sim.h"

namespace torv {

namespace {

constexpr const char* kP2_450 =
    R"(# Pentium II (Deschutes) 450 MHz: 4.5 x 100 MHz, 512 KB BSRAM cache with ECC.
# CPUID leaf 0 and the feature flags of leaf 1 as in dumps/pentium2-deschutes-0653.txt
# (stepping 2 here); leaf 2 with descriptor 43h (512 KB L2) as in
# dumps/pentium2-klamath-0633.txt.
name = Pentium II Deschutes 450 MHz, 100 MHz bus, 512 KB L2 with ECC
clock = 450400000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000652-00000000-00000000-0183FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
# EBL_CR_POWERON: ratio code 6 (4.5) in bits 22-25, bit 19: 100 MHz bus.
MSR 0000002A: 0000-0000-C188-0000
# BBL_CR_CTL3: L2 configured (bit 0), latency 3 (bits 1-4), ECC check (bit 5),
# cacheable area 4 GB (bits 20-22 = 3).
MSR 0000011E: 0000-0000-0030-4527
# Range 0: write-back 0-128 MB; range 1: write-combining frame buffer at E0000000h, 32 MB.
MSR 00000200: 0000-0000-0000-0006
MSR 00000201: 0000-000F-F800-0800
MSR 00000202: 0000-0000-E000-0001
MSR 00000203: 0000-000F-FE00-0800
l2ecc = yes
# Cache controller: Intel BSRAM, 512 KB in 2 banks, 4 GB cacheable, 4 way.
l2reg 0 = 01
l2reg 1 = 09
l2reg 2 = 09
l2reg 3 = 03
l2reg 4 = 02
l2reg 6 = 04
)";

constexpr const char* kP2_300 =
    R"(# Pentium II (Klamath) 300 MHz: 4.5 x 66 MHz, 512 KB BSRAM cache with ECC.
# CPUID leaves 0 to 2 as in dumps/pentium2-klamath-0633.txt.
name = Pentium II Klamath 300 MHz, 66 MHz bus, 512 KB L2 with ECC
clock = 300400000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
# EBL_CR_POWERON: ratio code 6 (4.5), bit 19 clear: 66 MHz bus.
MSR 0000002A: 0000-0000-C180-0000
# BBL_CR_CTL3: L2 configured, latency 3, ECC check on, cacheable area 512 MB.
MSR 0000011E: 0000-0000-0000-4527
# Range 0: write-back 0-64 MB; range 1: write-combining frame buffer at E4000000h, 16 MB.
MSR 00000200: 0000-0000-0000-0006
MSR 00000201: 0000-000F-FC00-0800
MSR 00000202: 0000-0000-E400-0001
MSR 00000203: 0000-000F-FF00-0800
l2ecc = yes
l2reg 0 = 01
l2reg 1 = 09
l2reg 2 = 09
l2reg 3 = 00
l2reg 4 = 02
l2reg 6 = 04
)";

constexpr const char* kP2_300NoEcc =
    R"(# Pentium II (Klamath) 300 MHz, 4.5 x 66 MHz, whose cache SRAMs store no ECC
# bits. Every genuine 300 MHz Klamath has ECC: a re-marked slower part.
# CPUID leaves 0 to 2 as in dumps/pentium2-klamath-0633.txt.
name = Pentium II Klamath 300 MHz, 66 MHz bus, 512 KB L2 without ECC
clock = 300400000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
MSR 0000002A: 0000-0000-C180-0000
# BBL_CR_CTL3: L2 configured, latency 3, ECC check off, cacheable area 512 MB.
MSR 0000011E: 0000-0000-0000-4507
MSR 00000200: 0000-0000-0000-0006
MSR 00000201: 0000-000F-FC00-0800
l2ecc = no
l2reg 0 = 01
l2reg 1 = 09
l2reg 2 = 09
l2reg 3 = 00
l2reg 4 = 02
l2reg 6 = 04
)";

constexpr const char* kP2_233At300 =
    R"(# Pentium II (Klamath) sold as 233 MHz (3.5 x 66 MHz, no ECC), with the
# ratio pins set to 4.0 and the bus raised to 75 MHz: 300 MHz.
# EBL_CR_POWERON shows ratio code 2 (4.0) on the 66 MHz setting, so the
# measured 300 MHz gives a 75 MHz system clock.
# CPUID leaves 0 to 2 as in dumps/pentium2-klamath-0633.txt.
name = Pentium II Klamath 233 overclocked to 300 MHz (4.0 x 75 MHz), no ECC
clock = 300000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
MSR 0000002A: 0000-0000-C080-0000
MSR 0000011E: 0000-0000-0000-4507
MSR 00000200: 0000-0000-0000-0006
MSR 00000201: 0000-000F-FC00-0800
l2ecc = no
l2reg 0 = 01
l2reg 1 = 09
l2reg 2 = 09
l2reg 3 = 00
l2reg 4 = 02
l2reg 6 = 04
)";

constexpr const char* kCeleron266 =
    R"(# Celeron (Covington) 266 MHz: 4.0 x 66 MHz, no second-level cache.
# CPUID leaf 0 and the feature flags of leaf 1 (no local APIC) as in
# dumps/celeron-mendocino-0665.txt, with the Covington's model 5; leaf 2
# with descriptor 40h (no L2).
name = Celeron Covington 266 MHz, 66 MHz bus, no L2 cache
clock = 266400000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000651-00000000-00000000-0183F9FF
CPUID 00000002: 03020101-00000000-00000000-0C040840
# EBL_CR_POWERON: ratio code 2 (4.0), 66 MHz bus.
MSR 0000002A: 0000-0000-C080-0000
# BBL_CR_CTL3: bit 23, no L2 cache.
MSR 0000011E: 0000-0000-0080-4500
MSR 00000200: 0000-0000-0000-0006
MSR 00000201: 0000-000F-FC00-0800
l2ecc = no
)";

constexpr const char* kP2Dual =
    R"(# Two Pentium II (Deschutes) 350 MHz, 3.5 x 100 MHz, 512 KB cache with ECC;
# processor 1 of stepping 1, processor 2 of stepping 2.
# CPUID leaf 0 and the feature flags of leaf 1 as in dumps/pentium2-deschutes-0653.txt;
# leaf 2 (512 KB L2) as in dumps/pentium2-klamath-0633.txt.
name = Two Pentium II Deschutes 350 MHz, 100 MHz bus, steppings 1 and 2
processors = 2
clock = 350200000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000651-00000000-00000000-0183FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
# EBL_CR_POWERON: ratio code 5 (3.5), 100 MHz bus.
MSR 0000002A: 0000-0000-C148-0000
MSR 0000011E: 0000-0000-0030-4527
MSR 00000200: 0000-0000-0000-0006
MSR 00000201: 0000-000F-F800-0800
MSR 00000202: 0000-0000-E000-0001
MSR 00000203: 0000-000F-FE00-0800
l2ecc = yes
l2reg 0 = 01
l2reg 1 = 09
l2reg 2 = 09
l2reg 3 = 03
l2reg 4 = 02
l2reg 6 = 04

[processor 2]
CPUID 00000001: 00000652-00000000-00000000-0183FBFF
)";

constexpr CatalogueEntry kAnalysisEntries[] = {
    {"p2-450", "Pentium II Deschutes 450 MHz (4.5 x 100 MHz), 512 KB L2 with ECC", kP2_450},
    {"p2-300", "Pentium II Klamath 300 MHz (4.5 x 66 MHz), 512 KB L2 with ECC", kP2_300},
    {"p2-300-noecc", "Pentium II Klamath 300 MHz (4.5 x 66 MHz) without ECC: a re-marked part",
     kP2_300NoEcc},
    {"p2-233-at-300", "Pentium II Klamath 233 without ECC run at 300 MHz (4.0 x 75 MHz)",
     kP2_233At300},
    {"celeron-266", "Celeron Covington 266 MHz (4.0 x 66 MHz), no L2 cache", kCeleron266},
    {"p2-dual", "Two Pentium II Deschutes 350 MHz (3.5 x 100 MHz), steppings 1 and 2", kP2Dual},
};

}  // namespace

std::vector<CatalogueEntry> Catalogue() {
  std::vector<CatalogueEntry> all(std::begin(kAnalysisEntries), std::end(kAnalysisEntries));
  for (const CatalogueEntry& e : IdentificationCatalogue()) all.push_back(e);
  return all;
}

std::optional<CatalogueEntry> FindCatalogueEntry(std::string_view name) {
  // Names are plain ASCII; they match regardless of case.
  const auto same = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) ==
                    std::tolower(static_cast<unsigned char>(y));
           });
  };
  for (const CatalogueEntry& e : Catalogue()) {
    if (e.Name != nullptr && e.Profile != nullptr && same(name, e.Name)) return e;
  }
  return std::nullopt;
}

const char* FindCatalogueProfile(std::string_view name) {
  const std::optional<CatalogueEntry> e = FindCatalogueEntry(name);
  return e ? e->Profile : nullptr;
}

}  // namespace torv
