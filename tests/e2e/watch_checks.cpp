#include "watch_checks.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "harness.h"

namespace {

// "使用软件自动发送" in code page 936.
const std::string kMarker = "\xCA\xB9\xD3\xC3\xC8\xED\xBC\xFE\xD7\xD4\xB6\xAF\xB7\xA2\xCB\xCD";
// A check runs every 50 ms while watching; this is ten of them and more.
constexpr DWORD kQuietMs = 600;
constexpr DWORD kReplaceTimeoutMs = 5000;
// The list that the empty-list check leaves in ReplyEdit, and the held-clipboard check relies on.
const std::string kLateReply = "late";

// ---- Driving the window -------------------------------------------------------------------------

bool IsChecked(const Tool& tool) { return Ask(tool.check, BM_GETCHECK) == BST_CHECKED; }

bool FocusControl(const Tool& tool, HWND control) {
  if (!BringToFront(tool.main)) return false;
  if (FocusOf(tool) == control) return true;
  return PressKey(VK_TAB) && WaitForFocus(tool, control);
}

// Ticks or unticks StartCheck as a user does: the space bar on the focused box, or a click.
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

bool Typable(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '\r' || c == '\n';
  });
}

// Empties ReplyEdit with the keyboard, then types the replies, or pastes them when they hold GBK.
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

// ---- Watching the clipboard ---------------------------------------------------------------------

// Waits until the clipboard no longer holds what was put there at `sequence`. Wine's close counts
// as a change of its own, so a new number alone proves nothing: the content decides.
bool WaitForReplacement(ClipboardAgent& agent, DWORD sequence, const std::string& put,
                        ClipSnapshot& seen, DWORD timeoutMs = kReplaceTimeoutMs) {
  DWORD last = sequence;
  return WaitFor(
      [&] {
        const DWORD now = GetClipboardSequenceNumber();
        if (now == last) return false;
        seen = agent.Read();
        // The tool may still hold the clipboard it has just written, and the number need not
        // move again: a read that couldn't open it is tried again at the same number.
        if (!seen.opened) return false;
        last = now;
        return !seen.hasText || seen.text != put;
      },
      timeoutMs);
}

// Watches the clipboard for a while; true when nothing changed what `unchanged` accepts.
bool StaysAlone(ClipboardAgent& agent, DWORD sequence,
                const std::function<bool(const ClipSnapshot&)>& unchanged, ClipSnapshot& seen) {
  DWORD last = sequence;
  bool changed = false;
  WaitFor(
      [&] {
        const DWORD now = GetClipboardSequenceNumber();
        if (now != last) {
          seen = agent.Read();
          if (seen.opened) {  // else tried again at the same number, as above
            last = now;
            changed = !unchanged(seen);
          }
        }
        return changed;
      },
      kQuietMs);
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

// Puts the marked text and waits for the tool to replace it; `seen` is what it left.
bool ReplaceRound(ClipboardAgent& agent, const std::vector<ClipItem>& items, ClipSnapshot& seen) {
  DWORD sequence = 0;
  if (!agent.Put(items, &sequence)) return false;
  return WaitForReplacement(agent, sequence, items.front().bytes, seen);
}

bool ReplaceRound(ClipboardAgent& agent, const std::string& marked, ClipSnapshot& seen) {
  return ReplaceRound(agent, {{CF_TEXT, marked}}, seen);
}

bool IsOneOf(const ClipSnapshot& s, const std::vector<std::string>& replies) {
  return OnlyTextFormats(s) && std::find(replies.begin(), replies.end(), s.text) != replies.end();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) text += (i ? "\r\n" : "") + lines[i];
  return text;
}

// ---- The checks ---------------------------------------------------------------------------------

void CheckTickingReplacesWaitingMarker(const Tool& tool, ClipboardAgent& agent,
                                       const std::vector<std::string>& replies) {
  const std::string marked = "waiting " + kMarker;
  DWORD sequence = 0;
  agent.PutText(marked, &sequence);
  ClipSnapshot seen;
  Check(StaysAlone(agent, sequence, [&](const ClipSnapshot& s) { return HoldsText(s, marked); }, seen),
        "a marked text is left alone while StartCheck is unticked", Describe(seen));

  // The worker's check runs at once; the first tick would follow 50 ms later. Either replaces it,
  // so the delay is shown, not judged.
  if (!FocusControl(tool, tool.check)) return;
  sequence = GetClipboardSequenceNumber();
  const DWORD pressed = GetTickCount();
  PressKey(VK_SPACE);
  const bool replaced = WaitForReplacement(agent, sequence, marked, seen);
  const DWORD delay = GetTickCount() - pressed;
  Check(WaitFor([&] { return IsChecked(tool); }), "the space bar ticks StartCheck");
  Check(replaced && IsOneOf(seen, replies),
        "a marker already on the clipboard is replaced by a reply when the box is ticked",
        Describe(seen));
  std::printf("# replaced %lu ms after the space bar went down (information only)\n", delay);
}

void CheckMarkerPlaces(ClipboardAgent& agent, const std::vector<std::string>& replies) {
  const UINT privateFormat = PrivateClipboardFormat();
  struct Case {
    const char* name;
    std::vector<ClipItem> items;
  } cases[] = {
      {"marker at the start", {{CF_TEXT, kMarker + " and more text"}}},
      {"marker in the middle", {{CF_TEXT, "\xC4\xE3\xBA\xC3 " + kMarker + " \xD0\xBB\xD0\xBB"}}},
      {"marker at the end", {{CF_TEXT, "text before it " + kMarker}}},
      {"marker alone", {{CF_TEXT, kMarker}}},
      {"marker beside other formats", {{CF_TEXT, "with others " + kMarker}, {privateFormat, "private"}}},
  };
  for (const Case& c : cases) {
    ClipSnapshot seen;
    const bool replaced = ReplaceRound(agent, c.items, seen);
    Check(replaced && IsOneOf(seen, replies) && !IsClipboardFormatAvailable(privateFormat),
          Format("%s: the whole content becomes one reply and nothing else", c.name),
          Format("replaced %d, clipboard %s", replaced, Describe(seen).c_str()));
  }
}

void CheckLeftAlone(ClipboardAgent& agent, const std::vector<std::string>& replies) {
  const UINT privateFormat = PrivateClipboardFormat();
  struct Case {
    const char* name;
    std::vector<ClipItem> items;
  } cases[] = {
      // 0x81 pairs with the marker's first byte, so the marker's bytes begin inside a character.
      {"marker bytes after a lone lead byte 0x81", {{CF_TEXT, "ab\x81" + kMarker}}},
      {"the marker without its last character", {{CF_TEXT, "ab " + kMarker.substr(0, 14)}}},
      {"the marker behind a zero byte", {{CF_TEXT, std::string("ab\0", 3) + kMarker}}},
      {"no text, a private format only", {{privateFormat, kMarker}}},
  };
  for (const Case& c : cases) {
    DWORD sequence = 0;
    agent.Put(c.items, &sequence);
    const ClipItem& first = c.items.front();
    const auto unchanged = [&](const ClipSnapshot& s) {
      if (first.format != CF_TEXT) return !s.hasText && IsClipboardFormatAvailable(first.format);
      return s.hasText && s.text == first.bytes.substr(0, first.bytes.find('\0'));
    };
    ClipSnapshot seen;
    const bool alone = StaysAlone(agent, sequence, unchanged, seen);
    // Watching must still be live, or the quiet above proves nothing.
    ClipSnapshot after;
    const bool live = ReplaceRound(agent, "live " + kMarker, after) && IsOneOf(after, replies);
    Check(alone && live, Format("%s: left alone", c.name),
          Format("left alone %d (%s), a marked text after it replaced %d", alone,
                 Describe(seen).c_str(), live));
  }
}

void CheckPicksReachEveryReply(const Tool& tool, ClipboardAgent& agent) {
  const std::vector<std::string> replies = {
      "\xC4\xE3\xBA\xC3\xA3\xAC\xD4\xDA\xC2\xF0",              // 你好，在吗
      "\xBA\xC3\xB5\xC4\xA3\xAC\xC2\xED\xC9\xCF\xB5\xBD",      // 好的，马上到
      "\xC9\xD4\xBA\xF3\xC1\xAA\xCF\xB5\xC4\xFA",              // 稍后联系您
  };
  if (!Check(SetReplies(tool, agent, Joined(replies)), "three GBK replies pasted into ReplyEdit",
             Escaped(TextOf(tool.edit))))
    return;
  std::map<std::string, int> picks;
  int rounds = 0, strays = 0;
  std::string stray;
  // Uniform picks miss one of three replies in 60 rounds with a chance of about 1e-10.
  while (rounds < 60 && (picks.size() < replies.size() || rounds < 20)) {
    ClipSnapshot seen;
    ++rounds;
    if (ReplaceRound(agent, Format("round %d ", rounds) + kMarker, seen) && IsOneOf(seen, replies)) {
      ++picks[seen.text];
    } else {
      ++strays;
      stray = Describe(seen);
    }
  }
  std::string counts;
  for (const std::string& r : replies) counts += Format(" %d", picks.count(r) ? picks[r] : 0);
  Check(strays == 0, "every replacement over many rounds is exactly one of the replies",
        Format("%d of %d rounds not, last: %s", strays, rounds, stray.c_str()));
  Check(picks.size() == replies.size(), "the picks reach every reply",
        Format("picks per reply:%s in %d rounds", counts.c_str(), rounds));
  std::printf("# picks per reply:%s in %d rounds\n", counts.c_str(), rounds);
}

void CheckListShapes(const Tool& tool, ClipboardAgent& agent) {
  struct Case {
    const char* name;
    std::string text;   // ReplyEdit's content
    std::string reply;  // what every marked text must become
  } cases[] = {
      {"a one-line list", "only", "only"},
      {"a one-line list ending in a line break", "single\r\n", "single"},
      {"an empty reply (a line break alone)", "\r\n", ""},
  };
  for (const Case& c : cases) {
    if (!Check(SetReplies(tool, agent, c.text), Format("%s typed into ReplyEdit", c.name),
               Escaped(TextOf(tool.edit))))
      continue;
    int good = 0;
    std::string last;
    for (int round = 0; round < 3; ++round) {
      ClipSnapshot seen;
      if (ReplaceRound(agent, Format("shape %d ", round) + kMarker, seen) && OnlyTextFormats(seen) &&
          seen.text == c.reply)
        ++good;
      else
        last = Describe(seen);
    }
    Check(good == 3, Format("%s: every marked text becomes %s", c.name, Escaped(c.reply).c_str()),
          Format("%d of 3 rounds; last: %s", good, last.c_str()));
  }
}

// A reply holding the marker is found again by every following check. The box is unticked while
// the list is pasted, since the paste itself puts the marker on the clipboard.
void CheckMarkedReplyAndUnticking(const Tool& tool, ClipboardAgent& agent) {
  const std::string reply = "again " + kMarker;
  if (!SetWatching(tool, false, false) ||
      !Check(SetReplies(tool, agent, reply), "a reply holding the marker pasted into ReplyEdit",
             Escaped(TextOf(tool.edit))))
    return;
  DWORD sequence = 0;
  const std::string marked = "first " + kMarker;
  agent.PutText(marked, &sequence);
  if (!Check(SetWatching(tool, true, false), "ticked again with the space bar")) return;
  int replacements = 0;
  bool onlyReply = true;
  DWORD last = sequence;
  ClipSnapshot seen;
  WaitFor(
      [&] {
        const DWORD now = GetClipboardSequenceNumber();
        if (now == last) return false;
        last = now;
        seen = agent.Read();
        if (HoldsText(seen, marked)) return false;  // Wine's own count for the put's close
        if (!OnlyTextFormats(seen) || seen.text != reply) onlyReply = false;
        return ++replacements >= 5;
      },
      kReplaceTimeoutMs);
  Check(replacements >= 5 && onlyReply, "a reply holding the marker is replaced again and again",
        Format("%d replacements seen, only the reply %d, last %s", replacements, onlyReply,
               Describe(seen).c_str()));

  // The clipboard still holds the marker: only the switch keeps the tool from it now.
  const bool unticked = SetWatching(tool, false, false);
  sequence = GetClipboardSequenceNumber();
  const bool quiet = StaysAlone(
      agent, sequence, [&](const ClipSnapshot& s) { return HoldsText(s, reply); }, seen);
  DWORD putSequence = 0;
  agent.PutText(marked, &putSequence);
  ClipSnapshot after;
  const bool quietToo = StaysAlone(
      agent, putSequence, [&](const ClipSnapshot& s) { return HoldsText(s, marked); }, after);
  Check(unticked && quiet && quietToo, "unticking stops every replacement",
        Format("unticked %d, reply left %d (%s), new marked text left %d (%s)", unticked, quiet,
               Describe(seen).c_str(), quietToo, Describe(after).c_str()));
}

void CheckEmptyList(const Tool& tool, ClipboardAgent& agent) {
  if (!Check(SetReplies(tool, agent, ""), "ReplyEdit emptied with the keyboard")) return;
  SetWatching(tool, true, true);
  const std::string marked = "nobody answers " + kMarker;
  DWORD sequence = 0;
  agent.PutText(marked, &sequence);
  ClipSnapshot seen;
  Check(IsChecked(tool) &&
            StaysAlone(agent, sequence, [&](const ClipSnapshot& s) { return HoldsText(s, marked); }, seen),
        "an empty list leaves a marked text alone", Describe(seen));
  // The marker stays, so the first check after a reply arrives finds it.
  sequence = GetClipboardSequenceNumber();
  const bool typed = FocusControl(tool, tool.edit) && TypeKeys(kLateReply) &&
                     WaitFor([&] { return TextOf(tool.edit) == kLateReply; });
  const bool replaced = WaitForReplacement(agent, sequence, marked, seen);
  Check(typed && replaced && OnlyTextFormats(seen) && seen.text == kLateReply,
        "a reply typed while the marker waits replaces it", Describe(seen));
}

void CheckHeldClipboard(const Tool& tool, ClipboardAgent& agent) {
  if (!SetWatching(tool, false, false)) return;
  const std::string marked = "held " + kMarker;
  agent.PutText(marked);
  if (!Check(agent.Hold(), "another program opens the clipboard and keeps it")) return;
  const bool ticked = SetWatching(tool, true, true);
  Check(ticked, "a click ticks StartCheck");
  int answered = 0, asked = 0;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 1500) {
    ++asked;
    if (Responds(tool.main, 1000)) ++answered;
    Sleep(100);
  }
  const DWORD sequence = GetClipboardSequenceNumber();
  agent.Release();
  Check(ticked && answered == asked && IsChecked(tool),
        "while the clipboard is held the tool keeps answering",
        Format("%d of %d WM_NULL answered", answered, asked));
  ClipSnapshot seen;
  const bool replaced = WaitForReplacement(agent, sequence, marked, seen);
  Check(replaced && OnlyTextFormats(seen) && seen.text == kLateReply,
        "the marked text is replaced once the clipboard is released", Describe(seen));
}

// The fault build, with every request for memory of 4096 bytes or more failing.
bool LaunchWithFailingAllocations(const std::string& faultExe, Tool& tool, const char* what) {
  if (Launch(faultExe, tool, what, {"ORVANE_FAIL_ALLOC_AT_LEAST=4096"})) return true;
  EndTool(tool);
  return false;
}

// A marked text of exactly `length` bytes: copying it needs more memory than the fault build gives.
std::string LargeMarkedText(size_t length, char fill) {
  return std::string(length - kMarker.size() - 1, fill) + " " + kMarker;
}

// A check that can't get memory for the clipboard's text reports it, and while the report is up no
// further check touches the clipboard. The text is put there after ticking, so that a tick's check
// (or the worker's, should it come late) is the one that fails.
void CheckFatalErrorInCheck(const std::string& faultExe, ClipboardAgent& agent) {
  Tool tool;
  if (!LaunchWithFailingAllocations(faultExe, tool, "watch run with failing allocations")) return;
  const size_t length = 5000;
  const std::string big = LargeMarkedText(length, 'm');
  const bool ready = SetReplies(tool, agent, "r") && SetWatching(tool, true, false);
  agent.PutText(big);
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox(tool)) != nullptr; }, 10000);
  if (Check(ready && box != nullptr, "a check that can't copy a marked text shows the report",
            Format("ready %d, running %d", ready, IsRunning(tool)))) {
    const MessageBoxView view = ReadMessageBox(box);
    // The copy of the text read: its length plus one.
    const std::string expected = OutOfMemoryMessage(length + 1);
    Check(view.message == expected && view.title == kTitle && view.okButtons == 1,
          "the report names the size of the copy that failed",
          Format("got %s titled %s, expected %s", Escaped(view.message).c_str(),
                 Escaped(view.title).c_str(), Escaped(expected).c_str()));
    // The failed copy happened with the clipboard open; the report must not keep it from every
    // other program until someone presses OK.
    const std::string small = "small " + kMarker;
    DWORD sequence = 0;
    const bool put = agent.PutText(small, &sequence);
    Check(put, "other programs can use the clipboard while the report is on screen",
          "the clipboard stays open: OpenClipboard fails for 3 s");
    ClipSnapshot seen;
    if (put)
      Check(StaysAlone(agent, sequence, [&](const ClipSnapshot& s) { return HoldsText(s, small); },
                       seen),
            "no check replaces anything while the report is on screen", Describe(seen));
    CheckOkEndsWithMinusOne(tool, box);
  }
  EndTool(tool);
}

// The worker's check runs at once when the box is ticked, so with the marked text already there it
// is the worker that fails and reports. The interface thread goes on meanwhile: MainWindow can't
// be closed under the report, and the program still ends with -1 after OK.
void CheckFatalErrorOnWorker(const std::string& faultExe, ClipboardAgent& agent) {
  Tool tool;
  if (!LaunchWithFailingAllocations(faultExe, tool,
                                    "watch run with failing allocations, marker waiting")) {
    return;
  }
  const size_t length = 6000;
  const std::string big = LargeMarkedText(length, 'w');
  const bool ready = SetReplies(tool, agent, "r") && agent.PutText(big);
  const bool ticked = ready && FocusControl(tool, tool.check) && PressKey(VK_SPACE);
  HWND box = nullptr;
  WaitFor([&] { return (box = FindMessageBox(tool)) != nullptr; }, 10000);
  const DWORD boxThread = box ? GetWindowThreadProcessId(box, nullptr) : 0;
  if (Check(ticked && box != nullptr && boxThread != tool.process.dwThreadId,
            "the worker's check that can't copy a waiting marked text reports on its own thread",
            Format("ticked %d, box %p on thread %lu, interface thread %lu", ticked,
                   static_cast<void*>(box), boxThread, tool.process.dwThreadId))) {
    const MessageBoxView view = ReadMessageBox(box);
    const std::string expected = OutOfMemoryMessage(length + 1);
    Check(view.message == expected, "the worker's report names the size of the copy that failed",
          Format("got %s, expected %s", Escaped(view.message).c_str(), Escaped(expected).c_str()));
    Check(Responds(tool.main, 2000), "the interface thread keeps answering under the worker's report");
    PostMessageA(tool.main, WM_CLOSE, 0, 0);
    Check(!WaitFor([&] { return !IsWindow(tool.main); }, 1000) && IsWindow(box),
          "closing MainWindow is refused while the report is on screen");
    CheckOkEndsWithMinusOne(tool, box);
  }
  EndTool(tool);
}

}  // namespace

int RunWatchChecks(const std::string& exe, const std::string& faultExe) {
  ClipboardAgent agent;
  Tool tool;
  if (Launch(exe, tool, "watch run")) {
    const std::vector<std::string> replies = {"one", "two", "three"};
    if (Check(SetReplies(tool, agent, Joined(replies)), "replies typed into ReplyEdit",
              Escaped(TextOf(tool.edit)))) {
      CheckTickingReplacesWaitingMarker(tool, agent, replies);
      CheckMarkerPlaces(agent, replies);
      CheckLeftAlone(agent, replies);
      CheckPicksReachEveryReply(tool, agent);
      CheckListShapes(tool, agent);
      CheckMarkedReplyAndUnticking(tool, agent);
      CheckEmptyList(tool, agent);
      CheckHeldClipboard(tool, agent);
    }
    const bool watching = SetWatching(tool, true, false);
    const bool pressed = FocusControl(tool, tool.check) && PressKey(VK_ESCAPE);
    DWORD code = 0;
    const bool ended = WaitForExit(tool, 10000, code);
    Check(watching && pressed && ended && code == 0, "Esc while watching ends with exit code 0",
          Format("watching %d, ended %d, exit code %lu", watching, ended, code));
  }
  EndTool(tool);
  CheckFatalErrorInCheck(faultExe, agent);
  CheckFatalErrorOnWorker(faultExe, agent);
  return FinishReport();
}
