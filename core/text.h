// Byte operations on ANSI texts, walked one character at a time under a fixed double-byte rule:
// a byte below 0x80 is a character; a byte of 0x80 or above is a lead byte that pairs with the
// byte after it, unless it is the text's last byte. No code page is consulted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// A Text is a run of bytes with no zero byte inside; empty and absent are the same.
using Text = std::string;
// An ordered list of Texts, numbered from 1 by its users; it owns its items.
using TextList = std::vector<Text>;

inline bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

// Cuts text at every separator that begins on a character boundary. A separator at the very end
// adds no empty item after it; an empty separator gives the whole text as one item.
TextList SplitOnSeparator(std::string_view text, std::string_view separator);

// True when pattern occurs in text starting on a character boundary. An empty pattern is found in
// every non-empty text.
bool ContainsPattern(std::string_view text, std::string_view pattern);
