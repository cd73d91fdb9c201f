#include "app/widgets/FileListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include <algorithm>

#include "appcore/GlobalObject.h"

namespace tovi {

TFileListView::TFileListView(QWidget *parent) : QTreeWidget(parent) {
  setObjectName("fileList");
  setColumnCount(5);
  setHeaderLabels({"Source", "Length", "Trimmed Length", "Destination File", "Progress"});
  // The starting widths, widened where a caption would not fit in the user's font.
  const int widths[] = {140, 65, 90, 120, 60};
  for (int c = 0; c < 5; ++c)
    setColumnWidth(
        c, std::max(widths[c], header()->fontMetrics().horizontalAdvance(headerItem()->text(c)) + 24));
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(colSource, QHeaderView::Stretch);
  setRootIsDecorated(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setAcceptDrops(true);
  viewport()->setAcceptDrops(true);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DropOnly);
  const QString picture = QString::fromStdString(DataDir() + "/skin/lvBack.png");
  if (QFileInfo::exists(picture)) background_.load(picture);
}

QStringList TFileListView::LocalFiles(const QMimeData *data) {
  QStringList files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl &url : data->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

void TFileListView::dragEnterEvent(QDragEnterEvent *event) {
  if (acceptingFiles_ && !LocalFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TFileListView::dragMoveEvent(QDragMoveEvent *event) {
  if (acceptingFiles_ && !LocalFiles(event->mimeData()).isEmpty())
    event->acceptProposedAction();
  else
    event->ignore();
}

void TFileListView::dropEvent(QDropEvent *event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (!acceptingFiles_ || files.isEmpty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  emit FilesDropped(files);
}

void TFileListView::paintEvent(QPaintEvent *event) {
  QTreeWidget::paintEvent(event);
  if (topLevelItemCount() > 0) return;
  // The empty look: the background picture centred, and how to fill the list.
  QPainter p(viewport());
  const QRect area = viewport()->rect();
  if (!background_.isNull()) {
    const QPixmap scaled = background_.scaled(area.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawPixmap(area.center() - scaled.rect().center(), scaled);
  }
  p.setPen(palette().color(QPalette::PlaceholderText));
  p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap,
             "Drop video or audio files here, or press Add to choose them.");
}

} // namespace tovi
