// The report screen (a small text screen over the list box's lines) and the
// choice of the report language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "report/torvlan.h"

namespace torv {

// The list box the report is shown in: its lines are the report (line k is
// item k-1), in code page 1252. Views display it; nothing here calls a view,
// so the analysis thread may write while the main thread waits.
struct ListBox {
  std::vector<std::string> Items;
  int Height = 303;     // pixels
  int ItemHeight = 13;  // pixels
};

// State of the report screen and the language choice.
struct ReportState {
  ListBox* Bound = nullptr;  // none until ReportInit
  std::int32_t CurLine = 1;
  std::int32_t CurCol = 1;
  std::int32_t RowCount = 25;
  bool Scroll = true;
  bool Wrap = false;
  bool Convert = false;
  // Language choice.
  std::uint32_t LangCode = 1;
  const LangRec* Cur = &EnglishRec();

  const LangRec& Msg() const { return *Cur; }
};

void ReportInit(ReportState& r, ListBox& box, bool scroll, bool wrap, bool convert);
void ReportClear(ReportState& r);
void ReportWrite(ReportState& r, std::string_view text);
void ReportWriteLn(ReportState& r, std::string_view text);

// Language code for a Windows language identifier: German 49, Dutch 31,
// anything else English 1.
std::uint16_t SystemLanguage(std::uint16_t langId);
void SetLanguage(ReportState& r, std::uint16_t code);

// A message table text as the report screen writes it: its OEM codes for
// the umlauts and the like turned into code page 1252.
std::string TableText(std::string_view oem);

// Code page 1252 bytes to UTF-8, for the terminal and the window.
std::string Cp1252ToUtf8(std::string_view s);
// UTF-8 typed text to code page 1252 (characters it lacks become "?").
std::string Utf8ToCp1252(std::string_view s);

}  // namespace torv
