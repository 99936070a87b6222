// The help text, the version, and the table of every switch the program
// recognises on its command line.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace torv {

// One recognised switch: its name as the help text writes it (matching is
// not case-sensitive), whether a value follows it ("/ECC=", "/TEST=",
// "/SIM="), how the value is written, and what it does. Switches that share a
// meaning follow one another with the same Help and share one help line.
struct KnownSwitch {
  std::string_view Name;
  bool Prefix;
  std::string_view Value;
  std::string_view Help;
};

// Every switch that the switch parser, the start-up (/CON, /SIM=) and the
// help and version forms act on, in the order the help text lists them.
std::span<const KnownSwitch> KnownSwitches();

// Whether a command-line argument is one of KnownSwitches (compared as the
// switch parser compares: upper-cased, whole, or as a prefix before its value).
bool IsKnownSwitch(std::string_view arg);

// "--help", "-h", "-?", "/?", "/H", "/HELP" in any case.
bool IsHelpSwitch(std::string_view arg);
// "--version" in any case.
bool IsVersionSwitch(std::string_view arg);

inline constexpr std::string_view kVersion = "1.6";

// The help text: switches, /SIM=, console mode, the log file and its
// encoding, the exit statuses. Plain ASCII lines ended by "\n".
std::string UsageText();

// "torvacin 1.6", then the copyright, the licence (GPL-2.0-or-later) and
// the absence of warranty; each line ended by "\n".
std::string VersionText();

}  // namespace torv
