#include "app/TrimWindow.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdlib>
#include <utility>

#include "app/widgets/PlayerHost.h"
#include "app/widgets/RangeBar.h"
#include "appcore/Settings.h"

namespace tovi {

namespace {

// A press on the position bar's groove puts the thumb there (rather than paging), so a
// click picks a time as a drag does.
class TJumpToClickStyle final : public QProxyStyle {
public:
  int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                QStyleHintReturn *returnData) const override {
    if (hint == SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

QString Q(const std::string &text) { return QString::fromStdString(text); }

const char *const kZeroTime = "00:00:00";
// How long a seek may take before it is checked, how far from the wanted time the
// picture may then be (a seek lands on a key frame), and how often it is asked again.
constexpr int kSeekCheckMs = 300;
constexpr std::int64_t kSeekToleranceUs = 1500000;
constexpr int kSeekAttempts = 3;

} // namespace

TTrimWindow::TTrimWindow(std::string settingsFile, QWidget *parent)
    : QDialog(parent), settingsFile_(std::move(settingsFile)) {
  setObjectName("trimWindow");
  setWindowTitle("Trim");

  host_ = new TPlayerHost(this);
  host_->setMinimumSize(320, 180);
  host_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("positionBar");
  auto *jump = new TJumpToClickStyle;
  jump->setParent(position_);
  position_->setStyle(jump);
  position_->setEnabled(false);
  range_ = new TRangeBar(this);
  range_->setObjectName("rangeBar");

  play_ = new QPushButton("Play", this);
  pause_ = new QPushButton("Pause", this);
  stop_ = new QPushButton("Stop", this);
  startField_ = new QLineEdit(this);
  endField_ = new QLineEdit(this);
  for (QLineEdit *field : {startField_, endField_}) {
    field->setReadOnly(true); // shows what the markers chose
    field->setFixedWidth(100);
    field->setText(kZeroTime);
  }
  positionLabel_ = new QLabel(QString(kZeroTime) + " / ", this);
  durationLabel_ = new QLabel(kZeroTime, this);
  default_ = new QPushButton("&Default", this);
  ok_ = new QPushButton("Ok", this);
  cancel_ = new QPushButton("Cancel", this);
  ok_->setDefault(true);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(host_, 1);
  layout->addWidget(position_);
  layout->addWidget(range_);
  auto *controls = new QHBoxLayout;
  for (QPushButton *b : {play_, pause_, stop_})
    controls->addWidget(b);
  controls->addSpacing(16);
  controls->addWidget(new QLabel("Trim Start: ", this));
  controls->addWidget(startField_);
  controls->addWidget(new QLabel("Trim End: ", this));
  controls->addWidget(endField_);
  controls->addStretch(1);
  controls->addWidget(positionLabel_);
  controls->addWidget(durationLabel_);
  layout->addLayout(controls);
  auto *answers = new QHBoxLayout;
  answers->addWidget(default_);
  answers->addStretch(1);
  answers->addWidget(ok_);
  answers->addWidget(cancel_);
  layout->addLayout(answers);
  resize(880, 560); // a picture of about 845 x 387
  seekCheck_ = new QTimer(this);
  seekCheck_->setSingleShot(true);
  seekCheck_->setInterval(kSeekCheckMs);
  connect(seekCheck_, &QTimer::timeout, this, &TTrimWindow::CheckSeek);

  connect(play_, &QPushButton::clicked, this, &TTrimWindow::Play);
  connect(pause_, &QPushButton::clicked, this, [this] { player_.Pause(); });
  connect(stop_, &QPushButton::clicked, this, &TTrimWindow::StopPlayer);
  connect(default_, &QPushButton::clicked, this, &TTrimWindow::Default);
  connect(ok_, &QPushButton::clicked, this, &TTrimWindow::accept);
  connect(cancel_, &QPushButton::clicked, this, &TTrimWindow::reject);
  connect(range_, &TRangeBar::MarkerMoved, this, &TTrimWindow::OnMarkerMoved);
  connect(range_, &TRangeBar::MarkerReleased, this, [this](int, int value) {
    {
      const QSignalBlocker block(position_);
      position_->setValue(value);
    }
    SeekToPosition();
  });
  // Keys and clicks on the position bar seek at once; a drag seeks when let go.
  connect(position_, &QSlider::valueChanged, this, [this] {
    if (!position_->isSliderDown()) SeekToPosition();
  });
  connect(position_, &QSlider::sliderReleased, this, &TTrimWindow::SeekToPosition);

  player_.SetOnFileOpen([this](TCustomPlayer *, std::int64_t duration, int, int, int &, int &) {
    InGuiThread([this, duration] { OnFileOpen(duration); });
  });
  player_.SetOnPosition(
      [this](TCustomPlayer *, std::int64_t pts) { InGuiThread([this, pts] { OnPosition(pts); }); });
  player_.SetOnState(
      [this](TCustomPlayer *, TPlayState state) { InGuiThread([this, state] { OnState(state); }); });
  // Failing here is only noted: Begin tries again and reports.
  if (!player_.LibrariesLoaded()) player_.LoadLibraries("");
}

TTrimWindow::~TTrimWindow() {
  // The picture window goes with the widgets: the player must be done with it first.
  player_.SetOnFileOpen(nullptr);
  player_.SetOnPosition(nullptr);
  player_.SetOnState(nullptr);
  player_.Stop(true);
}

template <class F> void TTrimWindow::InGuiThread(F &&work) {
  if (QThread::currentThread() == thread())
    work();
  else
    QMetaObject::invokeMethod(this, std::forward<F>(work), Qt::QueuedConnection);
}

void TTrimWindow::Begin(const TlvFilesRecord &record, const std::string &file) {
  file_ = file;
  record_ = record;
  placeMarkers_ = true;
  outcome_ = {};
  durationUs_ = durationSeconds_ = 0;
  range_->SetMaximum(0);
  position_->setEnabled(false);
  positionLabel_->setText(QString(kZeroTime) + " / ");
  durationLabel_->setText(kZeroTime);
  ShowMarkers();
  open();
  if (!OpenPlayer())
    QMessageBox::warning(this, "Warning", "Cannot play " + Q(file) + ": " + Q(player_.LastErrorText()));
}

bool TTrimWindow::OpenPlayer() {
  if (!player_.LibrariesLoaded() && !player_.LoadLibraries("")) return false;
  // OnFileOpen runs inside Open and sets the duration and the bars.
  const bool opened = player_.Open(file_, host_->Handle(), false);
  stopped_ = !opened;
  play_->setEnabled(!opened);
  pause_->setEnabled(opened);
  stop_->setEnabled(opened);
  position_->setEnabled(opened);
  if (!opened) host_->ShowIdle();
  return opened;
}

void TTrimWindow::Play() {
  if (stopped_) {
    OpenPlayer();
    return;
  }
  player_.Resume();
}

void TTrimWindow::StopPlayer() {
  seekCheck_->stop();
  if (player_.IsPaused()) player_.Resume();
  player_.Stop(true);
  stopped_ = true;
  {
    const QSignalBlocker block(position_);
    position_->setValue(0);
  }
  position_->setEnabled(false);
  positionLabel_->setText(QString(kZeroTime) + " / ");
  host_->ShowIdle();
}

void TTrimWindow::Default() {
  range_->SetValues(0, static_cast<int>(durationSeconds_));
  startField_->setText(kZeroTime);
  endField_->setText(Q(LongTimeText(durationUs_)));
}

void TTrimWindow::ShowMarkers() {
  startField_->setText(Q(ShortTimeText(range_->Start())));
  endField_->setText(Q(ShortTimeText(range_->End())));
}

void TTrimWindow::OnMarkerMoved(int, int value) {
  ShowMarkers();
  const QSignalBlocker block(position_); // the seek follows when the marker is let go
  position_->setValue(value);
}

void TTrimWindow::SeekToPosition() {
  if (stopped_ || durationUs_ <= 0) return;
  wantedSeekUs_ = SliderSeekTarget(position_->value(), position_->maximum(), durationUs_);
  player_.Seek(0, false, wantedSeekUs_);
  seekChecks_ = 0;
  seekCheck_->start();
}

void TTrimWindow::CheckSeek() {
  if (stopped_ || wantedSeekUs_ < 0) return;
  std::int64_t shownUs = -1;
  player_.CurrentFrame(shownUs); // the picture on screen (paused or not)
  if (shownUs >= 0 && std::llabs(shownUs - wantedSeekUs_) <= kSeekToleranceUs) return;
  if (++seekChecks_ > kSeekAttempts) return; // e.g. key frames far apart: leave it there
  player_.Seek(0, false, wantedSeekUs_);
  seekCheck_->start();
}

void TTrimWindow::OnFileOpen(std::int64_t durationUs) {
  durationUs_ = std::max<std::int64_t>(durationUs, 0);
  durationSeconds_ = RoundedSeconds(durationUs_);
  durationLabel_->setText(Q(ShortTimeText(durationSeconds_)));
  const int maximum = static_cast<int>(durationSeconds_);
  {
    const QSignalBlocker block(position_);
    position_->setRange(0, maximum);
    position_->setValue(0);
    position_->setPageStep(std::max(maximum / 10, 1));
  }
  // A reopen after Stop keeps the markers the user has set.
  range_->SetMaximum(maximum);
  if (placeMarkers_) {
    placeMarkers_ = false;
    const TTrimMarkers markers = MarkersFromRecord(record_, durationSeconds_);
    range_->SetValues(static_cast<int>(markers.StartSeconds), static_cast<int>(markers.EndSeconds));
    ShowMarkers();
  }
  player_.SetMute(TAppSettings(settingsFile_).Mute());
  position_->setEnabled(true);
}

void TTrimWindow::OnPosition(std::int64_t ptsUs) {
  positionLabel_->setText(Q(ShortTimeText(RoundedSeconds(ptsUs))) + " / ");
  if (position_->isSliderDown() || range_->Dragging()) return; // the user is choosing a time
  const QSignalBlocker block(position_);
  position_->setValue(SliderPosition(ptsUs, durationUs_, position_->maximum()));
}

void TTrimWindow::OnState(TPlayState state) {
  switch (state) {
  case psPlay:
  case psResume:
  case psStep:
    play_->setEnabled(false);
    pause_->setEnabled(true);
    stop_->setEnabled(true);
    break;
  case psPause:
    play_->setEnabled(true);
    pause_->setEnabled(false);
    break;
  case psStop:
    stopped_ = true;
    play_->setEnabled(true);
    pause_->setEnabled(false);
    stop_->setEnabled(false);
    position_->setEnabled(false);
    host_->ShowIdle();
    break;
  case psEnd:
    // Back to the beginning, paused: Play starts the file again.
    play_->setEnabled(true);
    pause_->setEnabled(false);
    player_.Seek(0, false, 0);
    player_.Pause();
    break;
  }
}

void TTrimWindow::accept() {
  const TTrimOutcome outcome = TrimFromRange(range_->Start(), range_->End(), durationSeconds_);
  if (outcome.Kind == TTrimOutcome::tkRefuse) {
    QMessageBox::warning(this, "Warning", Q(outcome.Message));
    return;
  }
  outcome_ = outcome;
  QDialog::accept();
}

void TTrimWindow::done(int result) {
  // The picture window is hidden next: the player must not draw into it any more.
  if (!stopped_) StopPlayer();
  QDialog::done(result);
}

} // namespace tovi
