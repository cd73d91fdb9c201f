// The preferences dialog ("Preference"): the snapshot folder with Open and Brows, the
// snapshot sizes and formats, the JPEG quality of snapshots and the priority of the
// conversion threads, all kept in section "settings" of the settings file. Every
// showing reloads them; OK writes them; Cancel writes nothing (a folder chosen with
// Brows is written at once). GUI thread only.
#pragma once

#include <QDialog>

#include <string>

#include "appcore/GlobalObject.h"
#include "appcore/Preferences.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSlider;
class QSpinBox;

namespace tovi {

class ICompletionActions;

class TPreferenceWindow final : public QDialog {
  Q_OBJECT
public:
  // `desktop` opens folders (Open); it must outlive the window.
  TPreferenceWindow(const TGlobalObject &global, ICompletionActions &desktop, QWidget *parent);

  // The snapshot folder as Brows stores it once the chooser returned `folder`, with
  // Brows' messages.
  void SetSnapshotFolder(const std::string &folder);

  // ---- for tests and screenshots ----
  QLineEdit *FolderField() const { return folder_; }
  QCheckBox *FullSize() const { return fullSize_; }
  QCheckBox *SmallSize() const { return smallSize_; }
  QCheckBox *Bmp() const { return bmp_; }
  QCheckBox *Jpg() const { return jpg_; }
  QSpinBox *QualitySpin() const { return qualitySpin_; }
  QSlider *QualitySlider() const { return qualitySlider_; }
  QButtonGroup *Priority() const { return priority_; }
  QPushButton *OpenButton() const { return open_; }
  QPushButton *DefaultButton() const { return default_; }
  QPushButton *OkButton() const { return ok_; }
  QPushButton *CancelButton() const { return cancel_; }

protected:
  void showEvent(QShowEvent *event) override;

private:
  void ShowPreferences(const TPreferences &p);
  TPreferences Current() const;
  void Browse();
  void OpenFolder();
  void OnOk();

  const TGlobalObject &global_;
  ICompletionActions &desktop_;
  QLineEdit *folder_;
  QCheckBox *fullSize_, *smallSize_, *bmp_, *jpg_;
  QSpinBox *qualitySpin_;
  QSlider *qualitySlider_;
  QButtonGroup *priority_;
  QPushButton *open_, *browse_, *default_, *ok_, *cancel_;
};

} // namespace tovi
