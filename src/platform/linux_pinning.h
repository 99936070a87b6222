// Binding a thread to one host processor: the analysis thread, a register
// access on a given processor, CPUID without the cpuid device.
#pragma once

#include <functional>

namespace torv {

// Whether the calling thread may run on host processor `hostCpu` and no other.
bool BoundToOnly(int hostCpu);

// Makes the thread attributes `attr` (a pthread_attr_t) start a thread bound
// to host processor `hostCpu` alone, where the C library can (glibc; with
// musl the thread binds itself first). False when they cannot.
bool BindAttributes(void* attr, int hostCpu);

// Binds the calling thread to host processor `hostCpu` alone: 0, or the
// errno value of the failure.
int BindThisThread(int hostCpu);

// Runs `fn` on a thread bound to host processor `hostCpu` alone; the calling
// thread itself when it already is. False when no such binding is possible
// or no thread could start; `err` holds the reason (an errno value).
bool RunPinned(int hostCpu, const std::function<void()>& fn, int& err);

}  // namespace torv
