// Test builds only: makes large requests for memory fail, so the fatal path can be driven, and can
// take the clipboard listener away.
#pragma once

// Reads ORVANE_FAIL_ALLOC_AT_LEAST=N; when set, every request of at least N bytes fails.
void InstallFaultInjectionFromEnvironment();

// Reads ORVANE_NO_CLIPBOARD_LISTENER=1: the program then acts as if user32 had no clipboard
// listener, as on Windows XP, and watches by its ticks alone.
bool ClipboardListenerSwitchedOff();
