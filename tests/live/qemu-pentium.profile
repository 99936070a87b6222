# The emulated Pentium of the live test (qemu-system-i386 -cpu pentium):
# QEMU's model (family 5, model 4, stepping 3: a Pentium MMX), with a
# clock of 1000 MHz as under -icount shift=0.
name = QEMU pentium, one processor
clock = 1000000000
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00000543-00000000-00000000-008003BF
