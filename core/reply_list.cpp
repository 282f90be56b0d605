#include "reply_list.h"

#include <memory>
#include <utility>

#include "tick_count.h"

Lock ReplyLock;

namespace {

const std::string_view kLineBreak = "\r\n";

// Null before start-up and after release.
std::unique_ptr<TextList> replyList;
uint32_t replyRandom = 1;
uint32_t seedCounter = 0;

}  // namespace

void CreateReplyList() {
  auto empty = std::make_unique<TextList>();
  LockHold hold(ReplyLock);
  replyList = std::move(empty);
}

void RebuildReplyList(std::string_view text) {
  auto fresh = std::make_unique<TextList>(SplitOnSeparator(text, kLineBreak));
  {
    LockHold hold(ReplyLock);
    fresh.swap(replyList);
  }
  // `fresh` now holds the old list; freeing it outside the lock keeps picks from waiting on it.
}

void ReleaseReplyList() {
  std::unique_ptr<TextList> old;
  LockHold hold(ReplyLock);
  old.swap(replyList);
}

void SeedReplyRandom() {
  const uint32_t ticks = TickCount();
  LockHold hold(ReplyLock);
  const uint32_t seed = ticks + seedCounter;
  seedCounter = seedCounter + (seed & 0xFFu) + 100u;
  replyRandom = seed;
}

unsigned DrawReplyRandom() {
  replyRandom = replyRandom * 214013u + 2531011u;
  return (replyRandom >> 16) & 0x7FFFu;
}

std::optional<Text> PickReply() {
  LockHold hold(ReplyLock);
  if (!replyList || replyList->empty()) return std::nullopt;
  const size_t count = replyList->size();
  const size_t index = count == 1 ? 0 : DrawReplyRandom() % count;
  return (*replyList)[index];
}

void ResetReplyRandomForTest() {
  LockHold hold(ReplyLock);
  replyRandom = 1;
  seedCounter = 0;
}
