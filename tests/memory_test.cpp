#include "memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "reply_list.h"

namespace {

// Fails every request of at least 4096 bytes, like a heap that has run dry for large blocks.
void* FailLargeRequests(size_t bytes) { return bytes >= 4096 ? nullptr : std::malloc(bytes); }

[[noreturn]] void ReportAndExit(size_t bytes) {
  char message[80];
  FormatByteCount(message, sizeof message, "handler got ", bytes, " bytes");
  std::fprintf(stderr, "%s\n", message);
  std::_Exit(3);
}

// Compilers may drop an allocation whose memory is never used; this uses it.
template <typename Container>
void Use(const Container& container) {
  std::printf("%p\n", static_cast<const void*>(container.data()));
}

void InstallFailingHeap() {
  SetOutOfMemoryHandler(ReportAndExit);
  SetRawAllocator(FailLargeRequests);
}

TEST(OutOfMemoryDeathTest, AStringGrowthReachesTheHandlerWithItsSize) {
  EXPECT_EXIT(
      {
        InstallFailingHeap();
        std::string text(5000, 'x');  // 5000 characters and the terminator
        Use(text);
      },
      ::testing::ExitedWithCode(3), "handler got 5001 bytes");
}

TEST(OutOfMemoryDeathTest, AVectorGrowthReachesTheHandlerWithItsSize) {
  EXPECT_EXIT(
      {
        InstallFailingHeap();
        std::vector<int> numbers;
        numbers.reserve(2000);
        Use(numbers);
      },
      ::testing::ExitedWithCode(3), "handler got 8000 bytes");
}

TEST(OutOfMemoryDeathTest, ARequestOnAnotherThreadReachesTheHandler) {
  EXPECT_EXIT(
      {
        InstallFailingHeap();
        CreateReplyList();
        std::thread worker([] { RebuildReplyList(std::string(6000, 'a')); });
        worker.join();
      },
      ::testing::ExitedWithCode(3), "handler got 6001 bytes");
}

TEST(OutOfMemoryDeathTest, WithoutAHandlerTheProcessEndsWithMinusOne) {
  EXPECT_EXIT(
      {
        SetRawAllocator(FailLargeRequests);
        std::string text(9000, 'x');
        Use(text);
      },
      ::testing::ExitedWithCode(255), "out of memory: a request for 9001 bytes failed");
}

TEST(FormatByteCount, WritesTheSizeAndNeverOverruns) {
  char buffer[32];
  FormatByteCount(buffer, sizeof buffer, "n=", 18446744073709551615ull, "!");
  EXPECT_STREQ(buffer, "n=18446744073709551615!");
  FormatByteCount(buffer, 6, "n=", 123456, "");
  EXPECT_STREQ(buffer, "n=123");
  FormatByteCount(buffer, sizeof buffer, "", 0, "");
  EXPECT_STREQ(buffer, "0");
}

}  // namespace
