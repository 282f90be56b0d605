// The clipboard's CF_TEXT content, read and replaced. The clipboard is opened and closed around
// each access, so a holder on another thread or in another program makes the access fail alone.
#pragma once

#include <string_view>

#include "text.h"

// Copies the text up to its first zero byte into `text`. Returns false when the clipboard can't be
// opened or its text can't be reached (text then empty); a clipboard without text reads as empty.
bool ReadClipboardText(Text& text);

// Makes `text` the clipboard's only content. The block is filled before the clipboard is emptied,
// so a failed allocation leaves the old content in place. Returns whether the text was placed.
bool ReplaceClipboardText(std::string_view text);
