// The metadata viewer run as a user would, over every corpus file.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_program.h"
#include "temp_dir.h"

using testing_support::RunProgram;
using testing_support::TempDir;

namespace {

const std::string kMeta = SHRINKWELL_META_EXE;
const std::string kCorpus = SHRINKWELL_CORPUS_DIR;

}  // namespace

TEST(MetaViewer, ReadsEveryCorpusFileWithoutHarm) {
  if (!std::filesystem::is_directory(kCorpus)) GTEST_SKIP() << "no corpus";
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kCorpus)) {
    if (entry.is_regular_file() && entry.path().extension() != ".md") files.push_back(entry.path().string());
  }
  ASSERT_GT(files.size(), 200u);
  TempDir dir;
  const auto run = RunProgram(kMeta, files, dir.Path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
  for (const std::string& file : files) EXPECT_NE(run.out.find(file + "\n"), std::string::npos) << file;
}

TEST(MetaViewer, ShowsMakerNotesAndIptcDatasetsAsWritten) {
  const std::string iptc = kCorpus + "/makernotes/IPTC.jpg", canon = kCorpus + "/cameras/Canon_PowerShot_S40.jpg",
                    ricoh = kCorpus + "/makernotes/Ricoh2.jpg";
  for (const std::string& file : {iptc, canon, ricoh}) {
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "no corpus at " << kCorpus;
  }
  TempDir dir;
  const auto run = RunProgram(kMeta, {iptc, canon, ricoh}, dir.Path());
  ASSERT_EQ(run.status, 0);
  for (const char* line : {"  City = Kingston\n", "  Country/Primary Location Name = Canada\n",
                           "  Supplemental category = amazing,image,utilities\n", "  Image caption = A witty caption\n",
                           "  Model = Canon PowerShot S40\n", "  Exposure Time = 1/500 sec\n", "  makerText:\n",
                           "  Compression Rate = SuperFine\n",
                           // NUL bytes inside a value are shown, and the rest of the value with them.
                           "  User Comment = GCM_TAG\\0Information\\0Roundabout\\0No\\0Good\\0E"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line;
  }
}
