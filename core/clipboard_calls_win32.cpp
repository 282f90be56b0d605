#include "clipboard_calls.h"

#include <windows.h>

bool ClipOpen() { return OpenClipboard(nullptr) != 0; }
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
