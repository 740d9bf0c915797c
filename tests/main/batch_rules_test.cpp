#include <gtest/gtest.h>

#include "batch.h"

using namespace shrinkwell;

TEST(ZeroPad, FillsToTheWidthAndNeverCuts) {
  EXPECT_EQ(ZeroPad(1, 2), "01");
  EXPECT_EQ(ZeroPad(12, 2), "12");
  EXPECT_EQ(ZeroPad(123, 2), "123");
  EXPECT_EQ(ZeroPad(0, 2), "00");
  EXPECT_EQ(ZeroPad(7, 0), "7");
}

TEST(Extension, LastDotAfterTheLastPathDelimiter) {
  EXPECT_EQ(ExtensionOf("holiday.jpg"), ".jpg");
  EXPECT_EQ(ExtensionOf("x.jpg.bak"), ".bak");
  EXPECT_EQ(ExtensionOf("noext"), "");
  EXPECT_EQ(ExtensionOf("C:\\my.photos\\readme"), "");
  EXPECT_EQ(ExtensionOf("my.photos/readme"), "");
  EXPECT_EQ(ExtensionOf("C:x"), "");
  EXPECT_EQ(ExtensionOf("dir/.jpg"), ".jpg");
  EXPECT_EQ(ExtensionOf("trailing."), ".");
}

TEST(Extension, OnlyJpgAndJpegQualifyInAnyCase) {
  for (const char* yes : {".jpg", ".JPG", ".Jpg", ".jpeg", ".JPEG", ".jPeG"}) EXPECT_TRUE(IsJpegExtension(yes)) << yes;
  for (const char* no : {"", ".", ".jpe", ".jfif", ".png", ".jpg ", ".jpgx", "jpg"}) EXPECT_FALSE(IsJpegExtension(no)) << no;
}

TEST(OutputName, PlusBeforeTheExtensionInItsOwnCase) {
  EXPECT_EQ(OutputNameFor(u"holiday.jpg", u".jpg"), u"holiday+.jpg");
  EXPECT_EQ(OutputNameFor(u"DSC01.JPEG", u".JPEG"), u"DSC01+.JPEG");
  EXPECT_EQ(OutputNameFor(u"/photos/\u65e5 a.Jpeg", u".Jpeg"), u"/photos/\u65e5 a+.Jpeg");
}
