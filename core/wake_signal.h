// A signal one thread sets and another waits for: a set that comes before the wait is kept, and
// any number of sets before one wait count as one. On Windows the waiting thread keeps answering
// the messages of its windows while it waits.
#pragma once

class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  void Set();
  // Returns once the signal is set, and clears it. It may return earlier: the caller looks at
  // what it waits for and waits again.
  void Wait();

 private:
  // Room for an event handle, or for a std::mutex, a std::condition_variable and a flag, so that
  // neither header is needed here; each implementation checks that it fits.
  alignas(8) unsigned char storage_[112];
};
