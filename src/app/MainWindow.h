// The main window: the file list, the output folder with Browse and Open, the drop-down
// profile tree, Add, Remove, Clear, Start, the menus, and the conversion run with its
// progress window.
//
// Threads: everything here runs in the GUI thread. The converter delivers progress and
// preview events in the GUI thread (through the Qt main-thread dispatcher, the worker
// waiting); termination notices arrive on notice threads of their own and are handed
// to the GUI thread as queued calls carrying a copy of the notice, so rows and windows
// are touched in the GUI thread only, one notice after another in arrival order. From
// Start until the all-ended notice the rows stay as they are (the custom hook reads
// them on the worker thread): Add, Remove, Clear, Start, drops and the check boxes are
// off.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "appcore/ConversionQueue.h"
#include "appcore/GlobalObject.h"
#include "appcore/QueueJournal.h"
#include "converter/Converter.h"

class QAction;
class QLineEdit;
class QMenu;
class QPushButton;
class QLabel;

namespace tovi {

class TFileListView;
class TPreviewPanel;
class TProfileTreeBox;
class TProgressWindow;
class TAboutWindow;
class TSettingsWindow;
class TPreferenceWindow;
class TFileInfoWindow;
class TTrimWindow;

class TMainWindow final : public QMainWindow {
  Q_OBJECT
public:
  // `actions` carries out the completion actions (the desktop's, or a test's fake); it
  // must outlive the window.
  explicit TMainWindow(ICompletionActions &actions, QWidget *parent = nullptr);
  ~TMainWindow() override;

  // Adds files as the Add dialog, a drop or the command line do; returns how many rows
  // were added.
  int AddFiles(const std::vector<std::string> &paths);
  void RemoveSelected();
  void ClearList();
  // Start: builds one task per checked row and shows the progress window, which starts
  // them. False when nothing was started.
  bool StartConversion();
  // The output folder as Browse stores it (after its checks); messages as Browse shows.
  void SetOutputFolder(const std::string &folder);
  // The output settings dialog (modal); after its OK the profile tree shows the profile
  // chosen in it.
  void OpenSettings();
  // The preferences dialog (modal).
  void OpenPreferences();
  // The file information window (modal) for the selected row; nothing without one.
  void OpenFileInformation();
  // Edit > Trim: opens the Trim window on the selected row (modal, returns at once); Ok
  // writes the chosen range into the row's record and its "Trimmed Length" column.
  void OpenTrim();
  // Exits the application after the next all-ended notice: status 0 when every task of
  // the run finished, 1 otherwise.
  void SetQuitWhenDone(bool quit) { quitWhenDone_ = quit; }
  // After a crash or a power loss: offers the file list the journal kept (a question box,
  // or `ask` when given: it gets the question and answers true for Yes). Yes puts the
  // rows back (done rows stay done) and the next Start converts only the unfinished rows,
  // the interrupted one again under its own name; No drops the journal. Call once, before
  // the list is edited. True when a list was restored.
  bool OfferRestore(const std::function<bool(const std::string &question)> &ask = {});
  // The Edit menu's "&Crop": the crop dialog on the selected row, modal.
  void OpenCrop();
  // "&Video Effect && Water Mark": the watermark dialog, modal, on the selected row.
  void OpenWatermarkWindow();

  // ---- for tests and screenshots ----
  QMenu *EditMenu() const { return editMenu_; }
  TFileListView *FileList() const { return list_; }
  TProfileTreeBox *ProfileTree() const { return tree_; }
  TPreviewPanel *Preview() const { return preview_; }
  TProgressWindow *ProgressWindow() const { return progress_; }
  // Null until first opened.
  TSettingsWindow *SettingsWindow() const { return settings_; }
  TPreferenceWindow *PreferenceWindow() const { return preference_; }
  TFileInfoWindow *FileInfoWindow() const { return fileInfo_; }
  QAction *FileInformationAction() const { return infoAction_; }
  TTrimWindow *TrimWindow() const { return trim_; }
  QAction *TrimAction() const { return trimAction_; }
  QLineEdit *OutputField() const { return outputField_; }
  QAction *CropAction() const { return cropAction_; }
  QPushButton *StartButton() const { return start_; }
  const std::vector<TFileRow> &Rows() const { return rows_; }
  bool Running() const { return running_; }
  TFFConverter &Converter() { return converter_; }
  // Outcome of the last run: tasks that finished, tasks that did not.
  int FinishedCount() const { return finished_; }
  int FailedCount() const { return failed_; }

signals:
  // After the all-ended notice has been handled.
  void RunEnded();

protected:
  void closeEvent(QCloseEvent *event) override;
  void showEvent(QShowEvent *event) override;

private:
  void BuildMenus();
  void BrowseOutputFolder();
  void OpenOutputFolder();
  void AddFilesFromDialog();
  void ShowAbout();
  void UpdateCommands();
  int EditorRow(bool &anyChecked);
  void RefreshList();
  void RefreshRow(int row);
  void SelectRow(int row);
  bool EnsureLibraries();
  // The converter's events (see the class comment for their threads).
  void OnProgress(const TProgressInfo &info);
  void OnPreviewBitmap(const TPreviewInfo &info);
  void OnTerminate(const TTerminateInfo &info); // GUI thread, in arrival order
  void OnAllEnded();
  void DetachConverterEvents();
  // Hands the list to the journal: at once for a row's state, gathered for edits.
  void JournalRows(bool stateChanged);

  ICompletionActions &actions_;
  TGlobalObject global_;
  TFFConverter converter_;
  TConversionQueue queue_;
  std::vector<TFileRow> rows_;
  bool librariesLoaded_ = false;
  bool running_ = false;
  bool firstShow_ = true;
  bool quitWhenDone_ = false;
  bool closing_ = false;         // the window is closing: notices are no longer handled
  bool allEndedPending_ = false; // the all-ended notice came while the progress window stopped
  int finished_ = 0;
  int failed_ = 0;
  TQueueJournal journal_{QueueJournalFile()};
  bool resumePending_ = false; // a restored list: the next Start skips its done rows

  QLabel *title_;
  TFileListView *list_;
  TProfileTreeBox *tree_;
  TPreviewPanel *preview_; // child; owns the preview player
  QLineEdit *outputField_;
  QPushButton *add_, *remove_, *clear_, *start_, *start2_;
  QMenu *editMenu_;
  std::vector<QAction *> addActions_, removeActions_, clearActions_, startActions_;
  QAction *cropAction_ = nullptr;
  QAction *watermarkAction_ = nullptr;
  TProgressWindow *progress_ = nullptr;     // child window, created on first use
  TAboutWindow *about_ = nullptr;           // child window, created on first use
  TSettingsWindow *settings_ = nullptr;     // child window, created on first use
  TPreferenceWindow *preference_ = nullptr; // child window, created on first use
  TFileInfoWindow *fileInfo_ = nullptr;     // child window, created on first use
  QAction *infoAction_ = nullptr;           // "Video &Information" in the Edit menu
  TTrimWindow *trim_ = nullptr;             // child window, created on first use
  QAction *trimAction_ = nullptr;
  std::string trimCaption_; // the row the Trim window edits, found again by caption
};

} // namespace tovi
