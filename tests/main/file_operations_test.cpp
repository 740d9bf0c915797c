#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <thread>

#include "fixtures.h"
#include "photo_files.h"
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

TEST(OpenPhoto, OpensRegularFilesOnlyAndNeverWaits) {
  TempDir dir;
  fixtures::WriteFile(dir / "a.jpg", "photo bytes");
  std::filesystem::create_directory(dir / "folder.jpg");
  ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir / "zero.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere.jpg", (dir / "dangling.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("a.jpg", (dir / "link.jpg").c_str()), 0);
  using K = TOpenedPhoto::TKind;
  const std::pair<std::string, K> cases[] = {{"a.jpg", K::Opened},         {"link.jpg", K::Opened},
                                             {"missing.jpg", K::NotFound}, {"dangling.jpg", K::NotFound},
                                             {"folder.jpg", K::NotAFile},  {"pipe.jpg", K::NotAFile},
                                             {"zero.jpg", K::NotAFile}};
  for (const auto& [name, kind] : cases) {
    const TOpenedPhoto photo = OpenPhoto(W(dir / name), 100);
    EXPECT_EQ(photo.kind, kind) << name;
    EXPECT_EQ(photo.file != nullptr, kind == K::Opened) << name;
  }
  EXPECT_EQ(OpenPhoto(W(dir / "a.jpg"), 10).kind, K::TooLarge);
}

namespace {

// Makes a file of our own under `name` holding `bytes`.
std::unique_ptr<TOwnFile> OwnFile(const std::string& name, const std::string& bytes) {
  std::unique_ptr<TOwnFile> file;
  EXPECT_TRUE(TOwnFile::Make(W(name), file));
  if (file) file->Stream().WriteBuffer(bytes.data(), bytes.size());
  return file;
}

}  // namespace

TEST(OwnFile, IsNewAndPrivateAndRemovedOnlyWhileStillOurs) {
  TempDir dir;
  // A planted link goes; what it pointed at stays as it was.
  fixtures::WriteFile(dir / "precious", "never to be written");
  ASSERT_EQ(::symlink((dir / "precious").c_str(), (dir / "1.$$$").c_str()), 0);
  auto file = OwnFile(dir / "1.$$$", "ours");
  ASSERT_TRUE(file);
  EXPECT_EQ(fixtures::ReadFile(dir / "1.$$$"), "ours");
  EXPECT_EQ(fixtures::ReadFile(dir / "precious"), "never to be written");
  struct stat info;
  ASSERT_EQ(::lstat((dir / "1.$$$").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode, S_IFREG | 0600);
  // Someone swaps the name: the removal leaves their entry alone.
  ASSERT_EQ(::rename((dir / "1.$$$").c_str(), (dir / "moved").c_str()), 0);
  fixtures::WriteFile(dir / "1.$$$", "someone else's");
  file.reset();
  EXPECT_EQ(fixtures::ReadFile(dir / "1.$$$"), "someone else's");
  EXPECT_EQ(fixtures::ReadFile(dir / "moved"), "ours");

  // A name that cannot be had (here a folder): a private unique name.
  std::filesystem::create_directory(dir / "2.$$$");
  file = OwnFile(dir / "2.$$$", "ours");
  ASSERT_TRUE(file);
  EXPECT_EQ(ToNarrow(file->Name()).rfind(dir / ".shrinkwell-", 0), 0u) << ToNarrow(file->Name());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "2.$$$"));
  const std::string unique = ToNarrow(file->Name());
  file.reset();
  EXPECT_FALSE(Exists(unique));
}

TEST(CopyFileTo, CopiesTheWholeFileFromItsStartUpToALimit) {
  TempDir dir;
  const std::string big(3 << 20, 'p');  // several copy blocks
  fixtures::WriteFile(dir / "photo.jpg", big);
  TOpenedPhoto photo = OpenPhoto(W(dir / "photo.jpg"), INT64_MAX);
  ASSERT_TRUE(photo.file);
  photo.file->Seek(1000);  // where the stream stands does not matter
  auto copy = OwnFile(dir / "1.$$$", "");
  EXPECT_TRUE(CopyFileTo(*photo.file, copy->Stream(), big.size()));
  EXPECT_EQ(fixtures::ReadFile(dir / "1.$$$"), big);
  auto other = OwnFile(dir / "2.$$$", "");
  EXPECT_EQ(CopyFileTo(*photo.file, other->Stream(), big.size() - 1).error, EFBIG);
}

TEST(MoveFileTo, NamesTheFileItselfAndNeverReplaces) {
  TempDir dir;
  fixtures::WriteFile(dir / "out+.jpg", "first output");
  auto file = OwnFile(dir / "2.$$$", "fresh");
  EXPECT_TRUE(MoveFileTo(*file, W(dir / "out+.jpg")).targetExists);
  EXPECT_EQ(fixtures::ReadFile(dir / "out+.jpg"), "first output");
  EXPECT_EQ(fixtures::ReadFile(dir / "2.$$$"), "fresh");

  // Its name taken from it and given to a link meanwhile: the file's own
  // bytes are stored, never what the name now leads to.
  fixtures::WriteFile(dir / "other.jpg", "another photo");
  ASSERT_EQ(::unlink((dir / "2.$$$").c_str()), 0);
  ASSERT_EQ(::symlink((dir / "other.jpg").c_str(), (dir / "2.$$$").c_str()), 0);
  EXPECT_TRUE(MoveFileTo(*file, W(dir / "new+.jpg")));
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "new+.jpg"));
  EXPECT_EQ(fixtures::ReadFile(dir / "new+.jpg"), "fresh");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "2.$$$")) << "not ours to remove";
  file.reset();
  EXPECT_EQ(fixtures::ReadFile(dir / "other.jpg"), "another photo");
}

TEST(MoveFileTo, AcrossFileSystemsCopiesAndStillNeverReplaces) {
  TempDir local;
  struct stat shm, tmp;
  if (::stat("/dev/shm", &shm) != 0 || ::stat(local.Path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  TempDir other("/dev/shm");
  const std::string big(5 << 20, 'b');
  auto file = OwnFile(local / "2.$$$", big);
  ASSERT_EQ(::fchmod(static_cast<int>(file->Stream().Handle()), 0640), 0);
  fixtures::WriteFile(other / "taken+.jpg", "keep me");
  EXPECT_TRUE(MoveFileTo(*file, W(other / "taken+.jpg")).targetExists);
  EXPECT_EQ(fixtures::ReadFile(other / "taken+.jpg"), "keep me");
  EXPECT_TRUE(Exists(local / "2.$$$"));

  EXPECT_TRUE(MoveFileTo(*file, W(other / "moved+.jpg")));
  EXPECT_FALSE(Exists(local / "2.$$$"));
  EXPECT_EQ(fixtures::ReadFile(other / "moved+.jpg"), big);
  struct stat info;
  ASSERT_EQ(::stat((other / "moved+.jpg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u) << "the access bits travel with the copy";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(other.Path()), {}), 2) << "no temporary left";
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

