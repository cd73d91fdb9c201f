// Three 720p conversions through the converter component: one task at a time
// (StartTask(1), the baseline) against two at once (StartTask(2)), each with one and
// with all decoder/encoder threads per engine. Prints wall time, the speed-up against
// the baseline and the peak resident memory each run added.
//
// usage: converter_tasks_bench [FIXTURE_DIR]   (default: $TOVI_FIXTURE_DIR)
// The 720p inputs are made from the generated h264_aac.mp4 by the converter itself.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "converter/Converter.h"

using namespace tovi;
namespace fs = std::filesystem;

namespace {

long RssKiB() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Samples the resident size every 5 ms while it lives; Peak() is the highest seen.
class RssSampler {
public:
  RssSampler()
      : peak_(RssKiB()), thread_([this] {
          while (!done_) {
            const long now = RssKiB();
            if (now > peak_) peak_ = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
        }) {}
  ~RssSampler() {
    done_ = true;
    thread_.join();
  }
  long Peak() const { return peak_; }

private:
  std::atomic<bool> done_{false};
  std::atomic<long> peak_;
  std::thread thread_;
};

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

} // namespace

int main(int argc, char **argv) {
  const char *fixtures = argc > 1 ? argv[1] : std::getenv("TOVI_FIXTURE_DIR");
  if (!fixtures) {
    std::fprintf(stderr, "usage: converter_tasks_bench FIXTURE_DIR (or set TOVI_FIXTURE_DIR)\n");
    return 2;
  }
  const std::string source = (fs::path(fixtures) / "h264_aac.mp4").string();
  const fs::path work = fs::temp_directory_path() / ("tovi-tasks-bench-" + std::to_string(getpid()));
  fs::create_directories(work);

  TFFConverter converter;
  if (!converter.LoadLibraries({})) {
    std::fprintf(stderr, "%s\n", converter.LastErrorText().c_str());
    return 1;
  }
  converter.SetTriggerEventInMainThread(false);

  // Three 720p H.264/AAC inputs (2 s, 50 frames each), made once.
  converter.SetThreadCount(0);
  std::vector<std::string> inputs;
  for (int i = 0; i < 3; ++i) {
    inputs.push_back((work / ("in" + std::to_string(i) + ".mp4")).string());
    if (!AddConversion(converter, source, inputs.back(), "vcodec=libx264\ns=1280x720\nvb=4000000\nacodec=aac"))
      return 1;
  }
  if (!RunAll(converter, 1)) return 1;
  converter.ClearTasks();

  // The measured job: 720p H.264/AAC -> 720p MPEG-4/MP2 in Matroska.
  const auto measure = [&](int tasksAtOnce, int engineThreads) {
    converter.SetThreadCount(engineThreads);
    for (int i = 0; i < 3; ++i)
      if (!AddConversion(converter, inputs[size_t(i)], (work / ("out" + std::to_string(i) + ".mkv")).string(),
                         "vcodec=mpeg4\nvb=3000000\nacodec=mp2"))
        std::exit(1);
    Measured m;
    const long before = RssKiB();
    RssSampler sampler;
    const auto start = std::chrono::steady_clock::now();
    if (!RunAll(converter, tasksAtOnce)) std::exit(1);
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peakKiB = sampler.Peak() - before;
    converter.ClearTasks();
    return m;
  };

  std::printf("3 x 720p (50 frames) H.264/AAC -> MPEG-4/MP2, %u cores\n",
              std::thread::hardware_concurrency());
  for (int engineThreads : {1, 0}) {
    // Median of three rounds each; the rounds alternate so that drift hits both sides.
    std::vector<Measured> one, two;
    for (int round = 0; round < 3; ++round) {
      one.push_back(measure(1, engineThreads));
      two.push_back(measure(2, engineThreads));
    }
    const auto median = [](std::vector<Measured> v) {
      std::sort(v.begin(), v.end(),
                [](const Measured &a, const Measured &b) { return a.seconds < b.seconds; });
      return v[1];
    };
    const Measured a = median(one), b = median(two);
    std::printf("engine threads %s:\n", engineThreads == 0 ? "all cores (0)" : "1");
    std::printf("  StartTask(1) baseline  %6.2f s  peak +%6ld KiB\n", a.seconds, a.peakKiB);
    std::printf("  StartTask(2)           %6.2f s  peak +%6ld KiB\n", b.seconds, b.peakKiB);
    std::printf("  speed-up %.2fx, memory ratio %.2fx\n", a.seconds / b.seconds,
                a.peakKiB > 0 ? double(b.peakKiB) / double(a.peakKiB) : 0.0);
  }
  std::printf("process peak RSS %ld KiB\n", bench::PeakRssKiB());
  fs::remove_all(work);
  return 0;
}
