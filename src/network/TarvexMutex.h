// A mutual-exclusion lock shared by the threads of the process.
//
// Each mutex is named "mutex<n>", n counting the mutexes made by the process
// from 1 (the counter is increased before use). Get blocks without limit
// until the calling thread owns the mutex; Release gives it up. A thread
// never takes one mutex twice. Destroying a mutex releases nothing.
#ifndef TARVEX_NETWORK_TARVEXMUTEX_H
#define TARVEX_NETWORK_TARVEXMUTEX_H

#include <pthread.h>

class TarvexMutex {
 public:
  TarvexMutex();
  ~TarvexMutex();

  TarvexMutex(const TarvexMutex&) = delete;
  TarvexMutex& operator=(const TarvexMutex&) = delete;

  void Get();
  void Release();
  const char* GetName() const;

 private:
  static const int kNameLength = 64;
  char Name[kNameLength + 1];
  pthread_mutex_t Handle;
};

#endif
