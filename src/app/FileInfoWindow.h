// The file information window ("File information"): name, duration and container of
// the file selected in the main window, with the first video stream's size, bit rate,
// frame rate and frame count and the first audio stream's codec, bit rate, sample rate
// and channels. It reads the file through a media probe of its own; the libraries are
// already loaded by the main window. GUI thread only.
#pragma once

#include <QDialog>

#include <string>

#include "appcore/FileInformation.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tovi {

class TFileInfoWindow final : public QDialog {
  Q_OBJECT
public:
  explicit TFileInfoWindow(QWidget *parent);

  // Reads `file` and fills the fields (all empty when it cannot be read, with the
  // reason in the name label's tooltip). Call before showing.
  void ShowFile(const std::string &file);
  const TFileInformation &Shown() const { return shown_; }

  // ---- for tests and screenshots ----
  QLabel *NameLabel() const { return name_; }
  QLabel *DurationLabel() const { return duration_; }
  QLineEdit *Format() const { return format_; }
  QLineEdit *Resolution() const { return resolution_; }
  QLineEdit *BitRate() const { return bitRate_; }
  QLineEdit *FrameRate() const { return frameRate_; }
  QLineEdit *TotalFrames() const { return totalFrames_; }
  QLineEdit *AudioFormat() const { return audioFormat_; }
  QLineEdit *AudioBitRate() const { return audioBitRate_; }
  QLineEdit *SampleRate() const { return sampleRate_; }
  QLineEdit *Channels() const { return channels_; }
  QPushButton *OkButton() const { return ok_; }

private:
  TFileInformation shown_;
  QLabel *name_, *duration_;
  QLineEdit *format_, *resolution_, *bitRate_, *frameRate_, *totalFrames_;
  QLineEdit *audioFormat_, *audioBitRate_, *sampleRate_, *channels_;
  QPushButton *ok_;
};

} // namespace tovi
