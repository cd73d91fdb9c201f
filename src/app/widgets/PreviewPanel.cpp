#include "app/widgets/PreviewPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/widgets/PlayerHost.h"
#include "appcore/ConversionQueue.h"
#include "appcore/Settings.h"
#include "appcore/Snapshot.h"
#include "converter/AVProbe.h"
#include "media/FFmpegLogger.h"

namespace tovi {

// A slider that follows the mouse while its button is held anywhere on it (not only on
// the handle) and reports the press and the release; the owner seeks on release.
class TSeekSlider final : public QSlider {
public:
  explicit TSeekSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent) { setFocusPolicy(Qt::NoFocus); }

  std::function<void()> Pressed;
  std::function<void(int)> Released;

protected:
  void mousePressEvent(QMouseEvent *event) override {
    if (event->button() != Qt::LeftButton) return;
    if (Pressed) Pressed();
    setValue(ValueAt(event->position().toPoint().x()));
    event->accept();
  }
  void mouseMoveEvent(QMouseEvent *event) override {
    if (event->buttons() & Qt::LeftButton) setValue(ValueAt(event->position().toPoint().x()));
    event->accept();
  }
  void mouseReleaseEvent(QMouseEvent *event) override {
    if (event->button() != Qt::LeftButton) return;
    if (Released) Released(value());
    event->accept();
  }

private:
  int ValueAt(int x) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    return QStyle::sliderValueFromPosition(minimum(), maximum(), x - handle.width() / 2,
                                           width() - handle.width());
  }
};

namespace {

constexpr int kPanelWidth = 370, kPanelHeight = 240;
// After a seek the old position may still be reported once: the slider keeps the
// released position this long.
constexpr int kSeekSettleMs = 300;

// Whole seconds (negative counts as 0) as hours:minutes:seconds, e.g. "0:01:05".
QString TimeOfSeconds(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  return QString("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QChar('0'))
      .arg(seconds % 60, 2, 10, QChar('0'));
}

QString TimeOfMicroseconds(std::int64_t us) { return TimeOfSeconds(std::llround(us / 1e6)); }

const char *const kIdleTime = "00:00:00";

} // namespace

TPreviewPanel::TPreviewPanel(const std::string &settingsFile, ICompletionActions &actions, TPreviewList list,
                             QWidget *parent)
    : QWidget(parent), settingsFile_(settingsFile), actions_(actions), list_(std::move(list)) {
  setObjectName("previewPanel");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  host_ = new TPlayerHost(this);
  host_->setMinimumSize(kPanelWidth, kPanelHeight);
  // The list gets the width the window has to spare; the panel grows in height.
  host_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
  layout->addWidget(host_, 1);

  auto *timeRow = new QHBoxLayout;
  positionText_ = new QLabel(kIdleTime, this);
  positionText_->setObjectName("previewPosition");
  position_ = new TSeekSlider(this);
  position_->setObjectName("previewSlider");
  durationText_ = new QLabel(kIdleTime, this);
  durationText_->setObjectName("previewDuration");
  timeRow->addWidget(positionText_);
  timeRow->addWidget(position_, 1);
  timeRow->addWidget(durationText_);
  layout->addLayout(timeRow);

  auto *buttons = new QHBoxLayout;
  const auto button = [this, buttons](QStyle::StandardPixmap icon, const char *name, const char *tip) {
    auto *b = new QPushButton(style()->standardIcon(icon), QString(), this);
    b->setObjectName(name);
    b->setToolTip(tip);
    b->setAccessibleName(tip);
    buttons->addWidget(b);
    return b;
  };
  previous_ = button(QStyle::SP_MediaSkipBackward, "previewPrevious", "Previous");
  play_ = button(QStyle::SP_MediaPlay, "previewPlay", "Play");
  pause_ = button(QStyle::SP_MediaPause, "previewPause", "Pause");
  step_ = button(QStyle::SP_MediaSeekForward, "previewStep", "Step one frame");
  stop_ = button(QStyle::SP_MediaStop, "previewStop", "Stop");
  next_ = button(QStyle::SP_MediaSkipForward, "previewNext", "Next");
  snapshot_ = new QPushButton("Snapshot", this);
  snapshot_->setObjectName("previewSnapshot");
  snapshot_->setToolTip("Save snapshot picture");
  buttons->addWidget(snapshot_);
  buttons->addStretch(1);
  mute_ = button(QStyle::SP_MediaVolume, "previewMute", "Mute");
  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setObjectName("previewVolume");
  volume_->setRange(0, MAX_AUDIO_VOLUME);
  volume_->setFixedWidth(90);
  volume_->setToolTip("Volume");
  buttons->addWidget(volume_);
  layout->addLayout(buttons);

  connect(play_, &QPushButton::clicked, this, &TPreviewPanel::Play);
  connect(pause_, &QPushButton::clicked, this, &TPreviewPanel::Pause);
  connect(step_, &QPushButton::clicked, this, &TPreviewPanel::Step);
  connect(stop_, &QPushButton::clicked, this, &TPreviewPanel::Stop);
  connect(previous_, &QPushButton::clicked, this, &TPreviewPanel::Previous);
  connect(next_, &QPushButton::clicked, this, &TPreviewPanel::Next);
  connect(snapshot_, &QPushButton::clicked, this, &TPreviewPanel::Snapshot);
  // The mute state changes on the press, as the button shows it at once.
  connect(mute_, &QPushButton::pressed, this, &TPreviewPanel::ToggleMute);
  connect(volume_, &QSlider::valueChanged, this, [this](int value) {
    player_.SetAudioVolume(value);
    TAppSettings(settingsFile_).SetVolume(value);
  });
  position_->Pressed = [this] { sliderDragging_ = true; };
  position_->Released = [this](int value) { SeekTo(value); };

  // OnFileOpen runs inside Open, in the GUI thread. OnPosition and OnState come through
  // the main-thread dispatcher (GUI thread, the event thread waiting); without one they
  // come on the event thread and go to the GUI thread as queued calls.
  player_.SetOnFileOpen([this](TCustomPlayer *, std::int64_t duration, int fw, int fh, int &sw, int &sh) {
    OnFileOpen(duration, fw, fh, sw, sh);
  });
  player_.SetOnPosition([this](TCustomPlayer *, std::int64_t pts) {
    if (QThread::currentThread() == thread())
      OnPosition(pts);
    else
      QMetaObject::invokeMethod(
          this, [this, pts] { OnPosition(pts); }, Qt::QueuedConnection);
  });
  player_.SetOnState([this](TCustomPlayer *, TPlayState state) {
    if (QThread::currentThread() == thread())
      OnState(state);
    else
      QMetaObject::invokeMethod(
          this, [this, state] { OnState(state); }, Qt::QueuedConnection);
  });

  EnterIdle(true);
  LoadVolumeAndMute();
}

TPreviewPanel::~TPreviewPanel() { Shutdown(); }

void TPreviewPanel::Shutdown() {
  player_.SetOnFileOpen(nullptr);
  player_.SetOnPosition(nullptr);
  player_.SetOnState(nullptr);
  player_.Stop(true);
}

QSlider *TPreviewPanel::PositionSlider() const { return position_; }

void TPreviewPanel::EnterIdle(bool firstShow) {
  play_->setEnabled(true);
  for (QPushButton *b : {pause_, step_, stop_, snapshot_})
    b->setEnabled(false);
  sliderDragging_ = true; // moving the slider here is not a seek
  position_->setValue(0);
  sliderDragging_ = false;
  position_->setEnabled(false);
  positionText_->setText(kIdleTime);
  durationText_->setText(kIdleTime);
  if (firstShow) {
    previous_->setEnabled(false);
    next_->setEnabled(false);
  }
}

void TPreviewPanel::UpdatePreviousNext() {
  const int rows = list_.RowCount();
  const int row = std::max(list_.SelectedRow(), 0);
  previous_->setEnabled(row > 0);
  next_->setEnabled(row + 1 < rows);
}

void TPreviewPanel::LoadVolumeAndMute() {
  const TAppSettings settings(settingsFile_);
  {
    const QSignalBlocker block(volume_); // showing the stored value writes nothing
    volume_->setValue(settings.Volume());
  }
  player_.SetAudioVolume(volume_->value());
  ShowMuted(settings.Mute());
  player_.SetMute(settings.Mute());
}

void TPreviewPanel::ShowMuted(bool muted) {
  mute_->setIcon(style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
  mute_->setToolTip(muted ? "Sound off (press to turn it on)" : "Mute");
  mute_->setProperty("muted", muted);
}

void TPreviewPanel::ToggleMute() {
  const bool muted = !player_.Mute();
  player_.SetMute(muted);
  ShowMuted(muted);
  TAppSettings(settingsFile_).SetMute(muted);
}

void TPreviewPanel::Play() {
  UpdatePreviousNext();
  if (previewPaused_) {
    // Play after Pause resumes the file that is open, wherever the selection went.
    previewPaused_ = false;
    pause_->setEnabled(true);
    snapshot_->setEnabled(true);
    step_->setEnabled(true);
    play_->setEnabled(false);
    if (player_.IsPaused()) player_.Resume();
    return;
  }
  if (!librariesLoaded_) librariesLoaded_ = player_.LibrariesLoaded() || player_.LoadLibraries("");
  if (!librariesLoaded_) {
    TFFLogger::Instance().Log(this, llError, player_.LastErrorText());
    return;
  }
  hostChosen_ = true;
  if (list_.RowCount() == 0) {
    // Play on an empty list: Add first, then play what it added.
    list_.AddFiles();
    if (list_.RowCount() == 0) return;
  }
  int row = list_.SelectedRow();
  if (row < 0) {
    row = 0;
    list_.SelectRow(0);
  }
  OpenRow(row);
}

void TPreviewPanel::OpenRow(int row) {
  for (QPushButton *b : {stop_, play_, pause_, step_, snapshot_})
    b->setEnabled(false);
  const std::string file = list_.FileOf(row);
  const bool opened = player_.Open(file, host_->Handle(), false);
  sliderDragging_ = false;
  previewPaused_ = false;
  if (!opened) {
    player_.Stop(true);
    host_->ShowIdle();
    EnterIdle(false);
    QMessageBox::warning(this, "Warning",
                         QString::fromStdString("Cannot play " + file + ": " + player_.LastErrorText()));
    return;
  }
  // A file without a known duration cannot be sought: its slider stays off.
  position_->setEnabled(previewDuration_ > 0);
  for (QPushButton *b : {stop_, pause_, step_, snapshot_})
    b->setEnabled(true);
  play_->setEnabled(false);
}

void TPreviewPanel::Pause() {
  if (previewPaused_) return;
  if (!player_.IsPaused()) player_.Pause();
  previewPaused_ = true;
  play_->setEnabled(true);
  stop_->setEnabled(true);
  snapshot_->setEnabled(true);
  step_->setEnabled(true);
  pause_->setEnabled(false);
}

void TPreviewPanel::Step() {
  // The player shows the next picture and pauses again: the panel is paused afterwards.
  Pause();
  player_.Step();
}

void TPreviewPanel::Stop() {
  if (player_.IsPaused()) player_.Resume();
  player_.Stop(true);
  previewPaused_ = false;
  EnterIdle(false);
  host_->ShowIdle();
}

void TPreviewPanel::Previous() {
  const int row = list_.SelectedRow();
  if (row <= 0) return;
  list_.SelectRow(row - 1);
  Play();
}

void TPreviewPanel::Next() {
  const int row = list_.SelectedRow();
  if (row < 0 || row + 1 >= list_.RowCount()) return;
  list_.SelectRow(row + 1);
  Play();
}

void TPreviewPanel::OnFileOpen(std::int64_t durationUs, int frameWidth, int frameHeight, int &screenWidth,
                               int &screenHeight) {
  const std::string description = player_.Probe().FileInfoText();
  TFFLogger::Instance().Log(this, llInfo, description);
  TFFLogger::Instance().LogFmt(this, llInfo, "duration: %f, frame size: %dx%d", durationUs / 1e6, frameWidth,
                               frameHeight);
  if (hostChosen_) {
    const qreal ratio = host_->devicePixelRatioF();
    screenWidth = static_cast<int>(std::lround(host_->width() * ratio));
    screenHeight = static_cast<int>(std::lround(host_->height() * ratio));
  }
  previewDuration_ = durationUs > 0 ? durationUs : 0;
  durationText_->setText(TimeOfMicroseconds(previewDuration_));
  sliderDragging_ = true; // this move is not a seek
  position_->setRange(0, std::max(position_->width(), 1));
  position_->setSingleStep(1);
  position_->setValue(0);
  sliderDragging_ = false;
  position_->setEnabled(previewDuration_ > 0);
  player_.SetAudioVolume(volume_->value());
  player_.SetMute(TAppSettings(settingsFile_).Mute());
}

void TPreviewPanel::OnPosition(std::int64_t positionUs) {
  // Idle (after Stop or the end) the texts stay at zero, whatever the player still says.
  if (!stop_->isEnabled()) return;
  positionText_->setText(TimeOfMicroseconds(positionUs));
  // Without a duration there is no place on the slider to show.
  if (!sliderDragging_ && previewDuration_ > 0) {
    const std::int64_t value =
        static_cast<std::int64_t>(position_->maximum()) * positionUs / previewDuration_;
    position_->setValue(static_cast<int>(std::clamp<std::int64_t>(value, 0, position_->maximum())));
  }
  emit PositionShown(positionUs);
}

void TPreviewPanel::OnState(TPlayState state) {
  if (state == psEnd) {
    // The end leaves the file paused at its start, ready for Play.
    sliderDragging_ = true;
    position_->setValue(0);
    sliderDragging_ = false;
    // Paused before the seek, so that the player shows the first picture again.
    player_.Pause();
    player_.Seek(sfAny, false, 0);
    previewPaused_ = false;
    EnterIdle(false);
  }
  emit StateHandled(state);
}

void TPreviewPanel::SeekTo(int sliderValue) {
  if (previewDuration_ > 0 && position_->maximum() > 0 && position_->isEnabled()) {
    const std::int64_t target = static_cast<std::int64_t>(
        static_cast<double>(sliderValue) / position_->maximum() * static_cast<double>(previewDuration_));
    player_.Seek(0, false, target);
  }
  // Positions from before the seek may still come: the slider keeps the released place
  // a moment longer (a timer, not a sleep, so the GUI keeps running).
  QTimer::singleShot(kSeekSettleMs, this, [this] { sliderDragging_ = false; });
}

void TPreviewPanel::Snapshot() {
  lastSnapshot_.clear();
  std::int64_t pts = -1;
  const TBitmap *frame = player_.CurrentFrame(pts);
  // Before the first picture (or for a file without pictures) there is nothing to save;
  // a black file would pass for a snapshot.
  if (!frame || frame->Width() <= 0 || frame->Height() <= 0 || !frame->Bits() || pts < 0) {
    QMessageBox::information(this, "Snapshot", "No picture is shown yet: there is nothing to save.");
    return;
  }
  const QImage full =
      QImage(frame->Bits(), frame->Width(), frame->Height(), frame->RowBytes(), QImage::Format_BGR888).copy();
  const QImage small = PanelSizePicture(full, host_->size());

  TAppSettings settings(settingsFile_);
  std::string warning;
  const std::string folder = PrepareSnapshotFolder(settings, warning);
  if (!warning.empty()) QMessageBox::warning(this, "Warning", QString::fromStdString(warning));
  TSnapshotOptions options = SnapshotOptionsFrom(settings);
  options.Folder = folder;
  const TSnapshotResult result = WriteSnapshots(full, small, options);
  lastSnapshot_ = result.Written;
  if (!result.Error.empty()) QMessageBox::warning(this, "Warning", QString::fromStdString(result.Error));
  if (!result.Written.empty()) actions_.OpenOutputFolder(folder);
}

} // namespace tovi
