// The main-thread dispatcher of the Qt application: calls from workers are queued to
// the GUI thread with a blocking queued call; pending work is run by processing events.
#pragma once

#include "media/MainThread.h"

namespace tovi {

class QtMainThreadDispatcher final : public IMainThreadDispatcher {
public:
  // Requires a QCoreApplication; its thread is the main thread.
  QtMainThreadDispatcher();
  bool IsMainThread() const override;
  // Blocks until the GUI thread has run `call`; rethrows what it threw.
  void RunAndWait(const std::function<void()> &call) override;
  void ProcessPending() override;
};

} // namespace tovi
