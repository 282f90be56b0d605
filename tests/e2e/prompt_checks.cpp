// How soon and how often the tool rewrites the clipboard: a marked text is replaced as soon as it is
// put, whoever puts it; a reply holding the marker is not replaced faster than the ticks, however
// many copies watch; unticking leaves marked texts alone; without a change listener the ticks still
// replace; a 4 MB text survives quick ticking and unticking.
#include <windows.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "watch_checks.h"

namespace {

// Ticks alone leave a marked text waiting for 25 ms at the median (up to one 50 ms period): a
// median well below that shows that a change, not a tick, woke the check. A median, not a bound
// on every round, so that a busy machine doesn't fail it.
constexpr double kPromptMedianMs = 15;
constexpr int kPromptRounds = 20;
// The same rounds without the listener: ticks alone, so no median this low.
constexpr double kTicksOnlyMedianFloorMs = 10;
constexpr DWORD kRoundTimeoutMs = 2000;
// A reply that holds the marker is replaced once a tick, 20 times a second for each copy; the
// rounds are counted over this long and may run up to half again as fast before they fail.
constexpr DWORD kRateWindowMs = 2000;
constexpr double kTicksPerSecond = 20;
constexpr double kRateMargin = 1.5;
// At least this share of the ticks' rate, or the reply isn't being replaced at all.
constexpr double kRateFloor = 0.25;
constexpr int kLargeToggles = 12;
constexpr size_t kLargeTextBytes = 4u * 1024u * 1024u;

std::mt19937 pauses(GetTickCount());

// ---- Counting clipboard changes -----------------------------------------------------------------

// Counts WM_CLIPBOARDUPDATE on a thread of its own: one for each close of the clipboard after a
// change, so one for each write, however many steps a write takes.
class ChangeCounter {
 public:
  ChangeCounter() {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
    WaitForSingleObject(ready_, 10000);
  }
  ~ChangeCounter() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (thread_) {
      WaitForSingleObject(thread_, 5000);
      CloseHandle(thread_);
    }
    if (ready_) CloseHandle(ready_);
  }
  ChangeCounter(const ChangeCounter&) = delete;
  ChangeCounter& operator=(const ChangeCounter&) = delete;

  bool listening() const { return listening_; }
  LONG count() { return InterlockedCompareExchange(&count_, 0, 0); }

  // Changes per second over `milliseconds`.
  double Rate(DWORD milliseconds) {
    const LONG before = count();
    const double start = NowMs();
    PumpFor(milliseconds);
    return (count() - before) * 1000.0 / (NowMs() - start);
  }

 private:
  static DWORD WINAPI ThreadMain(void* self) {
    auto* counter = static_cast<ChangeCounter*>(self);
    WNDCLASSA wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvaneE2EChangeCounter";
    RegisterClassA(&wc);
    counter->window_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                       nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(counter->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(counter));
    counter->listening_ = counter->window_ && AddClipboardFormatListener(counter->window_);
    SetEvent(counter->ready_);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
  }

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* counter = reinterpret_cast<ChangeCounter*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    switch (msg) {
      case WM_CLIPBOARDUPDATE:
        if (counter) InterlockedIncrement(&counter->count_);
        return 0;
      case WM_CLOSE:
        RemoveClipboardFormatListener(hwnd);
        DestroyWindow(hwnd);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
  }

  HANDLE thread_ = nullptr;
  HANDLE ready_ = nullptr;
  HWND window_ = nullptr;
  bool listening_ = false;
  volatile LONG count_ = 0;
};

// ---- Latency rounds -----------------------------------------------------------------------------

// Who puts the marked text: the agent with a window of its own, or a program with none.
enum class Writer { OwnWindow, NoWindow };

const char* WriterName(Writer writer) {
  return writer == Writer::OwnWindow ? "a writer with a window of its own"
                                     : "a writer that opens the clipboard with no window";
}

struct Rounds {
  std::vector<double> delays;  // from the put to the replacement seen, in ms
  int missed = 0;
  std::string last;  // what a missed round left
};

Rounds TimeReplacements(ClipboardAgent& agent, Writer writer, int rounds) {
  Rounds result;
  std::uniform_int_distribution<DWORD> pause(0, 50);
  for (int round = 0; round < rounds; ++round) {
    // A random pause, so that the puts fall at every phase of the ticks.
    PumpFor(pause(pauses));
    const std::string marked = Format("prompt %d ", round) + kMarker;
    DWORD sequence = 0;
    double placedAt = 0;
    const bool put = writer == Writer::OwnWindow ? agent.PutText(marked, &sequence, &placedAt)
                                                 : PutTextWithoutWindow(marked, &sequence, &placedAt);
    ClipSnapshot seen;
    double changedAt = 0;
    if (put && WaitForReplacement(agent, sequence, marked, seen, kRoundTimeoutMs, &changedAt) &&
        seen.hasText && seen.text.find(kMarker) == std::string::npos) {
      result.delays.push_back(changedAt - placedAt);
    } else {
      ++result.missed;
      result.last = put ? Describe(seen) : std::string("the text could not be put");
    }
  }
  return result;
}

std::string Summary(const Rounds& r) {
  return Format("median %.1f ms, p90 %.1f ms, max %.1f ms over %u rounds, %d missed%s%s",
                Percentile(r.delays, 0.5), Percentile(r.delays, 0.9), Percentile(r.delays, 1.0),
                static_cast<unsigned>(r.delays.size()), r.missed, r.missed ? ", last: " : "",
                r.last.c_str());
}

void CheckPromptReplacement(ClipboardAgent& agent) {
  for (const Writer writer : {Writer::OwnWindow, Writer::NoWindow}) {
    const Rounds r = TimeReplacements(agent, writer, kPromptRounds);
    std::printf("# replacement after %s: %s\n", WriterName(writer), Summary(r).c_str());
    const std::string name =
        Format("a marked text from %s is replaced long before a tick could come (median at "
               "most %.0f ms)",
               WriterName(writer), kPromptMedianMs);
    if (TimingJudged()) {
      Check(r.missed == 0 && Percentile(r.delays, 0.5) <= kPromptMedianMs, name, Summary(r));
    } else {
      Skip(name, kScaledRunReason);
      Check(r.missed == 0, Format("every marked text from %s is replaced", WriterName(writer)),
            Summary(r));
    }
  }
}

// After unticking, marked texts from either kind of writer stay: nothing listens any more.
void CheckUntickedStaysAlone(const Tool& tool, ClipboardAgent& agent) {
  // Ticked and unticked by click and by key first, so that every way of stopping is covered.
  const bool toggled = SetWatching(tool, true, true) && SetWatching(tool, false, true) &&
                       SetWatching(tool, true, false) && SetWatching(tool, false, false);
  for (const Writer writer : {Writer::OwnWindow, Writer::NoWindow}) {
    const std::string marked = std::string("after unticking ") + kMarker;
    DWORD sequence = 0;
    const bool put = writer == Writer::OwnWindow ? agent.PutText(marked, &sequence)
                                                 : PutTextWithoutWindow(marked, &sequence);
    ClipSnapshot seen;
    const bool alone = put && StaysAlone(
        agent, sequence, [&](const ClipSnapshot& s) { return HoldsText(s, marked); }, seen);
    Check(toggled && alone,
          Format("after unticking, a marked text from %s stays", WriterName(writer)),
          Format("toggled %d, put %d, clipboard %s", toggled, put, Describe(seen).c_str()));
  }
}

// A reply holding the marker puts the marker back with every replacement. Each copy may replace it
// once a tick, and no faster: its own write, or the other copy's, must not start a check at once.
void CheckMarkedReplyRate(const std::string& exe, ClipboardAgent& agent) {
  ChangeCounter counter;
  if (!Check(counter.listening(), "the driver counts clipboard changes with a listener of its own"))
    return;
  const std::string reply = "again " + kMarker;
  Tool copies[2];
  // Both lists are pasted before either copy watches: a watching copy would take the clipboard
  // from under the other's paste.
  bool ready = true;
  for (int n = 0; n < 2 && ready; ++n) {
    ready = Launch(exe, copies[n], Format("copy %d with a reply holding the marker", n + 1).c_str()) &&
            Check(SetReplies(copies[n], agent, reply),
                  Format("copy %d: the reply holding the marker pasted", n + 1),
                  Escaped(TextOf(copies[n].edit)));
  }
  agent.PutText("start " + kMarker);
  for (int watching = 1; ready && watching <= 2; ++watching) {
    if (!Check(SetWatching(copies[watching - 1], true, false), Format("copy %d ticked", watching)))
      break;
    PumpFor(300);  // past the start
    const double rate = counter.Rate(kRateWindowMs);
    const double most = kTicksPerSecond * watching * kRateMargin;
    // A slowed run may replace less often, never more.
    const double least = kTicksPerSecond * kRateFloor / TimeScale();
    std::printf("# %d watching: %.1f clipboard changes/s\n", watching, rate);
    Check(rate <= most && rate >= least,
          Format("with %d %s watching, a reply holding the marker is replaced no faster than the "
                 "ticks (%.0f to %.0f changes/s)",
                 watching, watching == 1 ? "copy" : "copies", least, most),
          Format("%.1f changes/s over %lu ms", rate, kRateWindowMs));
  }
  for (Tool& tool : copies) {
    if (!tool.main) continue;
    PostMessageA(tool.main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    WaitForExit(tool, 10000, code);
    EndTool(tool);
  }
}

// The fault build can be told to watch without the listener, as on a system without one: the
// ticks must still replace every marked text, just not as soon.
void CheckWithoutListener(const std::string& faultExe, ClipboardAgent& agent) {
  Tool tool;
  if (Launch(faultExe, tool, "a copy without the clipboard listener",
             {"ORVANE_NO_CLIPBOARD_LISTENER=1"}) &&
      Check(SetReplies(tool, agent, "ticks"), "without the listener: a reply typed") &&
      Check(SetWatching(tool, true, false), "without the listener: ticked")) {
    const Rounds r = TimeReplacements(agent, Writer::OwnWindow, kPromptRounds);
    std::printf("# replacement without the listener: %s\n", Summary(r).c_str());
    Check(r.missed == 0 && Percentile(r.delays, 0.5) >= kTicksOnlyMedianFloorMs,
          Format("without the listener every marked text is still replaced, by the ticks (median "
                 "at least %.0f ms)",
                 kTicksOnlyMedianFloorMs),
          Summary(r));
    PostMessageA(tool.main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    Check(WaitForExit(tool, 10000, code) && code == 0,
          "without the listener the copy closes with exit code 0", Format("exit code %lu", code));
  }
  EndTool(tool);
}

// Reading a 4 MB text from two threads at once crashed the tool under Wine. Every check reads the
// marked text again (the list is empty, so it stays), and every tick starts one more check.
void CheckLargeTextToggles(const Tool& tool, ClipboardAgent& agent) {
  const std::string unit = "large text 0123456789 \xBA\xBA\xD7\xD6\r\n";
  std::string large;
  large.reserve(kLargeTextBytes);
  while (large.size() + unit.size() <= kLargeTextBytes) large += unit;
  large.append(kLargeTextBytes - large.size(), 'x');
  struct Case {
    const char* name;
    std::string replies;
    std::string text;
  } cases[] = {
      {"a 4 MB unmarked text", "r", large},
      {"a 4 MB marked text and an empty list", "", large.substr(0, large.size() - kMarker.size()) + kMarker},
  };
  for (const Case& c : cases) {
    const bool ready = SetWatching(tool, false, false) && SetReplies(tool, agent, c.replies) &&
                       agent.PutText(c.text) && FocusControl(tool, tool.check);
    int toggles = 0;
    for (int i = 0; ready && i < 2 * kLargeToggles; ++i) {
      const bool on = i % 2 == 0;
      if (!PressKey(VK_SPACE) || !WaitFor([&] { return IsChecked(tool) == on; })) break;
      ++toggles;
    }
    PumpFor(300);
    const bool running = IsRunning(tool) && Responds(tool.main);
    const ClipSnapshot seen = agent.Read();
    Check(ready && toggles == 2 * kLargeToggles && running && HoldsText(seen, c.text),
          Format("%s: ticking and unticking %d times in a row crashes nothing and the text stays",
                 c.name, kLargeToggles),
          Format("ready %d, %d of %d toggles, running %d, clipboard %lu bytes%s", ready, toggles,
                 2 * kLargeToggles, running, static_cast<unsigned long>(seen.text.size()),
                 seen.opened ? "" : " (could not be opened)"));
  }
}

}  // namespace

int RunPromptChecks(const std::string& exe, const std::string& faultExe) {
  ClipboardAgent agent;
  Tool tool;
  if (Launch(exe, tool, "prompt run") &&
      Check(SetReplies(tool, agent, "one\r\ntwo"), "replies typed into ReplyEdit") &&
      Check(SetWatching(tool, true, false), "ticked")) {
    CheckPromptReplacement(agent);
    CheckUntickedStaysAlone(tool, agent);
    CheckLargeTextToggles(tool, agent);
    PostMessageA(tool.main, WM_CLOSE, 0, 0);
    DWORD code = 0;
    Check(WaitForExit(tool, 10000, code) && code == 0, "the prompt run's copy closes with exit code 0",
          Format("exit code %lu", code));
  }
  EndTool(tool);
  CheckMarkedReplyRate(exe, agent);
  CheckWithoutListener(faultExe, agent);
  return FinishReport();
}
