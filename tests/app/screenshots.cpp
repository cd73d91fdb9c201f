// tovi-screenshots FIXTURE_DIR OUT_DIR: pictures of the real windows for the README.
// The main window with three files listed (main-window.png) and the progress window in
// the middle of a conversion (progress.png), and the main window playing a clip in its
// preview panel (preview.png). Run it under an X server (Xvfb); it keeps
// its settings in a folder of its own.
//
// tovi-screenshots --measure FILE PROFILE: start-up time to a shown main window, idle
// memory, and the longest gap of the GUI thread's event loop while FILE converts with
// PROFILE (a code), printed on stdout.
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QScreen>
#include <QSlider>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <string>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/MainWindow.h"
#include "app/ProgressWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/PreviewPanel.h"
#include "app/widgets/ProfileTreeBox.h"
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
  ::setenv("SDL_AUDIODRIVER", "dummy", 0); // the preview plays without a sound card
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
