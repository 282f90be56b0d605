#include "reply_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "fake_clipboard.h"

namespace {

class ReplyListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetReplyRandomForTest();
    CreateReplyList();
  }
  void TearDown() override { ReleaseReplyList(); }

  static unsigned Draw() {
    LockHold hold(ReplyLock);
    return DrawReplyRandom();
  }
};

TEST_F(ReplyListTest, FirstDrawFromStateOneAndPickOfThree) {
  RebuildReplyList("one\r\ntwo\r\nthree");
  EXPECT_EQ(PickReply(), "three");  // 1 + (41 mod 3)
  ResetReplyRandomForTest();
  EXPECT_EQ(Draw(), 41u);
}

TEST_F(ReplyListTest, SeedsFromTicksPlusAGrowingCounter) {
  // Seeds 500, 844 and then 1020: the counter is left at 344 and then at 520.
  const uint32_t seeds[] = {500, 844, 1020};
  fakeTickCount = 500;
  for (uint32_t seed : seeds) {
    SeedReplyRandom();
    const uint32_t next = seed * 214013u + 2531011u;
    EXPECT_EQ(Draw(), (next >> 16) & 0x7FFFu) << "seed " << seed;
  }
}

TEST_F(ReplyListTest, SeedAndCounterWrapModulo2To32) {
  fakeTickCount = 0xFFFFFFF0u;
  SeedReplyRandom();                 // seed 0xFFFFFFF0, counter 0xF0 + 100 = 340
  fakeTickCount = 0xFFFFFFFFu;
  SeedReplyRandom();                 // seed 0xFFFFFFFF + 340 = 339
  const uint32_t next = 339u * 214013u + 2531011u;
  EXPECT_EQ(Draw(), (next >> 16) & 0x7FFFu);
}

struct ListCase {
  const char* name;
  std::string text;
  TextList replies;
};

TEST_F(ReplyListTest, OneReplyPerLine) {
  const ListCase cases[] = {
      {"empty", "", {}},
      {"one line", "hi", {"hi"}},
      {"one line and a break", "hi\r\n", {"hi"}},
      {"blank line between", "a\r\n\r\nb", {"a", "", "b"}},
      {"a break alone", "\r\n", {""}},
  };
  for (const ListCase& c : cases) {
    RebuildReplyList(c.text);
    if (c.replies.empty()) {
      EXPECT_FALSE(PickReply().has_value()) << c.name;
      continue;
    }
    // Pick enough times to meet every reply; with 3 replies 200 picks miss one with odds ~1e-35.
    std::set<Text> seen;
    for (int i = 0; i < 200; ++i) seen.insert(PickReply().value());
    EXPECT_EQ(seen, std::set<Text>(c.replies.begin(), c.replies.end())) << c.name;
  }
}

TEST_F(ReplyListTest, APickFromOneReplyDrawsNothing) {
  RebuildReplyList("only");
  EXPECT_EQ(PickReply(), "only");
  EXPECT_EQ(PickReply(), "only");
  EXPECT_EQ(Draw(), 41u);  // still the first draw from state 1
}

TEST_F(ReplyListTest, ARebuildLeavesTheGeneratorAlone) {
  RebuildReplyList("a\r\nb");
  fakeTickCount = 7;
  SeedReplyRandom();
  RebuildReplyList("a\r\nb\r\nc");
  const uint32_t next = 7u * 214013u + 2531011u;
  EXPECT_EQ(Draw(), (next >> 16) & 0x7FFFu);
}

TEST_F(ReplyListTest, RepliesPast32768AreNeverPicked) {
  std::string text;
  for (int i = 1; i <= 40000; ++i) text += std::to_string(i) + "\r\n";
  RebuildReplyList(text);
  int highest = 0;
  for (int i = 0; i < 20000; ++i) highest = std::max(highest, std::stoi(PickReply().value()));
  EXPECT_LE(highest, 32768);
  EXPECT_GT(highest, 30000);
}

TEST_F(ReplyListTest, NoPickAfterRelease) {
  RebuildReplyList("a");
  ReleaseReplyList();
  EXPECT_FALSE(PickReply().has_value());
}

// Rebuilds swap whole lists while another thread picks: a pick always comes whole from one list.
TEST_F(ReplyListTest, PicksRacingRebuildsSeeWholeLists) {
  const std::string lists[] = {"aa\r\naa\r\naa", "bbbb", "cc\r\ncc", ""};
  std::atomic<bool> done{false};
  std::thread picker([&] {
    while (!done.load()) {
      if (std::optional<Text> reply = PickReply()) {
        const bool whole = *reply == "aa" || *reply == "bbbb" || *reply == "cc";
        ASSERT_TRUE(whole) << *reply;
      }
    }
  });
  for (int i = 0; i < 20000; ++i) {
    RebuildReplyList(lists[i % 4]);
    if (i % 100 == 0) SeedReplyRandom();
  }
  done.store(true);
  picker.join();
}

}  // namespace
