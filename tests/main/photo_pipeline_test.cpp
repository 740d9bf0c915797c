#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "fixtures.h"
#include "photo_pipeline.h"
#include "temp_dir.h"
#include "wide_names.h"

using namespace shrinkwell;
using testing_support::TempDir;

namespace {

// The scratch files lie in the working directory: each test works in a
// folder of its own.
class PhotoPipeline : public testing::Test {
 protected:
  PhotoPipeline() : previous_(std::filesystem::current_path()) { std::filesystem::current_path(dir_.Path()); }
  ~PhotoPipeline() override { std::filesystem::current_path(previous_); }

  std::u16string Photo(const std::string& name, int width, int height) {
    dir_.Write(name, fixtures::EncodeJpeg(fixtures::PhotoLikePicture(width, height, 3)));
    return ToWide(name);
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  TPhotoPipeline pipeline_;
  std::vector<TPhotoStage> stages_;

 private:
  std::filesystem::path previous_;
};

}  // namespace

TEST_F(PhotoPipeline, StoresTheCopyThroughEveryStageInOrder) {
  pipeline_.SetStageObserver([this](TPhotoStage stage, double seconds) {
    EXPECT_GE(seconds, 0.0);
    stages_.push_back(stage);
  });
  const TPhotoOutcome outcome = pipeline_.Process(Photo("a.jpg", 96, 64), u"a+.jpg");
  EXPECT_EQ(outcome.kind, TPhotoOutcome::TKind::Stored);
  const std::vector<TPhotoStage> expected = {TPhotoStage::Copy,   TPhotoStage::Metadata, TPhotoStage::Read,
                                             TPhotoStage::Decode, TPhotoStage::Shrink,   TPhotoStage::Turn,
                                             TPhotoStage::Encode, TPhotoStage::Move};
  EXPECT_EQ(stages_, expected);
  fixtures::RgbPicture out;
  ASSERT_TRUE(fixtures::DecodeJpeg(fixtures::ReadFile(dir_ / "a+.jpg"), out));
  EXPECT_EQ(out.width, 24);
  EXPECT_EQ(out.height, 16);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a+.jpg", "a.jpg"})) << "scratch files left";
}

TEST_F(PhotoPipeline, TakenOutputNameIsSkippedBeforeAnyWork) {
  // Also a dangling link counts: the move would refuse that name too.
  for (const std::string taken : {"kept+.jpg", "link+.jpg"}) {
    if (taken == "link+.jpg") {
      ASSERT_EQ(::symlink("nowhere", taken.c_str()), 0);
    } else {
      dir_.Write(taken, "first output");
    }
    pipeline_.SetStageObserver([this](TPhotoStage stage, double) { stages_.push_back(stage); });
    // Not even a photo: nothing may be read before the check.
    dir_.Write("broken.jpg", "not a JPEG");
    EXPECT_EQ(pipeline_.Process(u"broken.jpg", ToWide(taken)).kind, TPhotoOutcome::TKind::OutputExists) << taken;
    EXPECT_TRUE(stages_.empty()) << taken;
  }
  EXPECT_EQ(fixtures::ReadFile(dir_ / "kept+.jpg"), "first output");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"broken.jpg", "kept+.jpg", "link+.jpg"}));
}

TEST_F(PhotoPipeline, OutputThatAppearsDuringTheWorkIsNeverReplaced) {
  // Another program takes the name while the photo is being encoded.
  pipeline_.SetStageObserver([this](TPhotoStage stage, double) {
    if (stage == TPhotoStage::Encode) dir_.Write("a+.jpg", "someone else's");
  });
  EXPECT_EQ(pipeline_.Process(Photo("a.jpg", 32, 32), u"a+.jpg").kind, TPhotoOutcome::TKind::OutputExists);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "a+.jpg"), "someone else's");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a+.jpg", "a.jpg"})) << "the finished scratch file must go";
}
