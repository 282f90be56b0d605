#include "watch_switch.h"

#include "check_thread.h"
#include "check_window.h"
#include "fatal_error.h"
#include "main_window.h"
#include "reply_list.h"

namespace {

const int kWatchPeriod = 50;
const UINT_PTR kWatchTimerId = 1;

int period = 0;
bool timerSet = false;
HINSTANCE watchInstance = nullptr;

LRESULT CALLBACK WatchTimerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: {
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      // The tick only wakes the check thread; one that comes while it checks merges into one more.
      // A thread that could not be started at the start of watching is tried again here.
      if (!IsReportingFatalError() && EnsureCheckThread(watchInstance)) WakeChecks(WatchChecks);
      return result;
    }
    case WM_DESTROY:
      if (timerSet) KillTimer(window, kWatchTimerId);
      timerSet = false;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RegisterWatchTimerClass(HINSTANCE instance) {
  watchInstance = instance;
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WatchTimerProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWatchTimerClass;
  return RegisterClassA(&windowClass) != 0;
}

void OnStartCheckClicked() {
  if (SendMessageA(StartCheck, BM_GETCHECK, 0, 0) == BST_CHECKED) {
    StartWatching();
  } else {
    StopWatching();
  }
}

void StartWatching() {
  SeedReplyRandom();
  SetPeriod(kWatchPeriod);
  // A thread that can't be started now is tried again at every tick.
  EnsureCheckThread(watchInstance);
  ListenForClipboardChanges(true);
  StartChecks(WatchChecks);
}

// Returns at once: a check inside a clipboard call when watching stops writes nothing afterwards.
void StopWatching() {
  SetPeriod(0);
  StopChecks(WatchChecks);
  ListenForClipboardChanges(false);
}

void SetPeriod(int newPeriod) {
  if (newPeriod == period) return;
  period = newPeriod;
  if (timerSet) KillTimer(WatchTimerWindow, kWatchTimerId);
  timerSet = period > 0 &&
             SetTimer(WatchTimerWindow, kWatchTimerId, static_cast<UINT>(period), nullptr) != 0;
}

void EndWatching() { EndCheckThread(WatchChecks); }
