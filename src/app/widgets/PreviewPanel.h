// The main window's preview area: the preview player's picture in a black panel, the
// buttons Previous, Play, Pause, Step, Stop, Next, Snapshot and Mute, the position
// slider with the position and duration texts, and the volume slider. Volume and mute
// are kept in the settings file; snapshots go to the snapshot folder.
//
// The panel owns the preview player. The file list stays the main window's: the panel
// reaches it through TPreviewList.
//
// Threads: everything here runs in the GUI thread. The player raises OnFileOpen inside
// Open (GUI thread) and OnPosition/OnState through the main-thread dispatcher; without a
// dispatcher installed they come on the player's event thread and are handed to the GUI
// thread as queued calls carrying their values.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "player/Player.h"

class QLabel;
class QPushButton;
class QSlider;

namespace tovi {

class ICompletionActions;
class TPlayerHost;
class TSeekSlider;

// What the panel needs of the file list.
struct TPreviewList {
  std::function<int()> RowCount;
  // The selected row, -1 when none.
  std::function<int()> SelectedRow;
  // Selects `row` and scrolls it into view.
  std::function<void(int)> SelectRow;
  std::function<std::string(int)> FileOf;
  // The Add command (its dialog); returns when the add is over.
  std::function<void()> AddFiles;
};

class TPreviewPanel final : public QWidget {
  Q_OBJECT
public:
  // `actions` opens the snapshot folder; it and the settings file outlive the panel.
  TPreviewPanel(const std::string &settingsFile, ICompletionActions &actions, TPreviewList list,
                QWidget *parent = nullptr);
  // Stops the player and waits for it.
  ~TPreviewPanel() override;

  // ---- the commands ----
  void Play();
  void Pause();
  void Step();
  void Stop();
  void Previous();
  void Next();
  void Snapshot();
  void ToggleMute();
  // The list's selection changed: Previous and Next follow it.
  void UpdatePreviousNext();
  // Sets the volume slider and the mute button from the settings file (at first show
  // and whenever another window may have changed them).
  void LoadVolumeAndMute();
  // Stops playing and detaches the player's events (the window is closing).
  void Shutdown();

  // ---- for tests, screenshots and benchmarks ----
  TFFPlayer &Player() { return player_; }
  TPlayerHost *Host() const { return host_; }
  QPushButton *PlayButton() const { return play_; }
  QPushButton *PauseButton() const { return pause_; }
  QPushButton *StepButton() const { return step_; }
  QPushButton *StopButton() const { return stop_; }
  QPushButton *PreviousButton() const { return previous_; }
  QPushButton *NextButton() const { return next_; }
  QPushButton *SnapshotButton() const { return snapshot_; }
  QPushButton *MuteButton() const { return mute_; }
  QSlider *PositionSlider() const;
  QSlider *VolumeSlider() const { return volume_; }
  QLabel *PositionLabel() const { return positionText_; }
  QLabel *DurationLabel() const { return durationText_; }
  bool PreviewPaused() const { return previewPaused_; }
  std::int64_t PreviewDuration() const { return previewDuration_; }
  // The files the last snapshot wrote.
  const std::vector<std::string> &LastSnapshotFiles() const { return lastSnapshot_; }

signals:
  // GUI thread, after the position label and slider took a new position.
  void PositionShown(std::int64_t positionUs);
  // GUI thread, after the panel handled a state the player raised.
  void StateHandled(TPlayState state);

private:
  void EnterIdle(bool firstShow);
  void OpenRow(int row);
  void ShowMuted(bool muted);
  // The player's events, GUI thread.
  void OnFileOpen(std::int64_t durationUs, int frameWidth, int frameHeight, int &screenWidth,
                  int &screenHeight);
  void OnPosition(std::int64_t positionUs);
  void OnState(TPlayState state);
  void SeekTo(int sliderValue);

  std::string settingsFile_;
  ICompletionActions &actions_;
  TPreviewList list_;
  TFFPlayer player_;
  bool librariesLoaded_ = false;
  std::int64_t previewDuration_ = 0; // of the file open now, microseconds; 0 = unknown
  bool previewPaused_ = false;       // the user paused with Pause (or Step)
  bool sliderDragging_ = false;      // the position slider is held; positions do not move it
  bool hostChosen_ = false;          // the panel's size goes to the player (set at the first Play)
  std::vector<std::string> lastSnapshot_;

  TPlayerHost *host_;
  QPushButton *previous_, *play_, *pause_, *step_, *stop_, *next_, *snapshot_, *mute_;
  TSeekSlider *position_;
  QSlider *volume_;
  QLabel *positionText_, *durationText_;
};

} // namespace tovi
