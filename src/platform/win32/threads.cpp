// Threads and critical sections through the kernel's own calls.
#include "platform/threads.h"

#include <windows.h>

#include <memory>

namespace platform {

namespace {

CRITICAL_SECTION* native(unsigned char* storage) { return reinterpret_cast<CRITICAL_SECTION*>(storage); }

// What the new thread runs, owned by the thread: the caller may release the
// handle before the thread has even started.
struct ThreadStart {
  ThreadFunction function;
  void* argument;
};

DWORD WINAPI runThread(void* raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  ThreadFunction function = start->function;
  void* argument = start->argument;
  start.reset();
  function(argument);
  return 0;
}

}  // namespace

// CRITICAL_SECTION is 24 bytes on 32-bit Windows and 40 on 64-bit; the
// storage in the header is sized for both without naming the type.
CriticalSection::CriticalSection() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof storage_, "CRITICAL_SECTION does not fit the storage");
  static_assert(alignof(CRITICAL_SECTION) <= 8, "CRITICAL_SECTION needs more alignment than the storage has");
  ::InitializeCriticalSection(std::construct_at(native(storage_)));
}

CriticalSection::~CriticalSection() { ::DeleteCriticalSection(native(storage_)); }

void CriticalSection::enter() { ::EnterCriticalSection(native(storage_)); }

void CriticalSection::leave() { ::LeaveCriticalSection(native(storage_)); }

ThreadHandle createThread(ThreadFunction function, void* argument, std::uint32_t* error) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{function, argument});
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, runThread, start.get(), 0, &id);
  if (thread == nullptr) {
    if (error != nullptr) *error = ::GetLastError();
    return nullptr;
  }
  start.release();  // the thread frees it
  return thread;
}

void joinThread(ThreadHandle thread) {
  if (thread == nullptr) return;
  ::WaitForSingleObject(thread, INFINITE);
  ::CloseHandle(thread);
}

void releaseThread(ThreadHandle thread) {
  if (thread == nullptr) return;
  ::CloseHandle(thread);
}

}  // namespace platform
