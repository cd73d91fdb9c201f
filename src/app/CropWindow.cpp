#include "app/CropWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <utility>

#include "app/widgets/PlayerHost.h"
#include "app/widgets/RectTracker.h"
#include "appcore/Settings.h"
#include "converter/AVProbe.h"

namespace tovi {
namespace {

// The previews' ground: colour 15780518 of the settings' BGR notation.
const QColor kPreviewGround(0xA6, 0xCA, 0xF0);
constexpr int kRefreshMs = 100;

enum TMarginField { mfUp, mfLeft, mfRight, mfDown };

struct TEffectRange {
  const char *label;
  int minimum, maximum, neutral;
};
constexpr TEffectRange kEffects[4] = {{"Brightness:", 0, 512, 255},
                                      {"Contrast:", -100, 100, 0},
                                      {"Saturation:", 0, 512, 255},
                                      {"Exposure:", -255, 512, 0}};

QRect ToQt(const TPictureRect &r) { return {r.Left, r.Top, r.Width, r.Height}; }
TPictureRect ToPicture(const QRect &r) { return {r.x(), r.y(), r.width(), r.height()}; }

// Runs `call` in `target`'s thread: at once when already there, else queued (dropped if
// the target is gone by then).
template <class Call> void InThreadOf(QObject *target, Call call) {
  if (QThread::currentThread() == target->thread())
    call();
  else
    QMetaObject::invokeMethod(target, std::move(call), Qt::QueuedConnection);
}

} // namespace

TCropPicture::TCropPicture(QWidget *parent) : QWidget(parent) {
  setFixedSize(TCropWindow::kPreviewWidth, TCropWindow::kPreviewHeight);
}

void TCropPicture::SetPicture(QImage picture, const TPictureRect &where) {
  picture_ = std::move(picture);
  where_ = where;
  update();
}

void TCropPicture::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), kPreviewGround);
  if (!picture_.isNull() && !where_.Empty()) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(ToQt(where_), picture_);
  }
}

TCropWindow::TCropWindow(TlvFilesRecord &record, std::string sourceFile, std::string settingsFile,
                         QWidget *parent)
    : QDialog(parent), record_(record), sourceFile_(std::move(sourceFile)),
      settingsFile_(std::move(settingsFile)) {
  setObjectName("cropWindow");
  setWindowTitle("Crop");
  BuildLayout();
  LoadFromRecord();

  // The player's events: in the GUI thread through the main-thread dispatcher; should
  // they come on a player thread (no dispatcher installed), they are queued to it.
  player_.SetOnFileOpen([this](TCustomPlayer *, std::int64_t duration, int, int, int &, int &) {
    InThreadOf(this, [this, duration] { OnFileOpen(duration); });
  });
  player_.SetOnPosition(
      [this](TCustomPlayer *, std::int64_t pts) { InThreadOf(this, [this, pts] { OnPosition(pts); }); });
  player_.SetOnState(
      [this](TCustomPlayer *, TPlayState state) { InThreadOf(this, [this, state] { OnState(state); }); });

  connect(tracker_, &TRectTracker::RectChanged, this, &TCropWindow::TrackerMoved);
  refresh_ = new QTimer(this);
  refresh_->setInterval(kRefreshMs);
  connect(refresh_, &QTimer::timeout, this, &TCropWindow::Refresh);
}

TCropWindow::~TCropWindow() { ShutDown(); }

void TCropWindow::BuildLayout() {
  auto *layout = new QVBoxLayout(this);
  auto *previews = new QHBoxLayout;
  sourceView_ = new TCropPicture(this);
  sourceView_->setObjectName("sourcePreview");
  tracker_ = new TRectTracker(sourceView_);
  tracker_->SetMinimumExtent(kMinTrackerExtent);
  tracker_->hide();
  outputView_ = new TCropPicture(this);
  outputView_->setObjectName("outputPreview");
  previews->addWidget(sourceView_);
  previews->addWidget(outputView_);
  layout->addLayout(previews);
  // The player draws into this panel, which is never shown: the dialog shows the
  // hooked frames instead.
  host_ = new TPlayerHost(this);
  host_->setFixedSize(kPreviewWidth, kPreviewHeight);
  host_->hide();

  auto *transport = new QHBoxLayout;
  play_ = new QPushButton("Play", this);
  pause_ = new QPushButton("Pause", this);
  stop_ = new QPushButton("Stop", this);
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("positionBar");
  timeLabel_ = new QLabel(this);
  durationLabel_ = new QLabel(this);
  volume_ = new QSlider(Qt::Horizontal, this);
  volume_->setRange(0, MAX_AUDIO_VOLUME);
  volume_->setFixedWidth(90);
  mute_ = new QPushButton("Mute", this);
  mute_->setCheckable(true);
  for (QPushButton *b : {play_, pause_, stop_})
    transport->addWidget(b);
  transport->addWidget(position_, 1);
  transport->addWidget(timeLabel_);
  transport->addWidget(durationLabel_);
  transport->addWidget(new QLabel("Volume:", this));
  transport->addWidget(volume_);
  transport->addWidget(mute_);
  layout->addLayout(transport);

  pages_ = new QTabWidget(this);
  cropPage_ = new QWidget(pages_);
  auto *crop = new QGridLayout(cropPage_);
  const char *marginLabels[4] = {"Up:", "Left:", "Right:", "Down:"};
  for (int i = 0; i < 4; ++i) {
    marginFields_[i] = new QSpinBox(cropPage_);
    marginFields_[i]->setRange(0, 9999);
    crop->addWidget(new QLabel(marginLabels[i], cropPage_), i / 2, (i % 2) * 2);
    crop->addWidget(marginFields_[i], i / 2, (i % 2) * 2 + 1);
  }
  auto *cropReset = new QPushButton("Reset", cropPage_);
  crop->addWidget(cropReset, 2, 3);
  // The fields only show the margins: the tracker and Default change them.
  cropPage_->setEnabled(false);

  auto *effectPage = new QWidget(pages_);
  auto *effects = new QGridLayout(effectPage);
  for (int i = 0; i < 4; ++i) {
    effectSliders_[i] = new QSlider(Qt::Horizontal, effectPage);
    effectFields_[i] = new QSpinBox(effectPage);
    effectSliders_[i]->setRange(kEffects[i].minimum, kEffects[i].maximum);
    effectFields_[i]->setRange(kEffects[i].minimum, kEffects[i].maximum);
    effects->addWidget(new QLabel(kEffects[i].label, effectPage), i, 0);
    effects->addWidget(effectSliders_[i], i, 1);
    effects->addWidget(effectFields_[i], i, 2);
    // Each bar and its field mirror each other; setting an equal value emits nothing,
    // so the pair does not loop.
    connect(effectSliders_[i], &QSlider::valueChanged, effectFields_[i], &QSpinBox::setValue);
    connect(effectFields_[i], &QSpinBox::valueChanged, effectSliders_[i], &QSlider::setValue);
    connect(effectFields_[i], &QSpinBox::valueChanged, this, [this] { dirty_ = true; });
  }
  auto *effectReset = new QPushButton("Reset", effectPage);
  effects->addWidget(effectReset, 4, 2);
  // Carried through for the record; never shown.
  zoom_ = new QComboBox(effectPage);
  zoom_->addItems({"Full screen", "Letterbox"});
  zoom_->hide();
  processText_ = new QCheckBox("Process  Added Text", effectPage);
  processImage_ = new QCheckBox("Process  Added Image", effectPage);
  processText_->hide();
  processImage_->hide();
  pages_->addTab(cropPage_, "Crop");
  pages_->addTab(effectPage, "Effect");
  pages_->setCurrentWidget(effectPage);
  layout->addWidget(pages_);

  auto *buttons = new QHBoxLayout;
  default_ = new QPushButton("&Default", this);
  ok_ = new QPushButton("Ok", this);
  cancel_ = new QPushButton("Cancel", this);
  ok_->setDefault(true);
  buttons->addWidget(default_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);

  connect(play_, &QPushButton::clicked, this, &TCropWindow::Play);
  connect(pause_, &QPushButton::clicked, this, [this] { player_.Pause(); });
  connect(stop_, &QPushButton::clicked, this, &TCropWindow::Stop);
  connect(position_, &QSlider::sliderPressed, this, [this] { seeking_ = true; });
  connect(position_, &QSlider::sliderReleased, this, [this] {
    seeking_ = false;
    if (!stopped_)
      player_.Seek(0, false, TimeForBarPosition(position_->value(), position_->maximum(), durationUs_));
  });
  connect(volume_, &QSlider::valueChanged, this, [this](int v) {
    player_.SetAudioVolume(v);
    TAppSettings(settingsFile_).SetVolume(v);
  });
  connect(mute_, &QPushButton::toggled, this, [this](bool on) {
    player_.SetMute(on);
    TAppSettings(settingsFile_).SetMute(on);
  });
  connect(cropReset, &QPushButton::clicked, this, &TCropWindow::ResetCrop);
  connect(default_, &QPushButton::clicked, this, &TCropWindow::ResetCrop);
  connect(effectReset, &QPushButton::clicked, this, &TCropWindow::ResetEffects);
  connect(ok_, &QPushButton::clicked, this, [this] {
    WriteRecord();
    accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TCropWindow::LoadFromRecord() {
  ShowMargins({record_.CropTopShown, record_.CropLeftShown, record_.CropBottomShown, record_.CropRightShown});
  // Until a picture is known the source margins stay as recorded, so Ok on a file
  // that cannot be played keeps the two kinds of margins consistent.
  sourceMargins_ = {record_.CropTop, record_.CropLeft, record_.CropBottom, record_.CropRight};
  const int values[4] = {record_.Brightness, record_.Contrast, record_.Saturation, record_.Exposure};
  for (int i = 0; i < 4; ++i)
    effectFields_[i]->setValue(values[i]);
  zoom_->setCurrentIndex(ZoomListIndex(record_.ZoomMode));
  processText_->setChecked(record_.ProcessText);
  processImage_->setChecked(record_.ProcessImage);
  TAppSettings settings(settingsFile_);
  const QSignalBlocker blockVolume(volume_), blockMute(mute_);
  volume_->setValue(settings.Volume());
  mute_->setChecked(settings.Mute());
  timeLabel_->setText("00:00:00");
  durationLabel_->setText("00:00:00");
}

void TCropWindow::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  // After the window is up, so that a slow file open does not hold its first paint.
  QTimer::singleShot(0, this, &TCropWindow::Start);
}

void TCropWindow::Start() {
  play_->setEnabled(false);
  pause_->setEnabled(false);
  stop_->setEnabled(false);
  position_->setEnabled(false);
  if (sourceFile_.empty()) return;
  OpenSource();
  if (stopped_) return;

  TAVProbe &probe = player_.Probe();
  TVideoStreamInfo info;
  hasVideo_ = probe.VideoStreamCount() >= 1 &&
              probe.GetVideoStreamInfo(probe.FirstVideoStreamIndex(), info) && info.Width > 0 &&
              info.Height > 0;
  if (!hasVideo_) {
    tracker_->hide();
    ShowMargins({});
    sourceMargins_ = {};
    for (QSpinBox *f : marginFields_)
      f->setEnabled(false);
    for (int i = 0; i < 4; ++i) {
      effectSliders_[i]->setEnabled(false);
      effectFields_[i]->setEnabled(false);
    }
    processText_->setEnabled(false);
    processImage_->setEnabled(false);
  } else {
    sourceWidth_ = info.Width;
    sourceHeight_ = info.Height;
    picture_ = FitPictureInBox(sourceWidth_, sourceHeight_, kPreviewWidth, kPreviewHeight);
    tracker_->SetBounds(ToQt(picture_));
    tracker_->SetRect(ToQt(TrackerFromMargins(picture_, ShownMargins(), kMinTrackerExtent)));
    tracker_->show();
    TrackerMoved();
  }
  // The source size is known; the probe is not consulted again.
  probe.CloseFile();
  refresh_->start();
}

void TCropWindow::OpenSource() {
  bool opened = false;
  try {
    if (player_.LibrariesLoaded() || player_.LoadLibraries("")) {
      relay_.Clear();
      relay_.Attach(player_);
      stopped_ = false;
      paused_ = false;
      opened = player_.Open(sourceFile_, host_->Handle(), false);
    }
  } catch (const std::exception &) {
    opened = false;
  }
  if (!opened) {
    relay_.Detach();
    stopped_ = true;
    play_->setEnabled(false);
    pause_->setEnabled(false);
    return;
  }
  play_->setEnabled(false);
  pause_->setEnabled(true);
  stop_->setEnabled(true);
  position_->setEnabled(true);
}

void TCropWindow::ShutDown() {
  refresh_->stop();
  // Handlers first: nothing reaches the dialog while the player winds down.
  player_.SetOnFileOpen(nullptr);
  player_.SetOnPosition(nullptr);
  player_.SetOnState(nullptr);
  relay_.Detach();
  player_.Stop(true);
}

void TCropWindow::done(int result) {
  ShutDown();
  QDialog::done(result);
}

TCropMargins TCropWindow::ShownMargins() const {
  return {marginFields_[mfUp]->value(), marginFields_[mfLeft]->value(), marginFields_[mfDown]->value(),
          marginFields_[mfRight]->value()};
}

TPictureAdjustments TCropWindow::Adjustments() const {
  return {effectFields_[0]->value(), effectFields_[1]->value(), effectFields_[2]->value(),
          effectFields_[3]->value()};
}

void TCropWindow::ShowMargins(const TCropMargins &shown) {
  marginFields_[mfUp]->setValue(shown.Top);
  marginFields_[mfLeft]->setValue(shown.Left);
  marginFields_[mfRight]->setValue(shown.Right);
  marginFields_[mfDown]->setValue(shown.Bottom);
}

void TCropWindow::TrackerMoved() {
  const TCropMargins shown = MarginsFromTracker(picture_, ToPicture(tracker_->Rect()));
  ShowMargins(shown);
  sourceMargins_ = ScaleMarginsToSource(shown, picture_, sourceWidth_, sourceHeight_);
  dirty_ = true;
}

void TCropWindow::ResetCrop() {
  if (!hasVideo_) return;
  tracker_->SetRect(ToQt(picture_));
  TrackerMoved();
}

void TCropWindow::ResetEffects() {
  for (int i = 0; i < 4; ++i)
    effectFields_[i]->setValue(kEffects[i].neutral);
  processText_->setChecked(false);
  processImage_->setChecked(false);
}

void TCropWindow::WriteRecord() {
  const TCropMargins shown = ShownMargins();
  record_.CropTopShown = shown.Top;
  record_.CropLeftShown = shown.Left;
  record_.CropBottomShown = shown.Bottom;
  record_.CropRightShown = shown.Right;
  record_.CropTop = sourceMargins_.Top;
  record_.CropBottom = sourceMargins_.Bottom;
  record_.CropLeft = sourceMargins_.Left;
  record_.CropRight = sourceMargins_.Right;
  record_.ZoomMode = ZoomModeForIndex(zoom_->currentIndex(), record_.ZoomMode);
  const TPictureAdjustments a = Adjustments();
  record_.Brightness = a.Brightness;
  record_.Contrast = a.Contrast;
  record_.Saturation = a.Saturation;
  record_.Exposure = a.Exposure;
  record_.ProcessText = processText_->isChecked();
  record_.ProcessImage = processImage_->isChecked();
}

void TCropWindow::Refresh() {
  std::int64_t pts = -1;
  QImage frame = relay_.LatestFrame(&pts);
  if (frame.isNull()) return;
  const bool newFrame = frame.cacheKey() != shownFrameKey_;
  if (!newFrame && !dirty_) return;
  shownFrameKey_ = frame.cacheKey();
  dirty_ = false;
  QImage output = MakeOutputPreview(frame, sourceMargins_, Adjustments());
  const TPictureRect fitted = FitPictureInBox(output.width(), output.height(), kPreviewWidth, kPreviewHeight);
  if (newFrame) sourceView_->SetPicture(std::move(frame), picture_);
  outputView_->SetPicture(std::move(output), fitted);
  ++outputCount_;
  outputPts_ = pts;
}

void TCropWindow::Play() {
  if (paused_) {
    player_.Resume();
  } else if (stopped_) {
    OpenSource();
  }
}

void TCropWindow::Stop() {
  if (paused_) player_.Resume();
  player_.Stop(true);
  stopped_ = true;
  paused_ = false;
  position_->setValue(0);
  timeLabel_->setText("00:00:00");
  durationLabel_->setText("00:00:00");
  play_->setEnabled(true);
  pause_->setEnabled(false);
  stop_->setEnabled(false);
  position_->setEnabled(false);
}

void TCropWindow::OnFileOpen(std::int64_t durationUs) {
  durationUs_ = durationUs;
  durationLabel_->setText(QString::fromStdString(ClockText(durationUs)));
  position_->setRange(0, std::max(position_->width(), 1));
  player_.SetAudioVolume(volume_->value());
  player_.SetMute(TAppSettings(settingsFile_).Mute());
}

void TCropWindow::OnPosition(std::int64_t pts) {
  timeLabel_->setText(QString::fromStdString(ClockText(pts)));
  if (!seeking_) position_->setValue(BarPositionForTime(position_->maximum(), pts, durationUs_));
}

void TCropWindow::OnState(TPlayState state) {
  switch (state) {
  case psPlay:
  case psResume:
    paused_ = false;
    play_->setEnabled(false);
    pause_->setEnabled(true);
    break;
  case psPause:
    paused_ = true;
    play_->setEnabled(true);
    pause_->setEnabled(false);
    break;
  case psStop:
    stopped_ = true;
    paused_ = false;
    play_->setEnabled(true);
    pause_->setEnabled(false);
    stop_->setEnabled(false);
    position_->setEnabled(false);
    break;
  case psEnd:
    // The last picture stays shown; Play opens the file again from its start. (Seeking
    // back and pausing at the end, then resuming, can leave the player waiting on its
    // picture queue, so the end is treated as a stop.)
    stopped_ = true;
    paused_ = false;
    play_->setEnabled(true);
    pause_->setEnabled(false);
    break;
  case psStep: break;
  }
}

} // namespace tovi
