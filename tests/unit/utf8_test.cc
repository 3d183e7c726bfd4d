#include <gtest/gtest.h>

#include "platform/system.h"

namespace quillmarsh::test {
namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

TEST(Utf8, RoundTripsEveryEncodedLength) {
  const std::string text = "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80z";  // a é € 😀 z
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, u'z'}));
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf8, InvalidInputBecomesReplacementCharacters) {
  // A lone continuation byte, an overlong form, a truncated sequence at the
  // end, an encoded surrogate and a byte that starts nothing.
  EXPECT_EQ(Utf8ToUtf16("\x80"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("x\xe2\x82"), u"x\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xff!"), u"\uFFFD!");
  EXPECT_EQ(Utf8ToUtf16(std::string("\0a", 2)), std::u16string(u"\0a", 2));
}

TEST(Utf8, UnpairedSurrogatesAreEncodedAsTheyStand) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a'}),
            "\xed\xa0\x80"
            "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDC00}), "\xed\xb0\x80");
}

}  // namespace
}  // namespace quillmarsh::test
