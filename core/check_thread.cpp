#include "check_thread.h"

void RunCheckThread(CheckThread& thread) {
  for (;;) {
    bool take = false;
    uint32_t watch = 0;
    {
      LockHold hold(thread.lock);
      if (thread.ending) return;
      if (thread.pending) {
        // Cleared before the check, so a wake during it asks for exactly one more.
        thread.pending = false;
        take = true;
        watch = thread.watch;
      }
    }
    if (take) {
      thread.routine(thread, watch);
    } else {
      thread.signal.Wait();
    }
  }
}

void StartChecks(CheckThread& thread) {
  {
    LockHold hold(thread.lock);
    ++thread.watch;
    thread.watching = true;
    thread.pending = true;
  }
  thread.signal.Set();
}

void StopChecks(CheckThread& thread) {
  LockHold hold(thread.lock);
  ++thread.watch;
  thread.watching = false;
  thread.pending = false;
}

bool WakeChecks(CheckThread& thread) {
  {
    LockHold hold(thread.lock);
    if (!thread.watching || thread.pending) return false;
    thread.pending = true;
  }
  thread.signal.Set();
  return true;
}

bool MayWriteClipboard(CheckThread& thread, uint32_t watch) {
  LockHold hold(thread.lock);
  return thread.watching && thread.watch == watch;
}

void EndCheckThread(CheckThread& thread) {
  StopChecks(thread);
  {
    LockHold hold(thread.lock);
    thread.ending = true;
  }
  thread.signal.Set();
}
