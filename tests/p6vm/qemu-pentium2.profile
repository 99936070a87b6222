# The emulated Pentium II of the emulated-p2 test (qemu-system-i386 -cpu
# pentium2) as a simulated machine: the register values measured there, and
# a clock of 1000 MHz as under -icount shift=0.
name = QEMU pentium2, one processor
clock = 1000000000
CPUID 00000000: 00000002-756E6547-6C65746E-49656E69
CPUID 00000001: 00000652-00000000-00000000-0183FBFD
CPUID 00000002: 00000001-00000000-0000004D-002C307D   # descriptors 01h, 4Dh, 7Dh, 30h, 2Ch
# EBL_CR_POWERON, 1E0h, BBL_CR_CTL3 and the cache controller read 0; writes
# do not stick, so the ECC pattern never comes back.
l2ecc = no
MSR 00000200: 0000-0000-8000-0000    # range 0: base 2 GB, uncached
MSR 00000201: 0000-000F-8000-0800    # mask: 2 GB, valid
