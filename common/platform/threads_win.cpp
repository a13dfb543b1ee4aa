#include <windows.h>

#include "threads.h"

namespace {

struct Group {
  HANDLE threads[ThreadGroup::kMaxThreads];
  ThreadLaunch launches[ThreadGroup::kMaxThreads];
  int count = 0;
};

DWORD WINAPI Run(LPVOID p) {
  ThreadLaunch* launch = static_cast<ThreadLaunch*>(p);
  launch->body(launch->arg, launch->index);
  return 0;
}

}  // namespace

ThreadGroup::~ThreadGroup() { Join(); }

int ThreadGroup::Start(int count, void (*body)(void*, int), void* arg) {
  Join();
  Group* group = new Group;
  impl_ = group;
  if (count > kMaxThreads) count = kMaxThreads;
  for (int i = 0; i < count; ++i) {
    group->launches[group->count] = ThreadLaunch{body, arg, group->count};
    // A small stack: the threads hold their reading buffers on the heap.
    HANDLE h = CreateThread(nullptr, 256 * 1024, Run, &group->launches[group->count],
                            STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (h == nullptr) break;
    group->threads[group->count++] = h;
  }
  return group->count;
}

void ThreadGroup::Join() {
  Group* group = static_cast<Group*>(impl_);
  if (group == nullptr) return;
  for (int i = 0; i < group->count; ++i) {
    WaitForSingleObject(group->threads[i], INFINITE);
    CloseHandle(group->threads[i]);
  }
  delete group;
  impl_ = nullptr;
}

WakeSignal::WakeSignal() { impl_ = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

WakeSignal::~WakeSignal() {
  if (impl_ != nullptr) CloseHandle(static_cast<HANDLE>(impl_));
}

void WakeSignal::Signal() {
  if (impl_ != nullptr) SetEvent(static_cast<HANDLE>(impl_));
}

void WakeSignal::Wait(uint32_t timeoutMs) {
  if (impl_ != nullptr) {
    WaitForSingleObject(static_cast<HANDLE>(impl_), timeoutMs);
  } else {
    Sleep(timeoutMs);  // no event could be made: the waiter falls back on polling
  }
}

uint64_t MonotonicMilliseconds() {
  // The performance counter, since GetTickCount64 needs Vista and GetTickCount wraps.
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

int ProcessorsAvailable() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int n = 0;
    for (; process != 0; process &= process - 1) ++n;
    return n;
  }
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}
