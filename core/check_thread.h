// The one thread of the tool that uses the clipboard. The start of watching, every tick and every
// clipboard notification wake it; wakes that come while it checks merge into one more check, as
// Windows merges timer messages. Stopping takes effect at once and never waits for a check: a
// check still under way when watching stops writes nothing afterwards.
#pragma once

#include <cstdint>

#include "lock.h"
#include "wake_signal.h"

struct CheckThread;

// What the thread runs for each merged wake. `watch` names the watch it was woken in, for
// MayWriteClipboard.
using CheckRoutine = void (*)(CheckThread& thread, uint32_t watch);

struct CheckThread {
  explicit CheckThread(CheckRoutine checkRoutine) : routine(checkRoutine) {}

  const CheckRoutine routine;
  WakeSignal signal;
  Lock lock;
  // Guarded by `lock`. `watch` grows at every start and stop, so a check knows when the watch it
  // began in is over.
  uint32_t watch = 0;
  bool watching = false;
  bool pending = false;
  bool ending = false;
};

// The thread's body: runs the routine once per merged wake until EndCheckThread.
void RunCheckThread(CheckThread& thread);

// Watching starts, with one check at once.
void StartChecks(CheckThread& thread);
// Watching stops. Returns at once, whatever the thread is doing; a wake not yet taken is dropped.
void StopChecks(CheckThread& thread);
// A tick or a notification: asks for one check. False when not watching, or when a check is
// already asked for and this wake merges into it.
bool WakeChecks(CheckThread& thread);
// Asked by a check right before it writes: true while the watch it began in still goes on.
bool MayWriteClipboard(CheckThread& thread, uint32_t watch);
// Stops watching and lets RunCheckThread return once the check under way, if any, is over.
void EndCheckThread(CheckThread& thread);
