// Thread, mutex and condition checks with real threads.
#include "network/TarvexCond.h"
#include "network/TarvexMutex.h"
#include "network/TarvexThread.h"

#include <gtest/gtest.h>

namespace {

struct Shared {
  TarvexMutex mutex;
  TarvexCond cond;
  long count = 0;   // under mutex
  int entered = 0;  // under mutex: threads about to wait
  int woken = 0;    // under mutex: threads back from the wait

  static unsigned long AddMany(void* arg) {
    Shared* s = static_cast<Shared*>(arg);
    for (int i = 0; i < 20000; ++i) {
      s->mutex.Get();
      s->count = s->count + 1;
      s->mutex.Release();
    }
    return 7;
  }
  static unsigned long WaitOnce(void* arg) {
    Shared* s = static_cast<Shared*>(arg);
    s->mutex.Get();
    ++s->entered;
    s->cond.Wait(s->mutex);
    ++s->woken;
    s->mutex.Release();
    return 0;
  }
  int Read(int Shared::*field) {
    mutex.Get();
    const int v = this->*field;
    mutex.Release();
    return v;
  }
  // Polls until the field reaches the value; the bound only prevents a hang.
  bool Reaches(int Shared::*field, int value) {
    for (int i = 0; i < 10000 && Read(field) < value; ++i) TarvexThread::Sleep(1);
    return Read(field) >= value;
  }
};

TEST(TarvexThreadAndMutex, ThreadsRunTheirFunctionUnderMutualExclusion) {
  Shared s;
  TarvexThread threads[4] = {{Shared::AddMany, &s}, {Shared::AddMany, &s}, {Shared::AddMany, &s},
                             {Shared::AddMany, &s}};
  for (TarvexThread& t : threads) ASSERT_TRUE(t.Start());
  for (TarvexThread& t : threads) {
    t.WaitUntilDone();
    EXPECT_EQ(t.GetExitCode(), 7u);
  }
  EXPECT_EQ(s.count, 4 * 20000);
  EXPECT_FALSE(threads[0].Start()) << "a thread object starts once";
  TarvexThread(Shared::AddMany, &s).WaitUntilDone();  // never started: returns at once
}

TEST(TarvexCond, SignalWakesOneWaiterAndIsLostWithoutOne) {
  Shared s;
  s.cond.Signal();  // nobody waits: must not be kept for later
  TarvexThread one(Shared::WaitOnce, &s);
  TarvexThread two(Shared::WaitOnce, &s);
  ASSERT_TRUE(one.Start());
  ASSERT_TRUE(two.Start());
  // Both entries seen under the mutex: both threads released it inside Wait.
  ASSERT_TRUE(s.Reaches(&Shared::entered, 2));
  TarvexThread::Sleep(200);
  EXPECT_EQ(s.Read(&Shared::woken), 0) << "an early Signal let a later Wait return";

  s.mutex.Get();
  s.cond.Signal();
  s.cond.Signal();
  s.mutex.Release();
  one.WaitUntilDone();
  two.WaitUntilDone();
  EXPECT_EQ(s.woken, 2);
}

}  // namespace
