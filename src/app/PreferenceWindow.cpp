#include "app/PreferenceWindow.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/FolderChooser.h"
#include "appcore/ConversionQueue.h"
#include "appcore/Settings.h"

namespace tovi {
namespace {

const char *const kQualityHint =
    "Use Compression Quality to set the compression quality of the \r\nJPEG image when writing out a "
    "snapshot jpeg image. Higher compression \r\nresults in a poorer picture quality, but a smaller file "
    "size. \r\n\r\n The higher the Compression Quality value (up to a maximum of 100), \r\nthe better the "
    "image quality, but the larger the file size. \r\nThe lower the Compression Quality value (to a minimum "
    "of 1),\r\n the smaller the resulting file size, but at the expense of picture quality.";

QString Q(const std::string &text) { return QString::fromStdString(text); }

// Clicking one box of a pair off while the other is off too turns it back on: one of
// the two stays ticked.
void KeepOneTicked(QCheckBox *a, QCheckBox *b) {
  QObject::connect(a, &QCheckBox::clicked, a, [a, b](bool on) {
    if (!on && !b->isChecked()) a->setChecked(true);
  });
  QObject::connect(b, &QCheckBox::clicked, b, [a, b](bool on) {
    if (!on && !a->isChecked()) b->setChecked(true);
  });
}

} // namespace

TPreferenceWindow::TPreferenceWindow(const TGlobalObject &global, ICompletionActions &desktop,
                                     QWidget *parent)
    : QDialog(parent), global_(global), desktop_(desktop) {
  setWindowTitle("Preference");
  setObjectName("preferenceWindow");
  setModal(true);
  resize(480, 390);
  auto *layout = new QVBoxLayout(this);

  auto *snapshot = new QGroupBox("Snapshot", this);
  auto *grid = new QGridLayout(snapshot);
  grid->addWidget(new QLabel("Snapshot folder:", snapshot), 0, 0, 1, 3);
  folder_ = new QLineEdit(snapshot);
  folder_->setReadOnly(true);
  folder_->setObjectName("snapshotFolder");
  open_ = new QPushButton("&Open", snapshot);
  browse_ = new QPushButton("&Brows", snapshot);
  grid->addWidget(folder_, 1, 0, 1, 3);
  grid->addWidget(open_, 1, 3);
  grid->addWidget(browse_, 1, 4);

  grid->addWidget(new QLabel("Snapshot size:", snapshot), 2, 0);
  fullSize_ = new QCheckBox("Full Size", snapshot);
  smallSize_ = new QCheckBox("Small Size", snapshot);
  grid->addWidget(fullSize_, 2, 1);
  grid->addWidget(smallSize_, 2, 2);
  grid->addWidget(new QLabel("Snapshot format:", snapshot), 3, 0);
  bmp_ = new QCheckBox("BMP", snapshot);
  jpg_ = new QCheckBox("JPG", snapshot);
  grid->addWidget(bmp_, 3, 1);
  grid->addWidget(jpg_, 3, 2);

  grid->addWidget(new QLabel("Jpg Compression Quality:", snapshot), 4, 0);
  qualitySpin_ = new QSpinBox(snapshot);
  qualitySpin_->setRange(1, 100);
  qualitySpin_->setToolTip(kQualityHint);
  qualitySlider_ = new QSlider(Qt::Horizontal, snapshot);
  qualitySlider_->setRange(1, 100);
  grid->addWidget(qualitySpin_, 4, 1);
  grid->addWidget(qualitySlider_, 4, 2, 1, 3);
  auto *note = new QLabel("(The higher the value, the better the image quality.)", snapshot);
  grid->addWidget(note, 5, 0, 1, 5);
  layout->addWidget(snapshot);

  auto *work = new QGroupBox("Work priority", this);
  auto *radios = new QHBoxLayout(work);
  priority_ = new QButtonGroup(this);
  int id = 0;
  for (const char *caption : {"Idle", "Normal", "Lower", "Lowest"}) {
    auto *radio = new QRadioButton(caption, work);
    priority_->addButton(radio, id++);
    radios->addWidget(radio);
  }
  layout->addWidget(work);
  layout->addStretch(1);

  auto *buttons = new QHBoxLayout;
  default_ = new QPushButton("&Default", this);
  ok_ = new QPushButton("&Ok", this);
  cancel_ = new QPushButton("&Cancel", this);
  buttons->addWidget(default_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  ok_->setDefault(true);

  KeepOneTicked(fullSize_, smallSize_);
  KeepOneTicked(bmp_, jpg_);
  // The quality is for JPEG snapshots only. Connected after KeepOneTicked, so the box
  // already shows its final state.
  for (QCheckBox *box : {bmp_, jpg_})
    connect(box, &QCheckBox::clicked, this, [this] {
      qualitySpin_->setEnabled(jpg_->isChecked());
      qualitySlider_->setEnabled(jpg_->isChecked());
    });
  connect(qualitySlider_, &QSlider::valueChanged, qualitySpin_, &QSpinBox::setValue);
  connect(qualitySpin_, &QSpinBox::valueChanged, qualitySlider_, &QSlider::setValue);

  connect(open_, &QPushButton::clicked, this, &TPreferenceWindow::OpenFolder);
  connect(browse_, &QPushButton::clicked, this, &TPreferenceWindow::Browse);
  connect(default_, &QPushButton::clicked, this, [this] { ShowPreferences(DefaultPreferences()); });
  connect(ok_, &QPushButton::clicked, this, &TPreferenceWindow::OnOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TPreferenceWindow::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return; // the window manager re-showing it, not a new showing
  TAppSettings settings(global_.SettingsFile());
  ShowPreferences(LoadPreferences(settings));
}

void TPreferenceWindow::ShowPreferences(const TPreferences &p) {
  folder_->setText(Q(p.SnapFolder));
  folder_->setCursorPosition(0);
  fullSize_->setChecked(p.FullSize);
  smallSize_->setChecked(p.SmallSize);
  bmp_->setChecked(p.Bmp);
  jpg_->setChecked(p.Jpg);
  qualitySpin_->setEnabled(p.Jpg);
  qualitySlider_->setEnabled(p.Jpg);
  qualitySpin_->setValue(p.JpgQuality);
  qualitySlider_->setValue(p.JpgQuality);
  if (QAbstractButton *radio = priority_->button(p.Priority)) {
    radio->setChecked(true);
  } else if (QAbstractButton *chosen = priority_->checkedButton()) {
    priority_->setExclusive(false); // an exclusive group cannot be left with none chosen
    chosen->setChecked(false);
    priority_->setExclusive(true);
  }
}

TPreferences TPreferenceWindow::Current() const {
  TPreferences p;
  p.SnapFolder = folder_->text().toStdString();
  p.FullSize = fullSize_->isChecked();
  p.SmallSize = smallSize_->isChecked();
  p.Bmp = bmp_->isChecked();
  p.Jpg = jpg_->isChecked();
  p.JpgQuality = qualitySpin_->value();
  p.Priority = priority_->checkedId(); // -1 when none is chosen
  return p;
}

void TPreferenceWindow::SetSnapshotFolder(const std::string &folder) {
  TAppSettings settings(global_.SettingsFile());
  const TFolderChoice choice = ChooseSnapshotFolder(settings, folder, folder_->text().toStdString());
  if (!choice.Message.empty()) QMessageBox::warning(this, "Warning", Q(choice.Message));
  if (choice.Result == TFolderChoice::TResult::Written ||
      choice.Result == TFolderChoice::TResult::Substituted)
    folder_->setText(Q(choice.WrittenPath));
}

void TPreferenceWindow::Browse() {
  const std::string chosen = ChooseWritableFolder(this, folder_->text(), global_.AppTitle());
  if (!chosen.empty()) SetSnapshotFolder(chosen);
}

void TPreferenceWindow::OpenFolder() {
  const std::string folder = TAppSettings(global_.SettingsFile()).SnapOutPutDir();
  if (folder_->text().size() > 2) desktop_.OpenOutputFolder(folder);
}

void TPreferenceWindow::OnOk() {
  TAppSettings settings(global_.SettingsFile());
  SavePreferences(settings, Current());
  accept();
}

} // namespace tovi
