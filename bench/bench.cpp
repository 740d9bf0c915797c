// Times Shrinkwell on generated photos against libjpeg's own floating-point
// decode of the same file (`djpeg -dct float`, the floor: the exact result
// needs that full decode) and, when it is installed, vipsthumbnail making
// the same quarter-size upright copy. Every ratio compares runs interleaved
// in one loop, medians of several. Prints:
// - per kind of photo: times, ratios, peak memory, and the stages of the
//   program's own pipeline run in-process;
// - the scaling from 3 to 48 megapixels;
// - a batch of 50 photos in one run against the sum of their decodes, with
//   SHRINKWELL_THREADS at 1 and 2, on every processor, and held to one;
// - a second run over photos whose copies exist, and the metadata bombs.
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "exif_builder.h"
#include "fixtures.h"
#include "photo_pipeline.h"
#include "system.h"
#include "wide_names.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 11;

struct ChildRun {
  double seconds = 0;
  long peakKiB = 0;
  int status = -1;
};

// The benchmark's own path, for running commands through a small copy of
// itself: a child forked from this large process would count this
// process's memory as its own peak.
std::string self;

// Runs the command in cwd and reports its time, peak memory and status.
// Through `self --launch`, whose own child starts small. Held to one
// processor when `processor` is not -1.
ChildRun RunChild(const std::vector<std::string>& command, const std::string& cwd, int processor = -1) {
  int report[2];
  if (::pipe(report) != 0) std::exit(1);
  std::vector<std::string> launch = {self, "--launch", std::to_string(report[1]), cwd, std::to_string(processor)};
  launch.insert(launch.end(), command.begin(), command.end());
  std::vector<char*> argv;
  for (const auto& a : launch) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(stdout);  // the child must not repeat what is buffered
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(report[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(report[1]);
  ChildRun run;
  if (::read(report[0], &run, sizeof run) != static_cast<ssize_t>(sizeof run)) run.status = -1;
  ::close(report[0]);
  ::waitpid(child, nullptr, 0);
  return run;
}

// The launcher: runs the command and writes its ChildRun to the pipe.
int Launch(int reportFd, const char* cwd, int processor, char** command) {
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(cwd) != 0) ::_exit(126);
    if (processor >= 0) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(processor, &one);
      if (::sched_setaffinity(0, sizeof one, &one) != 0) ::_exit(126);
    }
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    std::freopen("/dev/null", "r", stdin);
    ::execvp(command[0], command);
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  ChildRun run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peakKiB = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ::write(reportFd, &run, sizeof run) == static_cast<ssize_t>(sizeof run) ? 0 : 1;
}

// One keyword dataset that lists `count` keywords, separated by commas.
std::string KeywordListPayload(int count) {
  std::string list;
  for (int k = 0; k < count; ++k) list += (k > 0 ? "," : "") + std::to_string(k);
  return exiftest::PhotoshopIptcPayload(exiftest::IptcDataset(2, 25, list));
}

// The value a quarter (0.25), half or three quarters of the way up.
double Quantile(std::vector<double> values, double at) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(at * static_cast<double>(values.size() - 1) + 0.5)];
}

double Median(std::vector<double> values) { return Quantile(std::move(values), 0.5); }

struct Photo {
  std::string label;
  int width, height;
  bool progressive;
  int orientation;
  std::string path;
  int restartRows = 0;  // a restart marker every this many MCU rows, as phones write them

  std::string Output() const { return path.substr(0, path.size() - 4) + "+.jpg"; }
};

void Make(Photo& p, const std::string& folder, uint32_t seed) {
  std::string bytes =
      fixtures::EncodeJpeg(fixtures::PhotoLikePicture(p.width, p.height, seed), {92, p.progressive, false, false, p.restartRows});
  if (p.orientation != 0) {
    bytes = fixtures::InsertSegmentAfterSoi(bytes, 0xE1, fixtures::ExifOrientationPayload(static_cast<uint16_t>(p.orientation)));
  }
  p.path = folder + "/photo" + std::to_string(seed) + ".jpg";
  fixtures::WriteFile(p.path, bytes);
}

struct Timing {
  double djpeg = 0, program = 0, vips = 0;
  long peakKiB = 0;
  // Medians of each round's ratio to that round's djpeg: on a shared
  // machine the speed drifts from second to second, far less between two
  // runs in a row.
  double ratio = 0, vipsRatio = 0;
  // The middle half of the rounds' ratios: how far the host let them stray.
  double ratioLow = 0, ratioHigh = 0;
  // How far apart djpeg's times on the first two processors were, in per
  // cent, the median of the rounds. A virtual machine's host slows one of
  // them at a time, by up to a quarter, without counting it as stolen: a
  // program on two threads then meets the slow one always, djpeg on one
  // thread only when it lands there. Near 1 % on a quiet host.
  double apartPercent = 0;
};

// Rounds of djpeg, the program and vipsthumbnail on one photo, each round
// the three in a row.
class TRounds {
 public:
  TRounds(const Photo& p, const std::string& program, bool vips, const std::string& work)
      : p_(p), program_(program), vips_(vips), work_(work),
        size_(std::to_string(p.width / 4) + "x" + std::to_string(p.height / 4)) {}

  void Round() {
    const std::vector<std::string> decode = {"djpeg", "-dct", "float", "-outfile", "/dev/null", p_.path};
    djpeg_.push_back(RunChild(decode, work_).seconds);
    if (twoProcessors_) {
      const double first = RunChild(decode, work_, 0).seconds;
      const double second = RunChild(decode, work_, 1).seconds;
      apart_.push_back(200 * std::abs(first - second) / (first + second));
    }
    std::filesystem::remove(p_.Output());
    const ChildRun run = RunChild({program_, p_.path}, work_);
    if (run.status != 0) {
      std::fprintf(stderr, "shrinkwell failed on %s\n", p_.path.c_str());
      std::exit(1);
    }
    whole_.push_back(run.seconds);
    ratios_.push_back(run.seconds / djpeg_.back());
    peakKiB_ = std::max(peakKiB_, run.peakKiB);
    if (vips_) {
      thumbnail_.push_back(
          RunChild({"vipsthumbnail", p_.path, "--size", size_, "-o", work_ + "/vips.jpg[Q=88]"}, work_).seconds);
      vipsRatios_.push_back(thumbnail_.back() / djpeg_.back());
    }
    std::filesystem::remove(p_.Output());
  }

  Timing Result() const {
    Timing t;
    t.djpeg = Median(djpeg_);
    t.program = Median(whole_);
    t.ratio = Median(ratios_);
    t.ratioLow = Quantile(ratios_, 0.25);
    t.ratioHigh = Quantile(ratios_, 0.75);
    t.peakKiB = peakKiB_;
    if (!apart_.empty()) t.apartPercent = Median(apart_);
    if (vips_) {
      t.vips = Median(thumbnail_);
      t.vipsRatio = Median(vipsRatios_);
    }
    return t;
  }

 private:
  const Photo& p_;
  const std::string program_;
  const bool vips_;
  const std::string work_;
  const std::string size_;
  const bool twoProcessors_ = shrinkwell::AvailableProcessors() >= 2;
  std::vector<double> djpeg_, whole_, thumbnail_, ratios_, vipsRatios_, apart_;
  long peakKiB_ = 0;
};

// djpeg, the program and vipsthumbnail on one photo, interleaved.
Timing Time(const Photo& p, const std::string& program, bool vips, const std::string& work) {
  TRounds rounds(p, program, vips, work);
  for (int i = 0; i < kRuns; ++i) rounds.Round();
  return rounds.Result();
}

// The stages of the program's own pipeline, in-process: the best of each.
std::array<double, shrinkwell::kPhotoStageCount> Stages(const Photo& p, const std::string& work) {
  using namespace shrinkwell;
  std::array<double, kPhotoStageCount> best;
  best.fill(1e9);
  TPhotoPipeline pipeline(AvailableProcessors() >= 2 ? THalvingThread::Worker : THalvingThread::Decoder);
  pipeline.SetStageObserver([&best](TPhotoStage stage, double seconds) {
    double& b = best[static_cast<size_t>(stage)];
    b = std::min(b, seconds);
  });
  const std::filesystem::path back = std::filesystem::current_path();
  std::filesystem::current_path(work);  // the scratch files lie in the working directory
  for (int i = 0; i < kRuns; ++i) {
    std::filesystem::remove(p.Output());
    if (pipeline.Process(ToWide(p.path), ToWide(p.Output())).kind != TPhotoOutcome::TKind::Stored) {
      std::fprintf(stderr, "the pipeline did not store %s\n", p.Output().c_str());
      std::exit(1);
    }
  }
  std::filesystem::remove(p.Output());
  std::filesystem::current_path(back);
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace shrinkwell;
  if (argc >= 6 && std::string(argv[1]) == "--launch") return Launch(std::atoi(argv[2]), argv[3], std::atoi(argv[4]), argv + 5);
  self = std::filesystem::canonical("/proc/self/exe").string();
  if (argc != 4) {
    std::fprintf(stderr, "usage: shrinkwell_bench PATH-TO-SHRINKWELL PATH-TO-SHRINKWELL-META SCRATCH-FOLDER\n");
    return 2;
  }
  const std::string program = std::filesystem::absolute(argv[1]).string();
  const std::string viewer = std::filesystem::absolute(argv[2]).string();
  const std::string scratch = argv[3];
  const std::string work = scratch + "/work";
  std::filesystem::create_directories(work);
  const bool vips = RunChild({"vipsthumbnail", "--version"}, work).status == 0;

  std::vector<Photo> photos = {{"12 MP baseline", 4000, 3000, false, 0, ""},
                               {"12 MP Orientation 6", 4000, 3000, false, 6, ""},
                               {"12 MP progressive", 4000, 3000, true, 0, ""},
                               {"24 MP baseline", 6000, 4000, false, 0, ""},
                               {"24 MP progressive", 6000, 4000, true, 0, ""},
                               // Restart markers at every MCU row, as cjpeg -restart 1 and phones write them.
                               {"12 MP restart", 4000, 3000, false, 0, "", 1},
                               {"24 MP restart", 6000, 4000, false, 0, "", 1},
                               {"12 MP phone-like", 4032, 3024, false, 6, "", 1}};
  for (size_t i = 0; i < photos.size(); ++i) Make(photos[i], scratch, 7 + static_cast<uint32_t>(i));

  std::printf("%-20s %8s %8s %6s %11s %8s %6s %8s %6s | %s\n", "photo", "djpeg ms", "prog ms", "ratio", "middle half",
              "vips ms", "ratio", "peak MiB", "apart%", "stages in ms: copy    meta    read  decode  encode   write    move");
  for (const Photo& p : photos) {
    const Timing t = Time(p, program, vips, work);
    const auto stages = Stages(p, work);
    auto ms = [&stages](TPhotoStage stage) { return 1e3 * stages[static_cast<size_t>(stage)]; };
    std::printf("%-20s %8.1f %8.1f %6.2f %5.2f-%5.2f %8.1f %6.2f %8.1f %6.1f |            %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f\n",
                p.label.c_str(), 1e3 * t.djpeg, 1e3 * t.program, t.ratio, t.ratioLow, t.ratioHigh, 1e3 * t.vips, t.vipsRatio,
                static_cast<double>(t.peakKiB) / 1024.0, t.apartPercent, ms(TPhotoStage::Copy),
                ms(TPhotoStage::Metadata), ms(TPhotoStage::Read),
                ms(TPhotoStage::Decode) + ms(TPhotoStage::LastBands), ms(TPhotoStage::Encode),
                ms(TPhotoStage::Write), ms(TPhotoStage::Move));
    std::filesystem::remove(p.path);
  }
  std::printf("(apart%%: how far apart djpeg's times on each of two processors were, median of the rounds;\n"
              " decode: decoding with both halvings, the turn and the encoding, which follow the rows as they come;\n"
              " encode: what is left of the encoding once the last row is in)\n\n");

  // All five sizes in every round, so that the host's drift from second to
  // second weighs on each alike, and four times the rounds of the other
  // tables: a median of 11 drifted as far as the 0.05 the target allows.
  std::printf("%-12s %8s %8s %6s %11s %12s %8s %6s\n", "scaling", "djpeg ms", "prog ms", "ratio", "middle half", "- 12 MP's",
              "peak MiB", "apart%");
  const std::pair<int, int> sizes[] = {{2000, 1500}, {3000, 2000}, {4000, 3000}, {6000, 4000}, {8000, 6000}};
  constexpr size_t kTwelve = 2;  // the 12 MP row, the one the others are measured against
  std::vector<Photo> scaled;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    scaled.push_back({std::to_string(sizes[i].first * sizes[i].second / 1000000) + " MP", sizes[i].first,
                      sizes[i].second, false, 0, ""});
    Make(scaled.back(), scratch, 100 + static_cast<uint32_t>(i));
  }
  std::vector<TRounds> rounds;
  for (const Photo& p : scaled) rounds.emplace_back(p, program, false, work);
  for (int r = 0; r < 4 * kRuns; ++r) {
    for (TRounds& size : rounds) size.Round();
  }
  const double twelve = rounds[kTwelve].Result().ratio;
  for (size_t i = 0; i < scaled.size(); ++i) {
    const Timing t = rounds[i].Result();
    std::printf("%-12s %8.1f %8.1f %6.2f %5.2f-%5.2f %+12.3f %8.1f %6.1f\n", scaled[i].label.c_str(), 1e3 * t.djpeg,
                1e3 * t.program, t.ratio, t.ratioLow, t.ratioHigh, t.ratio - twelve, static_cast<double>(t.peakKiB) / 1024.0,
                t.apartPercent);
    std::filesystem::remove(scaled[i].path);
  }

  // A batch: 50 photos of 12 MP (ten different ones, five copies each).
  std::vector<Photo> batch;
  for (int i = 0; i < 10; ++i) {
    Photo p{"", 4000, 3000, false, i % 3 == 0 ? 6 : 0, ""};
    Make(p, scratch, 200 + static_cast<uint32_t>(i));
    batch.push_back(p);
  }
  for (int copy = 1; copy < 5; ++copy) {
    for (int i = 0; i < 10; ++i) {
      Photo p = batch[static_cast<size_t>(i)];
      p.path = scratch + "/batch" + std::to_string(copy) + "_" + std::to_string(i) + ".jpg";
      std::filesystem::copy_file(batch[static_cast<size_t>(i)].path, p.path);
      batch.push_back(p);
    }
  }
  std::vector<std::string> all = {program};
  for (const Photo& p : batch) all.push_back(p.path);
  // With SHRINKWELL_THREADS at 1 and 2 and unset (every processor the
  // process may use), and held to the first processor, where the program
  // keeps one photo in flight on one thread.
  const int processors = shrinkwell::AvailableProcessors();
  struct Way {
    std::string label;
    std::vector<std::string> command;
    std::vector<double> runs;
    long peak = 0;
  };
  std::vector<Way> ways;
  for (const int threads : {1, 2}) {
    std::vector<std::string> command = {"env", "SHRINKWELL_THREADS=" + std::to_string(threads)};
    command.insert(command.end(), all.begin(), all.end());
    ways.push_back({"SHRINKWELL_THREADS=" + std::to_string(threads), command, {}, 0});
  }
  ways.push_back({"all " + std::to_string(processors) + " processors", all, {}, 0});
  std::vector<std::string> oneCore = {"taskset", "-c", "0"};
  oneCore.insert(oneCore.end(), all.begin(), all.end());
  ways.push_back({"held to one processor", oneCore, {}, 0});
  std::vector<double> decodes;
  for (int i = 0; i < 7; ++i) {
    double sum = 0;
    for (const Photo& p : batch) sum += RunChild({"djpeg", "-dct", "float", "-outfile", "/dev/null", p.path}, work).seconds;
    decodes.push_back(sum);
    for (Way& way : ways) {
      for (const Photo& p : batch) std::filesystem::remove(p.Output());
      const ChildRun run = RunChild(way.command, work);
      way.runs.push_back(run.seconds);
      way.peak = std::max(way.peak, run.peakKiB);
    }
  }
  std::printf("\nBatch of %zu photos of 12 MP in one run, against the sum of their decodes (%.0f ms), on a machine of %d "
              "processors:\n",
              batch.size(), 1e3 * Median(decodes), processors);
  for (const Way& way : ways) {
    std::printf("  %-24s %5.0f ms (%.2fx), peak %.1f MiB\n", (way.label + ":").c_str(), 1e3 * Median(way.runs),
                Median(way.runs) / Median(decodes), static_cast<double>(way.peak) / 1024.0);
  }
  const std::vector<double>& runs = ways[2].runs;

  // A second run over the same photos, whose copies all exist now.
  std::vector<double> second;
  for (int i = 0; i < kRuns; ++i) second.push_back(RunChild(all, work).seconds);
  std::printf("Second run over them, all copies there: %.1f ms (%.2f %% of the first)\n", 1e3 * Median(second),
              100 * Median(second) / Median(runs));
  for (const Photo& p : batch) {
    std::filesystem::remove(p.Output());
    std::filesystem::remove(p.path);
  }

  // Metadata that once cost quadratic time: the viewer reading it.
  const std::string small = fixtures::EncodeJpeg(fixtures::PhotoLikePicture(64, 48, 1));
  const std::pair<const char*, std::string> bombs[] = {
      {"66 KB EXIF, 450 directories over one entry array",
       fixtures::InsertSegmentAfterSoi(small, 0xE1, exiftest::OverlappingDirectoriesExif(450, 5000))},
      {"7222 IPTC keywords", fixtures::InsertSegmentAfterSoi(small, 0xED, exiftest::IptcKeywordsPayload(7222))},
      {"one keyword dataset of 5000 items", fixtures::InsertSegmentAfterSoi(small, 0xED, KeywordListPayload(5000))},
  };
  for (const auto& [label, bytes] : bombs) {
    const std::string path = scratch + "/bomb.jpg";
    fixtures::WriteFile(path, bytes);
    std::vector<double> times;
    long peak = 0;
    for (int i = 0; i < kRuns; ++i) {
      const ChildRun run = RunChild({viewer, path}, scratch);
      times.push_back(run.seconds);
      peak = std::max(peak, run.peakKiB);
    }
    std::printf("shrinkwell-meta on %s: %.1f ms, peak %.1f MiB\n", label, 1e3 * Median(times), static_cast<double>(peak) / 1024.0);
  }
  if (!vips) std::printf("(vipsthumbnail not installed: its columns are 0)\n");
  std::printf("Targets: ratio <= 1.15 (progressive 1.10) and below vipsthumbnail's; from 3 to 48 MP within 0.05 of the\n"
              "12 MP ratio; 24 MP peak <= 40 MiB; batch <= 0.65x on two cores, <= 1.15x on one, with flat memory;\n"
              "second run < 5 %%; metadata bombs < 50 ms and < 20 MiB. On a quiet host: apart%% at most 3.\n");
  return 0;
}
