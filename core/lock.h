// A plain mutual-exclusion lock. On the host it is a std::mutex, which ThreadSanitizer understands;
// on Windows a critical section, so that the executable needs no threading layer beyond kernel32.
#pragma once

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  void Acquire();
  void Release();

 private:
  // Room for a CRITICAL_SECTION (24 or 40 bytes) or a std::mutex (40 bytes with glibc), so that
  // neither header is needed here; each implementation checks that it fits.
  alignas(8) unsigned char storage_[48];
};

// Holds a lock for the rest of a scope.
class LockHold {
 public:
  explicit LockHold(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockHold() { lock_.Release(); }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  Lock& lock_;
};
