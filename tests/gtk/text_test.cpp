#include <gtest/gtest.h>

#include "platform/gtk/text.h"

namespace platform::gtk {
namespace {

TEST(Text, ConvertsBothWaysAndReplacesWhatCannotBeConverted) {
  const std::u16string mixed = u"a\u00E9\u20AC\U0001F600z";
  const std::string mixedUtf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
  EXPECT_EQ(utf8Of(mixed), mixedUtf8);
  EXPECT_EQ(utf16Of(mixedUtf8), mixed);

  // Unpaired surrogates, alone, at the end, and in the wrong order.
  const std::u16string broken = {u'x', 0xD83D, u'y', 0xDE00, 0xDE00, 0xD83D};
  EXPECT_EQ(utf8Of(broken), "x\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");

  // Malformed UTF-8: a stray continuation byte and a truncated sequence.
  EXPECT_EQ(utf16Of("a\x80"
                    "b\xE2\x82"),
            (std::u16string{u'a', 0xFFFD, u'b', 0xFFFD, 0xFFFD}));

  // NULs survive in both directions.
  EXPECT_EQ(utf8Of(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(utf16Of(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(utf8Of(u""), "");
  EXPECT_EQ(utf16Of(""), u"");
}

}  // namespace
}  // namespace platform::gtk
