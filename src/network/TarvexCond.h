// A condition on which threads wait, holding a TarvexMutex, until another
// thread signals it.
//
// Signal wakes one waiting thread. A Signal while no thread waits is lost:
// it does not let a later Wait return. Nor does Signal store more wake-ups
// than there are threads waiting to take them.
#ifndef TARVEX_NETWORK_TARVEXCOND_H
#define TARVEX_NETWORK_TARVEXCOND_H

#include <pthread.h>

class TarvexMutex;

class TarvexCond {
 public:
  TarvexCond();
  ~TarvexCond();

  TarvexCond(const TarvexCond&) = delete;
  TarvexCond& operator=(const TarvexCond&) = delete;

  // Must be called with m owned. Releases m and blocks until a Signal wakes
  // this thread, then owns m again before returning. Registering as a waiter
  // happens before m is released, so a Signal given by a thread that then
  // takes m is never missed.
  void Wait(TarvexMutex& m);
  void Signal();

 private:
  int Waiters;             // threads blocked in Wait
  int Wakeups;             // signals given to them and not yet taken
  pthread_mutex_t Lock;    // guards both counts
  pthread_cond_t Wakeup;
};

#endif
