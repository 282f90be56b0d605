#include "fault_injection.h"

#include <windows.h>

#include <cstdlib>

#include "memory.h"

namespace {

size_t failAtLeast = 0;

void* FailLargeRequests(size_t bytes) {
  return bytes >= failAtLeast ? nullptr : std::malloc(bytes);
}

}  // namespace

void InstallFaultInjectionFromEnvironment() {
  char value[32];
  const DWORD length = GetEnvironmentVariableA("ORVANE_FAIL_ALLOC_AT_LEAST", value, sizeof value);
  if (length == 0 || length >= sizeof value) return;
  failAtLeast = static_cast<size_t>(std::strtoull(value, nullptr, 10));
  if (failAtLeast > 0) SetRawAllocator(FailLargeRequests);
}

bool ClipboardListenerSwitchedOff() {
  char value[4];
  const DWORD length = GetEnvironmentVariableA("ORVANE_NO_CLIPBOARD_LISTENER", value, sizeof value);
  return length == 1 && value[0] == '1';
}
