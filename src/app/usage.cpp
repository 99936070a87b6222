#include "app/usage.h"

#include <algorithm>
#include <array>

#include "report/utility.h"

namespace torv {

namespace {

constexpr std::string_view kHelp = "this text";

constexpr auto kSwitches = std::to_array<KnownSwitch>({
    {"/EN", false, "", "report in English"},
    {"/US", false, "", "report in English"},
    {"/GR", false, "", "report in German (decimal comma)"},
    {"/NL", false, "", "report in Dutch"},
    {"/LOG", false, "", "trace every register (MSR) access in the report"},
    {"/EXT", false, "", "append cache details and memory ranges to each report"},
    {"/EXX", false, "", "as /EXT, with the raw register values"},
    {"/NOL2", false, "", "skip the cache's ECC test; no verdict"},
    {"/ECC=", true, "[P:]ON|OFF",
     "turn the cache's ECC checking on processor P (1 to 4,\n"
     "default 1) on or off; 1 and 0 work as ON and OFF;\n"
     "a processor that does not exist is ignored"},
    {"/SAVE", false, "", "write all processors' reports to torvacin.log, end"},
    {"/Q", false, "", "end after the ECC passes, before the analysis"},
    {"/TEST=", true, "N", "fixed test configuration N (1 to 8), not the hardware"},
    {"/DEB", false, "", "in the switch field: restart the driver in debug mode"},
    {"/FEA", false, "", "accepted; changes nothing"},
    {"/CON", false, "", "console mode even when a display is there"},
    {"/SIM=", true, "NAME|PATH",
     "run on a simulated machine: a catalogue name (any\n"
     "case) or a profile file; a value containing \"/\" is\n"
     "always a path; /SIM=? lists the catalogue"},
    {"/DUMP", false, "",
     "write this machine (or the /SIM= machine) as a profile\n"
     "to standard output and end: every processor's CPUID\n"
     "leaves but leaf 3 (the serial number), its clock and\n"
     "the registers and ECC test result of the analysis"},
    {"/DUMP=ALL", false, "", "as /DUMP, with CPUID leaf 3"},
    {"/SUMMARY=", true, "FOLDER",
     "read the logs in FOLDER (every file, by name) and\n"
     "print one line a processor: file, processor, clock,\n"
     "system clock x ratio, L2 and ECC, and the verdict in\n"
     "a word (all clear, alarm, not checked); no hardware\n"
     "is touched"},
    {"--help", false, "", kHelp},
    {"-h", false, "", kHelp},
    {"-?", false, "", kHelp},
    {"/?", false, "", kHelp},
    {"/H", false, "", kHelp},
    {"/HELP", false, "", kHelp},
    {"--version", false, "", "print the version"},
});

bool SameUpper(std::string_view a, std::string_view b) {
  return UpperStr(a) == UpperStr(b);
}

constexpr std::string_view kIntro =
    "Usage: torvacin [switches]\n"
    "\n"
    "Identifies the processor and, for the Pentium Pro and Pentium II family,\n"
    "judges from its machine registers (MSRs), its measured clock and a test of\n"
    "the second-level cache's ECC storage whether it is genuine, overclocked or\n"
    "a re-marked fake.\n"
    "\n"
    "Switches (not case-sensitive):\n";

constexpr std::string_view kRest =
    "Other arguments are ignored; in console mode each ignored one that starts\n"
    "with / or - is named on standard error. In the window, Ctrl+D opens a field\n"
    "for further switches (Enter applies them and runs the analysis again).\n"
    "\n"
    "Console mode: without a display, when the X server refuses, or with /CON,\n"
    "the report of processor 1 goes to standard output in UTF-8 and the program\n"
    "ends; messages go to standard error as \"Error: ...\" or \"Warning: ...\".\n"
    "Control bytes from the machine or a profile are shown as \"?\".\n"
    "\n"
    "Log file: /SAVE writes torvacin.log in the current folder, the Save button\n"
    "a file of your choice. It holds the reports of all processors (1 to 4) one\n"
    "after another, each with its details, as Windows-1252 (code page 1252)\n"
    "text with CR LF line ends; control bytes are written as \"?\". The file is\n"
    "replaced in one step: a symbolic link there is replaced, not followed, and\n"
    "anything but a regular file is refused.\n"
    "\n"
    "Language: a language switch, otherwise LC_ALL, LC_MESSAGES or LANG (de and\n"
    "nl with or without a territory; everything else gives English).\n"
    "\n"
    "Exit status:\n"
    "  0  normal end (also after --help, --version and /SIM=?)\n"
    "  1  unsupported platform, driver failure, a failed save, or a report that\n"
    "     could not be written to standard output\n"
    "  2  an unknown or unusable /SIM= machine or profile file\n"
    "  3  a processor could not be analysed (no analysis thread, or the processor\n"
    "     could not be reached)\n"
    "  4  analysis incomplete (a register or cache test failed after identification)\n"
    "     or an /ECC= pass could not switch anything\n"
    "  5  another analysis held the processor registers for 30 seconds, or their\n"
    "     lock was made by another user\n"
    "  6  /SUMMARY= read no log (folder missing or unreadable, or no log in it)\n"
    "  7  writing a machine register (MSR) failed\n"
    "  8  reading a machine register (MSR) failed\n"
    "  128+n  signal n came while the cache controller was changed; its registers\n"
    "     were put back first (SIGINT 130, SIGTERM 143)\n";

constexpr std::string_view kLicenceLines =
    "Copyright (C) 2026 The Torvacin developers\n"
    "License GPL-2.0-or-later: GNU GPL version 2 or later\n"
    "<https://www.gnu.org/licenses/old-licenses/gpl-2.0.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

}  // namespace

std::span<const KnownSwitch> KnownSwitches() {
  return kSwitches;
}

bool IsKnownSwitch(std::string_view arg) {
  const std::string upper = UpperStr(arg);
  return std::any_of(kSwitches.begin(), kSwitches.end(), [&](const KnownSwitch& s) {
    const std::string name = UpperStr(s.Name);
    return s.Prefix ? upper.starts_with(name) : upper == name;
  });
}

bool IsHelpSwitch(std::string_view arg) {
  return std::any_of(kSwitches.begin(), kSwitches.end(), [&](const KnownSwitch& s) {
    return s.Help == kHelp && SameUpper(s.Name, arg);
  });
}

bool IsVersionSwitch(std::string_view arg) {
  return SameUpper(arg, "--version");
}

std::string UsageText() {
  constexpr std::size_t kColumn = 22;
  std::string text(kIntro);
  for (std::size_t i = 0; i < kSwitches.size();) {
    // Switches with the same meaning share a line.
    std::string names;
    std::size_t j = i;
    for (; j < kSwitches.size() && kSwitches[j].Help == kSwitches[i].Help; ++j) {
      if (!names.empty()) names += ", ";
      names += std::string(kSwitches[j].Name) + std::string(kSwitches[j].Value);
    }
    std::string line = "  " + names;
    line += line.size() + 2 <= kColumn ? std::string(kColumn - line.size(), ' ')
                                       : "\n" + std::string(kColumn, ' ');
    std::string_view help = kSwitches[i].Help;
    for (;;) {
      const auto nl = help.find('\n');
      line += help.substr(0, nl);
      line += '\n';
      if (nl == std::string_view::npos) break;
      help.remove_prefix(nl + 1);
      line += std::string(kColumn, ' ');
    }
    text += line;
    i = j;
  }
  text += '\n';
  text += kRest;
  return text;
}

std::string VersionText() {
  std::string text = "torvacin ";
  text += kVersion;
  text += '\n';
  text += kLicenceLines;
  return text;
}

}  // namespace torv
