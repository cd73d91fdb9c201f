// The modal progress window of a conversion run: the current file's labels and bar, a
// live preview of the frames being converted, Pause, Resume, Cancel, a snapshot button
// and the two completion choices. Showing it starts the converter (one task at a time
// on a worker thread); closing it, by Cancel or after the run, stops the converter and
// waits for it. GUI thread only: the main window feeds it from its event handlers.
#pragma once

#include <QDialog>
#include <QImage>

#include <string>

#include "appcore/ProgressTexts.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace tovi {

class TCustomConverter;

// The live preview: the latest frame scaled to fit, centred on a light blue ground.
class TPreviewPicture final : public QWidget {
public:
  explicit TPreviewPicture(QWidget *parent);
  void SetFrame(QImage frame);
  void Clear();
  // What the widget shows at its 372 x 210 size (the small snapshot).
  QImage Rendered() const;

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  void Draw(QPainter &p, QSize size) const;
  QImage frame_;
};

class TProgressWindow final : public QDialog {
  Q_OBJECT
public:
  TProgressWindow(TCustomConverter &converter, std::string settingsFile, QWidget *parent);

  // Prepares the window, shows it (application-modal) and starts the converter's tasks.
  void Run();
  // One progress report of the running task; the bar moves only when the percentage is
  // known.
  void ShowProgress(const TProgressTexts &texts);
  void ShowFinished(); // the current task finished: bar at 100
  // The newest preview frame (a copy owned by the window).
  void SetPreviewFrame(QImage frame);

  bool OpenFolderChecked() const;
  bool ShutDownChecked() const;

  QPushButton *PauseButton() const { return pause_; }
  QPushButton *ResumeButton() const { return resume_; }
  QPushButton *CancelButton() const { return cancel_; }
  QPushButton *SnapButton() const { return snap_; }
  QCheckBox *OpenFolderBox() const { return open_; }
  QCheckBox *ShutDownBox() const { return shutDown_; }
  QProgressBar *Bar() const { return bar_; }
  const QImage &PreviewFrame() const { return frame_; }
  // True while a close waits for the converter to stop. The wait runs queued GUI work,
  // so notices can be handled inside it; whatever must not run there (clearing the
  // tasks) waits for Stopped.
  bool Stopping() const { return stopping_; }

signals:
  // Pause and Resume change the main window's commands too.
  void PausedChanged(bool paused);
  // A close has stopped the converter.
  void Stopped();

protected:
  void closeEvent(QCloseEvent *event) override;
  void reject() override; // Esc closes like Cancel

private:
  void SaveSnapshots();

  TCustomConverter &converter_;
  std::string settingsFile_;
  QImage frame_; // the newest preview frame
  TPreviewPicture *picture_;
  QLabel *time_, *length_, *size_, *position_, *file_;
  QProgressBar *bar_;
  QCheckBox *shutDown_, *open_;
  QPushButton *pause_, *resume_, *cancel_, *snap_;
  QTimer *timer_;
  bool stopping_ = false;
};

} // namespace tovi
