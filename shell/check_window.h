// The check thread in the program: the one thread that uses the clipboard, with a message-only
// window of its own that opens the clipboard, answers what an owner is sent and, where Windows
// has the listener, learns of every clipboard change.
#pragma once

#include <windows.h>

#include "check_thread.h"

// The check window's class. A clipboard owned by a window of this class was written by this tool
// or by another copy of it.
inline constexpr char kCheckWindowClass[] = "OrvaneClipboardCheck";

// The program's one check thread; ticks and starts wake it through this.
extern CheckThread WatchChecks;

// Starts the check thread unless it runs. False when it can't be started; a later call tries again.
// The interface thread's alone.
bool EnsureCheckThread(HINSTANCE instance);

// Whether the check window should listen for clipboard changes. The check thread follows as soon
// as it handles its messages; notifications that come while not watching are dropped anyway.
void ListenForClipboardChanges(bool listen);
