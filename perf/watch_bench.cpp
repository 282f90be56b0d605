// Measures the running tool from outside, the way another program meets it: it starts the tool,
// brings in replies and ticks StartCheck through real input, then times how soon a marked clipboard
// text is replaced, marks the stretches in which scripts/perf.sh reads the tool's CPU time from
// Linux, and soaks the watch switch with toggles and clipboard churn.
//
//   watch_bench.exe path\to\orvane.exe
//
// Figures are printed as "name: value unit"; the checks of what must hold as "ok - ..." or
// "FAIL - ...", ending with "N passed, M failed". "PHASE name START|END" lines are for the script.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "clipboard_check.h"  // AutoSendMarker
#include "main_window.h"      // kMainWindowTitle

namespace {

const DWORD kInputTimeoutMs = 3000;
const DWORD kReplaceTimeoutMs = 2000;
const int kLatencyRounds = 250;
const DWORD kCpuPhaseMs = 5000;
const int kSoakCycles = 500;
const size_t kLargeTextBytes = 4u * 1024u * 1024u;
// After the soak's PHASE lines the tool is left alone this long, so that the script counts its
// threads in a known state: no worker started yet at the start, the tool not yet closed at the end.
const DWORD kSampleGraceMs = 1000;

// Three replies, the last "回复三" in GBK, brought in by pasting as a user would.
const char* const kReplies[] = {"bench reply one", "bench reply two", "\xBB\xD8\xB8\xB4\xC8\xFD"};

HWND ownWindow;  // the clipboard is opened with this, so that the tool's NULL-owner opens are kept out
std::mt19937 randomPauses;
int passed = 0;
int failed = 0;

// ---- Report -------------------------------------------------------------------------------------

void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  // The script stamps its CPU samples when it reads a line: it must not sit in a buffer.
  std::fflush(stdout);
}

void Check(bool ok, const char* name, const std::string& details = std::string()) {
  if (ok) {
    ++passed;
    Line("ok - %s", name);
  } else {
    ++failed;
    Line("FAIL - %s%s%s", name, details.empty() ? "" : ": ", details.c_str());
  }
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  return buffer;
}

// ---- Time and messages --------------------------------------------------------------------------

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Waits while answering messages: as the clipboard's owner this program is sent
// WM_DESTROYCLIPBOARD whenever the tool empties it, and the tool waits for the answer.
void Wait(DWORD milliseconds, HANDLE object = nullptr) {
  const DWORD count = object ? 1 : 0;
  MsgWaitForMultipleObjects(count, object ? &object : nullptr, FALSE, milliseconds, QS_ALLINPUT);
  Pump();
}

void PumpFor(double milliseconds) {
  const double end = NowMs() + milliseconds;
  for (double left = milliseconds; left > 0; left = end - NowMs()) {
    Wait(static_cast<DWORD>(left) + 1);
  }
}

template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
  const double end = NowMs() + timeoutMs;
  while (!condition()) {
    if (NowMs() > end) return condition();
    Wait(1);
  }
  return true;
}

// ---- The clipboard, as another program uses it --------------------------------------------------

bool OpenOwnClipboard() {
  return WaitUntil([] { return OpenClipboard(ownWindow) != 0; }, kInputTimeoutMs);
}

// Puts `text` on the clipboard as its only content; `placedAt` is the moment SetClipboardData
// returned, before the clipboard is closed again.
bool PutText(const std::string& text, double* placedAt = nullptr) {
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (!block) return false;
  char* bytes = static_cast<char*>(GlobalLock(block));
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  GlobalUnlock(block);
  if (!OpenOwnClipboard()) {
    GlobalFree(block);
    return false;
  }
  EmptyClipboard();
  const bool placed = SetClipboardData(CF_TEXT, block) != nullptr;
  if (placedAt) *placedAt = NowMs();
  if (!placed) GlobalFree(block);
  CloseClipboard();
  return placed;
}

// One try: the tool may hold the clipboard for a moment, and the caller polls anyway.
bool TryReadText(std::string& text) {
  if (!OpenClipboard(ownWindow)) return false;
  text.clear();
  bool read = false;
  if (const HANDLE block = GetClipboardData(CF_TEXT)) {
    if (const char* bytes = static_cast<const char*>(GlobalLock(block))) {
      const size_t size = GlobalSize(block);
      const void* zero = std::memchr(bytes, '\0', size);
      text.assign(bytes, zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : size);
      GlobalUnlock(block);
      read = true;
    }
  } else {
    read = true;  // no text at all
  }
  CloseClipboard();
  return read;
}

bool ReadText(std::string& text) {
  return WaitUntil([&] { return TryReadText(text); }, kInputTimeoutMs);
}

bool IsReply(const std::string& text) {
  for (const char* reply : kReplies) {
    if (text == reply) return true;
  }
  return false;
}

// Polls the sequence number and reads only when it moves, so the tool is not kept from the
// clipboard. Returns the moment the move that brought a reply was first seen, or a negative value.
double WaitForReply(DWORD timeoutMs) {
  DWORD seen = GetClipboardSequenceNumber();
  double movedAt = NowMs();
  std::string text;
  bool pending = true;  // the current content has not been read yet
  const double end = NowMs() + timeoutMs;
  while (NowMs() < end) {
    const DWORD sequence = GetClipboardSequenceNumber();
    if (sequence != seen) {
      seen = sequence;
      movedAt = NowMs();
      pending = true;
    }
    if (pending && TryReadText(text)) {
      pending = false;
      if (IsReply(text)) return movedAt;
    }
    Wait(1);
  }
  return -1;
}

std::string MarkedText(int round) {
  const std::string marker(AutoSendMarker);
  switch (round % 3) {
    case 0: return marker + Format(" round %d", round);
    case 1: return Format("round %d ", round) + marker + " \xD6\xD0\xBC\xE4";
    default: return Format("round %d \xC4\xA9\xCE\xB2 ", round) + marker;
  }
}

std::string UnmarkedText(int round) {
  // The marker's first half only, and GBK text around it: still no marker.
  return Format("unmarked %d \xCA\xB9\xD3\xC3\xC8\xED\xBC\xFE end", round);
}

// A large text without the marker: ASCII lines with GBK characters in them.
std::string LargeUnmarkedText() {
  const std::string line = "plain text 0123456789 \xBA\xBA\xD7\xD6 no marker here, just bulk\r\n";
  std::string text;
  text.reserve(kLargeTextBytes);
  while (text.size() + line.size() <= kLargeTextBytes) text += line;
  text.append(kLargeTextBytes - text.size(), 'x');
  return text;
}

// ---- The tool's process and windows -------------------------------------------------------------

struct Tool {
  PROCESS_INFORMATION process{};
  DWORD threadId = 0;
  HWND main = nullptr;
  HWND check = nullptr;
  HWND edit = nullptr;
};
Tool tool;

std::string ClassOf(HWND window) {
  char name[64] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK FindMain(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != tool.process.dwProcessId) return TRUE;
  char title[64] = "";
  DWORD_PTR copied = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof title, reinterpret_cast<LPARAM>(title),
                      SMTO_ABORTIFHUNG, 2000, &copied);
  if (std::strcmp(title, kMainWindowTitle) != 0) return TRUE;
  tool.main = window;
  return FALSE;
}

BOOL CALLBACK FindControls(HWND window, LPARAM) {
  const std::string name = ClassOf(window);
  if (lstrcmpiA(name.c_str(), "BUTTON") == 0) tool.check = window;
  if (lstrcmpiA(name.c_str(), "EDIT") == 0) tool.edit = window;
  return TRUE;
}

bool LaunchTool(const char* path) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string commandLine = std::string("\"") + path + "\"";
  if (!CreateProcessA(path, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &tool.process)) {
    Line("setup: CreateProcess failed, error %lu", GetLastError());
    return false;
  }
  WaitForInputIdle(tool.process.hProcess, 10000);
  if (!WaitUntil([] { EnumWindows(FindMain, 0); return tool.main != nullptr; }, 10000)) {
    Line("setup: no MainWindow titled as the tool's");
    return false;
  }
  tool.threadId = GetWindowThreadProcessId(tool.main, nullptr);
  EnumChildWindows(tool.main, FindControls, 0);
  if (!tool.check || !tool.edit) {
    Line("setup: StartCheck or ReplyEdit not found");
    return false;
  }
  return true;
}

LRESULT SendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool* answered = nullptr) {
  DWORD_PTR result = 0;
  const bool ok = SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000,
                                      &result) != 0;
  if (answered) *answered = ok;
  return static_cast<LRESULT>(result);
}

std::string TextOf(HWND window) {
  const LRESULT length = SendTimed(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied = SendTimed(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
  return text;
}

bool Checked() { return SendTimed(tool.check, BM_GETCHECK, 0, 0) == BST_CHECKED; }

HWND FocusOfTool() {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(tool.threadId, &info) ? info.hwndFocus : nullptr;
}

// ---- Handle counts ------------------------------------------------------------------------------

DWORD CountByCall(HANDLE process) {
  DWORD count = 0;
  if (!GetProcessHandleCount(process, &count)) {
    Line("GetProcessHandleCount failed, error %lu", GetLastError());
    return 0;
  }
  return count;
}

// Counts the process's open handles by trying to duplicate every handle value in turn; handle
// values are small multiples of 4, so the walk stops well past the last one found.
DWORD CountByProbe(HANDLE process) {
  DWORD count = 0;
  ULONG_PTR lastFound = 0;
  for (ULONG_PTR value = 4; value < 0x100000 && value < lastFound + 0x4000; value += 4) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0,
                        FALSE, DUPLICATE_SAME_ACCESS)) {
      CloseHandle(copy);
      ++count;
      lastFound = value;
    }
  }
  return count;
}

using HandleCounter = DWORD (*)(HANDLE);

// Whether a counter sees 10 more handles in `process` while 10 events are open there.
bool CounterSeesTen(HandleCounter counter, HANDLE process, const char* who, const char* how) {
  const DWORD before = counter(process);
  HANDLE events[10];
  for (HANDLE& event : events) {
    const HANDLE mine = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    event = mine;
    if (process != GetCurrentProcess()) {
      DuplicateHandle(GetCurrentProcess(), mine, process, &event, 0, FALSE,
                      DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE);
    }
  }
  const DWORD during = counter(process);
  for (HANDLE event : events) {
    if (process == GetCurrentProcess()) {
      CloseHandle(event);
    } else {
      // Brought back and closed here: Wine ignores DUPLICATE_CLOSE_SOURCE without a target.
      HANDLE back = nullptr;
      if (DuplicateHandle(process, event, GetCurrentProcess(), &back, 0, FALSE,
                          DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
        CloseHandle(back);
      }
    }
  }
  const DWORD after = counter(process);
  Line("handles-%s-%s: %lu before, %lu with 10 events, %lu after handles", how, who, before,
       during, after);
  return during == before + 10 && after == before;
}

HandleCounter toolCounter = nullptr;
const char* toolCounterName = "none";

void ChooseHandleCounter() {
  const struct {
    HandleCounter counter;
    const char* name;
  } counters[] = {{CountByCall, "GetProcessHandleCount"}, {CountByProbe, "DuplicateHandle-probe"}};
  for (const auto& candidate : counters) {
    const bool self = CounterSeesTen(candidate.counter, GetCurrentProcess(), "bench", candidate.name);
    const bool other = CounterSeesTen(candidate.counter, tool.process.hProcess, "tool", candidate.name);
    if (self && other && !toolCounter) {
      toolCounter = candidate.counter;
      toolCounterName = candidate.name;
    }
  }
  Line("handle-count-method: %s", toolCounterName);
}

// ---- Input --------------------------------------------------------------------------------------

bool BringToolToFront() {
  return WaitUntil([] {
    if (GetForegroundWindow() == tool.main) return true;
    SetForegroundWindow(tool.main);
    return false;
  }, kInputTimeoutMs);
}

void SendKeys(std::initializer_list<WORD> keys) {
  std::vector<INPUT> inputs;
  for (WORD key : keys) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    inputs.push_back(input);
  }
  for (auto key = keys.end(); key != keys.begin();) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = *--key;
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Mouse input at a screen point: a move there, then the buttons given, one input each.
void MouseAt(int x, int y, std::initializer_list<DWORD> buttons) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  std::vector<INPUT> inputs(1 + buttons.size());
  for (INPUT& input : inputs) {
    input.type = INPUT_MOUSE;
    input.mi.dx = x * 65535 / (screenWidth - 1);
    input.mi.dy = y * 65535 / (screenHeight - 1);
    input.mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
  }
  size_t at = 1;
  for (DWORD button : buttons) inputs[at++].mi.dwFlags |= button;
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void ClickOn(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  MouseAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2,
          {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP});
}

// A pointer resting on a themed control keeps Wine polling it for the mouse leaving, which
// would be counted as the tool's own CPU time.
void MoveMouseOffTool() {
  RECT rect;
  GetWindowRect(tool.main, &rect);
  MouseAt(rect.left > 10 ? 5 : GetSystemMetrics(SM_CXSCREEN) - 5, 5, {});
}

enum class By { Click, Space };

// Toggles StartCheck by real input and waits until BM_GETCHECK reads `checked`.
bool SetStartCheck(bool checked, By by) {
  if (!BringToolToFront()) return false;
  if (by == By::Space && FocusOfTool() != tool.check) by = By::Click;
  if (by == By::Click) {
    ClickOn(tool.check);
  } else {
    SendKeys({VK_SPACE});
  }
  return WaitUntil([&] { return Checked() == checked; }, kInputTimeoutMs);
}

bool BringInReplies() {
  std::string list;
  for (const char* reply : kReplies) {
    if (!list.empty()) list += "\r\n";
    list += reply;
  }
  if (!BringToolToFront()) return false;
  if (FocusOfTool() != tool.edit) {
    ClickOn(tool.edit);
    if (!WaitUntil([] { return FocusOfTool() == tool.edit; }, kInputTimeoutMs)) return false;
  }
  if (!PutText(list)) return false;
  SendKeys({VK_CONTROL, 'V'});
  return WaitUntil([&] { return TextOf(tool.edit) == list; }, kInputTimeoutMs);
}

// ---- Measurements -------------------------------------------------------------------------------

double Percentile(std::vector<double> sorted, double fraction) {
  std::sort(sorted.begin(), sorted.end());
  const size_t at = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(at, sorted.size() - 1)];
}

void PrintDistribution(const char* name, const std::vector<double>& samples) {
  if (samples.empty()) {
    Line("%s-samples: 0 rounds", name);
    return;
  }
  double sum = 0;
  for (double sample : samples) sum += sample;
  Line("%s-samples: %lu rounds", name, static_cast<unsigned long>(samples.size()));
  Line("%s-mean: %.1f ms", name, sum / static_cast<double>(samples.size()));
  Line("%s-p50: %.1f ms", name, Percentile(samples, 0.50));
  Line("%s-p95: %.1f ms", name, Percentile(samples, 0.95));
  Line("%s-p99: %.1f ms", name, Percentile(samples, 0.99));
  Line("%s-max: %.1f ms", name, *std::max_element(samples.begin(), samples.end()));
}

// A stretch of unchanged clipboard in which scripts/perf.sh reads the tool's CPU time.
void CpuPhase(const char* name, const std::string& text) {
  if (!PutText(text)) Line("FAIL - %s: the text could not be put on the clipboard", name);
  MoveMouseOffTool();
  PumpFor(500);  // the first tick after the change reads the text once; that is not the steady state
  Line("PHASE %s START", name);
  PumpFor(kCpuPhaseMs);
  Line("PHASE %s END", name);
}

void MeasureLatency() {
  std::vector<double> delays;
  int missed = 0;
  std::uniform_int_distribution<int> pause(0, 50);
  for (int round = 0; round < kLatencyRounds; ++round) {
    PumpFor(pause(randomPauses));
    double placedAt = 0;
    if (!PutText(MarkedText(round), &placedAt)) {
      ++missed;
      continue;
    }
    const double seenAt = WaitForReply(kReplaceTimeoutMs);
    if (seenAt < 0) {
      ++missed;
      Line("latency round %d: not replaced within %lu ms", round, kReplaceTimeoutMs);
    } else {
      delays.push_back(seenAt - placedAt);
    }
  }
  PrintDistribution("latency", delays);
  Line("latency-missed: %d rounds", missed);
  Check(missed == 0, "every marked text replaced while watching (latency rounds)",
        Format("%d of %d missed", missed, kLatencyRounds));
}

void Soak() {
  PumpFor(200);
  const DWORD handlesAtStart = toolCounter ? toolCounter(tool.process.hProcess) : 0;
  Line("soak-handles-start: %lu handles", handlesAtStart);
  Line("PHASE soak START");
  PumpFor(kSampleGraceMs);

  int toggles = 0, toggleFailures = 0;
  int replacedExpected = 0, replacedMissed = 0;
  int unmarkedTotal = 0, unmarkedTouched = 0;
  int idleTotal = 0, idleTouched = 0;
  int churnFailures = 0;
  std::vector<double> startToReply;
  std::string text;
  const double started = NowMs();

  for (int cycle = 0; cycle < kSoakCycles; ++cycle) {
    const By by = cycle % 2 == 0 ? By::Click : By::Space;
    // Unticked: a marked text must stay as it is.
    const std::string marked = MarkedText(cycle);
    if (!PutText(marked)) ++churnFailures;
    if (cycle % 10 == 0) {
      PumpFor(120);  // more than two periods of the timer, were it running
      ++idleTotal;
      if (!ReadText(text) || text != marked) ++idleTouched;
    }

    // Ticking: the worker's immediate check, or the first tick, replaces the marked text.
    const double tickedAt = NowMs();
    ++toggles;
    if (!SetStartCheck(true, by)) ++toggleFailures;
    // Every fifth cycle unticks at once, racing the worker's check.
    if (cycle % 5 != 4) {
      ++replacedExpected;
      const double seenAt = WaitForReply(kReplaceTimeoutMs);
      if (seenAt < 0) {
        ++replacedMissed;
      } else {
        startToReply.push_back(seenAt - tickedAt);
      }
      // Still ticked: an unmarked text must stay as it is.
      const std::string unmarked = UnmarkedText(cycle);
      if (!PutText(unmarked)) ++churnFailures;
      PumpFor(60);
      ++unmarkedTotal;
      if (!ReadText(text) || text != unmarked) ++unmarkedTouched;
    }

    ++toggles;
    if (!SetStartCheck(false, by)) ++toggleFailures;
    if (cycle % 100 == 99 && toolCounter) {
      Line("soak-handles-after-%d-cycles: %lu handles", cycle + 1, toolCounter(tool.process.hProcess));
    }
  }
  Line("soak-duration: %.1f s", (NowMs() - started) / 1000.0);
  Line("soak-toggles: %d toggles", toggles);
  PrintDistribution("soak-tick-to-reply", startToReply);

  Check(toggleFailures == 0, "StartCheck follows every toggle by click and by space",
        Format("%d of %d toggles not seen", toggleFailures, toggles));
  Check(replacedMissed == 0, "a marked text is replaced after every tick",
        Format("%d of %d not replaced within %lu ms", replacedMissed, replacedExpected,
               kReplaceTimeoutMs));
  Check(unmarkedTouched == 0, "an unmarked text is left alone while watching",
        Format("%d of %d changed", unmarkedTouched, unmarkedTotal));
  Check(idleTouched == 0, "a marked text is left alone while not watching",
        Format("%d of %d changed", idleTouched, idleTotal));
  Check(churnFailures == 0, "the bench could write the clipboard every time",
        Format("%d writes failed", churnFailures));

  // The end state: watching once more on a marked text, then stopped.
  const bool ticked = PutText(MarkedText(kSoakCycles)) && SetStartCheck(true, By::Click);
  const bool replaced = ticked && WaitForReply(kReplaceTimeoutMs) >= 0;
  const bool unticked = SetStartCheck(false, By::Space);
  PumpFor(200);
  Check(ticked && replaced && unticked && ReadText(text) && IsReply(text),
        "the clipboard ends holding a reply", "holds \"" + text + "\"");

  bool answered = false;
  SendTimed(tool.main, WM_NULL, 0, 0, &answered);
  Check(answered, "the tool answers WM_NULL after the soak");

  if (toolCounter) {
    const DWORD handlesAtEnd = toolCounter(tool.process.hProcess);
    Line("soak-handles-end: %lu handles", handlesAtEnd);
    Check(handlesAtEnd == handlesAtStart, "the tool's handle count is back where the soak started",
          Format("%lu at start, %lu at end (%s)", handlesAtStart, handlesAtEnd, toolCounterName));
  } else {
    Check(false, "the tool's handle count is back where the soak started",
          "no handle counter that works here");
  }
  Line("PHASE soak END");
  PumpFor(kSampleGraceMs);
}

void CloseByEscape() {
  const bool front = BringToolToFront();
  if (front) SendKeys({VK_ESCAPE});
  const bool ended = WaitUntil([] {
    Wait(10, tool.process.hProcess);
    return WaitForSingleObject(tool.process.hProcess, 0) == WAIT_OBJECT_0;
  }, 5000);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(tool.process.hProcess, &code);
  Check(front && ended && code == 0, "the tool exits with code 0 after Esc",
        Format("%s, exit code %lu", ended ? "ended" : "still running", code));
}

LRESULT CALLBACK OwnWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

bool CreateOwnWindow() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = OwnWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "WatchBenchClipboard";
  if (!RegisterClassA(&windowClass)) return false;
  ownWindow = CreateWindowExA(0, windowClass.lpszClassName, "watch bench", WS_OVERLAPPED, 0, 0, 10,
                              10, nullptr, nullptr, windowClass.hInstance, nullptr);
  return ownWindow != nullptr;
}

int Finish() {
  Line("%d passed, %d failed", passed, failed);
  Line("DONE");
  if (tool.process.hProcess && WaitForSingleObject(tool.process.hProcess, 0) != WAIT_OBJECT_0) {
    TerminateProcess(tool.process.hProcess, 1);
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: watch_bench path\\to\\orvane.exe\n");
    return 2;
  }
  LARGE_INTEGER seed;
  QueryPerformanceCounter(&seed);
  randomPauses.seed(static_cast<unsigned>(seed.QuadPart));

  if (!CreateOwnWindow() || !LaunchTool(argv[1])) {
    Check(false, "the tool starts and shows MainWindow");
    return Finish();
  }
  ChooseHandleCounter();
  const bool repliesIn = BringInReplies();
  Check(repliesIn, "three replies pasted into ReplyEdit", "\"" + TextOf(tool.edit) + "\"");
  if (!repliesIn) return Finish();

  CpuPhase("cpu-idle-short", "short text without the marker");
  const bool watching = SetStartCheck(true, By::Click);
  Check(watching, "StartCheck ticked by a click");
  if (!watching) return Finish();
  MeasureLatency();
  CpuPhase("cpu-watch-short", "short text without the marker");
  const std::string large = LargeUnmarkedText();
  CpuPhase("cpu-watch-4mb", large);
  std::string text;
  Check(ReadText(text) && text == large, "a 4 MB unmarked text is left alone while watching",
        Format("%lu bytes on the clipboard", static_cast<unsigned long>(text.size())));
  const bool stopped = SetStartCheck(false, By::Space);
  Check(stopped, "StartCheck unticked by the space bar");
  CpuPhase("cpu-idle-4mb", large);
  if (stopped) Soak();
  CloseByEscape();
  return Finish();
}
