#include "check_window.h"

#include <atomic>
#include <cstring>

#include "clipboard_calls.h"
#include "clipboard_check.h"
#include "fatal_error.h"

#ifdef ORVANE_FAULT_INJECTION
#include "fault_injection.h"
#endif

namespace {

// Vista's clipboard listener. The program also runs on Windows XP, whose user32 lacks it, so the
// two calls are looked up at run time and the message is spelt out here.
const UINT kClipboardUpdate = 0x031D;  // WM_CLIPBOARDUPDATE
using ListenerCall = BOOL(WINAPI*)(HWND);

// Posted by the interface thread: the check window should listen, or stop, as `listenWanted` says.
const UINT kFollowListenWish = WM_APP;

void RunOneCheck(CheckThread& thread, uint32_t watch) {
  // While a fatal error is on screen no new check touches the clipboard.
  if (IsReportingFatalError()) return;
  ClipboardCheck(thread, watch);
}

HANDLE checkThreadHandle = nullptr;     // the interface thread's alone
std::atomic<HWND> checkWindow{nullptr};  // set once by the check thread
std::atomic<bool> listenWanted{false};

// The check thread's alone.
ListenerCall addListener = nullptr;
ListenerCall removeListener = nullptr;
bool listening = false;

void FindListenerCalls() {
#ifdef ORVANE_FAULT_INJECTION
  if (ClipboardListenerSwitchedOff()) return;
#endif
  const HMODULE user32 = GetModuleHandleA("user32.dll");
  if (!user32) return;
  // Through the generic function type, which converts to any other without a warning.
  const auto add =
      reinterpret_cast<void (*)()>(GetProcAddress(user32, "AddClipboardFormatListener"));
  const auto remove =
      reinterpret_cast<void (*)()>(GetProcAddress(user32, "RemoveClipboardFormatListener"));
  if (!add || !remove) return;
  addListener = reinterpret_cast<ListenerCall>(add);
  removeListener = reinterpret_cast<ListenerCall>(remove);
}

void FollowListenWish(HWND window) {
  const bool wanted = listenWanted.load() && addListener != nullptr;
  if (wanted == listening) return;
  if (wanted) {
    listening = addListener(window) != 0;
  } else {
    removeListener(window);
    listening = false;
  }
}

// The tool's own replacement, or another copy's, leaves a check window as the clipboard's owner.
// Such a change waits for the next tick: a reply that holds the marker is then replaced once per
// tick, and two copies can't drive each other faster than that. Another program's change (the
// owner its window, or none) is checked at once.
bool OwnedByThisTool() {
  const HWND owner = GetClipboardOwner();
  if (!owner) return false;
  char name[sizeof kCheckWindowClass + 1];
  return GetClassNameA(owner, name, sizeof name) > 0 && std::strcmp(name, kCheckWindowClass) == 0;
}

LRESULT CALLBACK CheckWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kClipboardUpdate:
      if (!OwnedByThisTool()) WakeChecks(WatchChecks);
      return 0;
    case kFollowListenWish:
      FollowListenWish(window);
      return 0;
    case WM_DESTROY:
      if (listening) removeListener(window);
      listening = false;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateCheckWindow(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = CheckWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kCheckWindowClass;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, kCheckWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                         nullptr);
}

DWORD WINAPI CheckThreadMain(LPVOID parameter) {
  // Without a window of its own the thread still checks, opening the clipboard with none, and
  // watches by the ticks alone.
  const HWND window = CreateCheckWindow(static_cast<HINSTANCE>(parameter));
  if (window) {
    SetClipboardWindow(window);
    FindListenerCalls();
    checkWindow.store(window);
    // A wish posted before the window was known was not posted at all.
    FollowListenWish(window);
  }
  // The thread's end destroys its window, which takes the listener away with it.
  RunCheckThread(WatchChecks);
  return 0;
}

}  // namespace

CheckThread WatchChecks(RunOneCheck);

bool EnsureCheckThread(HINSTANCE instance) {
  if (!checkThreadHandle) {
    checkThreadHandle = CreateThread(nullptr, 0, CheckThreadMain, instance, 0, nullptr);
  }
  return checkThreadHandle != nullptr;
}

void ListenForClipboardChanges(bool listen) {
  listenWanted.store(listen);
  if (const HWND window = checkWindow.load()) PostMessageA(window, kFollowListenWish, 0, 0);
}
