#include "clipboard.h"

#include <cstring>

#include "clipboard_calls.h"

namespace {

// Another program's block may lack its terminating zero: never read past a block of known size.
size_t TextLength(const char* bytes, size_t blockSize) {
  if (blockSize == 0) return std::strlen(bytes);
  const void* zero = std::memchr(bytes, '\0', blockSize);
  return zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : blockSize;
}

}  // namespace

bool ReadClipboardText(Text& text) {
  text.clear();
  if (!ClipOpen()) return false;
  bool reached = true;
  if (const MemoryBlock block = ClipGetText()) {
    if (const auto* bytes = static_cast<const char*>(BlockLock(block))) {
      text.assign(bytes, TextLength(bytes, BlockSize(block)));
      BlockUnlock(block);
    } else {
      reached = false;
    }
  }
  ClipClose();
  return reached;
}

bool ReplaceClipboardText(std::string_view text) {
  const MemoryBlock block = BlockAlloc(text.size() + 1);
  if (block == nullptr) return false;
  auto* bytes = static_cast<char*>(BlockLock(block));
  if (bytes == nullptr) {
    BlockFree(block);
    return false;
  }
  std::memcpy(bytes, text.data(), text.size());
  bytes[text.size()] = '\0';
  BlockUnlock(block);

  if (!ClipOpen()) {
    BlockFree(block);
    return false;
  }
  ClipEmpty();
  const bool placed = ClipSetText(block);
  if (!placed) BlockFree(block);  // the system takes the block only when it accepts it
  ClipClose();
  return placed;
}
