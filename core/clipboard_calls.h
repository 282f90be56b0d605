// The Win32 clipboard and global-memory calls that the clipboard operations are made of, one
// function each, so that the operations themselves build and run without Windows. On Windows they
// are the real calls; the host tests link a fake that can fail each of them.
#pragma once

#include <cstddef>
#include <cstdint>

using MemoryBlock = void*;  // an HGLOBAL

void SetClipboardWindow(void* window);      // the window every later ClipOpen passes (an HWND)
bool ClipOpen();                            // OpenClipboard(that window, or NULL) != 0,
                                            // tried a few times over some milliseconds
void ClipClose();                           // CloseClipboard()
void ClipEmpty();                           // EmptyClipboard()
MemoryBlock ClipGetText();                  // GetClipboardData(CF_TEXT)
bool ClipSetText(MemoryBlock block);        // SetClipboardData(CF_TEXT, block) != NULL
uint32_t ClipSequenceNumber();              // GetClipboardSequenceNumber()
MemoryBlock BlockAlloc(size_t bytes);       // GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)
void* BlockLock(MemoryBlock block);         // GlobalLock(block)
void BlockUnlock(MemoryBlock block);        // GlobalUnlock(block)
void BlockFree(MemoryBlock block);          // GlobalFree(block)
size_t BlockSize(MemoryBlock block);        // GlobalSize(block); 0 when unknown
