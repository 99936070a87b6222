// Small helpers shared by the Pentium II report builders: joining texts and
// writing report lines through the report screen.
#pragma once

#include <string>
#include <string_view>

#include "p2/facts.h"
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

inline void Write(const P2Context& ctx, std::string_view text) {
  ReportWrite(ctx.report, text);
}
inline void Line(const P2Context& ctx, std::string_view text) {
  ReportWriteLn(ctx.report, text);
}
inline void EndLine(const P2Context& ctx) {
  ReportWriteLn(ctx.report, "");
}

// EccMode and EccWas have entries for processors 1 to 4 only.
inline bool HasEccEntry(int proc) {
  return proc >= 1 && proc <= 4;
}

inline bool Bit(std::uint32_t v, int n) {
  return ((v >> n) & 1u) != 0;
}

// The bus setting is one of the facts.
using ::torv::Bus;
using ::torv::BusSetting;

}  // namespace torv::p2text
