// The Linux platform layer: bound workers, processor count, language from the
// locale, terminal message boxes and the pluggable dialogs.
#include "platform/linux_platform.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <utility>

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

// A signal that ends the program waits while it is held, and the release
// says which one came; sent to the process while an analysis thread holds it,
// it reaches no other thread (the waiting one included), so the process
// lives on to put its registers back.
TEST(LinuxPlatform, HeldSignalsWaitForTheRelease) {
  LinuxPlatform p;
  // A test started in the background of a shell ignores SIGINT and SIGQUIT:
  // the default action, which a held signal never reaches.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  struct sigaction saved[2];
  sigaction(SIGINT, &dfl, &saved[0]);
  sigaction(SIGQUIT, &dfl, &saved[1]);
  for (const auto& [sig, name] : {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"},
                                  std::pair{SIGHUP, "SIGHUP"}, std::pair{SIGQUIT, "SIGQUIT"}}) {
    SCOPED_TRACE(name);
    std::string got;
    std::uint32_t code = 0;
    ASSERT_TRUE(p.RunBoundThread(
        0,
        [&] {
          p.HoldSignals();
          kill(getpid(), sig);
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          const HeldSignal s = p.ReleaseSignals();
          got = s.Name;
          return static_cast<std::uint32_t>(s.Number);
        },
        code));
    EXPECT_EQ(code, static_cast<std::uint32_t>(sig));
    EXPECT_EQ(got, name);
  }
  // Nothing came: nothing to act on, and the thread's mask is as before.
  std::uint32_t code = 99;
  ASSERT_TRUE(p.RunBoundThread(
      0,
      [&] {
        sigset_t before, after;
        pthread_sigmask(SIG_SETMASK, nullptr, &before);
        p.HoldSignals();
        const HeldSignal s = p.ReleaseSignals();
        pthread_sigmask(SIG_SETMASK, nullptr, &after);
        return static_cast<std::uint32_t>(s.Number) +
               (sigismember(&before, SIGINT) == sigismember(&after, SIGINT) ? 0u : 100u);
      },
      code));
  EXPECT_EQ(code, 0u);
  sigaction(SIGINT, &saved[0], nullptr);
  sigaction(SIGQUIT, &saved[1], nullptr);
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
