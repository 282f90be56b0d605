// The watch switch: StartCheck turns watching on and off. While watching, a check runs at the
// start, at every 50 ms tick and at every clipboard change, all on the check thread, so that the
// interface thread never waits on the clipboard. Whether watching is on is what StartCheck shows.
#pragma once

#include <windows.h>

// The window class of WatchTimer's hidden window, which owns its Windows timer.
inline constexpr char kWatchTimerClass[] = "OrvaneWatchTimer";
bool RegisterWatchTimerClass(HINSTANCE instance);

// StartCheck's clicked event: starts or stops watching after what BM_GETCHECK reads.
void OnStartCheckClicked();
void StartWatching();
void StopWatching();

// Sets WatchTimer's period in milliseconds; 0 stops it. An unchanged period changes nothing.
void SetPeriod(int period);

// Shut-down: no check writes from now on, and the check thread ends once it is free.
void EndWatching();
