#include "fault_injection.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "memory.h"

namespace {

size_t failAtLeast = 0;
size_t libraryErrorAtLeast = 0;
char libraryError = 0;

void* FailLargeRequests(size_t bytes) {
  return bytes >= failAtLeast ? nullptr : std::malloc(bytes);
}

void* RaiseLibraryError(size_t bytes) {
  if (bytes >= libraryErrorAtLeast) {
    std::string probe;
    if (libraryError == 'l') {
      probe.reserve(probe.max_size() + 1);
    } else {
      probe = probe.substr(1);
    }
  }
  return std::malloc(bytes);
}

size_t SizeFromEnvironment(const char* name) {
  char value[32];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return 0;
  return static_cast<size_t>(std::strtoull(value, nullptr, 10));
}

}  // namespace

void InstallFaultInjectionFromEnvironment() {
  failAtLeast = SizeFromEnvironment("ORVANE_FAIL_ALLOC_AT_LEAST");
  if (failAtLeast > 0) {
    SetRawAllocator(FailLargeRequests);
    return;
  }
  char kind[16];
  const DWORD length = GetEnvironmentVariableA("ORVANE_LIBRARY_ERROR", kind, sizeof kind);
  libraryErrorAtLeast = SizeFromEnvironment("ORVANE_LIBRARY_ERROR_AT_LEAST");
  if (length == 0 || length >= sizeof kind || libraryErrorAtLeast == 0) return;
  libraryError = kind[0];
  SetRawAllocator(RaiseLibraryError);
}

bool ClipboardListenerSwitchedOff() {
  char value[4];
  const DWORD length = GetEnvironmentVariableA("ORVANE_NO_CLIPBOARD_LISTENER", value, sizeof value);
  return length == 1 && value[0] == '1';
}
