#include "clipboard_check.h"

#include <atomic>
#include <cstdint>

#include "check_thread.h"
#include "clipboard.h"
#include "clipboard_calls.h"
#include "reply_list.h"
#include "text.h"

namespace {

// The clipboard's sequence number when a check last read its text and found no marker. While the
// number stays the same the text is the same, so later checks need not read it again. Shared by
// every check; a stale store only costs one more read.
std::atomic<uint32_t> unmarkedSequence{0};

void Check(CheckThread* thread, uint32_t watch) {
  // Taken before the read: a change that lands after it moves the number past what is stored.
  const uint32_t sequence = ClipSequenceNumber();
  if (sequence != 0 && sequence == unmarkedSequence.load(std::memory_order_relaxed)) return;

  Text text;
  if (!ReadClipboardText(text)) return;
  if (!ContainsPattern(text, AutoSendMarker)) {
    unmarkedSequence.store(sequence, std::memory_order_relaxed);
    return;
  }
  // With no reply to give, the marked text stays; the next check finds it again.
  const std::optional<Text> reply = PickReply();
  if (!reply) return;
  if (thread && !MayWriteClipboard(*thread, watch)) return;
  ReplaceClipboardText(*reply);
}

}  // namespace

void ClipboardCheck() { Check(nullptr, 0); }

void ClipboardCheck(CheckThread& thread, uint32_t watch) { Check(&thread, watch); }

void ForgetClipboardSequenceForTest() { unmarkedSequence.store(0); }
