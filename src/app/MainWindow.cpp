#include "app/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>

#include "app/AboutWindow.h"
#include "app/Application.h"
#include "app/FileInfoWindow.h"
#include "app/FolderChooser.h"
#include "app/PreferenceWindow.h"
#include "app/SettingsWindow.h"
#include "app/CropWindow.h"
#include "app/ProgressWindow.h"
#include "app/TrimWindow.h"
#include "app/WatermarkWindow.h"
#include "app/widgets/FileListView.h"
#include "app/widgets/PreviewPanel.h"
#include "app/widgets/ProfileTreeBox.h"
#include "appcore/FileList.h"
#include "appcore/ProgressTexts.h"
#include "appcore/Settings.h"
#include "appcore/TrimRange.h"
#include "media/Bitmap.h"

namespace tovi {
namespace {

// The open dialog's filter, as name (patterns) pairs.
const char *const kOpenFilter =
    "All Supported Video Formats (*.AVI *.AVM *.ASF *.WMV *.AVS *.FLV *.MKV *.MOV *.3GP *.3G2 *.M4V *.MP4 "
    "*.MPG "
    "*.MPEG *.DAT *.OGM *.VOB *.RM *.RMVB *.TS *.TP *.IFO *.NSV *.SWF *.avi *.avm *.asf *.wmv *.avs *.flv "
    "*.mkv "
    "*.mov *.3gp *.3g2 *.m4v *.mp4 *.mpg *.mpeg *.dat *.ogm *.vob *.rm *.rmvb *.ts *.tp *.ifo *.nsv *.swf);;"
    "All Supported Audio Formats (*.MP3 *.AAC *.WAV *.WMA *.OGG *.CDA *.FLAC *.M4A *.MID *.MKA *.MP2 *.MPA "
    "*.MPC "
    "*.APE *.OFR *.RA *.WV *.TTA *.AC3 *.DTS *.mp3 *.aac *.wav *.wma *.ogg *.cda *.flac *.m4a *.mid *.mka "
    "*.mp2 "
    "*.mpa *.mpc *.ape *.ofr *.ra *.wv *.tta *.ac3 *.dts);;"
    "AVI files (*.avi);;MPEG4 files (*.mp4);;MPEG files (*.mpg *.mpeg);;3GP files (*.3gp *.3g2);;"
    "Itunes Video files (*.m4v);;Windows Media files (*.wmv *.asf);;Real Media files (*.rm *.rmvb);;"
    "Video CD files (*.dat);;Quick Time files (*.mov);;Flash Video files (*.flv);;Matroska Video files "
    "(*.mkv);;"
    "MJPEG Video files (*.mjpg *.mjpeg);;Animated GIF files (*.gif);;"
    "H.264/MPEG4 AVC Video files (*.mts *.m2ts);;DVD video object files (*.vob);;MPEG-1 Video files (*.mpv);;"
    "Video Transport Stream files (*.ts);;TP Video files (*.tp);;Macromedia Flash files (*.swf);;"
    "MP3 Audio files (*.mp3);;Advanced Audio Coding files (*.aac);;Monkey's Audio files (*.ape);;"
    "Ogg Vorbis Audio files (*.ogg);;Windows Media Audio files (*.wma);;MusePack Audio files (*.mpc);;"
    "MPEG Audio files (*.mpa);;MPEG-4 Audio files (*.m4a);;Matroska Audio files (*.mka);;DTS Audio files "
    "(*.dts);;"
    "Audio Codec 3 files (*.ac3);;Speex Audio files (*.spx);;Real Audio files (*.ra *.ram);;"
    "MPEG Layer II Compressed Audio files (*.mp2);;All files (*)";

QString Q(const std::string &text) { return QString::fromStdString(text); }

std::string BaseName(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

TMainWindow::TMainWindow(ICompletionActions &actions, QWidget *parent)
    : QMainWindow(parent), actions_(actions), queue_(converter_, global_) {
  setObjectName("mainWindow");
  setWindowTitle("Tovi Video Converter");
  QCoreApplication::setApplicationName(Q(global_.AppTitle()));

  // The converter's libraries; a failure is only logged: adding files tries again.
  try {
    librariesLoaded_ = converter_.LoadLibraries("");
    if (!librariesLoaded_) std::fprintf(stderr, "tovi-converter: %s\n", converter_.LastErrorText().c_str());
  } catch (const std::exception &e) {
    std::fprintf(stderr, "tovi-converter: %s\n", e.what());
  }
  converter_.SetPreviewBitmap(true);

  auto *central = new QWidget(this);
  auto *layout = new QVBoxLayout(central);
  title_ = new QLabel(Q(global_.AppTitle() + global_.VersionText()), central);
  QFont titleFont = title_->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  title_->setFont(titleFont);
  auto *website = new QPushButton("Website", central);
  auto *titleRow = new QHBoxLayout;
  titleRow->addWidget(title_, 1);
  titleRow->addWidget(website);
  layout->addLayout(titleRow);

  auto *commands = new QHBoxLayout;
  add_ = new QPushButton("Add", central);
  remove_ = new QPushButton("Remove", central);
  clear_ = new QPushButton("Clear", central);
  start_ = new QPushButton("Start", central);
  start_->setObjectName("startButton");
  for (QPushButton *b : {add_, remove_, clear_})
    commands->addWidget(b);
  commands->addStretch(1);
  commands->addWidget(start_);
  layout->addLayout(commands);

  list_ = new TFileListView(central);
  TPreviewList previewList;
  previewList.RowCount = [this] { return static_cast<int>(rows_.size()); };
  previewList.SelectedRow = [this] { return list_->indexOfTopLevelItem(list_->currentItem()); };
  previewList.SelectRow = [this](int row) { SelectRow(row); };
  previewList.FileOf = [this](int row) { return rows_.at(static_cast<std::size_t>(row)).Record.SourceFile; };
  previewList.AddFiles = [this] { AddFilesFromDialog(); };
  preview_ = new TPreviewPanel(global_.SettingsFile(), actions_, std::move(previewList), central);
  auto *listAndPreview = new QHBoxLayout;
  listAndPreview->addWidget(list_, 1);
  listAndPreview->addWidget(preview_);
  layout->addLayout(listAndPreview, 1);

  auto *bottom = new QGridLayout;
  bottom->addWidget(new QLabel("Output profile:", central), 0, 0);
  tree_ = new TProfileTreeBox(global_.SettingsFile(), central);
  auto *profileRow = new QHBoxLayout;
  profileRow->addWidget(tree_, 1);
  auto *settingsButton = new QPushButton("Settings", central);
  settingsButton->setObjectName("settingsButton");
  auto *preferenceButton = new QPushButton("Preference", central);
  preferenceButton->setObjectName("preferenceButton");
  profileRow->addWidget(settingsButton);
  profileRow->addWidget(preferenceButton);
  bottom->addLayout(profileRow, 0, 1);
  start2_ = new QPushButton("Start", central);
  bottom->addWidget(start2_, 0, 2, 1, 2);
  bottom->addWidget(new QLabel("Output folder:", central), 1, 0);
  outputField_ = new QLineEdit(central);
  outputField_->setReadOnly(true);
  outputField_->setObjectName("outputFolder");
  bottom->addWidget(outputField_, 1, 1);
  auto *browse = new QPushButton("Browse", central);
  auto *open = new QPushButton("Open", central);
  bottom->addWidget(browse, 1, 2);
  bottom->addWidget(open, 1, 3);
  bottom->setColumnStretch(1, 1);
  layout->addLayout(bottom);
  setCentralWidget(central);

  BuildMenus();
  connect(add_, &QPushButton::clicked, this, &TMainWindow::AddFilesFromDialog);
  connect(remove_, &QPushButton::clicked, this, &TMainWindow::RemoveSelected);
  connect(clear_, &QPushButton::clicked, this, &TMainWindow::ClearList);
  for (QPushButton *b : {start_, start2_})
    connect(b, &QPushButton::clicked, this, [this] { StartConversion(); });
  connect(settingsButton, &QPushButton::clicked, this, [this] {
    tree_->SaveTreeState(); // the dialog's tree opens the categories this one has open
    OpenSettings();
  });
  connect(preferenceButton, &QPushButton::clicked, this, &TMainWindow::OpenPreferences);
  connect(browse, &QPushButton::clicked, this, &TMainWindow::BrowseOutputFolder);
  connect(open, &QPushButton::clicked, this, &TMainWindow::OpenOutputFolder);
  connect(website, &QPushButton::clicked, this,
          [this] { QDesktopServices::openUrl(QUrl(Q(global_.WebSite()))); });
  connect(list_, &TFileListView::FilesDropped, this, [this](const QStringList &paths) {
    std::vector<std::string> files;
    for (const QString &p : paths)
      files.push_back(p.toStdString());
    AddFiles(files);
  });
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
    const int row = list_->indexOfTopLevelItem(item);
    if (column == TFileListView::colSource && row >= 0 && row < static_cast<int>(rows_.size()) && !running_) {
      rows_[static_cast<std::size_t>(row)].Checked = item->checkState(0) == Qt::Checked;
      JournalRows(false);
    }
  });
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint &at) { editMenu_->popup(list_->viewport()->mapToGlobal(at)); });
  connect(list_, &QTreeWidget::itemSelectionChanged, this, &TMainWindow::UpdateCommands);
  connect(list_, &QTreeWidget::itemSelectionChanged, preview_, &TPreviewPanel::UpdatePreviousNext);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
    if (list_->currentItem()) preview_->Play();
  });

  // Progress and preview come in the GUI thread (the component's default, with the Qt
  // dispatcher installed); the custom hook on the worker thread; notices on notice
  // threads.
  converter_.SetOnCustomHook([this](TCustomConverter &, PHookInfo info) {
    // Worker thread: the rows are not changed from Start until the all-ended notice.
    queue_.HandleCustomHook(*info, rows_);
  });
  // Without the Qt dispatcher installed these would come on the worker thread: then a
  // copy goes to the GUI thread instead (the preview's bitmap is copied here, while the
  // engine still holds it).
  converter_.SetOnProgress([this](TCustomConverter &, PProgressInfo info) {
    if (QThread::currentThread() == thread())
      OnProgress(*info);
    else
      QMetaObject::invokeMethod(
          this, [this, copy = *info] { OnProgress(copy); }, Qt::QueuedConnection);
  });
  converter_.SetOnPreviewBitmap([this](TCustomConverter &, const TPreviewInfo &info) {
    if (QThread::currentThread() == thread()) {
      OnPreviewBitmap(info);
      return;
    }
    if (!info.Bitmap || info.Bitmap->Width() <= 0 || info.Bitmap->Height() <= 0) return;
    const TBitmap &b = *info.Bitmap;
    QImage frame = QImage(b.Bits(), b.Width(), b.Height(), b.RowBytes(), QImage::Format_BGR888).copy();
    QMetaObject::invokeMethod(
        this,
        [this, frame] {
          if (progress_) progress_->SetPreviewFrame(frame);
        },
        Qt::QueuedConnection);
  });
  converter_.SetOnTerminate([this](TCustomConverter &, const TTerminateInfo &info) {
    // Notice thread: hand a copy to the GUI thread. Queued calls to one object run in
    // the order they were posted, and the component posts the all-ended notice only
    // after every task notice has been handled here.
    QMetaObject::invokeMethod(
        this, [this, copy = info] { OnTerminate(copy); }, Qt::QueuedConnection);
  });

  connect(tree_, &TProfileTreeBox::ProfileChosen, this, [this](int) { JournalRows(false); });

  resize(960, 560);
  RefreshList();
}

TMainWindow::~TMainWindow() {
  // The handlers use this window: detach them and end the run before the members go.
  closing_ = true;
  // A normal end: the next start has nothing to restore. (A crash never gets here.)
  journal_.Clear();
  // The player draws into a window of this one: stop it while the window still stands.
  preview_->Shutdown();
  DetachConverterEvents();
  converter_.Stop(true);
  delete progress_;
  progress_ = nullptr;
  delete trim_; // stops its player while this window is still whole
  trim_ = nullptr;
}

void TMainWindow::DetachConverterEvents() {
  converter_.SetOnCustomHook(nullptr);
  converter_.SetOnProgress(nullptr);
  converter_.SetOnPreviewBitmap(nullptr);
  converter_.SetOnTerminate(nullptr);
}

void TMainWindow::BuildMenus() {
  QMenu *file = menuBar()->addMenu("&File");
  editMenu_ = menuBar()->addMenu("&Edit");
  for (QMenu *menu : {file, editMenu_}) {
    addActions_.push_back(menu->addAction("&Add", this, &TMainWindow::AddFilesFromDialog));
    removeActions_.push_back(menu->addAction("&Remove", this, &TMainWindow::RemoveSelected));
    clearActions_.push_back(menu->addAction("&Clear", this, &TMainWindow::ClearList));
    startActions_.push_back(menu->addAction("&Start", this, [this] { StartConversion(); }));
  }
  file->addAction("Se&ttings", this, &TMainWindow::OpenSettings);
  infoAction_ = editMenu_->addAction("Video &Information", this, &TMainWindow::OpenFileInformation);
  editMenu_->addSeparator();
  cropAction_ = editMenu_->addAction("&Crop", this, &TMainWindow::OpenCrop);
  trimAction_ = editMenu_->addAction("&Trim", this, &TMainWindow::OpenTrim);
  editMenu_->addSeparator();
  watermarkAction_ =
      editMenu_->addAction("&Video Effect && Water Mark", this, &TMainWindow::OpenWatermarkWindow);
  file->addSeparator();
  file->addAction("&Exit", this, &QWidget::close);
  QMenu *help = menuBar()->addMenu("Help");
  help->addAction("&Help", this, [this] { QDesktopServices::openUrl(QUrl(Q(global_.HelpPage()))); });
  help->addAction("&About", this, &TMainWindow::ShowAbout);
}

void TMainWindow::showEvent(QShowEvent *event) {
  QMainWindow::showEvent(event);
  if (!firstShow_) return;
  firstShow_ = false;
  TAppSettings settings(global_.SettingsFile());
  outputField_->setText(Q(CheckOutputFolders(settings)));
  global_.SetVersionText(TGlobalObject::BuildVersionText(3, 10, 0, 0));
  title_->setText(Q(global_.AppTitle() + global_.VersionText()));
  tree_->Rebuild();
}

bool TMainWindow::EnsureLibraries() {
  if (librariesLoaded_) return true;
  try {
    librariesLoaded_ = converter_.LoadLibraries("");
  } catch (const std::exception &e) {
    std::fprintf(stderr, "tovi-converter: %s\n", e.what());
  }
  return librariesLoaded_;
}

int TMainWindow::AddFiles(const std::vector<std::string> &paths) {
  if (running_ || !EnsureLibraries()) return 0;
  const int added = AddFilesToList(rows_, paths, converter_, global_,
                                   [this](const std::string &title, const std::string &text) {
                                     QMessageBox::warning(this, Q(title), Q(text));
                                   });
  if (added > 0) {
    RefreshList();
    SelectRow(0);
    JournalRows(false);
  }
  return added;
}

void TMainWindow::AddFilesFromDialog() {
  if (running_ || !EnsureLibraries()) return;
  const QStringList files = QFileDialog::getOpenFileNames(this, "Open", QString(), kOpenFilter);
  std::vector<std::string> paths;
  for (const QString &f : files)
    paths.push_back(f.toStdString());
  if (!paths.empty()) AddFiles(paths);
}

void TMainWindow::RemoveSelected() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (running_ || row < 0 || row >= static_cast<int>(rows_.size())) return;
  const int count = static_cast<int>(rows_.size());
  rows_.erase(rows_.begin() + row);
  RefreshList();
  SelectRow(RowAfterRemove(count, row));
  if (rows_.empty()) preview_->Stop();
  JournalRows(false);
}

void TMainWindow::ClearList() {
  if (running_ || rows_.empty()) return;
  converter_.ClearTasks();
  rows_.clear();
  RefreshList();
  preview_->Stop();
  JournalRows(false);
}

void TMainWindow::SelectRow(int row) {
  if (row < 0 || row >= list_->topLevelItemCount()) return;
  QTreeWidgetItem *item = list_->topLevelItem(row);
  list_->setCurrentItem(item);
  list_->scrollToItem(item);
}

void TMainWindow::RefreshRow(int row) {
  QTreeWidgetItem *item = list_->topLevelItem(row);
  const TFileRow &r = rows_[static_cast<std::size_t>(row)];
  const QSignalBlocker block(list_);
  item->setText(TFileListView::colSource, Q(r.Caption));
  item->setText(TFileListView::colLength, QString::number(r.Record.DurationSeconds));
  item->setText(TFileListView::colTrimmed, Q(TrimmedLengthText(r.Record)));
  item->setText(TFileListView::colDestination, Q(BaseName(r.Record.DestinationFile)));
  item->setText(TFileListView::colProgress, Q(r.Progress));
  item->setCheckState(0, r.Checked ? Qt::Checked : Qt::Unchecked);
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (!running_) flags |= Qt::ItemIsUserCheckable;
  item->setFlags(flags);
}

void TMainWindow::RefreshList() {
  {
    const QSignalBlocker block(list_);
    while (list_->topLevelItemCount() > static_cast<int>(rows_.size()))
      delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
    while (list_->topLevelItemCount() < static_cast<int>(rows_.size()))
      list_->addTopLevelItem(new QTreeWidgetItem);
  }
  for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
    RefreshRow(r);
  list_->header()->setVisible(!rows_.empty()); // the empty look has no columns
  list_->viewport()->update();
  UpdateCommands();
}

void TMainWindow::UpdateCommands() {
  const bool idle = !running_;
  const bool any = !rows_.empty();
  const bool selected = any && list_->currentItem() != nullptr;
  add_->setEnabled(idle);
  remove_->setEnabled(idle && selected);
  clear_->setEnabled(idle && any);
  start_->setEnabled(idle && any);
  start2_->setEnabled(idle && any);
  tree_->setEnabled(idle);
  list_->SetAcceptingFiles(idle);
  for (QAction *a : addActions_)
    a->setEnabled(idle);
  for (QAction *a : removeActions_)
    a->setEnabled(idle && selected);
  for (QAction *a : clearActions_)
    a->setEnabled(idle && any);
  for (QAction *a : startActions_)
    a->setEnabled(idle && any && selected);
  if (infoAction_) infoAction_->setEnabled(any && selected);
  cropAction_->setEnabled(idle && any && selected);
  trimAction_->setEnabled(idle && any && selected);
  watermarkAction_->setEnabled(idle && any && selected);
}

// The row the crop and watermark dialogs edit: the selected one, or the first (then
// selected) when no row is checked, in which case the dialog opens without playing.
// -1 while a run goes on or nothing is selected.
int TMainWindow::EditorRow(bool &anyChecked) {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (running_ || row < 0 || row >= static_cast<int>(rows_.size())) return -1;
  anyChecked = std::any_of(rows_.begin(), rows_.end(), [](const TFileRow &r) { return r.Checked; });
  if (anyChecked) return row;
  SelectRow(0);
  return 0;
}

void TMainWindow::OpenWatermarkWindow() {
  bool anyChecked = false;
  const int row = EditorRow(anyChecked);
  if (row < 0) return;
  preview_->Stop(); // one player at a time: the dialog plays the file itself
  TWatermarkWindow dialog(rows_[static_cast<std::size_t>(row)].Record, anyChecked, global_.HelpPage(),
                          global_.SettingsFile(), this);
  dialog.exec();
  RefreshRow(row);
  JournalRows(false);
}

void TMainWindow::SetOutputFolder(const std::string &folder) {
  TAppSettings settings(global_.SettingsFile());
  const TFolderChoice choice = ChooseOutputFolder(settings, folder, outputField_->text().toStdString());
  if (!choice.Message.empty()) QMessageBox::warning(this, "Warning", Q(choice.Message));
  if (choice.Result == TFolderChoice::TResult::Written ||
      choice.Result == TFolderChoice::TResult::Substituted)
    outputField_->setText(Q(choice.WrittenPath));
}

void TMainWindow::BrowseOutputFolder() {
  const std::string chosen = ChooseWritableFolder(this, outputField_->text(), global_.AppTitle());
  if (!chosen.empty()) SetOutputFolder(chosen);
}

void TMainWindow::OpenOutputFolder() {
  const std::string folder = TAppSettings(global_.SettingsFile()).OutPutDir();
  if (outputField_->text().size() > 2) actions_.OpenOutputFolder(folder);
}

void TMainWindow::OpenCrop() {
  bool anyChecked = false;
  const int row = EditorRow(anyChecked);
  if (row < 0) return;
  preview_->Stop(); // one player at a time: the dialog plays the file itself
  TFileRow &target = rows_[static_cast<std::size_t>(row)];
  TCropWindow dialog(target.Record, target.Checked ? target.Caption : std::string(), global_.SettingsFile(),
                     this);
  dialog.exec();
  preview_->LoadVolumeAndMute(); // the dialog has its own volume and mute controls
  JournalRows(false);
}

void TMainWindow::OpenTrim() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (running_ || row < 0 || row >= static_cast<int>(rows_.size())) return;
  if (!trim_) {
    trim_ = new TTrimWindow(global_.SettingsFile(), this);
    connect(trim_, &QDialog::accepted, this, [this] {
      // The list cannot change under the modal window; the caption check is a guard.
      const TTrimOutcome &outcome = trim_->Outcome();
      for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        TFileRow &edited = rows_[static_cast<std::size_t>(r)];
        if (edited.Caption != trimCaption_ || outcome.Kind != TTrimOutcome::tkStore) continue;
        edited.Record.TrimStart = outcome.TrimStart;
        edited.Record.TrimLength = outcome.TrimLength;
        RefreshRow(r);
        JournalRows(false);
      }
    });
  }
  preview_->Stop(); // one player at a time: the window plays the file itself
  const TFileRow &chosen = rows_[static_cast<std::size_t>(row)];
  trimCaption_ = chosen.Caption;
  trim_->Begin(chosen.Record, chosen.Caption);
}

void TMainWindow::ShowAbout() {
  if (!about_) about_ = new TAboutWindow(global_, this);
  about_->exec();
}

void TMainWindow::OpenSettings() {
  if (running_) return; // the rows' profile must not change under a run
  if (!settings_) settings_ = new TSettingsWindow(global_, this);
  if (settings_->exec() == QDialog::Accepted) {
    tree_->Rebuild();
    JournalRows(false);
  }
}

void TMainWindow::OpenPreferences() {
  if (!preference_) preference_ = new TPreferenceWindow(global_, actions_, this);
  preference_->exec();
}

void TMainWindow::OpenFileInformation() {
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (row < 0 || row >= static_cast<int>(rows_.size()) || !EnsureLibraries()) return;
  if (!fileInfo_) fileInfo_ = new TFileInfoWindow(this);
  fileInfo_->ShowFile(rows_[static_cast<std::size_t>(row)].Record.SourceFile);
  fileInfo_->exec();
}

bool TMainWindow::StartConversion() {
  if (running_ || rows_.empty() || !EnsureLibraries()) return false;
  preview_->Stop(); // the preview and the conversion do not share the machine
  TStartOptions options;
  options.Warn = [this](const std::string &title, const std::string &text) {
    QMessageBox::warning(this, Q(title), Q(text));
  };
  options.SkipDone = resumePending_;
  options.AskDefaultSize = [this](const std::string &question) {
    return QMessageBox::question(this, "Confirm", Q(question), QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  };
  try {
    if (!queue_.StartConversion(rows_, options)) return false;
  } catch (...) {
    converter_.ClearTasks();
    HandleApplicationError(std::current_exception());
    return false;
  }
  if (!queue_.RowErrors().empty()) {
    std::string text;
    for (const auto &[row, why] : queue_.RowErrors())
      text += rows_[static_cast<std::size_t>(row)].Caption + ": " + why + "\n";
    QMessageBox::warning(this, "Warning", Q(text));
  }
  RefreshList();
  JournalRows(true); // the rows' output names and Queued states
  if (converter_.TaskCount() == 0) return false;
  resumePending_ = false;
  converter_.SetPreviewBitmap(true);
  running_ = true;
  finished_ = failed_ = 0;
  RefreshList();
  if (!progress_) {
    progress_ = new TProgressWindow(converter_, global_.SettingsFile(), this);
    connect(progress_, &TProgressWindow::Stopped, this, [this] {
      if (allEndedPending_) OnAllEnded();
    });
    connect(progress_, &TProgressWindow::PausedChanged, this, [this](bool paused) {
      setWindowTitle(paused ? "Tovi Video Converter (paused)" : "Tovi Video Converter");
    });
  }
  progress_->Run();
  return true;
}

void TMainWindow::OnProgress(const TProgressInfo &info) {
  const auto &taskRows = queue_.TaskRows();
  if (info.TaskIndex < 0 || info.TaskIndex >= static_cast<int>(taskRows.size())) return;
  const int row = taskRows[static_cast<std::size_t>(info.TaskIndex)];
  const TRowState before = rows_[static_cast<std::size_t>(row)].State;
  queue_.HandleProgress(info, rows_);
  if (rows_[static_cast<std::size_t>(row)].State != before) JournalRows(true);
  if (row < list_->topLevelItemCount())
    list_->topLevelItem(row)->setText(TFileListView::colProgress,
                                      Q(rows_[static_cast<std::size_t>(row)].Progress));
  if (progress_)
    progress_->ShowProgress(
        ProgressTexts(info, converter_.TaskCount(), rows_[static_cast<std::size_t>(row)].Caption));
}

void TMainWindow::OnPreviewBitmap(const TPreviewInfo &info) {
  // GUI thread, the worker waiting: the engine's bitmap is valid only now, so copy it.
  if (!progress_ || !info.Bitmap || info.Bitmap->Width() <= 0 || info.Bitmap->Height() <= 0) return;
  const TBitmap &b = *info.Bitmap;
  const QImage view(b.Bits(), b.Width(), b.Height(), b.RowBytes(), QImage::Format_BGR888);
  progress_->SetPreviewFrame(view.copy());
}

void TMainWindow::OnTerminate(const TTerminateInfo &info) {
  if (closing_) return;
  if (info.TaskIndex < 0) {
    // Inside the progress window's stop wait the tasks must not be cleared yet.
    if (progress_ && progress_->Stopping())
      allEndedPending_ = true;
    else
      OnAllEnded();
    return;
  }
  const bool openFolder = progress_ && progress_->OpenFolderChecked();
  const bool shutDown = progress_ && progress_->ShutDownChecked();
  const int row = queue_.HandleTerminate(info, rows_, openFolder, shutDown, &actions_);
  if (info.Finished) {
    ++finished_;
    if (progress_) progress_->ShowFinished();
  } else {
    ++failed_;
    if (info.Exception)
      std::fprintf(stderr, "tovi-converter: %s: %s\n",
                   row >= 0 ? rows_[static_cast<std::size_t>(row)].Caption.c_str() : "?",
                   info.ExceptionMsg.c_str());
  }
  if (row >= 0 && row < list_->topLevelItemCount()) RefreshRow(row);
  JournalRows(true);
}

void TMainWindow::OnAllEnded() {
  allEndedPending_ = false;
  converter_.ClearTasks();
  // A size-target output that missed its window is encoded once more; the progress
  // window stays for it. A run the user cancelled (the window closed) goes no further.
  if (progress_ && progress_->isVisible() && queue_.StartCorrections(rows_)) {
    RefreshList();
    progress_->Run();
    return;
  }
  running_ = false;
  if (progress_ && progress_->isVisible()) progress_->close();
  setWindowTitle("Tovi Video Converter");
  RefreshList();
  // The closing note: each size-target row's outcome, an output over its target first
  // in the words, so that it is not taken for one that met it.
  if (!queue_.SizeResults().empty()) {
    std::string note;
    bool over = false;
    for (const TSizeResult &r : queue_.SizeResults()) {
      note += std::filesystem::path(rows_[static_cast<std::size_t>(r.Row)].Caption).filename().string() +
              ": " + r.Text + "\n";
      over = over || r.Over;
    }
    if (over) ++failed_;
    std::fprintf(stderr, "tovi-converter: size targets:\n%s", note.c_str());
    if (!quitWhenDone_) {
      if (over)
        QMessageBox::warning(this, "Size target", Q("Some outputs are larger than their target:\n" + note));
      else
        QMessageBox::information(this, "Size target", Q(note));
    }
  }
  emit RunEnded();
  if (quitWhenDone_) QCoreApplication::exit(failed_ == 0 && finished_ > 0 ? 0 : 1);
}

void TMainWindow::JournalRows(bool stateChanged) {
  if (closing_) return;
  TQueueSnapshot snapshot;
  snapshot.ProfileCode = TAppSettings(global_.SettingsFile()).FormatCode();
  snapshot.Rows = rows_;
  if (stateChanged)
    journal_.StateChanged(snapshot);
  else
    journal_.Changed(snapshot);
}

bool TMainWindow::OfferRestore(const std::function<bool(const std::string &question)> &ask) {
  std::string problem;
  std::optional<TQueueSnapshot> left = journal_.LeftOver(problem);
  if (!problem.empty())
    std::fprintf(stderr, "tovi-converter: the kept file list is ignored: %s\n", problem.c_str());
  if (!left || running_) return false;
  const auto done = std::count_if(left->Rows.begin(), left->Rows.end(),
                                  [](const TFileRow &r) { return r.State == TRowState::Done; });
  const std::string question =
      "Tovi Video Converter did not close normally last time. Restore its file list (" +
      std::to_string(left->Rows.size()) + " files, " + std::to_string(done) +
      " converted)?\n\nStart then converts the files that were not finished; a file that was being "
      "converted is converted again.";
  const bool yes =
      ask ? ask(question)
          : QMessageBox::question(this, "Restore the file list", Q(question),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
  if (!yes) {
    journal_.Clear();
    return false;
  }
  PrepareResume(left->Rows);
  rows_ = std::move(left->Rows);
  resumePending_ = true;
  // The rows were made for this profile; choosing it also writes it to the settings.
  if (left->ProfileCode > 0 && left->ProfileCode != TAppSettings(global_.SettingsFile()).FormatCode())
    tree_->ChooseProfile(left->ProfileCode);
  RefreshList();
  SelectRow(0);
  JournalRows(true);
  return true;
}

void TMainWindow::closeEvent(QCloseEvent *event) {
  if (QMessageBox::question(this, "Warning", "Do you really want to exit?",
                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
    event->ignore();
    return;
  }
  tree_->SaveTreeState();
  closing_ = true;
  preview_->Shutdown();
  DetachConverterEvents();
  converter_.Stop(true);
  if (progress_) progress_->hide();
  event->accept();
}

} // namespace tovi
