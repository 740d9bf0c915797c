// The program run end to end in a temporary working directory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <map>
#include <set>

#include "fixtures.h"
#include "run_program.h"
#include "temp_dir.h"

using testing_support::ConsoleLines;
using testing_support::RunProgram;
using testing_support::Snapshot;
using testing_support::TempDir;

namespace {

const std::string kProgram = SHRINKWELL_EXE;

std::string SmallPhoto(uint32_t seed = 1) {
  return fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 48, seed), {90, false, false});
}

// "Exception <class> in Modul shrinkwell bei <8 hex digits>."
bool IsReportHead(const std::string& line, const std::string& className) {
  const std::string head = "Exception " + className + " in Modul shrinkwell bei ";
  if (line.size() != head.size() + 9 || line.compare(0, head.size(), head) != 0 || line.back() != '.') return false;
  return line.find_first_not_of("0123456789ABCDEF", head.size()) == line.size() - 1;
}

const std::vector<std::string> kShortBanner = {"Shrinkwell 1.1, Compiled 28.07.2012",
                                               "Written by the Shrinkwell developers. Free to use and to pass on.", ""};

}  // namespace

TEST(BatchRun, NoArgumentsShowsUsageAndWaitsForEnter) {
  TempDir dir;
  fixtures::WriteFile(dir / "keep.jpg", SmallPhoto());
  const auto before = Snapshot(dir.Path());
  for (const char* input : {"\n", ""}) {  // Enter, or the end of the input
    const auto run = RunProgram(kProgram, {}, dir.Path(), {input, ""});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const auto lines = ConsoleLines(run.out);
    ASSERT_EQ(lines.size(), 15u) << run.out;
    EXPECT_EQ(lines[0], "Shrinkwell 1.2, Compiled 28.07.2012");
    EXPECT_EQ(lines[2], kShortBanner[1]);
    EXPECT_EQ(lines[10], "USAGE:");
    EXPECT_EQ(lines[11], "Drag and drop the photos to be resized on this program's executable.");
    EXPECT_EQ(lines[14], "Press Enter to close this window.");
    for (int empty : {1, 3, 6, 8, 9, 12, 13}) EXPECT_EQ(lines[empty], "") << empty;
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "\r\n");
  }
  EXPECT_EQ(Snapshot(dir.Path()), before);
}

TEST(BatchRun, UsageWaitsUntilEnterIsPressed) {
  TempDir dir;
  int toChild[2], fromChild[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(fromChild), 0);
  std::vector<std::string> words = testing_support::EmulatorFor(kProgram);
  words.push_back(kProgram);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    if (::chdir(dir.Path().c_str()) != 0) ::_exit(126);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  // The whole usage text arrives while the program still waits.
  std::string out;
  char buffer[256];
  while (ConsoleLines(out).size() < 15) {
    const ssize_t got = ::read(fromChild[0], buffer, sizeof buffer);
    ASSERT_GT(got, 0) << out;
    out.append(buffer, static_cast<size_t>(got));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << "ended without Enter";
  ASSERT_EQ(::write(toChild[1], "\n", 1), 1);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(toChild[1]);
  ::close(fromChild[0]);
}

TEST(BatchRun, ArgumentsThatAreNoPhotosAreSkippedWithTheirReason) {
  // Other extensions are listed and left; a .jpg that is not there or is
  // no file is named as such, never opened, and the run ends with status 2.
  TempDir dir;
  std::filesystem::create_directories(dir / "folder");
  std::filesystem::create_directories(dir / "album.jpg");
  std::filesystem::create_directories(dir / "my.photos");
  fixtures::WriteFile(dir / "a.jpg", SmallPhoto(1));
  fixtures::WriteFile(dir / "b.jpg", SmallPhoto(2));
  fixtures::WriteFile(dir / "x.png", SmallPhoto());
  fixtures::WriteFile(dir / "x.jpg.bak", SmallPhoto());
  fixtures::WriteFile(dir / "nodot", SmallPhoto());
  fixtures::WriteFile(dir / "my.photos/readme", SmallPhoto());
  fixtures::WriteFile(dir / "x.jpe", SmallPhoto());
  ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir / "zero.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("gone.jpg", (dir / "dangling.jpg").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"folder", " OK"},       {"x.png", " OK"},      {"x.jpg.bak", " OK"},
      {"nodot", " OK"},        {"my.photos/readme", " OK"}, {"x.jpe", " OK"},
      {"a.jpg", " OK"},        {"album.jpg", " skipped: not a file"}, {"pipe.jpg", " skipped: not a file"},
      {"zero.jpg", " skipped: not a file"}, {"missing.jpg", " skipped: not found"},
      {"dangling.jpg", " skipped: not found"}, {"b.jpg", " OK"}};
  std::vector<std::string> arguments;
  for (const auto& [argument, ending] : cases) arguments.push_back(argument);
  auto before = Snapshot(dir.Path());
  const auto run = RunProgram(kProgram, arguments, dir.Path(), {"", "", false, false, 60});
  EXPECT_FALSE(run.timedOut) << "a pipe or a device held the run up";
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_EQ(run.err, "");
  auto expected = kShortBanner;
  for (size_t i = 0; i < cases.size(); ++i) {
    expected.push_back("[" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + "/13] " + cases[i].first +
                       cases[i].second);
  }
  EXPECT_EQ(ConsoleLines(run.out), expected);
  // The photos around them are stored; nothing else changed.
  auto after = Snapshot(dir.Path());
  EXPECT_EQ(after.erase("a+.jpg") + after.erase("b+.jpg"), 2u);
  EXPECT_EQ(after, before);
}

TEST(BatchRun, ProgressCountsWidenAtOneHundred) {
  TempDir dir;
  std::vector<std::string> twelve, hundred;
  for (int i = 1; i <= 100; ++i) (i <= 12 ? twelve : hundred).push_back("n" + std::to_string(i));
  hundred.insert(hundred.begin(), twelve.begin(), twelve.end());

  auto lines = ConsoleLines(RunProgram(kProgram, twelve, dir.Path()).out);
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[3], "[01/12] n1 OK");
  EXPECT_EQ(lines[14], "[12/12] n12 OK");

  lines = ConsoleLines(RunProgram(kProgram, hundred, dir.Path()).out);
  ASSERT_EQ(lines.size(), 103u);
  EXPECT_EQ(lines[3], "[01/100] n1 OK");
  EXPECT_EQ(lines[101], "[99/100] n99 OK");
  EXPECT_EQ(lines[102], "[100/100] n100 OK");
}

TEST(BatchRun, ScratchFilesAreGoneAndSourcesUntouched) {
  TempDir dir;
  TempDir work;  // scratch files lie in the working directory, not beside the photos
  const std::vector<std::string> names = {"a.JPG", "b.Jpeg", "with blank.jpg", "\xC3\xA4pfel \xE6\x97\xA5.jpeg"};
  for (size_t i = 0; i < names.size(); ++i) fixtures::WriteFile(dir / names[i], SmallPhoto(static_cast<uint32_t>(i)));
  const auto before = Snapshot(dir.Path());
  std::vector<std::string> arguments;
  for (const auto& n : names) arguments.push_back(dir / n);
  const auto run = RunProgram(kProgram, arguments, work.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[6], "[04/04] " + arguments[3] + " OK");
  EXPECT_TRUE(Snapshot(work.Path()).empty());
  for (const auto& [name, bytes] : before) EXPECT_EQ(fixtures::ReadFile(dir / name), bytes) << name;
}

TEST(BatchRun, ScratchNamesThatCannotBeHadGiveWayToPrivateNames) {
  // Folders named like the scratch files cannot be removed: the run works
  // through files of its own under private names and leaves them be.
  TempDir dir;
  fixtures::WriteFile(dir / "first.jpg", SmallPhoto());
  std::filesystem::create_directories(dir / "1.$$$");
  std::filesystem::create_directories(dir / "2.$$$");
  const auto run = RunProgram(kProgram, {"first.jpg"}, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ConsoleLines(run.out).back(), "[01/01] first.jpg OK");
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) left.insert(entry.path().filename());
  EXPECT_EQ(left, (std::set<std::string>{"1.$$$", "2.$$$", "first+.jpg", "first.jpg"}));
}

TEST(BatchRun, ScratchFileThatCannotBeMadeOrPhotoThatCannotBeReadEndsTheRun) {
  // A working folder the run may not write in, and a photo it may not
  // read; as root, who may do both, the run is another user's.
  TempDir photos, work;
  fixtures::WriteFile(photos / "first.jpg", SmallPhoto());
  fixtures::WriteFile(photos / "second.jpg", SmallPhoto());
  fixtures::WriteFile(photos / "locked.jpg", SmallPhoto());
  fixtures::WriteFile(work / "1.$$$", SmallPhoto(7));  // never taken for a photo, at most removed
  ASSERT_EQ(::chmod((photos / "locked.jpg").c_str(), 0), 0);
  ASSERT_EQ(::chmod(photos.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(work.Path().c_str(), 0555), 0);
  const struct {
    std::string photo, reportLine;
  } cases[] = {
      {photos / "first.jpg", "Datei " + (work / "1.$$$") + " kann nicht geöffnet werden. Permission denied."},
      {photos / "locked.jpg", "Datei " + (photos / "locked.jpg") + " kann nicht geöffnet werden. Permission denied."},
  };
  for (const auto& c : cases) {
    const auto run = RunProgram(kProgram, {c.photo, photos / "second.jpg"}, work.Path(), {"", "", true});
    EXPECT_EQ(run.status, 1) << run.err;
    const auto lines = ConsoleLines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[3], "[01/02] " + c.photo);  // no " OK", no second photo
    const auto report = ConsoleLines(run.err);
    ASSERT_EQ(report.size(), 3u) << run.err;
    EXPECT_TRUE(IsReportHead(report[0], "EFOpenError")) << report[0];
    EXPECT_EQ(report[1], c.reportLine);
    EXPECT_EQ(report[2], "");
    EXPECT_FALSE(std::filesystem::exists(photos / "first+.jpg"));
    EXPECT_FALSE(std::filesystem::exists(photos / "second+.jpg"));
    if (::access((work / "1.$$$").c_str(), F_OK) == 0) {
      EXPECT_EQ(fixtures::ReadFile(work / "1.$$$"), SmallPhoto(7));
    }
    ASSERT_EQ(::chmod(work.Path().c_str(), 0777), 0);  // the second case: only the photo is locked
  }
  ::chmod(work.Path().c_str(), 0755);
}

TEST(BatchRun, ClosedOutputEndsInTheReport) {
  TempDir dir;
  const auto run = RunProgram(kProgram, {"a.jpg"}, dir.Path(), {"", "/dev/full"});
  EXPECT_EQ(run.status, 1);
  const auto report = ConsoleLines(run.err);
  ASSERT_GE(report.size(), 2u) << run.err;
  EXPECT_TRUE(IsReportHead(report[0], "EInOutError")) << report[0];
  EXPECT_EQ(report[1], "Schreibfehler beim Datenträger.");
}
