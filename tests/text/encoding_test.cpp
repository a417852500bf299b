// The launcher's text conversions: UTF-8, UTF-16 and Latin-1 bytes, nothing
// cut short, what cannot be converted replaced or refused.
#include "text/encoding.h"

#include <gtest/gtest.h>

namespace text {
namespace {

// Names shown on the page: UTF-8 in, UTF-16 out, nothing cut short.
TEST(Utf16FromUtf8, LettersOfEveryLengthAndAReplacementForWhatIsNotText) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"Espa\xc3\xb1"
       "a.txt",
       u"Espa\u00f1a.txt"},
      {"\xc5\x81ukasz \xe2\x82\xac \xf0\x9f\x8e\xae", u"\u0141ukasz \u20ac \U0001F3AE"},
      // A Latin-1 byte, an overlong form, a surrogate, a cut sequence.
      {"Espa\xf1"
       "a",
       u"Espa\ufffd"
       "a"},
      {"\xc0\xaf", u"\ufffd\ufffd"},
      {"\xed\xa0\x80", u"\ufffd\ufffd\ufffd"},
      {"ab\xe2\x82", u"ab\ufffd\ufffd"},
  };
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(utf16FromUtf8(utf8), utf16) << utf8;
}

TEST(Text, ConvertsBothWaysAndReplacesWhatCannotBeConverted) {
  const std::u16string mixed = u"a\u00E9\u20AC\U0001F600z";
  const std::string mixedUtf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(utf8FromUtf16(mixed), mixedUtf8);
  EXPECT_EQ(utf16FromUtf8(mixedUtf8), mixed);

  // Unpaired surrogates, alone, at the end, and in the wrong order.
  const std::u16string broken = {u'x', 0xD83D, u'y', 0xDE00, 0xDE00, 0xD83D};
  EXPECT_EQ(utf8FromUtf16(broken), "x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  // Malformed UTF-8: a stray continuation byte and a truncated sequence.
  EXPECT_EQ(utf16FromUtf8("a\x80"
                          "b\xE2\x82"),
            (std::u16string{u'a', 0xFFFD, u'b', 0xFFFD, 0xFFFD}));

  // NULs survive in both directions.
  EXPECT_EQ(utf8FromUtf16(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(utf16FromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(utf8FromUtf16(u""), "");
  EXPECT_EQ(utf16FromUtf8(""), u"");
}

// A text that names a file converts whole or not at all.
TEST(Utf16FromWellFormedUtf8, RefusesWhatTheReplacingFormWouldReplace) {
  EXPECT_EQ(utf16FromWellFormedUtf8("\xc5\x81ukasz\\\xf0\x9f\x8e\xae"), u"\u0141ukasz\\\U0001F3AE");
  EXPECT_EQ(utf16FromWellFormedUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(utf16FromWellFormedUtf8(""), u"");
  for (const char* malformed : {"Espa\xf1"
                                "a",
                                "\xc0\xaf", "\xed\xa0\x80", "ab\xe2\x82", "\xf4\x90\x80\x80", "a\x80"}) {
    EXPECT_EQ(utf16FromWellFormedUtf8(malformed), std::nullopt) << malformed;
  }
}

// The update server's side is bytes: "%f1" is the byte 0xF1 there.
TEST(Latin1, WidensEachByteAndNarrowsToTheLowByte) {
  EXPECT_EQ(utf16FromLatin1("Espa\xf1"
                            "a\x7f\x80"),
            u"Espa\u00f1a\u007f\u0080");
  EXPECT_EQ(latin1FromUtf16(u"Espa\u00f1a\u0080"),
            "Espa\xf1"
            "a\x80");
  // Above U+00FF only the low byte is left.
  EXPECT_EQ(latin1FromUtf16(u"\u0141\u20ac"), "\x41\xac");
  EXPECT_EQ(utf8FromLatin1("Espa\xf1"
                           "a \xe1\x7f"),
            "Espa\xc3\xb1"
            "a \xc3\xa1\x7f");
}

// A Western Windows studio's names: Latin-1 but for 0x80..0x9F.
TEST(Windows1252, ReadsTheCodePageAndTellsUtf8Apart) {
  EXPECT_EQ(utf8FromWindows1252("Ping\xfcino \xd1"
                                "and\xfa \xe7"
                                "a"),
            "Ping\u00fcino \u00d1and\u00fa \u00e7a");
  EXPECT_EQ(utf8FromWindows1252("\x80\x8a\x9f\x99\x85"), "\u20ac\u0160\u0178\u2122\u2026");
  EXPECT_EQ(utf8FromWindows1252("\x81\x8d\x8f\x90\x9d"), "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d");
  EXPECT_EQ(utf8FromWindows1252("plain \x7f"), "plain \x7f");
  for (const char* text : {"", "ascii", "Ping\xc3\xbcino", "\xe2\x82\xac", "\xf0\x9f\x8e\xae"}) {
    EXPECT_TRUE(isWellFormedUtf8(text)) << text;
  }
  for (const char* text : {"Ping\xfcino", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82"}) {
    EXPECT_FALSE(isWellFormedUtf8(text)) << text;
  }
  // One sequence at a time, as the name checks step through a name.
  const std::string_view mixed = "a\xc3\xb1\xe2\x82\xac\xf0\x9f\x8e\xae\xed\xa0\x80\xc3";
  const std::size_t lengths[] = {1, 2, 0, 3, 0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0};
  for (std::size_t at = 0; at <= mixed.size(); ++at) EXPECT_EQ(utf8SequenceLength(mixed, at), lengths[at]) << at;
}

}  // namespace
}  // namespace text
