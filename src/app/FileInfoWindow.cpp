#include "app/FileInfoWindow.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

#include "converter/AVProbe.h"

namespace tovi {
namespace {

QString Q(const std::string &text) { return QString::fromStdString(text); }

QLineEdit *NewField(QWidget *parent) {
  auto *field = new QLineEdit(parent);
  field->setReadOnly(true);
  return field;
}

} // namespace

TFileInfoWindow::TFileInfoWindow(QWidget *parent) : QDialog(parent) {
  setWindowTitle("File information");
  setObjectName("fileInfoWindow");
  setModal(true);
  setFixedSize(420, 460);
  auto *layout = new QVBoxLayout(this);

  auto *file = new QFormLayout;
  name_ = new QLabel(this);
  name_->setFixedWidth(270);
  duration_ = new QLabel(this);
  file->addRow("File Name:", name_);
  file->addRow("Duration:", duration_);
  layout->addLayout(file);

  auto *video = new QGroupBox("Video ", this);
  auto *videoForm = new QFormLayout(video);
  format_ = NewField(video);
  resolution_ = NewField(video);
  bitRate_ = NewField(video);
  frameRate_ = NewField(video);
  totalFrames_ = NewField(video);
  videoForm->addRow("Format:", format_);
  videoForm->addRow("Resloution:", resolution_);
  videoForm->addRow("Bit Rate:", bitRate_);
  videoForm->addRow("Frame Rate:", frameRate_);
  videoForm->addRow("Total Frame:", totalFrames_);
  layout->addWidget(video);

  auto *audio = new QGroupBox("Audio", this);
  auto *audioForm = new QFormLayout(audio);
  audioFormat_ = NewField(audio);
  audioBitRate_ = NewField(audio);
  sampleRate_ = NewField(audio);
  channels_ = NewField(audio);
  audioForm->addRow("Format:", audioFormat_);
  audioForm->addRow("Bit Rate:", audioBitRate_);
  audioForm->addRow("Sample Rate:", sampleRate_);
  audioForm->addRow("Channel:", channels_);
  layout->addWidget(audio);
  layout->addStretch(1);

  ok_ = new QPushButton("&Ok", this);
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok_, 0, Qt::AlignRight);
}

void TFileInfoWindow::ShowFile(const std::string &fileName) {
  shown_ = TFileInformation{};
  QString problem;
  try {
    TAVProbe probe;
    if (probe.LoadFile(fileName))
      shown_ = DescribeFile(probe);
    else
      problem = Q(probe.LastErrorText());
  } catch (const std::exception &e) { // the libraries are missing
    problem = QString::fromUtf8(e.what());
  }
  if (shown_.Name.empty()) shown_.Name = ShortFileName(fileName.substr(fileName.find_last_of('/') + 1));
  name_->setText(Q(shown_.Name));
  name_->setToolTip(problem.isEmpty() ? Q(fileName) : problem);
  duration_->setText(Q(shown_.Duration));
  format_->setText(Q(shown_.Format));
  resolution_->setText(Q(shown_.Resolution));
  bitRate_->setText(Q(shown_.BitRate));
  frameRate_->setText(Q(shown_.FrameRate));
  totalFrames_->setText(Q(shown_.TotalFrames));
  audioFormat_->setText(Q(shown_.AudioFormat));
  audioBitRate_->setText(Q(shown_.AudioBitRate));
  sampleRate_->setText(Q(shown_.SampleRate));
  channels_->setText(Q(shown_.Channels));
  ok_->setFocus();
}

} // namespace tovi
