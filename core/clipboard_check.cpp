#include "clipboard_check.h"

#include "clipboard.h"
#include "reply_list.h"
#include "text.h"

void ClipboardCheck() {
  Text text;
  ReadClipboardText(text);
  if (!ContainsPattern(text, AutoSendMarker)) return;
  // With no reply to give, the marked text stays; the next check finds it again.
  const std::optional<Text> reply = PickReply();
  if (!reply) return;
  ReplaceClipboardText(*reply);
}
