#include "network/TarvexCond.h"

#include "network/TarvexMutex.h"

TarvexCond::TarvexCond() : Waiters(0), Wakeups(0) {
  pthread_mutex_init(&Lock, nullptr);
  pthread_cond_init(&Wakeup, nullptr);
}

TarvexCond::~TarvexCond() {
  pthread_cond_destroy(&Wakeup);
  pthread_mutex_destroy(&Lock);
}

void TarvexCond::Wait(TarvexMutex& m) {
  pthread_mutex_lock(&Lock);
  ++Waiters;
  m.Release();
  // The count, not the wake-up itself, says whether this thread may go:
  // the platform may wake a waiter without a signal.
  while (Wakeups == 0) pthread_cond_wait(&Wakeup, &Lock);
  --Wakeups;
  --Waiters;
  pthread_mutex_unlock(&Lock);
  m.Get();
}

void TarvexCond::Signal() {
  pthread_mutex_lock(&Lock);
  if (Waiters > Wakeups) {
    ++Wakeups;
    pthread_cond_signal(&Wakeup);
  }
  pthread_mutex_unlock(&Lock);
}
