// torvacin-access's line protocol: the request parser, the record of a
// sequence's accesses in words, and which processors the helper serves.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/hw.h"
#include "driver/protocol.h"
#include "machine/access.h"

namespace torv {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// One to `digits` upper-case hex digits.
bool ParseHex(std::string_view s, std::size_t digits, std::uint64_t& out) {
  if (s.empty() || s.size() > digits) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (!IsHexDigit(c)) return false;
    v = v << 4 | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'A' + 10);
  }
  out = v;
  return true;
}

// One or more decimal digits without a leading zero (a lone 0 aside), at most
// `max`.
bool ParseDecimal(std::string_view s, std::uint32_t max, std::uint32_t& out) {
  if (s.empty() || s.size() > 5 || (s.size() > 1 && s[0] == '0')) return false;
  std::uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (v > max) return false;
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

std::string Hex(std::uint64_t v) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
  return buf;
}

constexpr const char* kEccModes[] = {"off", "on", "force"};

// Vendor texts as CPUID leaf 0 leaves them in EBX, EDX, ECX.
bool VendorIs(std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx, const char (&text)[13]) {
  std::uint32_t w[3] = {};
  for (int i = 0; i < 12; ++i) {
    w[i / 4] |= static_cast<std::uint32_t>(static_cast<unsigned char>(text[i])) << (8 * (i % 4));
  }
  return ebx == w[0] && edx == w[1] && ecx == w[2];
}

}  // namespace

bool ParseAccessRequest(std::string_view line, AccessRequest& out) {
  std::string_view w[5];
  std::size_t n = 0;
  if (!SplitWords(line, w, 5, n) || n < 2) return false;
  AccessRequest r;
  std::size_t next = 2;
  if (w[0] == "probe") {
    r.Op = AccessOp::Probe;
    if (!ParseDecimal(w[1], kAccessMaxCpu, r.Cpu)) return false;
  } else if (w[0] == "ecc" && n >= 3) {
    r.Op = AccessOp::EccPass;
    if (!ParseDecimal(w[1], kAccessMaxEccCpu, r.Cpu)) return false;
    bool known = false;
    for (std::uint8_t m = 0; m < 3; ++m) {
      if (w[2] == kEccModes[m]) {
        r.EccMode = m;
        known = true;
      }
    }
    if (!known) return false;
    next = 3;
  } else if (w[0] == "cyrix" && n == 2) {
    r.Op = AccessOp::Cyrix;
    if (!ParseDecimal(w[1], kAccessMaxCpu, r.Cpu)) return false;
  } else {
    return false;
  }
  if (n == next + 1 && w[next] == "nol2") {
    r.EccTest = false;
  } else if (n != next) {
    return false;
  }
  out = r;
  return true;
}

std::string FormatAccessRequest(const AccessRequest& r) {
  std::string line;
  switch (r.Op) {
    case AccessOp::Probe:
      line = "probe " + std::to_string(r.Cpu);
      break;
    case AccessOp::EccPass:
      line = "ecc " + std::to_string(r.Cpu) + " " + kEccModes[r.EccMode < 3 ? r.EccMode : 0];
      break;
    case AccessOp::Cyrix:
      return "cyrix " + std::to_string(r.Cpu);
  }
  if (!r.EccTest) line += " nol2";
  return line;
}

std::string FormatAccessSteps(const std::vector<AccessStep>& steps) {
  std::string out;
  for (const AccessStep& s : steps) {
    if (!out.empty()) out += ' ';
    out += s.What;
    out += Hex(s.Reg);
    const bool written = s.What == AccessStep::WriteMsr || s.What == AccessStep::PortOut;
    if (s.Error != 0 && !written) {
      out += '!' + std::to_string(s.Error);
      continue;
    }
    out += ':';
    if (s.What == AccessStep::Cpuid) {
      out += Hex(s.Regs[0]) + '.' + Hex(s.Regs[1]) + '.' + Hex(s.Regs[2]) + '.' + Hex(s.Regs[3]);
    } else {
      out += Hex(s.Value);
    }
    if (s.Error != 0) out += '!' + std::to_string(s.Error);
  }
  return out;
}

namespace {

// One word of a record (see AccessStep).
bool ParseStep(std::string_view word, AccessStep& s) {
  if (word.size() < 2) return false;
  s = AccessStep{};
  s.What = word[0];
  const bool written = s.What == AccessStep::WriteMsr || s.What == AccessStep::PortOut;
  const bool port = s.What == AccessStep::PortIn || s.What == AccessStep::PortOut;
  if (s.What != AccessStep::ReadMsr && !written && s.What != AccessStep::PortIn &&
      s.What != AccessStep::Cpuid) {
    return false;
  }
  word.remove_prefix(1);
  // The error, if any, ends the word.
  const std::size_t bang = word.find('!');
  if (bang != std::string_view::npos) {
    std::uint32_t e = 0;
    if (!ParseDecimal(word.substr(bang + 1), 0xFFFF, e) || e == 0) return false;
    s.Error = static_cast<int>(e);
    word = word.substr(0, bang);
  }
  const std::size_t colon = word.find(':');
  std::uint64_t reg = 0;
  if (!ParseHex(word.substr(0, colon), port ? 4 : 8, reg)) return false;
  s.Reg = static_cast<std::uint32_t>(reg);
  // A failed read carries no value; everything else does.
  if (colon == std::string_view::npos) return s.Error != 0 && !written;
  if (s.Error != 0 && !written) return false;
  const std::string_view value = word.substr(colon + 1);
  if (s.What != AccessStep::Cpuid) return ParseHex(value, port ? 2 : 16, s.Value);
  std::size_t at = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t dot = i < 3 ? value.find('.', at) : value.size();
    std::uint64_t v = 0;
    if (dot == std::string_view::npos || !ParseHex(value.substr(at, dot - at), 8, v)) return false;
    s.Regs[i] = static_cast<std::uint32_t>(v);
    at = dot + 1;
  }
  return true;
}

}  // namespace

bool ParseAccessSteps(std::string_view text, std::vector<AccessStep>& out) {
  out.clear();
  if (text.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find(' ', start);
    if (end == std::string_view::npos) end = text.size();
    AccessStep s;
    if (!ParseStep(text.substr(start, end - start), s)) return false;
    out.push_back(s);
    if (end == text.size()) return true;
    start = end + 1;
  }
}

int AccessErrno(std::uint32_t lastError) {
  if (lastError > kErrOsBase && lastError < kErrOsBase + 0x10000u) {
    return static_cast<int>(lastError - kErrOsBase);
  }
  if (lastError == kErrCpuUnreachable) return ENXIO;
  if (lastError == kErrAccessDenied) return EPERM;
  return EIO;
}

bool AccessServesProcessor(std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx,
                           std::uint32_t eax1) {
  return VendorIs(ebx, edx, ecx, "GenuineIntel") && HasP6CacheController(eax1);
}

bool AccessServesPorts(bool hasCpuid, std::uint32_t ebx, std::uint32_t edx, std::uint32_t ecx) {
  return !hasCpuid || VendorIs(ebx, edx, ecx, "CyrixInstead");
}

}  // namespace torv
