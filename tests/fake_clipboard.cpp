#include "fake_clipboard.h"

#include <cstring>
#include <mutex>

#include "clipboard_calls.h"
#include "tick_count.h"

FakeClipboard fakeClipboard;
uint32_t fakeTickCount = 0;

namespace {

// A test's own thread and the check thread may both be inside a check.
std::mutex fakeLock;

FakeBlock* AsBlock(MemoryBlock block) { return static_cast<FakeBlock*>(block); }

void Misuse(const char* what) { fakeClipboard.misuse.emplace_back(what); }

void RequireOpen(const char* call) {
  if (!fakeClipboard.isOpen) Misuse(call);
}

}  // namespace

uint32_t TickCount() { return fakeTickCount; }

void ResetFakeClipboard() {
  std::lock_guard<std::mutex> hold(fakeLock);
  fakeClipboard = FakeClipboard{};
}

bool PutFakeClipboardBytes(const std::string& bytes, bool withOtherFormats) {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (fakeClipboard.isOpen) return false;
  FakeBlock& block = fakeClipboard.blocks.emplace_back();
  block.bytes = bytes + '\0';
  block.ownedBySystem = true;
  if (fakeClipboard.textBlock) fakeClipboard.textBlock->freed = true;
  fakeClipboard.textBlock = &block;
  fakeClipboard.otherFormats = withOtherFormats;
  fakeClipboard.sequence += 2;  // as EmptyClipboard then SetClipboardData would
  return true;
}

std::optional<std::string> FakeClipboardBlock() {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (!fakeClipboard.textBlock) return std::nullopt;
  return fakeClipboard.textBlock->bytes;
}

std::optional<std::string> FakeClipboardText() {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (!fakeClipboard.textBlock) return std::nullopt;
  return std::string(fakeClipboard.textBlock->bytes.c_str());
}

int LeakedFakeBlocks() {
  std::lock_guard<std::mutex> hold(fakeLock);
  int leaked = 0;
  for (const FakeBlock& block : fakeClipboard.blocks) {
    if (!block.freed && !block.ownedBySystem) ++leaked;
  }
  return leaked;
}

void SetClipboardWindow(void*) {}

bool ClipOpen() {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (fakeClipboard.openFails || fakeClipboard.isOpen) return false;
  fakeClipboard.isOpen = true;
  ++fakeClipboard.opens;
  return true;
}

void ClipClose() {
  std::lock_guard<std::mutex> hold(fakeLock);
  RequireOpen("CloseClipboard while closed");
  fakeClipboard.isOpen = false;
}

void ClipEmpty() {
  std::lock_guard<std::mutex> hold(fakeLock);
  RequireOpen("EmptyClipboard while closed");
  if (fakeClipboard.textBlock) fakeClipboard.textBlock->freed = true;
  fakeClipboard.textBlock = nullptr;
  fakeClipboard.otherFormats = false;
  ++fakeClipboard.sequence;
}

MemoryBlock ClipGetText() {
  if (fakeClipboard.whileGettingText) fakeClipboard.whileGettingText();
  std::lock_guard<std::mutex> hold(fakeLock);
  RequireOpen("GetClipboardData while closed");
  return fakeClipboard.textBlock;
}

bool ClipSetText(MemoryBlock handle) {
  std::lock_guard<std::mutex> hold(fakeLock);
  RequireOpen("SetClipboardData while closed");
  FakeBlock* block = AsBlock(handle);
  if (block->locks != 0) Misuse("SetClipboardData with a locked block");
  if (fakeClipboard.setFails) return false;
  if (fakeClipboard.textBlock) fakeClipboard.textBlock->freed = true;
  block->ownedBySystem = true;
  fakeClipboard.textBlock = block;
  ++fakeClipboard.sequence;
  return true;
}

uint32_t ClipSequenceNumber() {
  std::lock_guard<std::mutex> hold(fakeLock);
  return fakeClipboard.sequence;
}

MemoryBlock BlockAlloc(size_t bytes) {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (fakeClipboard.allocFails) return nullptr;
  FakeBlock& block = fakeClipboard.blocks.emplace_back();
  block.bytes.assign(bytes, '\0');
  return &block;
}

void* BlockLock(MemoryBlock handle) {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (fakeClipboard.lockFails) return nullptr;
  FakeBlock* block = AsBlock(handle);
  if (block->freed) Misuse("GlobalLock on a freed block");
  ++block->locks;
  return block->bytes.data();
}

void BlockUnlock(MemoryBlock handle) {
  std::lock_guard<std::mutex> hold(fakeLock);
  FakeBlock* block = AsBlock(handle);
  if (block->locks == 0) Misuse("GlobalUnlock on an unlocked block");
  else --block->locks;
}

void BlockFree(MemoryBlock handle) {
  std::lock_guard<std::mutex> hold(fakeLock);
  FakeBlock* block = AsBlock(handle);
  if (block->freed || block->ownedBySystem) Misuse("GlobalFree on a block not ours");
  block->freed = true;
}

size_t BlockSize(MemoryBlock handle) {
  std::lock_guard<std::mutex> hold(fakeLock);
  if (fakeClipboard.sizeUnknown) return 0;
  return fakeClipboard.reportedSize ? fakeClipboard.reportedSize : AsBlock(handle)->bytes.size();
}
