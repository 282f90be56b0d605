// Holds SplitOnSeparator and ContainsPattern to a plain character walk that lists the character
// boundaries, on texts and patterns drawn from the fuzzer's input.
//
// Input: byte 0 picks the pattern (also used as the separator), byte 1 tunes it, the rest is the
// text. A zero byte in the text stands for the whole pattern: Texts hold no zero byte, and this
// puts the pattern right after lead bytes, trail bytes and ASCII far more often than chance would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard_check.h"
#include "text.h"

namespace {

constexpr size_t kNone = std::string_view::npos;
// The reference below is quadratic in the number of cuts; longer texts only slow the search.
constexpr size_t kMaxText = 4096;

// A byte below 0x80 is a character; any other byte takes the next byte with it.
size_t Width(char first) { return static_cast<unsigned char>(first) < 0x80 ? 1u : 2u; }

// Offsets where characters begin. A lead byte that is the last byte stands alone: the step of two
// goes past the end.
std::vector<size_t> Boundaries(std::string_view text) {
  std::vector<size_t> offsets;
  for (size_t i = 0; i < text.size(); i += Width(text[i])) offsets.push_back(i);
  return offsets;
}

// The first boundary where a non-empty pattern occurs whole, or kNone.
size_t FirstMatch(std::string_view text, std::string_view pattern) {
  for (size_t offset : Boundaries(text)) {
    if (text.substr(offset, pattern.size()) == pattern) return offset;
  }
  return kNone;
}

bool ReferenceContains(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return !text.empty();
  return FirstMatch(text, pattern) != kNone;
}

// Cut at the first separator on a boundary, then treat what follows the separator as a new text:
// its walk starts afresh right after the cut.
TextList ReferenceSplit(std::string_view text, std::string_view separator) {
  TextList items;
  if (separator.empty()) {
    if (!text.empty()) items.emplace_back(text);
    return items;
  }
  while (!text.empty()) {
    const size_t cut = FirstMatch(text, separator);
    if (cut == kNone) {
      items.emplace_back(text);
      break;
    }
    items.emplace_back(text.substr(0, cut));
    text.remove_prefix(cut + separator.size());
  }
  return items;
}

// True when the last character is whole, not a lone lead byte at the end.
bool EndsOnWholeCharacter(std::string_view text) {
  if (text.empty()) return true;
  const size_t last = Boundaries(text).back();
  return last + Width(text[last]) == text.size();
}

void PrintBytes(const char* name, std::string_view bytes) {
  std::fprintf(stderr, "%s (%zu bytes):", name, bytes.size());
  for (char c : bytes) {
    std::fprintf(stderr, " %02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
  }
  std::fputc('\n', stderr);
}

void Require(bool holds, const char* what, std::string_view text, std::string_view pattern) {
  if (holds) return;
  std::fprintf(stderr, "text_fuzz: %s\n", what);
  PrintBytes("text", text);
  PrintBytes("pattern", pattern);
  std::abort();
}

std::string Join(const TextList& items, std::string_view separator) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined.append(separator);
    joined.append(items[i]);
  }
  return joined;
}

std::string PickPattern(unsigned char kind, unsigned char tune, std::string_view& rest) {
  switch (kind % 4) {
    case 0:
      return std::string(AutoSendMarker);
    case 1:
      return "\r\n";
    case 2: {  // a non-empty piece of the marker: short patterns made of high bytes only
      const size_t start = tune % AutoSendMarker.size();
      const size_t length = 1 + (tune >> 4u) % (AutoSendMarker.size() - start);
      return std::string(AutoSendMarker.substr(start, length));
    }
    default: {  // bytes of the input itself: up to 7, the empty pattern included, or up to 508
      const size_t wanted = tune < 0x80 ? tune % 8u : (tune - 0x80u) * 4u;
      const size_t length = std::min(wanted, rest.size());
      std::string pattern(rest.substr(0, length));
      rest.remove_prefix(length);
      return pattern;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::string pattern = PickPattern(data[0], data[1], rest);
  std::string text;
  for (char c : rest) {
    if (c == '\0') {
      text += pattern;
    } else {
      text += c;
    }
  }
  if (text.size() > kMaxText) text.resize(kMaxText);

  const bool found = ContainsPattern(text, pattern);
  Require(found == ReferenceContains(text, pattern), "ContainsPattern differs from the walk", text,
          pattern);
  // Bytes added at the end change no boundary before them, so a match never goes away.
  Require(!found || ContainsPattern(text + "\x81", pattern), "a match lost by appending a byte",
          text, pattern);

  const TextList items = SplitOnSeparator(text, pattern);
  Require(items == ReferenceSplit(text, pattern), "SplitOnSeparator differs from the walk", text,
          pattern);
  if (pattern.empty()) return 0;

  // The cuts take out exactly the separators, plus at most one that ended the text.
  const std::string joined = Join(items, pattern);
  Require(joined == text || joined + pattern == text, "the items do not join back into the text",
          text, pattern);
  // A text is cut at all exactly when it contains the separator.
  Require(text.empty() || found == (items != TextList{text}),
          "SplitOnSeparator and ContainsPattern disagree", text, pattern);
  for (size_t i = 0; i < items.size(); ++i) {
    // Each item's own walk is the walk of the text from the item's start: a separator left at one
    // of its boundaries would have been cut.
    Require(FirstMatch(items[i], pattern) == kNone, "an item holds the separator on a boundary",
            text, pattern);
    // A cut falls where a character begins, so an item followed by a separator ends whole.
    Require(i + 1 == items.size() || EndsOnWholeCharacter(items[i]),
            "an item before a cut ends in a lone lead byte", text, pattern);
  }
  return 0;
}
