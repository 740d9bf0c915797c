// The Windows program run under Wine, against the Linux program: the same
// output bytes, the command-line rules through the real GetCommandLineW, and
// what a user sees on Windows. Needs SHRINKWELL_WINDOWS_BIN (the folder that
// scripts/build-windows.sh filled) and wine; scripts/test-windows.sh sets
// both up. Skips otherwise.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "fixtures.h"
#include "run_program.h"
#include "temp_dir.h"

using testing_support::ConsoleLines;
using testing_support::RunningProgram;
using testing_support::RunProgram;
using testing_support::TempDir;

namespace {

const std::string kLinuxProgram = SHRINKWELL_EXE;
const std::string kCorpus = SHRINKWELL_CORPUS_DIR;
const std::string kWine = "/usr/bin/wine";

std::string WindowsBin() {
  const char* bin = std::getenv("SHRINKWELL_WINDOWS_BIN");
  return bin != nullptr ? bin : "";
}

#define REQUIRE_WINDOWS_BUILD()                                                                     \
  if (WindowsBin().empty() || !std::filesystem::exists(kWine)) {                                    \
    GTEST_SKIP() << "no Windows build: run scripts/test-windows.sh (SHRINKWELL_WINDOWS_BIN, wine)"; \
  }

// A run takes seconds under Wine: one that hangs fails its test instead of
// holding up everything after it.
testing_support::RunOptions WithTimeLimit() {
  testing_support::RunOptions options;
  options.timeoutSeconds = 120;
  return options;
}

testing_support::RunResult Finished(RunningProgram& program) {
  const auto result = program.Finish();
  EXPECT_FALSE(result.timedOut) << "the Windows program hung and was killed after 120 s";
  return result;
}

testing_support::RunResult RunWindows(const std::string& program, const std::vector<std::string>& arguments,
                                      const std::string& folder) {
  std::vector<std::string> all = {WindowsBin() + "/" + program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  RunningProgram running(kWine, all, folder, WithTimeLimit());
  return Finished(running);
}

// A command line written out as a shell or the desktop would: UTF-16 units
// in hex, for the probe's --spawn.
std::string Hex(const std::u16string& line) {
  std::string hex;
  char unit[5];
  for (char16_t c : line) {
    std::snprintf(unit, sizeof unit, "%04X", static_cast<unsigned>(c));
    hex += unit;
  }
  return hex;
}

std::string Photo(uint32_t seed) { return fixtures::EncodeJpeg(fixtures::PhotoLikePicture(96, 64, seed)); }

}  // namespace

TEST(WindowsProgram, CommandLinesSplitAsTheRuleSays) {
  REQUIRE_WINDOWS_BUILD();
  TempDir dir;
  const std::pair<std::u16string, std::string> cases[] = {
      {u"prog a.jpg \"b c.jpg\"", "count=2\n[a.jpg]\n[b c.jpg]\n"},
      {u"prog \"\" a.jpg", "count=1\n[a.jpg]\n"},
      {u"prog x\"y z\"w", "count=1\n[xy zw]\n"},
      {u"prog \"open end", "count=1\n[open end]\n"},
      {u"prog C:\\dir\\ a", "count=2\n[C:\\dir\\]\n[a]\n"},
      {u"prog\ta.jpg\x01\x1F" u"b.jpg", "count=2\n[a.jpg]\n[b.jpg]\n"},
      {u"prog \u00E9t\u00E9.jpg \u65E5.jpg", "count=2\n[\u00E9t\u00E9.jpg]\n[\u65E5.jpg]\n"},
  };
  for (const auto& [line, expected] : cases) {
    const auto run = RunWindows("argument_probe.exe", {"--spawn", Hex(line)}, dir.Path());
    EXPECT_EQ(run.status, 0);
    std::string out = run.out;  // a console program's lines end in CR LF
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(out, expected) << Hex(line);
  }
}

TEST(WindowsProgram, CorpusPhotosGiveTheLinuxProgramsBytes) {
  REQUIRE_WINDOWS_BUILD();
  int compared = 0;
  for (const char* folder : {"orientation", "cameras", "codec"}) {
    const std::string source = kCorpus + "/" + folder;
    if (!std::filesystem::is_directory(source)) GTEST_SKIP() << "no corpus at " << source;
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
      if (entry.path().extension() != ".jpg") continue;
      TempDir onLinux, onWindows;
      std::filesystem::copy_file(entry.path(), onLinux / "photo.jpg");
      std::filesystem::copy_file(entry.path(), onWindows / "photo.jpg");
      const auto expected = RunProgram(kLinuxProgram, {"photo.jpg"}, onLinux.Path());
      const auto run = RunWindows("shrinkwell.exe", {"photo.jpg"}, onWindows.Path());
      EXPECT_EQ(run.status, expected.status) << entry.path() << "\nWindows:\n"
                                            << run.out << run.err << "Linux:\n" << expected.out << expected.err;
      const bool stored = std::filesystem::exists(onLinux / "photo+.jpg");
      EXPECT_EQ(std::filesystem::exists(onWindows / "photo+.jpg"), stored) << entry.path();
      if (!stored) continue;
      EXPECT_EQ(fixtures::ReadFile(onWindows / "photo+.jpg"), fixtures::ReadFile(onLinux / "photo+.jpg")) << entry.path();
      ++compared;
    }
  }
  RecordProperty("identical", compared);
  std::printf("%d corpus photos stored byte for byte as on Linux\n", compared);
  EXPECT_GT(compared, 60);
}

TEST(WindowsProgram, NamesWithBlanksAndOutsideTheCodePage) {
  REQUIRE_WINDOWS_BUILD();
  TempDir dir;
  // Blanks, and a character no ANSI code page of the West holds: the file
  // functions take the UTF-16 name, the progress text shows what it can.
  // The last photo lies in a folder of such a name: its copy is named there
  // from the working folder.
  const std::string album = "\xE6\x97\xA5\xE6\x9C\xAC album";
  std::filesystem::create_directory(dir / album);
  const std::string names[] = {"with blank.jpg", "\xE6\x97\xA5\xE6\x9C\xAC photo.jpg", album + "/in album.jpg"};
  for (size_t i = 0; i < std::size(names); ++i) fixtures::WriteFile(dir / names[i], Photo(static_cast<uint32_t>(i)));
  const auto run = RunWindows("shrinkwell.exe", {names[0], names[1], album + "\\in album.jpg"}, dir.Path());
  EXPECT_EQ(run.status, 0) << run.err;
  const auto lines = ConsoleLines(run.out);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[3], "[01/03] with blank.jpg OK");
  EXPECT_EQ(lines[4].substr(lines[4].size() - 3), " OK");
  EXPECT_EQ(lines[5].substr(lines[5].size() - 3), " OK");
  EXPECT_TRUE(std::filesystem::exists(dir / "with blank+.jpg"));
  EXPECT_TRUE(std::filesystem::exists(dir / "\xE6\x97\xA5\xE6\x9C\xAC photo+.jpg"));
  EXPECT_TRUE(std::filesystem::exists(dir / (album + "/in album+.jpg")));
  EXPECT_FALSE(std::filesystem::exists(dir / "2.$$$"));
}

TEST(WindowsProgram, ExistingCopiesAreNeverReplaced) {
  REQUIRE_WINDOWS_BUILD();
  TempDir dir;
  fixtures::WriteFile(dir / "a.jpg", Photo(3));
  fixtures::WriteFile(dir / "a+.jpg", "first copy");
  const auto run = RunWindows("shrinkwell.exe", {"a.jpg"}, dir.Path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ConsoleLines(run.out).back(), "[01/01] a.jpg skipped: a+.jpg exists");
  EXPECT_EQ(fixtures::ReadFile(dir / "a+.jpg"), "first copy");
  EXPECT_FALSE(std::filesystem::exists(dir / "2.$$$"));
}

TEST(WindowsProgram, ExitStatusesAndTheReportInTheOemCodePage) {
  REQUIRE_WINDOWS_BUILD();
  TempDir dir;
  fixtures::WriteFile(dir / "a.jpg", Photo(4));
  // A name one over the longest a folder takes: the copy cannot be stored.
  const std::string longName = std::string(251, 'x') + ".jpg";
  fixtures::WriteFile(dir / longName, Photo(5));
  const auto failed = RunWindows("shrinkwell.exe", {"a.jpg", longName}, dir.Path());
  EXPECT_EQ(failed.status, 2);
  EXPECT_NE(ConsoleLines(failed.out).back().find(" failed: "), std::string::npos) << failed.out;

  // A picture above the pixel limit ends the run: the report, its sharp s
  // in the OEM code page (0xE1 in 437 and 850), lines ending in CR LF,
  // status 1.
  fixtures::WriteFile(dir / "bomb.jpg", fixtures::WithFrameSize(Photo(6), 65500, 65500));
  const auto report = RunWindows("shrinkwell.exe", {"bomb.jpg"}, dir.Path());
  EXPECT_EQ(report.status, 1);
  EXPECT_EQ(report.err.rfind("Exception EOutOfResources in Modul shrinkwell.exe bei ", 0), 0u) << report.err;
  EXPECT_NE(report.err.find("zu gro\xE1"), std::string::npos) << report.err;
  EXPECT_NE(report.err.find(".\r\n"), std::string::npos);
}

TEST(WindowsProgram, CtrlCRemovesTheScratchFilesAndEndsWith130) {
  REQUIRE_WINDOWS_BUILD();
  TempDir dir;
  std::vector<std::string> photos;
  const std::string big = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(3000, 2000, 6));
  for (int i = 0; i < 8; ++i) photos.push_back(dir.Write("p" + std::to_string(i) + ".jpg", big));
  std::vector<std::string> arguments = {WindowsBin() + "/shrinkwell.exe"};
  for (const auto& p : photos) arguments.push_back(std::filesystem::path(p).filename().string());
  RunningProgram program(kWine, arguments, dir.Path(), WithTimeLimit());
  // Once the first copy is stored, the run is well under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(dir / "p0+.jpg") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  program.Signal(SIGINT);  // Wine gives the program a Ctrl+C
  const auto run = Finished(program);
  if (run.status == 0) GTEST_SKIP() << "the run ended before the interruption";
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "1.$$$"));
  EXPECT_FALSE(std::filesystem::exists(dir / "2.$$$"));
}

TEST(WindowsProgram, TwoRunsInOneFolderStoreEveryPhotoAsARunAloneWould) {
  // (Links are not tried here: Wine shows a Unix link as the file it points
  // at, so no Windows program can tell it from a stale scratch file.)
  REQUIRE_WINDOWS_BUILD();
  TempDir dir;
  std::vector<std::string> first = {WindowsBin() + "/shrinkwell.exe"}, second = first;
  // Photos large enough that the two runs overlap.
  auto photo = [](uint32_t seed) { return fixtures::EncodeJpeg(fixtures::PhotoLikePicture(1200, 800, seed)); };
  for (int i = 0; i < 6; ++i) {
    first.push_back(std::filesystem::path(dir.Write("a" + std::to_string(i) + ".jpg", photo(10 + i))).filename());
    second.push_back(std::filesystem::path(dir.Write("b" + std::to_string(i) + ".jpg", photo(20 + i))).filename());
  }
  // Both runs at once, sharing the scratch names of one folder.
  RunningProgram one(kWine, first, dir.Path(), WithTimeLimit()), two(kWine, second, dir.Path(), WithTimeLimit());
  EXPECT_EQ(Finished(one).status, 0);
  EXPECT_EQ(Finished(two).status, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "1.$$$"));
  EXPECT_FALSE(std::filesystem::exists(dir / "2.$$$"));
  // Every copy is the one the Linux program makes of its photo alone.
  TempDir onLinux;
  for (const auto& name : {first, second}) {
    for (size_t i = 1; i < name.size(); ++i) {
      std::filesystem::copy_file(dir / name[i], onLinux / name[i]);
      ASSERT_EQ(RunProgram(kLinuxProgram, {name[i]}, onLinux.Path()).status, 0);
      const std::string output = name[i].substr(0, name[i].size() - 4) + "+.jpg";
      EXPECT_EQ(fixtures::ReadFile(dir / output), fixtures::ReadFile(onLinux / output)) << output;
    }
  }
}

TEST(WindowsProgram, WildcardNamesAsOnLinux) {
  // cmd.exe passes "*.jpg" on as it stands. A name with wildcards counts as
  // a photo when its first match is a file, and then no file of that name
  // can be opened; a first match that is a folder is no photo either.
  // Either way the name is not found. Each folder holds one entry, so
  // "first" is certain.
  REQUIRE_WINDOWS_BUILD();
  const std::pair<bool, std::string> cases[] = {{true, "a*.jpg"}, {false, "d*.jpg"}};
  for (const auto& [file, pattern] : cases) {
    TempDir onLinux, onWindows;
    for (TempDir* dir : {&onLinux, &onWindows}) {
      if (file) {
        fixtures::WriteFile(*dir / "a.jpg", Photo(7));
      } else {
        std::filesystem::create_directory(*dir / "d.jpg");
      }
    }
    const auto expected = RunProgram(kLinuxProgram, {pattern}, onLinux.Path());
    const auto run = RunWindows("shrinkwell.exe", {pattern}, onWindows.Path());
    EXPECT_EQ(expected.status, 2) << pattern;
    EXPECT_EQ(ConsoleLines(expected.out).back(), "[01/01] " + pattern + " skipped: not found");
    EXPECT_EQ(run.status, expected.status) << pattern << run.err;
    EXPECT_EQ(ConsoleLines(run.out).back(), ConsoleLines(expected.out).back()) << pattern;
    EXPECT_FALSE(std::filesystem::exists(onWindows / "1.$$$"));
  }
}
