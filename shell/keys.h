// MainWindow's own keys, offered every key message before it is translated and dispatched.
#pragma once

#include <windows.h>

// Returns true when the key was MainWindow's (Tab, Shift+Tab, Esc); such a key goes no further.
bool TakeMainWindowKey(const MSG& message);
