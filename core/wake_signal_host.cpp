#include <condition_variable>
#include <mutex>
#include <new>

#include "wake_signal.h"

namespace {

struct HostSignal {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};

HostSignal& SignalIn(unsigned char* storage) {
  return *std::launder(reinterpret_cast<HostSignal*>(storage));
}

}  // namespace

WakeSignal::WakeSignal() {
  static_assert(sizeof(HostSignal) <= sizeof storage_ && alignof(HostSignal) <= 8);
  new (storage_) HostSignal;
}

WakeSignal::~WakeSignal() { SignalIn(storage_).~HostSignal(); }

void WakeSignal::Set() {
  HostSignal& signal = SignalIn(storage_);
  {
    std::lock_guard<std::mutex> hold(signal.mutex);
    signal.set = true;
  }
  signal.changed.notify_one();
}

void WakeSignal::Wait() {
  HostSignal& signal = SignalIn(storage_);
  std::unique_lock<std::mutex> hold(signal.mutex);
  signal.changed.wait(hold, [&] { return signal.set; });
  signal.set = false;
}
