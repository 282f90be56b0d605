// The program: start-up, the message loop of the interface thread, and shut-down.
#include <windows.h>

#include "fatal_error.h"
#include "keys.h"
#include "main_window.h"
#include "reply_list.h"
#include "watch_switch.h"

#ifdef ORVANE_FAULT_INJECTION
#include "fault_injection.h"
#endif

namespace {

// "无法载入启动窗口。" in code page 936.
const char kCannotLoadWindow[] = "\xCE\xDE\xB7\xA8\xD4\xD8\xC8\xEB\xC6\xF4\xB6\xAF\xB4\xB0\xBF\xDA\xA1\xA3";

using ReleaseAction = void (*)();
ReleaseAction releaseActions[4];
int releaseActionCount = 0;

// Entering an action twice adds nothing.
void EnterReleaseAction(ReleaseAction action) {
  for (int i = 0; i < releaseActionCount; ++i) {
    if (releaseActions[i] == action) return;
  }
  releaseActions[releaseActionCount++] = action;
}

void RunReleaseActions() {
  for (int i = 0; i < releaseActionCount; ++i) releaseActions[i]();
}

int RunMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (TakeMainWindowKey(message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef ORVANE_FAULT_INJECTION
  InstallFaultInjectionFromEnvironment();
#endif
  ReportOutOfMemoryAsFatal();
  CreateReplyList();
  EnterReleaseAction(ReleaseReplyList);
  if (!CreateMainWindow(instance)) ReportFatalError(kCannotLoadWindow);

  const int exitCode = RunMessageLoop();

  // A fatal error reported on the check thread ends the process with -1 itself.
  if (IsReportingFatalError()) {
    for (;;) Sleep(INFINITE);
  }
  // Nothing waits for a check still inside a clipboard call: it writes nothing from here on, and
  // the release takes ReplyLock, so it picks from no list after it.
  EndWatching();
  RunReleaseActions();
  ExitProcess(static_cast<UINT>(exitCode));
}
