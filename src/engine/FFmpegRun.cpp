// Running a job: start (in the caller's thread or on a worker thread), the protected
// stages of the job body, the termination notice, and stop, pause and resume from the
// host's thread.
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>

#include "engine/FFmpeg.h"
#include "media/MainThread.h"

namespace tovi {

namespace {

// Waits for `event` in 20 ms steps; on the main thread pending main-thread calls run
// between the steps, so that a job waiting for the main thread cannot deadlock us.
void WaitServicingMainThread(const TEvent &event) {
  while (!event.WaitFor(20))
    if (IsMainThread()) ProcessPendingMessages();
}

} // namespace

TConvertThread *TCustomFFmpeg::Start(bool inThread, TThreadPriority priority) {
  const char *missing = nullptr;
  if (outputCount_ == 0)
    missing = "At least one output file must be specified";
  else if (inputCount_ == 0)
    missing = "At least one input file must be specified";
  {
    // Decided together with Terminate's claim: a job either runs (and its Run sends
    // the notice) or is refused, never both.
    std::lock_guard lock(noticeMutex_);
    if (busy_ || terminated_) return nullptr;
    if (missing)
      terminated_ = true; // the refusal's notice below is this run's one notice
    else
      busy_ = true;
  }
  if (missing) {
    FreeAll();
    Log(llQuiet, missing);
    errorMessage_ = missing;
    errorOccurred_ = true;
    NotifyTermination();
    return nullptr;
  }
  stopRequested_ = false;
  completedNormally_ = false;
  {
    std::lock_guard lock(pauseMutex_);
    paused_ = false;
  }
  if (!inThread) {
    Run();
    return nullptr;
  }
  runFinished_.Reset();
  ownedThread_ = std::make_unique<TConvertThread>(*this, priority, runFinished_);
  workerThread_ = ownedThread_.get();
  return ownedThread_.get();
}

void TCustomFFmpeg::RecordFailure(const std::string &message) {
  Log(llQuiet, message);
  // The first failure is the cause; later stages failing in its wake keep it.
  if (!errorOccurred_) errorMessage_ = message;
  errorOccurred_ = true;
}

void TCustomFFmpeg::Run() {
  completedNormally_ = false;
  setupCompleted_ = false;
  outputRefused_ = false;
  const auto stage = [this](const std::function<void()> &body) {
    try {
      body();
    } catch (const FFmpegException &error) {
      RecordFailure(error.Message());
    } catch (const std::exception &error) {
      RecordFailure(error.what());
    } catch (...) {
      RecordFailure("Unknown error");
    }
  };
  // The files this job creates: removed again when it fails before its set-up is done,
  // so that a job that never started leaves nothing behind, and when a muxer refused
  // what it was given, which leaves a file that cannot be whole.
  std::set<std::string> outputs;
  for (int i = 0; i < outputCount_; ++i)
    if (outputFiles_[size_t(i)] && !outputFiles_[size_t(i)]->FileName.empty())
      outputs.insert(outputFiles_[size_t(i)]->FileName);
  // The name of a muxer that names its files itself ("img%03d.png") is a pattern, which
  // may be the very name of a source: a source is never removed.
  TReadOnlyFiles sources;
  for (int i = 0; i < inputCount_; ++i)
    if (const AVFormatContext *input = inputFiles_[size_t(i)].Context(); input && input->url)
      sources.Add(input->url);

  stage([this] { Transcode(); });
  stage([this] { TranscodeTearDown(); });
  stage([this] { FreeAll(); });
  if (errorOccurred_ && (!setupCompleted_ || outputRefused_)) {
    stage([&outputs, &sources] {
      for (const std::string &name : outputs) {
        std::error_code ec;
        if (!sources.Holds(name)) std::filesystem::remove(name, ec);
      }
    });
  }
  stage([this] { NotifyTermination(); });
}

void TCustomFFmpeg::NotifyTermination() {
  {
    // terminated_ goes up with busy_ down in one step: a Terminate in between would
    // see neither and send a second notice.
    std::lock_guard lock(noticeMutex_);
    terminated_ = true;
    busy_ = false;
    workerThread_ = nullptr;
  }
  if (onTerminate_) onTerminate_(*this);
}

void TCustomFFmpeg::Stop(bool wait) {
  stopRequested_ = true;
  {
    std::lock_guard lock(pauseMutex_);
    paused_ = false;
  }
  pauseChanged_.notify_all();
  TConvertThread *worker = workerThread_;
  if (!worker) return;
  worker->Resume();
  // The job's own thread (a callback asking to stop) must not wait for itself.
  if (wait && !worker->IsCurrentThread()) WaitServicingMainThread(runFinished_);
}

void TCustomFFmpeg::Terminate(bool wait) {
  std::unique_ptr<TDoTerminateThread> previous;
  {
    // Test and claim in one step: of several callers (and a Start) exactly one gets
    // to send the notice of an idle engine. terminated_ goes up here already, before
    // the notice thread runs, so that later callers see the claim.
    std::unique_lock lock(noticeMutex_);
    if (busy_) {
      lock.unlock();
      Stop(wait);
      return;
    }
    if (terminated_) return;
    terminated_ = true;
    // A notice thread of an earlier run is joined outside the lock (it takes the lock).
    previous = std::move(terminateThread_);
    terminateThread_ = std::make_unique<TDoTerminateThread>(*this, terminateFinished_);
  }
  previous.reset();
  if (wait) WaitServicingMainThread(terminateFinished_);
}

void TCustomFFmpeg::Pause() {
  if (!busy_) return;
  std::lock_guard lock(pauseMutex_);
  if (!stopRequested_) paused_ = true;
}

void TCustomFFmpeg::Resume() {
  {
    std::lock_guard lock(pauseMutex_);
    paused_ = false;
  }
  pauseChanged_.notify_all();
  if (TConvertThread *worker = workerThread_) worker->Resume();
}

bool TCustomFFmpeg::Paused() const {
  std::lock_guard lock(pauseMutex_);
  return paused_;
}

void TCustomFFmpeg::WaitUnlessStopped(std::int64_t us) {
  // Stop sets the flag before it takes the lock to notify, so the wake-up is not lost.
  std::unique_lock lock(pauseMutex_);
  pauseChanged_.wait_for(lock, std::chrono::microseconds(us), [this] { return stopRequested_.load(); });
}

int TCustomFFmpeg::InputInterrupt(void *engine) {
  return static_cast<const TCustomFFmpeg *>(engine)->stopRequested_ ? 1 : 0;
}

void TCustomFFmpeg::WaitWhilePaused() {
  std::unique_lock lock(pauseMutex_);
  pauseChanged_.wait(lock, [this] { return !paused_ || stopRequested_; });
}

} // namespace tovi
