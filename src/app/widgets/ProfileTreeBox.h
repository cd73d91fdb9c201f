// The drop-down profile tree: a read-only field with the chosen profile's name and an
// arrow button; a click opens a tree of bold categories (with icons) over their
// profiles. Choosing a profile writes FormatName and FormatCode to the settings file at
// once. The open/closed categories are written by SaveTreeState (the main window calls
// it when it closes). GUI thread only.
#pragma once

#include <QWidget>

#include <string>

class QLineEdit;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tovi {

class TProfileTreeBox final : public QWidget {
  Q_OBJECT
public:
  TProfileTreeBox(std::string settingsFile, QWidget *parent);

  // (Re)builds the tree from the catalogue and the settings file and shows the chosen
  // profile.
  void Rebuild();
  void SaveTreeState() const;
  // Chooses a profile as a click on its row does; false when no profile has the code.
  bool ChooseProfile(int code);
  // Off: choosing a profile only shows it and emits ProfileChosen, leaving the settings
  // file alone (the settings dialog keeps its choice pending until OK). On by default.
  void SetWritesChoice(bool writes) { writesChoice_ = writes; }

  int ChosenCode() const { return chosenCode_; }
  QString Text() const;
  // The drop-down list (a popup window), hidden while closed.
  QTreeWidget *List() const { return list_; }
  void ShowList();
  void HideList();
  // The list item of a profile or a category (-1 - index); null when none.
  QTreeWidgetItem *ProfileItem(int code) const;
  QTreeWidgetItem *CategoryItem(int index) const;

signals:
  void ProfileChosen(int code);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void OnItemClicked(QTreeWidgetItem *item);

  std::string settingsFile_;
  QLineEdit *field_;
  QToolButton *arrow_;
  QTreeWidget *list_;
  int chosenCode_ = 1;
  bool writesChoice_ = true;
};

} // namespace tovi
