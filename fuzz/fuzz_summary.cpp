// Fuzzes the reader of saved logs: any bytes give processors whose texts are
// pieces of the input no longer than a report line, and every summary line
// of them is built in each language.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "report/summary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<torv::ChipSummary> chips = torv::ReadLogSummary(input);
  for (const torv::ChipSummary& c : chips) {
    if (c.Number < 1) std::abort();
    for (const std::string* s : {&c.Processor, &c.Clock, &c.SystemClock, &c.Ratio, &c.L2Size}) {
      if (s->size() > 255) std::abort();
      if (!s->empty() && input.find(*s) == std::string_view::npos) std::abort();
    }
    for (const torv::LangRec* m : {&torv::EnglishRec(), &torv::GermanRec(), &torv::DutchRec()}) {
      if (torv::SummaryLine(*m, "TORV0001.LOG", c).empty()) std::abort();
    }
  }
  return 0;
}
