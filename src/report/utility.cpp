// Placeholder bodies; replaced by the formatting helpers.
#include "report/utility.h"

namespace torv {
std::string HexByte(std::uint8_t) { return ""; }
std::string HexWord(std::uint16_t) { return ""; }
std::string HexDword(std::uint32_t) { return ""; }
std::string DecStr(std::int32_t) { return ""; }
std::string DecStrW(std::int32_t, int) { return ""; }
std::string UpperStr(std::string_view s) { return std::string(s); }
void AppendChar(std::string&, std::size_t, char) {}
std::string BoolWord(bool) { return ""; }
void SetDecimalPoint(UtilityState& u, bool flag) { u.DecimalPoint = flag; }
std::string RealStrW(const UtilityState&, double, int, int) { return ""; }
std::string RealStr(const UtilityState&, double, int) { return ""; }
}  // namespace torv
