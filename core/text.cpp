#include "text.h"

#include <algorithm>
#include <cstring>

namespace {

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// Whether offset is a character boundary, given that `known` (<= offset) is one. Every offset right
// after a byte below 0x80 is a boundary, and the lead bytes after such a point pair up, so only the
// run of high bytes just before `offset`, and no further back than `known`, decides it.
bool IsBoundaryAfter(const unsigned char* bytes, size_t known, size_t offset) {
  size_t i = offset;
  while (i > known && IsLeadByte(bytes[i - 1])) --i;
  return (offset - i) % 2 == 0;
}

// One of 256 slots for the two bytes at `at`.
size_t PairSlot(const unsigned char* at) { return (at[0] * 33u + at[1]) & 0xFFu; }

}  // namespace

TextList SplitOnSeparator(std::string_view text, std::string_view separator) {
  TextList items;
  if (text.empty()) return items;
  if (separator.empty()) {
    items.emplace_back(text);
    return items;
  }
  // memchr finds the separator's first byte far faster than a byte-by-byte walk; each hit is then
  // placed on or off a boundary. The walk starts afresh after every cut, so `known`, a boundary
  // of the current walk, only moves forward and the parity scans add up to one pass at most.
  const unsigned char* bytes = Bytes(text);
  const size_t length = text.size();
  const size_t sepLength = separator.size();
  size_t pieceStart = 0;
  size_t known = 0;
  size_t pos = 0;  // where the search for the next first byte resumes
  while (length - pos >= sepLength) {
    const void* hit = std::memchr(bytes + pos, separator[0], length - sepLength - pos + 1);
    if (hit == nullptr) break;
    const size_t candidate = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes);
    if (!IsBoundaryAfter(bytes, known, candidate)) {
      known = pos = candidate + 1;  // a trail byte: the next character begins right after it
    } else if (std::memcmp(bytes + candidate + 1, separator.data() + 1, sepLength - 1) == 0) {
      items.emplace_back(text.substr(pieceStart, candidate - pieceStart));
      known = pos = pieceStart = candidate + sepLength;
    } else {
      known = candidate;
      pos = candidate + 1;
    }
  }
  if (pieceStart < length) items.emplace_back(text.substr(pieceStart));
  return items;
}

bool ContainsPattern(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return !text.empty();
  if (text.size() < pattern.size()) return false;
  const unsigned char* bytes = Bytes(text);
  const unsigned char* patternBytes = Bytes(pattern);
  const size_t length = pattern.size();
  const size_t end = text.size() - length;  // the last offset where the pattern fits
  size_t known = 0;  // a boundary at or before every later candidate; it only moves forward

  if (length == 1) {
    // No pair to skip by: memchr finds each occurrence, which is then placed on or off a boundary.
    for (size_t pos = 0; pos <= end;) {
      const void* hit = std::memchr(bytes + pos, patternBytes[0], end - pos + 1);
      if (hit == nullptr) return false;
      const size_t candidate = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes);
      if (IsBoundaryAfter(bytes, known, candidate)) return true;
      known = pos = candidate + 1;  // a trail byte: the next character begins right after it
    }
    return false;
  }

  // Horspool's search on the pair of bytes that ends the window, hashed into 256 slots: a slot
  // says how far the window may slide, and a pair found nowhere in the pattern lets it slide by
  // length - 1. Most pairs of ordinary text are such pairs, and sliding by that constant keeps
  // the table loads off the loop's critical path, so most bytes are never read.
  const size_t far = std::min<size_t>(length - 1, 255);
  unsigned char slide[256];
  std::memset(slide, static_cast<int>(far), sizeof slide);
  // Later pairs need shorter slides; writing them last keeps the shortest where slots collide.
  for (size_t i = 0; i + 2 < length; ++i) {
    slide[PairSlot(patternBytes + i)] = static_cast<unsigned char>(std::min(length - 2 - i, far));
  }
  const size_t lastSlot = PairSlot(patternBytes + length - 2);
  const size_t afterCheck = slide[lastSlot];  // a safe slide once a window ending there is checked
  slide[lastSlot] = 0;

  size_t pos = 0;
  while (pos <= end) {
    const size_t step = slide[PairSlot(bytes + pos + length - 2)];
    if (step == far) {
      pos += far;
    } else if (step != 0) {
      pos += step;
    } else {
      if (std::memcmp(bytes + pos, patternBytes, length) == 0) {
        if (IsBoundaryAfter(bytes, known, pos)) return true;
        known = pos + 1;  // pos is a trail byte, so a character begins right after it
      }
      pos += afterCheck;
    }
  }
  return false;
}
