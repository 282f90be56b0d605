// The watch switch: StartCheck turns 50 ms clipboard checks on and off, and each start runs one
// immediate check on a worker thread. Whether watching is on is what StartCheck shows.
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

// Makes sure the worker behind `worker` no longer runs, by waiting for its single check.
void EndWorker(HANDLE worker);
