// One converter task: an engine plus what the component keeps beside it (the records it
// was configured with and a probe per input), and the ordered list of tasks.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "converter/AVProbe.h"
#include "converter/TaskOptions.h"
#include "engine/FFmpeg.h"

namespace tovi {

class TFFmpeg : public TCustomFFmpeg {
public:
  TFFmpeg() = default;
  // The probes and record copies go first: the probes only look at the engine's open
  // inputs, which the engine's own destruction closes afterwards.
  ~TFFmpeg() override = default;

  // The task's place in the component's list; moves only while no task runs.
  int TaskIndex() const { return taskIndex_.load(); }
  void SetTaskIndex(int index) { taskIndex_ = index; }

  // Stored record copies; index = input or output slot (0..MAX_FILES-1).
  void StoreInputOptions(int index, const TInputOptions &options);
  void StoreOutputOptions(int index, const TOutputOptions &options);
  // Back to unset (a failed output, or an output added without a record).
  void ResetOutputOptions(int index);
  const TInputOptions *InputOptions(int index) const;
  const TOutputOptions *OutputOptions(int index) const;

  // The probe of input `index`, attached to the file the engine opened; created on first
  // use. Null when there is no such input.
  TAVProbe *InputProbe(int index);

private:
  std::atomic<int> taskIndex_{-1};
  std::array<std::optional<TInputOptions>, MAX_FILES> inputOptions_;
  std::array<std::optional<TOutputOptions>, MAX_FILES> outputOptions_;
  std::array<std::unique_ptr<TAVProbe>, MAX_FILES> probes_;
};

// The component's ordered task list. It owns the tasks; a task is held through a shared
// pointer so that an operation that waits on a task (Stop with wait, running a task in
// the calling thread) keeps it alive even when a termination handler clears the list
// meanwhile. Every member locks the list; none waits on a task while holding the lock.
class TFFmpegList {
public:
  using TTaskPtr = std::shared_ptr<TFFmpeg>;

  // Appends and returns the new index (also stored in the task).
  int Add(TTaskPtr task);
  // Removes the task at `index`; later tasks move down by one.
  void Delete(int index);
  void Clear();
  // Null for an index out of range.
  TTaskPtr Item(int index) const;
  int IndexOf(const TFFmpeg *task) const;
  int Count() const;
  // The tasks in list order, for operations that may wait on them.
  std::vector<TTaskPtr> Snapshot() const;

  // In list order.
  void Pause();
  void Resume();
  // Terminate(wait) on every task; the list lock is not held while waiting.
  void Stop(bool wait);
  void SetPreview(bool value);
  void SetPreviewBitmap(bool value);

private:
  void SetPreviewBit(int bit, bool value);

  mutable std::recursive_mutex mutex_; // protects tasks_ (a handler may re-enter on the same thread)
  std::vector<TTaskPtr> tasks_;
};

} // namespace tovi
