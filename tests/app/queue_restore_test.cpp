// The file list survives a crash: the real program is killed in the middle of a run and
// started again; restored, its Start finishes the list without converting anything twice.
// And the question a restart asks, answered in the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/MainWindow.h"
#include "app/widgets/FileListView.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/DecodedMedia.h"
#include "appcore/QueueJournal.h"
#include "media/MainThread.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;
namespace fs = std::filesystem;

namespace {

constexpr int kWatchdogMs = 300'000; // a loaded machine converts slowly

int gArgc = 1;
char gArg0[] = "app_queue_restore_test";
char *gArgv[] = {gArg0, nullptr};

std::optional<TQueueSnapshot> ReadJournal(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  std::string problem;
  return ParseQueue(text.str(), problem);
}

bool Has(const TQueueSnapshot &s, TRowState state) {
  return std::any_of(s.Rows.begin(), s.Rows.end(), [&](const TFileRow &r) { return r.State == state; });
}

std::map<std::string, fs::file_time_type> Outputs(const fs::path &folder) {
  std::map<std::string, fs::file_time_type> files;
  for (const auto &entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = entry.last_write_time();
  return files;
}

TEST(QueueRestore, KilledMidRunRestoresAndFinishesWithoutDuplicates) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
  QCoreApplication app(gArgc, gArgv);
  LoadConverterLibraries(); // for decoding the outputs
  TempDir home, sources;
  const fs::path out = home.path() / "out";
  const fs::path journal = home.path() / ".config/tovi-video-converter/queue-journal.json";
  // The middle file is long, so that it is usually still converting when the first is done.
  const std::map<std::string, std::pair<std::string, double>> files{
      {"a", {"h264_aac.mp4", 2.0}}, {"b", {"long_clip.mp4", 40.0}}, {"c", {"h264_aac.mp4", 2.0}}};
  QStringList args{"--profile", "2200", "--out", QString::fromStdString(out.string()), "--start"};
  for (const auto &[name, source] : files) {
    const fs::path copy = sources.path() / (name + ".mp4");
    fs::copy_file(FixturePath(source.first), copy);
    args << QString::fromStdString(copy.string());
  }

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("TOVI_CONFIG_DIR");
  env.insert("HOME", QString::fromStdString(home.path().string()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString((home.path() / ".config").string()));
  QProcess first;
  first.setProcessEnvironment(env);
  first.setProcessChannelMode(QProcess::ForwardedChannels);
  first.start(TOVI_CONVERTER_BIN, args);
  ASSERT_TRUE(first.waitForStarted());

  // Killed once a file is done and another is being converted, as the journal says.
  std::optional<TQueueSnapshot> atKill;
  const bool seen = QTest::qWaitFor(
      [&] {
        atKill = ReadJournal(journal);
        return first.state() != QProcess::Running ||
               (atKill && Has(*atKill, TRowState::Done) && Has(*atKill, TRowState::Converting));
      },
      kWatchdogMs);
  ASSERT_EQ(first.state(), QProcess::Running) << "the program ended before it could be killed";
  EXPECT_TRUE(seen) << "watchdog: no file was seen done while another converted";
  first.kill(); // SIGKILL: nothing of the program runs after it
  ASSERT_TRUE(first.waitForFinished());
  ASSERT_TRUE(atKill && Has(*atKill, TRowState::Converting)) << "no run in progress was seen";
  const std::map<std::string, fs::file_time_type> doneBefore = [&] {
    std::map<std::string, fs::file_time_type> done;
    const auto all = Outputs(out);
    for (const TFileRow &r : atKill->Rows)
      if (r.State == TRowState::Done)
        done[fs::path(r.Record.DestinationFile).filename().string()] =
            all.at(fs::path(r.Record.DestinationFile).filename().string());
    return done;
  }();

  QProcess second;
  second.setProcessEnvironment(env);
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.start(TOVI_CONVERTER_BIN, {"--restore", "--start", "--quit-when-done"});
  ASSERT_TRUE(second.waitForFinished(kWatchdogMs));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << "every unfinished file converted";

  const auto after = Outputs(out);
  ASSERT_EQ(after.size(), 3u) << "one output per file, no (new_1) beside a half-written one";
  for (const auto &[name, source] : files) {
    const std::string output = name + "_(new).mkv";
    ASSERT_TRUE(after.count(output)) << output;
    const DecodedMedia m = DecodeFile((out / output).string());
    ASSERT_TRUE(m.opened) << output;
    EXPECT_NEAR(m.videoEnd - m.videoStart, source.second, 0.25) << output;
    ASSERT_GT(m.sampleRate, 0) << output;
    EXPECT_NEAR(static_cast<double>(m.audioSamples) / m.sampleRate, source.second, 0.25) << output;
    EXPECT_EQ(m.decodeErrors, 0) << output;
  }
  for (const auto &[name, time] : doneBefore)
    EXPECT_EQ(after.at(name), time) << name << " was done before the crash and is not converted again";
  EXPECT_FALSE(fs::exists(journal)) << "a normal exit leaves nothing to restore";
}

// Presses `button` on the next message box that shows (polled: the box runs its own
// loop) and keeps its text.
void AnswerNextBox(QMessageBox::StandardButton button, QString &text) {
  auto *timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, button, &text] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
        timer->stop();
        timer->deleteLater();
        text = box->text();
        box->button(button)->click();
        return;
      }
  });
  timer->start(20);
}

struct NoActions final : ICompletionActions {
  void OpenOutputFolder(const std::string &) override {}
  void ShutDown() override {}
};

TEST(QueueRestore, TheQuestionRestoresOnYesAndForgetsOnNo) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
  QApplication app(gArgc, gArgv);
  SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
  InstallQtPreviewer();
  LoadConverterLibraries();
  ConfigFolder config;
  TQueueSnapshot left;
  left.ProfileCode = 2200;
  for (const char *name : {"h264_aac.mp4", "mpeg4_mp3.avi"}) {
    TFileRow row;
    row.Caption = row.Record.SourceFile = FixturePath(name);
    left.Rows.push_back(row);
  }
  left.Rows[0].State = TRowState::Done;
  left.Rows[1].State = TRowState::Converting;
  left.Rows[1].Checked = false;
  left.Rows[1].Record.TrimStart = 1'000'000;
  NoActions actions;
  {
    TQueueJournal(QueueJournalFile()).StateChanged(left);
    TMainWindow window(actions);
    window.show();
    QString question;
    AnswerNextBox(QMessageBox::No, question);
    EXPECT_FALSE(window.OfferRestore());
    EXPECT_TRUE(question.contains("did not close normally")) << question.toStdString();
    EXPECT_TRUE(window.Rows().empty());
    EXPECT_FALSE(fs::exists(QueueJournalFile())) << "declined: not offered again";
  }
  {
    TQueueJournal(QueueJournalFile()).StateChanged(left);
    TMainWindow window(actions);
    window.show();
    QString question;
    AnswerNextBox(QMessageBox::Yes, question);
    ASSERT_TRUE(window.OfferRestore());
    ASSERT_EQ(window.Rows().size(), 2u);
    const QTreeWidgetItem *done = window.FileList()->topLevelItem(0);
    const QTreeWidgetItem *interrupted = window.FileList()->topLevelItem(1);
    EXPECT_EQ(done->text(TFileListView::colProgress), "100%");
    EXPECT_EQ(interrupted->text(TFileListView::colProgress), "") << "never shown as done";
    EXPECT_EQ(interrupted->checkState(0), Qt::Unchecked);
    EXPECT_EQ(window.Rows()[1].Record.TrimStart, 1'000'000);
    EXPECT_EQ(window.Rows()[1].State, TRowState::Waiting);
  }
  SetMainThreadDispatcher(nullptr);
}

} // namespace
