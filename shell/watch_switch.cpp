#include "watch_switch.h"

#include "clipboard_check.h"
#include "fatal_error.h"
#include "main_window.h"
#include "reply_list.h"

namespace {

const int kWatchPeriod = 50;
const UINT_PTR kWatchTimerId = 1;

int period = 0;
bool timerSet = false;
// The most recently started worker, or null. Only the interface thread touches it.
HANDLE workerHandle = nullptr;

DWORD WINAPI WatchWorker(LPVOID) {
  ClipboardCheck();
  return 0;
}

LRESULT CALLBACK WatchTimerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: {
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      if (!IsReportingFatalError()) ClipboardCheck();
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
  // Every start follows a stop that saw the previous worker end, so its handle is done with.
  if (workerHandle) CloseHandle(workerHandle);
  workerHandle = CreateThread(nullptr, 0, WatchWorker, nullptr, 0, nullptr);
}

void StopWatching() {
  SetPeriod(0);
  EndWorker(workerHandle);
}

void SetPeriod(int newPeriod) {
  if (newPeriod == period) return;
  period = newPeriod;
  if (timerSet) KillTimer(WatchTimerWindow, kWatchTimerId);
  timerSet = period > 0 &&
             SetTimer(WatchTimerWindow, kWatchTimerId, static_cast<UINT>(period), nullptr) != 0;
}

void EndWorker(HANDLE worker) {
  // Cutting the thread off could leave the clipboard open or ReplyLock held for good; its one
  // check is short, so wait for it. Nothing is held while waiting. Messages sent to this thread's
  // windows are still answered: emptying the clipboard sends WM_DESTROYCLIPBOARD to its owner,
  // which is ReplyEdit after a copy there, and the worker would otherwise wait on us.
  if (!worker) return;
  while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE) ==
         WAIT_OBJECT_0 + 1) {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
