// Threads in the web page's WebAssembly: none. A worker of the page has one thread; the
// concurrent digest then runs its jobs' work on the caller's thread (ThreadGroup::Start
// starting none), a lane job digesting several files at once all the same.
#include "imports_web.h"
#include "threads.h"

// Nothing is ever started, so there is nothing to keep.
ThreadGroup::~ThreadGroup() { impl_ = nullptr; }

int ThreadGroup::Start(int, void (*)(void*, int), void*) { return 0; }

void ThreadGroup::Join() {}

WakeSignal::WakeSignal() {}
WakeSignal::~WakeSignal() { impl_ = nullptr; }
void WakeSignal::Signal() {}
// Nothing else runs, so nothing can signal: every result is in before anyone waits.
void WakeSignal::Wait(uint32_t) {}

uint64_t MonotonicMilliseconds() { return static_cast<uint64_t>(VxJsNowMs()); }

int ProcessorsAvailable() { return 1; }
