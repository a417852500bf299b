// Threads and critical sections on POSIX threads.
#include "platform/threads.h"

#include <pthread.h>

#include <memory>

namespace platform {

namespace {

pthread_mutex_t* native(unsigned char* storage) { return reinterpret_cast<pthread_mutex_t*>(storage); }

// What the new thread runs. It is the thread's own, separate from the handle,
// so that releasing the handle at once cannot pull it away from a thread that
// has not started yet.
struct ThreadStart {
  ThreadFunction function;
  void* argument;
};

// The handle the caller holds until joinThread or releaseThread.
struct ThreadRecord {
  pthread_t id;
};

void* runThread(void* raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  ThreadFunction function = start->function;
  void* argument = start->argument;
  start.reset();
  function(argument);
  return nullptr;
}

}  // namespace

// A critical section may be entered again by the thread that holds it, so the
// mutex is a recursive one.
CriticalSection::CriticalSection() {
  static_assert(sizeof(pthread_mutex_t) <= sizeof storage_, "pthread_mutex_t does not fit the storage");
  static_assert(alignof(pthread_mutex_t) <= 8, "pthread_mutex_t needs more alignment than the storage has");
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(std::construct_at(native(storage_)), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

CriticalSection::~CriticalSection() { pthread_mutex_destroy(native(storage_)); }

void CriticalSection::enter() { pthread_mutex_lock(native(storage_)); }

void CriticalSection::leave() { pthread_mutex_unlock(native(storage_)); }

ThreadHandle createThread(ThreadFunction function, void* argument, std::uint32_t* error) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{function, argument});
  auto record = std::make_unique<ThreadRecord>();
  int result = pthread_create(&record->id, nullptr, runThread, start.get());
  if (result != 0) {
    if (error != nullptr) *error = static_cast<std::uint32_t>(result);
    return nullptr;
  }
  start.release();  // the thread frees it
  return record.release();
}

void joinThread(ThreadHandle thread) {
  if (thread == nullptr) return;
  std::unique_ptr<ThreadRecord> record(static_cast<ThreadRecord*>(thread));
  pthread_join(record->id, nullptr);
}

void releaseThread(ThreadHandle thread) {
  if (thread == nullptr) return;
  std::unique_ptr<ThreadRecord> record(static_cast<ThreadRecord*>(thread));
  pthread_detach(record->id);
}

}  // namespace platform
