// Memory and time of reading a profile, against the file's size.
//
//   bench_profile_memory <path/to/torvacin> [profile files...]
//
// Writes generated profiles of 1, 4 and 8 MB in the layouts that cost the
// reader most (one processor with a leaf a line; 16 processors under a
// register section for all of them; 16 processors with lines of their own),
// then for each of them and each file given: the peak memory (max RSS) of
// `torvacin /SIM=FILE /CON /EN`, how much that is above the same run on a
// catalogue machine, that growth as a multiple of the file's size, and the
// time the reading itself takes in this process (best of 5).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "machine/machine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

double NowMs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Peak memory of one run in KB, or -1.
long PeakKb(const std::string& bin, const std::string& sim) {
  std::vector<std::string> args{bin, "/SIM=" + sim, "/CON", "/EN"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  int status = 0;
  rusage ru{};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return -1;
  }
  return ru.ru_maxrss;
}

// A profile of about `bytes` in one of the costly layouts.
void Generate(const fs::path& file, int layout, std::size_t bytes) {
  std::ofstream f(file, std::ios::binary);
  char line[64];
  std::size_t written = 0;
  auto put = [&](const char* text) {
    f << text;
    written += std::char_traits<char>::length(text);
  };
  if (layout == 1) {
    for (int k = 0; k < 16; ++k) {
      std::snprintf(line, sizeof line, "------[ Logical CPU #%d ]------\n", k);
      put(line);
      put("CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n");
    }
    put("------[ MSR Registers ]------\n");
  }
  if (layout == 2) put("processors = 16\n[processor 1]\n");
  std::uint32_t i = 0;
  while (written < bytes) {
    if (layout == 2 && i % 4096 == 0 && i > 0) {
      std::snprintf(line, sizeof line, "[processor %u]\n", 1 + (i / 4096) % 16);
      put(line);
    }
    if (layout == 0) {
      std::snprintf(line, sizeof line, "CPUID %X 1 2 3 4\n", i);
    } else {
      std::snprintf(line, sizeof line, "MSR %X: 0-0-0-%X\n", i, i & 0xFFFF);
    }
    put(line);
    ++i;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <path/to/torvacin> [profile files...]\n", argv[0]);
    return 2;
  }
  const std::string bin = argv[1];
  const fs::path dir = fs::temp_directory_path() / ("torv-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::vector<std::string> files;
  const char* layouts[] = {"leaves", "shared", "own"};
  for (std::size_t mb : {1, 4, 8}) {
    for (int layout = 0; layout < 3; ++layout) {
      const fs::path f = dir / ("generated-" + std::to_string(mb) + "MB-" + layouts[layout] + ".txt");
      Generate(f, layout, mb << 20);
      files.push_back(f.string());
    }
  }
  files.insert(files.end(), argv + 2, argv + argc);

  const long baseKb = PeakKb(bin, "p2-450");
  if (baseKb < 0) {
    std::fprintf(stderr, "%s /SIM=p2-450 /CON failed\n", bin.c_str());
    return 1;
  }
  std::printf("peak memory of a run on a catalogue machine: %.1f MB\n",
              static_cast<double>(baseKb) / 1024);
  std::printf("%-44s %9s %9s %9s %7s %9s\n", "profile", "size MB", "peak MB", "above MB",
              "above/size", "read ms");
  // Every run's peak first: a program started from this one counts this
  // one's memory at its start into its own peak, and the reading below grows
  // this one.
  std::vector<long> peaks;
  for (const std::string& file : files) peaks.push_back(PeakKb(bin, file));
  int rc = 0;
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::string& file = files[f];
    const double size = static_cast<double>(fs::file_size(file)) / (1 << 20);
    const long kb = peaks[f];
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
      std::string error;
      const double t0 = NowMs();
      const auto m = torv::MakeSimMachine(file, error);
      best = std::min(best, NowMs() - t0);
      if (!m) {
        std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
        best = -1;
        break;
      }
    }
    if (kb < 0 || best < 0) {
      std::printf("%-44s failed\n", fs::path(file).filename().c_str());
      rc = 1;
      continue;
    }
    const double above = static_cast<double>(kb - baseKb) / 1024;
    std::printf("%-44s %9.2f %9.1f %9.1f %7.1f %9.1f\n", fs::path(file).filename().c_str(), size,
                static_cast<double>(kb) / 1024, above, above / size, best);
  }
  fs::remove_all(dir);
  return rc;
}
