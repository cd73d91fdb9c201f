// The floating frame previewer: a small always-on-top window per task that shows the
// frames a job is converting, with the frame's time as its title.
//
// The engine creates one through the process-wide previewer factory (InstallQtPreviewer
// installs this one) on its job thread and hands it frames there; the window lives and
// is painted in the GUI thread. ShowFrame blocks until the GUI thread has taken the
// frame, so the GUI thread must keep processing events while jobs preview (the
// component's and the engine's waits do).
//
// The window can be dragged by any point of its picture. Closing it ends the previews
// of that task: ShowFrame returns false from then on and the engine clears the task's
// preview bit.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/EngineEvents.h"

class QImage;

namespace tovi {

class TPreviewWindow;

class TPreviewer final : public IFramePreviewer {
public:
  TPreviewer();
  // Destroys the window in the GUI thread (waiting for it) when one was created.
  ~TPreviewer() override;
  TPreviewer(const TPreviewer &) = delete;
  TPreviewer &operator=(const TPreviewer &) = delete;

  // Any thread but the GUI thread's own paint: copies the frame and has it painted in
  // the GUI thread, waiting until that is done. False once the user has closed the
  // window (nothing is painted then).
  bool ShowFrame(const TBitmap &bitmap, int frameNumber, std::int64_t pts) override;

  bool Closed() const { return closed_; }
  int FrameNumber() const { return frameNumber_; }
  std::int64_t FrameTime() const { return frameTime_; }
  // GUI thread: the window, null before the first frame.
  TPreviewWindow *Window() const { return window_.get(); }

private:
  // GUI thread: creates the window on the first frame, sets the title, draws the frame.
  void Paint(const QImage &frame);

  std::atomic<bool> closed_{false}; // set by the window's close handler (GUI thread)
  std::atomic<int> frameNumber_{0};
  std::atomic<std::int64_t> frameTime_{0};
  std::unique_ptr<TPreviewWindow> window_; // created, used and destroyed in the GUI thread
};

// Installs the factory through which every engine creates a TPreviewer. Requires a
// QApplication; call it from the GUI thread after creating the application.
void InstallQtPreviewer();

} // namespace tovi
