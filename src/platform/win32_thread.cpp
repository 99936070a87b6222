#include <windows.h>

#include "platform/thread.h"

namespace torv {

namespace {

DWORD WINAPI ThreadMain(LPVOID arg) {
  try {
    (*static_cast<const std::function<void()>*>(arg))();
  } catch (const ThreadEnded&) {
  }
  return 0;
}

}  // namespace

ThreadToken CurrentThreadToken() { return GetCurrentThreadId(); }

bool RunOnNewThread(const std::function<void()>& body) {
  DWORD id = 0;  // Windows 95 and 98 want a place for the thread identifier
  HANDLE thread =
      CreateThread(nullptr, 0, ThreadMain, const_cast<std::function<void()>*>(&body), 0, &id);
  if (thread == nullptr) return false;
  const bool waited = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0;
  CloseHandle(thread);
  return waited;
}

void EndCurrentThread() { throw ThreadEnded{}; }

}  // namespace torv
