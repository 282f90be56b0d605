#include "fatal_error.h"

#include <windows.h>

#include <atomic>

#include "main_window.h"
#include "memory.h"

namespace {

std::atomic<bool> reporting{false};

// "内存不足，无法分配 n 字节。" in code page 936.
const char kOutOfMemoryPrefix[] =
    "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xAC\xCE\xDE\xB7\xA8\xB7\xD6\xC5\xE4 ";
const char kOutOfMemorySuffix[] = " \xD7\xD6\xBD\xDA\xA1\xA3";

[[noreturn]] void ReportOutOfMemory(size_t bytes) {
  // Memory has run out: the message is built on the stack, without allocating.
  char message[128];
  FormatByteCount(message, sizeof message, kOutOfMemoryPrefix, bytes, kOutOfMemorySuffix);
  ReportFatalError(message);
}

// The first report ends the process. Until then this thread still answers what is sent to its
// windows, the clipboard owner's WM_DESTROYCLIPBOARD among them, so that no other program waits
// on it. Nothing posted is handled, and MainWindow's handlers see the report and do nothing.
[[noreturn]] void WaitForTheFirstReport() {
  for (;;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace

void ReportFatalError(const char* message) {
  // A check may fail while it has the clipboard open; other programs should not wait for OK, nor
  // for the end of a report already on screen.
  CloseClipboard();
  if (reporting.exchange(true)) WaitForTheFirstReport();
  MessageBoxA(nullptr, message, kMainWindowTitle, MB_OK | MB_ICONERROR);
  ExitProcess(static_cast<UINT>(-1));
}

bool IsReportingFatalError() { return reporting.load(); }

void ReportOutOfMemoryAsFatal() { SetOutOfMemoryHandler(ReportOutOfMemory); }
