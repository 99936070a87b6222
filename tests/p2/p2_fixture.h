// A fresh world over a fake platform with the report bound to a list box, as
// an analysis run leaves it: conversion on, wrapping at 80 columns, no
// scrolling, the list box emptied before the report is built.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "p2/p2info.h"
#include "platform/fake_platform.h"
#include "report/language.h"
#include "report/utility.h"
#include "app/world.h"

namespace torv::test {

struct ReportWorld {
  FakePlatform platform;
  World w{platform};
  ListBox box;

  explicit ReportWorld(std::uint16_t lang = 1) {
    ReportInit(w.report, box, false, true, true);
    ReportClear(w.report);
    SetLanguage(w.report, lang);
    SetDecimalPoint(w.util, lang != 49);
  }

  // One simulated configuration, analysed and reported on processor `proc`.
  bool RunTestCase(int n, int proc = 1) {
    w.settings.TestNo = static_cast<std::uint8_t>(n);
    EXPECT_EQ(WorkerThread(w.ForP2(), proc), 0u);
    return P2Report(w.ForP2(), proc);
  }

  const std::vector<std::string>& Lines() const { return box.Items; }
  void Clear() { ReportClear(w.report); }
};

// A label and its value as the report lines them up: the label padded with
// blanks so that the value (starting with its colon) stands in column 26.
inline std::string Col(std::string_view label, std::string_view value) {
  std::string s(label);
  if (s.size() < 25) s.append(25 - s.size(), ' ');
  s.append(value);
  return s;
}

// The value column alone: 25 blanks before the text.
inline std::string ValueCol(std::string_view value) {
  return Col("", value);
}

}  // namespace torv::test
