// The main window's preview panel driven through the real window under a real X server:
// what the player draws into the panel (read back from the screen), pause and step,
// snapshots as files decoded again, the end of a file, a picture without a duration,
// and the sound settings the settings file keeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <filesystem>
#include <memory>
#include <set>

#include "app/MainWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/PlayerHost.h"
#include "app/widgets/PreviewPanel.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/Settings.h"
#include "fixtures/Pattern.h"
#include "media/MainThread.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 60'000; // a loaded machine starts playing slowly

int gArgc = 1;
char gArg0[] = "app_preview_test";
char *gArgv[] = {gArg0, nullptr};

struct FakeActions final : ICompletionActions {
  std::vector<std::string> opened;
  void OpenOutputFolder(const std::string &folder) override { opened.push_back(folder); }
  void ShutDown() override {}
};

// Presses `button` on the next message box that shows and records its text.
void AnswerNextBox(QMessageBox::StandardButton button, QString *text = nullptr) {
  auto *timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, button, text] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        timer->stop();
        timer->deleteLater();
        if (text) *text = box->text();
        box->button(button)->click();
        return;
      }
  });
  timer->start(20);
}

QImage FrameOf(const TBitmap *b) {
  if (!b || b->Width() <= 0 || b->Height() <= 0) return {};
  return QImage(b->Bits(), b->Width(), b->Height(), b->RowBytes(), QImage::Format_BGR888).copy();
}

int FrameNumber(const QImage &picture) {
  if (picture.isNull()) return -1;
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  return fixtures::ReadFrameNumberFromRGB(rgb.constBits(), static_cast<int>(rgb.bytesPerLine()), rgb.width(),
                                          rgb.height());
}

// Mean colour of the middle half of `r` in `image`.
QColor MeanColour(const QImage &image, const fixtures::PixelRect &r) {
  double sum[3] = {};
  int n = 0;
  for (int y = r.y + r.height / 4; y < r.y + r.height * 3 / 4; ++y)
    for (int x = r.x + r.width / 4; x < r.x + r.width * 3 / 4; ++x) {
      const QRgb p = image.pixel(x, y);
      sum[0] += qRed(p);
      sum[1] += qGreen(p);
      sum[2] += qBlue(p);
      ++n;
    }
  return n ? QColor(int(sum[0] / n), int(sum[1] / n), int(sum[2] / n)) : QColor();
}

// Mean absolute difference of the two pictures' channel values (0..255).
double MeanAbsDifference(const QImage &a, const QImage &b) {
  const QImage x = a.convertToFormat(QImage::Format_RGB888), y = b.convertToFormat(QImage::Format_RGB888);
  if (x.size() != y.size()) return 1e9;
  double sum = 0;
  for (int row = 0; row < x.height(); ++row)
    for (int i = 0; i < x.width() * 3; ++i)
      sum += std::abs(int(x.constScanLine(row)[i]) - int(y.constScanLine(row)[i]));
  return sum / (x.width() * 3.0 * x.height());
}

class PreviewTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::setenv("SDL_VIDEODRIVER", "x11", 1);
    app_ = std::make_unique<QApplication>(gArgc, gArgv);
    SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
    LoadPlayerLibraries();
    TAppSettings settings(config_.SettingsFile());
    settings.SetOutPutDir(out_.path().string());
    settings.SetSnapOutPutDir(snaps_.path().string());
    OpenWindow();
  }
  void TearDown() override {
    window_.reset();
    SetMainThreadDispatcher(nullptr);
    app_.reset();
  }
  void OpenWindow() {
    window_ = std::make_unique<TMainWindow>(actions_);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  }
  TPreviewPanel &Panel() { return *window_->Preview(); }

  // What the player drew, read back from the screen, cut to the picture's place in the
  // panel (centred at the picture's shape, even sizes, as the player draws it).
  QImage ShownPicture(int frameWidth, int frameHeight) {
    QWidget *surface = Panel().Host()->Surface();
    const QImage screen = surface->screen()->grabWindow(surface->winId()).toImage();
    const double ratio = double(frameWidth) / frameHeight;
    int h = screen.height();
    int w = int(std::lrint(h * ratio)) & ~1;
    if (w > screen.width()) {
      w = screen.width();
      h = int(std::lrint(w / ratio)) & ~1;
    }
    return screen.copy((screen.width() - w) / 2, (screen.height() - h) / 2, w, h);
  }

  std::set<std::string> SnapshotFiles() const {
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(snaps_.path()))
      names.insert(e.path().filename().string());
    return names;
  }

  std::unique_ptr<QApplication> app_;
  ConfigFolder config_;
  TempDir out_, snaps_;
  FakeActions actions_;
  std::unique_ptr<TMainWindow> window_;
};

TEST_F(PreviewTest, PlayShowsTheClipPauseAndStepHoldItAndSnapshotsDecodeToTheShownPicture) {
  const std::string clip = FixturePath("long_clip.mp4"); // 176 x 144, 25 fps, 40 s
  ASSERT_EQ(window_->AddFiles({clip, FixturePath("h264_aac.mp4")}), 2);
  TPreviewPanel &panel = Panel();
  EXPECT_FALSE(panel.PreviousButton()->isEnabled());
  EXPECT_TRUE(panel.NextButton()->isEnabled());

  QTest::mouseClick(panel.PlayButton(), Qt::LeftButton);
  EXPECT_FALSE(panel.PlayButton()->isEnabled());
  EXPECT_TRUE(panel.PauseButton()->isEnabled());
  EXPECT_TRUE(panel.SnapshotButton()->isEnabled());
  EXPECT_TRUE(panel.PositionSlider()->isEnabled());
  EXPECT_EQ(panel.DurationLabel()->text(), "0:00:40");
  // The panel's size went to the player.
  EXPECT_EQ(panel.Player().ScreenWidth(), panel.Host()->width());
  EXPECT_EQ(panel.Player().ScreenHeight(), panel.Host()->height());

  // The position moves on; the screen shows the clip's bars and a readable frame number.
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.PositionSlider()->value() > 0; }, kWaitMs));
  EXPECT_NE(panel.PositionLabel()->text(), "00:00:00");
  QImage shown;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        shown = ShownPicture(176, 144);
        return FrameNumber(shown) > 0;
      },
      kWaitMs));
  for (int bar = 0; bar < fixtures::kBarCount; ++bar) {
    const QColor got = MeanColour(shown, fixtures::PatternBarRect(bar, shown.width(), shown.height()));
    const fixtures::Rgb want = fixtures::PatternBarColor(bar);
    EXPECT_NEAR(got.red(), want.r, 40) << "bar " << bar;
    EXPECT_NEAR(got.green(), want.g, 40) << "bar " << bar;
    EXPECT_NEAR(got.blue(), want.b, 40) << "bar " << bar;
  }

  // Pause holds the picture; Step shows exactly the next one, on the screen as well.
  QTest::mouseClick(panel.PauseButton(), Qt::LeftButton);
  EXPECT_TRUE(panel.PlayButton()->isEnabled());
  EXPECT_FALSE(panel.PauseButton()->isEnabled());
  EXPECT_TRUE(panel.Player().IsPaused());
  // The pictures already queued are still shown; then the picture stands.
  int paused = -1;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const int before = FrameNumber(FrameOf(panel.Player().CurrentFrame()));
        QTest::qWait(300);
        paused = FrameNumber(FrameOf(panel.Player().CurrentFrame()));
        return paused == before;
      },
      kWaitMs));
  ASSERT_GT(paused, 0);
  QTest::qWait(300);
  EXPECT_EQ(FrameNumber(FrameOf(panel.Player().CurrentFrame())), paused);
  QTest::mouseClick(panel.StepButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return FrameNumber(FrameOf(panel.Player().CurrentFrame())) != paused; },
                              kWaitMs));
  const int stepped = FrameNumber(FrameOf(panel.Player().CurrentFrame()));
  EXPECT_EQ(stepped, paused + 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return FrameNumber(ShownPicture(176, 144)) == stepped; }, kWaitMs));
  QTest::qWait(300);
  EXPECT_EQ(FrameNumber(FrameOf(panel.Player().CurrentFrame())), stepped) << "one step, one picture";

  // A snapshot writes the four files; BMP holds the shown picture exactly, JPEG closely.
  std::int64_t pts = -1;
  const QImage current = FrameOf(panel.Player().CurrentFrame(pts));
  QTest::mouseClick(panel.SnapshotButton(), Qt::LeftButton);
  const std::set<std::string> first{"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg",
                                    "Snapshot_small.jpg"};
  EXPECT_EQ(SnapshotFiles(), first);
  ASSERT_EQ(panel.LastSnapshotFiles().size(), 4u);
  ASSERT_EQ(actions_.opened.size(), 1u);
  EXPECT_EQ(actions_.opened[0], snaps_.path().string());
  const auto load = [&](const char *name) { return QImage(QString::fromStdString(snaps_.file(name))); };
  const QImage fullBmp = load("Snapshot_full.bmp"), fullJpg = load("Snapshot_full.jpg");
  const QImage smallBmp = load("Snapshot_small.bmp"), smallJpg = load("Snapshot_small.jpg");
  EXPECT_EQ(fullBmp.size(), QSize(176, 144));
  EXPECT_EQ(fullJpg.size(), QSize(176, 144));
  EXPECT_EQ(smallBmp.size(), panel.Host()->size());
  EXPECT_EQ(smallJpg.size(), panel.Host()->size());
  EXPECT_EQ(MeanAbsDifference(fullBmp, current), 0.0);
  EXPECT_LT(MeanAbsDifference(fullJpg, current), 8.0);
  EXPECT_EQ(FrameNumber(fullJpg), stepped);
  EXPECT_EQ(FrameNumber(smallJpg), stepped);

  // A second snapshot keeps the first files and takes the next free names.
  const auto firstSize = fs::file_size(snaps_.file("Snapshot_full.jpg"));
  QTest::mouseClick(panel.SnapshotButton(), Qt::LeftButton);
  EXPECT_EQ(SnapshotFiles().size(), 8u);
  EXPECT_TRUE(fs::exists(snaps_.file("Snapshot_full(2).bmp")));
  EXPECT_TRUE(fs::exists(snaps_.file("Snapshot_small(2).jpg")));
  EXPECT_EQ(fs::file_size(snaps_.file("Snapshot_full.jpg")), firstSize);

  // Without BMP only the two JPEGs are written.
  TAppSettings(config_.SettingsFile()).Ini().WriteBool("settings", "snapBmp", false);
  QTest::mouseClick(panel.SnapshotButton(), Qt::LeftButton);
  ASSERT_EQ(panel.LastSnapshotFiles().size(), 2u);
  EXPECT_EQ(fs::path(panel.LastSnapshotFiles()[0]).filename(), "Snapshot_full(3).jpg");
  EXPECT_EQ(fs::path(panel.LastSnapshotFiles()[1]).filename(), "Snapshot_small(3).jpg");
  EXPECT_EQ(SnapshotFiles().size(), 10u);

  // Next while paused selects the next row but resumes the file that is open.
  QTest::mouseClick(panel.NextButton(), Qt::LeftButton);
  EXPECT_EQ(window_->FileList()->indexOfTopLevelItem(window_->FileList()->currentItem()), 1);
  EXPECT_EQ(panel.Player().FileName(), clip);
  EXPECT_FALSE(panel.PlayButton()->isEnabled());
  EXPECT_TRUE(panel.PreviousButton()->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return FrameNumber(FrameOf(panel.Player().CurrentFrame())) > stepped; },
                              kWaitMs));

  // Stop: idle again.
  QTest::mouseClick(panel.StopButton(), Qt::LeftButton);
  EXPECT_TRUE(panel.PlayButton()->isEnabled());
  EXPECT_FALSE(panel.StopButton()->isEnabled());
  EXPECT_FALSE(panel.SnapshotButton()->isEnabled());
  EXPECT_FALSE(panel.PositionSlider()->isEnabled());
  EXPECT_EQ(panel.PositionLabel()->text(), "00:00:00");
  EXPECT_EQ(panel.DurationLabel()->text(), "00:00:00");
  EXPECT_FALSE(panel.Host()->Surface()->isVisible());
}

TEST_F(PreviewTest, TheEndPausesAtTheStartAndAStillPictureHasNoSlider) {
  // A picture file: no duration, so no place on a slider.
  TempDir pictures;
  QImage still(176, 144, QImage::Format_RGB888);
  fixtures::DrawPatternRGB(still.bits(), static_cast<int>(still.bytesPerLine()), 176, 144, 7);
  const std::string stillPath = pictures.file("still.png");
  ASSERT_TRUE(still.save(QString::fromStdString(stillPath)));
  ASSERT_EQ(window_->AddFiles({FixturePath("h264_aac.mp4"), stillPath}), 2);
  TPreviewPanel &panel = Panel();

  // A snapshot before anything was shown is refused and writes nothing.
  QString message;
  AnswerNextBox(QMessageBox::Ok, &message);
  panel.Snapshot();
  EXPECT_FALSE(message.isEmpty());
  EXPECT_TRUE(SnapshotFiles().empty());
  EXPECT_TRUE(actions_.opened.empty());

  window_->FileList()->setCurrentItem(window_->FileList()->topLevelItem(1));
  QTest::mouseClick(panel.PlayButton(), Qt::LeftButton);
  EXPECT_EQ(panel.PreviewDuration(), 0);
  EXPECT_FALSE(panel.PositionSlider()->isEnabled());
  EXPECT_EQ(panel.DurationLabel()->text(), "0:00:00");
  // Positions still come and are shown as text; the picture is the still one.
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return FrameNumber(FrameOf(panel.Player().CurrentFrame())) == 7; }, kWaitMs));
  EXPECT_FALSE(panel.PositionSlider()->isEnabled());
  panel.Stop();

  // The 2 s clip to its end: paused at the start, Play enabled, the slider off.
  window_->FileList()->setCurrentItem(window_->FileList()->topLevelItem(0));
  bool ended = false;
  QObject::connect(&panel, &TPreviewPanel::StateHandled, [&](TPlayState s) { ended = ended || s == psEnd; });
  QTest::mouseClick(panel.PlayButton(), Qt::LeftButton);
  EXPECT_TRUE(panel.PositionSlider()->isEnabled());
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, kWaitMs));
  EXPECT_TRUE(panel.PlayButton()->isEnabled());
  EXPECT_FALSE(panel.PauseButton()->isEnabled());
  EXPECT_FALSE(panel.PositionSlider()->isEnabled());
  EXPECT_EQ(panel.PositionSlider()->value(), 0);
  EXPECT_EQ(panel.PositionLabel()->text(), "00:00:00");
  EXPECT_FALSE(panel.PreviewPaused());
  EXPECT_TRUE(panel.Player().IsPaused());
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        std::int64_t pts = -1;
        return FrameNumber(FrameOf(panel.Player().CurrentFrame(pts))) == 0 && pts >= 0 && pts < 40'000;
      },
      kWaitMs))
      << "the first picture is shown again";

  // Play starts the file again from its start.
  QTest::mouseClick(panel.PlayButton(), Qt::LeftButton);
  EXPECT_FALSE(panel.Player().IsPaused());
  EXPECT_TRUE(panel.PauseButton()->isEnabled());
  EXPECT_EQ(panel.DurationLabel()->text(), "0:00:02");
  ASSERT_TRUE(QTest::qWaitFor([&] { return panel.PositionSlider()->value() > 0; }, kWaitMs));
}

TEST_F(PreviewTest, VolumeAndMuteAreKeptForTheNextSession) {
  TPreviewPanel &panel = Panel();
  EXPECT_EQ(panel.VolumeSlider()->value(), 0); // the settings file's default
  panel.VolumeSlider()->setValue(77);
  EXPECT_EQ(panel.Player().AudioVolume(), 77);
  QTest::mouseClick(panel.MuteButton(), Qt::LeftButton);
  EXPECT_TRUE(panel.Player().Mute());
  EXPECT_TRUE(panel.MuteButton()->property("muted").toBool());
  TAppSettings settings(config_.SettingsFile());
  EXPECT_EQ(settings.Volume(), 77);
  EXPECT_TRUE(settings.Mute());

  AnswerNextBox(QMessageBox::Yes);
  EXPECT_TRUE(window_->close());
  window_.reset();
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  EXPECT_EQ(Panel().VolumeSlider()->value(), 77);
  EXPECT_EQ(Panel().Player().AudioVolume(), 77);
  EXPECT_TRUE(Panel().Player().Mute());
  EXPECT_TRUE(Panel().MuteButton()->property("muted").toBool());

  // A stored volume outside 0..128 reads as 64; a second press turns the sound on.
  window_.reset();
  TAppSettings(config_.SettingsFile()).SetVolume(300);
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  EXPECT_EQ(Panel().VolumeSlider()->value(), 64);
  QTest::mouseClick(Panel().MuteButton(), Qt::LeftButton);
  EXPECT_FALSE(TAppSettings(config_.SettingsFile()).Mute());
  EXPECT_FALSE(Panel().Player().Mute());
}

} // namespace
