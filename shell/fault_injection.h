// Test builds only: makes large requests for memory fail, or meet an error of the standard
// library, so the fatal path can be driven, and can take the clipboard listener away.
#pragma once

// Reads ORVANE_FAIL_ALLOC_AT_LEAST=N; when set, every request of at least N bytes fails.
// Else reads ORVANE_LIBRARY_ERROR_AT_LEAST=N with ORVANE_LIBRARY_ERROR=length or range; when set,
// a request of at least N bytes first asks the library for a string longer than it can make
// (length) or for a piece past a string's end (range).
void InstallFaultInjectionFromEnvironment();

// Reads ORVANE_NO_CLIPBOARD_LISTENER=1: the program then acts as if user32 had no clipboard
// listener, as on Windows XP, and watches by its ticks alone.
bool ClipboardListenerSwitchedOff();
