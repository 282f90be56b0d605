#include "memory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void ExitOnOutOfMemory(size_t bytes) {
  char message[96];
  FormatByteCount(message, sizeof message, "out of memory: a request for ", bytes,
                  " bytes failed\n");
  std::fputs(message, stderr);
  std::fflush(stderr);
  std::_Exit(-1);
}

std::atomic<OutOfMemoryHandler> outOfMemoryHandler{nullptr};
std::atomic<RawAllocator> rawAllocator{nullptr};

}  // namespace

void SetOutOfMemoryHandler(OutOfMemoryHandler handler) { outOfMemoryHandler.store(handler); }

void SetRawAllocator(RawAllocator allocator) { rawAllocator.store(allocator); }

void* AllocateOrDie(size_t bytes) {
  if (bytes == 0) bytes = 1;
  const RawAllocator allocate = rawAllocator.load(std::memory_order_relaxed);
  void* block = allocate ? allocate(bytes) : std::malloc(bytes);
  if (block != nullptr) return block;
  if (const OutOfMemoryHandler handler = outOfMemoryHandler.load()) handler(bytes);
  ExitOnOutOfMemory(bytes);  // also the backstop should a handler return
}

void FormatByteCount(char* buffer, size_t capacity, const char* prefix, size_t bytes,
                     const char* suffix) {
  if (capacity == 0) return;
  size_t used = 0;
  auto put = [&](char c) {
    if (used + 1 < capacity) buffer[used++] = c;
  };
  for (const char* p = prefix; *p; ++p) put(*p);
  char digits[24];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + bytes % 10);
    bytes /= 10;
  } while (bytes != 0);
  while (count > 0) put(digits[--count]);
  for (const char* p = suffix; *p; ++p) put(*p);
  buffer[used] = '\0';
}

// The replaceable allocation functions. The nothrow forms fail the same way: nothing in this
// program is written to survive a failed request.
void* operator new(size_t bytes) { return AllocateOrDie(bytes); }
void* operator new[](size_t bytes) { return AllocateOrDie(bytes); }
void* operator new(size_t bytes, const std::nothrow_t&) noexcept { return AllocateOrDie(bytes); }
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
  return AllocateOrDie(bytes);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
