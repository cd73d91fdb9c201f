#include "app/WatermarkWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStyle>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "app/widgets/LayerView.h"
#include "app/widgets/PlayerHost.h"
#include "app/widgets/RangeBar.h"
#include "appcore/Settings.h"
#include "appcore/WatermarkRenderer.h"
#include "ui/PlayerFrameRelay.h"

namespace tovi {

namespace {

constexpr int kViewWidth = 592, kViewHeight = 427;
constexpr QRgb kCropFrameColor = 0xFF008000; // the kept area of the file's crop

QString Q(const std::string &text) { return QString::fromStdString(text); }

// Whole seconds as hours:minutes:seconds, minutes and seconds with two digits (1:05:07).
QString ClockText(std::int64_t seconds) {
  seconds = std::max<std::int64_t>(0, seconds);
  return QString("%1:%2:%3")
      .arg(seconds / 3600)
      .arg(seconds / 60 % 60, 2, 10, QChar('0'))
      .arg(seconds % 60, 2, 10, QChar('0'));
}

QColor ToQColor(TColor c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }

void FillColorList(QComboBox *box) {
  for (TColor c : StandardColors()) {
    QPixmap swatch(16, 12);
    swatch.fill(ToQColor(c));
    box->addItem(QIcon(swatch), ToQColor(c).name());
  }
}

// What the layer view shows for an item: the text box or the picture as it is stamped.
QImage LayerPicture(const TWmItem &item) {
  return item.Kind == TWmRec::wkText ? TWatermarkRenderer::TextLayer(item.ToRecord())
                                     : TWatermarkRenderer::PictureLayer(item.PictureFile);
}

} // namespace

// ---- TTimeRangeControls ----

TTimeRangeControls::TTimeRangeControls(QWidget *parent) : QWidget(parent) {
  auto *grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  bar_ = new TRangeBar(this);
  bar_->setObjectName("timeRange");
  grid->addWidget(bar_, 0, 0, 1, 4);
  const char *captions[2] = {"Start time:", "End Time:"};
  for (int e = 0; e < 2; ++e) {
    grid->addWidget(new QLabel(captions[e], this), 1 + e, 0);
    QLineEdit *field = new QLineEdit(this);
    field->setReadOnly(true);
    (e ? endField_ : startField_) = field;
    grid->addWidget(field, 1 + e, 1);
    for (int up = 0; up < 2; ++up) {
      auto *arrow = new QPushButton(up ? QString::fromUtf8("\u25B2") : QString::fromUtf8("\u25BC"), this);
      arrow->setFixedWidth(28);
      arrow->setAutoRepeat(true);
      arrows_[e][up] = arrow;
      grid->addWidget(arrow, 1 + e, 2 + (1 - up));
      connect(arrow, &QPushButton::clicked, this, [this, e, up] {
        // The marker the user did not move gives way, so the range never inverts.
        const int step = up ? 1 : -1;
        if (e)
          bar_->SetValues(std::min(bar_->Start(), bar_->End() + step), bar_->End() + step);
        else
          bar_->SetValues(bar_->Start() + step, bar_->End());
        Moved();
      });
    }
  }
  connect(bar_, &TRangeBar::MarkerMoved, this, [this] { Moved(); });
  SetMaximum(0);
}

void TTimeRangeControls::SetMaximum(int seconds) {
  bar_->SetMaximum(std::max(0, seconds));
  ShowTimes();
}

void TTimeRangeControls::SetRange(int start, int end) {
  bar_->SetValues(start, std::max(start, end));
  ShowTimes();
}

int TTimeRangeControls::Start() const { return bar_->Start(); }
int TTimeRangeControls::End() const { return bar_->End(); }

QPushButton *TTimeRangeControls::Arrow(bool endThumb, bool up) const { return arrows_[endThumb][up]; }

void TTimeRangeControls::Moved() {
  ShowTimes();
  emit Changed(bar_->Start(), bar_->End());
}

void TTimeRangeControls::ShowTimes() {
  startField_->setText(ClockText(bar_->Start()));
  endField_->setText(ClockText(bar_->End()));
}

// ---- TWatermarkWindow ----

TWatermarkWindow::TWatermarkWindow(TlvFilesRecord &record, bool play, const std::string &helpPage,
                                   const std::string &settingsFile, QWidget *parent)
    : QDialog(parent), record_(record), playFile_(play), helpPage_(helpPage), settingsFile_(settingsFile),
      player_(std::make_unique<TFFPlayer>()), relay_(std::make_unique<TPlayerFrameRelay>()) {
  setObjectName("watermarkWindow");
  setWindowTitle("Water Mark");
  BuildLayout();
  list_.Load(record_);
  // A new text's style: the system's font, 26 points, blue on green, opacity 125.
  const TWmStyle style =
      DefaultWmStyle(QFontDatabase::systemFont(QFontDatabase::GeneralFont).family().toStdString());
  {
    const QSignalBlocker a(font_), b(fontSize_), c(fontColor_), d(backColor_), e(transparency_);
    font_->setCurrentFont(QFont(Q(style.Font.Name)));
    fontSize_->setCurrentIndex(style.Font.Size - 7);
    fontColor_->setCurrentIndex(StandardColorIndex(style.Font.Color));
    backColor_->setCurrentIndex(StandardColorIndex(style.BackgroundColor));
    transparency_->setValue(style.Opacity);
    transparencyField_->setText(QString::number(style.Opacity));
    backChoice_->setChecked(true);
  }
  for (int i = 0; i < list_.Count(); ++i)
    RefreshLine(i);
  RebuildLayers();
  connect(relay_.get(), &TPlayerFrameRelay::FrameReady, this, &TWatermarkWindow::OnFrame);
  if (playFile_) OpenFile();
  SelectItem(list_.Count() - 1);
  EnableControls();
}

TWatermarkWindow::~TWatermarkWindow() { StopPlayer(); }

void TWatermarkWindow::BuildLayout() {
  auto *columns = new QHBoxLayout(this);
  auto *left = new QVBoxLayout;
  auto *title = new QLabel("Watermark", this);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  left->addWidget(title);

  auto *buttons = new QHBoxLayout;
  for (const char *caption : {"Add Text", "Add Image", "Delete", "Up", "Down"}) {
    auto *b = new QPushButton(caption, this);
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  left->addLayout(buttons);
  lines_ = new QListWidget(this);
  lines_->setObjectName("watermarkList");
  lines_->setTextElideMode(Qt::ElideRight);
  lines_->setMinimumHeight(110);
  left->addWidget(lines_);
  editor_ = new QLineEdit(lines_->viewport());
  QFont editorFont = editor_->font();
  editorFont.setPointSize(11);
  editor_->setFont(editorFont);
  editor_->hide();

  auto *bars = new QGridLayout;
  const auto addBar = [&](int row, const char *caption, QSlider *&bar, QLineEdit *&field, int max) {
    bars->addWidget(new QLabel(caption, this), row, 0);
    bar = new QSlider(Qt::Horizontal, this);
    bar->setRange(0, max);
    field = new QLineEdit(this);
    field->setReadOnly(true);
    field->setFixedWidth(52);
    bars->addWidget(bar, row, 1);
    bars->addWidget(field, row, 2);
  };
  addBar(0, "Horizontal Position:", horizontal_, horizontalField_, 100);
  addBar(1, "Vertical Position:", vertical_, verticalField_, 100);
  addBar(2, "Transparency:", transparency_, transparencyField_, 255);
  left->addLayout(bars);
  left->addWidget(new QLabel("Set the period of time when a watermark will be \nshow in the video", this));
  range_ = new TTimeRangeControls(this);
  left->addWidget(range_);

  auto *fontGrid = new QGridLayout;
  fontGrid->addWidget(new QLabel("Font Color:", this), 0, 0);
  fontColor_ = new QComboBox(this);
  FillColorList(fontColor_);
  fontGrid->addWidget(fontColor_, 0, 1);
  fontGrid->addWidget(new QLabel("Font:", this), 1, 0);
  font_ = new QFontComboBox(this);
  fontGrid->addWidget(font_, 1, 1);
  fontGrid->addWidget(new QLabel("Font Size:", this), 2, 0);
  fontSize_ = new QComboBox(this);
  for (int size = 7; size <= 70; ++size)
    fontSize_->addItem(QString::number(size));
  fontGrid->addWidget(fontSize_, 2, 1);
  fontGrid->addWidget(new QLabel("Font Style:", this), 3, 0);
  auto *styles = new QHBoxLayout;
  bold_ = new QCheckBox("Bold", this);
  italic_ = new QCheckBox("Italic", this);
  underline_ = new QCheckBox("Underline", this);
  strikeOut_ = new QCheckBox("Strikeout", this);
  for (QCheckBox *c : {bold_, italic_, underline_, strikeOut_})
    styles->addWidget(c);
  fontGrid->addLayout(styles, 3, 1);
  left->addLayout(fontGrid);
  auto *background = new QGroupBox("Font background color", this);
  auto *backRow = new QHBoxLayout(background);
  backChoice_ = new QRadioButton("Background color", background);
  transparentChoice_ = new QRadioButton("Transparent", background);
  backColor_ = new QComboBox(background);
  FillColorList(backColor_);
  backRow->addWidget(backChoice_);
  backRow->addWidget(transparentChoice_);
  backRow->addWidget(backColor_);
  left->addWidget(background);
  left->addStretch(1);
  columns->addLayout(left);

  auto *right = new QVBoxLayout;
  // The player draws into a hidden panel; what the dialog shows comes from its hook.
  host_ = new TPlayerHost(this);
  host_->setFixedSize(kViewWidth, kViewHeight);
  host_->hide();
  view_ = new TLayerView(this);
  view_->setFixedSize(kViewWidth, kViewHeight);
  right->addWidget(view_);
  auto *timeRow = new QHBoxLayout;
  timeLabel_ = new QLabel("0:00:00", this);
  durationLabel_ = new QLabel("0:00:00", this);
  position_ = new QSlider(Qt::Horizontal, this);
  position_->setObjectName("previewPosition");
  timeRow->addWidget(timeLabel_);
  timeRow->addWidget(position_, 1);
  timeRow->addWidget(durationLabel_);
  right->addLayout(timeRow);
  auto *commands = new QHBoxLayout;
  play_ = new QPushButton("Play", this);
  pause_ = new QPushButton("Pause", this);
  auto *help = new QPushButton("&Help", this);
  auto *ok = new QPushButton("Ok", this);
  auto *cancel = new QPushButton("Cancel", this);
  for (QPushButton *b : {play_, pause_, help, ok, cancel})
    b->setAutoDefault(false);
  commands->addWidget(play_);
  commands->addWidget(pause_);
  commands->addStretch(1);
  commands->addWidget(help);
  commands->addWidget(ok);
  commands->addWidget(cancel);
  right->addLayout(commands);
  right->addStretch(1);
  columns->addLayout(right);
  play_->setEnabled(false);
  pause_->setEnabled(false);
  position_->setEnabled(false);

  connect(Button("Add Text"), &QPushButton::clicked, this, &TWatermarkWindow::AddText);
  connect(Button("Add Image"), &QPushButton::clicked, this, &TWatermarkWindow::AddImage);
  connect(Button("Delete"), &QPushButton::clicked, this, &TWatermarkWindow::DeleteItem);
  connect(Button("Up"), &QPushButton::clicked, this, [this] { MoveItem(true); });
  connect(Button("Down"), &QPushButton::clicked, this, [this] { MoveItem(false); });
  connect(help, &QPushButton::clicked, this, [this] {
    if (!helpPage_.empty()) QDesktopServices::openUrl(QUrl(Q(helpPage_)));
  });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(play_, &QPushButton::clicked, this, [this] {
    player_->Resume();
    play_->setEnabled(false);
    pause_->setEnabled(true);
    position_->setEnabled(true);
  });
  connect(pause_, &QPushButton::clicked, this, [this] {
    player_->Pause();
    pause_->setEnabled(false);
    play_->setEnabled(true);
  });
  connect(position_, &QSlider::sliderPressed, this, [this] { dragging_ = true; });
  connect(position_, &QSlider::sliderMoved, this, [this](int seconds) {
    if (FileOpen()) player_->Seek(sfAny, false, std::int64_t{seconds} * 1000000);
  });
  connect(position_, &QSlider::sliderReleased, this, [this] {
    dragging_ = false;
    if (FileOpen()) player_->Seek(sfAny, false, std::int64_t{position_->value()} * 1000000);
  });

  connect(lines_, &QListWidget::currentRowChanged, this, &TWatermarkWindow::SelectItem);
  connect(lines_, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem *line) { EditText(lines_->row(line)); });
  connect(editor_, &QLineEdit::textEdited, this, [this](const QString &text) {
    const int i = Current();
    if (i < 0 || list_.Item(i).Kind != TWmRec::wkText) return;
    list_.SetText(i, text.toStdString());
    RefreshLine(i);
    UpdateLayer(i);
    LoadControls();
  });
  connect(editor_, &QLineEdit::editingFinished, editor_, &QWidget::hide);
  connect(view_, &TLayerView::LayerPressed, this, [this](int index) { lines_->setCurrentRow(index); });
  connect(view_, &TLayerView::LayerGeometryChanged, this, [this](int index, const QRect &box) {
    TWmItem &item = list_.Item(index);
    item.Left = box.x();
    item.Top = box.y();
    item.Width = box.width();
    item.Height = box.height();
    if (item.Kind == TWmRec::wkText) UpdateLayer(index); // a new box redraws the text in it
    if (index == Current()) LoadControls();
  });

  const auto positionChanged = [this] {
    const int i = Current();
    if (loading_ || i < 0) return;
    TWmItem &item = list_.Item(i);
    item.Left = horizontal_->value();
    item.Top = vertical_->value();
    UpdateLayer(i);
    horizontalField_->setText(QString::number(item.Left));
    verticalField_->setText(QString::number(item.Top));
  };
  connect(horizontal_, &QSlider::valueChanged, this, positionChanged);
  connect(vertical_, &QSlider::valueChanged, this, positionChanged);
  connect(transparency_, &QSlider::valueChanged, this, [this](int value) {
    transparencyField_->setText(QString::number(value));
    const int i = Current();
    if (loading_ || i < 0) return;
    list_.Item(i).Opacity = value;
    view_->SetLayerOpacity(i, value);
  });
  connect(range_, &TTimeRangeControls::Changed, this, [this](int start, int end) {
    const int i = Current();
    if (loading_ || i < 0) return;
    list_.Item(i).Start = start;
    list_.Item(i).End = end;
    ShowLayersAt(framePts_);
  });
  for (QComboBox *box : {fontColor_, fontSize_, backColor_})
    connect(box, &QComboBox::currentIndexChanged, this, &TWatermarkWindow::ApplyStyle);
  connect(font_, &QFontComboBox::currentFontChanged, this, &TWatermarkWindow::ApplyStyle);
  for (QCheckBox *c : {bold_, italic_, underline_, strikeOut_})
    connect(c, &QCheckBox::toggled, this, &TWatermarkWindow::ApplyStyle);
  connect(backChoice_, &QRadioButton::toggled, this, &TWatermarkWindow::ApplyStyle);
}

QPushButton *TWatermarkWindow::Button(const QString &text) const {
  for (QPushButton *b : findChildren<QPushButton *>())
    if (b->text().remove('&') == text) return b;
  return nullptr;
}

int TWatermarkWindow::Current() const {
  const int i = lines_->currentRow();
  return i >= 0 && i < list_.Count() ? i : -1;
}

int TWatermarkWindow::DurationSeconds() const { return static_cast<int>(durationUs_ / 1000000); }

void TWatermarkWindow::OpenFile() {
  if (!player_->LibrariesLoaded() && !player_->LoadLibraries("")) {
    QMessageBox::warning(this, "Warning", Q(player_->LastErrorText()));
    return;
  }
  // Events come in the GUI thread (the application's dispatcher); should one arrive on a
  // player thread, it is passed on to the GUI thread.
  player_->SetOnFileOpen([this](TCustomPlayer *, std::int64_t duration, int width, int height,
                                int &screenWidth, int &screenHeight) {
    screenWidth = kViewWidth;
    screenHeight = kViewHeight;
    QMetaObject::invokeMethod(
        this, [this, duration, width, height] { OnFileOpened(duration, width, height); },
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
  });
  player_->SetOnState([this](TCustomPlayer *, TPlayState state) {
    QMetaObject::invokeMethod(
        this, [this, state] { OnState(state); },
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::QueuedConnection);
  });
  relay_->Attach(*player_);
  if (!player_->Open(record_.SourceFile, host_->Handle(), false)) {
    relay_->Detach();
    QMessageBox::warning(this, "Warning", Q(player_->LastErrorText()));
    return;
  }
  pause_->setEnabled(true);
  position_->setEnabled(true);
}

void TWatermarkWindow::OnFileOpened(std::int64_t durationUs, int frameWidth, int frameHeight) {
  durationUs_ = std::max<std::int64_t>(0, durationUs);
  frameWidth_ = frameWidth;
  frameHeight_ = frameHeight;
  durationLabel_->setText(ClockText(DurationSeconds()));
  position_->setRange(0, DurationSeconds());
  range_->SetMaximum(DurationSeconds());
  {
    const QSignalBlocker a(horizontal_), b(vertical_);
    horizontal_->setRange(0, std::max(0, frameWidth));
    vertical_->setRange(0, std::max(0, frameHeight));
  }
  view_->SetFrameSize(QSize(frameWidth, frameHeight));
  player_->SetMute(TAppSettings(settingsFile_).Mute());
  LoadControls();
}

void TWatermarkWindow::OnState(TPlayState state) {
  if (state != psEnd || stopped_) return;
  // At the end: back to the start, paused; Play plays the file again.
  {
    const QSignalBlocker block(position_);
    position_->setValue(0);
  }
  player_->Seek(sfAny, false, 0);
  player_->Pause();
  play_->setEnabled(true);
  pause_->setEnabled(false);
  position_->setEnabled(false);
}

void TWatermarkWindow::OnFrame() {
  std::int64_t pts = -1;
  QImage frame = relay_->LatestFrame(&pts);
  if (frame.isNull()) return;
  framePts_ = pts;
  timeLabel_->setText(ClockText((pts + 500000) / 1000000));
  if (!dragging_ && durationUs_ > 0) {
    const QSignalBlocker block(position_);
    position_->setValue(static_cast<int>(std::int64_t{position_->maximum()} * pts / durationUs_));
  }
  ShowLayersAt(pts);
  // The kept area of the file's crop, as a green frame on the picture.
  {
    frame = frame.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&frame);
    QPen pen{QColor::fromRgb(kCropFrameColor)};
    pen.setWidth(2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    const QRect kept(QPoint(record_.CropLeft, record_.CropTop),
                     QPoint(frame.width() - record_.CropRight - 1, frame.height() - record_.CropBottom - 1));
    painter.drawRect(kept.adjusted(1, 1, 0, 0));
  }
  view_->SetFrame(frame);
}

void TWatermarkWindow::ShowLayersAt(std::int64_t pts) {
  if (pts < 0) return; // no frame yet: every layer stays visible for placing
  const std::int64_t t = pts / 1000000;
  for (int i = 0; i < list_.Count(); ++i)
    view_->SetLayerVisible(i, list_.Item(i).Start <= t && t <= list_.Item(i).End);
}

void TWatermarkWindow::RefreshLine(int index) {
  const TWmItem &item = list_.Item(index);
  while (lines_->count() <= index)
    lines_->addItem(new QListWidgetItem);
  QListWidgetItem *line = lines_->item(index);
  line->setText(Q(item.Caption()));
  line->setIcon(style()->standardIcon(item.Kind == TWmRec::wkText ? QStyle::SP_FileDialogDetailedView
                                                                  : QStyle::SP_FileIcon));
}

void TWatermarkWindow::RebuildLayers() {
  view_->ClearLayers();
  for (int i = 0; i < list_.Count(); ++i) {
    const TWmItem &item = list_.Item(i);
    view_->InsertLayer(i, LayerPicture(item), QRect(item.Left, item.Top, item.Width, item.Height),
                       item.Opacity, item.Kind == TWmRec::wkText);
  }
  view_->SetSelected(Current());
  ShowLayersAt(framePts_);
}

void TWatermarkWindow::UpdateLayer(int index) {
  const TWmItem &item = list_.Item(index);
  view_->SetLayerPicture(index, LayerPicture(item));
  view_->SetLayerBox(index, QRect(item.Left, item.Top, item.Width, item.Height));
  view_->SetLayerOpacity(index, item.Opacity);
}

void TWatermarkWindow::AddText() {
  const TWmStyle style{
      TWmFont{font_->currentFont().family().toStdString(), fontSize_->currentIndex() + 7, bold_->isChecked(),
              italic_->isChecked(), underline_->isChecked(), strikeOut_->isChecked(),
              StandardColors()[static_cast<std::size_t>(std::max(0, fontColor_->currentIndex()))]},
      StandardColors()[static_cast<std::size_t>(std::max(0, backColor_->currentIndex()))],
      backChoice_->isChecked(), transparency_->value()};
  const QSize frame = view_->FrameSize();
  const int i = list_.AddText(style, frame.width(), frame.height(), DurationSeconds());
  RefreshLine(i);
  const TWmItem &item = list_.Item(i);
  view_->InsertLayer(i, LayerPicture(item), QRect(item.Left, item.Top, item.Width, item.Height),
                     item.Opacity);
  lines_->setCurrentRow(i);
  EnableControls();
  EditText(i);
}

std::string TWatermarkWindow::ChoosePictureFile() {
  if (pictureChooser_) return pictureChooser_();
  // Any picture Qt reads; a PNG's transparency is kept in the output.
  QFileDialog chooser(
      this, "Open", QString(),
      "Picture files (*.bmp *.png *.jpg *.jpeg *.gif *.ppm);;Bitmap files (*.bmp);;All files (*)");
  chooser.setFileMode(QFileDialog::ExistingFile);
  chooser.setOption(QFileDialog::DontUseNativeDialog, true);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return {};
  return chooser.selectedFiles().first().toStdString();
}

void TWatermarkWindow::AddImage() {
  const std::string file = ChoosePictureFile();
  if (file.empty()) return;
  const QSize frame = view_->FrameSize();
  int i = -1;
  try {
    i = list_.AddPicture(file, transparency_->value(), frame.width(), frame.height(), DurationSeconds());
  } catch (const TWatermarkError &e) {
    QMessageBox::warning(this, "Warning", e.what());
    return;
  }
  RefreshLine(i);
  const TWmItem &item = list_.Item(i);
  view_->InsertLayer(i, LayerPicture(item), QRect(item.Left, item.Top, item.Width, item.Height), item.Opacity,
                     false);
  lines_->setCurrentRow(i);
  EnableControls();
}

void TWatermarkWindow::DeleteItem() {
  const int i = Current();
  if (i < 0) return;
  editor_->hide();
  const int next = list_.Delete(i);
  view_->RemoveLayer(i);
  {
    const QSignalBlocker block(lines_);
    delete lines_->takeItem(i);
  }
  lines_->setCurrentRow(next);
  SelectItem(next);
  EnableControls();
}

void TWatermarkWindow::MoveItem(bool up) {
  const int i = Current();
  if (i < 0) return;
  const int to = up ? list_.MoveUp(i) : list_.MoveDown(i);
  if (to == i) return;
  // List order is stamping order: a line further up lies under the ones below it.
  view_->MoveLayer(i, to);
  RefreshLine(i);
  RefreshLine(to);
  lines_->setCurrentRow(to);
}

void TWatermarkWindow::SelectItem(int index) {
  if (index >= list_.Count()) index = -1;
  if (lines_->currentRow() != index) {
    const QSignalBlocker block(lines_);
    lines_->setCurrentRow(index);
  }
  view_->SetSelected(index);
  LoadControls();
  EnableControls();
}

void TWatermarkWindow::EditText(int index) {
  if (index < 0 || index >= list_.Count() || list_.Item(index).Kind != TWmRec::wkText) return;
  const QRect line = lines_->visualItemRect(lines_->item(index));
  editor_->setGeometry(21, line.y(), lines_->viewport()->width() - 25, 20);
  editor_->setText(Q(list_.Item(index).Text));
  editor_->selectAll();
  editor_->show();
  editor_->setFocus();
}

void TWatermarkWindow::LoadControls() {
  const int i = Current();
  if (i < 0) return;
  const TWmItem &item = list_.Item(i);
  loading_ = true;
  // A box outside a bar's range keeps its coordinate: the bar only shows the nearest end.
  horizontal_->setValue(item.Left);
  vertical_->setValue(item.Top);
  horizontalField_->setText(QString::number(item.Left));
  verticalField_->setText(QString::number(item.Top));
  transparency_->setValue(item.Opacity);
  range_->SetRange(item.Start, item.End);
  if (item.Kind == TWmRec::wkText) {
    fontColor_->setCurrentIndex(StandardColorIndex(item.Font.Color));
    font_->setCurrentFont(QFont(Q(item.Font.Name)));
    fontSize_->setCurrentIndex(std::clamp(item.Font.Size, 7, 70) - 7);
    bold_->setChecked(item.Font.Bold);
    italic_->setChecked(item.Font.Italic);
    underline_->setChecked(item.Font.Underline);
    strikeOut_->setChecked(item.Font.StrikeOut);
    (item.OpaqueBackground ? backChoice_ : transparentChoice_)->setChecked(true);
    backColor_->setCurrentIndex(StandardColorIndex(item.BackgroundColor));
  }
  loading_ = false;
}

void TWatermarkWindow::EnableControls() {
  const int i = Current();
  const bool any = i >= 0;
  const bool text = any && list_.Item(i).Kind == TWmRec::wkText;
  for (QWidget *w : std::initializer_list<QWidget *>{horizontal_, vertical_, transparency_, range_})
    w->setEnabled(any);
  for (QWidget *w : std::initializer_list<QWidget *>{fontColor_, font_, fontSize_, bold_, italic_, underline_,
                                                     strikeOut_, backChoice_, transparentChoice_, backColor_})
    w->setEnabled(text);
  Button("Delete")->setEnabled(any);
  Button("Up")->setEnabled(any && i > 0);
  Button("Down")->setEnabled(any && i + 1 < list_.Count());
}

void TWatermarkWindow::ApplyStyle() {
  const int i = Current();
  if (loading_ || i < 0 || list_.Item(i).Kind != TWmRec::wkText) return;
  TWmItem &item = list_.Item(i);
  item.Font.Name = font_->currentFont().family().toStdString();
  item.Font.Size = fontSize_->currentIndex() + 7;
  item.Font.Bold = bold_->isChecked();
  item.Font.Italic = italic_->isChecked();
  item.Font.Underline = underline_->isChecked();
  item.Font.StrikeOut = strikeOut_->isChecked();
  if (fontColor_->currentIndex() >= 0)
    item.Font.Color = StandardColors()[static_cast<std::size_t>(fontColor_->currentIndex())];
  if (backColor_->currentIndex() >= 0)
    item.BackgroundColor = StandardColors()[static_cast<std::size_t>(backColor_->currentIndex())];
  item.OpaqueBackground = backChoice_->isChecked();
  list_.FitTextBox(i);
  UpdateLayer(i);
}

void TWatermarkWindow::StopPlayer() {
  if (stopped_) return;
  stopped_ = true;
  relay_->Detach();
  player_->SetOnState(nullptr);
  player_->SetOnFileOpen(nullptr);
  if (player_->IsPaused()) player_->Resume();
  player_->Stop(true);
  host_->ShowIdle();
}

void TWatermarkWindow::done(int result) {
  if (result == QDialog::Accepted) list_.WriteTo(record_);
  StopPlayer();
  QDialog::done(result);
}

} // namespace tovi
