#include "main_window.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string_view>

#include "fatal_error.h"
#include "reply_list.h"
#include "watch_switch.h"

HWND MainWindow;
HWND WatchTimerWindow;
HWND StartCheck;
HWND ReplyEdit;

namespace {

// MainWindow's constant settings.
struct WindowDescription {
  const char* className;
  const char* title;  // code page 936
  DWORD style;
  int width, height;  // the outer rectangle, frame and caption included
};

const WindowDescription kWindow = {
    "OrvaneMainWindow", kMainWindowTitle,
    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, 493, 246};

// One control, in the order the controls are made.
struct ControlDescription {
  const char* name;       // its name in the description, code page 936
  const char* className;  // Windows class
  const char* text;       // caption or initial text, code page 936
  DWORD style;            // made hidden: WS_VISIBLE is never set here
  DWORD exStyle;
  int left, top, width, height;  // in MainWindow's client area
  int stopOrder;                 // focus order among tab stops
  HWND* handle;                  // where the made window is kept
};

const ControlDescription kControls[] = {
    {"\xCA\xB1\xD6\xD3" "1", kWatchTimerClass, "", WS_CHILD | WS_DISABLED, 0, 0, 0, 0, 0, -1,
     &WatchTimerWindow},
    {"\xD1\xA1\xD4\xF1\xBF\xF2" "1", "BUTTON", "\xBF\xAA\xCA\xBC",
     WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_AUTOCHECKBOX | BS_LEFT | BS_VCENTER | BS_MULTILINE,
     0, 24, 16, 56, 24, 0, &StartCheck},
    {"\xB1\xE0\xBC\xAD\xBF\xF2" "1", "EDIT", "",
     WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_WANTRETURN |
         ES_AUTOVSCROLL | ES_LEFT,
     WS_EX_CLIENTEDGE, 16, 64, 456, 136, 0, &ReplyEdit},
};

const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kWhite = RGB(255, 255, 255);

// While the window is being built, events that controls raise are dropped.
bool building = false;
// The control that had the focus when MainWindow was last deactivated.
HWND rememberedFocus = nullptr;

// The controls that can take the focus (shown, enabled tab stops), sorted by stop order and,
// among equals, in table order.
int FocusOrder(const ControlDescription* (&order)[std::size(kControls)]) {
  int count = 0;
  for (const ControlDescription& control : kControls) {
    const HWND window = *control.handle;
    if ((control.style & WS_TABSTOP) && IsWindowVisible(window) && IsWindowEnabled(window)) {
      order[count++] = &control;
    }
  }
  // A stable insertion: each control goes after those with its stop order or a lower one.
  // std::stable_sort would do the same with a merge sort and a heap buffer, 1.5 KB of code and an
  // allocation on every focus change, for a table of three controls.
  const auto byStopOrder = [](const ControlDescription* a, const ControlDescription* b) {
    return a->stopOrder < b->stopOrder;
  };
  for (int i = 1; i < count; ++i) {
    std::rotate(std::upper_bound(order, order + i, order[i], byStopOrder), order + i,
                order + i + 1);
  }
  return count;
}

// Of the controls with the lowest stop order, the one that comes last in the table.
HWND DefaultFocus() {
  const ControlDescription* order[std::size(kControls)];
  const int count = FocusOrder(order);
  if (count == 0) return nullptr;
  int chosen = 0;
  while (chosen + 1 < count && order[chosen + 1]->stopOrder == order[0]->stopOrder) ++chosen;
  return *order[chosen]->handle;
}

void OnActivate(HWND window, WPARAM state) {
  if (LOWORD(state) != WA_INACTIVE) return;
  const HWND focus = GetFocus();
  if (focus && IsChild(window, focus)) rememberedFocus = focus;
}

void OnSetFocus(HWND window) {
  HWND target = rememberedFocus;
  rememberedFocus = nullptr;
  if (!target || !IsWindow(target) || !IsChild(window, target)) target = DefaultFocus();
  if (target) SetFocus(target);
}

void OnCommand(HWND control, UINT notification) {
  if (building || IsReportingFatalError()) return;
  if (control == ReplyEdit && notification == EN_CHANGE) OnReplyEditChanged();
  if (control == StartCheck && notification == BN_CLICKED) OnStartCheckClicked();
}

// Fixed colours, whatever the system colours are: black on white in ReplyEdit, black on the
// button face in StartCheck.
LRESULT OnControlColour(HWND control, HDC dc) {
  SetTextColor(dc, kBlack);
  if (control == ReplyEdit) {
    SetBkColor(dc, kWhite);
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
  }
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

// Windows caps a window at the screen's size; the window keeps its fixed size on small screens.
void KeepFixedSize(MINMAXINFO* limits) {
  limits->ptMaxTrackSize.x = std::max<LONG>(limits->ptMaxTrackSize.x, kWindow.width);
  limits->ptMaxTrackSize.y = std::max<LONG>(limits->ptMaxTrackSize.y, kWindow.height);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return OnControlColour(reinterpret_cast<HWND>(lParam), reinterpret_cast<HDC>(wParam));
    case WM_ACTIVATE:
      OnActivate(window, wParam);
      break;
    case WM_SETFOCUS:
      OnSetFocus(window);
      return 0;
    case WM_CLOSE:
      // The window stays while a fatal error is on screen; the report ends the program.
      if (IsReportingFatalError()) return 0;
      break;
    case WM_SYSCOMMAND:
      // Without a maximise box the window can't be maximised, by the system menu or otherwise.
      if ((wParam & 0xFFF0) == SC_MAXIMIZE) return 0;
      break;
    case WM_GETMINMAXINFO:
      KeepFixedSize(reinterpret_cast<MINMAXINFO*>(lParam));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kWindow.className;
  return RegisterClassA(&windowClass) != 0;
}

// Centred on the primary screen; the divisions truncate towards zero, as C's do.
POINT CentredPlace() {
  return {(GetSystemMetrics(SM_CXSCREEN) - kWindow.width) / 2,
          (GetSystemMetrics(SM_CYSCREEN) - kWindow.height) / 2};
}

void SetIcons(HINSTANCE instance) {
  const struct {
    WPARAM which;
    int size;
  } icons[] = {{ICON_BIG, 32}, {ICON_SMALL, 16}};
  for (const auto& icon : icons) {
    const HANDLE image = LoadImageA(instance, "DEFAULT_ICON", IMAGE_ICON, icon.size, icon.size, 0);
    SendMessageA(MainWindow, WM_SETICON, icon.which, reinterpret_cast<LPARAM>(image));
  }
}

bool CreateControls(HINSTANCE instance) {
  int id = 1;
  for (const ControlDescription& control : kControls) {
    *control.handle = CreateWindowExA(control.exStyle, control.className, control.text,
                                      control.style, control.left, control.top, control.width,
                                      control.height, MainWindow,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                                      instance, nullptr);
    if (!*control.handle) return false;
  }
  return true;
}

void ApplyControlSettings() {
  const WPARAM font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageA(StartCheck, WM_SETFONT, font, FALSE);
  SendMessageA(StartCheck, BM_SETCHECK, BST_UNCHECKED, 0);
  SendMessageA(ReplyEdit, WM_SETFONT, font, FALSE);
  SendMessageA(ReplyEdit, EM_LIMITTEXT, 0, 0);
  SendMessageA(ReplyEdit, EM_SETSEL, 0, 0);
  SendMessageA(ReplyEdit, EM_SCROLLCARET, 0, 0);
}

// Handles what the building left in the queue, before the window is shown.
void HandlePendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

HWND NextFocus(HWND current, bool backwards) {
  const ControlDescription* order[std::size(kControls)];
  const int count = FocusOrder(order);
  if (count == 0) return nullptr;
  int at = -1;
  for (int i = 0; i < count; ++i) {
    if (*order[i]->handle == current) at = i;
  }
  if (at < 0) return *order[backwards ? count - 1 : 0]->handle;
  return *order[(at + (backwards ? count - 1 : 1)) % count]->handle;
}

bool CreateMainWindow(HINSTANCE instance) {
  building = true;
  if (!RegisterMainWindowClass(instance) || !RegisterWatchTimerClass(instance)) return false;
  const POINT place = CentredPlace();
  MainWindow = CreateWindowExA(0, kWindow.className, kWindow.title, kWindow.style, place.x, place.y,
                               kWindow.width, kWindow.height, nullptr, nullptr, instance, nullptr);
  if (!MainWindow) return false;
  RECT outer;
  GetWindowRect(MainWindow, &outer);
  if (outer.right - outer.left != kWindow.width || outer.bottom - outer.top != kWindow.height) {
    SetWindowPos(MainWindow, nullptr, 0, 0, kWindow.width, kWindow.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SetIcons(instance);
  SendMessageA(MainWindow, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               FALSE);

  if (!CreateControls(instance)) return false;
  ApplyControlSettings();
  ShowWindow(StartCheck, SW_SHOWNA);
  ShowWindow(ReplyEdit, SW_SHOWNA);
  ShowWindow(WatchTimerWindow, SW_HIDE);
  HandlePendingMessages();
  building = false;

  ShowWindow(MainWindow, SW_SHOW);
  return true;
}

void OnReplyEditChanged() {
  const int length = GetWindowTextLengthA(ReplyEdit);
  const size_t capacity = static_cast<size_t>(length) + 1;
  const std::unique_ptr<char[]> buffer(new char[capacity]);
  const int copied = GetWindowTextA(ReplyEdit, buffer.get(), static_cast<int>(capacity));
  RebuildReplyList(std::string_view(buffer.get(), copied > 0 ? static_cast<size_t>(copied) : 0));
}
