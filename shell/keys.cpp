#include "keys.h"

#include "main_window.h"

namespace {

enum Modifiers : unsigned { kNoModifier = 0, kShift = 1, kCtrl = 2, kAlt = 4 };

void FocusNext() { SetFocus(NextFocus(GetFocus(), false)); }
void FocusPrevious() { SetFocus(NextFocus(GetFocus(), true)); }
void CloseMainWindow() { SendMessageA(MainWindow, WM_CLOSE, 0, 0); }

struct KeyBinding {
  WPARAM key;
  unsigned modifiers;
  void (*action)();
};

// Every other key, Enter included, is left to the focused control and to Windows: ReplyEdit wants
// Enter, StartCheck ignores it, and Alt+F4 and Alt+Space keep their Windows meanings.
const KeyBinding kKeyBindings[] = {
    {VK_TAB, kNoModifier, FocusNext},
    {VK_TAB, kShift, FocusPrevious},
    {VK_ESCAPE, kNoModifier, CloseMainWindow},
};

unsigned CurrentModifiers() {
  unsigned modifiers = kNoModifier;
  if (GetKeyState(VK_SHIFT) < 0) modifiers |= kShift;
  if (GetKeyState(VK_CONTROL) < 0) modifiers |= kCtrl;
  if (GetKeyState(VK_MENU) < 0) modifiers |= kAlt;
  return modifiers;
}

// The keypad's digits count as the digit keys.
WPARAM NormalisedKey(WPARAM key) {
  return key >= VK_NUMPAD0 && key <= VK_NUMPAD9 ? '0' + (key - VK_NUMPAD0) : key;
}

}  // namespace

bool TakeMainWindowKey(const MSG& message) {
  if (message.message != WM_KEYDOWN && message.message != WM_SYSKEYDOWN) return false;
  if (!MainWindow || (message.hwnd != MainWindow && !IsChild(MainWindow, message.hwnd))) {
    return false;
  }
  const WPARAM key = NormalisedKey(message.wParam);
  const unsigned modifiers = CurrentModifiers();
  for (const KeyBinding& binding : kKeyBindings) {
    if (binding.key == key && binding.modifiers == modifiers) {
      binding.action();
      return true;
    }
  }
  return false;
}
