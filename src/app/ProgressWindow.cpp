#include "app/ProgressWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "appcore/GlobalObject.h"
#include "appcore/Settings.h"
#include "converter/Converter.h"

namespace tovi {
namespace {

const QColor kPreviewGround(166, 202, 240);
constexpr QSize kPreviewSize(372, 210);

} // namespace

TPreviewPicture::TPreviewPicture(QWidget *parent) : QWidget(parent) {
  setObjectName("preview");
  setMinimumSize(kPreviewSize);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TPreviewPicture::SetFrame(QImage frame) {
  frame_ = std::move(frame);
  update();
}

void TPreviewPicture::Clear() {
  frame_ = QImage();
  update();
}

void TPreviewPicture::Draw(QPainter &p, QSize size) const {
  p.fillRect(QRect(QPoint(0, 0), size), kPreviewGround);
  if (frame_.isNull()) return;
  const TPreviewRect r = FitPreviewRect(size.width(), size.height(), frame_.width(), frame_.height());
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top), frame_);
}

void TPreviewPicture::paintEvent(QPaintEvent *) {
  QPainter p(this);
  Draw(p, size());
}

QImage TPreviewPicture::Rendered() const {
  QImage image(kPreviewSize, QImage::Format_RGB888);
  QPainter p(&image);
  Draw(p, kPreviewSize);
  return image;
}

TProgressWindow::TProgressWindow(TCustomConverter &converter, std::string settingsFile, QWidget *parent)
    : QDialog(parent), converter_(converter), settingsFile_(std::move(settingsFile)) {
  setWindowTitle("Progress");
  setObjectName("progressWindow");
  setWindowModality(Qt::ApplicationModal);
  auto *layout = new QVBoxLayout(this);
  picture_ = new TPreviewPicture(this);
  layout->addWidget(picture_, 1);

  auto *labels = new QFormLayout;
  const auto value = [&](const char *caption, const char *name) {
    auto *label = new QLabel(this);
    label->setObjectName(name);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    labels->addRow(caption, label);
    return label;
  };
  time_ = value("Current Time:", "lblTime");
  length_ = value("Length:", "lblLength");
  size_ = value("File Size:", "lblSize");
  position_ = value("Progress:", "lblProgress");
  file_ = value("File:", "lblOutput");
  file_->setMinimumWidth(283);
  layout->addLayout(labels);

  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  bar_->setTextVisible(true);
  layout->addWidget(bar_);

  shutDown_ = new QCheckBox("Shut down computer after conversion", this);
  open_ = new QCheckBox("Open the output folder after conversion", this);
  layout->addWidget(shutDown_);
  layout->addWidget(open_);

  auto *buttons = new QHBoxLayout;
  snap_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), "", this);
  snap_->setToolTip("Save snapshot picture");
  pause_ = new QPushButton("Pause", this);
  resume_ = new QPushButton("Resume", this);
  cancel_ = new QPushButton("Cancel", this);
  buttons->addWidget(snap_);
  buttons->addStretch(1);
  buttons->addWidget(pause_);
  buttons->addWidget(resume_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);

  timer_ = new QTimer(this);
  timer_->setInterval(100);
  connect(timer_, &QTimer::timeout, this, [this] {
    if (!frame_.isNull() && frame_.width() > 0 && frame_.height() > 0) picture_->SetFrame(frame_);
  });
  connect(pause_, &QPushButton::clicked, this, [this] {
    converter_.Pause();
    pause_->setEnabled(false);
    resume_->setEnabled(true);
    emit PausedChanged(true);
  });
  connect(resume_, &QPushButton::clicked, this, [this] {
    converter_.Resume();
    pause_->setEnabled(true);
    resume_->setEnabled(false);
    emit PausedChanged(false);
  });
  connect(cancel_, &QPushButton::clicked, this, &QWidget::close);
  connect(snap_, &QPushButton::clicked, this, [this] { SaveSnapshots(); });
  resize(420, 460);
}

void TProgressWindow::Run() {
  for (QLabel *label : {time_, length_, size_, position_, file_})
    label->clear();
  open_->setChecked(true);
  pause_->setEnabled(true);
  resume_->setEnabled(false);
  frame_ = QImage();
  picture_->Clear();
  bar_->setValue(0);
  timer_->start();
  show();
  converter_.StartTask(1);
}

void TProgressWindow::ShowProgress(const TProgressTexts &texts) {
  if (texts.Percent) bar_->setValue(std::clamp(*texts.Percent, 0, 100));
  time_->setText(QString::fromStdString(texts.Time));
  length_->setText(QString::fromStdString(texts.Length));
  size_->setText(QString::fromStdString(texts.Size));
  position_->setText(QString::fromStdString(texts.Position));
  file_->setText(QString::fromStdString(texts.File));
}

void TProgressWindow::ShowFinished() { bar_->setValue(100); }

void TProgressWindow::SetPreviewFrame(QImage frame) { frame_ = std::move(frame); }

bool TProgressWindow::OpenFolderChecked() const { return open_->isChecked(); }
bool TProgressWindow::ShutDownChecked() const { return shutDown_->isChecked(); }

void TProgressWindow::closeEvent(QCloseEvent *event) {
  // Every close stops the run: Cancel's, and the one after the all-ended notice (which
  // finds nothing running). The wait runs queued GUI work in between, so the workers'
  // progress reports cannot deadlock it.
  stopping_ = true;
  converter_.Stop(true);
  stopping_ = false;
  timer_->stop();
  event->accept();
  // After the close has finished: what waits for the stop may close this window too.
  QMetaObject::invokeMethod(
      this, [this] { emit Stopped(); }, Qt::QueuedConnection);
}

void TProgressWindow::reject() { close(); }

void TProgressWindow::SaveSnapshots() {
  if (frame_.isNull()) return;
  const QImage full = frame_.copy();
  const QImage small = picture_->Rendered();
  TAppSettings settings(settingsFile_);
  std::string folder = settings.SnapOutPutDir();
  if (!ForceDirectories(folder)) {
    QMessageBox::warning(this, "Warning",
                         QString::fromStdString("Cannot create output directory:" + folder +
                                                ".It will create default directory " + DefaultOutputDir() +
                                                "!"));
    ForceDirectories(DefaultOutputDir());
    settings.SetSnapOutPutDir(DefaultOutputDir());
  }
  if (folder.empty() || folder.back() != '/') folder += '/';
  const int quality = settings.JpgCmp();
  const QString base = QString::fromStdString(folder);
  if (settings.SnapFullSize() && settings.SnapBmp()) full.save(base + "Snapshot_full.bmp", "BMP");
  if (settings.SnapSmallSize() && settings.SnapBmp()) small.save(base + "Snapshot_small.bmp", "BMP");
  if (settings.SnapFullSize() && settings.SnapJpg()) full.save(base + "Snapshot_full.jpg", "JPG", quality);
  if (settings.SnapSmallSize() && settings.SnapJpg()) small.save(base + "Snapshot_small.jpg", "JPG", quality);
}

} // namespace tovi
