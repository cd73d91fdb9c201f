// The crop dialog driven with the mouse and the keyboard over a playing clip of colour
// bars, then the file converted through the main window and the output decoded: the
// output picture is the rectangle chosen on the preview, and the picture adjustments
// look in the output as the dialog's output preview showed them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/CropWindow.h"
#include "app/MainWindow.h"
#include "app/widgets/RectTracker.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/DecodedMedia.h"
#include "appcore/ProfileChoices.h"
#include "appcore/Settings.h"
#include "fixtures/Pattern.h"
#include "media/MainThread.h"
#include "media/RGBHolder.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;

namespace {

constexpr int kLongWaitMs = 180'000; // a loaded machine converts slowly
constexpr int kMkvProfile = 2200;    // "MKV - Matroska Video (*.mkv)": H.264, size as source

int gArgc = 1;
char gArg0[] = "app_crop_window_test";
char *gArgv[] = {gArg0, nullptr};

struct NoActions final : ICompletionActions {
  void OpenOutputFolder(const std::string &) override {}
  void ShutDown() override {}
};

// A decoded picture as 24-bit BGR, converted the way the player's hook converts.
struct TDecodedPicture {
  int width = 0, height = 0;
  std::vector<std::uint8_t> bgr; // rows of width x 3 bytes
  std::vector<std::uint8_t> luma;
  const std::uint8_t *Pixel(int x, int y) const {
    return &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
  }
  int Luma(int x, int y) const { return luma[static_cast<std::size_t>(y) * width + x]; }
};

// The first picture of the file's video.
TDecodedPicture FirstPicture(const std::string &file) {
  TDecodedPicture out;
  DecodeFile(file, [&](const AVFrame *f) {
    if (out.width) return;
    TRGBHolder holder;
    if (!ConvertToBitmap(holder, f)) return;
    out.width = f->width;
    out.height = f->height;
    for (int y = 0; y < f->height; ++y) {
      const std::uint8_t *row = holder.Bitmap->ScanLine(y);
      out.bgr.insert(out.bgr.end(), row, row + f->width * 3);
      const std::uint8_t *l = f->data[0] + y * f->linesize[0];
      out.luma.insert(out.luma.end(), l, l + f->width);
    }
    ResetHolder(holder);
  });
  return out;
}

// Mean colour (B, G, R) of a rectangle; `pixel(x, y)` gives a pixel's three bytes.
template <class Pixel> std::array<double, 3> MeanColor(Pixel pixel, const QRect &r) {
  std::array<double, 3> sum{};
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      for (int c = 0; c < 3; ++c)
        sum[c] += pixel(x, y)[c];
  for (double &s : sum)
    s /= r.width() * r.height();
  return sum;
}

// The inside of colour bar `bar` of a width x height pattern, clear of the edges that
// chroma subsampling blurs.
QRect BarInside(int bar, int width, int height) {
  const fixtures::PixelRect r = fixtures::PatternBarRect(bar, width, height);
  return QRect(r.x, r.y, r.width, r.height).adjusted(4, 4, -4, -4);
}

class CropWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    // The dialog's player draws into an X11 window of its own panel; no sound device.
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    app_ = std::make_unique<QApplication>(gArgc, gArgv);
    SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
    InstallQtPreviewer();
    LoadConverterLibraries();
    TAppSettings(config_.SettingsFile()).SetOutPutDir(out_.path().string());
    window_ = std::make_unique<TMainWindow>(actions_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  void TearDown() override {
    window_.reset();
    SetMainThreadDispatcher(nullptr);
    app_.reset();
  }

  // The MKV profile with its default choices, as a user who picked it and never changed
  // its settings has it.
  void ChooseMkvProfile() {
    TAppSettings settings(config_.SettingsFile());
    settings.SetFormat("MKV - Matroska Video (*.mkv)", kMkvProfile);
    ASSERT_TRUE(EnsureUserProfileSection(settings.Ini(), TIniFile(ShippedProfileFile()), kMkvProfile));
  }

  // Opens the dialog from the Edit menu and runs `drive` inside its modal loop, once its
  // first frame is shown. A dialog `drive` leaves open is cancelled, so a failed step
  // cannot hang the test.
  void WithCropDialog(const std::function<void(TCropWindow &)> &drive) {
    ASSERT_TRUE(window_->CropAction()->isEnabled());
    bool ran = false;
    QTimer::singleShot(0, [&] {
      TCropWindow *dialog = nullptr;
      (void)QTest::qWaitFor(
          [&] {
            return (dialog = qobject_cast<TCropWindow *>(QApplication::activeModalWidget())) != nullptr;
          },
          10'000);
      if (!dialog) return;
      const bool framed =
          QTest::qWaitFor([&] { return !dialog->OutputPreview()->Picture().isNull(); }, kLongWaitMs);
      EXPECT_TRUE(framed) << "the dialog never showed a frame";
      if (framed) drive(*dialog);
      ran = true;
      if (dialog->isVisible()) dialog->reject();
    });
    window_->CropAction()->trigger();
    EXPECT_TRUE(ran);
  }

  // Starts the rows and waits for the run to end with every file converted.
  void Convert() {
    ASSERT_TRUE(window_->StartConversion());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
    ASSERT_EQ(window_->FailedCount(), 0);
  }

  std::unique_ptr<QApplication> app_;
  ConfigFolder config_;
  TempDir out_;
  NoActions actions_;
  std::unique_ptr<TMainWindow> window_;
};

TEST_F(CropWindowTest, TheRectangleDraggedOnThePreviewIsTheOutputPicture) {
  const std::string source = FixturePath("h264_aac.mp4"); // 176 x 144 colour bars
  ASSERT_EQ(window_->AddFiles({source}), 1);
  ASSERT_NO_FATAL_FAILURE(ChooseMkvProfile());

  WithCropDialog([&](TCropWindow &dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Crop");
    EXPECT_EQ(dialog.Pages()->tabText(dialog.Pages()->currentIndex()), "Effect");
    // 176 x 144 fitted into 420 x 303: full height, bands left and right.
    ASSERT_EQ(dialog.PictureRect(), (TPictureRect{25, 0, 370, 303}));
    TRectTracker *tracker = dialog.Tracker();
    ASSERT_TRUE(tracker->isVisible());
    ASSERT_EQ(tracker->Rect(), QRect(25, 0, 370, 303));

    // The top-left handle to about (40, 80) of the source; the bottom-right one 30 and
    // 20 preview pixels in (grabbed a pixel inside the widget).
    const QPoint topLeft = tracker->HandleCenter(TTrackerHandle::TopLeft);
    QTest::mousePress(tracker, Qt::LeftButton, {}, topLeft);
    QTest::mouseMove(tracker, QPoint(60, 90));
    QTest::mouseMove(tracker, QPoint(109, 168));
    QTest::mouseRelease(tracker, Qt::LeftButton, {}, QPoint(109, 168));
    EXPECT_EQ(tracker->Rect(), QRect(109, 168, 286, 135));
    const QPoint bottomRight = tracker->HandleCenter(TTrackerHandle::BottomRight) - QPoint(1, 1);
    QTest::mousePress(tracker, Qt::LeftButton, {}, bottomRight);
    QTest::mouseMove(tracker, bottomRight + QPoint(-30, -20));
    QTest::mouseRelease(tracker, Qt::LeftButton, {}, bottomRight + QPoint(-30, -20));
    // Dragging the whole rectangle far out stops at the picture's edge...
    const QPoint inside = tracker->Rect().center();
    QTest::mousePress(tracker, Qt::LeftButton, {}, inside);
    QTest::mouseMove(tracker, inside + QPoint(400, 0));
    EXPECT_EQ(tracker->Rect().right(), 394);
    // ...and back where it was, then three pixels right and the bottom two up by keys.
    QTest::mouseMove(tracker, inside);
    QTest::mouseRelease(tracker, Qt::LeftButton, {}, inside);
    for (int i = 0; i < 3; ++i)
      QTest::keyClick(tracker, Qt::Key_Right);
    for (int i = 0; i < 2; ++i)
      QTest::keyClick(tracker, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(tracker->Rect(), QRect(112, 168, 256, 113));

    // The fields show the margins in preview pixels; the source ones are even.
    EXPECT_EQ(dialog.ShownMargins(), (TCropMargins{168, 87, 22, 27}));
    EXPECT_EQ(dialog.SourceMargins(), (TCropMargins{80, 40, 10, 12}));
    // The output preview follows: 176 - 52 by 144 - 90.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return dialog.OutputPreview()->Picture().size() == QSize(124, 54); }, 10'000));
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  });
  const TlvFilesRecord &rec = window_->Rows()[0].Record;
  EXPECT_EQ((TCropMargins{rec.CropTop, rec.CropLeft, rec.CropBottom, rec.CropRight}),
            (TCropMargins{80, 40, 10, 12}));
  EXPECT_EQ((TCropMargins{rec.CropTopShown, rec.CropLeftShown, rec.CropBottomShown, rec.CropRightShown}),
            (TCropMargins{168, 87, 22, 27}));
  EXPECT_FALSE(rec.NeedsCustomHook());

  // Reopened, the dialog shows the same rectangle.
  WithCropDialog([&](TCropWindow &dialog) {
    EXPECT_EQ(dialog.Tracker()->Rect(), QRect(112, 168, 256, 113));
    EXPECT_EQ(dialog.SourceMargins(), (TCropMargins{80, 40, 10, 12}));
    dialog.CancelButton()->click();
  });

  // Output at the kept size, so that its pixels are the source's one for one.
  TAppSettings settings(config_.SettingsFile());
  settings.Ini().WriteString("formatInfo2200", "paraZoom", "full");
  settings.Ini().WriteString("formatInfo2200", "paraVideoSize", "124x54");
  ASSERT_NO_FATAL_FAILURE(Convert());
  const TDecodedPicture out = FirstPicture(out_.file("h264_aac_(new).mkv"));
  const TDecodedPicture in = FirstPicture(source);
  ASSERT_EQ(out.width, 124);
  ASSERT_EQ(out.height, 54);
  ASSERT_EQ(in.width, 176);
  // Every output pixel is the source pixel 40 columns right and 80 rows down of it.
  double diff = 0;
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x)
      diff += std::abs(out.Luma(x, y) - in.Luma(x + 40, y + 80));
  EXPECT_LT(diff / (out.width * out.height), 2.0);
  // The rows kept are all bars (from row 72): the red bar (columns 0..34) is cut off;
  // green, blue, white and black follow, their edges 40 columns further left.
  const std::pair<int, int> columnsAndBars[] = {{2, 1},  {27, 1}, {33, 2},  {62, 2},
                                                {68, 3}, {97, 3}, {103, 4}, {123, 4}};
  for (auto [x, bar] : columnsAndBars) {
    const std::uint8_t *p = out.Pixel(x, out.height / 2);
    const fixtures::Rgb want = fixtures::PatternBarColor(bar);
    EXPECT_LT(std::abs(p[2] - want.r) + std::abs(p[1] - want.g) + std::abs(p[0] - want.b), 60)
        << "column " << x << " should be bar " << bar;
  }
}

TEST_F(CropWindowTest, AdjustmentsLookInTheOutputAsTheOutputPreviewShowedThem) {
  const std::string source = FixturePath("h264_aac.mp4");
  ASSERT_EQ(window_->AddFiles({source}), 1);
  ASSERT_NO_FATAL_FAILURE(ChooseMkvProfile());

  // Cancel writes nothing.
  WithCropDialog([&](TCropWindow &dialog) {
    dialog.EffectField(0)->setFocus();
    QTest::keyClick(dialog.EffectField(0), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(dialog.EffectField(0), "400");
    EXPECT_EQ(dialog.EffectSlider(0)->value(), 400);
    QTest::keyClick(dialog.Tracker(), Qt::Key_Up, Qt::ShiftModifier);
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
  });
  EXPECT_EQ(window_->Rows()[0].Record.Brightness, 255);
  EXPECT_EQ(window_->Rows()[0].Record.CropBottomShown, 0);

  QImage preview;
  WithCropDialog([&](TCropWindow &dialog) {
    // Brightness and saturation typed into their fields, contrast and exposure moved on
    // their bars with the keys.
    for (auto [field, text] : {std::pair{0, "330"}, std::pair{2, "150"}}) {
      QSpinBox *box = dialog.EffectField(field);
      box->setFocus();
      QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClicks(box, text);
    }
    dialog.EffectSlider(1)->setFocus();
    QTest::keyClick(dialog.EffectSlider(1), Qt::Key_PageUp);
    QTest::keyClick(dialog.EffectSlider(1), Qt::Key_PageUp);
    dialog.EffectSlider(3)->setFocus();
    for (int i = 0; i < 40; ++i)
      QTest::keyClick(dialog.EffectSlider(3), Qt::Key_Right);
    const TPictureAdjustments want{330, 2 * dialog.EffectSlider(1)->pageStep(), 150, 40};
    EXPECT_EQ(dialog.Adjustments(), want);
    EXPECT_EQ(dialog.EffectField(3)->value(), 40);
    // A crop made and undone by Default leaves the whole picture.
    for (int i = 0; i < 5; ++i)
      QTest::keyClick(dialog.Tracker(), Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_TRUE(dialog.SourceMargins().Any());
    QTest::mouseClick(dialog.DefaultButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.SourceMargins().Any());
    // The next output preview is made with these values.
    const int before = dialog.OutputPreviewCount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.OutputPreviewCount() > before; }, 30'000));
    preview = dialog.OutputPreview()->Picture().copy();
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  });
  const TlvFilesRecord &rec = window_->Rows()[0].Record;
  EXPECT_EQ(rec.Brightness, 330);
  EXPECT_EQ(rec.Saturation, 150);
  EXPECT_EQ(rec.Exposure, 40);
  EXPECT_GT(rec.Contrast, 0);
  EXPECT_TRUE(rec.NeedsCustomHook());
  ASSERT_EQ(preview.size(), QSize(176, 144));

  ASSERT_NO_FATAL_FAILURE(Convert());
  const TDecodedPicture out = FirstPicture(out_.file("h264_aac_(new).mkv"));
  ASSERT_EQ(out.width, 176);
  ASSERT_EQ(out.height, 144);
  // The bars do not move from frame to frame: the preview's frame and the output's
  // first one agree there, colour by colour, and both differ from the plain pattern.
  for (int bar = 0; bar < fixtures::kBarCount; ++bar) {
    const QRect inside = BarInside(bar, 176, 144);
    const auto shown = MeanColor([&](int x, int y) { return preview.constScanLine(y) + x * 3; }, inside);
    const auto written = MeanColor([&](int x, int y) { return out.Pixel(x, y); }, inside);
    const fixtures::Rgb plain = fixtures::PatternBarColor(bar);
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(written[c], shown[c], 10.0) << "bar " << bar << " channel " << c;
    const double moved =
        std::abs(shown[0] - plain.b) + std::abs(shown[1] - plain.g) + std::abs(shown[2] - plain.r);
    if (bar <= 2) { // white and black stay as they are
      EXPECT_GT(moved, 30.0) << "bar " << bar;
    }
  }
}

TEST_F(CropWindowTest, PlayPauseStopAndTheEndOfTheFile) {
  ASSERT_EQ(window_->AddFiles({FixturePath("h264_aac.mp4")}), 1); // 2 s
  const TlvFilesRecord before = window_->Rows()[0].Record;
  WithCropDialog([&](TCropWindow &dialog) {
    const auto newerFrame = [&] {
      const std::int64_t from = dialog.OutputPreviewPts();
      return QTest::qWaitFor([&] { return dialog.OutputPreviewPts() != from; }, 60'000);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.OutputPreviewPts() >= 200'000; }, 60'000));
    QTest::mouseClick(dialog.PauseButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PlayButton()->isEnabled(); }, 10'000));
    EXPECT_FALSE(dialog.PauseButton()->isEnabled());
    QTest::mouseClick(dialog.PlayButton(), Qt::LeftButton);
    EXPECT_TRUE(newerFrame()) << "Play after Pause shows new frames";

    // At the end the last picture stays; Play plays the file again from its start.
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.PlayButton()->isEnabled(); }, kLongWaitMs));
    EXPECT_FALSE(dialog.PauseButton()->isEnabled());
    QTest::mouseClick(dialog.PlayButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return dialog.OutputPreviewPts() >= 0 && dialog.OutputPreviewPts() < 1'000'000; }, 60'000));
    EXPECT_TRUE(newerFrame());

    // Stop keeps the last frame shown; Play opens the file again.
    QTest::mouseClick(dialog.StopButton(), Qt::LeftButton);
    EXPECT_TRUE(dialog.PlayButton()->isEnabled());
    EXPECT_FALSE(dialog.StopButton()->isEnabled());
    EXPECT_FALSE(dialog.SourcePreview()->Picture().isNull());
    QTest::mouseClick(dialog.PlayButton(), Qt::LeftButton);
    EXPECT_TRUE(newerFrame()) << "Play after Stop opens the file again";
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
  });
  // Ok without changes leaves the record as it was.
  const TlvFilesRecord &after = window_->Rows()[0].Record;
  EXPECT_EQ(after.ZoomMode, before.ZoomMode);
  EXPECT_EQ(after.CropTop + after.CropLeft + after.CropBottom + after.CropRight, 0);
  EXPECT_EQ(after.CropTopShown + after.CropLeftShown + after.CropBottomShown + after.CropRightShown, 0);
  EXPECT_FALSE(after.NeedsCustomHook());
}

} // namespace
