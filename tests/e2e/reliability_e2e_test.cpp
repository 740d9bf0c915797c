// Runs that could lose or damage a file: planted links, stale scratch files,
// two runs in one folder, interruptions, header bombs, photos too small to
// shrink, outputs that cannot be stored. Each test checks that no source
// changed, nothing outside the working and photo folders changed, and
// nothing partial is left.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "fixtures.h"
#include "run_program.h"
#include "temp_dir.h"

using testing_support::ConsoleLines;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::Snapshot;
using testing_support::TempDir;

namespace {

const std::string kProgram = SHRINKWELL_EXE;

std::string Photo(int width, int height, uint32_t seed, int orientation = 0) {
  const std::string jpeg = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(width, height, seed), {90, false, false});
  if (orientation == 0) return jpeg;
  return fixtures::InsertSegmentAfterSoi(jpeg, 0xE1, fixtures::ExifOrientationPayload(static_cast<uint16_t>(orientation)));
}

// A run's world: photos/ (sources, and outputs beside them), work/ (the
// working directory) and elsewhere/ (files that must never change).
class Sandbox {
 public:
  // photoBase: where photos/ lies, e.g. on another file system.
  explicit Sandbox(const std::string& photoBase = std::string())
      : photoRoot_(photoBase.empty() ? std::filesystem::temp_directory_path().string() : photoBase),
        photos(photoRoot_.Path()), work(root_ / "work"), elsewhere(root_ / "elsewhere") {
    std::filesystem::create_directory(work);
    std::filesystem::create_directory(elsewhere);
    fixtures::WriteFile(elsewhere + "/precious.txt", "never to be written");
  }

  std::string Add(const std::string& name, const std::string& bytes) {
    fixtures::WriteFile(photos + "/" + name, bytes);
    sources_[name] = bytes;
    return photos + "/" + name;
  }
  // Call once everything is in place.
  void Freeze() { elsewhereBefore_ = Snapshot(elsewhere); }

  // Sources unchanged, nothing else touched, the working folder empty, and
  // beside the sources only outputs that are whole pictures.
  void ExpectNothingHarmed(const std::set<std::string>& outputs) const {
    EXPECT_EQ(Snapshot(elsewhere), elsewhereBefore_);
    EXPECT_TRUE(Snapshot(work).empty()) << "left in the working folder: " << Snapshot(work).begin()->first;
    std::set<std::string> found;
    for (const auto& [name, bytes] : Snapshot(photos)) {
      const auto source = sources_.find(name);
      if (source != sources_.end()) {
        EXPECT_EQ(bytes, source->second) << "source written: " << name;
        continue;
      }
      found.insert(name);
      EXPECT_FALSE(std::filesystem::is_symlink(photos + "/" + name)) << name;
      fixtures::RgbPicture picture;
      EXPECT_TRUE(fixtures::DecodeJpeg(bytes, picture) && picture.width > 0) << "not a whole picture: " << name;
    }
    EXPECT_EQ(found, outputs);
  }

 private:
  TempDir root_;
  TempDir photoRoot_;

 public:
  const std::string photos, work, elsewhere;

 private:
  std::map<std::string, std::string> sources_;
  std::map<std::string, std::string> elsewhereBefore_;
};

// Lets the run as another user (see RunOptions) read the photos and work in
// the working folder.
void OpenToOtherUser(const Sandbox& box) {
  ASSERT_EQ(::chmod(box.work.c_str(), 0777), 0);
  ASSERT_EQ(::chmod((box.work + "/..").c_str(), 0755), 0);
  ASSERT_EQ(::chmod(box.photos.c_str(), 0777), 0);
}

// A folder on another file system than the working folder, when there is one.
std::string OtherFileSystem() {
  struct stat shm, tmp;
  if (::stat("/dev/shm", &shm) == 0 && ::stat(std::filesystem::temp_directory_path().c_str(), &tmp) == 0 &&
      shm.st_dev != tmp.st_dev && ::access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::string();
}

}  // namespace

TEST(Reliability, PlantedLinksAsScratchFilesAreNeverFollowed) {
  for (const char* scratch : {"1.$$$", "2.$$$"}) {
    Sandbox box;
    const std::string photo = box.Add("a.jpg", Photo(160, 120, 1));
    ASSERT_EQ(::symlink((box.elsewhere + "/precious.txt").c_str(), (box.work + "/" + scratch).c_str()), 0);
    box.Freeze();
    const auto run = RunProgram(kProgram, {photo}, box.work);
    EXPECT_EQ(run.status, 0) << scratch << run.err;
    EXPECT_EQ(ConsoleLines(run.out).back(), "[01/01] " + photo + " OK");
    box.ExpectNothingHarmed({"a+.jpg"});
  }
}

TEST(Reliability, AFolderLockHeldByAnyoneStallsNoRun) {
  Sandbox box;
  const std::string photo = box.Add("a.jpg", Photo(160, 120, 4));
  box.Freeze();
  const int folder = ::open(box.work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  ASSERT_EQ(::flock(folder, LOCK_EX), 0);
  const auto run = RunProgram(kProgram, {photo}, box.work, {"", "", false, false, 60});
  ::close(folder);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.status, 0) << run.err;
  box.ExpectNothingHarmed({"a+.jpg"});
}

TEST(Reliability, AnotherUsersScratchNamesInASharedFolderStayAsTheyAre) {
  // In a sticky folder such as /tmp nobody may remove another user's
  // files: the run works through private names of its own instead.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's files";
  Sandbox box;
  const std::string a = box.Add("a.jpg", Photo(160, 120, 5)), b = box.Add("b.jpg", Photo(120, 160, 6, 6));
  for (const char* scratch : {"1.$$$", "2.$$$"}) {
    const std::string planted = box.work + "/" + scratch;
    fixtures::WriteFile(planted, "another user's");
    ASSERT_EQ(::chown(planted.c_str(), 1, 1), 0);
  }
  OpenToOtherUser(box);
  ASSERT_EQ(::chmod(box.work.c_str(), 01777), 0);
  box.Freeze();
  const auto run = RunProgram(kProgram, {a, b}, box.work, {"", "", true});
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  EXPECT_EQ(lines[4], "[02/02] " + b + " OK");
  for (const char* scratch : {"1.$$$", "2.$$$"}) {
    EXPECT_EQ(fixtures::ReadFile(box.work + "/" + scratch), "another user's") << scratch;
    std::filesystem::remove(box.work + "/" + scratch);
  }
  box.ExpectNothingHarmed({"a+.jpg", "b+.jpg"});
}

TEST(Reliability, StaleReadOnlyScratchCopyIsReplaced) {
  // Left by an earlier run of the same user; root may write any file, so as
  // root the run and the stale copy belong to another user.
  Sandbox box;
  const std::string photo = box.Add("a.jpg", Photo(160, 120, 2));
  const std::string stale = box.work + "/1.$$$";
  fixtures::WriteFile(stale, Photo(64, 64, 3));
  ASSERT_EQ(::chmod(stale.c_str(), 0444), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(stale.c_str(), 65534, 65534), 0);
  }
  OpenToOtherUser(box);
  box.Freeze();
  const auto run = RunProgram(kProgram, {photo}, box.work, {"", "", true});
  EXPECT_EQ(run.status, 0) << run.err;
  box.ExpectNothingHarmed({"a+.jpg"});
  fixtures::RgbPicture out;
  ASSERT_TRUE(fixtures::DecodeJpeg(fixtures::ReadFile(box.photos + "/a+.jpg"), out));
  EXPECT_EQ(out.width, 40) << "the stale copy was taken for the photo";
}

TEST(Reliability, RunsInOneFolderStoreEveryPhotoAsARunAloneWould) {
  Sandbox box;
  std::vector<std::string> photos;
  for (uint32_t i = 0; i < 18; ++i) {
    const bool portrait = i % 2 != 0;
    photos.push_back(box.Add("p" + std::to_string(i) + ".jpg",
                             portrait ? Photo(432, 640, 30 + i, i % 4 == 1 ? 6 : 8) : Photo(640, 432, 10 + i, i % 4 ? 3 : 1)));
  }
  box.Freeze();
  std::set<std::string> outputs;
  for (const auto& path : photos) outputs.insert(std::filesystem::path(path).stem().string() + "+.jpg");

  // What each photo gives when it has the folder to itself.
  ASSERT_EQ(RunProgram(kProgram, photos, box.work).status, 0);
  std::map<std::string, std::string> alone;
  for (const auto& name : outputs) alone[name] = fixtures::ReadFile(box.photos + "/" + name);

  // Two, three and four runs at once over lists that overlap: each photo
  // is stored by one of them, the others find its copy there.
  for (size_t runs = 2; runs <= 4; ++runs) {
    for (const auto& name : outputs) std::filesystem::remove(box.photos + "/" + name);
    std::vector<std::unique_ptr<RunningProgram>> programs;
    for (size_t k = 0; k < runs; ++k) {
      const auto at = [&](size_t step) { return photos.begin() + static_cast<ptrdiff_t>(step * photos.size() / (runs + 1)); };
      const std::vector<std::string> part(at(k), at(k + 2));
      programs.push_back(std::make_unique<RunningProgram>(kProgram, part, box.work));
    }
    for (auto& program : programs) {
      const auto run = program->Finish();
      EXPECT_EQ(run.status, 0) << run.err;
      const auto lines = ConsoleLines(run.out);
      for (size_t i = 3; i < lines.size(); ++i) {
        const bool stored = lines[i].substr(lines[i].size() - 3) == " OK";
        const bool storedByAnother = lines[i].find(" skipped: ") != std::string::npos &&
                                     lines[i].substr(lines[i].size() - 7) == " exists";
        EXPECT_TRUE(stored || storedByAnother) << lines[i];
      }
    }
    for (const auto& [name, bytes] : alone) EXPECT_EQ(fixtures::ReadFile(box.photos + "/" + name), bytes) << name;
    box.ExpectNothingHarmed(outputs);
  }
}

TEST(Reliability, InterruptedRunsLeaveNoScratchOrPartialFile) {
  // The photos lie on another file system where there is one, so that the
  // move's copy can be interrupted too. The signals come at moments spread
  // over a whole run's time.
  const std::string other = OtherFileSystem();
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  double runSeconds = 0;
  int interrupted = 0;
  for (int attempt = -1; attempt < 12; ++attempt) {
    Sandbox box(other);
    std::vector<std::string> photos;
    for (uint32_t i = 0; i < 3; ++i) photos.push_back(box.Add("p" + std::to_string(i) + ".jpg", Photo(1600, 1200, 50 + i, 6)));
    box.Freeze();
    const auto start = std::chrono::steady_clock::now();
    RunningProgram program(kProgram, photos, box.work);
    if (attempt >= 0) {
      std::this_thread::sleep_for(std::chrono::duration<double>(runSeconds * attempt / 12));
      program.Signal(signals[attempt % 3]);
    }
    const auto run = program.Finish();
    if (attempt < 0) runSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (run.status == 0) continue;  // done before the signal came
    ++interrupted;
    EXPECT_EQ(run.signal, signals[attempt % 3]) << "an interrupted run ends as the signal would; " << run.err;
    // Whatever copies exist are whole; which ones depends on the moment.
    std::set<std::string> outputs;
    for (const auto& entry : std::filesystem::directory_iterator(box.photos)) {
      const std::string name = entry.path().filename().string();
      if (name.find('+') != std::string::npos) outputs.insert(name);
    }
    box.ExpectNothingHarmed(outputs);
  }
  EXPECT_GT(interrupted, 6);
}

TEST(Reliability, HeaderBombsEndInTheReportWithoutTakingTheMemory) {
  // A few hundred bytes that announce 65500 x 65500 pixels.
  const std::string tiny = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(16, 16, 4), {50, false, false});
  const std::string tinyProgressive = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(16, 16, 4), {50, true, false});
  for (const std::string& bomb : {fixtures::WithFrameSize(tiny, 65500, 65500), fixtures::WithFrameSize(tinyProgressive, 65500, 65500)}) {
    Sandbox box;
    const std::string photo = box.Add("bomb.jpg", bomb);
    box.Freeze();
    const auto start = std::chrono::steady_clock::now();
    const auto run = RunProgram(kProgram, {photo}, box.work);
    RecordProperty("seconds", std::to_string(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()));
    RecordProperty("peakKiB", std::to_string(run.peakKiB));
    EXPECT_EQ(run.status, 1);
    const auto report = ConsoleLines(run.err);
    ASSERT_GE(report.size(), 2u) << run.err;
    EXPECT_EQ(report[0].rfind("Exception EOutOfResources in Modul shrinkwell", 0), 0u) << report[0];
    EXPECT_NE(report[1].find("65500 x 65500"), std::string::npos) << report[1];
    EXPECT_LT(run.peakKiB, 200 * 1024) << "the picture's memory was taken";
    box.ExpectNothingHarmed({});
  }
}

TEST(Reliability, FilesTooLargeOrHollowAreRefusedBeforeTheirCopy) {
  // A photo followed by a hole: 80 MB that take no disk. Above the 75 MB
  // that a one-megapixel limit allows (8 bytes a pixel and 64 MiB); and,
  // within the default limit, more than 64 MiB of holes.
  const struct {
    const char* limit;
    std::string report;
  } cases[] = {
      {"1", "80000000 Bytes zu groß: höchstens 75108864 Bytes bei 1 Megapixeln"},
      {"", "80000000 Bytes zum größten Teil leer: nur "},
  };
  for (const auto& c : cases) {
    TempDir photos, work;
    const std::string photo = photos.Write("big.jpg", Photo(64, 64, 7));
    ASSERT_EQ(::truncate(photo.c_str(), 80000000), 0);
    ::setenv("SHRINKWELL_MAX_MEGAPIXELS", c.limit, 1);
    const auto run = RunProgram(kProgram, {photo}, work.Path());
    ::unsetenv("SHRINKWELL_MAX_MEGAPIXELS");
    EXPECT_EQ(run.status, 1) << c.report;
    const auto report = ConsoleLines(run.err);
    ASSERT_GE(report.size(), 2u) << run.err;
    EXPECT_EQ(report[0].rfind("Exception EOutOfResources in Modul shrinkwell", 0), 0u) << report[0];
    EXPECT_NE(report[1].find(c.report), std::string::npos) << report[1];
    EXPECT_TRUE(std::filesystem::is_empty(work.Path())) << "copied before it was refused";
    EXPECT_FALSE(std::filesystem::exists(photos / "big+.jpg"));
  }
}

TEST(Reliability, PixelLimitFollowsTheEnvironment) {
  Sandbox box;
  const std::string photo = box.Add("two.jpg", Photo(1600, 1250, 5));  // 2 megapixels
  box.Freeze();
  for (const char* limit : {"1", "2", "x", ""}) {
    ::setenv("SHRINKWELL_MAX_MEGAPIXELS", limit, 1);
    const auto run = RunProgram(kProgram, {photo}, box.work);
    ::unsetenv("SHRINKWELL_MAX_MEGAPIXELS");
    const bool refused = std::string(limit) == "1";  // other texts keep the default 400
    EXPECT_EQ(run.status, refused ? 1 : 0) << limit << run.err;
    EXPECT_EQ(run.err.find("1600 x 1250 Pixeln zu groß: höchstens 1 Megapixel") != std::string::npos, refused) << run.err;
    std::filesystem::remove(box.photos + "/two+.jpg");
  }
  box.ExpectNothingHarmed({});
}

TEST(Reliability, PhotosUnderFourPixelsGiveNoFile) {
  Sandbox box;
  const std::string tiny = box.Add("tiny.jpg", Photo(3, 3, 5));
  const std::string thin = box.Add("thin.jpg", Photo(100, 3, 6));
  const std::string fine = box.Add("fine.jpg", Photo(4, 4, 7));
  box.Freeze();
  const auto run = RunProgram(kProgram, {tiny, thin, fine}, box.work);
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "[01/03] " + tiny + " skipped: too small");
  EXPECT_EQ(lines[4], "[02/03] " + thin + " skipped: too small");
  EXPECT_EQ(lines[5], "[03/03] " + fine + " OK");
  box.ExpectNothingHarmed({"fine+.jpg"});
}

TEST(Reliability, CopiesThatCannotBeStoredEndTheRunWithStatusTwo) {
  // A read-only photo folder; as root every folder is writable, so the run
  // then drops to another user.
  Sandbox box;
  const std::string a = box.Add("a.jpg", Photo(64, 64, 8));
  const std::string b = box.Add("b.jpg", Photo(64, 64, 9));
  box.Freeze();
  OpenToOtherUser(box);
  ASSERT_EQ(::chmod(box.photos.c_str(), 0555), 0);
  const auto run = RunProgram(kProgram, {a, b}, box.work, {"", "", true});
  ::chmod(box.photos.c_str(), 0755);
  EXPECT_EQ(run.status, 2) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out << run.err;
  EXPECT_EQ(lines[3], "[01/02] " + a + " failed: Permission denied");
  EXPECT_EQ(lines[4], "[02/02] " + b + " failed: Permission denied");
  box.ExpectNothingHarmed({});
}
