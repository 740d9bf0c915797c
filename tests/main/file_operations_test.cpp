#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "fixtures.h"
#include "system.h"
#include "temp_dir.h"
#include "wide_names.h"

using namespace shrinkwell;
using testing_support::TempDir;

namespace {

std::u16string W(const std::string& path) { return ToWide(path); }
bool Exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace

TEST(IsExistingFile, FilesYesDirectoriesAndMissingNo) {
  TempDir dir;
  fixtures::WriteFile(dir / "a.jpg", "x");
  std::filesystem::create_directory(dir / "folder.jpg");
  EXPECT_TRUE(IsExistingFile(W(dir / "a.jpg")));
  EXPECT_FALSE(IsExistingFile(W(dir / "folder.jpg")));
  EXPECT_FALSE(IsExistingFile(W(dir / "missing.jpg")));
  EXPECT_FALSE(IsExistingFile(W(dir.Path())));
}

TEST(IsExistingFile, WildcardsCountWhenTheFirstMatchIsAFile) {
  TempDir dir;
  fixtures::WriteFile(dir / "only.jpg", "x");
  std::filesystem::create_directory(dir / "sub.dir");
  EXPECT_TRUE(IsExistingFile(W(dir / "*.jpg")));
  EXPECT_TRUE(IsExistingFile(W(dir / "on?y.jpg")));
  EXPECT_FALSE(IsExistingFile(W(dir / "*.png")));
  EXPECT_FALSE(IsExistingFile(W(dir / "*.dir")));
}

TEST(CopyFileTo, OverwritesOnlyWhenAllowed) {
  TempDir dir;
  fixtures::WriteFile(dir / "src", "new bytes");
  fixtures::WriteFile(dir / "dst", "old bytes that are longer");
  EXPECT_TRUE(CopyFileTo(W(dir / "src"), W(dir / "dst"), true).targetExists);
  EXPECT_EQ(fixtures::ReadFile(dir / "dst"), "old bytes that are longer");
  EXPECT_TRUE(CopyFileTo(W(dir / "src"), W(dir / "dst"), false));
  EXPECT_EQ(fixtures::ReadFile(dir / "dst"), "new bytes");
  EXPECT_EQ(fixtures::ReadFile(dir / "src"), "new bytes");
}

TEST(CopyFileTo, FailuresLeaveSourceAndNoPartialTarget) {
  TempDir dir;
  fixtures::WriteFile(dir / "photo.jpg", std::string(3 << 20, 'p'));  // several copy blocks
  EXPECT_FALSE(CopyFileTo(W(dir / "missing"), W(dir / "t"), false));
  EXPECT_FALSE(Exists(dir / "t"));
  // A directory as source or target.
  std::filesystem::create_directory(dir / "d");
  EXPECT_FALSE(CopyFileTo(W(dir / "d"), W(dir / "t"), false));
  EXPECT_FALSE(Exists(dir / "t"));
  EXPECT_FALSE(CopyFileTo(W(dir / "photo.jpg"), W(dir / "d"), false));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "d"));
  // Copying a file onto itself (also through a hard link) must not empty it.
  EXPECT_FALSE(CopyFileTo(W(dir / "photo.jpg"), W(dir / "photo.jpg"), false));
  ASSERT_EQ(::link((dir / "photo.jpg").c_str(), (dir / "link.jpg").c_str()), 0);
  EXPECT_FALSE(CopyFileTo(W(dir / "photo.jpg"), W(dir / "link.jpg"), false));
  EXPECT_EQ(std::filesystem::file_size(dir / "photo.jpg"), 3u << 20);
}

TEST(CopyFileTo, NamedPipeDoesNotHang) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
  EXPECT_FALSE(CopyFileTo(W(dir / "pipe.jpg"), W(dir / "t"), false));
  EXPECT_FALSE(Exists(dir / "t"));
}

TEST(RemoveFile, FilesOnly) {
  TempDir dir;
  fixtures::WriteFile(dir / "f", "x");
  std::filesystem::create_directory(dir / "d");
  EXPECT_TRUE(RemoveFile(W(dir / "f")));
  EXPECT_FALSE(Exists(dir / "f"));
  EXPECT_FALSE(RemoveFile(W(dir / "f")));
  EXPECT_FALSE(RemoveFile(W(dir / "d")));
  EXPECT_TRUE(Exists(dir / "d"));
}

TEST(MoveFileTo, NeverReplacesAnExistingTarget) {
  TempDir dir;
  fixtures::WriteFile(dir / "2.$$$", "fresh");
  fixtures::WriteFile(dir / "out+.jpg", "first output");
  EXPECT_TRUE(MoveFileTo(W(dir / "2.$$$"), W(dir / "out+.jpg")).targetExists);
  EXPECT_EQ(fixtures::ReadFile(dir / "out+.jpg"), "first output");
  EXPECT_EQ(fixtures::ReadFile(dir / "2.$$$"), "fresh");

  EXPECT_TRUE(MoveFileTo(W(dir / "2.$$$"), W(dir / "new+.jpg")));
  EXPECT_FALSE(Exists(dir / "2.$$$"));
  EXPECT_EQ(fixtures::ReadFile(dir / "new+.jpg"), "fresh");
  const TFileResult missing = MoveFileTo(W(dir / "2.$$$"), W(dir / "other"));
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_FALSE(missing.targetExists);
}

TEST(MoveFileTo, AcrossFileSystemsCopiesAndStillNeverReplaces) {
  TempDir local;
  struct stat shm, tmp;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(local.Path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  TempDir other("/dev/shm");
  const std::string big(5 << 20, 'b');
  fixtures::WriteFile(local / "2.$$$", big);
  fixtures::WriteFile(other / "taken+.jpg", "keep me");
  EXPECT_TRUE(MoveFileTo(W(local / "2.$$$"), W(other / "taken+.jpg")).targetExists);
  EXPECT_EQ(fixtures::ReadFile(other / "taken+.jpg"), "keep me");
  EXPECT_TRUE(Exists(local / "2.$$$"));

  EXPECT_TRUE(MoveFileTo(W(local / "2.$$$"), W(other / "moved+.jpg")));
  EXPECT_FALSE(Exists(local / "2.$$$"));
  EXPECT_EQ(fixtures::ReadFile(other / "moved+.jpg"), big);
}

TEST(AvoidProcessor, KeepsTheThreadOffOneProcessorAndLetsItBack) {
  if (AvailableProcessors() < 2) GTEST_SKIP() << "needs two processors";
  std::thread([] {
    auto allowed = [] {
      cpu_set_t set;
      CPU_ZERO(&set);
      EXPECT_EQ(pthread_getaffinity_np(pthread_self(), sizeof set, &set), 0);
      return set;
    };
    const cpu_set_t all = allowed();
    const int first = CurrentProcessor();
    ASSERT_GE(first, 0);
    AvoidProcessor(first);
    const cpu_set_t kept = allowed();
    EXPECT_FALSE(CPU_ISSET(first, &kept));
    EXPECT_EQ(CPU_COUNT(&kept), CPU_COUNT(&all) - 1);
    EXPECT_NE(CurrentProcessor(), first);  // moved at once
    AvoidProcessor(-1);
    const cpu_set_t back = allowed();
    EXPECT_TRUE(CPU_EQUAL(&back, &all));
  }).join();
}
