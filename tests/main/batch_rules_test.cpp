#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "batch.h"
#include "photo_queue.h"

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

TEST(PhotosInFlight, ProcessorsSettingPhotosAndMemoryEachBound) {
  struct Case {
    int available;
    const char* setting;
    size_t photos;
    uint64_t memory;
    size_t expected;
  };
  constexpr uint64_t kGiB = uint64_t{1} << 30;
  const Case cases[] = {
      {2, nullptr, 50, 24 * kGiB, 2},  // one per processor
      {16, nullptr, 50, 24 * kGiB, 16},
      {16, nullptr, 3, 24 * kGiB, 3},  // never more than the photos
      {2, "64", 100, 64 * kGiB, 64},   // the setting over the processors
      {2, "64", 100, 24 * kGiB, 32},   // a quarter of 24 GiB holds 32
      {16, "1", 50, 24 * kGiB, 1},
      {8, "0", 50, 24 * kGiB, 8},      // not a whole number from 1: ignored
      {8, "two", 50, 24 * kGiB, 8},
      {8, "-3", 50, 24 * kGiB, 8},
      {8, "", 50, 24 * kGiB, 8},
      {64, nullptr, 100, 2 * kGiB, 2},  // a quarter of 2 GiB holds two
      {64, nullptr, 100, 512ull << 20, 1},  // at least one
      {4, nullptr, 100, 0, 4},          // memory unknown
      {0, nullptr, 0, 24 * kGiB, 1},
  };
  for (const Case& c : cases) {
    const int processors = ProcessorsToUse(c.available, c.setting);
    EXPECT_EQ(PhotosInFlight(c.photos, processors, c.memory), c.expected)
        << c.available << " " << (c.setting ? c.setting : "(none)") << " " << c.photos << " " << c.memory;
  }
}

TEST(MemoryBudget, AShareWaitsUntilItFitsAndOneLargerThanAllGoesAlone) {
  TMemoryBudget budget(100);
  std::optional<TMemoryBudget::TShare> first(budget.Take(60));
  std::atomic<bool> second{false}, huge{false};
  std::thread waiting([&] {
    const TMemoryBudget::TShare share = budget.Take(60);
    second = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(second) << "60 more did not fit beside 60 of 100";
  first.reset();
  waiting.join();
  EXPECT_TRUE(second);
  std::thread alone([&] {
    const TMemoryBudget::TShare share = budget.Take(1000);
    huge = true;
  });
  alone.join();  // nothing else taken: it goes, or this waits forever
  EXPECT_TRUE(huge);
  TMemoryBudget unbounded(0);
  const TMemoryBudget::TShare a = unbounded.Take(uint64_t{1} << 62), b = unbounded.Take(uint64_t{1} << 62);
}
