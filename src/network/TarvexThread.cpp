#include "network/TarvexThread.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <new>

namespace {

// What the new thread needs, owned by the thread itself so that it does not
// depend on the lifetime of the TarvexThread object.
struct StartRecord {
  TarvexThread::ThreadFunction Function;
  void* Argument;
};

void* RunThread(void* raw) {
  StartRecord* record = static_cast<StartRecord*>(raw);
  const TarvexThread::ThreadFunction fn = record->Function;
  void* const arg = record->Argument;
  delete record;
  // The exit code travels back through the pointer-sized join result.
  return reinterpret_cast<void*>(static_cast<uintptr_t>(fn(arg)));
}

}  // namespace

TarvexThread::TarvexThread(ThreadFunction fn, void* arg)
    : Function(fn), Argument(arg), Handle(), Started(false), Joined(false), ExitCode(0) {}

TarvexThread::~TarvexThread() {
  if (Started && !Joined) pthread_detach(Handle);
}

bool TarvexThread::Start() {
  if (Started || Function == nullptr) return false;
  StartRecord* record = new (std::nothrow) StartRecord{Function, Argument};
  if (record == nullptr) return false;
  if (pthread_create(&Handle, nullptr, RunThread, record) != 0) {
    delete record;
    return false;
  }
  Started = true;
  return true;
}

void TarvexThread::WaitUntilDone() {
  if (!Started || Joined) return;
  void* result = nullptr;
  if (pthread_join(Handle, &result) == 0) {
    ExitCode = static_cast<unsigned long>(reinterpret_cast<uintptr_t>(result));
    Joined = true;
  }
}

unsigned long TarvexThread::GetExitCode() const { return ExitCode; }

void TarvexThread::Sleep(int ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  // A signal cuts nanosleep short; sleep on for the time that is left.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
