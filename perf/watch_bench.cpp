// Measures the running tool from outside, the way another program meets it: it starts the tool,
// brings in replies and ticks StartCheck through real input (the end-to-end harness), then times
// how soon a marked clipboard text is replaced, marks the stretches in which scripts/perf.sh reads
// the tool's CPU time from Linux, and soaks the watch switch with toggles and clipboard churn.
//
//   watch_bench.exe path\to\orvane.exe
//
// Figures are printed as "name: value unit"; the checks of what must hold as "ok - ..." or
// "FAIL - ...", ending with "N passed, M failed". "PHASE name START|END" lines are for the script.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "clipboard_check.h"  // AutoSendMarker
#include "harness.h"

namespace {

const DWORD kReplaceTimeoutMs = 2000;
const int kLatencyRounds = 250;
// The goal for the 99th percentile: the rounds above it are counted.
const double kLatencyGoalMs = 10;
const DWORD kCpuPhaseMs = 5000;
const int kSoakCycles = 500;
const size_t kLargeTextBytes = 4u * 1024u * 1024u;
// After the soak's PHASE lines the tool is left alone this long, so that the script counts its
// threads in a known state: no check started yet at the start, the tool not yet closed at the end.
const DWORD kSampleGraceMs = 1000;

// Three replies, the last "回复三" in GBK, brought in by pasting as a user would.
const std::vector<std::string> kReplies = {"bench reply one", "bench reply two",
                                           "\xBB\xD8\xB8\xB4\xC8\xFD"};

std::mt19937 randomPauses;

// A figure for the script; flushed at once, since the script stamps its CPU samples when it reads
// a line.
void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// ---- The clipboard, as another program uses it --------------------------------------------------

bool IsReply(const ClipSnapshot& s) {
  for (const std::string& reply : kReplies)
    if (HoldsText(s, reply)) return true;
  return false;
}

// The moment the sequence-number move that brought a reply was first seen, or a negative value.
double WaitForReply(ClipboardAgent& agent, DWORD sequence, DWORD timeoutMs) {
  ClipSnapshot seen;
  double changedAt = -1;
  if (!WaitForClipboard(agent, sequence, IsReply, seen, timeoutMs, &changedAt)) return -1;
  return changedAt;
}

bool ReadsAs(ClipboardAgent& agent, const std::string& text) {
  return HoldsText(agent.Read(), text);
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

void ChooseHandleCounter(const Tool& tool) {
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

// ---- Measurements -------------------------------------------------------------------------------

void PrintDistribution(const char* name, const std::vector<double>& samples) {
  Line("%s-samples: %lu rounds", name, static_cast<unsigned long>(samples.size()));
  if (samples.empty()) return;
  double sum = 0;
  for (double sample : samples) sum += sample;
  Line("%s-mean: %.1f ms", name, sum / static_cast<double>(samples.size()));
  Line("%s-p50: %.1f ms", name, Percentile(samples, 0.50));
  Line("%s-p95: %.1f ms", name, Percentile(samples, 0.95));
  Line("%s-p99: %.1f ms", name, Percentile(samples, 0.99));
  Line("%s-max: %.1f ms", name, Percentile(samples, 1.0));
}

// A pointer resting on a themed control keeps Wine polling it for the mouse leaving, which would be
// counted as the tool's own CPU time.
void MoveMouseOffTool(const Tool& tool) {
  const RECT r = OuterRect(tool.main);
  MoveMouseTo(r.left > 10 ? 5 : GetSystemMetrics(SM_CXSCREEN) - 5, 5);
}

// A stretch of unchanged clipboard in which scripts/perf.sh reads the tool's CPU time.
void CpuPhase(const Tool& tool, ClipboardAgent& agent, const char* name, const std::string& text) {
  if (!agent.PutText(text)) Check(false, Format("%s: the text is put on the clipboard", name));
  MoveMouseOffTool(tool);
  PumpFor(500);  // the first check after the change reads the text once; that is not the steady state
  Line("PHASE %s START", name);
  PumpFor(kCpuPhaseMs);
  Line("PHASE %s END", name);
}

void MeasureLatency(ClipboardAgent& agent) {
  std::vector<double> delays;
  int missed = 0;
  std::uniform_int_distribution<DWORD> pause(0, 50);
  for (int round = 0; round < kLatencyRounds; ++round) {
    PumpFor(pause(randomPauses));
    DWORD sequence = 0;
    double placedAt = 0;
    if (!agent.PutText(MarkedText(round), &sequence, &placedAt)) {
      ++missed;
      continue;
    }
    const double seenAt = WaitForReply(agent, sequence, kReplaceTimeoutMs);
    if (seenAt < 0) {
      ++missed;
      Line("latency round %d: not replaced within %lu ms", round, kReplaceTimeoutMs);
    } else {
      delays.push_back(seenAt - placedAt);
    }
  }
  PrintDistribution("latency", delays);
  int over = 0;
  for (double delay : delays) over += delay > kLatencyGoalMs ? 1 : 0;
  Line("latency-over-%.0fms: %d rounds", kLatencyGoalMs, over);
  Line("latency-missed: %d rounds", missed);
  Check(missed == 0, "every marked text replaced while watching (latency rounds)",
        Format("%d of %d missed", missed, kLatencyRounds));
}

void Soak(const Tool& tool, ClipboardAgent& agent) {
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
  const double started = NowMs();

  for (int cycle = 0; cycle < kSoakCycles; ++cycle) {
    const bool byClick = cycle % 2 == 0;
    // Unticked: a marked text must stay as it is.
    const std::string marked = MarkedText(cycle);
    if (!agent.PutText(marked)) ++churnFailures;
    if (cycle % 10 == 0) {
      PumpFor(120);  // more than two periods of the timer, were it running
      ++idleTotal;
      if (!ReadsAs(agent, marked)) ++idleTouched;
    }

    // Ticking: the check at ticking, or the first tick, replaces the marked text.
    const DWORD sequence = GetClipboardSequenceNumber();
    const double tickedAt = NowMs();
    ++toggles;
    if (!SetWatching(tool, true, byClick)) ++toggleFailures;
    // Every fifth cycle unticks at once, racing the check at ticking.
    if (cycle % 5 != 4) {
      ++replacedExpected;
      const double seenAt = WaitForReply(agent, sequence, kReplaceTimeoutMs);
      if (seenAt < 0) {
        ++replacedMissed;
      } else {
        startToReply.push_back(seenAt - tickedAt);
      }
      // Still ticked: an unmarked text must stay as it is.
      const std::string unmarked = UnmarkedText(cycle);
      if (!agent.PutText(unmarked)) ++churnFailures;
      PumpFor(60);
      ++unmarkedTotal;
      if (!ReadsAs(agent, unmarked)) ++unmarkedTouched;
    }

    ++toggles;
    if (!SetWatching(tool, false, byClick)) ++toggleFailures;
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
  DWORD sequence = 0;
  const bool ticked = agent.PutText(MarkedText(kSoakCycles), &sequence) && SetWatching(tool, true, true);
  const bool replaced = ticked && WaitForReply(agent, sequence, kReplaceTimeoutMs) >= 0;
  const bool unticked = SetWatching(tool, false, false);
  PumpFor(200);
  const ClipSnapshot end = agent.Read();
  Check(ticked && replaced && unticked && IsReply(end), "the clipboard ends holding a reply",
        Describe(end));
  Check(Responds(tool.main), "the tool answers WM_NULL after the soak");

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

void CloseByEscape(const Tool& tool) {
  const bool front = BringToFront(tool.main);
  if (front) PressKey(VK_ESCAPE);
  DWORD code = STILL_ACTIVE;
  const bool ended = WaitForExit(tool, 5000, code);
  Check(front && ended && code == 0, "the tool exits with code 0 after Esc",
        Format("%s, exit code %lu", ended ? "ended" : "still running", code));
}

int Finish(Tool& tool) {
  const int result = FinishReport();
  Line("DONE");
  EndTool(tool);
  return result;
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

  ClipboardAgent agent;
  Tool tool;
  if (!Check(agent.window() && LaunchTool(argv[1], tool), "the tool starts and shows MainWindow"))
    return Finish(tool);
  ChooseHandleCounter(tool);
  std::string list;
  for (const std::string& reply : kReplies) list += (list.empty() ? "" : "\r\n") + reply;
  if (!Check(SetReplies(tool, agent, list), "three replies pasted into ReplyEdit",
             Escaped(TextOf(tool.edit))))
    return Finish(tool);

  CpuPhase(tool, agent, "cpu-idle-short", "short text without the marker");
  if (!Check(SetWatching(tool, true, true), "StartCheck ticked by a click")) return Finish(tool);
  MeasureLatency(agent);
  CpuPhase(tool, agent, "cpu-watch-short", "short text without the marker");
  const std::string large = LargeUnmarkedText();
  CpuPhase(tool, agent, "cpu-watch-4mb", large);
  const ClipSnapshot seen = agent.Read();
  Check(HoldsText(seen, large), "a 4 MB unmarked text is left alone while watching",
        Format("%lu bytes on the clipboard", static_cast<unsigned long>(seen.text.size())));
  const bool stopped = SetWatching(tool, false, false);
  Check(stopped, "StartCheck unticked by the space bar");
  CpuPhase(tool, agent, "cpu-idle-4mb", large);
  if (stopped) Soak(tool, agent);
  CloseByEscape(tool);
  return Finish(tool);
}
