// The built program in console mode, end to end: the report on standard
// output, the simulated machine switch, and the unattended save.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int Status = -1;
  std::string Out;
  std::string Err;
};

class Console : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }

  static std::string Read(const fs::path& p) { return torv::test::ReadFile(p); }

  // Runs the program without a display in `dir`; `env` goes before it.
  Outcome Torvacin(const std::string& args, const std::string& env = "") {
    return Shell("timeout 120 env -u DISPLAY " + env + " '" + TORV_BINARY + "' " + args);
  }

  // Runs a shell command line in `dir`, where $T is the program; the status
  // is the command's own.
  Outcome Shell(const std::string& line) {
    const fs::path err = dir / ".stderr";
    const std::string cmd = "cd '" + dir.string() + "' && export T='" + TORV_BINARY +
                            "' && unset DISPLAY && { " + line + " ; } 2>'" + err.string() + "'";
    Outcome r;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
    const int st = pclose(p);
    r.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.Err = Read(err);
    fs::remove(err);
    return r;
  }

  torv::test::TempDir tmp;
  fs::path dir = tmp.path();
};

bool IsUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    const int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) return false;
    for (int k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += static_cast<std::size_t>(len);
  }
  return true;
}

TEST_F(Console, TestCaseReportOnStandardOutput) {
  const Outcome r = Torvacin("/TEST=2 /CON");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find(" CPUID"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("GenuineIntel, Typ=0, Family=6, Model=3, Step=3"), std::string::npos);
  EXPECT_NE(r.Out.find("Pentium II, Klamath"), std::string::npos);
  EXPECT_NE(r.Out.find("300.4 MHz"), std::string::npos);
  EXPECT_EQ(r.Out.find('\r'), std::string::npos) << "terminal lines end with LF alone";
  EXPECT_TRUE(IsUtf8(r.Out));
  EXPECT_EQ(r.Err, "");
}

TEST_F(Console, LanguageFollowsTheLocaleUnlessASwitchChooses) {
  const Outcome de = Torvacin("/TEST=2 /CON", "LC_ALL=de_DE.UTF-8");
  EXPECT_EQ(de.Status, 0) << de.Err;
  EXPECT_NE(de.Out.find("300,4 MHz"), std::string::npos) << de.Out;
  const Outcome en = Torvacin("/TEST=2 /CON /EN", "LC_ALL=de_DE.UTF-8");
  EXPECT_NE(en.Out.find("300.4 MHz"), std::string::npos) << en.Out;
}

TEST_F(Console, SimulatedMachinesAreListed) {
  const Outcome r = Torvacin("/sim=?");
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::istringstream lines(r.Out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    // A name, at least two blanks, a description.
    const std::size_t gap = line.find("  ");
    ASSERT_NE(gap, std::string::npos) << line;
    EXPECT_GT(gap, 0u) << line;
    EXPECT_NE(line.find_first_not_of(' ', gap), std::string::npos) << line;
  }
  EXPECT_GT(count, 0);
  EXPECT_EQ(r.Err, "");
}

TEST_F(Console, UnknownSimulatedMachineFailsBeforeAnythingRuns) {
  const Outcome r = Torvacin("/SIM=nonexistent /TEST=2 /SAVE");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Out, "");
  ASSERT_FALSE(r.Err.empty());
  EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << "one line: " << r.Err;
  EXPECT_FALSE(fs::exists(dir / "torvacin.log"));
}

TEST_F(Console, UnattendedSaveWritesTheLogAndEnds) {
  const Outcome r = Torvacin("/TEST=2 /SAVE");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "") << "no report on the terminal after /SAVE";
  const std::string log = Read(dir / "torvacin.log");
  EXPECT_NE(log.find("GenuineIntel"), std::string::npos);
  EXPECT_NE(log.find("300.4 MHz\r\n"), std::string::npos);
  EXPECT_NE(log.find("Fast Strings"), std::string::npos) << "the details follow the report";
}

// What the terminal shows beside the report: the note on a processor that
// gets no register analysis (after the report, on standard error, the report
// itself unchanged), the place of an unattended save, and nothing more.
TEST_F(Console, NotesOutsideTheReportGoToStandardError) {
  const std::string note =
      "torvacin: This processor gets no register analysis, which is for the Pentium Pro and "
      "Pentium II family (Celeron and Xeon included); its identification and clock are shown "
      "above. A full analysis on a simulated machine: torvacin /SIM=p2-450\n";
  const std::string noClockNote =
      "torvacin: This processor gets no register analysis, which is for the Pentium Pro and "
      "Pentium II family (Celeron and Xeon included); its identification is shown "
      "above. A full analysis on a simulated machine: torvacin /SIM=p2-450\n";
  const std::string log = (fs::canonical(dir) / "torvacin.log").string();
  struct NoteCase {
    const char* Args;
    std::string Err;
  };
  const NoteCase cases[] = {
      {"/SIM=skylake /CON", note},
      {"/SIM=conroe /CON /GR", note},
      {"/SIM=p2-450 /CON", ""},
      {"/SIM=ppro /CON", ""},
      // No time-stamp counter, or no CPUID: no clock either.
      {"/SIM=i486dx2 /CON", noClockNote},
      {"/SIM=cx486 /CON", noClockNote},
      {"/TEST=3 /CON", ""},
      {"/SIM=skylake /SAVE", "1 report saved to " + log + "\n"},
      {"/SIM=p2-dual /SAVE", "2 reports saved to " + log + "\n"},
      {"/SIM=conroe /ECC=1:OFF /Q",
       "Error: Proc 1: ECC not switched, the processor is not of the "
       "Pentium Pro / Pentium II family\n"},
  };
  for (const NoteCase& c : cases) {
    SCOPED_TRACE(c.Args);
    const Outcome r = Torvacin(c.Args);
    EXPECT_EQ(r.Err, c.Err);
    EXPECT_EQ(r.Out.find("register analysis"), std::string::npos) << "not in the report";
  }
  // The report's bytes stay as they are: the refusal ends it.
  const Outcome r = Torvacin("/SIM=skylake /CON");
  EXPECT_EQ(r.Out.substr(r.Out.rfind('\n', r.Out.size() - 2) + 1),
            " error no Pentium II=> Break\n");
}

TEST_F(Console, UnattendedSaveThatFailsEndsWithStatusOne) {
  // A FIFO would block a plain open for writing forever: it is refused at once.
  for (const bool fifo : {false, true}) {
    SCOPED_TRACE(fifo);
    fs::remove_all(dir / "torvacin.log");
    if (fifo) {
      ASSERT_EQ(mkfifo((dir / "torvacin.log").c_str(), 0600), 0);
    } else {
      fs::create_directory(dir / "torvacin.log");
    }
    const Outcome r = Shell("timeout 20 $T /TEST=2 /SAVE");
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, std::string("Error: Cannot save to torvacin.log: it is ") +
                         (fifo ? "a FIFO" : "a directory") + ", not a regular file\n");
  }
}

// Two unattended saves at once in one folder: the log is one of the two
// reports whole, never a mixture, and no temporary file is left.
TEST_F(Console, ParallelSavesNeverSplice) {
  const Outcome first = Torvacin("/TEST=2 /SAVE");
  ASSERT_EQ(first.Status, 0);
  const std::string plain = Read(dir / "torvacin.log");
  ASSERT_EQ(Torvacin("/TEST=2 /EXX /SAVE").Status, 0);
  const std::string extended = Read(dir / "torvacin.log");
  ASSERT_NE(plain, extended);
  for (int round = 0; round < 3; ++round) {
    const Outcome r = Shell("$T /TEST=2 /SAVE & $T /TEST=2 /EXX /SAVE & wait");
    EXPECT_EQ(r.Err, first.Err + first.Err) << "each says where it saved, nothing else";
    const std::string log = Read(dir / "torvacin.log");
    EXPECT_TRUE(log == plain || log == extended) << "round " << round << ": " << log.size();
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// Standard output that cannot take the report: status 1 and one line; a
// reader that goes away early ends the program quietly.
TEST_F(Console, OutputThatCannotBeWrittenEndsWithStatusOne) {
  struct OutCase {
    const char* Line;
    int Status;
    std::string Err;
  };
  const OutCase cases[] = {
      {"$T /TEST=2 /CON >/dev/full", 1,
       "torvacin: cannot write to standard output: No space left on device\n"},
      {"$T /TEST=2 /CON >&-", 1,
       "torvacin: cannot write to standard output: Bad file descriptor\n"},
      // Nothing to write: a closed standard output does not matter, and the
      // log does not take its place.
      {"$T /SIM=p2-dual /SAVE >&- && grep -q GenuineIntel torvacin.log", 0,
       "2 reports saved to " + (fs::canonical(dir) / "torvacin.log").string() + "\n"},
      {"$T --help >/dev/full", 1,
       "torvacin: cannot write to standard output: No space left on device\n"},
      {"$T /SIM=? >/dev/full", 1,
       "torvacin: cannot write to standard output: No space left on device\n"},
      {"( $T /TEST=2 /CON /EXX; echo $? >status ) | true; exit $(cat status)", 0, ""},
      {"( $T /TEST=2 /CON; echo $? >status ) | head -n 1 >/dev/null; exit $(cat status)", 0, ""},
  };
  for (const OutCase& c : cases) {
    SCOPED_TRACE(c.Line);
    const Outcome r = Shell(c.Line);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.Err, c.Err);
  }
}

// Every help form, in any case and wherever it stands, prints the usage and
// ends before anything runs: no report, no saved log.
TEST_F(Console, HelpFormsPrintTheUsageAndRunNothing) {
  for (const char* form : {"--help", "-h", "-?", "/?", "/H", "/HELP", "--HELP", "/help", "-H"}) {
    SCOPED_TRACE(form);
    const Outcome r = Torvacin(std::string("/TEST=2 /SAVE '") + form + "'");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("Usage: torvacin", 0), 0u) << r.Out;
    EXPECT_NE(r.Out.find("Exit status:"), std::string::npos);
    EXPECT_NE(r.Out.find("Windows-1252"), std::string::npos);
    EXPECT_EQ(r.Err, "");
    EXPECT_FALSE(fs::exists(dir / "torvacin.log"));
  }
  const Outcome v = Torvacin("--version /TEST=2 /SAVE");
  EXPECT_EQ(v.Status, 0);
  EXPECT_EQ(v.Out.rfind("torvacin 1.6\n", 0), 0u) << v.Out;
  EXPECT_NE(v.Out.find("GPL-2.0-or-later"), std::string::npos) << v.Out;
  EXPECT_FALSE(fs::exists(dir / "torvacin.log"));
}

TEST_F(Console, IgnoredSwitchesAreNamedOnStandardError) {
  const Outcome r = Torvacin("/TEST=2 /CON /SAVEX -x /ecc=2:YES plain /log");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Err,
            "torvacin: ignored switch /SAVEX (torvacin --help lists the switches)\n"
            "torvacin: ignored switch -x (torvacin --help lists the switches)\n");
  EXPECT_NE(r.Out.find(" CPUID"), std::string::npos);
}

// Bytes from the machine reach the terminal as "?": an escape, a line break
// and a zero byte in the vendor text neither act nor cut the line.
TEST_F(Console, ControlBytesFromTheMachineAreShownAsQuestionMarks) {
  std::ofstream(dir / "odd.profile") << "# vendor text: ESC 'Gen' 'ue' CR LF 't' NUL 'el'\n"
                                        "CPUID 00000000: 00000002-6E65471B-6C650074-0A0D6575\n"
                                        "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
                                        "clock = 300400000\n";
  const Outcome r = Torvacin("/SIM=./odd.profile /CON");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find(": ?Genue??t?el, Typ=0, Family=6, Model=3, Step=3\n"), std::string::npos)
      << r.Out;
  for (char c : r.Out) {
    EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
  }
}

// /SIM= values that cannot be used end at once with one line and status 2;
// nothing waits for a writer on a FIFO or an idle pipe.
TEST_F(Console, SimulatedMachineValuesThatCannotBeUsed) {
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string hint = " (torvacin /SIM=? lists the catalogue)\n";
  struct SimCase {
    const char* Line;
    std::string Err;
  };
  const SimCase cases[] = {
      {"timeout 20 $T /SIM=./fifo /CON",
       "torvacin: ./fifo: not a profile file: it is a FIFO, not a regular file\n"},
      // Standard input a pipe with a writer that never writes.
      {"exec 3<>fifo; timeout 20 $T /SIM=/dev/stdin /CON <fifo",
       "torvacin: /dev/stdin: not a profile file: it is a FIFO, not a regular file\n"},
      {"$T /SIM= /CON",
       "torvacin: /SIM= needs a value: a catalogue name such as /SIM=p2-450, or the path of a "
       "profile file such as /SIM=./my.profile" +
           hint},
      {"$T /SIM=nonexistent /CON",
       "torvacin: nonexistent: no catalogue entry and no profile file of that name" + hint},
  };
  for (const SimCase& c : cases) {
    SCOPED_TRACE(c.Line);
    const Outcome r = Shell(c.Line);
    EXPECT_EQ(r.Status, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, c.Err);
  }
  const Outcome any = Torvacin("/SIM=P2-450 /CON");
  EXPECT_EQ(any.Status, 0) << any.Err;
  EXPECT_NE(any.Out.find("Deschutes"), std::string::npos);
}

// A genuine Pentium II (Klamath) 300, with ECC.
constexpr const char* kKlamath300 =
    "clock = 300400000\n"
    "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
    "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
    "CPUID 00000002: 03020101-00000000-00000000-0C040843\n"
    "MSR 0000002A: 0000-0000-C180-0000\n"
    "MSR 0000011E: 0000-0000-0000-4527\n"
    "l2ecc = yes\n";

// A genuine Klamath 300 whose cache controller never answers, and the same
// behind an msr device that allows no writes.
TEST_F(Console, EarlyEndsSayWhatIsMissingAndEndWithFour) {
  const std::string klamath = kKlamath300;
  std::ofstream(dir / "stuck.txt") << klamath << "l2busy = stuck\n";
  std::ofstream(dir / "readonly.txt") << klamath << "msraccess = readonly\n";
  struct Case {
    const char* Args;
    int Status;
    const char* Out;  // in the report (or in torvacin.log after /SAVE)
    const char* Err;  // on standard error
  };
  const Case cases[] = {
      {"/SIM=stuck.txt /CON /EN", 4, "presence test failed, no statement on ECC", ""},
      {"/SIM=stuck.txt /SAVE /EN", 4, "cache registers not read\r\n", ""},
      {"/SIM=stuck.txt /ECC=1:OFF /Q", 4, "",
       "Error: Proc 1: ECC not switched, the second-level cache did not answer (ECC presence "
       "test failed)\n"},
      {"/SIM=readonly.txt /NOL2 /ECC=1:OFF /EXT /CON /EN", 4, "cache registers not read",
       "Error: Proc 1: ECC not switched, the second-level cache did not answer (configuration "
       "read failed)\n"},
      {"/SIM=readonly.txt /CON /EN", 7, "",
       "writing model-specific register 0000011E failed: register write denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args);
    fs::remove(dir / "torvacin.log");
    const Outcome r = Torvacin(c.Args);
    EXPECT_EQ(r.Status, c.Status) << r.Err;
    const std::string out =
        std::string(c.Args).find("/SAVE") != std::string::npos ? Read(dir / "torvacin.log") : r.Out;
    EXPECT_NE(out.find(c.Out), std::string::npos) << out;
    EXPECT_NE(r.Err.find(c.Err), std::string::npos) << r.Err;
    EXPECT_EQ(out.find("without ECC"), std::string::npos) << out;
    EXPECT_EQ(out.find("fake"), std::string::npos) << out;
  }
}

// A real signal while the cache controller is changed: a slow simulated
// cache (l2delay) would keep the held section open for about 3.3 s, the
// signal comes after 1 s; the simulated cache stops making the program wait
// then (it has no hardware to protect), the program puts the registers back,
// then ends with 128 + the signal's number and says so. No report is
// printed.
TEST_F(Console, SignalInTheHeldSectionWaitsForTheRestore) {
  std::ofstream(dir / "slow.profile") << "clock = 300400000\n"
                                         "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
                                         "CPUID 00000001: 00000633-00000000-00000000-0080FBFF\n"
                                         "MSR 0000011E: 0000-0000-0000-4527\n"
                                         "l2ecc = yes\n"
                                         "l2delay = 300\n";
  struct Case {
    const char* Sig;
    int Status;
    bool Ignored;  // ignored when the program starts
  };
  const Case cases[] = {{"INT", 130, false},  {"TERM", 143, false}, {"HUP", 129, false},
                        {"QUIT", 131, false}, {"TERM", 0, true},    {"HUP", 0, true}};
  for (const auto& [sig, status, ignored] : cases) {
    SCOPED_TRACE(std::string(sig) + (ignored ? " ignored" : ""));
    // env resets the signals a background shell ignores (or ignores the
    // one asked for, as nohup and trap '' do); timeout sends the signal and
    // hands back the program's own status.
    const std::string env = ignored ? std::string("env --default-signal --ignore-signal=") + sig
                                    : std::string("env --default-signal");
    const Outcome r = Shell(std::string("s=$(date +%s%N); timeout --preserve-status -s ") + sig +
                            " 1 " + env + " $T /SIM=./slow.profile /CON; st=$?; "
                            "echo $(( ($(date +%s%N) - s) / 1000000 )) >ms; exit $st");
    EXPECT_EQ(r.Status, status) << r.Err;
    if (ignored) {
      // Stays ignored: the analysis runs to its report.
      EXPECT_NE(r.Out.find("L2 ECC"), std::string::npos) << r.Out;
      EXPECT_EQ(r.Err, "");
      continue;
    }
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, std::string("torvacin: interrupted by SIG") + sig +
                         " while the cache controller was changed: its registers were put "
                         "back as found first; ending with status " +
                         std::to_string(status) + "\n");
    EXPECT_LT(std::stoi(Read(dir / "ms")), 2500) << "the slow cache kept the program waiting";
  }
}

// /DUMP on the built program: the profile on standard output replays to the
// same report, and a machine whose registers cannot be read or written still
// gives its profile, which replays to the same end.
TEST_F(Console, DumpsReplayToTheSameReportAndTheSameEnd) {
  struct Case {
    const char* Profile;  // added to a Pentium II 300's profile
    int Status;
  };
  const std::string klamath = kKlamath300;
  for (const Case& c : {Case{"", 0}, Case{"msraccess = readonly\n", 7},
                        Case{"msraccess = denied\n", 8}, Case{"processors = 2\n", 0}}) {
    SCOPED_TRACE(c.Profile);
    std::ofstream(dir / "machine.txt") << c.Profile << klamath;
    const Outcome dump = Torvacin("/SIM=./machine.txt /DUMP >dump.txt");
    EXPECT_EQ(dump.Status, c.Status) << dump.Err;
    const Outcome own = Torvacin("/SIM=./machine.txt /CON /EXT /EN");
    const Outcome replay = Torvacin("/SIM=./dump.txt /CON /EXT /EN");
    EXPECT_EQ(replay.Status, own.Status);
    EXPECT_EQ(replay.Out, own.Out);
    EXPECT_EQ(replay.Err, own.Err);
    EXPECT_NE(Read(dir / "dump.txt").find("\n[processor 1]\n"), std::string::npos);
  }
}

// A processor whose analysis thread cannot start (its stack larger than the
// system gives): the report and the saved log end in a line saying the
// analysis failed, in the report's language, and the run ends with 3.
TEST_F(Console, ProcessorWithoutAnalysisThreadFailsTheRun) {
  const std::string noThread =
      " Processor 1 could not be reached: the analysis thread could not be started\n";
  const Outcome con = Shell("ulimit -s 100000000 && $T /SIM=p2-450 /CON");
  EXPECT_EQ(con.Status, 3);
  EXPECT_EQ(con.Out, noThread + " Analysis of this processor failed\n");
  const Outcome save = Shell("ulimit -s 100000000 && $T /SIM=p2-450 /SAVE /NL");
  EXPECT_EQ(save.Status, 3);
  EXPECT_EQ(save.Err,
            "1 rapport opgeslagen in " + (fs::canonical(dir) / "torvacin.log").string() + "\n");
  EXPECT_EQ(Read(dir / "torvacin.log"), noThread.substr(0, noThread.size() - 1) +
                                            "\r\n Analyse van deze processor mislukt\r\n");
}

// /SUMMARY= over a folder of saved logs: one line a processor, sorted by file
// name, in the chosen language; a file that is no log is named and skipped,
// a folder and the rest of the command line are left alone.
TEST_F(Console, SummaryOfAFolderOfSavedLogs) {
  fs::create_directory(dir / "fl");
  fs::create_directory(dir / "fl" / "SUB");
  const std::pair<const char*, const char*> logs[] = {{"/SIM=p2-450", "P2450-1.LOG"},
                                                      {"/SIM=p2-300-noecc", "P2300-1.LOG"},
                                                      {"/SIM=skylake", "TORV0001.LOG"},
                                                      {"/SIM=p2-dual /GR", "TORV0002.LOG"}};
  for (const auto& [args, name] : logs) {
    ASSERT_EQ(Torvacin(std::string(args) + " /SAVE").Status, 0) << args;
    fs::rename(dir / "torvacin.log", dir / "fl" / name);
  }
  std::ofstream(dir / "fl" / "README.TXT") << "Torvacin Live\r\nlogs of the chips tested\r\n";
  const std::string english =
      "P2300-1.LOG   1   Pentium II, Klamath     300.4 MHz   66.8 MHz x 4.5    512 KB, no ECC  "
      "  alarm\n"
      "P2450-1.LOG   1   Pentium II, Deschutes   450.4 MHz   100.1 MHz x 4.5   512 KB, ECC     "
      "  all clear\n"
      "README.TXT    not a Torvacin log, skipped\n"
      "TORV0001.LOG  1   Intel Family 6, Model 5Eh  2200.0 MHz  ? x ?             ?           "
      "      not checked\n"
      // The German log's own decimal commas.
      "TORV0002.LOG  1   Pentium II, Deschutes   350,2 MHz   100,1 MHz x 3,5   512 KB, ECC     "
      "  all clear\n"
      "TORV0002.LOG  2   Pentium II, Deschutes   350,2 MHz   100,1 MHz x 3,5   512 KB, ECC     "
      "  all clear\n";
  const Outcome en = Torvacin("/SUMMARY=fl");
  EXPECT_EQ(en.Status, 0);
  EXPECT_EQ(en.Out, english);
  EXPECT_EQ(en.Err, "");
  // German words, the terminal's UTF-8; the machine and saving switches do
  // nothing: the summary ends before any machine is prepared.
  const Outcome de = Torvacin("/SUMMARY=fl/ /GR /SIM=no-such-machine /SAVE");
  EXPECT_EQ(de.Status, 0);
  EXPECT_NE(de.Out.find("512 KB, kein ECC  Alarm\n"), std::string::npos) << de.Out;
  EXPECT_NE(de.Out.find("README.TXT    kein Torvacin-Protokoll, \xC3\xBC"
                        "bersprungen\n"),
            std::string::npos);
  EXPECT_NE(de.Out.find("  in Ordnung\n"), std::string::npos);
  EXPECT_NE(de.Out.find("  nicht gepr\xC3\xBC"
                        "ft\n"),
            std::string::npos);
  EXPECT_EQ(de.Err, "");
  EXPECT_FALSE(fs::exists(dir / "torvacin.log"));
}

TEST_F(Console, SummaryWithoutALogEndsWithSix) {
  fs::create_directory(dir / "empty");
  fs::create_directory(dir / "letters");
  std::ofstream(dir / "letters" / "A.TXT") << "Dear seller,\nthe chip is fine.\n";
  std::ofstream(dir / "plain") << "a file\n";
  struct Case {
    const char* Args;
    std::string Out, Err;
  };
  const Case cases[] = {
      {"/SUMMARY=missing", "",
       "torvacin: cannot read the folder missing: No such file or directory\n"},
      {"/SUMMARY=plain", "", "torvacin: cannot read the folder plain: Not a directory\n"},
      {"/summary=", "", "torvacin: /SUMMARY= needs a folder, such as /SUMMARY=/media/floppy\n"},
      {"/SUMMARY=empty", "no Torvacin log read\n", ""},
      {"/SUMMARY=letters /NL",
       "A.TXT         geen Torvacin-log, overgeslagen\ngeen Torvacin-log "
       "gelezen\n",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Args);
    const Outcome r = Torvacin(c.Args);
    EXPECT_EQ(r.Status, 6);
    EXPECT_EQ(r.Out, c.Out);
    EXPECT_EQ(r.Err, c.Err);
  }
}

}  // namespace
