#include "update/error_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using update::formatErrorText;

namespace {

TEST(FormatErrorText, PercentSequences) {
  const std::int32_t code = 10054;
  EXPECT_EQ(formatErrorText(u"Download error code %i", &code), u"Download error code 10054");
  EXPECT_EQ(formatErrorText(u"%d / %i / 100%%", &code), u"10054 / %i / 100%");
  const std::int32_t lowest = INT32_MIN;
  EXPECT_EQ(formatErrorText(u"%i", &lowest), u"-2147483648");
  // Without a value every directive stands as written; "%%" still halves.
  EXPECT_EQ(formatErrorText(u"%i %s %n %% %", nullptr), u"%i %s %n % %");
}

TEST(FormatErrorText, CutTo127UnitsWithoutSplittingACharacter) {
  const std::u16string face = u"\U0001F600";  // two units
  EXPECT_EQ(formatErrorText(std::u16string(200, u'a'), nullptr), std::u16string(127, u'a'));

  // A pair that would straddle the cut is left out whole.
  std::u16string straddling = std::u16string(126, u'a') + face + u"tail";
  EXPECT_EQ(formatErrorText(straddling, nullptr), std::u16string(126, u'a'));
  // One that ends right at the cut is kept.
  std::u16string fitting = std::u16string(125, u'a') + face + u"tail";
  EXPECT_EQ(formatErrorText(fitting, nullptr), std::u16string(125, u'a') + face);
  // The same when the value's digits push the pair to the cut.
  const std::int32_t code = 12;
  std::u16string pushed = u"%i" + std::u16string(124, u'a') + face;
  EXPECT_EQ(formatErrorText(pushed, &code), u"12" + std::u16string(124, u'a'));
  // An unpaired surrogate is the page's own text and is not mended.
  std::u16string lone = std::u16string(126, u'a') + u'\xD83D' + u'b';
  EXPECT_EQ(formatErrorText(lone, nullptr), std::u16string(126, u'a') + u'\xD83D');
}

}  // namespace
