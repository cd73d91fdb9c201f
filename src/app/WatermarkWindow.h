// The "Water Mark" dialog: the selected file's text and picture watermarks over a
// playing preview of the file. The list on the left (Add Text, Add Image, Delete, Up,
// Down) with the selected item's position, transparency, time range, font and
// background; on the right the layer view, where each watermark is dragged and resized
// over the frame, with the preview's position bar, Play and Pause. Ok writes the list
// into the file's record; Cancel leaves the record as it was.
//
// Threads: GUI thread. The player plays into a hidden panel; its frames come through a
// TPlayerFrameRelay (copied on the player's video thread, shown in the GUI thread), and
// its events are delivered in the GUI thread.
#pragma once

#include <QDialog>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "appcore/FileRecord.h"
#include "appcore/WatermarkList.h"
#include "player/Player.h"

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSlider;

namespace tovi {

class TLayerView;
class TRangeBar;
class TPlayerFrameRelay;
class TPlayerHost;

// The time range of the selected item: start and end thumbs in whole seconds, each
// with a read-only time field and arrow buttons that move it by one second; the end is
// never before the start. A stand-in for a two-thumb range bar.
class TTimeRangeControls final : public QWidget {
  Q_OBJECT
public:
  explicit TTimeRangeControls(QWidget *parent = nullptr);
  void SetMaximum(int seconds);
  void SetRange(int start, int end); // no Changed
  int Start() const;
  int End() const;
  TRangeBar *Bar() const { return bar_; }
  QPushButton *Arrow(bool endThumb, bool up) const;

signals:
  // The user moved a marker (on the bar or with an arrow button).
  void Changed(int start, int end);

private:
  void Moved();
  void ShowTimes();

  TRangeBar *bar_;
  QLineEdit *startField_, *endField_;
  QPushButton *arrows_[2][2]; // [end marker][up]
};

class TWatermarkWindow final : public QDialog {
  Q_OBJECT
public:
  // Edits `record` (written only at Ok). With `play` the record's source file is played
  // in the dialog; without, the dialog edits the list with no picture. `helpPage` is the
  // address "&Help" opens; `settingsFile` holds the "mute" choice.
  TWatermarkWindow(TlvFilesRecord &record, bool play, const std::string &helpPage,
                   const std::string &settingsFile, QWidget *parent = nullptr);
  ~TWatermarkWindow() override;

  // ---- for tests and screenshots ----
  QListWidget *List() const { return lines_; }
  TLayerView *View() const { return view_; }
  QPushButton *Button(const QString &text) const; // by its caption, "&" left out
  QLineEdit *TextEditor() const { return editor_; }
  QSlider *HorizontalBar() const { return horizontal_; }
  QSlider *VerticalBar() const { return vertical_; }
  QSlider *TransparencyBar() const { return transparency_; }
  QSlider *PositionBar() const { return position_; }
  TTimeRangeControls *Range() const { return range_; }
  QComboBox *FontColorList() const { return fontColor_; }
  QComboBox *BackColorList() const { return backColor_; }
  QRadioButton *TransparentChoice() const { return transparentChoice_; }
  const TWatermarkList &Items() const { return list_; }
  std::int64_t FramePts() const { return framePts_; }
  bool FileOpen() const { return durationUs_ > 0; }
  // Replaces the file dialog of Add Image (tests answer without a nested dialog loop).
  void SetPictureChooser(std::function<std::string()> chooser) { pictureChooser_ = std::move(chooser); }

public slots:
  void done(int result) override;

private:
  void BuildLayout();
  void OpenFile();
  void OnFileOpened(std::int64_t durationUs, int frameWidth, int frameHeight);
  void OnState(TPlayState state);
  void OnFrame();
  void AddText();
  void AddImage();
  // The picture file for Add Image: the file dialog, or the chooser a test installed;
  // empty when cancelled.
  std::string ChoosePictureFile();
  void DeleteItem();
  void MoveItem(bool up);
  void SelectItem(int index);
  void EditText(int index);
  void LoadControls();
  void EnableControls();
  void ApplyStyle();
  void RebuildLayers();
  void UpdateLayer(int index);
  void ShowLayersAt(std::int64_t pts);
  void RefreshLine(int index);
  int Current() const;
  int DurationSeconds() const;
  void StopPlayer();

  TlvFilesRecord &record_;
  TWatermarkList list_;
  const bool playFile_;
  const std::string helpPage_;
  const std::string settingsFile_;
  std::int64_t durationUs_ = 0;
  std::int64_t framePts_ = -1;
  int frameWidth_ = 0, frameHeight_ = 0;
  bool loading_ = false;  // the controls are being filled from an item: no write-back
  bool dragging_ = false; // the user holds the position bar
  bool stopped_ = false;  // the player has been stopped for good

  QListWidget *lines_;
  QLineEdit *editor_;
  QSlider *horizontal_, *vertical_, *transparency_;
  QLineEdit *horizontalField_, *verticalField_, *transparencyField_;
  TTimeRangeControls *range_;
  std::function<std::string()> pictureChooser_; // null: the file dialog
  QComboBox *fontColor_, *fontSize_, *backColor_;
  QFontComboBox *font_;
  QCheckBox *bold_, *italic_, *underline_, *strikeOut_;
  QRadioButton *backChoice_, *transparentChoice_;
  TLayerView *view_;
  TPlayerHost *host_;
  QSlider *position_;
  QLabel *timeLabel_, *durationLabel_;
  QPushButton *play_, *pause_;
  std::unique_ptr<TFFPlayer> player_;
  std::unique_ptr<TPlayerFrameRelay> relay_;
};

} // namespace tovi
