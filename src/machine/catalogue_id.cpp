// The identification set of simulated machines: one machine per processor
// that the name tables know, built from the CPUID values of real parts where
// a published dump of them exists (cited in each profile), otherwise from the
// signature the maker documents.
#include "machine/machine.h"

namespace torv {

namespace {

// ------------------------------------------------------------------ 486

constexpr const char* kI486Dx2 = R"(name = Intel i486 DX2-66 (SL enhanced)
# Leaf 0 and the feature flags as the i486 dump i486-0480.txt shows them;
# the signature is the documented one of the i486 DX2 (family 4, model 3),
# stepping 5 assumed. No leaf 2: it answers zeros.
clock = 66666666
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00000435-00000000-00000000-00000003
)";

constexpr const char* kI486Dx4 = R"(name = Intel i486 DX4-100
# CPUID values from the dump i486-0480.txt.
clock = 100000000
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00000480-00000000-00000000-00000003
)";

constexpr const char* kAm5x86 = R"(name = AMD Am5x86-P75 (133 MHz, write-back)
# No published dump: the signature AMD documents for the Enhanced Am486DX
# family, model Fh (write-back mode; Eh in write-through mode), stepping 4,
# with only the floating-point unit among the feature flags.
clock = 133333333
CPUID 00000000: 00000001-68747541-444D4163-69746E65
CPUID 00000001: 000004F4-00000000-00000000-00000001
)";

// ------------------------------------------------------------------ 586

constexpr const char* kP54c = R"(name = Intel Pentium 133 (P54C)
# CPUID values from the dump pentium-p54c-0526.txt.
clock = 133000000
CPU Type           : Intel Pentium, 133 MHz
CPU Alias          : P54C
CPU Stepping       : E0
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00000526-00000000-00000000-000001BF
)";

constexpr const char* kPentiumMmx = R"(name = 2x Intel Pentium MMX 200 (P55C)
# CPUID values from the dump pentium-mmx-0543.txt: a two-processor board,
# the second processor reporting type 2 (dual processor) and stepping 4.
processors = 2
clock = 200000000
CPU Type           : 2x Intel Pentium MMX, 200 MHz
CPU Alias          : P55C
CPU Stepping       : xA3
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00000543-00000000-00000000-008003BF
[processor 2]
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00002544-00000000-00000000-008003BF
)";

constexpr const char* kK5 = R"(name = AMD K5 PR166 (116 MHz)
# CPUID values from the dump amd-k5-0524.txt.
clock = 116666666
CPU Type           : AMD K5, 116 MHz PR166
CPU Alias          : Krypton, 5k86
CPUID 00000000: 00000001-68747541-444D4163-69746E65
CPUID 00000001: 00000524-00000000-00000000-000021BF
CPUID 80000000: 80000005-00000000-00000000-00000000
CPUID 80000001: 00000524-00000000-00000000-000021BF
CPUID 80000002: 2D444D41-7428354B-5020296D-65636F72
CPUID 80000003: 726F7373-00000000-00000000-00000000
CPUID 80000004: 00000000-00000000-00000000-00000000
CPUID 80000005: 00000000-04800000-08040120-10040120
)";

constexpr const char* kK6 = R"(name = AMD K6 233
# CPUID values from the dump amd-k6-0570.txt.
clock = 233333333
CPU Type           : AMD K6, 233 MHz
CPU Alias          : Littlefoot
CPU Stepping       : A
CPUID 00000000: 00000001-68747541-444D4163-69746E65
CPUID 00000001: 00000570-00000000-00000000-008001BF
CPUID 80000000: 80000005-00000000-00000000-00000000
CPUID 80000001: 00000670-00000000-00000000-008005BF
CPUID 80000002: 2D444D41-6D74364B-202F7720-746C756D
CPUID 80000003: 64656D69-65206169-6E657478-6E6F6973
CPUID 80000004: 00000073-00000000-00000000-00000000
CPUID 80000005: 00000000-02800140-20020220-20020220
)";

constexpr const char* kK62 = R"(name = AMD K6-2 350 (CXT core)
# No published dump: the documented signature of the K6-2, family 5,
# model 8, stepping 12 (CXT core), with its standard feature flags (FPU,
# VME, DE, PSE, TSC, MSR, MCE, CX8, PGE, MMX). Leaf 0 as in amd-k6-0570.txt.
clock = 350000000
CPUID 00000000: 00000001-68747541-444D4163-69746E65
CPUID 00000001: 0000058C-00000000-00000000-008021BF
)";

constexpr const char* kC6 = R"(name = IDT WinChip C6 225
# CPUID values from the dump idt-winchip-c6-0542.txt.
clock = 225000000
CPU Type           : IDT WinChip C6, 225 MHz
CPUID 00000000: 00000001-746E6543-736C7561-48727561
CPUID 00000001: 00000542-00000000-00000000-008001B5
CPUID 80000000: 80000000-00000000-00000000-00000000
)";

// ------------------------------------------------------------------ P6
//
// Registers besides CPUID: EBL_CR_POWERON (2Ah) carries the clock ratio code
// in bits 22 to 25 and the 100 MHz bus setting in bit 19; BBL_CR_CTL3 (11Eh)
// has bit 5 for ECC checking, bits 20 to 22 for the cacheable area, bit 23
// set when there is no second-level cache and bit 25 for a full-speed cache;
// the nine cache configuration registers describe controller, maker, size,
// cacheable area, latency mode, error type and associativity.

constexpr const char* kPPro = R"(name = 2x Intel Pentium Pro 200 (256 KB)
# CPUID and MSR values from the dump pentiumpro-0619.txt (the ratio code 1 in
# register 2Ah is the 3 x 67 MHz of its header).
processors = 2
clock = 200000000
CPU Type           : 2x Intel Pentium Pro, 200 MHz (3 x 67)
CPU Alias          : P6, A80521
CPU Stepping       : sB1
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000619-00000000-00000000-0000FBFF
CPUID 00000002: 03020101-00000000-00000000-06040A42
MSR 0000002A: 0000-0000-C040-0000
MSR 0000008B: 0000-00D2-0000-0000
)";

constexpr const char* kKlamath = R"(name = Intel Pentium II 300 (Klamath, 512 KB with ECC)
# CPUID values from the dump pentium2-klamath-0633.txt; registers of a
# genuine 300 MHz part: ratio 4.5 at 66 MHz, ECC present and enabled.
clock = 300000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000633-00000000-00000000-0080FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
MSR 0000002A: 0000-0000-C180-0000
MSR 0000011E: 0000-0000-0000-4523
l2reg 0 = 02
l2reg 1 = 49
l2reg 2 = 09
l2reg 3 = 00
l2reg 4 = 02
l2reg 6 = 04
l2ecc = yes
)";

constexpr const char* kKatmai = R"(name = Intel Pentium III 500 (Katmai, 512 KB with ECC)
# CPUID leaves 0 to 2 and the registers 2Ah and 11Eh from the InstLatx64
# collection, GenuineIntel/GenuineIntel0000673_P3_KatmaiDP_CPUID.txt (the
# first processor of its two-processor board): ratio code 0 (5.0) on the
# 100 MHz bus, 4 GB cacheable, ECC checking on. The Katmai keeps the Pentium
# II's cache controller; its configuration registers here are those of an
# Intel BSRAM cache of 512 KB in 2 banks.
clock = 501160000
CPUID 00000000: 00000003-756E6547-6C65746E-49656E69
CPUID 00000001: 00000673-00000000-00000000-0387FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
MSR 0000002A: 0000-0000-C418-0000
MSR 0000011E: 0000-0000-0134-4531
l2reg 0 = 02
l2reg 1 = 49
l2reg 2 = 09
l2reg 3 = 03
l2reg 4 = 02
l2reg 6 = 04
l2ecc = yes
)";

constexpr const char* kSkylake = R"(name = Intel Core i5-6400T (Skylake, 2.2 GHz)
# CPUID leaves 0 to 2 from the InstLatx64 collection,
# GenuineIntel/GenuineIntel00506E3_Skylake_CPUID.txt: signature 000506E3h,
# family 6 with extended model 5. A processor of this age is refused before
# any MSR is read or written.
clock = 2200000000
CPUID 00000000: 00000016-756E6547-6C65746E-49656E69
CPUID 00000001: 000506E3-00100800-7FFAFBFF-BFEBFBFF
CPUID 00000002: 76036301-00F0B6FF-00000000-00C30000
)";

// Pentium M, Core Solo/Duo and Core 2: family 6 with models 9, 0Eh and 0Fh,
// without the P6 cache controller. They are identified and refused before
// any register (MSR) is read or written.

constexpr const char* kBanias = R"(name = Intel Celeron M 1300 (Banias, Pentium M core)
# From the header of InstLatx64/InstLatx64
# GenuineIntel/GenuineIntel0000695_PM_Banias_InstLatX86.txt (commit
# ddff8a9210c97b395d1463aa7e24c8bd56c9fcda): signature 00000695h, family 6
# model 9 stepping 5, 1302.92 MHz, the features TSC, FPU, CMOV, MMX, SSE, SSE2
# and CMPXCHG8B, L1 32 KB + 32 KB 8-way, L2 512 KB 4-way, 64-byte lines. The
# dump's header holds no CPUID values: leaves 0 to 2 are built to agree with
# it (the listed features only in EDX, CLFLUSH line size 64 bytes in EBX;
# leaf 2 descriptors 2Ch, 30h and 86h for those caches).
clock = 1302920000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000695-00000800-00000000-06808111
CPUID 00000002: 00000001-00000000-00000000-0086302C
)";

constexpr const char* kYonah = R"(name = Intel Celeron 215 (Yonah, Core Solo/Duo core)
# From the header of InstLatx64/InstLatx64
# GenuineIntel/GenuineIntel00006E8_PM_Yonah_InstLatX86.txt (commit
# ddff8a9210c97b395d1463aa7e24c8bd56c9fcda): signature 000006E8h, family 6
# model 0Eh stepping 8, 1333.35 MHz, the features TSC, FPU, CMOV, MMX, SSE,
# SSE2, SSE3 and CMPXCHG8B, L1 32 KB + 32 KB 8-way, L2 512 KB 2-way, 64-byte
# lines. The dump's header holds no CPUID values: leaves 0 to 2 are built to
# agree with it (the listed features only, SSE3 in ECX; CLFLUSH line size 64
# bytes in EBX; leaf 2 descriptors 2Ch, 30h and 7Fh for those caches; the
# highest leaf 0Ah of this generation).
clock = 1333350000
CPUID 00000000: 0000000A-756E6547-6C65746E-49656E69
CPUID 00000001: 000006E8-00000800-00000001-06808111
CPUID 00000002: 00000001-00000000-00000000-007F302C
)";

constexpr const char* kConroe = R"(name = Intel Core 2 Extreme X6800 (Conroe, two cores)
# CPUID leaves and MSR values from InstLatx64/InstLatx64
# GenuineIntel/GenuineIntel00006F6_Conroe_CPUID.txt (commit
# ddff8a9210c97b395d1463aa7e24c8bd56c9fcda), logical CPU #0; #1 differs only
# in leaf 1 EBX. Its MSR 11Eh (BBL_CR_CTL3 on a Pentium II) reads BE702109h:
# on this processor the register means something else, and no P6 register is
# touched.
processors = 2
CPU Type          : DualCore Intel Core 2 Extreme X6800, 2933 MHz (11 x 267)
PerformanceFrequency = 2937000000
CPUID 00000000: 0000000A-756E6547-6C65746E-49656E69
CPUID 00000001: 000006F6-00020800-0000E3BD-BFEBFBFF
CPUID 00000002: 05B0B101-005657F0-00000000-2CB43049
CPUID 00000003: 00000000-00000000-00000000-00000000
CPUID 00000004: 04000121-01C0003F-0000003F-00000001
CPUID 00000005: 00000040-00000040-00000003-00000020
CPUID 00000006: 00000001-00000002-00000001-00000000
CPUID 00000007: 00000000-00000000-00000000-00000000
CPUID 00000008: 00000400-00000000-00000000-00000000
CPUID 00000009: 00000000-00000000-00000000-00000000
CPUID 0000000A: 07280202-00000000-00000000-00000000
CPUID 80000000: 80000008-00000000-00000000-00000000
CPUID 80000001: 00000000-00000000-00000001-20100000
CPUID 80000002: 65746E49-2952286C-726F4320-4D542865
CPUID 80000003: 43203229-20205550-20202020-58202020
CPUID 80000004: 30303836-20402020-33392E32-007A4847
CPUID 80000005: 00000000-00000000-00000000-00000000
CPUID 80000006: 00000000-00000000-10008040-00000000
CPUID 80000007: 00000000-00000000-00000000-00000000
CPUID 80000008: 00003024-00000000-00000000-00000000
MSR 00000017: 0000-0000-8804-0B28
MSR 0000001B: 0000-0000-FEE0-0900
MSR 0000002A: 0000-0000-42C8-0000
MSR 0000008B: 0000-0044-0000-0000
MSR 0000011E: 0000-0000-BE70-2109
[processor 2]
CPUID 00000001: 000006F6-01020800-0000E3BD-BFEBFBFF
)";

constexpr const char* kP2OverDrive =
    R"(name = Intel Pentium II OverDrive 333 (in a Pentium Pro socket)
# CPUID values from the dump pentium2-overdrive-0632.txt (processor type 1).
clock = 333000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00001632-00000000-00000000-0183FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040843
MSR 0000002A: 0000-0000-C000-0000
MSR 0000011E: 0000-0000-0000-4523
l2reg 0 = 02
l2reg 1 = 49
l2reg 2 = 09
l2reg 4 = 02
l2reg 6 = 04
l2ecc = yes
)";

constexpr const char* kDeschutes = R"(name = Intel Pentium II 450 (Deschutes, 100 MHz bus)
# CPUID values from the dump pentium2-deschutes-0653.txt; its leaf 2 reports
# a 1 MB second-level cache (descriptor 44h), which the cache registers
# follow. Ratio 4.5 at 100 MHz, 4 GB cacheable, ECC present and enabled.
clock = 450000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000653-00000000-00000000-0183FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040844
MSR 0000002A: 0000-0000-C188-0000
MSR 0000011E: 0000-0000-0030-4523
l2reg 0 = 03
l2reg 1 = 49
l2reg 2 = 11
l2reg 3 = 03
l2reg 4 = 02
l2reg 6 = 04
l2ecc = yes
)";

constexpr const char* kCovington = R"(name = Intel Celeron 266 (Covington, no second-level cache)
# No published dump: the documented signature of the Covington Celeron,
# family 6, model 5, stepping 0, with descriptor 40h (no second-level cache)
# in leaf 2 and the Pentium II feature flags. BBL_CR_CTL3 bit 23 says that
# there is no cache; ratio 4.0 at 66 MHz.
clock = 266000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000650-00000000-00000000-0183F9FF
CPUID 00000002: 03020101-00000000-00000000-0C040840
MSR 0000002A: 0000-0000-C080-0000
MSR 0000011E: 0000-0000-0080-4501
l2ecc = no
)";

constexpr const char* kMendocino = R"(name = Intel Celeron 300A (Mendocino, 128 KB full speed)
# CPUID values from the dump celeron-mendocino-0665.txt; ratio 4.5 at
# 66 MHz, the on-die cache at core clock with ECC.
clock = 300000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000665-00000000-00000000-0183F9FF
CPUID 00000002: 03020101-00000000-00000000-0C040841
MSR 0000002A: 0000-0000-C180-0000
MSR 0000011E: 0000-0000-0230-4523
l2reg 0 = 02
l2reg 1 = 49
l2reg 3 = 03
l2reg 4 = 00
l2reg 6 = 04
l2ecc = yes
)";

constexpr const char* kDixon = R"(name = Intel Mobile Pentium II 366 (Dixon, 256 KB full speed)
# CPUID values from the dump pentium2-dixon-066a.txt; ratio 5.5 at 66 MHz.
clock = 366000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 0000066A-00000000-00000000-0183F9FF
CPUID 00000002: 03020101-00000000-00000000-0C040842
MSR 0000002A: 0000-0000-C100-0000
MSR 0000011E: 0000-0000-0230-4523
l2reg 0 = 02
l2reg 1 = 49
l2reg 2 = 05
l2reg 3 = 03
l2reg 6 = 04
l2ecc = yes
)";

constexpr const char* kP2Xeon = R"(name = 2x Intel Pentium II Xeon 400 (2 MB CSRAM)
# No published dump: the documented signature of the Pentium II Xeon,
# family 6, model 5, stepping 2, with descriptor 45h (2 MB) in leaf 2 and the
# Pentium II feature flags. CSRAM cache (bit 5 of cache register 0), ratio
# 4.0 at 100 MHz, 64 GB cacheable, ECC present and enabled.
processors = 2
clock = 400000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000652-00000000-00000000-0183FBFF
CPUID 00000002: 03020101-00000000-00000000-0C040845
MSR 0000002A: 0000-0000-C088-0000
MSR 0000011E: 0000-0000-0070-4523
l2reg 0 = 22
l2reg 1 = 49
l2reg 2 = 80
l2reg 3 = 07
l2reg 4 = 02
l2reg 6 = 04
l2ecc = yes
)";

// ------------------------------------------------------------------ Cyrix
//
// The configuration registers: CCR0 to CCR3 at C0h to C3h, the address
// region registers from C4h, CCR4 and CCR5 at E8h and E9h, DIR0 and DIR1 at
// FEh and FFh.

constexpr const char* k6x86 = R"(name = Cyrix 6x86 P166+ (133 MHz, CPUID switched off)
# CPUID values from the dump cyrix-6x86-0530.txt; here CPUID is switched off
# as the part ships (CCR4 bit 7 clear) and answers only while the
# identification switches it on. The dump has no revision line: DIR0 31h
# (clock 2:1) and DIR1 17h, a revision of the 6x86 before the 6x86L.
clock = 133333333
cpuid = cyrix
divflags = unchanged
CPUID 00000000: 00000001-69727943-64616574-736E4978 [CyrixInstead]
CPUID 00000001: 00000530-00530000-00000000-00000001
cyrix C0 = 02
cyrix C1 = 02
cyrix C2 = 82
cyrix C3 = 00
cyrix C4 = 00
cyrix C5 = 0A
cyrix C6 = 06
cyrix C8 = 0C
cyrix C9 = 06
cyrix CB = 0E
cyrix CC = 05
cyrix E8 = 01
cyrix E9 = 00
cyrix FE = 31
cyrix FF = 17
)";

constexpr const char* k6x86Mx = R"(name = Cyrix 6x86MX / MII (250 MHz, 3 x 83)
# CPUID values from the dump cyrix-mii-0600.txt, whose revision line 5308h
# gives DIR0 53h (clock 3:1) and DIR1 08h. CPUID is switched on (CCR4 bit 7
# set), as when the dump was taken.
clock = 250000000
cpuid = cyrix
divflags = unchanged
CPU Type           : Cyrix 6x86MX/MII, 250 MHz (3 x 83)
Cyrix CPU Revision : 5308h
CPUID 00000000: 00000001-69727943-64616574-736E4978
CPUID 00000001: 00000600-00000000-00000000-0080A135
cyrix C0 = 02
cyrix C1 = 02
cyrix C2 = 86
cyrix C3 = 00
cyrix C4 = 00
cyrix C5 = 0A
cyrix C6 = 06
cyrix C8 = 0C
cyrix C9 = 06
cyrix CB = 0E
cyrix CC = 05
cyrix E8 = 81
cyrix E9 = 01
cyrix FE = 53
cyrix FF = 08
)";

constexpr const char* kCx486 = R"(name = Cyrix Cx486DX2-66 (no CPUID)
# No CPUID at all: the part is known by its division that leaves the flags
# alone and by its configuration registers. DIR0 1Bh is the documented
# device identification of the Cx486DX2; DIR1 08h is an assumed revision.
clock = 66666666
cpuid = off
divflags = unchanged
cyrix C0 = 02
cyrix C1 = 01
cyrix C2 = 84
cyrix C3 = 00
cyrix C4 = 00
cyrix C5 = 0A
cyrix C6 = 06
cyrix C7 = 00
cyrix C8 = 0C
cyrix C9 = 06
cyrix FE = 1B
cyrix FF = 08
)";

constexpr const char* kPicMirror =
    R"(name = Intel i386DX-33 on a board that mirrors the interrupt controller at 22h/23h
# No CPUID (an i386 has none) and a division that changes the flags; ports
# 22h and 23h are decoded as copies of the interrupt controller's 20h and
# 21h, so port 23h shows the interrupt mask: not a Cyrix, and the mask must
# come back unchanged.
clock = 33333333
cpuid = off
divflags = changed
pic = mirrored
)";

}  // namespace

std::vector<CatalogueEntry> IdentificationCatalogue() {
  return {
      {"i486dx2", "Intel i486 DX2 with CPUID", kI486Dx2},
      {"i486dx4", "Intel i486 DX4 with CPUID", kI486Dx4},
      {"am5x86", "AMD Am5x86 in write-back mode", kAm5x86},
      {"p54c", "Intel Pentium P54C, stepping E0", kP54c},
      {"pentium-mmx", "Intel Pentium MMX, two processors", kPentiumMmx},
      {"k5", "AMD K5 (5k86) PR166", kK5},
      {"k6", "AMD K6 model 7", kK6},
      {"k6-2", "AMD K6-2", kK62},
      {"c6", "IDT WinChip C6", kC6},
      {"ppro", "Intel Pentium Pro, two processors", kPPro},
      {"klamath", "Intel Pentium II Klamath", kKlamath},
      {"p2-overdrive", "Intel Pentium II OverDrive", kP2OverDrive},
      {"deschutes", "Intel Pentium II Deschutes", kDeschutes},
      {"covington", "Intel Celeron without second-level cache", kCovington},
      {"mendocino", "Intel Celeron Mendocino", kMendocino},
      {"dixon", "Intel Mobile Pentium II Dixon", kDixon},
      {"p2-xeon", "Intel Pentium II Xeon, two processors", kP2Xeon},
      {"katmai", "Intel Pentium III Katmai", kKatmai},
      {"banias", "Intel Celeron M Banias (Pentium M, model 9): refused", kBanias},
      {"yonah", "Intel Celeron 215 Yonah (Core Solo/Duo, model 0Eh): refused", kYonah},
      {"conroe", "Intel Core 2 Conroe (model 0Fh), two processors: refused", kConroe},
      {"skylake", "Intel Core i5 Skylake (extended model 5): refused", kSkylake},
      {"6x86", "Cyrix 6x86 with CPUID switched off", k6x86},
      {"6x86mx", "Cyrix 6x86MX with CPUID on", k6x86Mx},
      {"cx486", "Cyrix Cx486DX2 without CPUID", kCx486},
      {"pic-mirror", "i386 board mirroring the interrupt controller", kPicMirror},
  };
}

}  // namespace torv
