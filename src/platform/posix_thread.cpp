#include <pthread.h>

#include "platform/thread.h"

namespace torv {

namespace {

void* ThreadMain(void* arg) {
  (*static_cast<const std::function<void()>*>(arg))();
  return nullptr;
}

}  // namespace

ThreadToken CurrentThreadToken() {
  // glibc's pthread_t is an integer as wide as a pointer on i386 and x86_64.
  return static_cast<ThreadToken>(pthread_self());
}

bool RunOnNewThread(const std::function<void()>& body) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, ThreadMain,
                     const_cast<std::function<void()>*>(&body)) != 0) {
    return false;
  }
  return pthread_join(thread, nullptr) == 0;
}

void EndCurrentThread() { pthread_exit(nullptr); }

}  // namespace torv
