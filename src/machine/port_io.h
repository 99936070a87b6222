#pragma once

// The instructions the Linux back-ends (the program's and torvacin-access's)
// execute themselves: byte input and output on an I/O port the process has
// been granted with ioperm(), and the Cyrix flag test. Where there are no
// x86 ports a read gives FFh, as an open bus does, and a write does nothing.

#include <cstdint>

namespace torv {

inline std::uint8_t PortInByte(std::uint16_t port) {
#if defined(__x86_64__) || defined(__i386__)
  std::uint8_t v;
  __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(port));
  return v;
#else
  (void)port;
  return 0xFF;
#endif
}

inline void PortOutByte(std::uint16_t port, std::uint8_t value) {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("outb %0, %1" : : "a"(value), "Nd"(port));
#else
  (void)port;
  (void)value;
#endif
}

// Whether a 16-bit division leaves the arithmetic flags as they were, on the
// processor the calling thread runs on (Cyrix designs do; others change
// them).
inline bool DivisionLeavesFlagsHere() {
#if defined(__x86_64__)
  std::uint64_t before = 0, after = 0;
  // The red zone below the stack pointer may hold the caller's data: step
  // over it before pushing the flags (lea leaves the flags alone).
  __asm__ volatile(
      "lea -128(%%rsp), %%rsp\n\t"
      "mov $0xFFFF, %%eax\n\t"
      "xor %%edx, %%edx\n\t"
      "mov $4, %%ecx\n\t"
      "cmp %%ax, %%ax\n\t"
      "pushfq\n\t"
      "pop %0\n\t"
      "div %%cx\n\t"
      "pushfq\n\t"
      "pop %1\n\t"
      "lea 128(%%rsp), %%rsp\n\t"
      : "=&r"(before), "=&r"(after)
      :
      : "rax", "rcx", "rdx", "cc", "memory");
  return ((before ^ after) & 0x08D5u) == 0;
#elif defined(__i386__)
  std::uint32_t before = 0, after = 0;
  __asm__ volatile(
      "movl $0xFFFF, %%eax\n\t"
      "xorl %%edx, %%edx\n\t"
      "movl $4, %%ecx\n\t"
      "cmpw %%ax, %%ax\n\t"
      "pushfl\n\t"
      "popl %0\n\t"
      "divw %%cx\n\t"
      "pushfl\n\t"
      "popl %1\n\t"
      : "=&r"(before), "=&r"(after)
      :
      : "eax", "ecx", "edx", "cc", "memory");
  return ((before ^ after) & 0x08D5u) == 0;
#else
  return false;
#endif
}

}  // namespace torv
