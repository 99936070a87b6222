// Placeholder bodies; replaced by the report screen.
#include "report/language.h"

namespace torv {
void ReportInit(ReportState& r, ListBox& box, bool, bool, bool) { r.Bound = &box; }
void ReportClear(ReportState&) {}
void ReportWrite(ReportState&, std::string_view) {}
void ReportWriteLn(ReportState&, std::string_view) {}
std::uint16_t SystemLanguage(std::uint16_t) { return 1; }
void SetLanguage(ReportState& r, std::uint16_t code) { r.LangCode = code; }
std::string Cp1252ToUtf8(std::string_view s) { return std::string(s); }
}  // namespace torv
