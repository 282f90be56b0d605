#include "clipboard_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "clipboard.h"
#include "fake_clipboard.h"
#include "reply_list.h"

namespace {

const std::string marker(AutoSendMarker);

class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakeClipboard();
    ResetReplyRandomForTest();
    ForgetClipboardSequenceForTest();
    CreateReplyList();
  }
  void TearDown() override {
    ReleaseReplyList();
    // Whatever a case did, the clipboard must be closed and every block accounted for.
    EXPECT_FALSE(fakeClipboard.isOpen);
    EXPECT_EQ(LeakedFakeBlocks(), 0);
    EXPECT_TRUE(fakeClipboard.misuse.empty()) << fakeClipboard.misuse.front();
  }
};

enum Fault { kNoFault, kOpenFails, kLockFails, kAllocFails, kSetFails };

struct CheckCase {
  const char* name;
  std::optional<std::string> before;  // the clipboard's text; nothing for a clipboard without text
  std::string replies;
  Fault fault;
  std::optional<std::string> after;
  bool otherFormatsStay;
};

TEST_F(ClipboardTest, ReplacesAMarkedTextWholeAndLeavesEverythingElse) {
  const CheckCase cases[] = {
      {"marker alone", marker, "hi", kNoFault, "hi", false},
      {"marker at the start", marker + " tail", "hi", kNoFault, "hi", false},
      {"marker in the middle", "head " + marker + " tail", "hi", kNoFault, "hi", false},
      {"marker at the end", "\xC4\xE3\xBA\xC3" + marker, "hi", kNoFault, "hi", false},
      {"empty reply", marker, "\r\n", kNoFault, "", false},
      {"double-byte reply", marker, "\xC4\xE3\xBA\xC3", kNoFault, "\xC4\xE3\xBA\xC3", false},
      {"no marker", "plain text", "hi", kNoFault, "plain text", true},
      {"marker off a boundary", "\x81" + marker, "hi", kNoFault, "\x81" + marker, true},
      {"part of the marker", marker.substr(0, 12), "hi", kNoFault, marker.substr(0, 12), true},
      {"marker after a zero byte", std::string("x\0", 2) + marker, "hi", kNoFault, "x", true},
      {"no text at all", std::nullopt, "hi", kNoFault, std::nullopt, true},
      {"empty list", marker, "", kNoFault, marker, true},
      {"open fails", marker, "hi", kOpenFails, marker, true},
      {"lock gives NULL", marker, "hi", kLockFails, marker, true},
      {"allocation fails", marker, "hi", kAllocFails, marker, true},
      {"SetClipboardData fails", marker, "hi", kSetFails, std::nullopt, false},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeClipboard();
    ForgetClipboardSequenceForTest();
    if (c.before) PutFakeClipboardBytes(*c.before, /*withOtherFormats=*/true);
    RebuildReplyList(c.replies);
    fakeClipboard.openFails = c.fault == kOpenFails;
    fakeClipboard.lockFails = c.fault == kLockFails;
    fakeClipboard.allocFails = c.fault == kAllocFails;
    fakeClipboard.setFails = c.fault == kSetFails;

    ClipboardCheck();

    EXPECT_EQ(FakeClipboardText(), c.after);
    if (c.after && !c.otherFormatsStay) {  // replaced
      EXPECT_EQ(FakeClipboardBlock(), *c.after + '\0') << "a block of length + 1, zero-terminated";
    }
    EXPECT_EQ(fakeClipboard.otherFormats, c.otherFormatsStay && c.before.has_value());
    EXPECT_FALSE(fakeClipboard.isOpen);
    EXPECT_EQ(LeakedFakeBlocks(), 0);
  }
}

TEST_F(ClipboardTest, AReplyHoldingTheMarkerIsReplacedAgain) {
  RebuildReplyList("again " + marker + "\r\nfinal");
  fakeTickCount = 1;
  SeedReplyRandom();
  PutFakeClipboardBytes(marker);
  // Each check replaces the marked text; once "final" is picked the clipboard stays put.
  for (int i = 0; i < 100 && FakeClipboardText() != "final"; ++i) ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), "final");
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), "final");
}

TEST_F(ClipboardTest, ReadStopsAtTheBlockEndWithoutATerminator) {
  PutFakeClipboardBytes("abcdef");
  fakeClipboard.reportedSize = 3;  // another program's block of 3 bytes without its zero byte
  Text text;
  EXPECT_TRUE(ReadClipboardText(text));
  EXPECT_EQ(text, "abc");

  fakeClipboard.reportedSize = 0;
  fakeClipboard.sizeUnknown = true;  // no size to go by: the terminator decides
  EXPECT_TRUE(ReadClipboardText(text));
  EXPECT_EQ(text, "abcdef");
}

TEST_F(ClipboardTest, ReadTellsAFailedOpenFromAnEmptyClipboard) {
  Text text = "stale";
  EXPECT_TRUE(ReadClipboardText(text));  // no text: read, and empty
  EXPECT_EQ(text, "");
  fakeClipboard.openFails = true;
  text = "stale";
  EXPECT_FALSE(ReadClipboardText(text));
  EXPECT_EQ(text, "");
}

TEST_F(ClipboardTest, AnotherHolderMakesTheCheckDoNothingUntilReleased) {
  RebuildReplyList("hi");
  PutFakeClipboardBytes(marker);
  fakeClipboard.isOpen = true;  // held open by another program
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), marker);
  fakeClipboard.isOpen = false;
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), "hi");
}

// Checks of a clipboard that hasn't changed since an unmarked read don't open it; everything that
// must still act does.
TEST_F(ClipboardTest, AnUnchangedUnmarkedClipboardIsNotReadAgain) {
  RebuildReplyList("hi");
  PutFakeClipboardBytes("nothing to see");
  ClipboardCheck();
  const int opens = fakeClipboard.opens;
  for (int i = 0; i < 10; ++i) ClipboardCheck();
  EXPECT_EQ(fakeClipboard.opens, opens);

  PutFakeClipboardBytes(marker);  // the marker appears after an unchanged stretch
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), "hi");
}

TEST_F(ClipboardTest, ChecksThatCouldNotFinishAreRetried) {
  struct RetryCase {
    const char* name;
    bool FakeClipboard::*fault;
    std::optional<std::string> afterFault;
  };
  const RetryCase cases[] = {
      {"open fails", &FakeClipboard::openFails, marker},
      {"lock gives NULL", &FakeClipboard::lockFails, marker},
      {"allocation fails", &FakeClipboard::allocFails, marker},
  };
  for (const RetryCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFakeClipboard();
    ForgetClipboardSequenceForTest();
    RebuildReplyList("hi");
    PutFakeClipboardBytes(marker);
    fakeClipboard.*c.fault = true;
    ClipboardCheck();
    EXPECT_EQ(FakeClipboardText(), c.afterFault);
    fakeClipboard.*c.fault = false;
    ClipboardCheck();  // same sequence number, and still acted on
    EXPECT_EQ(FakeClipboardText(), "hi");
  }
}

TEST_F(ClipboardTest, AMarkerFoundWithAnEmptyListIsLookedAtAgain) {
  PutFakeClipboardBytes(marker);
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), marker);
  RebuildReplyList("hi");
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), "hi");
}

TEST_F(ClipboardTest, ASequenceNumberOfZeroIsNeverTrusted) {
  RebuildReplyList("hi");
  PutFakeClipboardBytes("plain");
  fakeClipboard.sequence = 0;  // no clipboard access rights: the number says nothing
  ClipboardCheck();
  fakeClipboard.textBlock->bytes = marker + '\0';  // changed without the number moving
  ClipboardCheck();
  EXPECT_EQ(FakeClipboardText(), "hi");
}

// Two threads checking at once: the clipboard admits one opener, and neither run misuses it.
TEST_F(ClipboardTest, OverlappingChecksOnTwoThreads) {
  RebuildReplyList("x\r\ny");
  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done.load()) ClipboardCheck();
  });
  for (int i = 0; i < 2000; ++i) {
    while (!PutFakeClipboardBytes(marker)) {
    }
    RebuildReplyList(i % 2 ? "x\r\ny" : "y");
    ClipboardCheck();
  }
  done.store(true);
  worker.join();
  ClipboardCheck();
  const std::optional<std::string> text = FakeClipboardText();
  EXPECT_TRUE(text == "x" || text == "y") << text.value_or("(none)");
}

}  // namespace
