#include "check_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clipboard_check.h"
#include "fake_clipboard.h"
#include "reply_list.h"

namespace {

using namespace std::chrono_literals;

// Long enough for a wrongly started check to show on a loaded machine; the cases that expect
// something wait for it rather than sleeping.
const auto kQuiet = 100ms;
const auto kPatience = 10s;

// What the check thread's routine saw, and a gate that can keep a check inside it, as a clipboard
// call that blocks would.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  bool holdChecks = false;
  int inside = 0;
  std::vector<uint32_t> watches;      // the watch of every check, in order
  std::vector<bool> mayWriteAtEnd;    // what MayWriteClipboard said as each check ended
};

Recorder* recorder = nullptr;

void RecordingCheck(CheckThread& thread, uint32_t watch) {
  std::unique_lock<std::mutex> hold(recorder->mutex);
  recorder->watches.push_back(watch);
  ++recorder->inside;
  recorder->changed.notify_all();
  recorder->changed.wait(hold, [] { return !recorder->holdChecks; });
  recorder->mayWriteAtEnd.push_back(MayWriteClipboard(thread, watch));
  --recorder->inside;
  recorder->changed.notify_all();
}

class CheckThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder = &seen;
    runner = std::thread([this] { RunCheckThread(thread); });
  }
  void TearDown() override {
    Hold(false);
    EndCheckThread(thread);
    runner.join();
    recorder = nullptr;
  }

  void Hold(bool hold) {
    std::lock_guard<std::mutex> lock(seen.mutex);
    seen.holdChecks = hold;
    seen.changed.notify_all();
  }
  // Waits until `count` checks have run to their end (or, with `inside`, until one is inside).
  bool WaitForChecks(size_t count) {
    std::unique_lock<std::mutex> lock(seen.mutex);
    return seen.changed.wait_for(lock, kPatience,
                                 [&] { return seen.mayWriteAtEnd.size() >= count; });
  }
  bool WaitForOneInside() {
    std::unique_lock<std::mutex> lock(seen.mutex);
    return seen.changed.wait_for(lock, kPatience, [&] { return seen.inside == 1; });
  }
  // The number of checks begun once the thread has had time to start any more.
  size_t ChecksAfterQuiet() {
    std::this_thread::sleep_for(kQuiet);
    std::lock_guard<std::mutex> lock(seen.mutex);
    return seen.watches.size();
  }

  Recorder seen;
  CheckThread thread{RecordingCheck};
  std::thread runner;
};

TEST_F(CheckThreadTest, NoCheckUntilWatchingStartsThenOneAtOnce) {
  EXPECT_FALSE(WakeChecks(thread)) << "a tick before any start";
  EXPECT_EQ(ChecksAfterQuiet(), 0u);

  StartChecks(thread);
  ASSERT_TRUE(WaitForChecks(1));
  EXPECT_TRUE(seen.mayWriteAtEnd[0]) << "the start's own check may write";
  EXPECT_EQ(ChecksAfterQuiet(), 1u) << "a start runs one check, not more";

  // Each wake while idle is a check of its own.
  for (size_t i = 2; i <= 4; ++i) {
    EXPECT_TRUE(WakeChecks(thread));
    ASSERT_TRUE(WaitForChecks(i));
  }
}

// Wakes that come while a check runs lead to one more check, however many there are, as Windows
// merges the timer messages that fall due while a handler runs.
TEST_F(CheckThreadTest, WakesDuringACheckMergeIntoOneMore) {
  const struct {
    const char* name;
    int wakes;
    size_t checks;
  } cases[] = {{"no wake", 0, 1}, {"one wake", 1, 2}, {"a burst of notifications", 50, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StopChecks(thread);
    {
      std::lock_guard<std::mutex> lock(seen.mutex);
      seen.watches.clear();
      seen.mayWriteAtEnd.clear();
    }
    Hold(true);
    StartChecks(thread);
    ASSERT_TRUE(WaitForOneInside());
    int accepted = 0;
    for (int i = 0; i < c.wakes; ++i) accepted += WakeChecks(thread) ? 1 : 0;
    EXPECT_EQ(accepted, c.wakes > 0 ? 1 : 0) << "only the first wake asks for a check";
    Hold(false);
    ASSERT_TRUE(WaitForChecks(c.checks));
    EXPECT_EQ(ChecksAfterQuiet(), c.checks);
  }
}

// Unticking and closing never wait on a clipboard call: a check stuck inside one when watching
// stops goes on, but may write nothing after, and the stop drops a wake not yet taken.
TEST_F(CheckThreadTest, StopReturnsAtOnceAndAStuckCheckMayNotWriteAfter) {
  Hold(true);
  StartChecks(thread);
  ASSERT_TRUE(WaitForOneInside());
  EXPECT_TRUE(WakeChecks(thread));
  StopChecks(thread);  // returns although the check is held inside
  EXPECT_FALSE(WakeChecks(thread)) << "a tick after the stop";
  Hold(false);
  ASSERT_TRUE(WaitForChecks(1));
  EXPECT_FALSE(seen.mayWriteAtEnd[0]);
  EXPECT_EQ(ChecksAfterQuiet(), 1u) << "the wake taken before the stop ran after it";
}

// Ticking again while the previous watch's check is still stuck: that check still may not write,
// and the new watch gets its own immediate check once the thread is free.
TEST_F(CheckThreadTest, ARestartDuringAStuckCheckGivesTheNewWatchItsOwnCheck) {
  Hold(true);
  StartChecks(thread);
  ASSERT_TRUE(WaitForOneInside());
  StopChecks(thread);
  StartChecks(thread);
  Hold(false);
  ASSERT_TRUE(WaitForChecks(2));
  EXPECT_NE(seen.watches[0], seen.watches[1]);
  EXPECT_FALSE(seen.mayWriteAtEnd[0]) << "the stuck check of the ended watch";
  EXPECT_TRUE(seen.mayWriteAtEnd[1]) << "the new watch's check";
  EXPECT_EQ(ChecksAfterQuiet(), 2u);
}

// At shut-down the thread ends once the check under way is over; a wake it had not taken yet runs
// no check.
TEST_F(CheckThreadTest, EndLetsTheThreadReturnAfterTheCheckUnderWay) {
  Hold(true);
  StartChecks(thread);
  ASSERT_TRUE(WaitForOneInside());
  EXPECT_TRUE(WakeChecks(thread));
  EndCheckThread(thread);
  Hold(false);
  runner.join();
  EXPECT_EQ(seen.watches.size(), 1u);
  EXPECT_FALSE(seen.mayWriteAtEnd[0]);
  runner = std::thread([] {});  // for TearDown's join
}

// ---- The real check on the check thread, against the fake clipboard ----------------------------

const std::string marker(AutoSendMarker);

class ClipboardCheckThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakeClipboard();
    ResetReplyRandomForTest();
    ForgetClipboardSequenceForTest();
    CreateReplyList();
    RebuildReplyList("reply");
  }
  void TearDown() override {
    EndCheckThread(thread);
    if (runner.joinable()) runner.join();
    fakeClipboard.whileGettingText = nullptr;
    ReleaseReplyList();
    EXPECT_FALSE(fakeClipboard.isOpen);
    EXPECT_EQ(LeakedFakeBlocks(), 0);
    EXPECT_TRUE(fakeClipboard.misuse.empty()) << fakeClipboard.misuse.front();
  }
  void Run() {
    runner = std::thread([this] { RunCheckThread(thread); });
  }
  // Waits until the clipboard's text is `text`.
  static bool WaitForText(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < until) {
      if (FakeClipboardText() == text) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }

  CheckThread thread{[](CheckThread& t, uint32_t watch) { ClipboardCheck(t, watch); }};
  std::thread runner;
};

TEST_F(ClipboardCheckThreadTest, StartReplacesAWaitingMarkedText) {
  ASSERT_TRUE(PutFakeClipboardBytes("x " + marker));
  Run();
  StartChecks(thread);
  EXPECT_TRUE(WaitForText("reply"));
}

// An owner that renders its marked text only after the box was unticked: the check that waited
// for it reads the marker but must not replace it. The next start does.
TEST_F(ClipboardCheckThreadTest, ACheckThatOutlivesItsWatchWritesNothing) {
  ASSERT_TRUE(PutFakeClipboardBytes("late " + marker));
  std::mutex mutex;
  std::condition_variable changed;
  bool reading = false;
  bool rendered = false;
  fakeClipboard.whileGettingText = [&] {
    std::unique_lock<std::mutex> hold(mutex);
    reading = true;
    changed.notify_all();
    changed.wait(hold, [&] { return rendered; });
  };
  Run();
  StartChecks(thread);
  {
    std::unique_lock<std::mutex> hold(mutex);
    ASSERT_TRUE(changed.wait_for(hold, kPatience, [&] { return reading; }));
  }
  StopChecks(thread);
  {
    std::lock_guard<std::mutex> hold(mutex);
    rendered = true;
    changed.notify_all();
  }
  // The stuck check ends and runs no other; once it has, the clipboard holds the marker still.
  EndCheckThread(thread);
  runner.join();
  EXPECT_EQ(FakeClipboardText(), "late " + marker);

  // A fresh thread, as at the next start-up, replaces it at its start.
  fakeClipboard.whileGettingText = nullptr;
  CheckThread again{[](CheckThread& t, uint32_t watch) { ClipboardCheck(t, watch); }};
  std::thread runAgain([&] { RunCheckThread(again); });
  StartChecks(again);
  EXPECT_TRUE(WaitForText("reply"));
  EndCheckThread(again);
  runAgain.join();
}

// Ticks, notifications, starts and stops from two threads at once while the check thread works
// on a clipboard that keeps getting marked texts: the clipboard is used soundly throughout, and
// once watching has stopped and the thread is done, a marked text stays.
TEST_F(ClipboardCheckThreadTest, WakesStartsAndStopsFromTwoThreads) {
  Run();
  StartChecks(thread);
  std::thread ticker([this] {
    for (int i = 0; i < 2000; ++i) WakeChecks(thread);
  });
  for (int i = 0; i < 300; ++i) {
    PutFakeClipboardBytes(std::to_string(i) + marker);
    if (i % 3 == 0) StopChecks(thread);
    if (i % 3 == 1) StartChecks(thread);
    WakeChecks(thread);
  }
  ticker.join();
  StopChecks(thread);
  EXPECT_FALSE(WakeChecks(thread));
  // A write that had passed its last look before the stop may still land; give it time.
  std::this_thread::sleep_for(kQuiet);
  while (!PutFakeClipboardBytes("end " + marker)) {
  }
  for (int i = 0; i < 10; ++i) WakeChecks(thread);
  std::this_thread::sleep_for(kQuiet);
  EXPECT_EQ(FakeClipboardText(), "end " + marker);
}

}  // namespace
