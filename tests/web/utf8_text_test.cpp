// Names shown on the page: UTF-8 in, UTF-16 out, nothing cut short.
#include "web/utf8_text.h"

#include <gtest/gtest.h>

namespace {

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

}  // namespace
