// Times Shrinkwell on generated 12- and 24-megapixel photos: the whole
// program against libjpeg's own floating-point decode of the same file, its
// peak memory, and each stage of the program's own per-photo pipeline run
// in-process. Prints one table. Timing is the best of several runs.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "exif_builder.h"
#include "fixtures.h"
#include "photo_pipeline.h"
#include "wide_names.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ChildRun {
  double seconds = 0;
  long peakKiB = 0;
  int status = -1;
};

ChildRun RunChild(const std::vector<std::string>& command, const std::string& cwd) {
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);  // the child must not repeat what is buffered
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "r", stdin);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  ChildRun run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

struct Photo {
  std::string label;
  int width, height;
  bool progressive;
  std::string path;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace shrinkwell;
  if (argc != 4) {
    std::fprintf(stderr, "usage: shrinkwell_bench PATH-TO-SHRINKWELL PATH-TO-SHRINKWELL-META SCRATCH-FOLDER\n");
    return 2;
  }
  const std::string program = std::filesystem::absolute(argv[1]).string();
  const std::string viewer = std::filesystem::absolute(argv[2]).string();
  const std::string scratch = argv[3];
  const int runs = 9;

  std::vector<Photo> photos = {{"12 MP baseline", 4000, 3000, false, ""},
                               {"12 MP progressive", 4000, 3000, true, ""},
                               {"24 MP baseline", 6000, 4000, false, ""},
                               {"24 MP progressive", 6000, 4000, true, ""}};
  for (size_t i = 0; i < photos.size(); ++i) {
    Photo& p = photos[i];
    std::string bytes = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(p.width, p.height, 7 + static_cast<uint32_t>(i)),
                                             {92, p.progressive, false});
    bytes = fixtures::InsertSegmentAfterSoi(bytes, 0xE1, fixtures::ExifOrientationPayload(6));
    p.path = scratch + "/photo" + std::to_string(i) + ".jpg";
    fixtures::WriteFile(p.path, bytes);
  }

  std::printf("%-18s %8s %8s %6s %8s | %s\n", "photo", "djpeg ms", "prog ms", "ratio", "peak MiB",
              "stages in ms: copy    meta    read  decode  shrink  orient  encode");
  for (const Photo& p : photos) {
    const std::string work = scratch + "/work";
    std::filesystem::create_directories(work);
    const std::string output = p.path.substr(0, p.path.size() - 4) + "+.jpg";

    double djpeg = 1e9, whole = 1e9;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
      djpeg = std::min(djpeg, RunChild({"djpeg", "-dct", "float", "-outfile", "/dev/null", p.path}, work).seconds);
      std::filesystem::remove(output);
      const ChildRun run = RunChild({program, p.path}, work);
      if (run.status != 0) {
        std::fprintf(stderr, "shrinkwell failed on %s\n", p.path.c_str());
        return 1;
      }
      whole = std::min(whole, run.seconds);
      peak = std::max(peak, run.peakKiB);
    }

    // The program's own pipeline in-process, the best time of each stage.
    std::array<double, kPhotoStageCount> best;
    best.fill(1e9);
    TPhotoPipeline pipeline;
    pipeline.SetStageObserver([&best](TPhotoStage stage, double seconds) {
      double& b = best[static_cast<size_t>(stage)];
      b = std::min(b, seconds);
    });
    std::filesystem::current_path(work);  // the scratch files lie in the working directory
    for (int i = 0; i < runs; ++i) {
      std::filesystem::remove(output);
      if (pipeline.Process(ToWide(p.path), ToWide(output)).kind != TPhotoOutcome::TKind::Stored) {
        std::fprintf(stderr, "the pipeline did not store %s\n", output.c_str());
        return 1;
      }
    }
    std::filesystem::current_path(scratch);
    std::filesystem::remove_all(work);
    std::filesystem::remove(output);
    auto ms = [&best](TPhotoStage stage) { return 1e3 * best[static_cast<size_t>(stage)]; };

    std::printf("%-18s %8.1f %8.1f %6.2f %8.1f |            %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f\n",
                p.label.c_str(), 1e3 * djpeg, 1e3 * whole, whole / djpeg, static_cast<double>(peak) / 1024.0,
                ms(TPhotoStage::Copy), ms(TPhotoStage::Metadata), ms(TPhotoStage::Read), ms(TPhotoStage::Decode),
                ms(TPhotoStage::Shrink), ms(TPhotoStage::Turn), ms(TPhotoStage::Encode));
  }

  // A second run over photos whose copies all exist must cost next to
  // nothing: each is skipped before any work.
  std::vector<std::string> all = {program};
  for (const Photo& p : photos) all.push_back(p.path);
  const std::string work = scratch + "/work";
  std::filesystem::create_directories(work);
  double first = 1e9, second = 1e9;
  for (int i = 0; i < runs; ++i) {
    for (const Photo& p : photos) std::filesystem::remove(p.path.substr(0, p.path.size() - 4) + "+.jpg");
    first = std::min(first, RunChild(all, work).seconds);
    second = std::min(second, RunChild(all, work).seconds);
  }
  std::printf("Second run over the %zu photos, all copies there: %.1f ms against %.1f ms for the first (%.1f %%)\n",
              photos.size(), 1e3 * second, 1e3 * first, 100 * second / first);

  // Metadata that once cost quadratic time: the viewer reading it.
  const std::string small = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 48, 1));
  const std::pair<const char*, std::string> bombs[] = {
      {"66 KB EXIF, 450 directories over one entry array",
       fixtures::InsertSegmentAfterSoi(small, 0xE1, exiftest::OverlappingDirectoriesExif(450, 5000))},
      {"7222 IPTC keywords", fixtures::InsertSegmentAfterSoi(small, 0xED, exiftest::IptcKeywordsPayload(7222))},
  };
  for (const auto& [label, bytes] : bombs) {
    const std::string path = scratch + "/bomb.jpg";
    fixtures::WriteFile(path, bytes);
    double best = 1e9;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
      const ChildRun run = RunChild({viewer, path}, scratch);
      best = std::min(best, run.seconds);
      peak = std::max(peak, run.peakKiB);
    }
    std::printf("shrinkwell-meta on %s: %.1f ms, peak %.1f MiB\n", label, 1e3 * best, static_cast<double>(peak) / 1024.0);
  }
  std::printf("Targets: ratio <= 1.50 for 12 MP baseline; peak <= 200 MiB for 24 MP; second run < 5 %% of the first;\n"
              "metadata bombs < 50 ms and < 20 MiB.\n");
  return 0;
}
