// Threads and locks, shaped after CreateThread / WaitForSingleObject /
// CloseHandle / GetLastError and the critical section calls.
#pragma once

#include <cstdint>

namespace platform {

// A critical section (InitializeCriticalSection / EnterCriticalSection /
// LeaveCriticalSection / DeleteCriticalSection).
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void enter();
  void leave();

 private:
  alignas(8) unsigned char storage_[64];
};

// Holds a critical section for one scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.enter(); }
  ~CriticalSectionLock() { section_.leave(); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CriticalSection& section_;
};

using ThreadHandle = void*;
using ThreadFunction = void (*)(void* argument);

// CreateThread with the default stack size, running at once. Returns the
// handle, or null with *error set to the system's error code.
ThreadHandle createThread(ThreadFunction function, void* argument, std::uint32_t* error);
// WaitForSingleObject(thread, INFINITE) followed by CloseHandle.
void joinThread(ThreadHandle thread);
// CloseHandle without waiting: the thread runs on by itself and ends with the
// process at the latest.
void releaseThread(ThreadHandle thread);

}  // namespace platform
