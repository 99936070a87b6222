// The switch table and the help text, and standard output with its failures.
#include "app/shell.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <string>
#include <tuple>

#include "app/settings.h"
#include "app/usage.h"
#include "platform/fake_platform.h"
#include "app/world.h"

namespace torv {
namespace {

TEST(Usage, EverySwitchIsInTheHelpTextAndRecognisedInAnyCase) {
  const std::string usage = UsageText();
  for (const KnownSwitch& s : KnownSwitches()) {
    SCOPED_TRACE(std::string(s.Name));
    EXPECT_NE(usage.find(s.Name), std::string::npos);
    const std::string arg = std::string(s.Name) + (s.Prefix ? "1" : "");
    EXPECT_TRUE(IsKnownSwitch(arg));
    std::string lower = arg;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(IsKnownSwitch(lower));
  }
  // Names compare whole; prefixes only where a value follows.
  for (const char* other : {"/SAVEX", "/LOGS", "/ECC", "/TEST", "-help", "--helpme", "/", "-",
                            "/SIM", "/CONSOLE", "--versions"}) {
    EXPECT_FALSE(IsKnownSwitch(other)) << other;
  }
  // The text is plain ASCII in lines that fit a terminal.
  std::size_t start = 0;
  while (start < usage.size()) {
    const std::size_t end = usage.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the text ends with a line end";
    EXPECT_LE(end - start, 79u) << usage.substr(start, end - start);
    start = end + 1;
  }
  for (char c : usage) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << static_cast<int>(c);
  for (const char* topic :
       {"Exit status:", "  1  ", "  2  ", "  3  ", "  4  ", "  5  ", "  6  ", "  7  ", "  8  ",
        "  128+n  ", "torvacin.log", "Windows-1252", "CR LF", "Console mode", "/SIM=?"}) {
    EXPECT_NE(usage.find(topic), std::string::npos) << topic;
  }
}

// Every switch the parser acts on is in the table: one that sets something
// on a fresh world must be known, and the known ones that set nothing are
// handled elsewhere (start-up, help) or change nothing by design.
TEST(Usage, SwitchesThatChangeSettingsAreKnown) {
  const auto settingsOf = [](const std::string& arg) {
    FakePlatform p;
    World w(p);
    ParseSwitches(w.settings, w.report, w.util, "", {arg});
    const Settings& s = w.settings;
    return std::make_tuple(s.OptLog, s.OptQuit, s.OptSave, s.OptExt, s.OptExx, s.OptNoL2, s.EccMode,
                           s.TestNo, w.report.LangCode);
  };
  const auto fresh = settingsOf("");
  for (const char* arg : {"/EN", "/US", "/GR", "/NL", "/LOG", "/Q", "/SAVE", "/EXT", "/EXX",
                          "/NOL2", "/ECC=ON", "/ECC=2:0", "/TEST=3", "/gr", "/nol2"}) {
    SCOPED_TRACE(arg);
    if (std::string(arg) != "/EN" && std::string(arg) != "/US") {
      EXPECT_NE(settingsOf(arg), fresh) << "the parser acts on it";
    }
    EXPECT_TRUE(IsKnownSwitch(arg));
  }
  for (const char* help : {"--help", "-h", "-?", "/?", "/H", "/HELP", "/hElP"}) {
    EXPECT_TRUE(IsHelpSwitch(help)) << help;
  }
  for (const char* notHelp : {"/HE", "--version", "-help", "h"}) {
    EXPECT_FALSE(IsHelpSwitch(notHelp)) << notHelp;
  }
  EXPECT_TRUE(IsVersionSwitch("--VERSION"));
  const std::string version = VersionText();
  EXPECT_EQ(version.rfind("torvacin " + std::string(kVersion) + "\n", 0), 0u) << version;
  EXPECT_NE(version.find("\nLicense GPL-2.0-or-later: "), std::string::npos) << version;
}

// A file for standard error whose contents the test reads back.
struct ErrFile {
  ErrFile() : f(std::tmpfile()) {}
  ~ErrFile() { std::fclose(f); }
  std::string Text() {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
  }
  std::FILE* f;
};

TEST(ConsoleOutput, FailuresGiveStatusOneAndOneLineAClosedPipeEndsQuietly) {
  // Writes into a pipe without a reader fail with EPIPE instead of a signal.
  const auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  struct OutCase {
    const char* Name;
    int Status;
    std::string Err;
  };
  const OutCase cases[] = {
      {"tmpfile", 3, ""},
      {"/dev/full", 1, "torvacin: cannot write to standard output: No space left on device\n"},
      {"closed pipe", 3, ""},
      {"closed at start", 1, "torvacin: cannot write to standard output: Bad file descriptor\n"},
  };
  for (const OutCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string name = c.Name;
    std::FILE* f = nullptr;
    if (name == "/dev/full") {
      f = std::fopen("/dev/full", "w");
    } else if (name == "closed pipe") {
      int fds[2];
      ASSERT_EQ(pipe(fds), 0);
      close(fds[0]);
      f = fdopen(fds[1], "w");
    } else {
      f = std::tmpfile();
    }
    ASSERT_NE(f, nullptr);
    ErrFile err;
    ConsoleOutput out(f, name == "closed at start");
    for (int i = 0; i < 2000; ++i) out.Write(" a report line of some length\n");
    EXPECT_EQ(out.Finish(3, err.f), c.Status);
    EXPECT_EQ(err.Text(), c.Err);
    std::fclose(f);
  }
  std::signal(SIGPIPE, oldPipe);
}

}  // namespace
}  // namespace torv
