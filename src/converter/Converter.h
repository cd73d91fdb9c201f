// The converter component: the programmatic face of the transcoding engine.
//
// The application loads the libraries through it, adds tasks (an input file and an
// output file each, described by the records of TaskOptions.h), starts them and
// receives progress, preview bitmaps, per-frame hook calls and termination notices as
// events. A task is one engine (TFFmpeg). Tasks run one after another in the calling
// thread (StartTask(0)) or on worker threads, N at a time (StartTask(N)).
//
// Threads:
// - Every operation is called from the user-interface ("main") thread, except that a
//   termination handler may call ClearTasks from its notice thread.
// - OnProgress and OnPreviewBitmap run in the main thread (through the main-thread
//   dispatcher, the worker waiting) when TriggerEventInMainThread is set, else on the
//   worker thread. OnCustomHook always runs on the worker thread.
// - OnTerminate runs, in threaded mode, on a short-lived notice thread of its own per
//   notice (so task notices may overlap and arrive in any order); every task sends
//   exactly one notice, however many Stop calls meet, and the all-ended notice comes
//   after every task notice has been handled. When tasks run in the calling thread it
//   runs there, directly.
// - A handler running in the main thread may call back into the component. Calls that
//   would wait for the worker that waits for the handler do not wait there: Stop(true)
//   acts as Stop(false) inside any of the component's handlers.
//
// Misuse (an operation refused while working, libraries missing) raises EConverterError;
// other failures come back as -1 / false with the reason in LastErrorText.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "converter/AVProbe.h"
#include "converter/FFBaseComponent.h"
#include "converter/FFmpegTask.h"
#include "converter/TaskOptions.h"
#include "engine/EngineEvents.h"

namespace tovi {

class TBitmap;

class EConverterError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One progress report of a task.
struct TProgressInfo {
  std::int32_t TaskIndex = 0;
  std::int32_t FileIndex = 0;       // input being read; -1 in the task's final report
  std::int32_t FrameNumber = 0;     // -1 without video output
  std::int32_t FPS = 0;             // -1 without video output
  float Quality = 0;                // -1 without video or for a stream copy
  float BitRate = 0;                // kbit/s
  std::int64_t CurrentSize = 0;     // bytes
  std::int64_t CurrentDuration = 0; // microseconds of output reached
  std::int64_t TotalDuration = 0;   // microseconds expected; -1 = unknown
};
using PProgressInfo = TProgressInfo *;

struct TPreviewInfo {
  std::int32_t TaskIndex = 0;
  const TBitmap *Bitmap = nullptr; // owned by the engine; valid only during the event
  std::int32_t FrameNumber = 0;
  std::int64_t PTS = 0; // microseconds
};

struct THookInfo {
  std::int32_t TaskIndex = 0;
  TBitmap *Bitmap = nullptr; // the frame; the handler may draw on it
  std::int32_t FrameNumber = 0;
  std::int64_t PTS = 0;  // microseconds
  bool Update = true;    // false: keep the frame as it was
  bool StopHook = false; // true: no more hook calls for this task
  // With SetCustomHookPlanning the handler is first called for each frame with Bitmap
  // null and Plan set, to fill the plan (Planes, when not null, may be changed directly).
  THookPlanes *Planes = nullptr;
  THookPlan *Plan = nullptr;
  // In the drawing call: the plan the frame was converted by (whole frame when none).
  const THookPlan *Planned = nullptr;
};
using PHookInfo = THookInfo *;

struct TTerminateInfo {
  std::int32_t TaskIndex = 0; // -1: all tasks have ended
  bool Finished = false;      // the job ran to its end without a stop request
  bool Exception = false;     // an error ended the task
  std::string ExceptionMsg;
};

class TCustomConverter : public TFFBaseComponent {
public:
  // Event types (the engine has callbacks of the same names; these are the component's).
  using TCustomHookEvent = std::function<void(TCustomConverter &Sender, PHookInfo AHookInfo)>;
  using TPreviewBitmapEvent = std::function<void(TCustomConverter &Sender, const TPreviewInfo &APreviewInfo)>;
  using TProgressEvent = std::function<void(TCustomConverter &Sender, PProgressInfo AProgressInfo)>;
  using TTerminateEvent = std::function<void(TCustomConverter &Sender, const TTerminateInfo &ATerminateInfo)>;

  // Stops every task and waits for it, waits for notices still being delivered, then
  // frees the tasks and the probe.
  ~TCustomConverter() override;
  TCustomConverter(const TCustomConverter &) = delete;
  TCustomConverter &operator=(const TCustomConverter &) = delete;

  // Gives `folder` to the library loader and loads the converter library set; false with
  // the loader's message in LastErrorText.
  bool LoadLibraries(const std::string &folder);

  // A new task reading `fileName` (UTF-8), configured from `inputOptions` when given (an
  // empty FileName in it is filled in). The task index, or -1 with LastErrorText.
  int AddTask(const std::string &fileName, TInputOptions *inputOptions = nullptr);
  // A further input of an existing task (for an output record with Join, or an option
  // list that reads several files), configured like AddTask's. False with LastErrorText.
  bool AddInputFile(int taskIndex, const std::string &fileName, TInputOptions *inputOptions = nullptr);
  // Adds an output file to a task, configured from `outputOptions` when given. False
  // with LastErrorText.
  bool SetOutputFile(int taskIndex, const std::string &fileName, TOutputOptions *outputOptions = nullptr);
  void RemoveTask(int index);
  // Starts the tasks: threadCount > 0 runs that many at once on worker threads (each
  // further task starts when one ends) and returns at once; 0 or less runs all of them
  // in the calling thread before returning. Every task sends one termination notice,
  // then one all-ended notice follows (also for an empty task list).
  void StartTask(int threadCount);
  void Pause();
  void Resume();
  // Stops running tasks (with wait: returns when they have ended) and ends those not
  // yet started; their notices and the all-ended notice follow. Also ends an AddTask or
  // AddInputFile that waits for its input (a pipe that stays silent): it fails with
  // "<name>: opening stopped". For that one purpose Stop may come from any thread.
  void Stop(bool wait);
  // Destroys every task and returns to idle. Refused while working, unless all tasks
  // have ended.
  void ClearTasks();

  int TaskCount() const { return tasks_.Count(); }
  // The probe attached to input `fileIndex` of task `taskIndex`; null when there is none.
  TAVProbe *InputProbe(int taskIndex, int fileIndex);
  TAVProbe &Probe() { return probe_; }
  std::string LastErrorText() const;

  bool Working() const { return working_; }
  bool AllEnded() const { return allEnded_; }

  // ---- properties ----
  bool Preview() const { return preview_; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return previewBitmap_; }
  void SetPreviewBitmap(bool value);
  // Milliseconds between two progress events of a task; 100 or less stores 100.
  int ProgressInterval() const { return progressIntervalMs_; }
  void SetProgressInterval(int ms) { progressIntervalMs_ = ms <= 100 ? 100 : ms; }
  TThreadPriority ThreadPriority() const { return threadPriority_; }
  void SetThreadPriority(TThreadPriority value) { threadPriority_ = value; }
  bool TriggerEventInMainThread() const { return triggerEventInMainThread_; }
  void SetTriggerEventInMainThread(bool value) { triggerEventInMainThread_ = value; }
  // Decoder and encoder threads of each task's engine (0 = as many as there are cores);
  // handed to every engine when its task is added. Default 1, the engine's own default.
  int ThreadCount() const { return engineThreadCount_; }
  void SetThreadCount(int count);

  // ---- events (set them while no task runs) ----
  void SetOnCustomHook(TCustomHookEvent handler);
  // Whether the custom hook's handler is also called to plan each frame (see THookInfo).
  // Set before the tasks are added.
  void SetCustomHookPlanning(bool planning);
  void SetOnPreviewBitmap(TPreviewBitmapEvent handler);
  void SetOnProgress(TProgressEvent handler);
  void SetOnTerminate(TTerminateEvent handler);

protected:
  TCustomConverter();

  // The callbacks every task's engine calls, on the thread that runs the task.
  virtual void DoCustomHook(TCustomFFmpeg &engine, TBitmap &bitmap, int frameNumber, std::int64_t pts,
                            bool &update, bool &stopHook);
  virtual void DoCustomHookPlan(TCustomFFmpeg &engine, THookPlanes *planes, int frameNumber, std::int64_t pts,
                                THookPlan &plan);
  virtual void DoPreviewBitmap(TCustomFFmpeg &engine, const TBitmap &bitmap, int frameNumber,
                               std::int64_t pts);
  virtual void DoProgress(TCustomFFmpeg &engine, int fileIndex, int frameNumber, int fps, float quality,
                          float bitRate, std::int64_t currentSize, std::int64_t currentDuration,
                          std::int64_t totalDuration);
  virtual void DoTerminate(TCustomFFmpeg &engine);

private:
  class TDoTerminateThread;

  void CheckWorking(const char *operation) const;
  // Applies the input record (when given) and opens the next input of `task`; false
  // with LastErrorText. Raises what the engine raises.
  bool OpenTaskInput(const std::shared_ptr<TFFmpeg> &task, const std::string &fileName,
                     TInputOptions *inputOptions);
  void SetLastError(std::string text);
  int TaskIndexOf(const TCustomFFmpeg &engine) const;
  // Under terminateLock_.
  void StartNextTask();
  void SendAllEnded();
  // Hands a notice to OnTerminate: on a notice thread of its own in threaded mode,
  // directly otherwise.
  void DeliverTerminate(const TTerminateInfo &info);
  // Runs a progress or preview handler where TriggerEventInMainThread says.
  void Deliver(const std::function<void()> &call);
  // Sets or clears one preview bit on every task.
  void ApplyPreviewBits(int bit, bool value);
  void WaitForNotices();

  TAVProbe probe_;
  TFFmpegList tasks_;

  // The task whose input AddTask/AddInputFile is opening, so that Stop reaches a read
  // that waits for data; openingStopped_ records that it did.
  mutable std::mutex openingMutex_; // protects opening_ and openingStopped_
  std::shared_ptr<TFFmpeg> opening_;
  bool openingStopped_ = false;

  mutable std::mutex errorMutex_; // protects lastErrorText_
  std::string lastErrorText_;

  // One lock per event kind: events of one kind are delivered one at a time, so the
  // shared record of that kind is not refilled during a delivery.
  std::mutex hookLock_;                // protects hookInfo_
  std::mutex previewLock_;             // protects previewInfo_
  std::mutex progressLock_;            // protects progressInfo_
  std::recursive_mutex terminateLock_; // protects the run counters below; a handler called
                                       // in the calling thread may re-enter (ClearTasks)
  THookInfo hookInfo_;
  TPreviewInfo previewInfo_;
  TProgressInfo progressInfo_;
  TTerminateInfo terminateInfo_;

  mutable std::mutex handlersMutex_; // protects the four handlers
  TCustomHookEvent onCustomHook_;
  TPreviewBitmapEvent onPreviewBitmap_;
  TProgressEvent onProgress_;
  TTerminateEvent onTerminate_;
  bool hookPlanning_ = false; // protected by handlersMutex_ too
  bool HookPlanning() const;

  // Run counters (terminateLock_).
  int finishedCount_ = 0;
  int nextTask_ = -1;
  int notStarted_ = 0;
  std::atomic<bool> allEnded_{false};
  std::atomic<bool> threaded_{false};
  std::atomic<bool> working_{false};

  std::atomic<bool> preview_{false};
  std::atomic<bool> previewBitmap_{false};
  std::atomic<int> progressIntervalMs_{500};
  std::atomic<TThreadPriority> threadPriority_{TThreadPriority::Normal};
  std::atomic<bool> triggerEventInMainThread_{true};
  std::atomic<int> engineThreadCount_{1};

  // Notice threads still running (they use the component as sender).
  std::mutex noticesMutex_; // protects noticesRunning_
  std::condition_variable noticesDone_;
  int noticesRunning_ = 0;
};

// The component the application creates.
class TFFConverter final : public TCustomConverter {
public:
  TFFConverter() = default;
};

} // namespace tovi
