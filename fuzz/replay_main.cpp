// Runs a fuzz target's entry point over saved inputs, without libFuzzer:
// the regression tests and the coverage report use it.
//   NAME_replay FILE-OR-FOLDER...
// A folder gives its files in name order (files starting with a dot, such as
// .gitkeep, are passed over). A missing argument is an error, so that a
// misspelt folder cannot pass as "nothing to replay".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool Listed(const fs::path& path) { return path.filename().string().rfind('.', 0) != 0; }

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path argument(argv[i]);
    std::error_code error;
    if (fs::is_directory(argument, error)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::recursive_directory_iterator(argument))
        if (entry.is_regular_file() && Listed(entry.path())) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      inputs.insert(inputs.end(), files.begin(), files.end());
    } else if (fs::is_regular_file(argument, error)) {
      inputs.push_back(argument);
    } else {
      std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
      return 2;
    }
  }
  int ran = 0;
  for (const fs::path& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
      std::fprintf(stderr, "%s: cannot read\n", path.c_str());
      return 2;
    }
    // Named before it runs: a crash then says which input it was.
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++ran;
  }
  std::printf("ran %d inputs\n", ran);
  return 0;
}
