#include <windows.h>

#include <cstring>

#include "wake_signal.h"

namespace {

HANDLE EventIn(const unsigned char* storage) {
  HANDLE event;
  std::memcpy(&event, storage, sizeof event);
  return event;
}

// Posted messages of the thread's windows (a clipboard notification, for one) are handled here;
// sent ones are answered by Windows inside the wait as well.
void HandleMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

}  // namespace

WakeSignal::WakeSignal() {
  static_assert(sizeof(HANDLE) <= sizeof storage_);
  // Auto-reset: a wait takes the signal with it.
  const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::memcpy(storage_, &event, sizeof event);
}

WakeSignal::~WakeSignal() {
  if (const HANDLE event = EventIn(storage_)) CloseHandle(event);
}

void WakeSignal::Set() { SetEvent(EventIn(storage_)); }

void WakeSignal::Wait() {
  HANDLE event = EventIn(storage_);
  // Without an event (none could be made) the waiter looks again every 10 ms.
  const DWORD count = event ? 1 : 0;
  for (;;) {
    HandleMessages();
    const DWORD woken = MsgWaitForMultipleObjects(count, &event, FALSE, event ? INFINITE : 10,
                                                  QS_ALLINPUT);
    if (woken != WAIT_OBJECT_0 + count) return;  // set, timed out or failed: the caller looks
  }
}
