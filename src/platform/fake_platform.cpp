#include "platform/fake_platform.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace torv {

int FakePlatform::MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) {
  Boxes.push_back({std::string(title), std::string(text), buttons});
  if (BoxAnswers.empty()) return kIdOk;
  const int a = BoxAnswers.front();
  BoxAnswers.pop_front();
  return a;
}

bool FakePlatform::SaveDialog(std::string& name) {
  if (!SaveDialogResult) return false;
  if (!SaveDialogName.empty()) name = SaveDialogName;
  return true;
}

bool FakePlatform::RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                                  std::uint32_t& exitCode) {
  if (FailThreads || proc < 0) return false;
  BoundProcs.push_back(proc);
  std::uint32_t code = 0;
  std::thread t([&] { code = body(); });
  t.join();
  exitCode = code;
  return true;
}

void FakePlatform::ExitProcess(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(code);
}

}  // namespace torv
