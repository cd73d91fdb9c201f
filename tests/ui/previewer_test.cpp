// The frame previewer's window under a real X server (xvfb): frames come from a worker
// thread as the engine sends them, the window is made and painted in the GUI thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "media/Bitmap.h"
#include "ui/PreviewWindow.h"
#include "ui/Previewer.h"

using namespace tovi;

namespace {

int gArgc = 1;
char gArg0[] = "ui_previewer_test";
char *gArgv[] = {gArg0, nullptr};

// A bitmap of one colour (BGR bytes).
void Fill(TBitmap &bitmap, int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t *row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = b;
      row[3 * x + 1] = g;
      row[3 * x + 2] = r;
    }
  }
}

// Runs `call` on a worker thread while this (GUI) thread keeps processing events.
template <typename F> auto OnWorker(F &&call) {
  std::atomic<bool> done{false};
  decltype(call()) result{};
  std::thread worker([&] {
    result = call();
    done = true;
  });
  while (!done)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  worker.join();
  return result;
}

class PreviewerTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
      GTEST_SKIP() << "needs a display (xvfb-run)";
  }
};

TEST_F(PreviewerTest, FirstFrameSizesTheWindowLaterFramesDoNot) {
  QApplication app(gArgc, gArgv);
  auto previewer = std::make_unique<TPreviewer>();
  EXPECT_EQ(previewer->Window(), nullptr);

  TBitmap first;
  Fill(first, 64, 48, 0, 0, 255); // red
  EXPECT_TRUE(OnWorker([&] { return previewer->ShowFrame(first, 1, 3723456789LL); }));
  TPreviewWindow *window = previewer->Window();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->isWindow());
  EXPECT_EQ(window->parentWidget(), nullptr);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(window->windowType(), Qt::Tool);
  EXPECT_EQ(window->size(), QSize(64, 48));
  EXPECT_EQ(window->windowTitle(), "01:02:03.456");
  EXPECT_EQ(previewer->FrameNumber(), 1);
  EXPECT_EQ(window->grab().toImage().pixelColor(10, 10), QColor(255, 0, 0));

  // Larger and of another colour: drawn from the top-left corner, the window keeps its
  // size. The engine reuses its bitmap at once, so the window must hold a copy.
  TBitmap second;
  Fill(second, 100, 80, 255, 0, 0); // blue
  EXPECT_TRUE(OnWorker([&] { return previewer->ShowFrame(second, 2, 0); }));
  Fill(second, 100, 80, 0, 255, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(window->size(), QSize(64, 48));
  EXPECT_EQ(window->windowTitle(), "00:00:00.000");
  EXPECT_EQ(window->grab().toImage().pixelColor(63, 47), QColor(0, 0, 255));

  // Closing the window ends the previews; it is not shown again.
  window->close();
  QCoreApplication::processEvents();
  EXPECT_TRUE(previewer->Closed());
  EXPECT_FALSE(OnWorker([&] { return previewer->ShowFrame(first, 3, 1000); }));
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(previewer->FrameNumber(), 2);

  // Destroyed from the job's thread: the window goes in the GUI thread.
  OnWorker([&] {
    previewer.reset();
    return true;
  });
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
}

TEST_F(PreviewerTest, TheFactoryMakesQtPreviewersAndAnUnusedOneLeavesNoWindow) {
  QApplication app(gArgc, gArgv);
  InstallQtPreviewer();
  auto made = OnWorker([] { return CreateFramePreviewer(); });
  ASSERT_NE(dynamic_cast<TPreviewer *>(made.get()), nullptr);
  made.reset();
  EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());
  SetPreviewerFactory(nullptr);
  EXPECT_EQ(CreateFramePreviewer(), nullptr);
}

} // namespace
