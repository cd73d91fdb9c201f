// The "Water Mark" dialog driven with the mouse and keyboard over a playing clip, then a
// conversion through the main window: the watermarks must be in the output where they
// were dragged, only within their time ranges, stacked in list order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "app/MainWindow.h"
#include "app/WatermarkWindow.h"
#include "app/widgets/LayerView.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/DecodedMedia.h"
#include "appcore/Settings.h"
#include "media/MainThread.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;

namespace {

constexpr int kLongWaitMs = 180'000; // a loaded machine converts slowly

int gArgc = 1;
char gArg0[] = "app_watermark_window_test";
char *gArgv[] = {gArg0, nullptr};

struct NoActions final : ICompletionActions {
  void OpenOutputFolder(const std::string &) override {}
  void ShutDown() override {}
};

// Mean of a rectangle of plane `plane` (0 luma, 1 Cb, 2 Cr) of a 4:2:0 picture, the
// rectangle given in luma pixels.
double Mean(const AVFrame *f, int plane, const QRect &r) {
  const int s = plane == 0 ? 1 : 2;
  double sum = 0;
  int n = 0;
  for (int y = r.top() / s; y <= r.bottom() / s; ++y)
    for (int x = r.left() / s; x <= r.right() / s; ++x, ++n)
      sum += f->data[plane][y * f->linesize[plane] + x];
  return n ? sum / n : 0;
}

enum class Look { Black, Red, Blue };

// What a region of the output shows: red (the picture), blue (the text box) or the
// clip's own black bar.
Look LookOf(const AVFrame *f, const QRect &r) {
  const double cb = Mean(f, 1, r), cr = Mean(f, 2, r);
  if (cr > 180 && cb < 128) return Look::Red;
  if (cb > 180 && cr < 150) return Look::Blue;
  return Look::Black;
}

const char *Name(Look l) { return l == Look::Red ? "red" : l == Look::Blue ? "blue" : "black"; }

// Turns a hang (a dialog nobody answers) into a failure of the whole program.
class Watchdog {
public:
  explicit Watchdog(int seconds)
      : thread_([this, seconds] {
          std::unique_lock lock(mutex_);
          if (!done_.wait_for(lock, std::chrono::seconds(seconds), [this] { return finished_; })) {
            std::fprintf(stderr, "watchdog: the test hangs\n");
            std::abort();
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    thread_.join();
  }

private:
  std::mutex mutex_; // protects finished_
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

class WatermarkWindowTest : public ::testing::Test {
protected:
  Watchdog watchdog_{600};
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
    app_ = std::make_unique<QApplication>(gArgc, gArgv);
    SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
    LoadConverterLibraries();
    TAppSettings settings(config_.SettingsFile());
    settings.SetOutPutDir(out_.path().string());
    settings.SetFormat("", 2200); // "MKV - Matroska Video (*.mkv)"
    window_ = std::make_unique<TMainWindow>(actions_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    window_.reset();
    SetMainThreadDispatcher(nullptr);
    app_.reset();
  }

  // Opens the dialog from the Edit menu and runs `drive` on it while it is shown; the
  // dialog is cancelled afterwards should `drive` have left it open.
  void WithDialog(const std::function<void(TWatermarkWindow &)> &drive) {
    QAction *action = nullptr;
    for (QAction *a : window_->EditMenu()->actions())
      if (a->text() == "&Video Effect && Water Mark") action = a;
    ASSERT_NE(action, nullptr);
    ASSERT_TRUE(action->isEnabled());
    bool ran = false;
    // Polls until the dialog runs modally (opening the clip already turns the event loop).
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto *dialog = qobject_cast<TWatermarkWindow *>(QApplication::activeModalWidget());
      if (!dialog || !dialog->isVisible() || ran) return;
      ran = true;
      poll.stop();
      EXPECT_EQ(dialog->windowTitle(), "Water Mark");
      if (QTest::qWaitForWindowExposed(dialog)) drive(*dialog);
      if (dialog->isVisible()) dialog->reject();
    });
    poll.start(20);
    action->trigger();
    EXPECT_TRUE(ran);
  }

  // Presses on the middle of layer `index` and lets go at `to` (frame pixels, where the
  // box's corner should go).
  static void Drag(TLayerView &view, int index, const QPoint &to) {
    const QRect box = view.LayerBox(index);
    const QPointF grab(box.x() + box.width() / 2.0, box.y() + box.height() / 2.0);
    const QPoint from = view.ToView(grab);
    const QPoint target = view.ToView(grab + QPointF(to - box.topLeft()));
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, from);
    for (int step = 1; step <= 4; ++step)
      QTest::mouseMove(view.viewport(), from + (target - from) * step / 4);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, target);
  }

  // Chooses `file` in the next file dialog. Answers only from the dialog's own event
  // loop: closed before that loop runs, the dialog would leave it waiting for ever.
  // (Typing into the name field races with its completer on a loaded machine.)
  // Converts the list and calls `look(frame, seconds)` for each output picture.
  void ConvertAndLook(const std::string &output, const std::function<void(const AVFrame *, double)> &look) {
    ASSERT_TRUE(window_->StartConversion());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
    ASSERT_EQ(window_->FinishedCount(), 1);
    const DecodedMedia m = DecodeFile(out_.file(output), [&](const AVFrame *f) {
      look(f, f->best_effort_timestamp * 0.001); // matroska: milliseconds
    });
    ASSERT_TRUE(m.opened) << output;
    EXPECT_EQ(m.width, 176);
    EXPECT_GE(m.videoFrames, 48) << "every picture of the 2 s clip looked at";
    EXPECT_EQ(m.decodeErrors, 0);
  }

  std::unique_ptr<QApplication> app_;
  ConfigFolder config_;
  TempDir out_;
  NoActions actions_;
  std::unique_ptr<TMainWindow> window_;
};

} // namespace

// A blue text box and a red picture dragged over the clip's black bar (lower right of
// the pattern), overlapping; the picture shown in second 1 only. Then Up puts the
// picture under the text, and Cancel leaves the list alone.
TEST_F(WatermarkWindowTest, DraggedMarksAppearThereWithinTheirRangeInListOrder) {
  const std::string picture = config_.File("red.bmp");
  QImage red(24, 40, QImage::Format_RGB888);
  red.fill(QColor(255, 0, 0));
  ASSERT_TRUE(red.save(QString::fromStdString(picture)));
  ASSERT_EQ(window_->AddFiles({FixturePath("h264_aac.mp4")}), 1); // 176x144, 2 s

  const QPoint textAt(142, 76), pictureAt(146, 100);
  QRect textBox, pictureBox;
  WithDialog([&](TWatermarkWindow &dialog) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.FileOpen() && dialog.FramePts() >= 0; }, 30'000))
        << "the clip plays in the dialog";
    TLayerView &view = *dialog.View();
    EXPECT_EQ(view.FrameSize(), QSize(176, 144));

    // Text: typed in place, blue on blue (the font colour's default), fully opaque.
    QTest::mouseClick(dialog.Button("Add Text"), Qt::LeftButton);
    ASSERT_EQ(dialog.List()->count(), 1);
    ASSERT_TRUE(dialog.TextEditor()->isVisible());
    QTest::keyClicks(dialog.TextEditor(), "W");
    QTest::keyClick(dialog.TextEditor(), Qt::Key_Return);
    EXPECT_EQ(dialog.List()->item(0)->text(), "W");
    QComboBox *back = dialog.BackColorList();
    back->setFocus();
    for (int i = 2; i < 12; ++i) // green -> blue
      QTest::keyClick(back, Qt::Key_Down);
    dialog.TransparencyBar()->setFocus();
    QTest::keyClick(dialog.TransparencyBar(), Qt::Key_End);
    Drag(view, 0, textAt);

    // Picture: chosen in the file dialog, dragged, shown in second 1 only.
    dialog.SetPictureChooser([&] { return picture; });
    QTest::mouseClick(dialog.Button("Add Image"), Qt::LeftButton);
    ASSERT_EQ(dialog.List()->count(), 2);
    EXPECT_EQ(dialog.List()->currentRow(), 1);
    QTest::keyClick(dialog.TransparencyBar(), Qt::Key_End);
    Drag(view, 1, pictureAt);
    QTest::mouseClick(dialog.Range()->Arrow(true, false), Qt::LeftButton); // end 2 -> 1
    QTest::mouseClick(dialog.Range()->Arrow(false, true), Qt::LeftButton); // start 0 -> 1

    const TWmItem &text = dialog.Items().Item(0), &pic = dialog.Items().Item(1);
    EXPECT_EQ(text.Text, "W");
    EXPECT_EQ(text.Opacity, 255);
    EXPECT_EQ(text.BackgroundColor, MakeColor(0, 0, 255));
    EXPECT_EQ(pic.Opacity, 255);
    EXPECT_EQ(pic.Start, 1);
    EXPECT_EQ(pic.End, 1);
    textBox = QRect(text.Left, text.Top, text.Width, text.Height);
    pictureBox = QRect(pic.Left, pic.Top, pic.Width, pic.Height);
    // A drag in view pixels lands within a frame pixel of the aim.
    EXPECT_LE((textBox.topLeft() - textAt).manhattanLength(), 2);
    EXPECT_LE((pictureBox.topLeft() - pictureAt).manhattanLength(), 2);
    EXPECT_EQ(view.LayerBox(1), pictureBox);
    QTest::mouseClick(dialog.Button("Ok"), Qt::LeftButton);
  });
  ASSERT_EQ(window_->Rows()[0].Record.Watermarks.size(), 2u);
  ASSERT_TRUE(textBox.intersects(pictureBox));

  // Regions inside the boxes, kept clear of their edges (chroma is shared by 2x2 pixels
  // and the encoder blurs edges).
  const QRect overlap = textBox.intersected(pictureBox).adjusted(3, 3, -3, -3);
  const QRect textOnly =
      QRect(textBox.left(), textBox.top(), textBox.width(), pictureBox.top() - textBox.top())
          .adjusted(3, 3, -3, -3);
  const QRect pictureOnly = QRect(pictureBox.left(), textBox.bottom() + 1, pictureBox.width(),
                                  pictureBox.bottom() - textBox.bottom())
                                .adjusted(3, 3, -3, -3);
  const QRect untouched(2, 100, 30, 40); // the red bar, never covered
  ASSERT_FALSE(overlap.isEmpty());
  ASSERT_FALSE(textOnly.isEmpty());
  ASSERT_FALSE(pictureOnly.isEmpty());

  const auto check = [&](Look inSecondOne) {
    return [&, inSecondOne](const AVFrame *f, double t) {
      const bool shown = t > 1.02 && t < 1.98;
      if (!shown && !(t < 0.98)) return; // frames at the range's edges: not judged
      EXPECT_EQ(LookOf(f, untouched), Look::Red) << t;
      EXPECT_GT(Mean(f, 0, QRect(110, 110, 20, 30)), 180) << "the white bar at " << t;
      EXPECT_STREQ(Name(LookOf(f, textOnly)), "blue") << t;
      EXPECT_STREQ(Name(LookOf(f, pictureOnly)), shown ? "red" : "black") << t;
      EXPECT_STREQ(Name(LookOf(f, overlap)), Name(shown ? inSecondOne : Look::Blue)) << t;
    };
  };
  ASSERT_NO_FATAL_FAILURE(ConvertAndLook("h264_aac_(new).mkv", check(Look::Red)));

  // Up: the picture goes first in the list, so under the text.
  WithDialog([&](TWatermarkWindow &dialog) {
    ASSERT_EQ(dialog.List()->count(), 2);
    QListWidget *list = dialog.List();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(dialog.View()->Selected(), 1);
    QTest::mouseClick(dialog.Button("Up"), Qt::LeftButton);
    EXPECT_EQ(list->item(0)->text().toStdString(), picture);
    EXPECT_EQ(dialog.View()->Selected(), 0);
    QTest::mouseClick(dialog.Button("Ok"), Qt::LeftButton);
  });
  ASSERT_EQ(window_->Rows()[0].Record.Watermarks[0].Kind, TWmRec::wkPicture);
  ASSERT_NO_FATAL_FAILURE(ConvertAndLook("h264_aac_(new_1).mkv", check(Look::Blue)));

  // Cancel after deleting both: the record keeps them.
  WithDialog([&](TWatermarkWindow &dialog) {
    QTest::mouseClick(dialog.Button("Delete"), Qt::LeftButton);
    QTest::mouseClick(dialog.Button("Delete"), Qt::LeftButton);
    EXPECT_EQ(dialog.List()->count(), 0);
    EXPECT_EQ(dialog.View()->LayerCount(), 0);
    QTest::mouseClick(dialog.Button("Cancel"), Qt::LeftButton);
  });
  EXPECT_EQ(window_->Rows()[0].Record.Watermarks.size(), 2u);
}
