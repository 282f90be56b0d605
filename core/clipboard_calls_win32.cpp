#include "clipboard_calls.h"

#include <windows.h>

namespace {

// The check thread's own window, once it has one. Opening with a window makes the opens of other
// threads fail while it is open, and lets the window answer the messages an owner gets.
HWND clipboardWindow = nullptr;

}  // namespace

void SetClipboardWindow(void* window) { clipboardWindow = static_cast<HWND>(window); }
bool ClipOpen() { return OpenClipboard(clipboardWindow) != 0; }
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
