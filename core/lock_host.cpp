#include <mutex>
#include <new>

#include "lock.h"

namespace {

std::mutex& MutexIn(unsigned char* storage) {
  return *std::launder(reinterpret_cast<std::mutex*>(storage));
}

}  // namespace

Lock::Lock() {
  static_assert(sizeof(std::mutex) <= sizeof storage_ && alignof(std::mutex) <= 8);
  new (storage_) std::mutex;
}

Lock::~Lock() { MutexIn(storage_).~mutex(); }

void Lock::Acquire() { MutexIn(storage_).lock(); }

void Lock::Release() { MutexIn(storage_).unlock(); }
