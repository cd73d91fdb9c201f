// The Trim window driven through the real main window under a real X server: markers
// set with the mouse and the keyboard, Ok, Default and Cancel, the "Trimmed Length"
// column, and a conversion of the chosen range read back frame by frame.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string_view>
#include <vector>

#include "app/MainWindow.h"
#include "app/TrimWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/RangeBar.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/DecodedMedia.h"
#include "appcore/Settings.h"
#include "media/Bitmap.h"
#include "fixtures/Pattern.h"
#include "media/MainThread.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;

namespace {

constexpr int kLongWaitMs = 180'000; // a loaded machine converts slowly
constexpr std::int64_t kS = 1000000;

int gArgc = 1;
char gArg0[] = "app_trim_window_test";
char *gArgv[] = {gArg0, nullptr};

struct NoActions final : ICompletionActions {
  void OpenOutputFolder(const std::string &) override {}
  void ShutDown() override {}
};

// The frame number of the picture the player shows (-1 when none can be read).
int ShownFrame(TFFPlayer &player) {
  std::int64_t pts = -1;
  const TBitmap *b = player.CurrentFrame(pts);
  if (!b || b->Width() <= 0) return -1;
  return fixtures::ReadFrameNumberFromBGR(b->Bits(), b->RowBytes(), b->Width(), b->Height());
}

// Presses OK on the next message box and keeps its text.
void AnswerNextBox(QString *text) {
  auto *timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, text] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        timer->stop();
        timer->deleteLater();
        *text = box->text();
        box->button(QMessageBox::Ok)->click();
        return;
      }
  });
  timer->start(20);
}

class TrimWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    app_ = std::make_unique<QApplication>(gArgc, gArgv);
    SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
    InstallQtPreviewer();
    LoadConverterLibraries();
    TAppSettings settings(config_.SettingsFile());
    settings.SetOutPutDir(out_.path().string());
    settings.SetFormat("", 2200); // "MKV - Matroska Video (*.mkv)"
    settings.SetMute(true);
    window_ = std::make_unique<TMainWindow>(actions_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    if (window_) {
      if (TTrimWindow *trim = window_->TrimWindow(); trim && trim->isVisible()) trim->reject();
      ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
    }
    window_.reset();
    SetMainThreadDispatcher(nullptr);
    app_.reset();
  }

  // Edit > Trim on the selected row; waits until the file plays in the window.
  TTrimWindow *OpenTrim() {
    EXPECT_TRUE(window_->TrimAction()->isEnabled());
    window_->TrimAction()->trigger();
    TTrimWindow *trim = window_->TrimWindow();
    EXPECT_NE(trim, nullptr);
    if (!trim) return nullptr;
    EXPECT_TRUE(QTest::qWaitForWindowExposed(trim));
    EXPECT_TRUE(trim->isModal());
    EXPECT_GT(trim->DurationUs(), 0) << trim->Player().LastErrorText();
    EXPECT_TRUE(QTest::qWaitFor([&] { return trim->Player().Counters().Shown > 0; }, 30'000));
    return trim;
  }

  std::string Column(int column) const {
    return window_->FileList()->topLevelItem(0)->text(column).toStdString();
  }
  const TlvFilesRecord &Record() const { return window_->Rows()[0].Record; }

  std::unique_ptr<QApplication> app_;
  ConfigFolder config_;
  TempDir out_;
  NoActions actions_;
  std::unique_ptr<TMainWindow> window_;
};

TEST_F(TrimWindowTest, TheChosenRangeIsWhatTheOutputHolds) {
  EXPECT_FALSE(window_->TrimAction()->isEnabled()) << "no rows yet";
  ASSERT_EQ(window_->AddFiles({FixturePath("long_clip.mp4")}), 1); // 40 s, 25 pictures a second
  EXPECT_EQ(Column(TFileListView::colTrimmed), "40");
  TTrimWindow *trim = OpenTrim();
  ASSERT_NE(trim, nullptr);
  TRangeBar *bar = trim->RangeBar();
  EXPECT_EQ(bar->Maximum(), 40);
  EXPECT_EQ(trim->PositionBar()->maximum(), 40);
  EXPECT_EQ(trim->StartField()->text(), "0:00:00");
  EXPECT_EQ(trim->EndField()->text(), "0:00:40");
  EXPECT_EQ(trim->DurationLabel()->text(), "0:00:40");

  // Pause, so that the position stays where the markers send it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return trim->PauseButton()->isEnabled(); }, 10'000));
  QTest::mouseClick(trim->PauseButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return trim->PlayButton()->isEnabled(); }, 10'000));
  EXPECT_FALSE(trim->PauseButton()->isEnabled());

  // A click left of the middle takes the start marker; two keys move it on.
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->PointFor(10));
  EXPECT_EQ(bar->Start(), 10);
  EXPECT_EQ(bar->FocusedMarker(), TRangeBar::mkStart);
  QTest::keyClick(bar, Qt::Key_Right);
  QTest::keyClick(bar, Qt::Key_Right);
  EXPECT_EQ(bar->Start(), 12);
  EXPECT_EQ(trim->StartField()->text(), "0:00:12");
  // A press right of the middle takes the end marker, which follows the drag.
  QTest::mousePress(bar, Qt::LeftButton, {}, bar->PointFor(35));
  EXPECT_EQ(bar->End(), 35);
  QTest::mouseMove(bar, bar->PointFor(25));
  QTest::mouseMove(bar, bar->PointFor(17));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, bar->PointFor(17));
  EXPECT_EQ(bar->End(), 17);
  EXPECT_EQ(bar->FocusedMarker(), TRangeBar::mkEnd);
  QTest::keyClick(bar, Qt::Key_Left);
  EXPECT_EQ(bar->End(), 16);
  EXPECT_EQ(trim->EndField()->text(), "0:00:16");
  EXPECT_EQ(trim->PositionBar()->value(), 16);
  // Dragging the start past the end stops it at the end: the markers never cross.
  QTest::mousePress(bar, Qt::LeftButton, {}, bar->PointFor(12));
  QTest::mouseMove(bar, bar->PointFor(30));
  EXPECT_EQ(bar->Start(), 16);
  QTest::mouseMove(bar, bar->PointFor(12));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, bar->PointFor(12));
  EXPECT_EQ(bar->Start(), 12);

  // The paused player shows where the marker was last let go (the start, at 12 s), even
  // though that came while the earlier seeks were still under way.
  ASSERT_TRUE(QTest::qWaitFor([&] { return ShownFrame(trim->Player()) == 12 * 25; }, 30'000))
      << "shown: " << ShownFrame(trim->Player());
  QTest::mouseClick(trim->PlayButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return trim->PauseButton()->isEnabled(); }, 10'000));

  QTest::mouseClick(trim->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !trim->isVisible(); }, 10'000));
  EXPECT_EQ(Record().TrimStart, 12 * kS);
  EXPECT_EQ(Record().TrimLength, 4 * kS);
  EXPECT_EQ(Column(TFileListView::colTrimmed), "4");

  QTest::mouseClick(window_->StartButton(), Qt::LeftButton);
  ASSERT_TRUE(window_->Running());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
  ASSERT_EQ(window_->FinishedCount(), 1);
  int first = -2;
  const DecodedMedia m = DecodeFile(Record().DestinationFile, [&](const AVFrame *f) {
    if (first == -2)
      first = fixtures::ReadFrameNumberFromLuma(f->data[0], f->linesize[0], f->width, f->height);
  });
  ASSERT_TRUE(m.opened);
  EXPECT_EQ(first, 12 * 25) << "the first picture is the one at the start marker";
  EXPECT_NEAR(m.videoEnd - m.videoStart, 4.0, m.frameSeconds + 1e-3);
  EXPECT_EQ(m.decodeErrors, 0);
}

TEST_F(TrimWindowTest, EmptyRangeIsRefusedAndDefaultTakesTheWholeFile) {
  ASSERT_EQ(window_->AddFiles({FixturePath("long_clip.mp4")}), 1);
  TTrimWindow *trim = OpenTrim();
  ASSERT_NE(trim, nullptr);
  TRangeBar *bar = trim->RangeBar();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->PointFor(5));
  QTest::keyClick(trim->OkButton(), Qt::Key_Space);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !trim->isVisible(); }, 10'000));
  EXPECT_EQ(Record().TrimStart, 5 * kS);
  EXPECT_EQ(Record().TrimLength, 35 * kS);
  EXPECT_EQ(Column(TFileListView::colTrimmed), "35");

  // Opened again, the markers are where the record says.
  trim = OpenTrim();
  ASSERT_NE(trim, nullptr);
  EXPECT_EQ(bar->Start(), 5);
  EXPECT_EQ(bar->End(), 40);
  EXPECT_EQ(trim->StartField()->text(), "0:00:05");
  // From the outside, Tab reaches the start marker first; End pushes it onto the end.
  trim->PlayButton()->setFocus();
  for (int i = 0; i < 20 && !bar->hasFocus(); ++i)
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  ASSERT_TRUE(bar->hasFocus());
  EXPECT_EQ(bar->FocusedMarker(), TRangeBar::mkStart);
  QTest::keyClick(bar, Qt::Key_End);
  EXPECT_EQ(bar->Start(), 40);
  EXPECT_EQ(bar->End(), 40);
  QString message;
  AnswerNextBox(&message);
  QTest::mouseClick(trim->OkButton(), Qt::LeftButton);
  EXPECT_TRUE(message.contains("Trim End must be later than Trim Start")) << message.toStdString();
  EXPECT_TRUE(trim->isVisible()) << "the window stays open for another choice";
  QTest::mouseClick(trim->CancelButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !trim->isVisible(); }, 10'000));
  EXPECT_EQ(Record().TrimStart, 5 * kS) << "nothing changed";
  EXPECT_EQ(Record().TrimLength, 35 * kS);
  EXPECT_EQ(Column(TFileListView::colTrimmed), "35");

  // Default: the whole file, stored as "from the beginning to the end".
  trim = OpenTrim();
  ASSERT_NE(trim, nullptr);
  QTest::mouseClick(trim->DefaultButton(), Qt::LeftButton);
  EXPECT_EQ(bar->Start(), 0);
  EXPECT_EQ(bar->End(), 40);
  EXPECT_EQ(trim->StartField()->text(), "00:00:00");
  EXPECT_TRUE(trim->EndField()->text().startsWith("00:00:40.")) << trim->EndField()->text().toStdString();
  QTest::mouseClick(trim->OkButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !trim->isVisible(); }, 10'000));
  EXPECT_EQ(Record().TrimStart, 0);
  EXPECT_EQ(Record().TrimLength, 0);
  EXPECT_EQ(Column(TFileListView::colTrimmed), "40");
}

} // namespace
