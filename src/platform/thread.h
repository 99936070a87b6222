// Threads as the platform layers use them, the same on every system: a token
// for the calling thread, a body run on a new thread and waited for, and the
// end of the calling thread. POSIX threads on Linux, the Win32 thread calls on
// Windows (whose runtime for Windows 98 and NT 4.0 has no std::thread).
#pragma once

#include <cstdint>
#include <functional>

namespace torv {

// Identifies the calling thread while it runs.
using ThreadToken = std::uintptr_t;
ThreadToken CurrentThreadToken();

// Runs `body` on a new thread and waits for it without a time limit. False
// when no thread could start. A body that ends its thread with
// EndCurrentThread counts as run.
bool RunOnNewThread(const std::function<void()>& body);

// Ends the calling thread at once, unwinding its stack so that what it holds
// is released; RunOnNewThread then returns. On Windows this is an exception of
// type ThreadEnded that the start function of every thread made here catches.
[[noreturn]] void EndCurrentThread();
struct ThreadEnded {};

}  // namespace torv
