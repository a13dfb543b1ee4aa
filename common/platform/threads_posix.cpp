#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include "threads.h"

namespace {

struct Group {
  pthread_t threads[ThreadGroup::kMaxThreads];
  ThreadLaunch launches[ThreadGroup::kMaxThreads];
  int count = 0;
};

struct SignalState {
  pthread_mutex_t mutex;
  pthread_cond_t cond;
  bool set = false;
};

void* Run(void* p) {
  ThreadLaunch* launch = static_cast<ThreadLaunch*>(p);
  launch->body(launch->arg, launch->index);
  return nullptr;
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
    if (pthread_create(&group->threads[group->count], nullptr, Run,
                       &group->launches[group->count]) != 0) {
      break;
    }
    ++group->count;
  }
  return group->count;
}

void ThreadGroup::Join() {
  Group* group = static_cast<Group*>(impl_);
  if (group == nullptr) return;
  for (int i = 0; i < group->count; ++i) pthread_join(group->threads[i], nullptr);
  delete group;
  impl_ = nullptr;
}

WakeSignal::WakeSignal() {
  SignalState* s = new SignalState;
  pthread_mutex_init(&s->mutex, nullptr);
  // Timed waits on the monotonic clock, so that setting the system's clock cannot stretch them.
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&s->cond, &attr);
  pthread_condattr_destroy(&attr);
  impl_ = s;
}

WakeSignal::~WakeSignal() {
  SignalState* s = static_cast<SignalState*>(impl_);
  pthread_cond_destroy(&s->cond);
  pthread_mutex_destroy(&s->mutex);
  delete s;
}

void WakeSignal::Signal() {
  SignalState* s = static_cast<SignalState*>(impl_);
  pthread_mutex_lock(&s->mutex);
  s->set = true;
  pthread_cond_signal(&s->cond);
  pthread_mutex_unlock(&s->mutex);
}

void WakeSignal::Wait(uint32_t timeoutMs) {
  SignalState* s = static_cast<SignalState*>(impl_);
  timespec until;
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += timeoutMs / 1000;
  until.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  pthread_mutex_lock(&s->mutex);
  while (!s->set) {
    if (pthread_cond_timedwait(&s->cond, &s->mutex, &until) != 0) break;  // timed out
  }
  s->set = false;
  pthread_mutex_unlock(&s->mutex);
}

uint64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec / 1000000L);
}

int ProcessorsAvailable() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}
