// Thread, mutex and condition checks with real threads.
#include "network/TarvexCond.h"
#include "network/TarvexMutex.h"
#include "network/TarvexThread.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct Counter {
  TarvexMutex mutex;
  long value = 0;
};

unsigned long AddMany(void* arg) {
  Counter* c = static_cast<Counter*>(arg);
  for (int i = 0; i < 20000; ++i) {
    c->mutex.Get();
    c->value = c->value + 1;
    c->mutex.Release();
  }
  return 7;
}

TEST(TarvexThreadAndMutex, ThreadsRunTheirFunctionUnderMutualExclusion) {
  Counter counter;
  TarvexThread threads[4] = {{AddMany, &counter}, {AddMany, &counter}, {AddMany, &counter}, {AddMany, &counter}};
  for (TarvexThread& t : threads) ASSERT_TRUE(t.Start());
  for (TarvexThread& t : threads) {
    t.WaitUntilDone();
    EXPECT_EQ(t.GetExitCode(), 7u);
  }
  EXPECT_EQ(counter.value, 4 * 20000);
  EXPECT_FALSE(threads[0].Start()) << "a thread object starts once";

  TarvexThread idle(AddMany, &counter);
  idle.WaitUntilDone();  // never started: returns at once
}

TEST(TarvexThreadAndMutex, MutexesAreNamedFromAProcessWideCounter) {
  TarvexMutex first;
  TarvexMutex second;
  int a = 0;
  int b = 0;
  char rest = 0;
  ASSERT_EQ(std::sscanf(first.GetName(), "mutex%d%c", &a, &rest), 1);
  ASSERT_EQ(std::sscanf(second.GetName(), "mutex%d%c", &b, &rest), 1);
  EXPECT_GE(a, 1);
  EXPECT_EQ(b, a + 1);
}

struct Waiting {
  TarvexMutex mutex;
  TarvexCond cond;
  int entered = 0;  // under mutex
  int woken = 0;    // under mutex
};

unsigned long WaitOnce(void* arg) {
  Waiting* w = static_cast<Waiting*>(arg);
  w->mutex.Get();
  ++w->entered;
  w->cond.Wait(w->mutex);
  ++w->woken;
  w->mutex.Release();
  return 0;
}

int Read(Waiting& w, int Waiting::*field) {
  w.mutex.Get();
  const int v = w.*field;
  w.mutex.Release();
  return v;
}

// Polls until the field reaches the value; the bound only prevents a hang.
bool Reaches(Waiting& w, int Waiting::*field, int value) {
  for (int i = 0; i < 10000; ++i) {
    if (Read(w, field) >= value) return true;
    TarvexThread::Sleep(1);
  }
  return false;
}

TEST(TarvexCond, SignalWakesOneWaiterAndIsLostWithoutOne) {
  Waiting w;
  w.cond.Signal();  // nobody waits: must not be kept for later

  TarvexThread one(WaitOnce, &w);
  TarvexThread two(WaitOnce, &w);
  ASSERT_TRUE(one.Start());
  ASSERT_TRUE(two.Start());
  // Seeing both entries under the mutex means both threads have released it
  // inside Wait, so both are waiting.
  ASSERT_TRUE(Reaches(w, &Waiting::entered, 2));
  TarvexThread::Sleep(200);
  EXPECT_EQ(Read(w, &Waiting::woken), 0) << "an early Signal let a later Wait return";

  w.mutex.Get();
  w.cond.Signal();
  w.cond.Signal();
  w.cond.Signal();  // one more than there are waiters: not stored
  w.mutex.Release();
  one.WaitUntilDone();
  two.WaitUntilDone();
  EXPECT_EQ(w.woken, 2);

  TarvexThread three(WaitOnce, &w);
  ASSERT_TRUE(three.Start());
  ASSERT_TRUE(Reaches(w, &Waiting::entered, 3));
  TarvexThread::Sleep(200);
  EXPECT_EQ(Read(w, &Waiting::woken), 2) << "a surplus Signal was stored";
  w.mutex.Get();
  w.cond.Signal();
  w.mutex.Release();
  three.WaitUntilDone();
  EXPECT_EQ(w.woken, 3);
}

}  // namespace
