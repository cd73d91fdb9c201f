#include "ui/Previewer.h"

#include <QApplication>
#include <QMetaObject>
#include <QThread>

#include "media/Bitmap.h"
#include "media/MainThread.h"
#include "media/Texts.h"
#include "ui/PreviewWindow.h"

namespace tovi {
namespace {

bool InGuiThread() {
  const QCoreApplication *app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// Runs `call` in the GUI thread and waits for it; directly when already there. Works
// whichever main-thread dispatcher is installed, since the window needs Qt's own GUI
// thread, not just "the main thread". The completion wait is our own, so the thread
// sanitizer sees the hand-over.
void RunInGuiThread(const std::function<void()> &call) {
  if (InGuiThread() || !QCoreApplication::instance()) {
    call();
    return;
  }
  auto job = std::make_shared<TMainThreadCall>(call);
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [job] { job->Run(); }, Qt::QueuedConnection);
  job->Wait();
}

// A deep copy of a 24-bit bitmap (BGR, rows padded to 4 bytes).
QImage CopyFrame(const TBitmap &bitmap) {
  if (bitmap.Width() <= 0 || bitmap.Height() <= 0 || !bitmap.Bits()) return {};
  const QImage view(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowBytes(), QImage::Format_BGR888);
  return view.copy();
}

} // namespace

TPreviewer::TPreviewer() = default;

TPreviewer::~TPreviewer() {
  if (window_) RunInGuiThread([this] { window_.reset(); });
}

bool TPreviewer::ShowFrame(const TBitmap &bitmap, int frameNumber, std::int64_t pts) {
  if (closed_) return false;
  frameNumber_ = frameNumber;
  frameTime_ = pts;
  QImage frame = CopyFrame(bitmap);
  RunInGuiThread([&] { Paint(frame); });
  return !closed_;
}

void TPreviewer::Paint(const QImage &frame) {
  if (closed_) return;
  if (!window_) {
    if (frame.isNull()) return;
    window_ = std::make_unique<TPreviewWindow>(frame.size(), [this] { closed_ = true; });
    window_->show();
  }
  window_->setWindowTitle(QString::fromStdString(TimeText(frameTime_)));
  window_->SetFrame(frame);
  window_->repaint();
}

void InstallQtPreviewer() {
  SetPreviewerFactory([]() -> std::unique_ptr<IFramePreviewer> { return std::make_unique<TPreviewer>(); });
}

} // namespace tovi
