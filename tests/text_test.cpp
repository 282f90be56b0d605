#include "text.h"

#include <gtest/gtest.h>

#include "clipboard_check.h"

namespace {

const std::string S = "\r\n";
const std::string marker(AutoSendMarker);

struct SplitCase {
  const char* name;
  std::string text;
  TextList items;
};

TEST(SplitOnSeparator, CutsAtEveryLineBreakOnACharacterBoundary) {
  const SplitCase cases[] = {
      {"empty", "", {}},
      {"x", "ab", {"ab"}},
      {"x S y", "ab" + S + "cd", {"ab", "cd"}},
      {"x S", "ab" + S, {"ab"}},
      {"x S S", "ab" + S + S, {"ab", ""}},
      {"x S S y", "ab" + S + S + "cd", {"ab", "", "cd"}},
      {"S", S, {""}},
      {"S S", S + S, {"", ""}},
      {"S x", S + "ab", {"", "ab"}},
      {"lead byte swallows CR", "\x81\r\nA", {"\x81\r\nA"}},
      {"CR before a pair stays", "\r\r\n", {"\r"}},
      {"LF CR is no pair", "\n\r", {"\n\r"}},
      {"ends in a lone lead byte", "A\x81", {"A\x81"}},
      {"lone lead byte after a line", "A\r\n\x81", {"A", "\x81"}},
      {"two-byte chars then a break", "\xC4\xE3\xBA\xC3\r\n\xCA\xC0", {"\xC4\xE3\xBA\xC3", "\xCA\xC0"}},
      {"0x80 and 0xFF are lead bytes", "\x80\r\n\xFF\r\nx", {"\x80\r\n\xFF\r\nx"}},
      {"trail byte 0x0D, then a real break", "\xB0\r\r\nz", {"\xB0\r", "z"}},
  };
  for (const SplitCase& c : cases) {
    EXPECT_EQ(SplitOnSeparator(c.text, S), c.items) << c.name;
  }
}

TEST(SplitOnSeparator, OtherSeparators) {
  EXPECT_EQ(SplitOnSeparator("abc", ""), TextList{"abc"});
  EXPECT_EQ(SplitOnSeparator("a;b;;c", ";"), (TextList{"a", "b", "", "c"}));
  // A separator that would begin in the trail byte of a pair is no separator.
  EXPECT_EQ(SplitOnSeparator("\x81;a;b", ";"), (TextList{"\x81;a", "b"}));
  // A separator longer than the text.
  EXPECT_EQ(SplitOnSeparator("a", "abc"), TextList{"a"});
}

struct FindCase {
  const char* name;
  std::string text;
  bool found;
};

TEST(ContainsPattern, FindsTheMarkerOnlyWhereACharacterBegins) {
  const FindCase cases[] = {
      {"alone", marker, true},
      {"at the start", marker + "tail", true},
      {"in the middle", "head " + marker + " tail", true},
      {"at the end", "\xC4\xE3\xBA\xC3" + marker, true},
      {"after an ASCII byte", "A" + marker, true},
      {"after a lead byte", "\x81" + marker, false},
      {"after a full pair", "\x81\x81" + marker, true},
      {"after three high bytes", "\x81\x81\x81" + marker, false},
      {"after a pair whose trail is low", "\x81" "A" + marker, true},
      {"missing last byte", marker.substr(0, 15), false},
      {"half the marker", marker.substr(0, 8), false},
      {"one byte changed", marker.substr(0, 15) + "\xCE", false},
      {"empty text", "", false},
      {"shorter than the marker", "\xCA\xB9", false},
      {"off boundary, then on", "\x81" + marker + "A" + marker, true},
      {"off boundary twice", "\x81" + marker + "\x81" + marker.substr(0, 15), false},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(ContainsPattern(c.text, AutoSendMarker), c.found) << c.name;
  }
}

TEST(ContainsPattern, ShortAndEmptyPatterns) {
  EXPECT_TRUE(ContainsPattern("a", ""));
  EXPECT_FALSE(ContainsPattern("", ""));
  EXPECT_TRUE(ContainsPattern("\x81", "\x81"));    // a lone last lead byte is a character
  EXPECT_FALSE(ContainsPattern("\x81\x81", "\x81\x81\x81"));
  EXPECT_FALSE(ContainsPattern("\x81" "A", "A"));  // the A is a trail byte
  EXPECT_TRUE(ContainsPattern("\x81" "AA", "A"));
}

}  // namespace
