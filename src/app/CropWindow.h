// The "Crop" dialog: cuts margins off a file's picture with a rectangle tracker over
// the playing source, and sets brightness, contrast, saturation and exposure. The left
// preview shows the source with the tracker, the right one what the conversion will
// write: the kept part with the adjustments applied. Ok writes the margins (preview and
// even source pixels), the adjustments, the zoom entry and the two carried flags into
// the file's record; Cancel and closing write nothing.
//
// Threads: the dialog lives in the GUI thread. Its player decodes on threads of its own
// and plays into a hidden panel; the player's state, position and file-open events come
// in the GUI thread (the player's default), its frame hook on the video thread, where
// the frame relay copies the picture under its lock for the GUI thread. A 100 ms timer
// redraws both previews from the newest copy.
#pragma once

#include <QDialog>
#include <QImage>

#include <cstdint>
#include <string>

#include "appcore/CropGeometry.h"
#include "appcore/CropPreview.h"
#include "appcore/FileRecord.h"
#include "player/Player.h"
#include "ui/PlayerFrameRelay.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;

namespace tovi {

class TPlayerHost;
class TRectTracker;

// A preview box: the light blue ground and a picture drawn stretched into a rectangle.
class TCropPicture final : public QWidget {
public:
  explicit TCropPicture(QWidget *parent);
  void SetPicture(QImage picture, const TPictureRect &where);
  const QImage &Picture() const { return picture_; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  QImage picture_;
  TPictureRect where_;
};

class TCropWindow final : public QDialog {
  Q_OBJECT
public:
  // Edits `record` (written only by Ok), playing `sourceFile`; an empty name leaves the
  // dialog empty (nothing to play). The settings file holds the preview volume and
  // mute. `record` must outlive the dialog.
  TCropWindow(TlvFilesRecord &record, std::string sourceFile, std::string settingsFile,
              QWidget *parent = nullptr);
  ~TCropWindow() override;

  static constexpr int kPreviewWidth = 420, kPreviewHeight = 303;
  // Neither side of the crop rectangle gets shorter than this many preview pixels.
  static constexpr int kMinTrackerExtent = 10;

  // ---- for tests, screenshots and measurements ----
  TRectTracker *Tracker() const { return tracker_; }
  TCropPicture *SourcePreview() const { return sourceView_; }
  TCropPicture *OutputPreview() const { return outputView_; }
  // The fitted source picture inside the left preview (the tracker's bounds).
  TPictureRect PictureRect() const { return picture_; }
  TCropMargins ShownMargins() const;
  TCropMargins SourceMargins() const { return sourceMargins_; }
  TPictureAdjustments Adjustments() const;
  QSlider *EffectSlider(int index) const { return effectSliders_[index]; } // 0 brightness .. 3 exposure
  QSpinBox *EffectField(int index) const { return effectFields_[index]; }
  QTabWidget *Pages() const { return pages_; }
  QPushButton *OkButton() const { return ok_; }
  QPushButton *CancelButton() const { return cancel_; }
  QPushButton *DefaultButton() const { return default_; }
  QPushButton *PlayButton() const { return play_; }
  QPushButton *PauseButton() const { return pause_; }
  QPushButton *StopButton() const { return stop_; }
  TCustomPlayer &Player() { return player_; }
  // Output previews drawn since the dialog opened.
  int OutputPreviewCount() const { return outputCount_; }
  // The pts of the frame the output preview was last made from (-1 before the first).
  std::int64_t OutputPreviewPts() const { return outputPts_; }

  void done(int result) override;

protected:
  void showEvent(QShowEvent *event) override;

private:
  void BuildLayout();
  void Start();
  void OpenSource();
  void ShutDown();
  void LoadFromRecord();
  void WriteRecord();
  void ShowMargins(const TCropMargins &shown);
  void TrackerMoved();
  void ResetCrop();
  void ResetEffects();
  void Refresh();
  void Play();
  void Stop();
  // Player events, GUI thread.
  void OnFileOpen(std::int64_t durationUs);
  void OnPosition(std::int64_t pts);
  void OnState(TPlayState state);

  TlvFilesRecord &record_;
  std::string sourceFile_;
  std::string settingsFile_;
  TFFPlayer player_;
  TPlayerFrameRelay relay_;
  bool started_ = false;
  bool hasVideo_ = false;
  bool stopped_ = true;
  bool paused_ = false;
  bool seeking_ = false; // the user holds the position bar
  bool dirty_ = true;    // margins or adjustments changed since the last output preview
  std::int64_t durationUs_ = 0;
  int sourceWidth_ = 0, sourceHeight_ = 0;
  TPictureRect picture_;
  TCropMargins sourceMargins_;
  qint64 shownFrameKey_ = 0;
  int outputCount_ = 0;
  std::int64_t outputPts_ = -1;

  TCropPicture *sourceView_, *outputView_;
  TRectTracker *tracker_;
  TPlayerHost *host_;
  QTimer *refresh_ = nullptr;
  QPushButton *play_, *pause_, *stop_, *mute_;
  QSlider *position_, *volume_;
  QLabel *timeLabel_, *durationLabel_;
  QTabWidget *pages_;
  QWidget *cropPage_;
  QSpinBox *marginFields_[4]; // up, left, right, down
  QSlider *effectSliders_[4];
  QSpinBox *effectFields_[4];
  QComboBox *zoom_;
  QCheckBox *processText_, *processImage_;
  QPushButton *default_, *ok_, *cancel_;
};

} // namespace tovi
