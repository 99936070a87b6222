// The program's start apart from the window: the simulated machine chosen
// with /SIM=, the initial language, and console mode.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/world.h"

namespace torv {

inline constexpr int kExitBadMachine = 2;

// "/SIM=" (any case) arguments pick a simulated machine before the driver is
// loaded: "/SIM=?" lists the catalogue on `out` and gives 0; a name or
// profile file that cannot be used writes one line on `err` and gives 2.
// Returns -1 when the program is to go on (with w.machine set for a /SIM=).
int PrepareMachine(World& w, const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// "/CON" (any case) asks for console mode even when a display is there.
bool WantsConsole(const std::vector<std::string>& args);

// The report language from the system's language, before any window exists.
void InitLanguage(World& w);

// Start-up without a window: the analysis of processor 1 (or the /SAVE and
// /Q runs), then its report lines on `out` in UTF-8. Returns the exit status.
int RunConsole(World& w, const std::vector<std::string>& args, std::FILE* out);

}  // namespace torv
