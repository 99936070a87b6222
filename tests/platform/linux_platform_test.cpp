// The Linux platform layer: bound workers, processor count, language from the
// locale, terminal message boxes and the pluggable dialogs.
#include "platform/linux_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "platform/linux_signals.h"

namespace torv {
namespace {

cpu_set_t ProcessMask() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return set;
}

TEST(LinuxPlatform, KindAndProcessorCount) {
  LinuxPlatform p;
  EXPECT_EQ(p.GetWinVersion(), kOsLinux);
  EXPECT_EQ(p.ProcessorCount(), static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  EXPECT_EQ(p.HostCpu(1), 0);
  EXPECT_EQ(p.HostCpu(p.ProcessorCount()), p.ProcessorCount() - 1);
  EXPECT_EQ(p.HostCpu(0), -1);
  EXPECT_EQ(p.HostCpu(p.ProcessorCount() + 1), -1);
}

// What a worker body saw of its own binding.
std::uint32_t OwnCpuOrMask() {
  cpu_set_t set;
  CPU_ZERO(&set);
  pthread_getaffinity_np(pthread_self(), sizeof set, &set);
  if (CPU_COUNT(&set) != 1) return 1000 + static_cast<std::uint32_t>(CPU_COUNT(&set));
  return static_cast<std::uint32_t>(sched_getcpu());
}

TEST(LinuxPlatform, WorkerRunsOnlyOnItsProcessor) {
  LinuxPlatform p;
  const cpu_set_t allowed = ProcessMask();
  for (int proc = 1; proc <= p.ProcessorCount(); ++proc) {
    if (!CPU_ISSET(proc - 1, &allowed)) continue;
    SCOPED_TRACE(proc);
    std::uint32_t code = 12345;
    ASSERT_TRUE(p.RunBoundThread(proc, OwnCpuOrMask, code));
    EXPECT_EQ(code, static_cast<std::uint32_t>(proc - 1));
  }
}

TEST(LinuxPlatform, UnboundWorkerKeepsTheProcessMask) {
  LinuxPlatform p;
  const cpu_set_t allowed = ProcessMask();
  std::uint32_t code = 0;
  ASSERT_TRUE(p.RunBoundThread(0, OwnCpuOrMask, code));
  if (CPU_COUNT(&allowed) > 1) {
    EXPECT_EQ(code, 1000u + static_cast<std::uint32_t>(CPU_COUNT(&allowed)));
  }
}

TEST(LinuxPlatform, ProcessorThatCannotBeBoundRunsNothing) {
  LinuxPlatform all;
  bool ran = false;
  std::uint32_t code = 7;
  const auto body = [&] {
    ran = true;
    return std::uint32_t{0};
  };
  EXPECT_FALSE(all.RunBoundThread(all.ProcessorCount() + 1, body, code));
  EXPECT_FALSE(all.RunBoundThread(-1, body, code));
  EXPECT_FALSE(ran);
  EXPECT_EQ(code, 7u);
}

// The signal hub of a process, in a child of the test: each signal of the
// table sent to the whole process while an analysis thread holds the
// signals, or outside a held section, or after the signal was ignored at the
// start. What the child did comes back as its end: its exit code (the
// number the release returned, +100 when it got to "after the section"), a
// stop, or the signal that ended it.
struct HubOutcome {
  int Exit = -1;   // exit code, -1 when it did not exit
  int Killed = 0;  // the signal that ended it
  bool Stopped = false;
  bool StoppedAfterSection = false;  // the section had ended when it stopped
};

enum class When { Held, Outside, IgnoredHeld };

HubOutcome RunHubChild(int sig, When when) {
  int marks[2];
  if (pipe2(marks, O_NONBLOCK) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(marks[0]);
    if (when == When::IgnoredHeld) std::signal(sig, SIG_IGN);
    // Started in the background of a shell, SIGINT and SIGQUIT are ignored:
    // the default for the others.
    if (when != When::IgnoredHeld) std::signal(sig, SIG_DFL);
    SignalHub hub;
    LinuxPlatform p(&hub);
    int code = 0;
    std::uint32_t number = 0;
    p.RunBoundThread(
        0,
        [&] {
          if (when != When::Outside) p.HoldSignals();
          kill(getpid(), sig);
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          // Still here at the end of the section.
          if (write(marks[1], "s", 1) != 1) code = 50;
          if (when != When::Outside) number = static_cast<std::uint32_t>(p.ReleaseSignals().Number);
          return number;
        },
        number);
    _exit(code + static_cast<int>(number) + 100);
  }
  close(marks[1]);
  HubOutcome o;
  int status = 0;
  while (waitpid(pid, &status, WUNTRACED) == pid) {
    if (WIFSTOPPED(status)) {
      o.Stopped = true;
      char c = 0;
      o.StoppedAfterSection = read(marks[0], &c, 1) == 1;
      kill(pid, SIGCONT);
      continue;
    }
    if (WIFEXITED(status)) o.Exit = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) o.Killed = WTERMSIG(status);
    break;
  }
  close(marks[0]);
  return o;
}

TEST(SignalHub, EachSignalActsAtOnceOutsideAndAfterTheSectionInside) {
  struct Case {
    int Sig;
    When At;
    HubOutcome Want;
  };
  const Case cases[] = {
      // Held: the release hands the ending signal to the caller, which ends
      // the program after its restore; nothing ended the process before.
      {SIGINT, When::Held, {100 + SIGINT, 0, false, false}},
      {SIGTERM, When::Held, {100 + SIGTERM, 0, false, false}},
      {SIGHUP, When::Held, {100 + SIGHUP, 0, false, false}},
      {SIGQUIT, When::Held, {100 + SIGQUIT, 0, false, false}},
      // A stop waits for the end of the section, then stops the process.
      {SIGTSTP, When::Held, {100, 0, true, true}},
      {SIGTTOU, When::Held, {100, 0, true, true}},
      // Outside a section: at once, as the signal's default.
      {SIGTERM, When::Outside, {-1, SIGTERM, false, false}},
      {SIGHUP, When::Outside, {-1, SIGHUP, false, false}},
      {SIGTSTP, When::Outside, {100, 0, true, false}},
      // Ignored when the program started: ignored still, held or not.
      {SIGTERM, When::IgnoredHeld, {100, 0, false, false}},
      {SIGHUP, When::IgnoredHeld, {100, 0, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(SignalHub::Name(c.Sig)) + " " +
                 std::to_string(static_cast<int>(c.At)));
    const HubOutcome o = RunHubChild(c.Sig, c.At);
    EXPECT_EQ(o.Exit, c.Want.Exit);
    EXPECT_EQ(o.Killed, c.Want.Killed);
    EXPECT_EQ(o.Stopped, c.Want.Stopped);
    EXPECT_EQ(o.StoppedAfterSection, c.Want.StoppedAfterSection);
  }
}

TEST(LinuxPlatform, LanguageFromTheLocaleEnvironment) {
  struct Env {
    const char* Name;
    std::optional<std::string> Old;
  };
  Env vars[] = {{"LC_ALL", {}}, {"LC_MESSAGES", {}}, {"LANG", {}}};
  for (Env& e : vars) {
    if (const char* v = std::getenv(e.Name)) e.Old = v;
    unsetenv(e.Name);
  }
  LinuxPlatform p;
  setenv("LANG", "nl_NL.UTF-8", 1);
  EXPECT_EQ(p.SystemLangId(), 0x0413);
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_EQ(p.SystemLangId(), 0x0407);
  unsetenv("LC_ALL");
  unsetenv("LANG");
  EXPECT_EQ(p.SystemLangId(), 0x0409);
  for (Env& e : vars) {
    if (e.Old) setenv(e.Name, e.Old->c_str(), 1);
  }
}

struct Terminal {
  std::FILE* In = std::tmpfile();
  std::FILE* Out = std::tmpfile();
  ~Terminal() {
    std::fclose(In);
    std::fclose(Out);
  }
  void Type(const char* s) {
    std::fputs(s, In);
    std::rewind(In);
  }
  std::string Shown() {
    std::rewind(Out);
    std::string s;
    int c;
    while ((c = std::fgetc(Out)) != EOF) s += static_cast<char>(c);
    return s;
  }
};

TEST(ConsoleBoxPresenter, ErrorsAndWarningsOnTheTerminal) {
  Terminal t;
  ConsoleBoxPresenter boxes(t.In, t.Out, false);
  EXPECT_EQ(boxes.Show("Error", "kelvorlx not found \xFC", BoxButtons::Ok), kIdOk);
  EXPECT_EQ(t.Shown(), "Error: kelvorlx not found \xC3\xBC\n");
}

TEST(ConsoleBoxPresenter, QuestionsAreAnsweredOnATerminalOnly) {
  struct AskCase {
    bool Interactive;
    const char* Typed;
    int Answer;
  };
  const AskCase cases[] = {
      {false, "ok\n", kIdCancel}, {true, "ok\n", kIdOk},   {true, " O\n", kIdOk},
      {true, "yes\n", kIdOk},     {true, "\n", kIdCancel}, {true, "c\n", kIdCancel},
      {true, "", kIdCancel},
  };
  for (const AskCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Interactive << " '" << c.Typed << "'");
    Terminal t;
    t.Type(c.Typed);
    ConsoleBoxPresenter boxes(t.In, t.Out, c.Interactive);
    EXPECT_EQ(boxes.Show("Warning", "replace?", BoxButtons::OkCancel), c.Answer);
    EXPECT_EQ(t.Shown().rfind("Warning: replace?\n", 0), 0u);
  }
}

class Recorder : public BoxPresenter {
 public:
  int Show(std::string_view title, std::string_view text, BoxButtons) override {
    Seen = std::string(title) + "|" + std::string(text);
    return kIdCancel;
  }
  std::string Seen;
};

TEST(LinuxPlatform, BoxesAndSaveDialogGoToWhatTheWindowInstalled) {
  LinuxPlatform p;
  std::string name = "torvacin.log";
  EXPECT_FALSE(p.SaveDialog(name)) << "no dialog without a window";

  Recorder r;
  p.SetPresenter(&r);
  p.SetSaveDialog([](std::string& n) {
    n = "/tmp/chosen.log";
    return true;
  });
  EXPECT_EQ(p.MessageBox("Warning", "text", BoxButtons::OkCancel), kIdCancel);
  EXPECT_EQ(r.Seen, "Warning|text");
  EXPECT_TRUE(p.SaveDialog(name));
  EXPECT_EQ(name, "/tmp/chosen.log");
}

TEST(LinuxPlatform, SleepWaitsAtLeastTheTime) {
  LinuxPlatform p;
  const auto t0 = std::chrono::steady_clock::now();
  p.Sleep(20);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));
}

TEST(LinuxPlatformDeathTest, ExitProcessEndsWithTheCodeAfterFlushing) {
  EXPECT_EXIT(
      {
        LinuxPlatform p;
        std::fputs("flushed", stderr);
        p.ExitProcess(8);
      },
      ::testing::ExitedWithCode(8), "flushed");
}

}  // namespace
}  // namespace torv

namespace torv {
namespace {

// Programs run directly: no shell reads the arguments, and no search of PATH
// finds the program.
TEST(LinuxPlatform, RunProgramWithFixedArguments) {
  LinuxPlatform p;
  struct Case {
    std::vector<std::string> Argv;
    int Status;
  };
  const Case cases[] = {
      {{"/bin/true"}, 0},
      {{"/bin/false"}, 1},
      {{"/usr/bin/test", "a;b $(x)", "=", "a;b $(x)"}, 0},
      {{"true"}, -1},
      {{"/nonexistent/modprobe", "msr"}, -1},
      {{}, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(p.RunProgram(c.Argv), c.Status) << (c.Argv.empty() ? "" : c.Argv[0]);
  }
  EXPECT_TRUE(p.PathExists("/bin/true"));
  EXPECT_FALSE(p.PathExists("/nonexistent/modprobe"));
}

}  // namespace
}  // namespace torv
