#include "text.h"

#include <cstring>

TextList SplitOnSeparator(std::string_view text, std::string_view separator) {
  TextList items;
  if (text.empty()) return items;
  if (separator.empty()) {
    items.emplace_back(text);
    return items;
  }
  const size_t length = text.size();
  const size_t sepLength = separator.size();
  size_t pieceStart = 0;
  size_t pos = 0;
  while (length - pos >= sepLength) {
    if (std::memcmp(text.data() + pos, separator.data(), sepLength) == 0) {
      items.emplace_back(text.substr(pieceStart, pos - pieceStart));
      pos += sepLength;
      pieceStart = pos;
    } else if (IsLeadByte(static_cast<unsigned char>(text[pos]))) {
      if (pos + 1 == length) break;
      pos += 2;
    } else {
      pos += 1;
    }
  }
  if (pieceStart < length) items.emplace_back(text.substr(pieceStart));
  return items;
}

namespace {

// Whether offset is a character boundary, given that `known` (<= offset) is one. Every offset right
// after a byte below 0x80 is a boundary, and the lead bytes after such a point pair up, so only the
// run of high bytes just before `offset`, and no further back than `known`, decides it.
bool IsBoundaryAfter(const unsigned char* bytes, size_t known, size_t offset) {
  size_t i = offset;
  while (i > known && IsLeadByte(bytes[i - 1])) --i;
  return (offset - i) % 2 == 0;
}

}  // namespace

bool ContainsPattern(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return !text.empty();
  if (text.size() < pattern.size()) return false;

  // Find candidates with memchr/memcmp, then decide whether each begins on a boundary. `known`
  // only moves forward, so the boundary scans add up to one pass over the text at most.
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const auto* patternBytes = reinterpret_cast<const unsigned char*>(pattern.data());
  const size_t last = text.size() - pattern.size();  // the last offset where the pattern fits
  size_t known = 0;
  size_t pos = 0;
  while (pos <= last) {
    const void* hit = std::memchr(bytes + pos, patternBytes[0], last - pos + 1);
    if (hit == nullptr) return false;
    const size_t candidate = static_cast<size_t>(static_cast<const unsigned char*>(hit) - bytes);
    const bool boundary = IsBoundaryAfter(bytes, known, candidate);
    if (boundary && std::memcmp(bytes + candidate + 1, patternBytes + 1, pattern.size() - 1) == 0) {
      return true;
    }
    // A boundary is known either at the candidate or, when it is a trail byte, right after it.
    known = boundary ? candidate : candidate + 1;
    pos = candidate + 1;
  }
  return false;
}
