// What the end-to-end programs and the measurements share: the check report, polling, launching and
// querying the tool from outside its process, real input, driving its controls, and a clipboard
// holder of the test's own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// ---- Report -------------------------------------------------------------------------------------

// Prints "ok - name" or "FAIL - name: details" at once, so a hang still shows how far it got.
bool Check(bool ok, const std::string& name, const std::string& details = std::string());
// Prints "skip - name: reason" for a check this run can't judge; it is counted, not passed.
void Skip(const std::string& name, const std::string& reason);
// Prints "N passed, M failed" ("N passed, M failed, K skipped" when some were skipped) and returns
// the process exit code (nonzero on any failure).
int FinishReport();
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Bytes as C escapes for the details of a failure, e.g. "a\r\n\xC4\xE3".
std::string Escaped(const std::string& bytes);

// Ends the process with a failure if a run takes longer than this (scaled), so that a hung step
// can't keep the suite waiting.
void StartWatchdog(DWORD milliseconds);

// ---- Waiting and time ---------------------------------------------------------------------------

// How much slower than a native run this one may be: ORVANE_E2E_TIME_SCALE, 1 when unset. An
// emulated machine sets it; every waiting limit of the suite goes through Scaled.
double TimeScale();
DWORD Scaled(DWORD milliseconds);
// False when the run is scaled: then a figure of speed says nothing about the tool, and a check
// of one is skipped with this reason.
bool TimingJudged();
extern const char kScaledRunReason[];

// Input and cross-process effects arrive asynchronously under Wine: poll until the condition holds.
// The limit is scaled. Timing-bound callers poll more often than every 10 ms.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000, DWORD pollMs = 10);
// Sleeps while keeping the calling thread's own windows answering.
void PumpFor(DWORD milliseconds);
// A monotonic clock in milliseconds, finer than GetTickCount; the same in every thread.
double NowMs();
// The sample at `fraction` (0.5 for the median) of a set of durations; 0 for an empty set.
double Percentile(std::vector<double> samples, double fraction);

// ---- The tool under test ------------------------------------------------------------------------

extern const char kTitle[];           // "Orvane群发辅助小工具" in code page 936
extern const char kCheckCaption[];    // "开始"
// "使用软件自动发送" in code page 936.
inline const std::string kMarker =
    "\xCA\xB9\xD3\xC3\xC8\xED\xBC\xFE\xD7\xD4\xB6\xAF\xB7\xA2\xCB\xCD";
// A check runs at least every 50 ms while watching; this is ten of them and more.
constexpr DWORD kQuietMs = 600;

struct Tool {
  PROCESS_INFORMATION process{};
  HWND main = nullptr;
  HWND check = nullptr;  // StartCheck
  HWND edit = nullptr;   // ReplyEdit
  HWND timer = nullptr;  // the hidden child that owns the watch timer
};

// Starts the program and waits for its main window and controls. `environment` entries of the
// form "NAME=VALUE" are added to the child's environment.
bool LaunchTool(const std::string& exe, Tool& tool,
                const std::vector<std::string>& environment = {});
// Waits for the process to end; false on timeout (scaled).
bool WaitForExit(const Tool& tool, DWORD timeoutMs, DWORD& exitCode);
bool IsRunning(const Tool& tool);
// Terminates the process if it still runs and closes the handles.
void EndTool(Tool& tool);

// Top-level windows of a process, in Z order.
std::vector<HWND> TopLevelWindows(DWORD pid);
std::vector<HWND> ChildWindows(HWND parent);

// Launches and reports the start as a check named "<what>: the window appears".
bool Launch(const std::string& exe, Tool& tool, const char* what,
            const std::vector<std::string>& environment = {});

// ---- Queries across processes -------------------------------------------------------------------

std::string TextOf(HWND window);  // WM_GETTEXT, sent to the window's own thread
std::string ClassOf(HWND window);
bool SameClass(HWND window, const char* name);  // case-insensitive, as Windows compares
LONG_PTR StyleOf(HWND window);
LONG_PTR ExStyleOf(HWND window);
RECT OuterRect(HWND window);
RECT RectInClient(HWND child, HWND parent);  // the child's outer rectangle in parent's client
HWND FocusOf(const Tool& tool);             // the focused window of the tool's interface thread
bool Responds(HWND window, DWORD timeoutMs = 2000);  // answers a sent WM_NULL in time (scaled)
std::string RectText(const RECT& r);
// SendMessageTimeout's result, 0 when the window doesn't answer in time.
LRESULT Ask(HWND window, UINT msg, WPARAM wp = 0, LPARAM lp = 0);
std::string FocusName(const Tool& tool, HWND focus);
bool WaitForFocus(const Tool& tool, HWND expected);

// ---- Real input ---------------------------------------------------------------------------------

// Makes `window` the foreground window, retrying until GetForegroundWindow agrees.
bool BringToFront(HWND window);
// Presses the keys in order and releases them in reverse: {VK_SHIFT, VK_TAB} is Shift+Tab.
bool PressChord(std::initializer_list<WORD> keys);
bool PressKey(WORD key);
// Types lower-case letters, digits, space and '\n' (as Enter) with virtual keys.
bool TypeKeys(const std::string& text);
// Moves the pointer to a screen point and waits until it is there, for Wine's X pointer too, so
// that a press that follows lands there. `settle` false skips that last wait (inside a drag).
bool MoveMouseTo(int x, int y, bool settle = true);
// The left button at a screen point, after MoveMouseTo has brought the pointer there.
bool MouseButton(int x, int y, bool down);
bool ClickAt(int x, int y, int times = 1);
// Clicks at x,y until `done` holds, at most three times; a click is repeated only when the
// previous one had no effect.
bool ClickUntil(const Tool& tool, int x, int y, const std::function<bool()>& done);
// Presses the left button at `from`, moves in steps to `to`, releases.
bool Drag(POINT from, POINT to);

// The fatal-error report: a message box of the tool's process, and what it shows.
HWND FindMessageBox(const Tool& tool);
struct MessageBoxView {
  std::string title;
  std::string message;
  int buttons = 0;    // visible buttons
  int okButtons = 0;  // of them with the identifier IDOK
  int icons = 0;      // visible icon statics that hold an icon
};
MessageBoxView ReadMessageBox(HWND box);
// "内存不足，无法分配 <n> 字节。" in code page 936.
std::string OutOfMemoryMessage(size_t bytes);

// Puts the text on the clipboard and pastes it into ReplyEdit with Ctrl+V. GBK can't be typed
// into an ANSI window with KEYEVENTF_UNICODE under Wine, but it pastes.
class ClipboardAgent;
bool PasteInto(const Tool& tool, ClipboardAgent& agent, const std::string& text);

// ---- Driving the tool's controls ----------------------------------------------------------------

bool IsChecked(const Tool& tool);
// Brings the tool to the front and moves the focus to `control` with Tab.
bool FocusControl(const Tool& tool, HWND control);
// Ticks or unticks StartCheck as a user does: the space bar on the focused box, or a click.
bool SetWatching(const Tool& tool, bool on, bool byClick);
// Empties ReplyEdit with the keyboard, then types the replies, or pastes them when they hold GBK.
bool SetReplies(const Tool& tool, ClipboardAgent& agent, const std::string& text);

// ---- Clipboard ----------------------------------------------------------------------------------

// Plays the other program on the clipboard: a thread with a window of its own that opens the
// clipboard with that window (Wine lets NULL-owner opens overlap) and keeps pumping messages, so
// that a tool emptying the clipboard is answered at once.
struct ClipItem {
  UINT format;
  std::string bytes;  // the block's content; for CF_TEXT a zero byte is added after it
};

struct ClipSnapshot {
  bool opened = false;
  bool hasText = false;
  std::string text;            // CF_TEXT up to its first zero byte
  size_t textBlockSize = 0;    // GlobalSize of the CF_TEXT block
  std::vector<UINT> formats;   // EnumClipboardFormats, synthesised ones included
  int count = 0;               // CountClipboardFormats
};

class ClipboardAgent {
 public:
  ClipboardAgent();
  ~ClipboardAgent();
  ClipboardAgent(const ClipboardAgent&) = delete;
  ClipboardAgent& operator=(const ClipboardAgent&) = delete;

  // Empties the clipboard and puts the items there, owned by the agent's window. `sequence` gets
  // the sequence number that the put left, its own close included (Wine counts the close as a
  // change of its own), so that waiting from there sees the next program's change only;
  // `placedAt` the NowMs at which the last SetClipboardData returned.
  bool Put(const std::vector<ClipItem>& items, DWORD* sequence = nullptr,
           double* placedAt = nullptr);
  bool PutText(const std::string& text, DWORD* sequence = nullptr, double* placedAt = nullptr) {
    return Put({{CF_TEXT, text}}, sequence, placedAt);
  }
  ClipSnapshot Read();
  // Opens the clipboard and keeps it open, pumping messages, until Release.
  bool Hold();
  void Release();
  HWND window() const { return window_; }

 private:
  static DWORD WINAPI ThreadMain(void* self);
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  HANDLE thread_ = nullptr;
  HANDLE ready_ = nullptr;
  HWND window_ = nullptr;
};

// Puts a text as a program without a window does: OpenClipboard(NULL), so that the clipboard has
// no owner afterwards, and closed again at once. Runs on the calling thread.
bool PutTextWithoutWindow(const std::string& text, DWORD* sequence = nullptr,
                          double* placedAt = nullptr);

// Watches the clipboard from `sequence` on without holding it: reads it through the agent only when
// the sequence number moves, until `done` accepts what was read. `changedAt` gets the NowMs at
// which the move that brought it was first seen. Wine counts a close as a change of its own, so a
// new number alone proves nothing: the content decides.
bool WaitForClipboard(ClipboardAgent& agent, DWORD sequence,
                      const std::function<bool(const ClipSnapshot&)>& done, ClipSnapshot& seen,
                      DWORD timeoutMs, double* changedAt = nullptr);
// Until the clipboard no longer holds the text `put`.
bool WaitForReplacement(ClipboardAgent& agent, DWORD sequence, const std::string& put,
                        ClipSnapshot& seen, DWORD timeoutMs = 5000, double* changedAt = nullptr);
// Watches the clipboard for `quietMs`; true when nothing changed what `unchanged` accepts.
bool StaysAlone(ClipboardAgent& agent, DWORD sequence,
                const std::function<bool(const ClipSnapshot&)>& unchanged, ClipSnapshot& seen,
                DWORD quietMs = kQuietMs);
bool HoldsText(const ClipSnapshot& s, const std::string& text);
std::string Describe(const ClipSnapshot& s);

UINT PrivateClipboardFormat();
// True when the clipboard holds a text and nothing else: only CF_TEXT and what Windows synthesises
// from it (CF_UNICODETEXT, CF_OEMTEXT, CF_LOCALE).
bool OnlyTextFormats(const ClipSnapshot& snapshot);
std::string FormatsText(const std::vector<UINT>& formats);

// Presses OK on the fatal-error box and checks that the tool then ends with exit code -1.
void CheckOkEndsWithMinusOne(const Tool& tool, HWND box);
