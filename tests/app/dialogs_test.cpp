// The main window's dialogs driven through their real windows under a real X server:
// the output settings dialog (what Default, typed values and OK do to the next
// conversion, its messages), the preferences (kept across windows) and the file
// information window (the probe's values for a video and an audio-only file).
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "app/FileInfoWindow.h"
#include "app/MainWindow.h"
#include "app/PreferenceWindow.h"
#include "app/SettingsWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/ProfileTreeBox.h"
#include "appcore/AppcoreTestSupport.h"
#include "appcore/DecodedMedia.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/Settings.h"
#include "media/MainThread.h"
#include "ui/Previewer.h"
#include "ui/QtMainThreadDispatcher.h"

using namespace tovi;
using namespace tovi::test;

namespace {

constexpr int kLongWaitMs = 180'000; // a loaded machine converts slowly
constexpr int kMkv = 2200;           // "MKV - Matroska Video (*.mkv)"

int gArgc = 1;
char gArg0[] = "app_dialogs_test";
char *gArgv[] = {gArg0, nullptr};

struct FakeActions final : ICompletionActions {
  std::vector<std::string> opened;
  void OpenOutputFolder(const std::string &folder) override { opened.push_back(folder); }
  void ShutDown() override {}
};

struct Box {
  std::string title, text;
};

// Answers every message box that shows with OK and keeps its title and text, polling
// from the event loop (a box runs a loop of its own). Stops when destroyed.
class BoxAnswerer {
public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
          boxes.push_back({box->windowTitle().toStdString(), box->text().toStdString()});
          box->button(QMessageBox::Ok)->click();
          return;
        }
    });
    timer_.start(20);
  }
  std::vector<Box> boxes;

private:
  QTimer timer_;
};

// Runs `body` with the first visible top-level window of type T once it shows (inside
// its modal loop), then waits for `opened` to return. Failures inside `body` are
// reported as they happen; the dialog is closed in any case.
template <class T> void WithDialog(const std::function<void()> &open, const std::function<void(T *)> &body) {
  bool ran = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    for (QWidget *w : QApplication::topLevelWidgets())
      if (auto *dialog = qobject_cast<T *>(w); dialog && dialog->isVisible() && !ran) {
        ran = true;
        timer.stop();
        body(dialog);
        if (dialog->isVisible()) dialog->reject();
        return;
      }
  });
  timer.start(20);
  open();
  EXPECT_TRUE(ran) << "the dialog did not show";
}

std::string ReadAll(const std::string &file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Types into a list as the user would, all of its text replaced: the keys go to the
// list, which has the focus for its text field.
void TypeInto(QComboBox *box, const QString &text) {
  box->lineEdit()->selectAll();
  QTest::keyClick(box, Qt::Key_Backspace);
  QTest::keyClicks(box, text);
}

class DialogsTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    app_ = std::make_unique<QApplication>(gArgc, gArgv);
    SetMainThreadDispatcher(std::make_shared<QtMainThreadDispatcher>());
    InstallQtPreviewer();
    LoadConverterLibraries();
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
  QPushButton *Button(const char *name) const { return window_->findChild<QPushButton *>(name); }
  QAction *MenuAction(const QString &text) const {
    for (QAction *a : window_->findChildren<QAction *>())
      if (a->text() == text) return a;
    return nullptr;
  }
  // Starts the listed rows with the chosen profile and waits for the end of the run.
  void ConvertAll() {
    ASSERT_TRUE(window_->StartConversion());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Running(); }, kLongWaitMs));
    ASSERT_EQ(window_->FailedCount(), 0);
  }

  std::unique_ptr<QApplication> app_;
  ConfigFolder config_;
  TempDir out_, snaps_;
  FakeActions actions_;
  std::unique_ptr<TMainWindow> window_;
};

TEST_F(DialogsTest, DefaultAndOkChooseTheDialogsProfileAndTheConversionUsesItsDefaults) {
  // Earlier choices for the MKV profile that differ from its defaults (as source, 48 kHz,
  // stereo): 320x240, 22050 Hz, mono.
  TIniFile settings(config_.SettingsFile());
  const std::string s = ProfileSection(kMkv);
  for (const auto &[key, value] : {std::pair{"iVideoSize", "0"},
                                   {"paraVideoSize", "320x240"},
                                   {"iSampleRate", "1"},
                                   {"paraSampleRate", "22050"},
                                   {"iChannel", "1"},
                                   {"paraChannel", "1"}})
    settings.WriteString(s, key, value);
  ASSERT_EQ(window_->AddFiles({FixturePath("h264_aac.mp4")}), 1); // 176x144, 44.1 kHz stereo
  ASSERT_NE(window_->ProfileTree()->ChosenCode(), kMkv);

  WithDialog<TSettingsWindow>([&] { Button("settingsButton")->click(); },
                              [&](TSettingsWindow *d) {
                                EXPECT_EQ(d->windowTitle(), "Settings");
                                ASSERT_TRUE(d->ProfileTree()->ChooseProfile(kMkv));
                                // Choosing a profile in the dialog is not choosing it yet.
                                EXPECT_NE(TAppSettings(config_.SettingsFile()).FormatCode(), kMkv);
                                EXPECT_EQ(d->FrameSize()->currentText(), "320x240");
                                EXPECT_EQ(d->SampleRate()->currentText(), "22050");
                                EXPECT_EQ(d->Channel()->currentText(), "mono 1 channel");
                                EXPECT_TRUE(d->VideoGroup()->isEnabled());
                                QTest::mouseClick(d->DefaultButton(), Qt::LeftButton);
                                EXPECT_EQ(d->FrameSize()->currentText(), "as source");
                                EXPECT_EQ(d->SampleRate()->currentText(), "48000");
                                EXPECT_EQ(d->Zoom()->currentText(), "Full screen");
                                QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                                EXPECT_FALSE(d->isVisible());
                              });

  EXPECT_EQ(window_->ProfileTree()->ChosenCode(), kMkv);
  EXPECT_EQ(window_->ProfileTree()->Text(), "MKV - Matroska Video (*.mkv)");
  EXPECT_EQ(settings.ReadString(s, "paraVideoSize", ""), "as source");
  EXPECT_EQ(settings.ReadString(s, "iSampleRate", ""), "4");

  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  const DecodedMedia m = DecodeFile(out_.file("h264_aac_(new).mkv"));
  ASSERT_TRUE(m.opened);
  EXPECT_EQ(m.width, 176);
  EXPECT_EQ(m.height, 144);
  EXPECT_EQ(m.sampleRate, 48000);
  EXPECT_EQ(m.channels, 2);
  EXPECT_EQ(m.decodeErrors, 0);
}

TEST_F(DialogsTest, TypedValuesAreCheckedWithMessagesAndReachTheConversion) {
  TAppSettings(config_.SettingsFile()).SetFormat("MKV - Matroska Video (*.mkv)", kMkv);
  window_->ProfileTree()->Rebuild();
  ASSERT_EQ(window_->AddFiles({FixturePath("h264_aac.mp4")}), 1);
  BoxAnswerer answers;

  WithDialog<TSettingsWindow>([&] { MenuAction("Se&ttings")->trigger(); },
                              [&](TSettingsWindow *d) {
                                ASSERT_TRUE(QTest::qWaitForWindowActive(d));
                                // Never confirmed for this profile: its own defaults show, not each list's
                                // first item (the lowest volume).
                                EXPECT_EQ(d->Volume()->currentText(), "100%");
                                EXPECT_EQ(d->FrameSize()->currentText(), "as source");
                                // Refused keys: a second "x", a letter; the bit rate's letter also says why.
                                d->FrameSize()->setFocus();
                                TypeInto(d->FrameSize(), "321xx24a1");
                                EXPECT_EQ(d->FrameSize()->currentText(), "321x241");
                                TypeInto(d->VideoBitRate(), "15a00");
                                EXPECT_EQ(d->VideoBitRate()->currentText(), "1500");
                                ASSERT_EQ(answers.boxes.size(), 1u);
                                EXPECT_EQ(answers.boxes[0].text, "Please enter numerical.");
                                answers.boxes.clear();

                                // Leaving the odd size corrects it, with the message.
                                // Without a window manager nobody gives the dialog back the focus after a
                                // box.
                                d->activateWindow();
                                ASSERT_TRUE(QTest::qWaitForWindowActive(d));
                                d->FrameSize()->setFocus();
                                d->SampleRate()->setFocus();
                                ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.boxes.empty(); }, 5000));
                                EXPECT_EQ(answers.boxes[0].title, "Input Error!");
                                EXPECT_EQ(answers.boxes[0].text,
                                          "Frame Size must be a multiple of 2.\nThe correct value:320x240");
                                EXPECT_EQ(d->FrameSize()->currentText(), "320x240");

                                // An audio bit rate with a decimal point is a rate; a size without a height
                                // is not a size: OK refuses it and the list takes its second size.
                                TypeInto(d->AudioBitRate(), "12.5");
                                TypeInto(d->SampleRate(), "22050");
                                d->Channel()->setCurrentIndex(d->Channel()->findText("mono 1 channel"));
                                TypeInto(d->FrameSize(), "640x");
                                answers.boxes.clear();
                                d->OkButton()->click();
                                ASSERT_TRUE(QTest::qWaitFor([&] { return !answers.boxes.empty(); }, 5000));
                                EXPECT_EQ(answers.boxes[0].text, "Frame Size is not a valid value!");
                                EXPECT_TRUE(d->isVisible());
                                EXPECT_EQ(d->FrameSize()->currentText(), "640x480");
                                TypeInto(d->FrameSize(), "320x240");
                                d->OkButton()->click();
                                EXPECT_FALSE(d->isVisible());
                              });

  const TIniFile settings(config_.SettingsFile());
  const std::string s = ProfileSection(kMkv);
  // A typed text that is an item of the list is stored as that item; others as typed.
  EXPECT_EQ(settings.ReadString(s, "iVideoSize", ""), "0");
  EXPECT_EQ(settings.ReadString(s, "paraVideoSize", ""), "320x240");
  EXPECT_EQ(settings.ReadString(s, "iAudioBitRate", ""), "-1");
  EXPECT_EQ(settings.ReadString(s, "paraAudioBitRate", ""), "12.5");

  // The typed values come back when the dialog shows again.
  WithDialog<TSettingsWindow>([&] { MenuAction("Se&ttings")->trigger(); },
                              [&](TSettingsWindow *d) {
                                EXPECT_EQ(d->FrameSize()->currentText(), "320x240");
                                EXPECT_EQ(d->VideoBitRate()->currentText(), "1500");
                                EXPECT_EQ(d->SampleRate()->currentText(), "22050");
                              });

  ASSERT_NO_FATAL_FAILURE(ConvertAll());
  const DecodedMedia m = DecodeFile(out_.file("h264_aac_(new).mkv"));
  ASSERT_TRUE(m.opened);
  EXPECT_EQ(m.width, 320);
  EXPECT_EQ(m.height, 240);
  EXPECT_EQ(m.sampleRate, 22050);
  EXPECT_EQ(m.channels, 1);
}

TEST_F(DialogsTest, AudioProfileTurnsTheVideoGroupOffAndDefaultThenCancelWritesNothing) {
  const std::string before = ReadAll(config_.SettingsFile());
  WithDialog<TSettingsWindow>([&] { MenuAction("Se&ttings")->trigger(); },
                              [&](TSettingsWindow *d) {
                                ASSERT_TRUE(d->ProfileTree()->ChooseProfile(2400)); // MP3
                                EXPECT_FALSE(d->VideoGroup()->isEnabled());
                                EXPECT_TRUE(d->AudioGroup()->isEnabled());
                                EXPECT_EQ(d->AudioEncoder()->currentText(), "MP3");
                                QTest::mouseClick(d->DefaultButton(), Qt::LeftButton);
                                QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
                              });
  WithDialog<TPreferenceWindow>([&] { Button("preferenceButton")->click(); },
                                [&](TPreferenceWindow *d) {
                                  QTest::mouseClick(d->DefaultButton(), Qt::LeftButton);
                                  EXPECT_EQ(d->QualitySpin()->value(), 20);
                                  QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
                                });
  EXPECT_EQ(ReadAll(config_.SettingsFile()), before);
  EXPECT_NE(window_->ProfileTree()->ChosenCode(), 2400);
}

TEST_F(DialogsTest, PreferencesKeepOneSizeAndFormatAndPersistAcrossWindows) {
  TempDir other;
  WithDialog<TPreferenceWindow>([&] { Button("preferenceButton")->click(); },
                                [&](TPreferenceWindow *d) {
                                  EXPECT_EQ(d->windowTitle(), "Preference");
                                  EXPECT_EQ(d->FolderField()->text().toStdString(), snaps_.path().string());
                                  EXPECT_EQ(d->QualitySpin()->value(), 30);
                                  EXPECT_EQ(d->Priority()->checkedId(), 1);
                                  // Both sizes and both formats ticked at first; one of each always stays.
                                  QTest::mouseClick(d->FullSize(), Qt::LeftButton);
                                  QTest::mouseClick(d->SmallSize(), Qt::LeftButton);
                                  EXPECT_FALSE(d->FullSize()->isChecked());
                                  EXPECT_TRUE(d->SmallSize()->isChecked());
                                  QTest::mouseClick(d->Bmp(), Qt::LeftButton);
                                  QTest::mouseClick(d->Jpg(), Qt::LeftButton);
                                  EXPECT_FALSE(d->Bmp()->isChecked());
                                  EXPECT_TRUE(d->Jpg()->isChecked());
                                  EXPECT_TRUE(d->QualitySlider()->isEnabled());
                                  d->QualitySlider()->setValue(55);
                                  EXPECT_EQ(d->QualitySpin()->value(), 55);
                                  d->QualitySpin()->setValue(65);
                                  EXPECT_EQ(d->QualitySlider()->value(), 65);
                                  d->Priority()->button(3)->click();
                                  d->SetSnapshotFolder(other.path().string()); // Brows: written at once
                                  QTest::mouseClick(d->OpenButton(), Qt::LeftButton);
                                  QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                                });
  ASSERT_EQ(actions_.opened.size(), 1u);
  EXPECT_EQ(actions_.opened[0], other.path().string());

  window_.reset();
  ASSERT_NO_FATAL_FAILURE(OpenWindow());
  WithDialog<TPreferenceWindow>([&] { Button("preferenceButton")->click(); },
                                [&](TPreferenceWindow *d) {
                                  EXPECT_EQ(d->FolderField()->text().toStdString(), other.path().string());
                                  EXPECT_FALSE(d->FullSize()->isChecked());
                                  EXPECT_TRUE(d->SmallSize()->isChecked());
                                  EXPECT_FALSE(d->Bmp()->isChecked());
                                  EXPECT_TRUE(d->Jpg()->isChecked());
                                  EXPECT_EQ(d->QualitySpin()->value(), 65);
                                  EXPECT_EQ(d->QualitySlider()->value(), 65);
                                  EXPECT_EQ(d->Priority()->checkedId(), 3);
                                });
  const TAppSettings settings(config_.SettingsFile());
  EXPECT_EQ(settings.JpgCmp(), 65);
  EXPECT_EQ(settings.Priority(), 3);
  EXPECT_FALSE(settings.SnapBmp());
  EXPECT_TRUE(settings.SnapSmallSize());
}

TEST_F(DialogsTest, FileInformationShowsTheProbesValuesForVideoAndAudioOnlyFiles) {
  QAction *info = window_->FileInformationAction();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->text(), "Video &Information");
  EXPECT_FALSE(info->isEnabled()); // no rows
  ASSERT_EQ(window_->AddFiles({FixturePath("ntsc_30000_1001.mp4"), FixturePath("audio_only.mp3"),
                               FixturePath("vp8_vorbis.webm")}),
            3);
  EXPECT_TRUE(info->isEnabled());

  WithDialog<TFileInfoWindow>([&] { info->trigger(); },
                              [&](TFileInfoWindow *d) {
                                EXPECT_EQ(d->windowTitle(), "File information");
                                EXPECT_EQ(d->NameLabel()->text(), "ntsc_30000_1001.mp4");
                                EXPECT_TRUE(d->DurationLabel()->text().startsWith("2.0"));
                                EXPECT_TRUE(d->DurationLabel()->text().endsWith(" Second"));
                                EXPECT_EQ(d->Format()->text(), "mov,mp4,m4a,3gp,3g2,mj2");
                                EXPECT_EQ(d->Resolution()->text(), "176x144");
                                EXPECT_EQ(d->FrameRate()->text(), "29.97");
                                EXPECT_EQ(d->TotalFrames()->text(), "60");
                                EXPECT_GT(d->BitRate()->text().toInt(), 0);
                                EXPECT_EQ(d->AudioFormat()->text(), "aac");
                                EXPECT_EQ(d->SampleRate()->text(), "48000");
                                EXPECT_EQ(d->Channels()->text(), "2");
                                QTest::mouseClick(d->OkButton(), Qt::LeftButton);
                                EXPECT_FALSE(d->isVisible());
                              });

  window_->FileList()->setCurrentItem(window_->FileList()->topLevelItem(1));
  WithDialog<TFileInfoWindow>([&] { info->trigger(); },
                              [&](TFileInfoWindow *d) {
                                EXPECT_EQ(d->NameLabel()->text(), "audio_only.mp3");
                                EXPECT_TRUE(d->DurationLabel()->text().startsWith("2.0"));
                                EXPECT_EQ(d->Format()->text(), "mp3");
                                EXPECT_EQ(d->Resolution()->text(), "");
                                EXPECT_EQ(d->FrameRate()->text(), "");
                                EXPECT_EQ(d->TotalFrames()->text(), "");
                                EXPECT_EQ(d->AudioFormat()->text(), "mp3");
                                EXPECT_EQ(d->SampleRate()->text(), "44100");
                                EXPECT_EQ(d->Channels()->text(), "2");
                                EXPECT_GT(d->AudioBitRate()->text().toInt(), 0);
                              });

  // Matroska keeps no frame count: 2 s at 25 fps, estimated.
  window_->FileList()->setCurrentItem(window_->FileList()->topLevelItem(2));
  WithDialog<TFileInfoWindow>([&] { info->trigger(); },
                              [&](TFileInfoWindow *d) {
                                EXPECT_EQ(d->FrameRate()->text(), "25");
                                const QString total = d->TotalFrames()->text();
                                EXPECT_TRUE(total.endsWith(" (estimated)")) << total.toStdString();
                                EXPECT_NEAR(total.section(' ', 0, 0).toInt(), 50, 1);
                                EXPECT_EQ(d->AudioFormat()->text(), "vorbis");
                              });
}

} // namespace
