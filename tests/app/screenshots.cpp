// tovi-screenshots FIXTURE_DIR OUT_DIR: pictures of the real windows for the README:
// the main window with three files listed (main-window.png), the output settings,
// preferences and file information dialogs (settings.png, preferences.png,
// file-info.png), the crop dialog with a rectangle and adjustments chosen (crop.png), the
// Trim window with a range chosen (trim.png), the Water Mark dialog with a text and a
// picture over the playing clip (watermark.png), the progress window in the middle of a
// conversion (progress.png), and the main window playing a clip in its preview panel
// (preview.png). Run it under an X server (Xvfb); it keeps its settings in a folder of
// its own.
//
// tovi-screenshots --measure FILE PROFILE: start-up time to a shown main window, idle
// memory, and the longest gap of the GUI thread's event loop while FILE converts with
// PROFILE (a code), printed on stdout.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <string>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/FileInfoWindow.h"
#include "app/CropWindow.h"
#include "app/MainWindow.h"
#include "app/PreferenceWindow.h"
#include "app/SettingsWindow.h"
#include "app/WatermarkWindow.h"
#include "app/ProgressWindow.h"
#include "app/TrimWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/PreviewPanel.h"
#include "app/widgets/ProfileTreeBox.h"
#include "app/widgets/RectTracker.h"
#include "app/widgets/RangeBar.h"
#include "appcore/Settings.h"
#include "media/MainThread.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

namespace {

struct NoActions final : tovi::ICompletionActions {
  void OpenOutputFolder(const std::string &) override {}
  void ShutDown() override {}
};

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

int Measure(int argc, char **argv, const std::string &file, int profile) {
  QElapsedTimer clock;
  clock.start();
  QApplication app(argc, argv);
  tovi::SetMainThreadDispatcher(std::make_shared<tovi::QtMainThreadDispatcher>());
  NoActions actions;
  int status = 0;
  {
    tovi::TMainWindow window(actions);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    std::printf("start-up to an exposed main window: %lld ms\n", static_cast<long long>(clock.elapsed()));
    QTest::qWait(2000);
    std::printf("idle resident memory: %ld kB\n", ResidentKb());
    tovi::TAppSettings(std::string(std::getenv("TOVI_CONFIG_DIR")) + "/" + tovi::SETTINGS_FILE_NAME)
        .SetFormat("", profile);
    window.ProfileTree()->Rebuild();
    window.AddFiles({file});
    QElapsedTimer gap;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, gap.restart()); });
    clock.restart();
    if (!window.StartConversion()) return 1;
    gap.start();
    tick.start();
    if (!QTest::qWaitFor([&] { return !window.Running(); }, 600'000)) status = 1;
    tick.stop();
    std::printf("conversion: %lld ms; longest event-loop gap: %lld ms; finished %d of %d\n",
                static_cast<long long>(clock.elapsed()), static_cast<long long>(longest),
                window.FinishedCount(), window.FinishedCount() + window.FailedCount());
    if (window.FailedCount() != 0) status = 1;
  }
  tovi::SetMainThreadDispatcher(nullptr);
  return status;
}

// The output settings, preferences and file information dialogs (settings.png,
// preferences.png, file-info.png), shown without their modal loops. False when a
// picture could not be made.
bool DialogPictures(tovi::TMainWindow &window, const std::filesystem::path &media,
                    const std::filesystem::path &images) {
  const tovi::TGlobalObject global;
  tovi::TAppSettings settingsFile(global.SettingsFile());
  settingsFile.SetSnapOutPutDir(settingsFile.OutPutDir()); // not this machine's home folder
  NoActions actions;
  bool ok = true;
  const auto shoot = [&](QWidget &dialog, const char *name) {
    dialog.show();
    ok = QTest::qWaitForWindowExposed(&dialog) && ok;
    QTest::qWait(200);
    ok = dialog.grab().save(QString::fromStdString((images / name).string())) && ok;
    dialog.hide();
  };
  tovi::TSettingsWindow settings(global, &window);
  shoot(settings, "settings.png");
  tovi::TPreferenceWindow preferences(global, actions, &window);
  shoot(preferences, "preferences.png");
  tovi::TFileInfoWindow info(&window);
  info.ShowFile((media / "long_clip.mp4").string());
  shoot(info, "file-info.png");
  return ok;
}

// crop.png: the crop dialog on the selected row with a rectangle dragged on the source
// preview and the picture brightened, as the user would leave it before Ok.
bool ShootCrop(tovi::TMainWindow &window, const std::string &file) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::setenv("SDL_VIDEODRIVER", "x11", 0);
  bool saved = false;
  QTimer::singleShot(0, [&] {
    tovi::TCropWindow *dialog = nullptr;
    (void)QTest::qWaitFor(
        [&] {
          return (dialog = qobject_cast<tovi::TCropWindow *>(QApplication::activeModalWidget())) != nullptr;
        },
        10'000);
    if (!dialog) return;
    if (QTest::qWaitFor([&] { return !dialog->OutputPreview()->Picture().isNull(); }, 60'000)) {
      tovi::TRectTracker *tracker = dialog->Tracker();
      const QPoint from = tracker->HandleCenter(tovi::TTrackerHandle::TopLeft);
      QTest::mousePress(tracker, Qt::LeftButton, {}, from);
      QTest::mouseMove(tracker, from + QPoint(60, 40));
      QTest::mouseRelease(tracker, Qt::LeftButton, {}, from + QPoint(60, 40));
      const QPoint to = tracker->HandleCenter(tovi::TTrackerHandle::BottomRight) - QPoint(1, 1);
      QTest::mousePress(tracker, Qt::LeftButton, {}, to);
      QTest::mouseMove(tracker, to - QPoint(50, 30));
      QTest::mouseRelease(tracker, Qt::LeftButton, {}, to - QPoint(50, 30));
      dialog->EffectField(0)->setValue(310);
      dialog->EffectField(2)->setValue(330);
      QTest::qWait(600); // a few refreshes of both previews
      saved = dialog->grab().save(QString::fromStdString(file));
    }
    dialog->reject();
  });
  window.OpenCrop();
  return saved;
}

// The Trim window on the selected row, a range chosen with the mouse, the picture
// paused; taken from the screen, since the player draws into a window Qt does not paint.
// Cancelled afterwards, so the conversion that follows is untouched.
bool TrimPicture(tovi::TMainWindow &window, const std::string &file) {
  window.TrimAction()->trigger();
  tovi::TTrimWindow *trim = window.TrimWindow();
  if (!trim || !QTest::qWaitForWindowExposed(trim) || trim->DurationUs() <= 0) return false;
  tovi::TRangeBar *bar = trim->RangeBar();
  const bool started = QTest::qWaitFor([&] { return trim->Player().CurrentPosition() > 500'000; }, 60'000);
  trim->PauseButton()->click();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->PointFor(8));
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->PointFor(26));
  // The paused player shows the picture at the marker let go last.
  const bool atMarker = QTest::qWaitFor(
      [&] {
        std::int64_t pts = -1;
        trim->Player().CurrentFrame(pts);
        return pts >= 25'500'000;
      },
      60'000);
  QTest::qWait(300); // its repaint
  const bool saved =
      started && atMarker && trim->screen()->grabWindow(trim->winId()).save(QString::fromStdString(file));
  trim->CancelButton()->click();
  return saved && QTest::qWaitFor([&] { return !trim->isVisible(); }, 10'000);
}

// The main window playing `clip` in its preview panel. The player draws into a native
// window of its own, which a widget grab does not see: the picture is read back from
// the screen.
bool PreviewShot(const std::filesystem::path &clip, const std::filesystem::path &png) {
  NoActions actions;
  tovi::TMainWindow window(actions);
  window.resize(900, 560);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return false;
  window.AddFiles({clip.string()});
  tovi::TPreviewPanel *preview = window.Preview();
  preview->Play();
  // A little way in, so the slider and the time show it is playing.
  if (!QTest::qWaitFor([&] { return preview->PositionSlider()->value() >= 25; }, 60'000)) return false;
  QTest::qWait(100);
  const QPixmap shot = window.screen()->grabWindow(window.winId());
  preview->Stop();
  return shot.save(QString::fromStdString(png.string()));
}

// The Water Mark dialog on the selected row: a text typed in place and a picture chosen
// in the file dialog, over a frame of the playing clip. The dialog is cancelled.
bool WatermarkShot(tovi::TMainWindow &window, const std::filesystem::path &work,
                   const std::filesystem::path &image) {
  const std::string logo = (work / "logo.bmp").string();
  QImage picture(48, 32, QImage::Format_RGB888);
  picture.fill(QColor(250, 200, 40));
  QPainter(&picture).fillRect(8, 8, 32, 16, QColor(40, 60, 160));
  if (!picture.save(QString::fromStdString(logo))) return false;
  bool saved = false, ran = false;
  QTimer poll; // until the dialog runs modally (opening the clip turns the event loop)
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto *dialog = qobject_cast<tovi::TWatermarkWindow *>(QApplication::activeModalWidget());
    if (ran || !dialog || !dialog->isVisible()) return;
    ran = true;
    poll.stop();
    if (!QTest::qWaitForWindowExposed(dialog)) return;
    QTest::mouseClick(dialog->Button("Add Text"), Qt::LeftButton);
    QTest::keyClicks(dialog->TextEditor(), "Tovi");
    QTest::keyClick(dialog->TextEditor(), Qt::Key_Return);
    dialog->SetPictureChooser([&] { return logo; });
    QTest::mouseClick(dialog->Button("Add Image"), Qt::LeftButton);
    const bool playing = QTest::qWaitFor([&] { return dialog->FramePts() >= 500000; }, 20'000);
    QTest::qWait(100);
    saved = playing && dialog->grab().save(QString::fromStdString(image.string()));
    dialog->reject();
  });
  poll.start(20);
  window.OpenWatermarkWindow();
  return saved;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--measure")
    return Measure(argc, argv, argv[2], std::atoi(argv[3]));
  if (argc != 3) {
    std::fprintf(stderr, "usage: tovi-screenshots FIXTURE_DIR OUT_DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path media = fs::absolute(argv[1]), images = fs::absolute(argv[2]);
  const fs::path work = fs::temp_directory_path() / "tovi-screenshots";
  fs::remove_all(work);
  fs::create_directories(work / "config");
  fs::create_directories(work / "output");
  fs::create_directories(images);
  ::setenv("TOVI_CONFIG_DIR", (work / "config").c_str(), 1);
  // The players of the preview and the editors: pictures in the X server, no sound
  // device needed.
  ::setenv("SDL_VIDEODRIVER", "x11", 1);
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  // The screenshots show a home folder of a user, not this machine's.
  tovi::TAppSettings(std::string((work / "config" / tovi::SETTINGS_FILE_NAME).string()))
      .SetOutPutDir((work / "output").string());

  QApplication app(argc, argv);
  tovi::SetMainThreadDispatcher(std::make_shared<tovi::QtMainThreadDispatcher>());
  NoActions actions;
  int status = 0;
  {
    tovi::TMainWindow window(actions);
    window.resize(820, 560);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    window.AddFiles({(media / "long_clip.mp4").string(), (media / "h264_aac.mp4").string(),
                     (media / "mpeg4_mp3.avi").string()});
    QTest::qWait(300);
    if (!window.grab().save(QString::fromStdString((images / "main-window.png").string()))) status = 1;
    if (!DialogPictures(window, media, images)) status = 1;
    if (!ShootCrop(window, (images / "crop.png").string())) status = 1;
    if (!TrimPicture(window, (images / "trim.png").string())) status = 1;
    if (!WatermarkShot(window, work, images / "watermark.png")) status = 1;

    window.StartConversion();
    tovi::TProgressWindow *progress = window.ProgressWindow();
    progress->resize(460, 520);
    const bool midway = QTest::qWaitFor(
        [&] { return progress->Bar()->value() >= 20 && !progress->PreviewFrame().isNull(); }, 120'000);
    QTest::qWait(200); // one more preview repaint
    if (!midway || !progress->grab().save(QString::fromStdString((images / "progress.png").string())))
      status = 1;
    progress->CancelButton()->click();
    if (!QTest::qWaitFor([&] { return !window.Running(); }, 120'000)) status = 1;
  }
  if (!PreviewShot(media / "long_clip.mp4", images / "preview.png")) status = 1;
  tovi::SetMainThreadDispatcher(nullptr);
  fs::remove_all(work);
  return status;
}
