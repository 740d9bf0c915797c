#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "fixtures.h"
#include "errors.h"
#include "photo_files.h"
#include "exif_reader.h"
#include "graphics.h"
#include "orientation.h"
#include "photo_pipeline.h"
#include "shrink.h"
#include "work_buffers.h"
#include "scratch_safety.h"
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

  std::u16string Photo(const std::string& name, int width, int height, const TempDir* folder = nullptr) {
    (folder ? *folder : dir_).Write(name, fixtures::EncodeJpeg(fixtures::PhotoLikePicture(width, height, 3)));
    return ToWide(folder ? *folder / name : name);
  }
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir dir_;
  TPhotoPipeline pipeline_{THalvingThread::Decoder};
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
  const std::vector<TPhotoStage> expected = {TPhotoStage::Copy,      TPhotoStage::Metadata, TPhotoStage::Read,
                                             TPhotoStage::Decode,    TPhotoStage::LastBands, TPhotoStage::Encode,
                                             TPhotoStage::Write,     TPhotoStage::Move};
  EXPECT_EQ(stages_, expected);
  fixtures::RgbPicture out;
  ASSERT_TRUE(fixtures::DecodeJpeg(fixtures::ReadFile(dir_ / "a+.jpg"), out));
  EXPECT_EQ(out.width, 24);
  EXPECT_EQ(out.height, 16);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a+.jpg", "a.jpg"})) << "scratch files left";
}

TEST_F(PhotoPipeline, AFileWhoseEndIsBrokenIsNeverStored) {
  // Every row decodes, but a second frame header follows the picture: the
  // decode's end still ends the run before anything is stored, with or
  // without the halving thread.
  std::string bytes = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 48, 5));
  ASSERT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9");
  bytes.insert(bytes.size() - 2, std::string("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00", 13));
  dir_.Write("a.jpg", bytes);
  for (const THalvingThread halving : {THalvingThread::Decoder, THalvingThread::Worker}) {
    TPhotoPipeline pipeline(halving);
    EXPECT_THROW(pipeline.Process(u"a.jpg", u"a+.jpg"), EJPEG) << static_cast<int>(halving);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a.jpg"})) << static_cast<int>(halving);
  }
}

TEST_F(PhotoPipeline, ANameSwappedForALinkNeverChangesWhatIsStored) {
  // Right after a file of ours is made, or right before it is named, its
  // name becomes a link to another photo, as a hostile user could make it
  // in the moment between two calls.
  struct stat shm, here;
  const bool otherFileSystem = ::stat("/dev/shm", &shm) == 0 && ::stat(".", &here) == 0 && shm.st_dev != here.st_dev;
  TempDir elsewhere;
  const std::string other = elsewhere.Write("other.jpg", fixtures::EncodeJpeg(fixtures::PhotoLikePicture(96, 64, 9)));
  const std::u16string photo = Photo("a.jpg", 96, 64);
  ASSERT_EQ(pipeline_.Process(photo, u"alone+.jpg").kind, TPhotoOutcome::TKind::Stored);
  const std::string alone = fixtures::ReadFile(dir_ / "alone+.jpg");
  const struct {
    bool atNaming;
    std::string name;  // the end of the name swapped
    bool acrossFileSystems;
  } cases[] = {{false, "1.$$$", false},        {false, "2.$$$", false},        {true, "2.$$$", false},
               {false, ".shrinkwell-", true}, {true, ".shrinkwell-", true}};
  for (const auto& c : cases) {
    if (c.acrossFileSystems && !otherFileSystem) continue;  // no hidden temporary then
    TempDir outputs(c.acrossFileSystems ? "/dev/shm" : dir_.Path());
    bool swapped = false;
    auto swap = [&](const std::string& name) {
      if (swapped || name.find(c.name) == std::string::npos) return;
      swapped = ::unlink(name.c_str()) == 0 && ::symlink(other.c_str(), name.c_str()) == 0;
    };
    TFileEvents events;
    (c.atNaming ? events.naming : events.made) = swap;
    SetFileEvents(events);
    const TPhotoOutcome outcome = pipeline_.Process(photo, ToWide(outputs / "a+.jpg"));
    SetFileEvents({});
    const std::string what = c.name + (c.atNaming ? " at naming" : " when made");
    EXPECT_TRUE(swapped) << what;
    EXPECT_EQ(outcome.kind, TPhotoOutcome::TKind::Stored) << what;
    EXPECT_FALSE(std::filesystem::is_symlink(outputs / "a+.jpg")) << what;
    EXPECT_EQ(fixtures::ReadFile(outputs / "a+.jpg"), alone) << what;
    EXPECT_EQ(fixtures::ReadFile(other), fixtures::EncodeJpeg(fixtures::PhotoLikePicture(96, 64, 9))) << what;
    // The planted link is someone else's to remove; nothing of ours is left.
    for (const std::string& folder : {dir_.Path(), outputs.Path()}) {
      for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename();
        if (entry.is_symlink()) {
          EXPECT_NE(name.find(c.name), std::string::npos) << what << ": " << name;
          std::filesystem::remove(entry.path());
        } else {
          EXPECT_TRUE(name == "a+.jpg" || name == "a.jpg" || name == "alone+.jpg" ||
                      name.rfind("shrinkwell-test-", 0) == 0)
              << what << ": " << name;
        }
      }
    }
  }
}

namespace {

// The design's own way to the copy: the whole picture decoded, shrunk in
// two passes over the work buffers and turned, then encoded; empty where
// it is too small to give one.
std::string ReferenceCopy(const std::string& photo) {
  TimgData metadata(255);
  TMemoryStream stream(photo.data(), photo.size());
  metadata.ScanJpegFile(stream);
  const TTurn turn = metadata.HasExif() && metadata.ImageInfo()->TagIndexByName("Orientation") >= 0
                         ? TurnForOrientationText(metadata.ImageInfo()->TagTextByName("Orientation"))
                         : TTurn::None;
  TJPEGImage jpeg;
  jpeg.TakeCompressed(photo);
  auto raster = std::make_unique<TBitmap>();
  raster->CopyPicture(jpeg);
  raster->SetRasterFormat(rf24Bit);
  if (raster->PixelWidth() < 4 || raster->PixelHeight() < 4) return std::string();
  TWorkBuffers buffers;
  ShrinkAndRotate(raster, turn, buffers);
  TJPEGImage copy;
  copy.CopyPicture(*raster);
  copy.SetEncodeQuality(88);
  copy.SetWriteProgressive(jpeg.WriteProgressive());
  const std::string& profile = jpeg.IccProfile();
  if (profile.size() >= 20 && profile.compare(16, 4, "RGB ") == 0) copy.SetIccProfile(profile);
  copy.EnsureEncoded();
  return *copy.CompressedBytes();
}

}  // namespace

TEST_F(PhotoPipeline, GoldenSetGivesWhatTheReferencePathGives) {
  // On any processor and with any libjpeg: the recorded sums hold for one
  // libjpeg only, this agreement everywhere.
  for (const THalvingThread halving : {THalvingThread::Decoder, THalvingThread::Worker}) {
    TPhotoPipeline pipeline(halving);
    for (const auto& [name, bytes] : fixtures::GoldenSet()) {
      dir_.Write(name, bytes);
      const TPhotoOutcome outcome = pipeline.Process(ToWide(name), u"copy.jpg");
      const std::string reference = ReferenceCopy(bytes);
      EXPECT_EQ(outcome.kind, reference.empty() ? TPhotoOutcome::TKind::TooSmall : TPhotoOutcome::TKind::Stored) << name;
      if (!reference.empty()) {
        EXPECT_TRUE(fixtures::ReadFile(dir_ / "copy.jpg") == reference) << name;
      }
      std::filesystem::remove(dir_ / "copy.jpg");
      std::filesystem::remove(dir_ / name);
    }
  }
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
  // Another program takes the name while the copy is being written.
  pipeline_.SetStageObserver([this](TPhotoStage stage, double) {
    if (stage == TPhotoStage::Write) dir_.Write("a+.jpg", "someone else's");
  });
  EXPECT_EQ(pipeline_.Process(Photo("a.jpg", 32, 32), u"a+.jpg").kind, TPhotoOutcome::TKind::OutputExists);
  EXPECT_EQ(fixtures::ReadFile(dir_ / "a+.jpg"), "someone else's");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a+.jpg", "a.jpg"})) << "the finished scratch file must go";
}

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// A file-size limit stands in for a full disk: writes beyond it fail.
class FileSizeLimit {
 public:
  FileSizeLimit() {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
  void Set(rlim_t bytes) {
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }

 private:
  rlimit saved_{};
};

}  // namespace

TEST_F(PhotoPipeline, ScratchCopiesAreFilesOfOurOwnAndAPrivatePhotoStaysPrivate) {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (const mode_t sourceMode : {0600, 0644, 0444}) {
    const std::u16string photo = Photo("p.jpg", 48, 48);
    ASSERT_EQ(::chmod("p.jpg", sourceMode), 0);
    pipeline_.SetStageObserver([](TPhotoStage stage, double) {
      if (stage == TPhotoStage::Copy) {
        EXPECT_EQ(ModeOf("1.$$$"), S_IFREG | 0600);
      }
    });
    ASSERT_EQ(pipeline_.Process(photo, u"p+.jpg").kind, TPhotoOutcome::TKind::Stored);
    // What a new file of the user's would be, but never more open than the photo.
    EXPECT_EQ(ModeOf("p+.jpg"), S_IFREG | ((0666 & ~mask) & (sourceMode | 0600))) << std::oct << sourceMode;
    std::filesystem::remove("p+.jpg");
    std::filesystem::remove("p.jpg");
  }
}

TEST_F(PhotoPipeline, FullDiskLeavesNoPartialFile) {
  FileSizeLimit limit;
  // While "2.$$$" is written: the run ends, and the scratch file goes.
  pipeline_.SetStageObserver([&limit](TPhotoStage stage, double) {
    if (stage == TPhotoStage::LastBands) limit.Set(100);
  });
  EXPECT_THROW(pipeline_.Process(Photo("a.jpg", 256, 256), u"a+.jpg"), EWriteError);
  limit.Set(RLIM_INFINITY);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.jpg"}));

  // At the move to another file system: the copy is not stored, and no
  // partial file is left under the output's name or any other.
  struct stat shm, here;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(".", &here) != 0 || shm.st_dev == here.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  TempDir other("/dev/shm");
  pipeline_.SetStageObserver([&limit](TPhotoStage stage, double) {
    if (stage == TPhotoStage::Write) limit.Set(100);
  });
  const TPhotoOutcome outcome = pipeline_.Process(Photo("b.jpg", 256, 256, &other), ToWide(other / "b+.jpg"));
  limit.Set(RLIM_INFINITY);
  EXPECT_EQ(outcome.kind, TPhotoOutcome::TKind::StoreFailed);
  EXPECT_EQ(outcome.systemError, EFBIG);
  EXPECT_EQ(Entries(), (std::vector<std::string>{"a.jpg"}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.Path()), {}), 1) << "only the photo";
}

TEST_F(PhotoPipeline, InterruptionAfterEachStageTakesTheScratchFilesAlong) {
  // Each signal once for each stage that leaves a file of ours behind it:
  // sent to the process, as Ctrl+C, kill and a closed terminal send them.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const TPhotoStage stage : {TPhotoStage::Copy, TPhotoStage::Decode, TPhotoStage::Write, TPhotoStage::Move}) {
      const std::u16string photo = Photo("a.jpg", 128, 96);
      const pid_t child = ::fork();
      if (child == 0) {
        ::signal(signal, SIG_DFL);  // as from a terminal, whatever the test runner ignores
        InstallInterruptCleanup();
        pipeline_.SetStageObserver([stage, signal](TPhotoStage now, double) {
          if (now == stage) {
            ::kill(::getpid(), signal);
            ::pause();  // the interruption ends the process
          }
        });
        pipeline_.Process(photo, u"a+.jpg");
        ::_exit(0);  // not interrupted: the test fails below
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      const std::string what = std::to_string(signal) + " after stage " + std::to_string(static_cast<int>(stage));
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << what;
      // Only after the move is there a copy, and it is whole.
      const std::vector<std::string> expected =
          stage == TPhotoStage::Move ? std::vector<std::string>{"a+.jpg", "a.jpg"} : std::vector<std::string>{"a.jpg"};
      EXPECT_EQ(Entries(), expected) << what;
      std::filesystem::remove("a+.jpg");
    }
  }
}
