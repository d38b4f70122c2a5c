#include <gtest/gtest.h>

// The version formatting is header-only and portable; the rest of the product
// information base is Windows code tested under tests/windows.
#include "package/win/ProductInfo.h"

using namespace zel;

TEST(VersionNumber, MajorDotTwoDigitMinor) {
  struct Case {
    int32_t version;
    const char16_t* text;
  };
  const Case cases[] = {
      {3600, u"3.60"}, {5109, u"5.10"}, {0, u"0.00"},   {5020, u"5.02"},   {4510, u"4.51"},
      {10, u"0.01"},   {9, u"0.00"},    {999, u"0.99"}, {12000, u"12.00"},
  };
  for (const Case& c : cases) EXPECT_EQ(kivo::FormatVersionNumber(c.version), c.text) << c.version;
}
