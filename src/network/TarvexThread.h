// A thread of the operating system running one function on one argument.
//
// The function takes a void* and returns an unsigned long (its exit code).
// The function and argument are handed to the new thread by value, so the
// TarvexThread object may be destroyed while the thread still runs: a thread
// that was started but never waited for is then detached.
#ifndef TARVEX_NETWORK_TARVEXTHREAD_H
#define TARVEX_NETWORK_TARVEXTHREAD_H

#include <pthread.h>

class TarvexThread {
 public:
  typedef unsigned long (*ThreadFunction)(void*);

  TarvexThread(ThreadFunction fn, void* arg);
  ~TarvexThread();

  TarvexThread(const TarvexThread&) = delete;
  TarvexThread& operator=(const TarvexThread&) = delete;

  // Creates the thread, with the default stack size, running fn(arg).
  // False when the thread could not be created or was already started.
  bool Start();
  // Blocks without limit until the thread has ended. Returns at once when
  // the thread was never started or has already been waited for.
  void WaitUntilDone();
  // What fn returned, once WaitUntilDone has seen the thread end; 0 before.
  unsigned long GetExitCode() const;

  // Suspends the calling thread for ms milliseconds (nothing when ms <= 0).
  static void Sleep(int ms);

 private:
  ThreadFunction Function;
  void* Argument;
  pthread_t Handle;
  bool Started;
  bool Joined;
  unsigned long ExitCode;
};

#endif
