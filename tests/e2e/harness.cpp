#include "harness.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>  // std::lock_guard

const char kTitle[] = "\x4F\x72\x76\x61\x6E\x65\xC8\xBA\xB7\xA2\xB8\xA8\xD6\xFA\xD0\xA1\xB9\xA4\xBE\xDF";
const char kCheckCaption[] = "\xBF\xAA\xCA\xBC";

// ---- Report -------------------------------------------------------------------------------------

namespace {

// A critical section rather than std::mutex, which the -win32 compilers' library doesn't have.
class Section {
 public:
  Section() { InitializeCriticalSection(&section_); }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;
  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

Section reportLock;
int passed = 0;
int failed = 0;
int skipped = 0;
bool finished = false;

// Every tool started, so that a watchdog or a failed run can end them.
Section launchedLock;
std::vector<HANDLE> launched;

}  // namespace

std::string Format(const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string Escaped(const std::string& bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += Format("\\x%02X", byte);
    }
  }
  if (out.size() > 300) out = out.substr(0, 300) + "...";
  return out + "\"";
}

bool Check(bool ok, const std::string& name, const std::string& details) {
  std::lock_guard<Section> hold(reportLock);
  if (finished) return ok;
  if (ok) {
    ++passed;
    std::printf("ok - %s\n", name.c_str());
  } else {
    ++failed;
    std::printf("FAIL - %s: %s\n", name.c_str(), details.empty() ? "failed" : details.c_str());
  }
  std::fflush(stdout);
  return ok;
}

void Skip(const std::string& name, const std::string& reason) {
  std::lock_guard<Section> hold(reportLock);
  if (finished) return;
  ++skipped;
  std::printf("skip - %s: %s\n", name.c_str(), reason.c_str());
  std::fflush(stdout);
}

int FinishReport() {
  std::lock_guard<Section> hold(reportLock);
  finished = true;
  // The plain form stays as it was for a run that skipped nothing.
  if (skipped == 0) std::printf("%d passed, %d failed\n", passed, failed);
  else std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
  std::fflush(stdout);
  return failed == 0 && passed > 0 ? 0 : 1;
}

namespace {

DWORD WINAPI WatchdogMain(void* parameter) {
  const auto milliseconds = static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
  Sleep(milliseconds);
  Check(false, "run finishes in time", Format("still running after %lu ms", milliseconds));
  {
    std::lock_guard<Section> hold(launchedLock);
    for (HANDLE process : launched) TerminateProcess(process, 3);
  }
  ExitProcess(static_cast<UINT>(FinishReport()));
}

}  // namespace

void StartWatchdog(DWORD milliseconds) {
  HANDLE thread = CreateThread(nullptr, 0, WatchdogMain,
                               reinterpret_cast<void*>(static_cast<uintptr_t>(Scaled(milliseconds))), 0,
                               nullptr);
  if (thread) CloseHandle(thread);
}

// ---- Waiting and time ---------------------------------------------------------------------------

const char kScaledRunReason[] = "timing is not judged in a run slowed by ORVANE_E2E_TIME_SCALE";

double TimeScale() {
  static const double scale = [] {
    const char* text = std::getenv("ORVANE_E2E_TIME_SCALE");
    const double value = text ? std::atof(text) : 1.0;
    // Nonsense or a speed-up would only make the limits meaningless: take it as 1.
    return value >= 1.0 && value <= 100.0 ? value : 1.0;
  }();
  return scale;
}

DWORD Scaled(DWORD milliseconds) { return static_cast<DWORD>(milliseconds * TimeScale()); }

bool TimingJudged() { return TimeScale() == 1.0; }

namespace {

// The calling thread may own windows of its own (the "other program" of a focus test): keep them
// answering while it waits.
void PumpOwnMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
  timeoutMs = Scaled(timeoutMs);
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return condition();
    PumpOwnMessages();
    Sleep(pollMs);
  }
}

void PumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    PumpOwnMessages();
    const DWORD gone = GetTickCount() - start;
    if (gone >= milliseconds) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - gone, QS_ALLINPUT);
  }
}

double NowMs() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Percentile(std::vector<double> samples, double fraction) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto at = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(at, samples.size() - 1)];
}

// ---- The tool under test ------------------------------------------------------------------------

namespace {

struct WindowSearch {
  DWORD pid;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->pid) search->found.push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid) {
  WindowSearch search{pid, {}};
  EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> found;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

bool LaunchTool(const std::string& exe, Tool& tool, const std::vector<std::string>& environment) {
  tool = Tool{};
  std::string block;
  if (!environment.empty()) {
    char* inherited = GetEnvironmentStringsA();
    for (const char* p = inherited; *p; p += std::strlen(p) + 1) {
      block.append(p);
      block.push_back('\0');
    }
    FreeEnvironmentStringsA(inherited);
    for (const std::string& entry : environment) {
      block.append(entry);
      block.push_back('\0');
    }
    block.push_back('\0');
  }
  std::string commandLine = "\"" + exe + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  // Under load Wine's CreateProcess now and then fails with ERROR_INTERNAL_ERROR; once more helps.
  bool created = false;
  for (int attempt = 0; attempt < 2 && !created; ++attempt) {
    created = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                             block.empty() ? nullptr : &block[0], nullptr, &startup,
                             &tool.process) != 0;
    if (!created) {
      std::printf("# CreateProcess %s failed: error %lu\n", exe.c_str(), GetLastError());
      Sleep(500);
    }
  }
  if (!created) return false;
  {
    std::lock_guard<Section> hold(launchedLock);
    launched.push_back(tool.process.hProcess);
  }
  WaitForInputIdle(tool.process.hProcess, Scaled(10000));
  // Found by its title bytes among the new process's windows; visible means shown.
  WaitFor(
      [&] {
        for (HWND window : TopLevelWindows(tool.process.dwProcessId))
          if (IsWindowVisible(window) && TextOf(window) == kTitle) {
            tool.main = window;
            return true;
          }
        return !IsRunning(tool);
      },
      20000);
  if (!tool.main) return false;
  for (HWND child : ChildWindows(tool.main)) {
    if (GetParent(child) != tool.main) continue;
    if (!tool.check && SameClass(child, "Button")) tool.check = child;
    if (!tool.edit && SameClass(child, "Edit")) tool.edit = child;
    if (!tool.timer && SameClass(child, "OrvaneWatchTimer")) tool.timer = child;
  }
  // Start-up ends with the focus in a control; wait for it so the first input isn't lost.
  WaitFor([&] { return FocusOf(tool) != nullptr; }, 5000);
  return true;
}

bool IsRunning(const Tool& tool) {
  return tool.process.hProcess &&
         WaitForSingleObject(tool.process.hProcess, 0) == WAIT_TIMEOUT;
}

bool WaitForExit(const Tool& tool, DWORD timeoutMs, DWORD& exitCode) {
  exitCode = 0;
  if (!tool.process.hProcess) return false;
  if (!WaitFor([&] { return !IsRunning(tool); }, timeoutMs)) return false;
  GetExitCodeProcess(tool.process.hProcess, &exitCode);
  return true;
}

void EndTool(Tool& tool) {
  if (tool.process.hProcess) {
    if (IsRunning(tool)) {
      TerminateProcess(tool.process.hProcess, 3);
      WaitForSingleObject(tool.process.hProcess, Scaled(5000));
    }
    {
      std::lock_guard<Section> hold(launchedLock);
      launched.erase(std::remove(launched.begin(), launched.end(), tool.process.hProcess),
                     launched.end());
    }
    CloseHandle(tool.process.hProcess);
    CloseHandle(tool.process.hThread);
  }
  tool = Tool{};
}

bool Launch(const std::string& exe, Tool& tool, const char* what,
            const std::vector<std::string>& environment) {
  return Check(LaunchTool(exe, tool, environment), Format("%s: the window appears", what),
               Format("no visible window titled %s from %s", Escaped(kTitle).c_str(), exe.c_str()));
}

// ---- Queries across processes -------------------------------------------------------------------

std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, Scaled(3000), &length))
    return "<no answer>";
  // The length may be an over-estimate for a Unicode window; the copy says how much it wrote.
  std::string text(static_cast<size_t>(length) + 1, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                           SMTO_ABORTIFHUNG, Scaled(3000), &copied))
    return "<no answer>";
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool SameClass(HWND window, const char* name) { return lstrcmpiA(ClassOf(window).c_str(), name) == 0; }

LONG_PTR StyleOf(HWND window) { return GetWindowLongPtrA(window, GWL_STYLE); }
LONG_PTR ExStyleOf(HWND window) { return GetWindowLongPtrA(window, GWL_EXSTYLE); }

RECT OuterRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

RECT RectInClient(HWND child, HWND parent) {
  RECT r = OuterRect(child);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

HWND FocusOf(const Tool& tool) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(tool.process.dwThreadId, &info)) return nullptr;
  return info.hwndFocus;
}

bool Responds(HWND window, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, Scaled(timeoutMs), &result) != 0;
}

std::string RectText(const RECT& r) {
  return Format("(%ld,%ld)-(%ld,%ld) %ldx%ld", r.left, r.top, r.right, r.bottom, r.right - r.left,
                r.bottom - r.top);
}

LRESULT Ask(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, msg, wp, lp, SMTO_ABORTIFHUNG, Scaled(3000), &result);
  return static_cast<LRESULT>(result);
}

std::string FocusName(const Tool& tool, HWND focus) {
  if (focus == tool.edit) return "ReplyEdit";
  if (focus == tool.check) return "StartCheck";
  if (focus == tool.main) return "MainWindow";
  if (!focus) return "nothing";
  return Format("%p (%s)", static_cast<void*>(focus), ClassOf(focus).c_str());
}

bool WaitForFocus(const Tool& tool, HWND expected) {
  return WaitFor([&] { return FocusOf(tool) == expected; }, 5000);
}

HWND FindMessageBox(const Tool& tool) {
  for (HWND window : TopLevelWindows(tool.process.dwProcessId))
    if (IsWindowVisible(window) && ClassOf(window) == "#32770") return window;
  return nullptr;
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  view.title = TextOf(box);
  for (HWND child : ChildWindows(box)) {
    if (!IsWindowVisible(child)) continue;
    if (SameClass(child, "Button")) {
      ++view.buttons;
      if (GetDlgCtrlID(child) == IDOK) ++view.okButtons;
    } else if (SameClass(child, "Static")) {
      if ((StyleOf(child) & SS_TYPEMASK) == SS_ICON) {
        if (Ask(child, STM_GETICON) != 0) ++view.icons;
      } else if (!TextOf(child).empty()) {
        view.message = TextOf(child);
      }
    }
  }
  return view;
}

std::string OutOfMemoryMessage(size_t bytes) {
  return "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA3\xAC\xCE\xDE\xB7\xA8\xB7\xD6\xC5\xE4 " +
         std::to_string(bytes) + " \xD7\xD6\xBD\xDA\xA1\xA3";
}

// ---- Real input ---------------------------------------------------------------------------------

bool BringToFront(HWND window) {
  return WaitFor(
      [&] {
        if (GetForegroundWindow() == window) return true;
        SetForegroundWindow(window);
        return GetForegroundWindow() == window;
      },
      5000);
}

namespace {

INPUT KeyInput(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  switch (key) {
    case VK_HOME: case VK_END: case VK_DELETE: case VK_INSERT: case VK_PRIOR: case VK_NEXT:
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
      input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
      break;
    default:
      break;
  }
  return input;
}

bool Send(std::vector<INPUT>& inputs) {
  const UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  return sent == inputs.size();
}

}  // namespace

bool PressChord(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  for (WORD key : keys) inputs.push_back(KeyInput(key, false));
  for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) inputs.push_back(KeyInput(*it, true));
  return Send(inputs);
}

bool PressKey(WORD key) { return PressChord({key}); }

bool TypeKeys(const std::string& text) {
  for (const char c : text) {
    WORD key = 0;
    if (c >= 'a' && c <= 'z') key = static_cast<WORD>('A' + (c - 'a'));
    else if ((c >= '0' && c <= '9') || c == ' ') key = static_cast<WORD>(c);
    else if (c == '\n') key = VK_RETURN;
    else return false;
    if (!PressKey(key)) return false;
  }
  return true;
}

namespace {

bool SendMouse(DWORD flags, LONG dx = 0, LONG dy = 0) {
  std::vector<INPUT> inputs(1);
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dx = dx;
  inputs[0].mi.dy = dy;
  inputs[0].mi.dwFlags = flags;
  return Send(inputs);
}

LONG Normalised(int pixel, int extent) {
  return static_cast<LONG>((static_cast<long long>(pixel) * 65536 + extent - 1) / extent);
}

}  // namespace

// Synthetic moves change only Wine's idea of the pointer, not the X pointer, and an X event from
// the X pointer's old place (a window mapped under it) moves Wine's back there: a press then lands
// on whatever is there, such as the previous window's close box. So the X pointer is moved too
// (SetCursorPos warps it), and a move counts once the pointer is still at its target after
// 100 ms, when Wine's GetCursorPos asks X again.
constexpr DWORD kPointerSettleMs = 150;

bool MoveMouseTo(int x, int y, bool settle) {
  static POINT settled{-100000, -100000};
  const auto there = [&] {
    POINT p{};
    GetCursorPos(&p);
    return p.x == x && p.y == y;
  };
  if (settle && settled.x == x && settled.y == y && there()) return true;
  const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  const auto move = [&] {
    settled = POINT{-100000, -100000};
    SetCursorPos(x, y);
    // The move as input as well, so that the window under the pointer gets its WM_MOUSEMOVE.
    return SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, Normalised(x, cx), Normalised(y, cy)) &&
           WaitFor(there, 2000);
  };
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!move()) continue;
    if (!settle) return true;
    PumpFor(kPointerSettleMs);
    if (there()) {
      settled = POINT{x, y};
      return true;
    }
  }
  // X refuses a warp while another client grabs the pointer. Then the press goes right after a
  // fresh move, which Wine's server has taken, as before this wait existed.
  POINT p{};
  GetCursorPos(&p);
  std::printf("# the X pointer stays at %ld,%ld, not %d,%d; pressing right after a move\n", p.x,
              p.y, x, y);
  return move();
}

bool MouseButton(int x, int y, bool down) {
  // The press carries its place: one without would go where Wine's pointer is at that moment,
  // which an X event queued from the pointer's old place (the previous window's close box) may
  // have moved it back to since.
  const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  return SendMouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE |
                       (down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP),
                   Normalised(x, cx), Normalised(y, cy));
}

bool ClickAt(int x, int y, int times) {
  if (!MoveMouseTo(x, y)) return false;
  for (int i = 0; i < times; ++i)
    if (!MouseButton(x, y, true) || !MouseButton(x, y, false)) return false;
  return true;
}

namespace {

// For the diagnosis of a click without effect: whether the tool still runs, and what window (a
// crash dialog, say) has taken the foreground.
std::string DescribeForeground(const Tool& tool) {
  const HWND front = GetForegroundWindow();
  if (front == tool.main) return "the tool";
  DWORD pid = 0;
  GetWindowThreadProcessId(front, &pid);
  DWORD code = 0;
  if (!IsRunning(tool) && tool.process.hProcess) GetExitCodeProcess(tool.process.hProcess, &code);
  char title[128] = "";
  GetWindowTextA(front, title, sizeof title);
  return Format("%s of process %lu titled %s; the tool %s", ClassOf(front).c_str(), pid,
                Escaped(title).c_str(),
                IsRunning(tool) ? "runs" : Format("has ended with 0x%08lX", code).c_str());
}

}  // namespace

bool ClickUntil(const Tool& tool, int x, int y, const std::function<bool()>& done) {
  // Wine now and then drops a click or handles it late. Only a click that had no effect after a
  // generous wait is given again, so a late one is never doubled (a check box would toggle back).
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!ClickAt(x, y)) return false;
    if (WaitFor(done, 2500)) return true;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(tool.process.dwThreadId, &info);
    POINT at{};
    GetCursorPos(&at);
    std::printf("# click at %d,%d had no effect (pointer at %ld,%ld, tool %s, flags 0x%lX, "
                "capture %p, foreground %s), clicking again\n",
                x, y, at.x, at.y, Responds(tool.main, 500) ? "answers" : "does not answer",
                info.flags, static_cast<void*>(info.hwndCapture), DescribeForeground(tool).c_str());
  }
  return false;
}

bool Drag(POINT from, POINT to) {
  if (!MoveMouseTo(from.x, from.y) || !MouseButton(from.x, from.y, true)) return false;
  const int steps = 8;
  bool moved = true;
  for (int i = 1; i <= steps && moved; ++i) {
    Sleep(15);  // spaced so that a move loop sees each step as its own WM_MOUSEMOVE
    // Not settled: inside a move loop Wine's GetCursorPos reads the grab's start from X.
    moved = MoveMouseTo(from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps,
                        false);
  }
  Sleep(15);
  return MouseButton(to.x, to.y, false) && moved;
}

// ---- Clipboard ----------------------------------------------------------------------------------

namespace {

enum : UINT { kPut = WM_APP + 1, kRead, kHold, kRelease };

struct PutRequest {
  const std::vector<ClipItem>* items;
  DWORD sequence;
  double placedAt;
};

// Keeps sent messages (WM_DESTROYCLIPBOARD from an emptier, above all) flowing while waiting.
void PumpSentFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

// The sequence number that a put leaves, its close included: Wine counts the close as changes of
// its own (two here; Windows none). Whoever waits for the tool from there on reads the clipboard
// only once the tool has changed it: a read at the put's own change would keep the tool's check
// from opening it, and the replacement would wait for a tick. A change by someone else within the
// microseconds before this read is found by WaitForClipboard's late look.
DWORD SequenceAfterOwnClose() { return GetClipboardSequenceNumber(); }

// The tool or Wine's own clipboard bridge may have it open for a moment.
bool OpenWithRetry(HWND owner) {
  const DWORD start = GetTickCount();
  while (!OpenClipboard(owner)) {
    if (GetTickCount() - start > Scaled(3000)) {
      // Say who holds it, so that a failure names the culprit.
      const HWND holder = GetOpenClipboardWindow();
      DWORD process = 0;
      const DWORD thread = holder ? GetWindowThreadProcessId(holder, &process) : 0;
      char name[64] = "";
      if (holder) GetClassNameA(holder, name, sizeof name);
      std::printf("# clipboard held open by window %p (class %s, process %lu, thread %lu)\n",
                  static_cast<void*>(holder), name, process, thread);
      return false;
    }
    PumpSentFor(5);
  }
  return true;
}

}  // namespace

bool PutTextWithoutWindow(const std::string& text, DWORD* sequence, double* placedAt) {
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!block) return false;
  std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
  GlobalUnlock(block);
  if (!OpenWithRetry(nullptr)) {
    GlobalFree(block);
    return false;
  }
  EmptyClipboard();
  const bool placed = SetClipboardData(CF_TEXT, block) != nullptr;
  if (placedAt) *placedAt = NowMs();
  if (!placed) GlobalFree(block);
  CloseClipboard();
  if (sequence) *sequence = SequenceAfterOwnClose();
  return placed;
}

constexpr double kLateLookMs = 250;

bool WaitForClipboard(ClipboardAgent& agent, DWORD sequence,
                      const std::function<bool(const ClipSnapshot&)>& done, ClipSnapshot& seen,
                      DWORD timeoutMs, double* changedAt) {
  DWORD last = sequence;
  double movedAt = NowMs();
  double readAt = movedAt;
  bool unread = false;  // the sequence number moved, and what it brought has not been read yet
  return WaitFor(
      [&] {
        const DWORD now = GetClipboardSequenceNumber();
        if (now != last) {
          last = now;
          movedAt = NowMs();
          unread = true;
        }
        // A late look now and then, for a change that came before `sequence` was read.
        if (!unread && NowMs() - readAt < kLateLookMs) return false;
        readAt = NowMs();
        seen = agent.Read();
        if (!seen.opened) return false;  // held for a moment: read again
        unread = false;
        if (!done(seen)) return false;
        if (changedAt) *changedAt = movedAt;
        return true;
      },
      timeoutMs, 1);
}

bool WaitForReplacement(ClipboardAgent& agent, DWORD sequence, const std::string& put,
                        ClipSnapshot& seen, DWORD timeoutMs, double* changedAt) {
  return WaitForClipboard(
      agent, sequence, [&](const ClipSnapshot& s) { return !HoldsText(s, put); }, seen, timeoutMs,
      changedAt);
}

bool StaysAlone(ClipboardAgent& agent, DWORD sequence,
                const std::function<bool(const ClipSnapshot&)>& unchanged, ClipSnapshot& seen,
                DWORD quietMs) {
  DWORD last = sequence;
  bool changed = false;
  WaitFor(
      [&] {
        const DWORD now = GetClipboardSequenceNumber();
        if (now != last) {
          seen = agent.Read();
          // The tool may still hold the clipboard it has just written, and the number need not
          // move again: a read that couldn't open it is tried again at the same number.
          if (seen.opened) {
            last = now;
            changed = !unchanged(seen);
          }
        }
        return changed;
      },
      quietMs);
  if (!changed) {
    seen = agent.Read();
    changed = !unchanged(seen);
  }
  return !changed;
}

bool HoldsText(const ClipSnapshot& s, const std::string& text) { return s.hasText && s.text == text; }

std::string Describe(const ClipSnapshot& s) {
  if (!s.opened) return "clipboard could not be opened";
  return Format("%s, formats %s", s.hasText ? Escaped(s.text).c_str() : "no text",
                FormatsText(s.formats).c_str());
}

UINT PrivateClipboardFormat() { return RegisterClipboardFormatA("Orvane e2e private format"); }

bool OnlyTextFormats(const ClipSnapshot& snapshot) {
  return snapshot.hasText &&
         std::all_of(snapshot.formats.begin(), snapshot.formats.end(), [](UINT f) {
           return f == CF_TEXT || f == CF_UNICODETEXT || f == CF_OEMTEXT || f == CF_LOCALE;
         });
}

std::string FormatsText(const std::vector<UINT>& formats) {
  std::string out = "[";
  for (UINT f : formats) {
    if (out.size() > 1) out += ",";
    out += Format("%u", f);
  }
  return out + "]";
}

ClipboardAgent::ClipboardAgent() {
  ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  WaitForSingleObject(ready_, Scaled(10000));
}

ClipboardAgent::~ClipboardAgent() {
  if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
  if (thread_) {
    WaitForSingleObject(thread_, Scaled(5000));
    CloseHandle(thread_);
  }
  if (ready_) CloseHandle(ready_);
}

DWORD WINAPI ClipboardAgent::ThreadMain(void* self) {
  auto* agent = static_cast<ClipboardAgent*>(self);
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "OrvaneE2EClipboardAgent";
  RegisterClassA(&wc);
  agent->window_ = CreateWindowExA(0, wc.lpszClassName, "e2e clipboard agent", WS_OVERLAPPED, 0, 0,
                                   10, 10, nullptr, nullptr, wc.hInstance, nullptr);
  SetEvent(agent->ready_);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}

LRESULT CALLBACK ClipboardAgent::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kPut: {
      auto& request = *reinterpret_cast<PutRequest*>(lp);
      const std::vector<ClipItem>& items = *request.items;
      if (!OpenWithRetry(hwnd)) return 0;
      EmptyClipboard();
      bool ok = true;
      for (const ClipItem& item : items) {
        const size_t size = item.bytes.size() + (item.format == CF_TEXT ? 1 : 0);
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, std::max<size_t>(size, 1));
        if (!block) { ok = false; continue; }
        std::memcpy(GlobalLock(block), item.bytes.data(), item.bytes.size());
        GlobalUnlock(block);
        if (!SetClipboardData(item.format, block)) {
          GlobalFree(block);
          ok = false;
        }
      }
      request.placedAt = NowMs();
      CloseClipboard();
      request.sequence = SequenceAfterOwnClose();
      return ok;
    }
    case kRead: {
      auto& snapshot = *reinterpret_cast<ClipSnapshot*>(lp);
      snapshot = ClipSnapshot{};
      if (!OpenWithRetry(hwnd)) return 0;
      snapshot.opened = true;
      snapshot.count = CountClipboardFormats();
      for (UINT f = EnumClipboardFormats(0); f != 0; f = EnumClipboardFormats(f))
        snapshot.formats.push_back(f);
      if (HANDLE block = GetClipboardData(CF_TEXT)) {
        if (const auto* bytes = static_cast<const char*>(GlobalLock(block))) {
          snapshot.hasText = true;
          const size_t size = GlobalSize(block);
          snapshot.textBlockSize = size;
          const void* zero = std::memchr(bytes, '\0', size);
          snapshot.text.assign(bytes, zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes)
                                           : size);
          GlobalUnlock(block);
        }
      }
      CloseClipboard();
      return 1;
    }
    case kHold:
      return OpenWithRetry(hwnd);
    case kRelease:
      CloseClipboard();
      return 1;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool ClipboardAgent::Put(const std::vector<ClipItem>& items, DWORD* sequence, double* placedAt) {
  PutRequest request{&items, 0, 0};
  const bool ok = SendMessageA(window_, kPut, 0, reinterpret_cast<LPARAM>(&request)) != 0;
  if (sequence) *sequence = request.sequence;
  if (placedAt) *placedAt = request.placedAt;
  return ok;
}

ClipSnapshot ClipboardAgent::Read() {
  ClipSnapshot snapshot;
  SendMessageA(window_, kRead, 0, reinterpret_cast<LPARAM>(&snapshot));
  return snapshot;
}

bool ClipboardAgent::Hold() { return SendMessageA(window_, kHold, 0, 0) != 0; }

void ClipboardAgent::Release() { SendMessageA(window_, kRelease, 0, 0); }

bool PasteInto(const Tool& tool, ClipboardAgent& agent, const std::string& text) {
  return agent.PutText(text) && BringToFront(tool.main) && WaitForFocus(tool, tool.edit) &&
         PressChord({VK_CONTROL, 'V'});
}

// ---- Driving the tool's controls ----------------------------------------------------------------

bool IsChecked(const Tool& tool) { return Ask(tool.check, BM_GETCHECK) == BST_CHECKED; }

bool FocusControl(const Tool& tool, HWND control) {
  if (!BringToFront(tool.main)) return false;
  if (FocusOf(tool) == control) return true;
  return PressKey(VK_TAB) && WaitForFocus(tool, control);
}

bool SetWatching(const Tool& tool, bool on, bool byClick) {
  if (IsChecked(tool) == on) return true;
  if (byClick) {
    const RECT r = OuterRect(tool.check);
    return BringToFront(tool.main) && ClickUntil(tool, (r.left + r.right) / 2, (r.top + r.bottom) / 2,
                                                 [&] { return IsChecked(tool) == on; });
  } else if (!FocusControl(tool, tool.check) || !PressKey(VK_SPACE)) {
    return false;
  }
  return WaitFor([&] { return IsChecked(tool) == on; });
}

namespace {

bool Typable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '\r' || c == '\n';
  });
}

}  // namespace

bool SetReplies(const Tool& tool, ClipboardAgent& agent, const std::string& text) {
  if (!FocusControl(tool, tool.edit)) return false;
  PressChord({VK_CONTROL, VK_END});
  PressChord({VK_CONTROL, VK_SHIFT, VK_HOME});
  PressKey(VK_DELETE);
  if (!WaitFor([&] { return TextOf(tool.edit).empty(); })) return false;
  if (Typable(text)) {
    std::string keys;
    for (char c : text)
      if (c != '\r') keys += c;
    TypeKeys(keys);
  } else {
    PasteInto(tool, agent, text);
  }
  return WaitFor([&] { return TextOf(tool.edit) == text; });
}


void CheckOkEndsWithMinusOne(const Tool& tool, HWND box) {
  const bool front = BringToFront(box);
  PressKey(VK_RETURN);
  DWORD code = 0;
  const bool ended = WaitForExit(tool, 10000, code);
  Check(front && ended && code == 0xFFFFFFFF, "after OK the program ends with exit code -1",
        ended ? Format("exit code 0x%08lX", code) : std::string("still running after 10 s"));
}
