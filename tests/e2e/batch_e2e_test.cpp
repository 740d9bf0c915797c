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
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    ::close(toChild[1]);
    ::close(fromChild[0]);
    if (::chdir(dir.Path().c_str()) != 0) ::_exit(126);
    ::execl(kProgram.c_str(), kProgram.c_str(), static_cast<char*>(nullptr));
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

TEST(BatchRun, ArgumentsThatAreNoJpegFilesAreSkipped) {
  TempDir dir;
  std::filesystem::create_directories(dir / "folder");
  std::filesystem::create_directories(dir / "album.jpg");
  std::filesystem::create_directories(dir / "my.photos");
  fixtures::WriteFile(dir / "x.png", SmallPhoto());
  fixtures::WriteFile(dir / "x.jpg.bak", SmallPhoto());
  fixtures::WriteFile(dir / "nodot", SmallPhoto());
  fixtures::WriteFile(dir / "my.photos/readme", SmallPhoto());
  fixtures::WriteFile(dir / "x.jpe", SmallPhoto());
  const auto before = Snapshot(dir.Path());
  const std::vector<std::string> arguments = {"folder", "album.jpg", "missing.jpg", "x.png", "x.jpg.bak",
                                              "nodot",  "my.photos/readme", "x.jpe"};
  const auto run = RunProgram(kProgram, arguments, dir.Path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  auto expected = kShortBanner;
  for (size_t i = 0; i < arguments.size(); ++i) expected.push_back("[0" + std::to_string(i + 1) + "/08] " + arguments[i] + " OK");
  EXPECT_EQ(ConsoleLines(run.out), expected);
  EXPECT_EQ(Snapshot(dir.Path()), before);
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

TEST(BatchRun, ScratchFileThatCannotBeMadeEndsTheRun) {
  TempDir dir;
  fixtures::WriteFile(dir / "first.jpg", SmallPhoto());
  fixtures::WriteFile(dir / "second.jpg", SmallPhoto());
  std::filesystem::create_directories(dir / "1.$$$");
  const auto run = RunProgram(kProgram, {"first.jpg", "second.jpg"}, dir.Path());
  EXPECT_EQ(run.status, 1);
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "[01/02] first.jpg");  // no " OK", no second photo
  const auto report = ConsoleLines(run.err);
  ASSERT_EQ(report.size(), 3u) << run.err;
  EXPECT_TRUE(IsReportHead(report[0], "EFOpenError")) << report[0];
  EXPECT_EQ(report[1], "Datei " + (dir / "1.$$$") + " kann nicht geöffnet werden. Is a directory.");
  EXPECT_EQ(report[2], "");
}

TEST(BatchRun, StaleScratchCopyIsNeverTakenForAnotherPhoto) {
  TempDir dir;
  // An old scratch file lies there, and the photo cannot be read.
  fixtures::WriteFile(dir / "1.$$$", SmallPhoto(7));
  fixtures::WriteFile(dir / "locked.jpg", SmallPhoto(8));
  ASSERT_EQ(::chmod((dir / "locked.jpg").c_str(), 0), 0);
  if (::getuid() == 0) {
    // Root reads every file: make the copy fail through an unreadable kind instead.
    std::filesystem::remove(dir / "locked.jpg");
    ASSERT_EQ(::mkfifo((dir / "locked.jpg").c_str(), 0600), 0);
  }
  const auto run = RunProgram(kProgram, {"locked.jpg"}, dir.Path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Exception EFOpenError"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "locked+.jpg"));
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
