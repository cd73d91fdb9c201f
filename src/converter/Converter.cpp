// The converter component: tasks, starting them, stop/pause/clear and the four events.
//
// Lock order: terminateLock_ may be held while a task is started (which takes the task
// list's lock briefly) and while a termination handler runs in the calling thread; it
// is never held while waiting for a job. The event locks are innermost: nothing else is
// taken while one is held, except what the handler itself does.
#include "converter/Converter.h"

#include <chrono>

#include "converter/TaskOptionsApply.h"
#include "media/Bitmap.h"
#include "media/FFmpegLoader.h"
#include "media/MainThread.h"
#include "media/StringFormat.h"

namespace tovi {
namespace {

// How many component handlers the current thread is inside. A call back into the
// component from a handler must not wait for a job: the job may be waiting for that
// very handler to return.
thread_local int tHandlerDepth = 0;

class THandlerScope {
public:
  THandlerScope() { ++tHandlerDepth; }
  ~THandlerScope() { --tHandlerDepth; }
  THandlerScope(const THandlerScope &) = delete;
  THandlerScope &operator=(const THandlerScope &) = delete;
};

} // namespace

// A termination notice delivered on a short-lived thread of its own (threaded mode): it
// carries its own copy of the record and the handler, so the component's record may be
// refilled at once. Task notices may overlap and arrive in any order; the all-ended
// notice waits until they have been handled, so it is always the last. The component
// counts running notices and waits for them before it is destroyed.
class TCustomConverter::TDoTerminateThread {
public:
  static void Start(TCustomConverter &owner, TTerminateEvent handler, TTerminateInfo info) {
    {
      std::lock_guard lock(owner.noticesMutex_);
      ++owner.noticesRunning_;
    }
    std::thread([&owner, handler = std::move(handler), info = std::move(info)] {
      if (info.TaskIndex == -1) {
        // The all-ended notice comes last: it waits for the task notices still being
        // delivered, so a handler that closes up on it has seen every task's notice.
        std::unique_lock lock(owner.noticesMutex_);
        owner.noticesDone_.wait(lock, [&] { return owner.noticesRunning_ == 1; });
      }
      try {
        THandlerScope scope;
        handler(owner, info);
      } catch (const std::exception &error) {
        TFFLogger::Instance().Log(&owner, llError, std::string("Error occurs OnTerminate: ") + error.what());
      }
      std::lock_guard lock(owner.noticesMutex_);
      --owner.noticesRunning_;
      owner.noticesDone_.notify_all();
    }).detach();
  }
};

TCustomConverter::TCustomConverter() = default;

TCustomConverter::~TCustomConverter() {
  // Stop and wait for every job; jobs stopped before they ran send their notices too.
  Stop(true);
  WaitForNotices();
  working_ = false; // late engine callbacks (none expected) are ignored from here on
  // Let an event that is being delivered finish first.
  { std::lock_guard lock(hookLock_); }
  { std::lock_guard lock(previewLock_); }
  { std::lock_guard lock(progressLock_); }
  { std::lock_guard lock(terminateLock_); }
  tasks_.Clear();
}

bool TCustomConverter::LoadLibraries(const std::string &folder) {
  auto &loader = TFFmpegLoader::Instance();
  loader.SetLibraryFolder(folder);
  if (loader.LoadLibraries(CONVERTER_LIBRARIES)) return true;
  SetLastError(loader.LastErrorText());
  return false;
}

void TCustomConverter::CheckWorking(const char *operation) const {
  if (working_) throw EConverterError(StringFormat("Cannot %s while working.", operation));
}

void TCustomConverter::SetLastError(std::string text) {
  std::lock_guard lock(errorMutex_);
  lastErrorText_ = std::move(text);
}

std::string TCustomConverter::LastErrorText() const {
  std::lock_guard lock(errorMutex_);
  return lastErrorText_;
}

int TCustomConverter::TaskIndexOf(const TCustomFFmpeg &engine) const {
  return static_cast<const TFFmpeg &>(engine).TaskIndex();
}

void TCustomConverter::SetThreadCount(int count) {
  if (count < 0) throw EConverterError(StringFormat("Invalid thread count: %d", count));
  engineThreadCount_ = count;
}

int TCustomConverter::AddTask(const std::string &fileName, TInputOptions *inputOptions) {
  CheckWorking("AddTask");
  auto task = std::make_shared<TFFmpeg>();
  try {
    task->Reset();
    task->SetVerbose(1);
    task->SetPreviewFlags((preview_ ? PREVIEW_PREVIEWER : 0) | (previewBitmap_ ? PREVIEW_BITMAP : 0));
    task->SetThreadCount(engineThreadCount_);
    task->SetOnPreviewBitmap([this](TCustomFFmpeg &engine, const TBitmap &bitmap, int frame,
                                    std::int64_t pts) { DoPreviewBitmap(engine, bitmap, frame, pts); });
    if (!OpenTaskInput(task, fileName, inputOptions)) return -1;
    task->SetOnProgress([this](TCustomFFmpeg &engine, int file, int frame, int fps, float quality,
                               float bitRate, std::int64_t size, std::int64_t time, std::int64_t total) {
      DoProgress(engine, file, frame, fps, quality, bitRate, size, time, total);
    });
    task->SetOnTerminate([this](TCustomFFmpeg &engine) { DoTerminate(engine); });
  } catch (const std::exception &error) {
    SetLastError(error.what());
    return -1;
  }
  return tasks_.Add(std::move(task));
}

bool TCustomConverter::OpenTaskInput(const std::shared_ptr<TFFmpeg> &taskPtr, const std::string &fileName,
                                     TInputOptions *inputOptions) {
  TFFmpeg &task = *taskPtr;
  if (inputOptions) {
    if (inputOptions->FileName.empty()) inputOptions->FileName = fileName;
    task.StoreInputOptions(task.InputFileCount(), *inputOptions);
    ApplyInputOptions(task, *inputOptions);
  }
  // Stop reaches the engine while it opens the input; forgotten however the open ends.
  struct TOpening {
    TCustomConverter &owner;
    TOpening(TCustomConverter &o, const std::shared_ptr<TFFmpeg> &task) : owner(o) {
      std::lock_guard lock(owner.openingMutex_);
      owner.opening_ = task;
      owner.openingStopped_ = false;
    }
    ~TOpening() {
      std::lock_guard lock(owner.openingMutex_);
      owner.opening_.reset();
    }
    bool Stopped() const {
      std::lock_guard lock(owner.openingMutex_);
      return owner.openingStopped_;
    }
  } opening(*this, taskPtr);
  const bool opened = task.AddInputFile(fileName);
  const bool stopped = opening.Stopped();
  if (!opened) {
    SetLastError(stopped ? fileName + ": opening stopped" : task.LastErrorText());
    return false;
  }
  task.InputProbe(task.InputFileCount() - 1);
  return true;
}

bool TCustomConverter::AddInputFile(int taskIndex, const std::string &fileName, TInputOptions *inputOptions) {
  CheckWorking("AddInputFile");
  const auto task = tasks_.Item(taskIndex);
  if (!task) {
    SetLastError(StringFormat("Invalid task index: %d", taskIndex));
    return false;
  }
  if (task->InputFileCount() >= MAX_FILES) {
    SetLastError(StringFormat("max input files %d reached", MAX_FILES));
    return false;
  }
  try {
    return OpenTaskInput(task, fileName, inputOptions);
  } catch (const std::exception &error) {
    SetLastError(error.what());
    return false;
  }
}

bool TCustomConverter::SetOutputFile(int taskIndex, const std::string &fileName,
                                     TOutputOptions *outputOptions) {
  CheckWorking("SetOutputFile");
  const auto task = tasks_.Item(taskIndex);
  if (!task) {
    SetLastError(StringFormat("Invalid task index: %d", taskIndex));
    return false;
  }
  const int slot = task->OutputFileCount();
  if (slot >= MAX_FILES) {
    SetLastError(StringFormat("max output files %d reached", MAX_FILES));
    return false;
  }
  try {
    bool join = false;
    std::optional<TOutputOptionsApplier> applier;
    if (outputOptions) {
      if (outputOptions->FileName.empty()) outputOptions->FileName = fileName;
      task->StoreOutputOptions(slot, *outputOptions);
      applier.emplace(*outputOptions);
      applier->ApplyBeforeOpen(*task);
      if (outputOptions->CustomHook)
        task->SetOnCustomHook(
            [this](TCustomFFmpeg &engine, TBitmap &bitmap, int frame, std::int64_t pts, bool &update,
                   bool &stopHook) { DoCustomHook(engine, bitmap, frame, pts, update, stopHook); });
      if (outputOptions->CustomHook && HookPlanning())
        task->SetOnCustomHookPlan(
            [this](TCustomFFmpeg &engine, THookPlanes *planes, int frame, std::int64_t pts, THookPlan &plan) {
              DoCustomHookPlan(engine, planes, frame, pts, plan);
            });
      join = outputOptions->Join;
    } else {
      task->ResetOutputOptions(slot);
    }
    if (task->AddOutputFile(fileName, join) < 0) {
      SetLastError(task->LastErrorText());
      task->ResetOutputOptions(slot);
      return false;
    }
    if (applier) applier->AddStreams(*task);
    return true;
  } catch (const std::exception &error) {
    SetLastError(error.what());
    return false;
  }
}

void TCustomConverter::RemoveTask(int index) {
  CheckWorking("RemoveTask");
  tasks_.Delete(index);
}

TAVProbe *TCustomConverter::InputProbe(int taskIndex, int fileIndex) {
  const auto task = tasks_.Item(taskIndex);
  return task ? task->InputProbe(fileIndex) : nullptr;
}

void TCustomConverter::StartTask(int threadCount) {
  CheckWorking("StartTask");
  std::unique_lock lock(terminateLock_);
  finishedCount_ = 0;
  nextTask_ = 0;
  notStarted_ = tasks_.Count();
  allEnded_ = false;
  threaded_ = threadCount > 0;
  working_ = true;
  if (notStarted_ == 0) {
    // Nothing to run: the all-ended notice at once, so the component does not stay
    // working with no notice to come.
    SendAllEnded();
    return;
  }
  if (threaded_) {
    while (notStarted_ > 0) {
      StartNextTask();
      if (--threadCount == 0) break;
    }
    return;
  }
  // In the calling thread, one task after another. The lock is not held while a task
  // runs, so that a Stop from another thread or a notification thread can get in.
  lock.unlock();
  for (;;) {
    TFFmpegList::TTaskPtr task; // keeps the task alive even if a handler clears the list
    {
      std::lock_guard again(terminateLock_);
      if (notStarted_ <= 0 || threaded_) break;
      --notStarted_;
      task = tasks_.Item(nextTask_++);
    }
    if (!task) break;
    task->SetProgressIntervalUs(std::int64_t(progressIntervalMs_) * 1000);
    task->Start(false, threadPriority_);
  }
}

void TCustomConverter::StartNextTask() {
  if (notStarted_ <= 0) return;
  --notStarted_;
  const auto task = tasks_.Item(nextTask_++);
  if (!task) return;
  task->SetProgressIntervalUs(std::int64_t(progressIntervalMs_) * 1000);
  // A rejected job (no output file...) has sent its notice from inside Start already.
  if (task->Start(true, threadPriority_)) task->Resume();
}

void TCustomConverter::DoTerminate(TCustomFFmpeg &engine) {
  std::lock_guard lock(terminateLock_);
  if (!working_) return; // the tasks have been cleared meanwhile
  TTerminateEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onTerminate_;
  }
  if (handler) {
    terminateInfo_.TaskIndex = TaskIndexOf(engine);
    terminateInfo_.Finished = engine.CompletedNormally();
    terminateInfo_.Exception = engine.ErrorOccurred();
    terminateInfo_.ExceptionMsg = engine.ErrorMessage();
    DeliverTerminate(terminateInfo_);
  }
  if (!working_) return; // a handler in the calling thread cleared the tasks
  ++finishedCount_;
  if (notStarted_ < 1) {
    if (finishedCount_ >= tasks_.Count()) SendAllEnded();
  } else if (threaded_) {
    StartNextTask();
  }
}

void TCustomConverter::SendAllEnded() {
  if (allEnded_) return; // once per run
  // The flag goes up before the notice so that its handler may call ClearTasks, even
  // when it runs on a notice thread of its own.
  allEnded_ = true;
  TTerminateEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onTerminate_;
  }
  if (!handler) return;
  terminateInfo_ = TTerminateInfo{-1, true, false, {}};
  DeliverTerminate(terminateInfo_);
}

void TCustomConverter::DeliverTerminate(const TTerminateInfo &info) {
  TTerminateEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onTerminate_;
  }
  if (!handler) return;
  if (threaded_) {
    TDoTerminateThread::Start(*this, std::move(handler), info);
    return;
  }
  THandlerScope scope;
  handler(*this, TTerminateInfo(info)); // the handler may clear the tasks and the record
}

void TCustomConverter::Deliver(const std::function<void()> &call) {
  if (triggerEventInMainThread_) {
    RunInMainThread([&] {
      THandlerScope scope;
      call();
    });
  } else {
    THandlerScope scope;
    call();
  }
}

void TCustomConverter::DoProgress(TCustomFFmpeg &engine, int fileIndex, int frameNumber, int fps,
                                  float quality, float bitRate, std::int64_t currentSize,
                                  std::int64_t currentDuration, std::int64_t totalDuration) {
  TProgressEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onProgress_;
  }
  if (!handler) return;
  std::lock_guard lock(progressLock_);
  progressInfo_ = TProgressInfo{TaskIndexOf(engine), fileIndex,       frameNumber,  fps, quality, bitRate,
                                currentSize,         currentDuration, totalDuration};
  Deliver([&] { handler(*this, &progressInfo_); });
}

void TCustomConverter::DoPreviewBitmap(TCustomFFmpeg &engine, const TBitmap &bitmap, int frameNumber,
                                       std::int64_t pts) {
  TPreviewBitmapEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onPreviewBitmap_;
  }
  if (!handler) return;
  std::lock_guard lock(previewLock_);
  previewInfo_ = TPreviewInfo{TaskIndexOf(engine), &bitmap, frameNumber, pts};
  Deliver([&] { handler(*this, previewInfo_); });
}

void TCustomConverter::DoCustomHook(TCustomFFmpeg &engine, TBitmap &bitmap, int frameNumber, std::int64_t pts,
                                    bool &update, bool &stopHook) {
  TCustomHookEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onCustomHook_;
  }
  if (!handler) return;
  std::lock_guard lock(hookLock_);
  hookInfo_ =
      THookInfo{TaskIndexOf(engine),     &bitmap, frameNumber, pts, update, stopHook, nullptr, nullptr,
                &engine.CustomHookPlan()};
  {
    // The engine holds the bitmap's canvas lock around this call.
    THandlerScope scope;
    handler(*this, &hookInfo_); // always on the worker thread
  }
  update = hookInfo_.Update;
  stopHook = hookInfo_.StopHook;
}

void TCustomConverter::DoCustomHookPlan(TCustomFFmpeg &engine, THookPlanes *planes, int frameNumber,
                                        std::int64_t pts, THookPlan &plan) {
  TCustomHookEvent handler;
  {
    std::lock_guard handlers(handlersMutex_);
    handler = onCustomHook_;
  }
  if (!handler) return;
  std::lock_guard lock(hookLock_);
  hookInfo_ = THookInfo{TaskIndexOf(engine), nullptr, frameNumber, pts, true, false, planes, &plan};
  THandlerScope scope;
  handler(*this, &hookInfo_); // always on the worker thread
}

void TCustomConverter::Pause() { tasks_.Pause(); }

void TCustomConverter::Resume() { tasks_.Resume(); }

void TCustomConverter::Stop(bool wait) {
  {
    std::lock_guard lock(terminateLock_);
    notStarted_ = 0;
  }
  {
    std::lock_guard lock(openingMutex_);
    if (opening_) {
      opening_->Stop(false); // the engine's input reads ask its stop flag
      openingStopped_ = true;
    }
  }
  // From inside a handler the job may be waiting for us: ask, do not wait.
  tasks_.Stop(wait && tHandlerDepth == 0);
}

void TCustomConverter::ClearTasks() {
  if (working_ && !allEnded_) throw EConverterError("Cannot ClearTasks while working.");
  {
    std::lock_guard lock(terminateLock_);
    finishedCount_ = 0;
    nextTask_ = -1;
    notStarted_ = 0;
    allEnded_ = false;
    threaded_ = false;
    working_ = false;
  }
  tasks_.Clear();
  SetLastError({});
}

void TCustomConverter::SetPreview(bool value) {
  preview_ = value;
  ApplyPreviewBits(PREVIEW_PREVIEWER, value);
}

void TCustomConverter::SetPreviewBitmap(bool value) {
  previewBitmap_ = value;
  ApplyPreviewBits(PREVIEW_BITMAP, value);
}

void TCustomConverter::ApplyPreviewBits(int bit, bool value) {
  // The engine holds its preview lock only to swap flags and the previewer, never while
  // a frame is being shown, so this may run in the main thread while jobs preview.
  if (bit == PREVIEW_PREVIEWER)
    tasks_.SetPreview(value);
  else
    tasks_.SetPreviewBitmap(value);
}

void TCustomConverter::WaitForNotices() {
  std::unique_lock lock(noticesMutex_);
  while (noticesRunning_ > 0) {
    if (IsMainThread()) {
      // A notice handler may be waiting for this thread: keep serving it.
      lock.unlock();
      ProcessPendingMessages();
      lock.lock();
      noticesDone_.wait_for(lock, std::chrono::milliseconds(10));
    } else {
      noticesDone_.wait(lock);
    }
  }
}

void TCustomConverter::SetOnCustomHook(TCustomHookEvent handler) {
  std::lock_guard lock(handlersMutex_);
  onCustomHook_ = std::move(handler);
}

void TCustomConverter::SetCustomHookPlanning(bool planning) {
  std::lock_guard lock(handlersMutex_);
  hookPlanning_ = planning;
}

bool TCustomConverter::HookPlanning() const {
  std::lock_guard lock(handlersMutex_);
  return hookPlanning_;
}

void TCustomConverter::SetOnPreviewBitmap(TPreviewBitmapEvent handler) {
  std::lock_guard lock(handlersMutex_);
  onPreviewBitmap_ = std::move(handler);
}

void TCustomConverter::SetOnProgress(TProgressEvent handler) {
  std::lock_guard lock(handlersMutex_);
  onProgress_ = std::move(handler);
}

void TCustomConverter::SetOnTerminate(TTerminateEvent handler) {
  std::lock_guard lock(handlersMutex_);
  onTerminate_ = std::move(handler);
}

} // namespace tovi
