// Message boxes on the terminal, for console mode on every system.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace torv {

// Message boxes on the terminal. "Error: text" and "Warning: text" go to
// `out`; an OK/Cancel question is asked on `in` when it is interactive and
// answered Cancel otherwise (an unattended run never confirms a risky step).
class ConsoleBoxPresenter : public BoxPresenter {
 public:
  ConsoleBoxPresenter();  // stdin, stderr, interactive when stdin is a terminal
  ConsoleBoxPresenter(std::FILE* in, std::FILE* out, bool interactive)
      : in_(in), out_(out), interactive_(interactive) {}
  int Show(std::string_view title, std::string_view text, BoxButtons buttons) override;

 private:
  std::FILE* in_;
  std::FILE* out_;
  bool interactive_;
};

}  // namespace torv
