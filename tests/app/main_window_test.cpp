// The desktop program driven through its real windows under a real X server: adding
// files (also by drag and drop), choosing a profile in the tree, Start, the progress
// window's Pause, Resume and Cancel, the exit question, and what the settings file keeps.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>

#include "app/MainWindow.h"
#include "app/ProgressWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/ProfileTreeBox.h"
#include "appcore/DecodedMedia.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/Settings.h"
#include "media/MainThread.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

constexpr int kLongWaitMs = 180'000; // a loaded machine converts slowly

int gArgc = 1;
char gArg0[] = "app_main_window_test";
char *gArgv[] = {gArg0, nullptr};

struct FakeActions final : ICompletionActions {
  std::vector<std::string> opened;
  int shutDowns = 0;
  void OpenOutputFolder(const std::string &folder) override { opened.push_back(folder); }
  void ShutDown() override { ++shutDowns; }
};

// Presses `button` on the next message box that shows (polling from the event loop,
// since the box runs a loop of its own). The timer belongs to the application and goes
// once it has answered.
void AnswerNextBox(QMessageBox::StandardButton button) {
  auto *timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, button] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        timer->stop();
        timer->deleteLater();
        box->button(button)->click();
        return;
      }
  });
  timer->start(20);
}

std::int64_t FileSize(const std::string &path) {
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  return ec ? -1 : static_cast<std::int64_t>(size);
}

// Lets the event loop run for `ms` milliseconds (the converter's reports come through it).
void Pump(int ms) { QTest::qWait(ms); }

class MainWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    // One application per test, as in the program: made before, and gone after, the windows.
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
    if (window_ && window_->Running()) {
      window_->ProgressWindow()->CancelButton()->click();
      ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
    }
    window_.reset();
    SetMainThreadDispatcher(nullptr);
    app_.reset();
  }

  // Clicks category `index` of the tree (toggling it) and then the profile `code`.
  void ChooseInTree(int code) {
    TProfileTreeBox *tree = window_->ProfileTree();
    QTest::mouseClick(tree->findChild<QLineEdit *>("profileField"), Qt::LeftButton);
    QTreeWidget *list = tree->List();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible(); }, 5000));
    QTreeWidgetItem *category = tree->CategoryItem(code / 100);
    if (!category->isExpanded()) {
      list->scrollToItem(category);
      QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(category).center());
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return category->isExpanded(); }, 5000));
    QTreeWidgetItem *profile = tree->ProfileItem(code);
    list->scrollToItem(profile);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(profile).center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list->isVisible(); }, 5000));
  }

  std::string ProgressText(int row) const {
    return window_->FileList()->topLevelItem(row)->text(TFileListView::colProgress).toStdString();
  }

  // Starts the rows and waits until the first report has shown the conversion under way.
  void StartAndWaitForProgress() {
    QTest::mouseClick(window_->StartButton(), Qt::LeftButton);
    ASSERT_TRUE(window_->Running());
    TProgressWindow *progress = window_->ProgressWindow();
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->isVisible(); }, 10'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->Bar()->value() > 0; }, kLongWaitMs));
  }

  std::unique_ptr<QApplication> app_;
  ConfigFolder config_;
  TempDir out_;
  FakeActions actions_;
  std::unique_ptr<TMainWindow> window_;
};

TEST_F(MainWindowTest, TwoClipsConvertWithTheProfileChosenInTheTree) {
  const std::string a = FixturePath("h264_aac.mp4"), b = FixturePath("mpeg4_mp3.avi");
  EXPECT_EQ(window_->AddFiles({a, b}), 2);
  EXPECT_EQ(window_->AddFiles({a}), 0); // already listed
  ASSERT_EQ(window_->FileList()->topLevelItemCount(), 2);
  EXPECT_EQ(window_->FileList()->topLevelItem(0)->text(TFileListView::colLength), "2");

  ASSERT_NO_FATAL_FAILURE(ChooseInTree(2200)); // "MKV - Matroska Video (*.mkv)"
  EXPECT_EQ(window_->ProfileTree()->Text(), "MKV - Matroska Video (*.mkv)");
  EXPECT_EQ(TAppSettings(config_.SettingsFile()).FormatCode(), 2200);

  QTest::mouseClick(window_->StartButton(), Qt::LeftButton);
  ASSERT_TRUE(window_->Running());
  EXPECT_FALSE(window_->StartButton()->isEnabled()); // the rows stay as they are until the end
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
  EXPECT_FALSE(window_->ProgressWindow()->isVisible());
  EXPECT_TRUE(window_->StartButton()->isEnabled());
  EXPECT_EQ(window_->FinishedCount(), 2);
  EXPECT_EQ(ProgressText(0), "100%");
  EXPECT_EQ(ProgressText(1), "100%");
  // The completion action ran once, after the last file, with the output folder.
  ASSERT_EQ(actions_.opened.size(), 1u);
  EXPECT_EQ(actions_.opened[0], out_.path().string());
  EXPECT_EQ(actions_.shutDowns, 0);

  for (const char *name : {"h264_aac_(new).mkv", "mpeg4_mp3_(new).mkv"}) {
    const DecodedMedia m = DecodeFile(out_.file(name), [](const AVFrame *) {});
    ASSERT_TRUE(m.opened) << name;
    EXPECT_EQ(m.demuxer, "matroska,webm");
    EXPECT_FALSE(m.videoCodec.empty()) << name;
    EXPECT_FALSE(m.audioCodec.empty()) << name;
    EXPECT_GT(m.width, 0);
    EXPECT_NEAR(m.videoEnd - m.videoStart, 2.0, 0.25) << name;
    EXPECT_EQ(m.decodeErrors, 0);
  }
}

TEST_F(MainWindowTest, PauseHoldsTheOutputStillAndResumeFinishesIt) {
  ASSERT_EQ(window_->AddFiles({FixturePath("long_clip.mp4")}), 1);
  ASSERT_NO_FATAL_FAILURE(ChooseInTree(2200));
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForProgress());
  TProgressWindow *progress = window_->ProgressWindow();
  QTest::mouseClick(progress->PauseButton(), Qt::LeftButton);
  EXPECT_FALSE(progress->PauseButton()->isEnabled());
  EXPECT_TRUE(progress->ResumeButton()->isEnabled());

  // Once what was under way is written, the file stops growing while paused.
  const std::string output = out_.file("long_clip_(new).mkv");
  std::int64_t size = -2;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return [&] {
          const std::int64_t before = FileSize(output);
          Pump(500);
          size = FileSize(output);
          return before == size;
        }();
      },
      30'000));
  Pump(1500);
  EXPECT_EQ(FileSize(output), size);
  EXPECT_TRUE(window_->Running());
  EXPECT_NE(ProgressText(0), "100%");

  // The snapshot button saves the preview as it came and as the window shows it.
  TempDir snaps;
  TAppSettings settings(config_.SettingsFile());
  settings.SetSnapOutPutDir(snaps.path().string());
  settings.Ini().WriteBool("settings", "snapJpg", false);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !progress->PreviewFrame().isNull(); }, 30'000));
  QTest::mouseClick(progress->SnapButton(), Qt::LeftButton);
  const QImage full(QString::fromStdString(snaps.file("Snapshot_full.bmp")));
  const QImage small(QString::fromStdString(snaps.file("Snapshot_small.bmp")));
  EXPECT_EQ(full.size(), progress->PreviewFrame().size());
  EXPECT_EQ(small.size(), QSize(372, 210));
  EXPECT_FALSE(fs::exists(snaps.file("Snapshot_full.jpg")));

  QTest::mouseClick(progress->ResumeButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
  EXPECT_EQ(ProgressText(0), "100%");
  const DecodedMedia m = DecodeFile(output, [](const AVFrame *) {});
  ASSERT_TRUE(m.opened);
  EXPECT_NEAR(m.videoEnd - m.videoStart, 40.0, 0.5);
  EXPECT_EQ(m.decodeErrors, 0);
}

TEST_F(MainWindowTest, CancelLeavesNoOutputReportedAsDone) {
  ASSERT_EQ(window_->AddFiles({FixturePath("long_clip.mp4"), FixturePath("h264_aac.mp4")}), 2);
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForProgress());
  QTest::mouseClick(window_->ProgressWindow()->CancelButton(), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
  EXPECT_FALSE(window_->ProgressWindow()->isVisible());
  EXPECT_EQ(window_->FinishedCount(), 0);
  EXPECT_EQ(window_->FailedCount(), 2);
  EXPECT_NE(ProgressText(0), "100%");
  EXPECT_EQ(ProgressText(1), "");
  EXPECT_TRUE(actions_.opened.empty()); // no completion action after a cancelled run
  EXPECT_TRUE(window_->StartButton()->isEnabled());
}

TEST_F(MainWindowTest, NoToTheExitQuestionKeepsTheConversionRunning) {
  ASSERT_EQ(window_->AddFiles({FixturePath("long_clip.mp4")}), 1);
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForProgress());
  AnswerNextBox(QMessageBox::No);
  EXPECT_FALSE(window_->close());
  EXPECT_TRUE(window_->isVisible());
  EXPECT_TRUE(window_->Running());
  const int before = window_->ProgressWindow()->Bar()->value();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return window_->ProgressWindow()->Bar()->value() > before || !window_->Running(); },
      kLongWaitMs));
}

TEST_F(MainWindowTest, DroppedFilesAreAdded) {
  TempDir folder;
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(FixturePath("h264_aac.mp4"))),
                QUrl::fromLocalFile(QString::fromStdString(folder.path().string())), // folders are skipped
                QUrl("https://example.org/clip.mp4"),                                // not a local file
                QUrl::fromLocalFile(QString::fromStdString(FixturePath("audio_only.mp3")))});
  QWidget *target = window_->FileList()->viewport();
  const QPoint at = target->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &move);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_EQ(window_->Rows().size(), 2u);
  EXPECT_EQ(window_->Rows()[0].Caption, FixturePath("h264_aac.mp4"));
  EXPECT_EQ(window_->Rows()[1].Caption, FixturePath("audio_only.mp3"));
}

TEST_F(MainWindowTest, SettingsKeepTheTreeStateTheProfileAndTheOutputFolder) {
  TempDir chosen;
  window_->SetOutputFolder(chosen.path().string());
  EXPECT_EQ(window_->OutputField()->text().toStdString(), chosen.path().string());
  ASSERT_NO_FATAL_FAILURE(ChooseInTree(1301)); // opens "Nintendo WII", chooses its MOV profile
  EXPECT_EQ(window_->ProfileTree()->Text(), "Nintendo Wii MOV Video (*.mov)");
  AnswerNextBox(QMessageBox::Yes);
  EXPECT_TRUE(window_->close());
  window_.reset();

  // A new session shows what the last one left.
  window_ = std::make_unique<TMainWindow>(actions_);
  window_->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
  EXPECT_EQ(window_->OutputField()->text().toStdString(), chosen.path().string());
  EXPECT_EQ(window_->ProfileTree()->Text(), "Nintendo Wii MOV Video (*.mov)");
  EXPECT_TRUE(window_->ProfileTree()->CategoryItem(13)->isExpanded());
  EXPECT_FALSE(window_->ProfileTree()->CategoryItem(12)->isExpanded());

  // An old settings file spelling the name the old way still selects that profile.
  TAppSettings(config_.SettingsFile()).SetFormat("Nitendeo Wii AVI Video (*.avi)", 1300);
  window_->ProfileTree()->Rebuild();
  EXPECT_EQ(window_->ProfileTree()->ChosenCode(), 1300);
  EXPECT_EQ(window_->ProfileTree()->Text(), "Nintendo Wii AVI Video (*.avi)");
}

} // namespace
