// Another program that stops answering while the tool works on the clipboard: one that holds back
// a delay-rendered text, one that hangs as the owner of a marked text. The tool's window must go on
// handling posted messages and keystrokes, unticking and Esc must take effect at once, and a second
// fatal report must not leave the clipboard open.
//
// A sent message is no proof that the window answers: a thread waiting inside a cross-thread
// SendMessage (GetClipboardData asking for WM_RENDERFORMAT, EmptyClipboard telling the owner)
// still handles sent messages. A posted WM_CHAR and a keystroke through SendInput are handled only
// by the thread's message loop; their effects are read back with sent messages.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "watch_checks.h"

namespace {

// How long the other program stops answering.
constexpr DWORD kStallMs = 10000;
// A posted message or a keystroke must take effect within this, nearly always...
constexpr double kAnswerMs = 100;
constexpr double kAnswerShare = 0.9;
// ...and always within this, which is far below a stall.
constexpr double kAnswerAtMostMs = 1000;
// A sample stops waiting here, so that a frozen window still gives samples all through the stall.
constexpr DWORD kSampleGiveUpMs = 2000;
// Unticking shows at once; Esc ends the process within this, Wine's own teardown included.
constexpr double kUntickMs = 500;
constexpr double kExitMs = 3000;
// How long the tool may take to reach the stalled program.
constexpr DWORD kReachMs = 3000;
constexpr DWORD kSampleGapMs = 150;

// ---- The stalled program ------------------------------------------------------------------------

// Plays a program on a thread of the driver with a window of its own. It puts a text on the
// clipboard, delay-rendered (SetClipboardData(CF_TEXT, NULL)) or at once, and then stops handling
// messages until Resume or for kStallMs. Afterwards it answers again: a render request gets `text`.
class StalledProgram {
 public:
  enum Mode { kDelayedText, kImmediateText };

  StalledProgram(Mode mode, std::string text) : mode_(mode), text_(std::move(text)) {
    placed_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    resume_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    WaitForSingleObject(placed_, 10000);
  }
  ~StalledProgram() {
    Resume();
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (thread_) {
      WaitForSingleObject(thread_, 10000);
      CloseHandle(thread_);
    }
    CloseHandle(placed_);
    CloseHandle(resume_);
  }
  StalledProgram(const StalledProgram&) = delete;
  StalledProgram& operator=(const StalledProgram&) = delete;

  bool placed() const { return placedOk_; }
  // A message was sent to it while it stalled: the tool is waiting for it now.
  bool reached() const { return reached_.load(); }
  bool WaitReached(DWORD timeoutMs) const { return WaitFor([&] { return reached(); }, timeoutMs, 5); }
  bool rendered() const { return rendered_.load(); }
  void Resume() { SetEvent(resume_); }

 private:
  static DWORD WINAPI ThreadMain(void* self) {
    static_cast<StalledProgram*>(self)->Run();
    return 0;
  }

  HGLOBAL Block() const {
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text_.size() + 1);
    if (block) {
      std::memcpy(GlobalLock(block), text_.c_str(), text_.size() + 1);
      GlobalUnlock(block);
    }
    return block;
  }

  void Run() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvaneE2EStalledProgram";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, wc.lpszClassName, "stalled program", WS_OVERLAPPED, 0, 0, 10, 10,
                              nullptr, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    const DWORD start = GetTickCount();
    bool open = false;
    while (window_ && !(open = OpenClipboard(window_)) && GetTickCount() - start < 3000) Sleep(5);
    if (open) {
      EmptyClipboard();
      // A delay-rendered format returns no handle: ask whether the format is there instead.
      SetClipboardData(CF_TEXT, mode_ == kDelayedText ? nullptr : Block());
      placedOk_ = IsClipboardFormatAvailable(CF_TEXT) != 0;
      CloseClipboard();
    }
    SetEvent(placed_);
    // The stall: no message is handled, but a message sent meanwhile is noted.
    const DWORD stallStart = GetTickCount();
    while (WaitForSingleObject(resume_, 5) == WAIT_TIMEOUT && GetTickCount() - stallStart < kStallMs) {
      if (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) reached_ = true;
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<StalledProgram*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
      case WM_RENDERFORMAT:
        if (self && wp == CF_TEXT) {
          const HGLOBAL block = self->Block();
          if (block && !SetClipboardData(CF_TEXT, block)) GlobalFree(block);
          self->rendered_ = true;
        }
        return 0;
      case WM_RENDERALLFORMATS:
        if (self && OpenClipboard(hwnd)) {
          if (GetClipboardOwner() == hwnd) {
            const HGLOBAL block = self->Block();
            if (block && !SetClipboardData(CF_TEXT, block)) GlobalFree(block);
          }
          CloseClipboard();
        }
        return 0;
      case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
  }

  Mode mode_;
  std::string text_;
  HANDLE placed_ = nullptr;
  HANDLE resume_ = nullptr;
  HANDLE thread_ = nullptr;
  HWND window_ = nullptr;
  bool placedOk_ = false;
  std::atomic<bool> reached_{false};
  std::atomic<bool> rendered_{false};
};

const char* ModeName(StalledProgram::Mode mode) {
  return mode == StalledProgram::kDelayedText ? "a program holding back a delay-rendered text"
                                              : "a hung owner of a marked text";
}

// ---- Measuring the window's answers -------------------------------------------------------------

struct Answers {
  std::vector<double> posted;  // a WM_CHAR posted to ReplyEdit until its text grew
  std::vector<double> keys;    // a Tab through SendInput until the focus moved
};

// Posts one WM_CHAR to ReplyEdit and times it until ReplyEdit's text is one longer.
double TimePostedChar(const Tool& tool) {
  const size_t before = TextOf(tool.edit).size();
  const double start = NowMs();
  PostMessageA(tool.edit, WM_CHAR, 'x', 1);
  WaitFor([&] { return TextOf(tool.edit).size() > before; }, kSampleGiveUpMs, 1);
  return NowMs() - start;
}

// Presses Tab and times it until the focus has moved to the other control.
double TimeTab(const Tool& tool) {
  const HWND other = FocusOf(tool) == tool.edit ? tool.check : tool.edit;
  const double start = NowMs();
  PressKey(VK_TAB);
  WaitFor([&] { return FocusOf(tool) == other; }, kSampleGiveUpMs, 1);
  return NowMs() - start;
}

std::string Summary(const std::vector<double>& samples) {
  return Format("%u samples, median %.1f ms, p90 %.1f ms, max %.1f ms",
                static_cast<unsigned>(samples.size()), Percentile(samples, 0.5),
                Percentile(samples, 0.9), Percentile(samples, 1.0));
}

bool Prompt(const std::vector<double>& samples) {
  return !samples.empty() && Percentile(samples, kAnswerShare) <= kAnswerMs &&
         Percentile(samples, 1.0) <= kAnswerAtMostMs;
}

// In a slowed run the 100 ms figure says nothing about the tool; that the window was never held
// up for the stall still does, with the worst answer's limit scaled.
void CheckPrompt(const std::vector<double>& samples, const std::string& what) {
  const std::string name = Format("%s within %.0f ms throughout", what.c_str(), kAnswerMs);
  if (TimingJudged()) {
    Check(Prompt(samples), name, Summary(samples));
    return;
  }
  Skip(name, kScaledRunReason);
  const double most = kAnswerAtMostMs * TimeScale();
  Check(!samples.empty() && Percentile(samples, 1.0) <= most,
        Format("%s, each within %.0f ms in this slowed run", what.c_str(), most), Summary(samples));
}

// Presses space on StartCheck (moving the focus there first with Tab) and times the untick.
double TimeUntick(const Tool& tool) {
  if (FocusOf(tool) != tool.check) TimeTab(tool);
  const double start = NowMs();
  PressKey(VK_SPACE);
  WaitFor([&] { return !IsChecked(tool); }, kSampleGiveUpMs, 1);
  return NowMs() - start;
}

// ---- The checks ---------------------------------------------------------------------------------

// While the program stalls: the window answers throughout, and unticking halfway shows at once.
// For a delay-rendered text, the check that waited for it must not write once the box is unticked.
void CheckStall(const std::string& exe, ClipboardAgent& agent, StalledProgram::Mode mode) {
  const std::string name = ModeName(mode);
  Tool tool;
  const bool ready = Launch(exe, tool, ("watch run beside " + name).c_str()) &&
                     SetReplies(tool, agent, "r") && SetWatching(tool, true, false) &&
                     BringToFront(tool.main);
  if (!Check(ready, name + ": the tool is watching with a reply")) {
    EndTool(tool);
    return;
  }
  const std::string marked = "stalled " + kMarker;
  {
    StalledProgram program(mode, marked);
    const bool reached = program.placed() && program.WaitReached(kReachMs);
    Check(reached, name + ": the tool's check reaches the stalled program",
          Format("placed %d", program.placed()));
    Answers answers;
    double untick = -1;
    bool untickInStall = false;
    const double start = NowMs();
    // The untick comes early: a hung owner holds up an emptying for at most 5 s under Wine.
    while (NowMs() - start < kStallMs - 1000) {
      answers.posted.push_back(TimePostedChar(tool));
      answers.keys.push_back(TimeTab(tool));
      if (untick < 0 && NowMs() - start > 1000) {
        untick = TimeUntick(tool);
        untickInStall = NowMs() - start < kStallMs;
      }
      PumpFor(kSampleGapMs);
    }
    std::printf("# %s: posted WM_CHAR %s; Tab %s; untick %.1f ms\n", name.c_str(),
                Summary(answers.posted).c_str(), Summary(answers.keys).c_str(), untick);
    CheckPrompt(answers.posted, name + ": posted messages are handled");
    CheckPrompt(answers.keys, name + ": keystrokes take effect");
    Check(untickInStall && untick >= 0 && untick <= kUntickMs * TimeScale(),
          name + ": unticking takes effect at once",
          Format("%.1f ms, %s", untick, untickInStall ? "during the stall" : "after the stall"));
    program.Resume();
    if (mode == StalledProgram::kDelayedText) {
      // The late check now gets the marked text, and must leave it, the box being unticked.
      ClipSnapshot seen;
      const bool rendered = WaitFor([&] { return program.rendered(); }, kReachMs);
      const bool alone = StaysAlone(
          agent, GetClipboardSequenceNumber(), [&](const ClipSnapshot& s) { return HoldsText(s, marked); },
          seen);
      Check(rendered && alone,
            name + ": once it renders, the check that waited for it writes nothing, the box being unticked",
            Format("rendered %d, clipboard %s", rendered, Describe(seen).c_str()));
    }
  }
  // Esc while a check waits for the stalled program: the tool ends at once, with exit code 0.
  const bool ticked = SetWatching(tool, true, false);
  StalledProgram program(mode, "again " + marked);
  const bool reached = ticked && program.placed() && program.WaitReached(kReachMs);
  BringToFront(tool.main);
  const double start = NowMs();
  PressKey(VK_ESCAPE);
  DWORD code = 0;
  const bool ended = WaitForExit(tool, kStallMs + 5000, code);
  const double took = NowMs() - start;
  std::printf("# %s: Esc to the end of the process %.0f ms\n", name.c_str(), took);
  Check(reached && ended && took <= kExitMs * TimeScale() && code == 0,
        Format("%s: Esc ends the tool at once (within %.0f ms) with exit code 0", name.c_str(), kExitMs),
        Format("reached %d, ended %d after %.0f ms, exit code %lu", reached, ended, took, code));
  program.Resume();
  EndTool(tool);
}

// The interface thread reports first (a paste too large for the fault build), while the check
// thread waits inside GetClipboardData with the clipboard open; then the text arrives, too large as
// well, so that the check thread fails too. Its report must close the clipboard before it waits.
void CheckSecondFatalReport(const std::string& faultExe, ClipboardAgent& agent) {
  Tool tool;
  if (!Launch(faultExe, tool, "fault build for two reports", {"ORVANE_FAIL_ALLOC_AT_LEAST=4096"}) ||
      !Check(SetReplies(tool, agent, "r"), "two reports: a reply typed")) {
    EndTool(tool);
    return;
  }
  const std::string big = std::string(6000 - kMarker.size(), 'b') + kMarker;
  StalledProgram program(StalledProgram::kDelayedText, big);
  // Ticked after the text is there, so that the check at ticking is the one that waits.
  const bool reached = SetWatching(tool, true, false) && program.WaitReached(kReachMs);
  // EM_REPLACESEL raises EN_CHANGE, and needs no clipboard: the check thread has it open.
  const std::string paste(5000, 'p');
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(tool.edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(paste.c_str()),
                      SMTO_NORMAL, 1000, &ignored);
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox(tool)) != nullptr; }, 10000);
  if (Check(reached && box != nullptr,
            "two reports: the interface thread's failure shows the report while a check waits",
            Format("reached %d, box %p, running %d", reached, static_cast<void*>(box), IsRunning(tool)))) {
    program.Resume();
    const bool rendered = WaitFor([&] { return program.rendered(); }, kReachMs);
    PumpFor(500);  // the check copies the text now, and fails
    const bool put = agent.PutText("after two reports");
    Check(rendered && put && IsRunning(tool) && FindMessageBox(tool) == box,
          "two reports: with the second one, on the check's thread, the clipboard is closed while "
          "the first is on screen",
          Format("rendered %d, another program could write %d, running %d", rendered, put,
                 IsRunning(tool)));
    CheckOkEndsWithMinusOne(tool, box);
  }
  program.Resume();
  EndTool(tool);
}

}  // namespace

int RunStallChecks(const std::string& exe, const std::string& faultExe) {
  ClipboardAgent agent;
  CheckStall(exe, agent, StalledProgram::kDelayedText);
  CheckStall(exe, agent, StalledProgram::kImmediateText);
  CheckSecondFatalReport(faultExe, agent);
  return FinishReport();
}
