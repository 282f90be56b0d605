// A clipboard that lives in memory and obeys the rules the Win32 one enforces: one opener at a
// time, data calls only while open, blocks that belong to the system once accepted. Each call can
// be made to fail, and misuse is recorded so that a test can assert there was none.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

struct FakeBlock {
  std::string bytes;  // the block's whole content, terminator included
  int locks = 0;
  bool freed = false;
  bool ownedBySystem = false;
};

struct FakeClipboard {
  // Faults to inject.
  bool openFails = false;
  bool lockFails = false;
  bool allocFails = false;
  bool setFails = false;
  bool sizeUnknown = false;  // GlobalSize answers 0
  size_t reportedSize = 0;   // when not 0, GlobalSize answers this
  // Runs inside GetClipboardData, before it answers: an owner that takes its time to render.
  std::function<void()> whileGettingText;

  // What the clipboard holds. `textBlock` is null when it holds no text.
  FakeBlock* textBlock = nullptr;
  bool otherFormats = false;  // formatted text, a picture, ... beside or instead of the text
  bool isOpen = false;
  uint32_t sequence = 1;

  int opens = 0;
  std::list<FakeBlock> blocks;
  std::vector<std::string> misuse;
};

extern FakeClipboard fakeClipboard;
extern uint32_t fakeTickCount;

// Back to an empty, working clipboard.
void ResetFakeClipboard();
// Puts raw bytes (a terminator is added) as the clipboard's text, as another program would; like
// that program it fails while someone has the clipboard open.
bool PutFakeClipboardBytes(const std::string& bytes, bool withOtherFormats = false);
// The clipboard's text up to its first zero byte, or nothing when it holds no text.
std::optional<std::string> FakeClipboardText();
// The clipboard's text block, every byte of it, or nothing when it holds no text.
std::optional<std::string> FakeClipboardBlock();
// Blocks that were allocated and are neither freed nor owned by the clipboard.
int LeakedFakeBlocks();
