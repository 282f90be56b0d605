#include "clipboard_calls.h"

#include <windows.h>

namespace {

// The check thread's own window, once it has one. Opening with a window makes the opens of other
// threads fail while it is open, and lets the window answer the messages an owner gets.
HWND clipboardWindow = nullptr;

// A change is announced to every listener at once, and the writer or a clipboard manager often
// reads it back at that very moment: a few quick tries keep such a short hold from costing a whole
// tick. A longer hold still fails the check, and the next tick tries again.
const int kOpenTries = 8;

// About a millisecond, answering meanwhile what is sent to the thread's window (an owner is sent
// WM_DESTROYCLIPBOARD when another program empties the clipboard, and waits for the answer).
void PauseBeforeTryingAgain() {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_SENDMESSAGE);
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

void SetClipboardWindow(void* window) { clipboardWindow = static_cast<HWND>(window); }

bool ClipOpen() {
  for (int tried = 1;; ++tried) {
    if (OpenClipboard(clipboardWindow)) return true;
    if (tried == kOpenTries) return false;
    PauseBeforeTryingAgain();
  }
}

void ClipClose() { CloseClipboard(); }
void ClipEmpty() { EmptyClipboard(); }
MemoryBlock ClipGetText() { return GetClipboardData(CF_TEXT); }
bool ClipSetText(MemoryBlock block) { return SetClipboardData(CF_TEXT, block) != nullptr; }
uint32_t ClipSequenceNumber() { return GetClipboardSequenceNumber(); }
MemoryBlock BlockAlloc(size_t bytes) { return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes); }
void* BlockLock(MemoryBlock block) { return GlobalLock(block); }
void BlockUnlock(MemoryBlock block) { GlobalUnlock(block); }
void BlockFree(MemoryBlock block) { GlobalFree(block); }
size_t BlockSize(MemoryBlock block) { return GlobalSize(block); }
