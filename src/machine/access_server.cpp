// The helper's request handling: the line parser, the allow-list, the check
// of each processor before its first register request, and the serving loop.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/access.h"

namespace torv {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return c - 'a' + 10;
}

// One to eight hex digits, at most `max`.
bool ParseHex(std::string_view s, std::uint32_t max, std::uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    if (!IsHexDigit(c)) return false;
    v = v << 4 | static_cast<std::uint32_t>(HexValue(c));
  }
  if (v > max) return false;
  out = v;
  return true;
}

// One to four decimal digits, at most kAccessMaxCpu.
bool ParseCpu(std::string_view s, std::uint32_t& out) {
  if (s.empty() || s.size() > 4) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > kAccessMaxCpu) return false;
  out = v;
  return true;
}

// Words separated by exactly one blank; false for an empty word or more
// than `max` words.
bool SplitWords(std::string_view line, std::string_view* words, std::size_t max,
                std::size_t& count) {
  count = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size() && line[i] != ' ') continue;
    if (i == start || count == max) return false;
    words[count++] = line.substr(start, i - start);
    start = i + 1;
  }
  return true;
}

std::string Hex(std::uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v));
  return buf;
}

struct Range {
  std::uint32_t First, Last;
};

// Registers the analysis reads: the power-on configuration, 1E0h, MTRRcap,
// BBL_CR_CTL3, the variable memory type ranges, the cache controller's data,
// address, ECC, control, trigger and busy registers.
constexpr Range kReadable[] = {
    {0x2A, 0x2A},   {0x1E0, 0x1E0}, {0xFE, 0xFE},   {0x11E, 0x11E},
    {0x200, 0x20F}, {0x88, 0x8B},   {0x116, 0x116}, {0x118, 0x11B},
};
// Registers the cache transaction, the ECC test and an ECC pass write.
constexpr Range kWritable[] = {
    {0x88, 0x8B}, {0x116, 0x116}, {0x118, 0x11A}, {0x11E, 0x11E},
};
// The interrupt controller's mask and the Cyrix configuration ports.
constexpr Range kPorts[] = {{0x21, 0x23}};

template <std::size_t N>
bool InRanges(const Range (&ranges)[N], std::uint32_t v) {
  for (const Range& r : ranges) {
    if (v >= r.First && v <= r.Last) return true;
  }
  return false;
}

}  // namespace

bool ParseAccessRequest(std::string_view line, AccessRequest& out) {
  std::string_view w[5];
  std::size_t n = 0;
  if (!SplitWords(line, w, 5, n)) return false;
  AccessRequest r;
  if (w[0] == "rdmsr" && n == 3) {
    r.Op = AccessOp::ReadMsr;
    if (!ParseCpu(w[1], r.Cpu) || !ParseHex(w[2], 0xFFFFFFFFu, r.Reg)) return false;
  } else if (w[0] == "wrmsr" && n == 5) {
    r.Op = AccessOp::WriteMsr;
    if (!ParseCpu(w[1], r.Cpu) || !ParseHex(w[2], 0xFFFFFFFFu, r.Reg) ||
        !ParseHex(w[3], 0xFFFFFFFFu, r.Hi) || !ParseHex(w[4], 0xFFFFFFFFu, r.Lo)) {
      return false;
    }
  } else if (w[0] == "inb" && n == 2) {
    r.Op = AccessOp::PortIn;
    if (!ParseHex(w[1], 0xFFFF, r.Reg)) return false;
  } else if (w[0] == "outb" && n == 3) {
    r.Op = AccessOp::PortOut;
    if (!ParseHex(w[1], 0xFFFF, r.Reg) || !ParseHex(w[2], 0xFF, r.Lo)) return false;
  } else {
    return false;
  }
  out = r;
  return true;
}

bool AccessAllowed(AccessOp op, std::uint32_t regOrPort) {
  switch (op) {
    case AccessOp::ReadMsr:
      return InRanges(kReadable, regOrPort);
    case AccessOp::WriteMsr:
      return InRanges(kWritable, regOrPort);
    case AccessOp::PortIn:
    case AccessOp::PortOut:
      return InRanges(kPorts, regOrPort);
  }
  return false;
}

bool AccessServesProcessor(std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx,
                           std::uint32_t eax1) {
  // "GenuineIntel" as CPUID leaf 0 leaves it in EBX, EDX, ECX.
  if (ebx != 0x756E6547u || edx != 0x49656E69u || ecx != 0x6C65746Eu) return false;
  return HasP6CacheController(eax1);
}

bool AccessServer::Serves(std::uint32_t cpu) {
  const auto known = served_.find(cpu);
  if (known != served_.end()) return known->second;
  const int proc = static_cast<int>(cpu) + 1;
  std::uint32_t a0 = 0, b0 = 0, c0 = 0, d0 = 0;
  std::uint32_t a1 = 0, b1 = 0, c1 = 0, d1 = 0;
  // A processor whose identity cannot be read is not served; it is asked
  // again next time (it may come online).
  if (machine_.Cpuid(proc, 0, a0, b0, c0, d0) != 0 || a0 < 1) return false;
  if (machine_.Cpuid(proc, 1, a1, b1, c1, d1) != 0) return false;
  const bool ok = AccessServesProcessor(b0, d0, c0, a1);
  served_[cpu] = ok;
  return ok;
}

std::string AccessServer::KernelError(std::uint32_t lastError) const {
  int e = EIO;
  if (lastError > kErrOsBase && lastError < kErrOsBase + 0x10000u) {
    e = static_cast<int>(lastError - kErrOsBase);
  } else if (lastError == kErrCpuUnreachable) {
    e = ENXIO;
  } else if (lastError == kErrAccessDenied) {
    e = EPERM;
  }
  // One line of printable characters, whatever the C library says.
  std::string text = std::strerror(e);
  for (char& c : text) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return "error " + std::to_string(e) + " " + text;
}

std::string AccessServer::LockAnswer(bool lock) {
  if (!lock_) lock_ = machine_.AnalysisLock();
  if (!lock_) return "error " + std::to_string(ENOSYS) + " " + std::strerror(ENOSYS);
  if (!lock) {
    lock_->Unlock();
    return "ok";
  }
  std::string reason;
  switch (lock_->TryLock(reason)) {
    case RegisterLock::Attempt::Held:
      return "ok";
    case RegisterLock::Attempt::Busy:
      return "busy";
    case RegisterLock::Attempt::Unavailable:
      break;
  }
  // The helper's own lock gives its reason as "ERRNO TEXT"; one printable line.
  for (char& c : reason) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return "error " + (reason.empty() ? std::to_string(EIO) + " " + std::strerror(EIO) : reason);
}

std::string AccessServer::Answer(std::string_view line) {
  if (line == "lock" || line == "unlock") return LockAnswer(line == "lock");
  AccessRequest r;
  if (!ParseAccessRequest(line, r)) return "bad";
  if (!AccessAllowed(r.Op, r.Reg)) return "denied";
  switch (r.Op) {
    case AccessOp::PortIn: {
      std::uint8_t v = 0;
      const std::uint32_t e = machine_.PortIn(static_cast<std::uint16_t>(r.Reg), v);
      return e != 0 ? KernelError(e) : "ok " + Hex(v);
    }
    case AccessOp::PortOut: {
      const std::uint32_t e =
          machine_.PortOut(static_cast<std::uint16_t>(r.Reg), static_cast<std::uint8_t>(r.Lo));
      return e != 0 ? KernelError(e) : "ok";
    }
    case AccessOp::ReadMsr: {
      if (!Serves(r.Cpu)) return "denied";
      std::uint64_t v = 0;
      const std::uint32_t e = machine_.ReadMsr(static_cast<int>(r.Cpu) + 1, r.Reg, v);
      if (e != 0) return KernelError(e);
      return "ok " + Hex(static_cast<std::uint32_t>(v >> 32)) + " " +
             Hex(static_cast<std::uint32_t>(v));
    }
    case AccessOp::WriteMsr: {
      if (!Serves(r.Cpu)) return "denied";
      const std::uint32_t e = machine_.WriteMsr(static_cast<int>(r.Cpu) + 1, r.Reg,
                                                static_cast<std::uint64_t>(r.Hi) << 32 | r.Lo);
      return e != 0 ? KernelError(e) : "ok";
    }
  }
  return "bad";
}

void AccessServer::Serve(std::istream& in, std::ostream& out) {
  std::string line;
  bool oversized = false;
  bool pending = false;  // characters read since the last line end
  const auto answer = [&] {
    out << (oversized ? std::string("bad") : Answer(line)) << '\n';
    out.flush();
    line.clear();
    oversized = false;
    pending = false;
    return static_cast<bool>(out);
  };
  char c = 0;
  while (in.get(c)) {
    if (c == '\n') {
      if (!answer()) return;
      continue;
    }
    pending = true;
    if (line.size() < kAccessMaxLine) {
      line += c;
    } else {
      oversized = true;
    }
  }
  // A last line without its line end is answered too.
  if (pending) answer();
}

}  // namespace torv
