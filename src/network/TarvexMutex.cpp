#include "network/TarvexMutex.h"

#include <atomic>
#include <cstdio>

namespace {

std::atomic<int> MutexCount{0};

}  // namespace

TarvexMutex::TarvexMutex() {
  std::snprintf(Name, sizeof Name, "mutex%d", ++MutexCount);
  pthread_mutex_init(&Handle, nullptr);
}

TarvexMutex::~TarvexMutex() { pthread_mutex_destroy(&Handle); }

void TarvexMutex::Get() { pthread_mutex_lock(&Handle); }

void TarvexMutex::Release() { pthread_mutex_unlock(&Handle); }

const char* TarvexMutex::GetName() const { return Name; }
