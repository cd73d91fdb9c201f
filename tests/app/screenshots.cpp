// tovi-screenshots FIXTURE_DIR OUT_DIR: pictures of the real windows for the README.
// The main window with three files listed (main-window.png), the Water Mark dialog with a
// text and a picture over the playing clip (watermark.png) and the progress window in
// the middle of a conversion (progress.png). Run it under an X server (Xvfb); it keeps
// its settings in a folder of its own.
//
// tovi-screenshots --measure FILE PROFILE: start-up time to a shown main window, idle
// memory, and the longest gap of the GUI thread's event loop while FILE converts with
// PROFILE (a code), printed on stdout.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <fstream>
#include <string>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "app/MainWindow.h"
#include "app/WatermarkWindow.h"
#include "app/ProgressWindow.h"
#include "app/widgets/FileListView.h"
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
    // Answered from the file dialog's own event loop (closed before it runs, the dialog
    // would wait for ever).
    QTimer answer;
    const int level = QThread::currentThread()->loopLevel();
    QObject::connect(&answer, &QTimer::timeout, [&] {
      if (QThread::currentThread()->loopLevel() <= level) return;
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *chooser = qobject_cast<QFileDialog *>(w); chooser && chooser->isVisible()) {
          answer.stop();
          chooser->selectFile(QString::fromStdString(logo));
          static_cast<QDialog *>(chooser)->accept();
        }
    });
    answer.start(20);
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
  ::setenv("SDL_AUDIODRIVER", "dummy", 0); // the dialogs' players need no sound card
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
  tovi::SetMainThreadDispatcher(nullptr);
  fs::remove_all(work);
  return status;
}
