// MainWindow: its constant description, the builder that makes it from that description, and
// the handler of ReplyEdit's changes.
#pragma once

#include <windows.h>

// "Orvane群发辅助小工具" in code page 936.
inline constexpr char kMainWindowTitle[] =
    "Orvane\xC8\xBA\xB7\xA2\xB8\xA8\xD6\xFA\xD0\xA1\xB9\xA4\xBE\xDF";

extern HWND MainWindow;
extern HWND WatchTimerWindow;
extern HWND StartCheck;
extern HWND ReplyEdit;

// Builds and shows MainWindow with its controls; false when Windows can't make one of them.
bool CreateMainWindow(HINSTANCE instance);

// Rebuilds the reply list from ReplyEdit's whole text.
void OnReplyEditChanged();

// The control that Tab (or Shift+Tab, backwards) moves the focus to from `current`, cycling
// through the shown, enabled tab stops in stop order.
HWND NextFocus(HWND current, bool backwards);
