// One look at the clipboard: a text holding the marker phrase is replaced, whole, by one reply
// picked at random. Runs on every tick while watching, and once on the watch worker.
#pragma once

#include <string_view>

// "使用软件自动发送" as its 16 bytes in code page 936, compared byte for byte whatever the code page.
inline constexpr std::string_view AutoSendMarker =
    "\xCA\xB9\xD3\xC3\xC8\xED\xBC\xFE\xD7\xD4\xB6\xAF\xB7\xA2\xCB\xCD";

// A check whose clipboard has not changed since a check found no marker in it ends at once,
// without opening the clipboard.
void ClipboardCheck();

// Forgets the sequence number remembered by the last unmarked check.
void ForgetClipboardSequenceForTest();
