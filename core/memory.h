// Every request for memory, the standard library's included, goes through the global operator
// new defined here. A request that can't be met never returns: it calls the out-of-memory
// handler with its size, on whichever thread made it.
#pragma once

#include <cstddef>

using OutOfMemoryHandler = void (*)(size_t bytes);
using RawAllocator = void* (*)(size_t bytes);

// The handler must not return and must not allocate. The default one writes the size to stderr
// and ends the process with exit code -1.
void SetOutOfMemoryHandler(OutOfMemoryHandler handler);

// Replaces malloc as the source of memory, so that tests can make requests fail. What it returns
// is released with free. Null restores malloc.
void SetRawAllocator(RawAllocator allocator);

// Allocates at least one byte or calls the out-of-memory handler.
void* AllocateOrDie(size_t bytes);

// Writes "<prefix><bytes><suffix>" into buffer (always terminated) without allocating.
void FormatByteCount(char* buffer, size_t capacity, const char* prefix, size_t bytes,
                     const char* suffix);
