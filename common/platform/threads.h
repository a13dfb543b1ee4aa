// Worker threads, a wake-up signal and a clock: what the concurrent digest needs of the platform.
#pragma once
#include <stdint.h>

// What one thread of a group runs; the platform files keep one per thread.
struct ThreadLaunch {
  void (*body)(void* arg, int index);
  void* arg;
  int index;
};

// A few worker threads started together and joined together.
class ThreadGroup {
 public:
  static constexpr int kMaxThreads = 64;

  ThreadGroup() = default;
  ~ThreadGroup();  // joins the threads still running
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;

  // Starts up to `count` threads (at most kMaxThreads), thread i running body(arg, i).
  // Returns how many started: fewer when the system refuses more, and the work must then
  // still get done by those (or, with none, by the caller).
  int Start(int count, void (*body)(void* arg, int index), void* arg);
  // Waits until every started thread has returned.
  void Join();

 private:
  void* impl_ = nullptr;
};

// Wakes a waiting thread: a signal given while nobody waits is kept for the next wait, so
// that a wake-up between a waiter's last look and its wait is never lost. Auto-reset.
class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  void Signal();
  // Returns when signalled or after `timeoutMs` milliseconds, whichever comes first.
  void Wait(uint32_t timeoutMs);

 private:
  void* impl_ = nullptr;
};

// Milliseconds from some fixed moment; never goes back.
uint64_t MonotonicMilliseconds();

// The number of processors this process may run on (at least 1).
int ProcessorsAvailable();
