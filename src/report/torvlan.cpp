// Placeholder tables; replaced by the three message records.
#include "report/torvlan.h"

namespace torv {
const LangRec& GermanRec() {
  static const LangRec r{};
  return r;
}
const LangRec& EnglishRec() {
  static const LangRec r{};
  return r;
}
const LangRec& DutchRec() {
  static const LangRec r{};
  return r;
}
}  // namespace torv
