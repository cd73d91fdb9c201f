// The Trim window: plays one file of the list and lets the user keep a time range of
// it, chosen with the two markers of the range bar under the picture (whole seconds).
// Ok works out what the file's record stores (TrimRange.h); a range that keeps nothing
// is refused with a message and the window stays open.
//
// The window does not touch the file list: Begin takes the record to start from, and
// after Ok (the accepted signal) Outcome says what to write into the row.
//
// Threads: everything runs in the GUI thread. The player raises its events in the GUI
// thread when the Qt main-thread dispatcher is installed (as the program does); without
// it they come on the player's event thread and are posted here as queued calls.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

#include "appcore/FileRecord.h"
#include "appcore/TrimRange.h"
#include "player/Player.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace tovi {

class TPlayerHost;
class TRangeBar;

class TTrimWindow final : public QDialog {
  Q_OBJECT
public:
  TTrimWindow(std::string settingsFile, QWidget *parent);
  ~TTrimWindow() override;

  // Plays `file` and puts the markers where `record` has its range, then shows the
  // window modally to its parent (returns at once). A file that cannot be played is
  // reported in a message box; Ok then leaves the record as it is.
  void Begin(const TlvFilesRecord &record, const std::string &file);
  // After the accepted signal: what Ok decided (tkStore or tkKeep).
  const TTrimOutcome &Outcome() const { return outcome_; }

  // ---- for tests and screenshots ----
  TFFPlayer &Player() { return player_; }
  TPlayerHost *Host() const { return host_; }
  QSlider *PositionBar() const { return position_; }
  TRangeBar *RangeBar() const { return range_; }
  QPushButton *PlayButton() const { return play_; }
  QPushButton *PauseButton() const { return pause_; }
  QPushButton *StopButton() const { return stop_; }
  QPushButton *DefaultButton() const { return default_; }
  QPushButton *OkButton() const { return ok_; }
  QPushButton *CancelButton() const { return cancel_; }
  QLineEdit *StartField() const { return startField_; }
  QLineEdit *EndField() const { return endField_; }
  QLabel *PositionLabel() const { return positionLabel_; }
  QLabel *DurationLabel() const { return durationLabel_; }
  std::int64_t DurationUs() const { return durationUs_; }

public slots:
  void accept() override; // Ok: store, or refuse with a message
  void done(int result) override;

private:
  bool OpenPlayer();
  void Play();
  void StopPlayer();
  void Default();
  void ShowMarkers();
  void SeekToPosition();
  void CheckSeek();
  void OnMarkerMoved(int marker, int value);
  // Player events (GUI thread; see the class comment).
  void OnFileOpen(std::int64_t durationUs);
  void OnPosition(std::int64_t ptsUs);
  void OnState(TPlayState state);
  template <class F> void InGuiThread(F &&work);

  std::string settingsFile_;
  std::string file_;
  TFFPlayer player_;
  std::int64_t durationUs_ = 0;
  std::int64_t durationSeconds_ = 0;
  bool stopped_ = true;
  // The record's range, put on the bar once the file's duration is known.
  TlvFilesRecord record_;
  bool placeMarkers_ = false;
  // The player takes one seek at a time and drops a request made while one is pending,
  // so a quick second choice could be lost: the last wanted time is checked again later.
  std::int64_t wantedSeekUs_ = -1;
  int seekChecks_ = 0;
  QTimer *seekCheck_;
  TTrimOutcome outcome_;

  TPlayerHost *host_;
  QSlider *position_;
  TRangeBar *range_;
  QPushButton *play_, *pause_, *stop_, *default_, *ok_, *cancel_;
  QLineEdit *startField_, *endField_;
  QLabel *positionLabel_, *durationLabel_;
};

} // namespace tovi
