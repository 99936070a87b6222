# The emulated i486 of the live test (qemu-system-i386 -cpu 486): QEMU's
# model, an i486DX4 without a time-stamp counter.
name = QEMU 486, one processor
clock = 1000000000
CPUID 00000000: 00000001-756E6547-6C65746E-49656E69
CPUID 00000001: 00000480-00000000-00000000-0000000B
