// Works the tool from outside, as a user and as another program would: real keyboard and mouse
// input through SendInput, the tool's windows read back with Win32 queries. Run it inside a Wine
// virtual desktop:
//
//   explorer /desktop=e2e,800x600 e2e_driver.exe ui orvane.exe orvane_fault.exe
//   explorer /desktop=narrow,400x600 e2e_driver.exe narrow orvane.exe
//   explorer /desktop=e2e,800x600 e2e_driver.exe watch orvane.exe orvane_fault.exe
//   explorer /desktop=e2e,800x600 e2e_driver.exe prompt orvane.exe orvane_fault.exe
//   explorer /desktop=e2e,800x600 e2e_driver.exe stall orvane.exe orvane_fault.exe
//   explorer /desktop=e2e,800x600 e2e_driver.exe show orvane.exe
//
// Prints one line per check and "N passed, M failed" at the end.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "watch_checks.h"

namespace {

constexpr int kWidth = 493;
constexpr int kHeight = 246;

// ---- Small helpers ------------------------------------------------------------------------------

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Every input before it has been handled once a Tab has moved the focus: the tool's thread takes
// its input in order. Used where a check expects that nothing happened.
bool InputBarrier(const Tool& tool) {
  const HWND before = FocusOf(tool);
  const HWND other = before == tool.edit ? tool.check : tool.edit;
  return BringToFront(tool.main) && PressKey(VK_TAB) && WaitForFocus(tool, other);
}

// The caption row's middle, in screen coordinates.
int CaptionY(const RECT& outer) {
  return outer.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
}

LRESULT HitTest(HWND window, int x, int y) {
  return Ask(window, WM_NCHITTEST, 0, MAKELPARAM(x, y));
}

// The middle of a caption button (HTCLOSE, HTREDUCE), found by asking the window itself what
// lies under each point of the caption row.
bool FindCaptionButton(HWND window, LRESULT part, POINT& at) {
  const RECT r = OuterRect(window);
  const int y = CaptionY(r);
  int first = -1, last = -1;
  for (int x = r.right - 1; x > r.right - 120; --x) {
    if (HitTest(window, x, y) == part) {
      if (last < 0) last = x;
      first = x;
    } else if (last >= 0) {
      break;
    }
  }
  if (last < 0) return false;
  at = POINT{(first + last) / 2, y};
  return true;
}

// The text pasted in the fatal-error case: GBK characters, ASCII and line breaks, `bytes` long.
std::string PasteText(size_t bytes) {
  const std::string unit = "\xC4\xE3\xBA\xC3" "abc\r\n";  // 你好abc
  std::string text;
  while (text.size() + unit.size() <= bytes) text += unit;
  text.append(bytes - text.size(), 'x');
  return text;
}

// A top-level window of the driver's own, to take the activation away from the tool.
HWND OtherProgramWindow() {
  static HWND window = nullptr;
  if (!window) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "OrvaneE2EOtherProgram";
    RegisterClassA(&wc);
    window = CreateWindowExA(0, wc.lpszClassName, "other program", WS_OVERLAPPEDWINDOW, 10, 10,
                             200, 120, nullptr, nullptr, wc.hInstance, nullptr);
  }
  return window;
}

// ---- The window and its controls ----------------------------------------------------------------

void CheckLayout(const Tool& tool, int expectedLeft, int expectedTop) {
  const RECT r = OuterRect(tool.main);
  const std::string got = Format("got %s on a %dx%d screen", RectText(r).c_str(),
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  Check(r.left == expectedLeft && r.top == expectedTop,
        Format("outer rectangle's top-left corner at %d,%d", expectedLeft, expectedTop), got);
  Check(r.right - r.left == kWidth && r.bottom - r.top == kHeight,
        Format("outer rectangle %dx%d", kWidth, kHeight), got);
}

// Wine passes no WM_GETFONT or WM_GETICON to another process's window (both come back 0), so
// the font and the icons are left to the screenshot.
void CheckWindowSettings(const Tool& tool) {
  Check(ClassOf(tool.main) == "OrvaneMainWindow", "main window class",
        Escaped(ClassOf(tool.main)));
  const LONG_PTR style = StyleOf(tool.main);
  // Windows adds WS_CLIPSIBLINGS to every top-level window by itself.
  const LONG_PTR wanted = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN | WS_VISIBLE;
  const LONG_PTR seen = style & static_cast<LONG_PTR>(0xFFFF0000) & ~static_cast<LONG_PTR>(WS_CLIPSIBLINGS);
  Check(seen == wanted,
        "main window styles: caption, system menu, minimise box, clip children; no thick frame, "
        "no maximise box",
        Format("style 0x%08lX, expected 0x%08lX (WS_THICKFRAME %s, WS_MAXIMIZEBOX %s)",
               static_cast<unsigned long>(style), static_cast<unsigned long>(wanted),
               (style & WS_THICKFRAME) ? "set" : "clear", (style & WS_MAXIMIZEBOX) ? "set" : "clear"));
  const LONG_PTR ex = ExStyleOf(tool.main);
  Check(!(ex & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW)) && !GetWindow(tool.main, GW_OWNER) &&
            GetAncestor(tool.main, GA_PARENT) == GetDesktopWindow(),
        "main window is an ordinary top-level window: no owner, not topmost, not a tool window",
        Format("exstyle 0x%08lX owner %p", static_cast<unsigned long>(ex),
               static_cast<void*>(GetWindow(tool.main, GW_OWNER))));
  Check(GetMenu(tool.main) == nullptr, "main window has no menu");
}

struct ControlCase {
  const char* name;
  HWND Tool::*control;
  const char* className;
  RECT place;  // in the main window's client area
  LONG_PTR style;
  LONG_PTR exStyleSet;
  LONG_PTR exStyleClear;
  const char* text;
};

void CheckControls(const Tool& tool) {
  const ControlCase cases[] = {
      {"StartCheck", &Tool::check, "Button", {24, 16, 24 + 56, 16 + 24},
       BS_AUTOCHECKBOX | BS_LEFT | BS_VCENTER | BS_MULTILINE | WS_CHILD | WS_VISIBLE |
           WS_CLIPSIBLINGS | WS_TABSTOP,
       0, WS_EX_CLIENTEDGE, kCheckCaption},
      {"ReplyEdit", &Tool::edit, "Edit", {16, 64, 16 + 456, 64 + 136},
       ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_CHILD | WS_VISIBLE |
           WS_CLIPSIBLINGS | WS_TABSTOP,
       WS_EX_CLIENTEDGE, 0, ""},
  };
  for (const ControlCase& c : cases) {
    const HWND control = tool.*c.control;
    if (!Check(control != nullptr, Format("%s exists as a %s child", c.name, c.className),
               "not found among the main window's children"))
      continue;
    const RECT place = RectInClient(control, tool.main);
    Check(SameRect(place, c.place), Format("%s place and size in the client area", c.name),
          Format("got %s, expected %s", RectText(place).c_str(), RectText(c.place).c_str()));
    const LONG_PTR style = StyleOf(control);
    Check(style == c.style, Format("%s styles", c.name),
          Format("style 0x%08lX, expected 0x%08lX", static_cast<unsigned long>(style),
                 static_cast<unsigned long>(c.style)));
    const LONG_PTR ex = ExStyleOf(control);
    Check((ex & c.exStyleSet) == c.exStyleSet && !(ex & c.exStyleClear),
          Format("%s extended styles", c.name),
          Format("exstyle 0x%08lX", static_cast<unsigned long>(ex)));
    Check(TextOf(control) == c.text, Format("%s text at start", c.name), Escaped(TextOf(control)));
  }
  Check(tool.timer != nullptr && !IsWindowVisible(tool.timer) && !(StyleOf(tool.timer) & WS_VISIBLE) &&
            (StyleOf(tool.timer) & WS_CHILD),
        "hidden OrvaneWatchTimer child window",
        tool.timer ? Format("style 0x%08lX", static_cast<unsigned long>(StyleOf(tool.timer)))
                   : std::string("no child of that class"));
  std::string children;
  int direct = 0;
  for (HWND child : ChildWindows(tool.main)) {
    if (GetParent(child) != tool.main) continue;
    ++direct;
    children += " " + ClassOf(child);
  }
  Check(direct == 3, "exactly three child windows: the timer, StartCheck and ReplyEdit",
        "children:" + children);
}

void CheckInitialState(const Tool& tool) {
  Check(WaitForFocus(tool, tool.edit), "focus starts in ReplyEdit",
        "focus on " + FocusName(tool, FocusOf(tool)));
  const auto selection = static_cast<DWORD>(Ask(tool.edit, EM_GETSEL));
  Check(LOWORD(selection) == 0 && HIWORD(selection) == 0, "caret starts at 0 with nothing selected",
        Format("selection %u..%u", LOWORD(selection), HIWORD(selection)));
  Check(TextOf(tool.edit).empty(), "ReplyEdit starts empty", Escaped(TextOf(tool.edit)));
  Check(Ask(tool.check, BM_GETCHECK) == BST_UNCHECKED, "StartCheck starts unchecked",
        Format("BM_GETCHECK %ld", static_cast<long>(Ask(tool.check, BM_GETCHECK))));
}

// ---- Keys ---------------------------------------------------------------------------------------

void CheckKeys(const Tool& tool) {
  if (!Check(BringToFront(tool.main), "the tool becomes the foreground window",
             Format("foreground is %p", static_cast<void*>(GetForegroundWindow()))))
    return;

  TypeKeys("a\nb");
  const std::string typed = "a\r\nb";
  Check(WaitFor([&] { return TextOf(tool.edit) == typed; }), "typing a, Enter, b gives \"a\\r\\nb\"",
        Escaped(TextOf(tool.edit)));
  const auto selection = static_cast<DWORD>(Ask(tool.edit, EM_GETSEL));
  Check(LOWORD(selection) == 4 && HIWORD(selection) == 4, "caret after the typed text",
        Format("selection %u..%u", LOWORD(selection), HIWORD(selection)));

  struct Move {
    const char* name;
    bool shift;
    HWND Tool::*to;
  };
  const Move moves[] = {
      {"Tab from ReplyEdit focuses StartCheck", false, &Tool::check},
      {"Tab from StartCheck focuses ReplyEdit", false, &Tool::edit},
      {"Shift+Tab from ReplyEdit focuses StartCheck", true, &Tool::check},
      {"Shift+Tab from StartCheck focuses ReplyEdit", true, &Tool::edit},
  };
  for (const Move& m : moves) {
    BringToFront(tool.main);
    if (m.shift) PressChord({VK_SHIFT, VK_TAB});
    else PressKey(VK_TAB);
    const bool moved = WaitForFocus(tool, tool.*m.to);
    Check(moved && TextOf(tool.edit) == typed, m.name,
          Format("focus on %s, text %s", FocusName(tool, FocusOf(tool)).c_str(),
                 Escaped(TextOf(tool.edit)).c_str()));
  }

  // Enter on StartCheck: had it moved the focus or toggled the box, the Tab behind it would show.
  BringToFront(tool.main);
  PressKey(VK_TAB);
  if (Check(WaitForFocus(tool, tool.check), "focus on StartCheck before Enter")) {
    PressKey(VK_RETURN);
    InputBarrier(tool);
    Check(FocusOf(tool) == tool.edit && Ask(tool.check, BM_GETCHECK) == BST_UNCHECKED &&
              TextOf(tool.edit) == typed,
          "Enter on StartCheck does nothing",
          Format("after Enter and Tab: focus on %s, check %ld, text %s",
                 FocusName(tool, FocusOf(tool)).c_str(),
                 static_cast<long>(Ask(tool.check, BM_GETCHECK)), Escaped(TextOf(tool.edit)).c_str()));
  }

  // The space bar toggles the box both ways. The clipboard holds no marker here.
  BringToFront(tool.main);
  PressKey(VK_TAB);
  if (WaitForFocus(tool, tool.check)) {
    PressKey(VK_SPACE);
    Check(WaitFor([&] { return Ask(tool.check, BM_GETCHECK) == BST_CHECKED; }),
          "space on StartCheck ticks it");
    PressKey(VK_SPACE);
    Check(WaitFor([&] { return Ask(tool.check, BM_GETCHECK) == BST_UNCHECKED; }),
          "space on StartCheck again unticks it");
  }

  // Activation taken away and given back: the focus returns to StartCheck, not to the default.
  const HWND other = OtherProgramWindow();
  ShowWindow(other, SW_SHOW);
  const bool away = BringToFront(other);
  const bool back = BringToFront(tool.main);
  Check(away && back && WaitForFocus(tool, tool.check),
        "after switching to another window and back the focus is still on StartCheck",
        Format("away %d back %d focus on %s", away, back, FocusName(tool, FocusOf(tool)).c_str()));
  ShowWindow(other, SW_HIDE);
  BringToFront(tool.main);
  PressKey(VK_TAB);
  WaitForFocus(tool, tool.edit);
}

// ---- Size, maximise, minimise -------------------------------------------------------------------

void CheckSizing(const Tool& tool) {
  BringToFront(tool.main);
  RECT start = OuterRect(tool.main);

  // Moving by the caption works: the same mouse path as the frame drags below, which therefore
  // can't pass merely because the mouse did nothing.
  const POINT grip{start.left + 150, CaptionY(start)};
  Check(HitTest(tool.main, grip.x, grip.y) == HTCAPTION, "the caption is where the drags grip it",
        Format("WM_NCHITTEST %ld", static_cast<long>(HitTest(tool.main, grip.x, grip.y))));
  // A drag that Wine dropped whole (the window didn't move at all) is given again.
  bool moved = false;
  for (int attempt = 0; attempt < 3 && !moved; ++attempt) {
    Drag(grip, POINT{grip.x + 40, grip.y + 30});
    moved = WaitFor([&] {
      const RECT r = OuterRect(tool.main);
      return r.left == start.left + 40 && r.top == start.top + 30;
    }, 2500);
    if (!moved && SameRect(OuterRect(tool.main), start)) {
      std::printf("# the caption drag had no effect, dragging again\n");
    } else {
      break;
    }
  }
  RECT r = OuterRect(tool.main);
  Check(moved && r.right - r.left == kWidth && r.bottom - r.top == kHeight,
        "dragging the caption moves the window and keeps its size",
        Format("from %s to %s", RectText(start).c_str(), RectText(r).c_str()));
  start = r;

  struct Edge {
    const char* name;
    POINT at;
    POINT by;
  };
  const Edge edges[] = {
      {"right edge", {start.right - 1, (start.top + start.bottom) / 2}, {60, 0}},
      {"bottom edge", {(start.left + start.right) / 2, start.bottom - 1}, {0, 50}},
      {"bottom-right corner", {start.right - 1, start.bottom - 1}, {60, 50}},
      {"left edge", {start.left, (start.top + start.bottom) / 2}, {-60, 0}},
  };
  for (const Edge& e : edges) {
    const LRESULT hit = HitTest(tool.main, e.at.x, e.at.y);
    const bool sizingHit = hit >= HTLEFT && hit <= HTBOTTOMRIGHT;
    Drag(e.at, POINT{e.at.x + e.by.x, e.at.y + e.by.y});
    const bool settled = InputBarrier(tool);
    r = OuterRect(tool.main);
    Check(settled && !sizingHit && SameRect(r, start),
          Format("dragging the %s doesn't resize", e.name),
          Format("hit test %ld, rectangle %s, was %s%s", static_cast<long>(hit), RectText(r).c_str(),
                 RectText(start).c_str(), settled ? "" : ", input not handled in time"));
    start = r;
  }

  // Minimised with its own box, restored as the taskbar would: text, caret and box come back.
  const std::string text = TextOf(tool.edit);
  const LRESULT selection = Ask(tool.edit, EM_GETSEL);
  const LRESULT checked = Ask(tool.check, BM_GETCHECK);
  POINT box{};
  BringToFront(tool.main);
  const bool found = FindCaptionButton(tool.main, HTREDUCE, box);
  const bool minimised = found && ClickUntil(tool, box.x, box.y, [&] { return IsIconic(tool.main) != 0; });
  Check(minimised, "the minimise box minimises",
        found ? "not minimised" : "no HTREDUCE point on the caption");
  Ask(tool.main, WM_SYSCOMMAND, SC_RESTORE);
  const bool restored = WaitFor([&] { return !IsIconic(tool.main); });
  r = OuterRect(tool.main);
  Check(restored && SameRect(r, start) && TextOf(tool.edit) == text &&
            Ask(tool.edit, EM_GETSEL) == selection && Ask(tool.check, BM_GETCHECK) == checked,
        "restoring brings back the place, the text, the caret and the box's state",
        Format("rectangle %s, text %s, selection 0x%lX was 0x%lX, check %ld was %ld",
               RectText(r).c_str(), Escaped(TextOf(tool.edit)).c_str(),
               static_cast<unsigned long>(Ask(tool.edit, EM_GETSEL)),
               static_cast<unsigned long>(selection), static_cast<long>(Ask(tool.check, BM_GETCHECK)),
               static_cast<long>(checked)));

  // A double click on the caption maximises only windows with a maximise box. The pointer is
  // brought there first: a press that Wine handles before the move would start a drag instead.
  start = r;
  const POINT caption{start.left + 190, CaptionY(start)};
  MoveMouseTo(caption.x, caption.y);
  InputBarrier(tool);
  ClickAt(caption.x, caption.y, 2);
  InputBarrier(tool);
  r = OuterRect(tool.main);
  Check(!IsZoomed(tool.main) && r.right - r.left == kWidth && r.bottom - r.top == kHeight,
        "double click on the caption doesn't maximise",
        Format("zoomed %d, rectangle %s", IsZoomed(tool.main), RectText(r).c_str()));
  start = r;

  Ask(tool.main, WM_SYSCOMMAND, SC_MAXIMIZE);
  r = OuterRect(tool.main);
  Check(!IsZoomed(tool.main) && SameRect(r, start), "SC_MAXIMIZE leaves the window as it was",
        Format("zoomed %d, rectangle %s", IsZoomed(tool.main), RectText(r).c_str()));
}

// ---- Closing ------------------------------------------------------------------------------------

struct CloseWay {
  const char* name;
  bool (*act)(const Tool& tool);
};

bool EscInReplyEdit(const Tool& tool) {
  return BringToFront(tool.main) && WaitForFocus(tool, tool.edit) && PressKey(VK_ESCAPE);
}

bool EscInStartCheck(const Tool& tool) {
  return BringToFront(tool.main) && PressKey(VK_TAB) && WaitForFocus(tool, tool.check) &&
         PressKey(VK_ESCAPE);
}

bool CloseBox(const Tool& tool) {
  POINT at{};
  return BringToFront(tool.main) && FindCaptionButton(tool.main, HTCLOSE, at) &&
         ClickUntil(tool, at.x, at.y, [&] { return WaitForSingleObject(tool.process.hProcess, 0) == 0; });
}

bool PostClose(const Tool& tool) { return PostMessageA(tool.main, WM_CLOSE, 0, 0) != 0; }

bool AltF4(const Tool& tool) { return BringToFront(tool.main) && PressChord({VK_MENU, VK_F4}); }

void CheckClosing(const std::string& exe) {
  const CloseWay ways[] = {
      {"Esc in ReplyEdit", EscInReplyEdit},
      {"Esc in StartCheck", EscInStartCheck},
      {"a click on the close box", CloseBox},
      {"WM_CLOSE", PostClose},
      {"Alt+F4", AltF4},
  };
  for (const CloseWay& way : ways) {
    Tool tool;
    if (!Launch(exe, tool, way.name)) {
      EndTool(tool);
      continue;
    }
    const bool acted = way.act(tool);
    DWORD code = 0;
    const bool ended = WaitForExit(tool, 10000, code);
    Check(acted && ended && code == 0, Format("%s ends the program with exit code 0", way.name),
          !acted ? std::string("the input could not be given")
                 : ended ? Format("exit code %lu", code) : std::string("still running after 10 s"));
    EndTool(tool);
  }
}

// ---- Two copies ---------------------------------------------------------------------------------

void CheckTwoCopies(const std::string& exe) {
  Tool first, second;
  if (Launch(exe, first, "first copy") && Launch(exe, second, "second copy")) {
    Check(IsRunning(first) && IsRunning(second) && first.main != second.main &&
              IsWindowVisible(first.main) && IsWindowVisible(second.main),
          "two copies run side by side, each with its own window");
    BringToFront(second.main);
    WaitForFocus(second, second.edit);
    TypeKeys("x");
    const bool typed = WaitFor([&] { return TextOf(second.edit) == "x"; });
    Check(typed && TextOf(first.edit).empty(), "typing into the second copy leaves the first alone",
          Format("second %s, first %s", Escaped(TextOf(second.edit)).c_str(),
                 Escaped(TextOf(first.edit)).c_str()));
    PostMessageA(second.main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    const bool secondEnded = WaitForExit(second, 10000, code);
    Check(secondEnded && code == 0 && IsRunning(first) && IsWindowVisible(first.main),
          "closing the second copy leaves the first running",
          Format("second ended %d with %lu", secondEnded, code));
    PostMessageA(first.main, WM_CLOSE, 0, 0);
    Check(WaitForExit(first, 10000, code) && code == 0, "the first copy then closes with exit code 0",
          Format("exit code %lu", code));
  }
  EndTool(first);
  EndTool(second);
}

// ---- The fatal error ----------------------------------------------------------------------------

void CheckFatalError(const std::string& exe, const std::string& faultExe, ClipboardAgent& agent) {
  const size_t length = 5000;
  const std::string pasted = PasteText(length);
  const std::string limit = "ORVANE_FAIL_ALLOC_AT_LEAST=4096";

  // The shipped program takes no environment variable: the same paste simply arrives.
  {
    Tool tool;
    if (Launch(exe, tool, "shipped program with the failure switch set", {limit})) {
      PasteInto(tool, agent, pasted);
      const bool arrived = WaitFor([&] { return TextOf(tool.edit) == pasted; });
      Check(arrived && IsRunning(tool) && !FindMessageBox(tool),
            "the shipped program ignores ORVANE_FAIL_ALLOC_AT_LEAST: a pasted 5000-byte GBK text "
            "arrives whole",
            Format("text of %lu bytes, running %d", static_cast<unsigned long>(TextOf(tool.edit).size()), IsRunning(tool)));
      PostMessageA(tool.main, WM_CLOSE, 0, 0);
      DWORD code = 0;
      WaitForExit(tool, 10000, code);
    }
    EndTool(tool);
  }

  Tool tool;
  if (!Launch(faultExe, tool, "program with failing allocations", {limit})) {
    EndTool(tool);
    return;
  }
  PasteInto(tool, agent, pasted);
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox(tool)) != nullptr; }, 10000);
  if (Check(box != nullptr, "a failed request for memory shows a message box",
            Format("text now %lu bytes, running %d", static_cast<unsigned long>(TextOf(tool.edit).size()), IsRunning(tool)))) {
    const MessageBoxView view = ReadMessageBox(box);
    Check(view.title == kTitle, "the box's title is the window title", Escaped(view.title));
    Check(GetWindow(box, GW_OWNER) == nullptr, "the box has no owner window");
    // GetWindowTextA's buffer: the text's length plus one.
    const std::string expected = OutOfMemoryMessage(length + 1);
    Check(view.message == expected, "the report names the size of the failed request",
          Format("got %s, expected %s", Escaped(view.message).c_str(), Escaped(expected).c_str()));
    Check(view.buttons == 1 && view.okButtons == 1 && view.icons == 1,
          "the box has one OK button and an icon",
          Format("%d buttons (%d OK), %d icons", view.buttons, view.okButtons, view.icons));
    Check(IsRunning(tool) && IsWindow(tool.main), "the main window stays while the report is up");
    CheckOkEndsWithMinusOne(tool, box);
  }
  EndTool(tool);
}

// What the standard library can no longer throw ends in the same report, never in a silent end.
void CheckLibraryErrors(const std::string& faultExe, ClipboardAgent& agent) {
  struct Case {
    const char* kind;
    const char* message;
    const char* name;
  };
  static const Case cases[] = {
      // "内存不足：所需的内存超出上限。"
      {"length",
       "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xBA\xCB\xF9\xD0\xE8\xB5\xC4\xC4\xDA\xB4\xE6\xB3"
       "\xAC\xB3\xF6\xC9\xCF\xCF\xDE\xA1\xA3",
       "a string longer than the library can make is reported as memory running out"},
      // "程序内部错误：basic_string::substr (out_of_range)"
      {"range",
       "\xB3\xCC\xD0\xF2\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3\xA3\xBA"
       "basic_string::substr (out_of_range)",
       "a position past a string's end is reported as an internal error naming the function"},
  };
  const std::string pasted = PasteText(5000);
  for (const Case& c : cases) {
    Tool tool;
    if (!Launch(faultExe, tool, c.name,
                {std::string("ORVANE_LIBRARY_ERROR=") + c.kind,
                 "ORVANE_LIBRARY_ERROR_AT_LEAST=4096"})) {
      EndTool(tool);
      continue;
    }
    PasteInto(tool, agent, pasted);
    HWND box = nullptr;
    WaitFor([&] { return (box = FindMessageBox(tool)) != nullptr; }, 10000);
    if (Check(box != nullptr, std::string(c.name) + ": a message box",
              Format("running %d", IsRunning(tool)))) {
      const MessageBoxView view = ReadMessageBox(box);
      Check(view.title == kTitle && view.message == c.message,
            std::string(c.name) + ": the report's title and words",
            Format("title %s, message %s", Escaped(view.title).c_str(),
                   Escaped(view.message).c_str()));
      CheckOkEndsWithMinusOne(tool, box);
    }
    EndTool(tool);
  }
}

// ---- Modes --------------------------------------------------------------------------------------

int RunUi(const std::string& exe, const std::string& faultExe) {
  ClipboardAgent agent;
  Tool tool;
  if (Launch(exe, tool, "first start")) {
    CheckLayout(tool, 153, 177);
    CheckWindowSettings(tool);
    CheckControls(tool);
    CheckInitialState(tool);
    if (tool.check && tool.edit) {
      CheckKeys(tool);
      CheckSizing(tool);
    }
  }
  EndTool(tool);
  CheckClosing(exe);
  CheckTwoCopies(exe);
  CheckFatalError(exe, faultExe, agent);
  CheckLibraryErrors(faultExe, agent);
  return FinishReport();
}

int RunNarrow(const std::string& exe) {
  Tool tool;
  if (Launch(exe, tool, "start on a 400-pixel-wide screen")) {
    // (400 - 493) / 2 drops the fraction towards zero: -46, not -47.
    CheckLayout(tool, -46, (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2);
    PostMessageA(tool.main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    Check(WaitForExit(tool, 10000, code) && code == 0, "closes with exit code 0",
          Format("exit code %lu", code));
  }
  EndTool(tool);
  return FinishReport();
}

// For the README's screenshot: the tool with three replies pasted in, left on screen. The
// replies are written here in code page 936; Chinese on the command line doesn't survive the way
// through explorer /desktop.
int RunShow(const std::string& exe) {
  const std::string replies =
      "\xC4\xE3\xBA\xC3\xA3\xAC\xC7\xEB\xCE\xCA\xD3\xD0\xCA\xB2\xC3\xB4\xBF\xC9\xD2\xD4"
      "\xB0\xEF\xC4\xFA\xA3\xBF\r\n"                                // 你好，请问有什么可以帮您？
      "\xBA\xC3\xB5\xC4\xA3\xAC\xC2\xED\xC9\xCF\xCE\xAA\xC4\xFA\xB4\xA6\xC0\xED\xA1\xA3\r\n"  // 好的，马上为您处理。
      "\xC9\xD4\xBA\xF3\xC1\xAA\xCF\xB5\xC4\xFA\xA3\xAC\xD0\xBB\xD0\xBB\xA3\xA1";   // 稍后联系您，谢谢！
  ClipboardAgent agent;
  Tool tool;
  if (!LaunchTool(exe, tool)) {
    std::printf("no window\n");
    return 1;
  }
  PasteInto(tool, agent, replies);
  const bool pasted = WaitFor([&] { return TextOf(tool.edit) == replies; });
  Responds(tool.main);
  RedrawWindow(tool.main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  std::printf(pasted ? "ready\n" : "ready (the replies did not arrive)\n");
  std::fflush(stdout);
  DWORD code = 0;
  WaitForExit(tool, 120000, code);
  EndTool(tool);
  return 0;
}

// Arguments may come as Unix paths; Wine's Z: drive is the Unix root.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc >= 4 && mode == "ui") {
    StartWatchdog(180000);
    return RunUi(WindowsPath(argv[2]), WindowsPath(argv[3]));
  }
  if (argc >= 3 && mode == "narrow") {
    StartWatchdog(50000);
    return RunNarrow(WindowsPath(argv[2]));
  }
  if (argc >= 4 && mode == "watch") {
    StartWatchdog(180000);
    return RunWatchChecks(WindowsPath(argv[2]), WindowsPath(argv[3]));
  }
  if (argc >= 4 && mode == "prompt") {
    StartWatchdog(180000);
    return RunPromptChecks(WindowsPath(argv[2]), WindowsPath(argv[3]));
  }
  if (argc >= 4 && mode == "stall") {
    StartWatchdog(180000);
    return RunStallChecks(WindowsPath(argv[2]), WindowsPath(argv[3]));
  }
  if (argc >= 3 && mode == "show") return RunShow(WindowsPath(argv[2]));
  std::fprintf(stderr,
               "usage: e2e_driver ui|watch|prompt|stall TOOL.exe FAULT.exe | narrow TOOL.exe | "
               "show TOOL.exe\n");
  return 2;
}
