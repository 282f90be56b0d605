// One look at the clipboard: a text holding the marker phrase is replaced, whole, by one reply
// picked at random. Runs on the check thread, once for every merged wake while watching.
#pragma once

#include <cstdint>
#include <string_view>

struct CheckThread;

// "使用软件自动发送" as its 16 bytes in code page 936, compared byte for byte whatever the code page.
inline constexpr std::string_view AutoSendMarker =
    "\xCA\xB9\xD3\xC3\xC8\xED\xBC\xFE\xD7\xD4\xB6\xAF\xB7\xA2\xCB\xCD";

// A check whose clipboard has not changed since a check found no marker in it ends at once,
// without opening the clipboard.
void ClipboardCheck();
// The same check for the check thread: right before it writes it asks whether `watch` still goes
// on, so a check that was inside a clipboard call when watching stopped writes nothing.
void ClipboardCheck(CheckThread& thread, uint32_t watch);

// Forgets the sequence number remembered by the last unmarked check.
void ForgetClipboardSequenceForTest();
