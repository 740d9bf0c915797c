// What the demo shows: each example's copy is a quarter of the upright
// picture, read from the sizes table the demo prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "run_program.h"
#include "temp_dir.h"

using testing_support::RunProgram;
using testing_support::TempDir;

TEST(Demo, EveryCopyIsAQuarterOfTheUprightPicture) {
  TempDir dir;
  ASSERT_EQ(RunProgram(SHRINKWELL_EXAMPLES_EXE, {dir.Path()}, dir.Path()).status, 0);
  std::vector<std::string> photos;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) photos.push_back(entry.path().string());
  ASSERT_EQ(RunProgram(SHRINKWELL_EXE, photos, dir.Path()).status, 0);
  const auto sizes = RunProgram(SHRINKWELL_EXAMPLES_EXE, {"--sizes", dir.Path()}, dir.Path());
  ASSERT_EQ(sizes.status, 0);

  // Rows: name (may hold blanks), stored W x H, orientation, upright W x H, copy W x H.
  std::istringstream lines(sizes.out);
  std::string line;
  std::getline(lines, line);
  int rows = 0, turned = 0;
  while (std::getline(lines, line)) {
    int storedW, storedH, uprightW, uprightH, copyW, copyH;
    char orientation[8];
    const size_t at = line.find_first_of("0123456789", line.find('.'));
    ASSERT_EQ(std::sscanf(line.c_str() + at, "%d x %d %7s %d x %d %d x %d", &storedW, &storedH, orientation,
                          &uprightW, &uprightH, &copyW, &copyH),
              7)
        << line;
    EXPECT_EQ(copyW, uprightW / 4) << line;
    EXPECT_EQ(copyH, uprightH / 4) << line;
    turned += storedW != uprightW;
    ++rows;
  }
  EXPECT_EQ(rows, 4);
  EXPECT_EQ(turned, 1);  // the portrait stored on its side
}
