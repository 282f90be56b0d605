// Throughput of the marker search, the line split and the reply-list rebuild on large texts.
// Every text is built in memory at start-up from a fixed seed, so runs compare like with like.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "clipboard_check.h"
#include "reply_list.h"
#include "text.h"
#include "tick_count.h"

// reply_list needs a tick count for seeding; the rebuild never asks for one.
uint32_t TickCount() { return 0; }

namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kLargeSize = 32 * kMiB;
constexpr size_t kSmallSize = 8 * kMiB;
constexpr size_t kReplyTextSize = kMiB;
constexpr size_t kReplyLines = 20000;

class TextMaker {
 public:
  explicit TextMaker(uint32_t seed) : random_(seed) {}

  // Below `limit` and reproducible: raw engine output, not a distribution whose results differ
  // between standard libraries.
  uint32_t Below(uint32_t limit) { return static_cast<uint32_t>(random_() % limit); }

  // One GBK-range hanzi: lead 0xB0..0xF7, trail 0xA1..0xFE.
  void Hanzi(std::string& out) {
    out += static_cast<char>(0xB0 + Below(0xF7 - 0xB0 + 1));
    out += static_cast<char>(0xA1 + Below(0xFE - 0xA1 + 1));
  }

  // Chinese runs, ASCII words and, when `breaks`, line breaks, until `out` holds `size` bytes.
  // Every character is whole: a hanzi that would not fit becomes a letter.
  void Mixed(std::string& out, size_t size, bool breaks) {
    while (out.size() < size) {
      const uint32_t kind = Below(20);
      if (kind < 13) {
        for (uint32_t n = 1 + Below(12); n > 0 && out.size() + 2 <= size; --n) Hanzi(out);
      } else if (kind < 19 || !breaks) {
        for (uint32_t n = 2 + Below(7); n > 0 && out.size() < size; --n) {
          out += static_cast<char>('a' + Below(26));
        }
        if (out.size() < size) out += ' ';
      } else if (out.size() + 2 <= size) {
        out += "\r\n";
      }
    }
  }

 private:
  std::mt19937 random_;
};

std::string Repeat(std::string_view unit, size_t size) {
  std::string text;
  text.reserve(size + unit.size());
  while (text.size() < size) text.append(unit);
  text.resize(size);
  return text;
}

// 32 MB of GBK Chinese with ASCII words and line breaks. The marker's bytes occur nowhere, not
// even off a boundary, so every search reads to the end.
const std::string& GbkText() {
  static const std::string text = [] {
    std::string built;
    built.reserve(kLargeSize);
    TextMaker(20240531).Mixed(built, kLargeSize, true);
    if (memmem(built.data(), built.size(), AutoSendMarker.data(), AutoSendMarker.size())) {
      std::fprintf(stderr, "core_bench: the GBK text holds the marker's bytes\n");
      std::exit(1);
    }
    return built;
  }();
  return text;
}

// 0x81, the marker, 0x81, over and over: every byte-wise occurrence of the marker begins on a
// trail byte (the 18-byte unit keeps the pairing the same in every unit), and no byte is below
// 0x80, so nothing short of the last known boundary settles where a character begins.
const std::string& OffBoundaryText() {
  static const std::string text =
      Repeat("\x81" + std::string(AutoSendMarker) + "\x81", kLargeSize);
  return text;
}

// The marker's first byte, 0xCA, and nothing else: a search led by that byte stops everywhere.
const std::string& FirstByteText() {
  static const std::string text = Repeat("\xCA", kLargeSize);
  return text;
}

// The marker with its last byte changed, on a boundary every time: 15 bytes agree at each.
const std::string& NearMissText() {
  static const std::string text = [] {
    std::string unit(AutoSendMarker);
    unit.back() = '\xCE';
    return Repeat(unit, kLargeSize);
  }();
  return text;
}

// 1 MiB in exactly 20,000 lines, each ended by a line break, of 50 or 51 bytes of mixed text.
const std::string& ReplyText() {
  static const std::string text = [] {
    TextMaker maker(7);
    std::string built;
    built.reserve(kReplyTextSize);
    for (size_t line = 1; line <= kReplyLines; ++line) {
      const size_t end = line * kReplyTextSize / kReplyLines - 2;
      maker.Mixed(built, end, false);
      built += "\r\n";
    }
    if (built.size() != kReplyTextSize || SplitOnSeparator(built, "\r\n").size() != kReplyLines) {
      std::fprintf(stderr, "core_bench: the reply text is not 1 MiB in 20,000 lines\n");
      std::exit(1);
    }
    return built;
  }();
  return text;
}

// Every text is built so that the marker is not found: a search that stopped early would time
// nothing.
void ContainsMarker(benchmark::State& state, const std::string& source) {
  const std::string_view text(source.data(), static_cast<size_t>(state.range(0)));
  if (ContainsPattern(text, AutoSendMarker)) {
    state.SkipWithError("the marker is found in this text");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ContainsPattern(text, AutoSendMarker));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// The byte-wise search of the C library, blind to character boundaries: the baseline.
void MemmemMarker(benchmark::State& state, const std::string& source) {
  const std::string_view text(source.data(), static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        memmem(text.data(), text.size(), AutoSendMarker.data(), AutoSendMarker.size()));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ContainsPattern_Gbk(benchmark::State& state) { ContainsMarker(state, GbkText()); }
void BM_Memmem_Gbk(benchmark::State& state) { MemmemMarker(state, GbkText()); }
void BM_ContainsPattern_OffBoundary(benchmark::State& state) {
  ContainsMarker(state, OffBoundaryText());
}
void BM_ContainsPattern_FirstByteEverywhere(benchmark::State& state) {
  ContainsMarker(state, FirstByteText());
}
void BM_Memmem_FirstByteEverywhere(benchmark::State& state) {
  MemmemMarker(state, FirstByteText());
}
void BM_ContainsPattern_NearMiss(benchmark::State& state) { ContainsMarker(state, NearMissText()); }
void BM_Memmem_NearMiss(benchmark::State& state) { MemmemMarker(state, NearMissText()); }

void BM_RebuildReplyList(benchmark::State& state) {
  const std::string& text = ReplyText();
  CreateReplyList();
  for (auto _ : state) {
    RebuildReplyList(text);
  }
  ReleaseReplyList();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

// The previous list is freed only once the next one exists, as a rebuild does. Freeing every list
// before the next split lets malloc hand the pages back to the system each time, and the page
// faults of taking them again would then be most of what is timed.
void BM_SplitOnSeparator(benchmark::State& state) {
  const std::string& text = ReplyText();
  TextList previous;
  for (auto _ : state) {
    TextList items = SplitOnSeparator(text, "\r\n");
    benchmark::DoNotOptimize(items.data());
    previous.swap(items);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

const auto kLarge = static_cast<int64_t>(kLargeSize);
const auto kSmall = static_cast<int64_t>(kSmallSize);

// memmem would stop at the very first byte-wise occurrence in the off-boundary text, so it has no
// baseline there.
BENCHMARK(BM_ContainsPattern_Gbk)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem_Gbk)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsPattern_OffBoundary)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsPattern_FirstByteEverywhere)
    ->Arg(kSmall)
    ->Arg(kLarge)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem_FirstByteEverywhere)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsPattern_NearMiss)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem_NearMiss)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RebuildReplyList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitOnSeparator)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
