// The output settings dialog ("Settings"): a profile tree of its own, and for the
// profile chosen in it the frame size, video encoder, video bit rate, frame rate and
// zoom ("Video Options") and the sample rate, audio encoder, channel, audio bit rate
// and volume ("Audio Options"). The lists come from the profile file; the user's
// choices are kept in the profile's section of the settings file, which OK writes
// (with the profile as the chosen one) and the next conversion reads.
//
// Every showing reloads the controls from both files; Cancel writes nothing. GUI
// thread only.
#pragma once

#include <QDialog>

#include <string>

#include "appcore/GlobalObject.h"
#include "appcore/OutputSettings.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace tovi {

class TProfileTreeBox;

class TSettingsWindow final : public QDialog {
  Q_OBJECT
public:
  TSettingsWindow(const TGlobalObject &global, QWidget *parent);

  // The profile chosen in the dialog (written by OK only).
  int PendingFormatCode() const { return pendingCode_; }

  // ---- for tests and screenshots ----
  TProfileTreeBox *ProfileTree() const { return tree_; }
  QComboBox *FrameSize() const { return videoSize_; }
  QComboBox *VideoEncoder() const { return videoEncoder_; }
  QComboBox *VideoBitRate() const { return videoBitRate_; }
  QComboBox *FrameRate() const { return frameRate_; }
  QComboBox *Zoom() const { return zoom_; }
  QComboBox *SampleRate() const { return sampleRate_; }
  QComboBox *AudioEncoder() const { return audioEncoder_; }
  QComboBox *Channel() const { return channel_; }
  QComboBox *AudioBitRate() const { return audioBitRate_; }
  QComboBox *Volume() const { return volume_; }
  QLineEdit *TargetSize() const { return targetSize_; }
  QGroupBox *VideoGroup() const { return videoGroup_; }
  QGroupBox *AudioGroup() const { return audioGroup_; }
  QPushButton *DefaultButton() const { return default_; }
  QPushButton *OkButton() const { return ok_; }
  QPushButton *CancelButton() const { return cancel_; }

protected:
  void showEvent(QShowEvent *event) override;
  // Key filters and the checks made when a typed field loses the focus.
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void ChooseProfile(int code);
  void ShowChoices(const TProfileChoices &choices);
  TProfileChoices CurrentChoices() const;
  // Checks a typed field as leaving it does; false when its text is not valid.
  bool CheckField(QComboBox *box);
  void OnDefault();
  void OnOk();

  const TGlobalObject &global_;
  int pendingCode_ = 1;
  std::string pendingName_;
  TProfileChoices shown_; // the lists the controls hold
  bool checking_ = false; // a field check is showing its message

  TProfileTreeBox *tree_;
  QGroupBox *videoGroup_, *audioGroup_;
  QComboBox *videoSize_, *videoEncoder_, *videoBitRate_, *frameRate_, *zoom_;
  QComboBox *sampleRate_, *audioEncoder_, *channel_, *audioBitRate_, *volume_;
  QLineEdit *targetSize_;
  QPushButton *default_, *ok_, *cancel_;
};

} // namespace tovi
