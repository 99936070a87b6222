// Small helpers shared by the Pentium II report builders: joining texts and
// writing report lines through the report screen.
#pragma once

#include <string>
#include <string_view>

#include "world.h"
#include "p2/p2info.h"
#include "report/language.h"

namespace torv::p2text {

// Joins texts (std::string, PStr, literals) into one string.
template <class... A>
std::string Cat(const A&... a) {
  std::string s;
  (s.append(std::string_view(a)), ...);
  return s;
}

inline void Write(World& w, std::string_view text) {
  ReportWrite(w.report, text);
}
inline void Line(World& w, std::string_view text) {
  ReportWriteLn(w.report, text);
}
inline void EndLine(World& w) {
  ReportWriteLn(w.report, "");
}

// EccMode and EccWas have entries for processors 1 to 4 only.
inline bool HasEccEntry(int proc) {
  return proc >= 1 && proc <= 4;
}

inline bool Bit(std::uint32_t v, int n) {
  return ((v >> n) & 1u) != 0;
}

// The system bus that EBL_CR_POWERON bits 19:18 select: 00 66 MHz, 10 100 MHz,
// 01 133 MHz; 11 is no setting of any part.
enum class Bus : std::uint8_t { Mhz66, Mhz100, Mhz133, Unknown };

inline Bus BusSetting(const TP2Info& info) {
  if (info.Bus100 == 0) return info.Bus133 == 0 ? Bus::Mhz66 : Bus::Mhz133;
  return info.Bus133 == 0 ? Bus::Mhz100 : Bus::Unknown;
}

}  // namespace torv::p2text
