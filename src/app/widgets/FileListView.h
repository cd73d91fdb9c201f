// The file list: a checkable report list of the source files with five columns, an
// empty look with a background picture and a hint, and drops of local files from a file
// manager. GUI thread only.
#pragma once

#include <QStringList>
#include <QTreeWidget>

namespace tovi {

class TFileListView final : public QTreeWidget {
  Q_OBJECT
public:
  enum TColumn { colSource, colLength, colTrimmed, colDestination, colProgress };

  explicit TFileListView(QWidget *parent);

  // Drops are refused while false (a conversion runs).
  void SetAcceptingFiles(bool accept) { acceptingFiles_ = accept; }

signals:
  // Local files dropped on the list, in the order given.
  void FilesDropped(const QStringList &paths);

protected:
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dropEvent(QDropEvent *event) override;
  void paintEvent(QPaintEvent *event) override;

private:
  static QStringList LocalFiles(const QMimeData *data);

  bool acceptingFiles_ = true;
  QPixmap background_; // the empty look's picture; null when the data folder has none
};

} // namespace tovi
