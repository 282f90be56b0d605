// Test builds only: makes large requests for memory fail, so the fatal path can be driven.
#pragma once

// Reads ORVANE_FAIL_ALLOC_AT_LEAST=N; when set, every request of at least N bytes fails.
void InstallFaultInjectionFromEnvironment();
