// Tasks and the task list.
#include "converter/FFmpegTask.h"

namespace tovi {

void TFFmpeg::StoreInputOptions(int index, const TInputOptions &options) {
  inputOptions_.at(static_cast<size_t>(index)) = options;
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions &options) {
  outputOptions_.at(static_cast<size_t>(index)) = options;
}

void TFFmpeg::ResetOutputOptions(int index) {
  if (index < 0 || index >= MAX_FILES) return;
  outputOptions_[static_cast<size_t>(index)].reset();
}

const TInputOptions *TFFmpeg::InputOptions(int index) const {
  if (index < 0 || index >= MAX_FILES || !inputOptions_[size_t(index)]) return nullptr;
  return &*inputOptions_[size_t(index)];
}

const TOutputOptions *TFFmpeg::OutputOptions(int index) const {
  if (index < 0 || index >= MAX_FILES || !outputOptions_[size_t(index)]) return nullptr;
  return &*outputOptions_[size_t(index)];
}

TAVProbe *TFFmpeg::InputProbe(int index) {
  if (index < 0 || index >= InputFileCount()) return nullptr;
  auto &probe = probes_[static_cast<size_t>(index)];
  if (!probe) {
    probe = std::make_unique<TAVProbe>();
    probe->AttachContext(InputFile(index).Context());
  }
  return probe.get();
}

int TFFmpegList::Add(TTaskPtr task) {
  std::lock_guard lock(mutex_);
  task->SetTaskIndex(int(tasks_.size()));
  tasks_.push_back(std::move(task));
  return int(tasks_.size()) - 1;
}

void TFFmpegList::Delete(int index) {
  TTaskPtr removed; // destroyed after the lock is released
  {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= int(tasks_.size())) return;
    removed = std::move(tasks_[size_t(index)]);
    tasks_.erase(tasks_.begin() + index);
    for (size_t i = size_t(index); i < tasks_.size(); ++i)
      tasks_[i]->SetTaskIndex(int(i));
  }
}

void TFFmpegList::Clear() {
  std::vector<TTaskPtr> removed; // destroyed after the lock is released
  {
    std::lock_guard lock(mutex_);
    removed.swap(tasks_);
  }
}

TFFmpegList::TTaskPtr TFFmpegList::Item(int index) const {
  std::lock_guard lock(mutex_);
  if (index < 0 || index >= int(tasks_.size())) return nullptr;
  return tasks_[size_t(index)];
}

int TFFmpegList::IndexOf(const TFFmpeg *task) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < tasks_.size(); ++i)
    if (tasks_[i].get() == task) return int(i);
  return -1;
}

int TFFmpegList::Count() const {
  std::lock_guard lock(mutex_);
  return int(tasks_.size());
}

std::vector<TFFmpegList::TTaskPtr> TFFmpegList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return tasks_;
}

void TFFmpegList::Pause() {
  for (const TTaskPtr &task : Snapshot())
    task->Pause();
}

void TFFmpegList::Resume() {
  for (const TTaskPtr &task : Snapshot())
    task->Resume();
}

void TFFmpegList::Stop(bool wait) {
  for (const TTaskPtr &task : Snapshot())
    task->Terminate(wait);
}

void TFFmpegList::SetPreviewBit(int bit, bool value) {
  for (const TTaskPtr &task : Snapshot()) {
    const int flags = task->PreviewFlags();
    task->SetPreviewFlags(value ? flags | bit : flags & ~bit);
  }
}

void TFFmpegList::SetPreview(bool value) { SetPreviewBit(PREVIEW_PREVIEWER, value); }
void TFFmpegList::SetPreviewBitmap(bool value) { SetPreviewBit(PREVIEW_BITMAP, value); }

} // namespace tovi
