// Three (or FILES) 720p conversions through the converter component: one task at a time
// (StartTask(1), the baseline) against two at once (StartTask(2)), each with one and
// with all decoder/encoder threads per engine. Prints wall time, the speed-up against
// the baseline and the peak resident memory of each run (each in a fresh process).
// Equal jobs two at a time cannot beat FILES / ceil(FILES / 2) (1.5x for three: the
// third runs alone); the bench prints that bound beside the speed-up.
//
// usage: converter_tasks_bench [FIXTURE_DIR [FILES]]   (default: $TOVI_FIXTURE_DIR, 3)
// The 720p inputs are made from the generated h264_aac.mp4 by the converter itself.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "converter/Converter.h"

using namespace tovi;
namespace fs = std::filesystem;

namespace {

// Runs every task of `converter` with `threadCount` and waits for the all-ended notice.
bool RunAll(TFFConverter &converter, int threadCount) {
  std::mutex mutex;
  std::condition_variable ended;
  bool allEnded = false, ok = true;
  converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
    std::lock_guard lock(mutex);
    if (info.TaskIndex == -1) {
      allEnded = true;
      ended.notify_all();
    } else if (!info.Finished || info.Exception) {
      std::fprintf(stderr, "task %d: %s\n", info.TaskIndex, info.ExceptionMsg.c_str());
      ok = false;
    }
  });
  converter.StartTask(threadCount);
  std::unique_lock lock(mutex);
  ended.wait(lock, [&] { return allEnded; });
  return ok;
}

bool AddConversion(TFFConverter &converter, const std::string &input, const std::string &output,
                   const std::string &options) {
  const int task = converter.AddTask(input);
  TOutputOptions out;
  InitOutputOptions(out);
  out.ExtOptions = options;
  if (task < 0 || !converter.SetOutputFile(task, output, &out)) {
    std::fprintf(stderr, "%s: %s\n", input.c_str(), converter.LastErrorText().c_str());
    return false;
  }
  return true;
}

struct Measured {
  double seconds = 0;
  long peakKiB = 0;
};

// Child mode: converts the `files` inputs in `work` once and prints "seconds peakKiB",
// the peak being this fresh process's own high-water mark.
int Measure(const fs::path &work, int files, int tasksAtOnce, int engineThreads) {
  TFFConverter converter;
  if (!converter.LoadLibraries({})) return 1;
  converter.SetTriggerEventInMainThread(false);
  converter.SetThreadCount(engineThreads);
  for (int i = 0; i < files; ++i) {
    const std::string n = std::to_string(i);
    if (!AddConversion(converter, (work / ("in" + n + ".mp4")).string(),
                       (work / ("out" + n + ".mkv")).string(), "vcodec=mpeg4\nvb=3000000\nacodec=mp2"))
      return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  if (!RunAll(converter, tasksAtOnce)) return 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  converter.ClearTasks();
  std::printf("%f %ld\n", seconds, bench::PeakRssKiB());
  return 0;
}

// Runs one measurement in a fresh process, so that each peak is its own.
Measured MeasureInChild(const fs::path &work, int files, int tasksAtOnce, int engineThreads) {
  const std::string command = fs::read_symlink("/proc/self/exe").string() + " --measure '" + work.string() +
                              "' " + std::to_string(files) + " " + std::to_string(tasksAtOnce) + " " +
                              std::to_string(engineThreads);
  Measured m;
  FILE *pipe = ::popen(command.c_str(), "r");
  if (!pipe || std::fscanf(pipe, "%lf %ld", &m.seconds, &m.peakKiB) != 2 || ::pclose(pipe) != 0) {
    std::fprintf(stderr, "measurement failed: %s\n", command.c_str());
    std::exit(1);
  }
  return m;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 6 && std::string(argv[1]) == "--measure")
    return Measure(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  const char *fixtures = argc > 1 ? argv[1] : std::getenv("TOVI_FIXTURE_DIR");
  const int files = argc > 2 ? std::atoi(argv[2]) : 3;
  if (!fixtures || files < 1 || files > 16) {
    std::fprintf(stderr,
                 "usage: converter_tasks_bench FIXTURE_DIR [FILES 1..16] (or set TOVI_FIXTURE_DIR)\n");
    return 2;
  }
  const std::string source = (fs::path(fixtures) / "h264_aac.mp4").string();
  const fs::path work = fs::temp_directory_path() / ("tovi-tasks-bench-" + std::to_string(getpid()));
  fs::create_directories(work);
  {
    // The 720p H.264/AAC inputs, made once.
    TFFConverter converter;
    if (!converter.LoadLibraries({})) {
      std::fprintf(stderr, "%s\n", converter.LastErrorText().c_str());
      return 1;
    }
    converter.SetTriggerEventInMainThread(false);
    converter.SetThreadCount(0);
    // The 2-second clip joined four times (8 s, 200 frames; MPEG-4, which joins
    // cleanly), then turned into the 720p H.264 files.
    const std::string long_ = (work / "long.mkv").string();
    const int join = converter.AddTask(source);
    for (int copy = 1; copy < 4 && join >= 0; ++copy)
      if (!converter.AddInputFile(join, source)) return 1;
    TOutputOptions joined;
    InitOutputOptions(joined);
    joined.Join = true;
    joined.ExtOptions = "vcodec=mpeg4\nqscale=2\nacodec=mp2";
    if (join < 0 || !converter.SetOutputFile(join, long_, &joined) || !RunAll(converter, 1)) {
      std::fprintf(stderr, "%s\n", converter.LastErrorText().c_str());
      return 1;
    }
    converter.ClearTasks();
    for (int i = 0; i < files; ++i)
      if (!AddConversion(converter, long_, (work / ("in" + std::to_string(i) + ".mp4")).string(),
                         "vcodec=libx264\ns=1280x720\nvb=4000000\nacodec=aac"))
        return 1;
    if (!RunAll(converter, 1)) return 1;
    converter.ClearTasks();
  }

  std::printf(
      "%d x 720p (8 s, 200 frames) H.264/AAC -> MPEG-4/MP2 in Matroska, %u cores; median of 3, each run in a "
      "fresh process\n",
      files, std::thread::hardware_concurrency());
  // Equal jobs two at a time: ceil(files / 2) rounds instead of `files`.
  const double bound = static_cast<double>(files) / ((files + 1) / 2);
  for (int engineThreads : {1, 0}) {
    // The rounds alternate so that drift in the machine's load hits both sides.
    std::vector<Measured> one, two;
    for (int round = 0; round < 3; ++round) {
      one.push_back(MeasureInChild(work, files, 1, engineThreads));
      two.push_back(MeasureInChild(work, files, 2, engineThreads));
    }
    const auto median = [](std::vector<Measured> v) {
      std::sort(v.begin(), v.end(),
                [](const Measured &a, const Measured &b) { return a.seconds < b.seconds; });
      return v[1];
    };
    const Measured a = median(one), b = median(two);
    std::printf("engine threads %s:\n", engineThreads == 0 ? "all cores (0)" : "1");
    std::printf("  StartTask(1) baseline  %6.2f s  peak RSS %7ld KiB\n", a.seconds, a.peakKiB);
    std::printf("  StartTask(2)           %6.2f s  peak RSS %7ld KiB\n", b.seconds, b.peakKiB);
    std::printf("  speed-up %.2fx (bound for equal jobs two at a time %.2fx), peak memory ratio %.2fx\n",
                a.seconds / b.seconds, bound, double(b.peakKiB) / double(a.peakKiB));
  }
  fs::remove_all(work);
  return 0;
}
