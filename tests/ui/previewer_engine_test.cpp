// The previewer as a running job uses it: the component's Preview property makes each
// task's engine create a Qt previewer on its job thread; closing the window ends that
// task's previews for the rest of the job, and the window goes with the previewer.
#include <gtest/gtest.h>

#include <QApplication>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "converter/Converter.h"
#include "media/MainThread.h"
#include "support/TestMedia.h"
#include "ui/PreviewWindow.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace std::chrono_literals;

namespace {

int gArgc = 1;
char gArg0[] = "ui_previewer_engine_test";
char *gArgv[] = {gArg0, nullptr};

// What the test sees of the previewers the engines make.
struct Observed {
  std::atomic<int> created{0};
  std::atomic<int> destroyed{0};
  std::atomic<int> shown{0};                // ShowFrame calls
  std::atomic<TPreviewer *> first{nullptr}; // the first previewer, while it lives
};

// A TPreviewer that reports to the test.
class CountingPreviewer final : public IFramePreviewer {
public:
  explicit CountingPreviewer(Observed &observed) : observed_(observed) {
    if (++observed_.created == 1) observed_.first = &inner_;
  }
  ~CountingPreviewer() override {
    TPreviewer *self = &inner_;
    observed_.first.compare_exchange_strong(self, nullptr);
    ++observed_.destroyed;
  }
  bool ShowFrame(const TBitmap &bitmap, int frameNumber, std::int64_t pts) override {
    ++observed_.shown;
    return inner_.ShowFrame(bitmap, frameNumber, pts);
  }

private:
  Observed &observed_;
  TPreviewer inner_;
};

TEST(PreviewerWithEngine, ClosingTheWindowEndsThePreviewsOfThatTask) {
  if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
    GTEST_SKIP() << "needs a display (xvfb-run)";
  QApplication app(gArgc, gArgv);
  SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
  Observed observed;
  SetPreviewerFactory([&observed]() -> std::unique_ptr<IFramePreviewer> {
    return std::make_unique<CountingPreviewer>(observed);
  });
  test::LoadConverterLibraries();
  test::TempDir dir;
  {
    TFFConverter converter;
    converter.SetPreview(true);
    const int task = converter.AddTask(test::FixturePath("h264_aac.mp4"));
    ASSERT_EQ(task, 0) << converter.LastErrorText();
    TOutputOptions out;
    InitOutputOptions(out);
    out.VideoCodec = "mpeg4";
    out.FrameSize = "96x64";
    out.CustomHook = true; // slows the job down so that the window can be closed mid-run
    ASSERT_TRUE(converter.SetOutputFile(task, dir.file("out.mkv"), &out)) << converter.LastErrorText();
    converter.SetOnCustomHook([](TCustomConverter &, PHookInfo) { std::this_thread::sleep_for(20ms); });
    std::atomic<bool> ended{false};
    converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
      if (info.TaskIndex == -1) ended = true;
    });

    converter.StartTask(1);
    TPreviewWindow *window = nullptr;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      TPreviewer *previewer = observed.first;
      if (!window && previewer && previewer->Window() && previewer->Window()->isVisible()) {
        window = previewer->Window();
        EXPECT_EQ(window->size(), QSize(96, 64)); // the output's frame size
        EXPECT_FALSE(window->windowTitle().isEmpty());
        window->close();
      }
    }
    ASSERT_TRUE(ended);
    ASSERT_NE(window, nullptr) << "no preview window was shown";
    // One more frame may have been on its way when the window closed; after its refusal
    // the engine dropped the previewer and made no other.
    EXPECT_EQ(observed.created, 1);
    EXPECT_EQ(observed.destroyed, 1);
    EXPECT_LT(observed.shown, 20); // 50 frames at most every 100 ms: ~10 without the close
    converter.ClearTasks();
  }
  QCoreApplication::processEvents();
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  SetPreviewerFactory(nullptr);
  SetMainThreadDispatcher(nullptr);
}

} // namespace
