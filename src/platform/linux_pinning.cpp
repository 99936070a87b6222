#include "platform/linux_pinning.h"

#include <pthread.h>
#include <sched.h>

#include <cerrno>
#include <thread>

namespace torv {

namespace {

bool InRange(int hostCpu) {
  return hostCpu >= 0 && hostCpu < CPU_SETSIZE;
}

cpu_set_t OnlyCpu(int hostCpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(hostCpu, &set);
  return set;
}

}  // namespace

bool BoundToOnly(int hostCpu) {
  if (!InRange(hostCpu)) return false;
  cpu_set_t cur;
  CPU_ZERO(&cur);
  return pthread_getaffinity_np(pthread_self(), sizeof cur, &cur) == 0 && CPU_COUNT(&cur) == 1 &&
         CPU_ISSET(hostCpu, &cur);
}

bool BindAttributes(void* attr, int hostCpu) {
  if (!InRange(hostCpu)) return false;
#if defined(__GLIBC__)
  const cpu_set_t set = OnlyCpu(hostCpu);
  return pthread_attr_setaffinity_np(static_cast<pthread_attr_t*>(attr), sizeof set, &set) == 0;
#else
  // musl has no affinity in thread attributes: the thread binds itself
  // (BindThisThread) before it runs anything.
  (void)attr;
  return true;
#endif
}

int BindThisThread(int hostCpu) {
  if (!InRange(hostCpu)) return EINVAL;
  const cpu_set_t set = OnlyCpu(hostCpu);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

bool RunPinned(int hostCpu, const std::function<void()>& fn, int& err) {
  err = 0;
  if (!InRange(hostCpu)) {
    err = EINVAL;
    return false;
  }
  if (BoundToOnly(hostCpu)) {
    fn();
    return true;
  }
  bool ran = false;
  try {
    std::thread t([&] {
      const int rc = BindThisThread(hostCpu);
      if (rc != 0) {
        err = rc;
        return;
      }
      fn();
      ran = true;
    });
    t.join();
  } catch (...) {
    err = EAGAIN;
    return false;
  }
  return ran;
}

}  // namespace torv
