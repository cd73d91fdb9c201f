#include "app/SettingsWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

#include "app/widgets/ProfileTreeBox.h"
#include "appcore/ProfileDisplay.h"
#include "appcore/Settings.h"
#include "appcore/SizeTarget.h"

namespace tovi {
namespace {

constexpr const char *kFieldProperty = "toviTypedField";
const QStringList kZoomLabels{"Full screen", "Letterbox", "Pan and Scan"};
const char *const kZoomValues[] = {"full", "lbox", "pan"};

QString Q(const std::string &text) { return QString::fromStdString(text); }

QComboBox *NewList(QWidget *parent, const char *name, bool editable) {
  auto *box = new QComboBox(parent);
  box->setObjectName(name);
  box->setEditable(editable);
  // A typed value is a value of its own, never a new item of the list.
  box->setInsertPolicy(QComboBox::NoInsert);
  box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  box->setMinimumContentsLength(10);
  return box;
}

// The list `watched` is (or whose text field it is), with the kind of its typed field.
// An editable list is the focus proxy of its text field: the keys and the focus changes
// of the user reach the list, which hands them to the field directly, past any filter.
QComboBox *TypedBox(QObject *watched, TTypedField *field) {
  const QVariant kind = watched->property(kFieldProperty);
  if (!kind.isValid()) return nullptr;
  *field = static_cast<TTypedField>(kind.toInt());
  if (auto *box = qobject_cast<QComboBox *>(watched)) return box;
  return qobject_cast<QComboBox *>(watched->parent());
}

void Fill(QComboBox *box, const TChoice &choice) {
  const QSignalBlocker block(box);
  box->clear();
  for (const std::string &item : choice.Items)
    box->addItem(Q(item));
  box->setMaxVisibleItems(std::max(1, box->count())); // the drop-down shows every item
  box->setEnabled(!choice.Items.empty());
  if (choice.Position >= 0 && choice.Position < box->count()) {
    box->setCurrentIndex(choice.Position);
  } else {
    box->setCurrentIndex(box->isEditable() ? -1 : box->findText(Q(choice.Text)));
    if (box->isEditable()) box->setEditText(Q(choice.Text));
  }
}

TChoice Read(const QComboBox *box, const TChoice &shown) {
  TChoice c;
  c.Items = shown.Items;
  c.Position = box->currentIndex();
  c.Text = box->currentText().toStdString();
  return c;
}

} // namespace

TSettingsWindow::TSettingsWindow(const TGlobalObject &global, QWidget *parent)
    : QDialog(parent), global_(global) {
  setWindowTitle("Settings");
  setObjectName("settingsWindow");
  setModal(true);
  resize(475, 370);

  auto *layout = new QVBoxLayout(this);
  auto *profileRow = new QHBoxLayout;
  profileRow->addWidget(new QLabel("Profile:", this));
  tree_ = new TProfileTreeBox(global_.SettingsFile(), this);
  tree_->SetWritesChoice(false);
  profileRow->addWidget(tree_, 1);
  layout->addLayout(profileRow);

  videoGroup_ = new QGroupBox("Video Options", this);
  auto *video = new QFormLayout(videoGroup_);
  videoSize_ = NewList(videoGroup_, "frameSize", true);
  videoEncoder_ = NewList(videoGroup_, "videoEncoder", false);
  videoBitRate_ = NewList(videoGroup_, "videoBitRate", true);
  frameRate_ = NewList(videoGroup_, "frameRate", false);
  zoom_ = NewList(videoGroup_, "zoom", false);
  zoom_->addItems(kZoomLabels);
  video->addRow("Frame Size:", videoSize_);
  video->addRow("Encoder:", videoEncoder_);
  video->addRow("BitRate (Kbps):", videoBitRate_);
  video->addRow("FrameRate (Fps):", frameRate_);
  video->addRow("Zoom:", zoom_);
  targetSize_ = new QLineEdit(videoGroup_);
  targetSize_->setObjectName("targetSize");
  targetSize_->setPlaceholderText("none (e.g. 25M, 700K)");
  targetSize_->setToolTip("The output is made at most this size (M = 1,048,576 bytes); empty: no target");
  video->addRow("Size target:", targetSize_);

  audioGroup_ = new QGroupBox("Audio Options", this);
  auto *audio = new QFormLayout(audioGroup_);
  sampleRate_ = NewList(audioGroup_, "sampleRate", true);
  audioEncoder_ = NewList(audioGroup_, "audioEncoder", false);
  channel_ = NewList(audioGroup_, "channel", false);
  audioBitRate_ = NewList(audioGroup_, "audioBitRate", true);
  volume_ = NewList(audioGroup_, "volume", false);
  audio->addRow("SampleRate (Hz):", sampleRate_);
  audio->addRow("Encoder:", audioEncoder_);
  audio->addRow("Channel:", channel_);
  audio->addRow("BitRate (Kbps):", audioBitRate_);
  audio->addRow("Volume:", volume_);

  auto *groups = new QHBoxLayout;
  groups->addWidget(videoGroup_);
  groups->addWidget(audioGroup_);
  layout->addLayout(groups, 1);

  for (const auto &[box, field] : {std::pair{videoSize_, TTypedField::tfFrameSize},
                                   std::pair{videoBitRate_, TTypedField::tfVideoBitRate},
                                   std::pair{sampleRate_, TTypedField::tfSampleRate},
                                   std::pair{audioBitRate_, TTypedField::tfAudioBitRate}}) {
    for (QWidget *w : {static_cast<QWidget *>(box), static_cast<QWidget *>(box->lineEdit())}) {
      w->setProperty(kFieldProperty, static_cast<int>(field));
      w->installEventFilter(this);
    }
  }

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

  connect(tree_, &TProfileTreeBox::ProfileChosen, this, &TSettingsWindow::ChooseProfile);
  connect(default_, &QPushButton::clicked, this, &TSettingsWindow::OnDefault);
  connect(ok_, &QPushButton::clicked, this, &TSettingsWindow::OnOk);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TSettingsWindow::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return; // the window manager re-showing it, not a new showing
  tree_->Rebuild();
  ChooseProfile(tree_->ChosenCode());
}

void TSettingsWindow::ChooseProfile(int code) {
  pendingCode_ = code;
  pendingName_ = ShownProfileName(code);
  ShowChoices(
      LoadUserChoices(TIniFile(global_.SettingsFile()), TIniFile(global_.ProfileFile()), pendingCode_));
}

void TSettingsWindow::ShowChoices(const TProfileChoices &c) {
  shown_ = c;
  const std::pair<QComboBox *, const TChoice *> lists[] = {
      {videoSize_, &c.VideoSize}, {videoEncoder_, &c.VideoEncoder}, {videoBitRate_, &c.VideoBitRate},
      {frameRate_, &c.FrameRate}, {sampleRate_, &c.SampleRate},     {audioEncoder_, &c.AudioEncoder},
      {channel_, &c.Channel},     {audioBitRate_, &c.AudioBitRate}, {volume_, &c.Volume}};
  for (const auto &[box, choice] : lists)
    Fill(box, *choice);
  zoom_->setCurrentIndex(-1);
  for (int i = 0; i < 3; ++i)
    if (c.Zoom == kZoomValues[i]) zoom_->setCurrentIndex(i);
  targetSize_->setText(Q(c.TargetSize));
  // A profile without a video (audio) encoder has no video (audio) to set: the whole
  // group is off, drawn grey.
  videoGroup_->setEnabled(VideoOptionsEnabled(c));
  audioGroup_->setEnabled(AudioOptionsEnabled(c));
}

TProfileChoices TSettingsWindow::CurrentChoices() const {
  TProfileChoices c;
  c.VideoSize = Read(videoSize_, shown_.VideoSize);
  c.VideoEncoder = Read(videoEncoder_, shown_.VideoEncoder);
  c.VideoBitRate = Read(videoBitRate_, shown_.VideoBitRate);
  c.FrameRate = Read(frameRate_, shown_.FrameRate);
  c.SampleRate = Read(sampleRate_, shown_.SampleRate);
  c.AudioEncoder = Read(audioEncoder_, shown_.AudioEncoder);
  c.Channel = Read(channel_, shown_.Channel);
  c.AudioBitRate = Read(audioBitRate_, shown_.AudioBitRate);
  c.Volume = Read(volume_, shown_.Volume);
  const int zoom = zoom_->currentIndex();
  c.Zoom = zoom >= 0 && zoom < 3 ? kZoomValues[zoom] : "";
  if (VideoOptionsEnabled(shown_)) c.TargetSize = targetSize_->text().trimmed().toStdString();
  return c;
}

bool TSettingsWindow::CheckField(QComboBox *box) {
  TTypedField field{};
  if (!box->isEnabled() || !TypedBox(box, &field)) return true;
  const TFieldCheck check = CheckTypedField(field, box->currentText().toStdString());
  if (check.Result == TFieldCheck::TResult::Accepted) return true;
  checking_ = true; // the message box takes the focus: that is not leaving the field again
  QMessageBox::warning(this, Q(check.Title), Q(check.Message));
  checking_ = false;
  if (check.Result == TFieldCheck::TResult::Corrected) {
    box->setEditText(Q(check.Value));
    return true;
  }
  if (box->count() > 1) box->setCurrentIndex(1);
  return false;
}

bool TSettingsWindow::eventFilter(QObject *watched, QEvent *event) {
  TTypedField field{};
  QComboBox *box = TypedBox(watched, &field);
  if (!box) return QDialog::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress) {
    const auto *key = static_cast<QKeyEvent *>(event);
    const QString text = key->text();
    // Editing and moving keys carry no printable text and always pass.
    if (text.size() != 1 || !text[0].isPrint() || (key->modifiers() & Qt::ControlModifier)) return false;
    QLineEdit *edit = box->lineEdit();
    QString remaining = edit->text();
    if (edit->hasSelectedText()) remaining.remove(edit->selectionStart(), edit->selectedText().size());
    const char ch = text[0].unicode() < 128 ? static_cast<char>(text[0].unicode()) : '\0';
    if (TypedKeyAccepted(field, remaining.toStdString(), ch)) return false;
    QApplication::beep();
    const std::string message = RefusedKeyMessage(field);
    if (!message.empty()) {
      checking_ = true;
      QMessageBox::warning(this, "Warning", Q(message));
      checking_ = false;
    }
    return true;
  }
  if (event->type() == QEvent::FocusOut && !checking_ && isVisible()) {
    // Leaving the field is moving to another control of the dialog; opening the list's
    // drop-down, switching to another window or closing the dialog is not.
    const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
    if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason) CheckField(box);
  }
  return false;
}

void TSettingsWindow::OnDefault() {
  TProfileChoices c = DefaultChoices(TIniFile(global_.ProfileFile()), pendingCode_);
  ShowChoices(c);
}

void TSettingsWindow::OnOk() {
  // A field that still holds an invalid text (it never lost the focus) is not stored.
  for (QComboBox *box : {videoSize_, videoBitRate_, sampleRate_, audioBitRate_})
    if (!CheckField(box)) return;
  std::string why;
  if (videoGroup_->isEnabled() && !ParseSizeTarget(targetSize_->text().toStdString(), &why) && !why.empty()) {
    QMessageBox::warning(this, "Input Error!", Q(why));
    targetSize_->setFocus();
    return;
  }
  TAppSettings settings(global_.SettingsFile());
  ConfirmOutputSettings(settings, TIniFile(global_.ProfileFile()), pendingCode_, pendingName_,
                        CurrentChoices());
  tree_->SaveTreeState();
  accept();
}

} // namespace tovi
