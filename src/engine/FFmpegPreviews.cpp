// The preview outputs of a running job: at most every preview interval the picture just
// given to the encoder goes, as a bitmap, to the host's preview-bitmap callback or to the
// floating frame previewer. The host changes the preview flags from its own thread while
// the job runs, so flags, previewer and timing sit under one process-wide preview lock.
//
// Lock order: the preview lock is never held while a host callback or the previewer
// runs. A host may forward a frame to its user-interface thread and wait for it there,
// while that thread is changing the flags; holding the lock across the call would
// deadlock the two.
#include <mutex>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"

namespace tovi {

namespace {

// Protects every engine's preview flags, previewer and last preview time.
std::mutex &PreviewLock() {
  static std::mutex lock;
  return lock;
}

std::mutex previewFactoryLock; // protects the factory below
TPreviewerFactory &PreviewerFactory() {
  static TPreviewerFactory factory;
  return factory;
}

} // namespace

void SetPreviewerFactory(TPreviewerFactory factory) {
  std::lock_guard guard(previewFactoryLock);
  PreviewerFactory() = std::move(factory);
}

std::unique_ptr<IFramePreviewer> CreateFramePreviewer() {
  std::lock_guard guard(previewFactoryLock);
  return PreviewerFactory() ? PreviewerFactory()() : nullptr;
}

void TCustomFFmpeg::SetPreviewFlags(int flags) {
  std::shared_ptr<IFramePreviewer> dropped;
  {
    std::lock_guard guard(PreviewLock());
    if (flags == previewFlags_) return;
    if ((previewFlags_ & PREVIEW_PREVIEWER) && !(flags & PREVIEW_PREVIEWER)) dropped = std::move(previewer_);
    previewFlags_ = flags;
  }
  // A previewer that is showing a frame right now goes when that frame is done.
  dropped.reset();
}

void TCustomFFmpeg::DropPreviewer() {
  std::shared_ptr<IFramePreviewer> dropped;
  std::lock_guard guard(PreviewLock());
  dropped = std::move(previewer_);
  lastPreviewUs_ = 0;
}

int TCustomFFmpeg::PreviewFlags() const {
  std::lock_guard guard(PreviewLock());
  return previewFlags_;
}

// Runs on the job's thread.
void TCustomFFmpeg::RunPreviews(const AVFrame *picture, const AVCodecContext *encoder) {
  int flags;
  std::shared_ptr<IFramePreviewer> previewer;
  const std::int64_t now = ff::av_gettime_relative();
  {
    std::lock_guard guard(PreviewLock());
    flags = previewFlags_;
    const bool toBitmap = (flags & PREVIEW_BITMAP) && onPreviewBitmap_;
    if (!toBitmap && !(flags & PREVIEW_PREVIEWER)) return;
    if (now - lastPreviewUs_ <= previewIntervalUs_) return;
    lastPreviewUs_ = now;
    if (!toBitmap) {
      if (!previewer_) previewer_ = CreateFramePreviewer();
      previewer = previewer_;
    }
    flags = toBitmap ? PREVIEW_BITMAP : PREVIEW_PREVIEWER;
  }

  const std::int64_t pts = picture->pts == AV_NOPTS_VALUE
                               ? AV_NOPTS_VALUE
                               : ff::av_rescale_q(picture->pts, encoder->time_base, AVRational{1, 1000000});
  bool failed = false;
  if (flags == PREVIEW_PREVIEWER && !previewer) {
    failed = true; // no previewer can be made here
  } else if (!ConvertToBitmap(previewHolder_, picture)) {
    Log(llError, "Cannot initialize the toRGB conversion context");
    failed = true;
  } else if (flags == PREVIEW_BITMAP) {
    onPreviewBitmap_(*this, *previewHolder_.Bitmap, decodedFrameCount_, pts);
  } else {
    failed = !previewer->ShowFrame(*previewHolder_.Bitmap, decodedFrameCount_, pts);
  }
  if (!failed) return;
  // Only the failed output stops; a change the host made meanwhile stays.
  std::shared_ptr<IFramePreviewer> dropped;
  {
    std::lock_guard guard(PreviewLock());
    const int next = previewFlags_ & ~flags;
    if ((previewFlags_ & PREVIEW_PREVIEWER) && !(next & PREVIEW_PREVIEWER)) dropped = std::move(previewer_);
    previewFlags_ = next;
  }
}

} // namespace tovi
