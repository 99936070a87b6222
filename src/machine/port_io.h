#pragma once

// Byte input and output on an I/O port the process has been granted with
// ioperm(). Where there are no x86 ports a read gives FFh, as an open bus
// does, and a write does nothing.

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

}  // namespace torv
