#include "ui/PreviewWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

namespace tovi {

TPreviewWindow::TPreviewWindow(QSize size, std::function<void()> onClose)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      onClose_(std::move(onClose)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedSize(size);
  if (const QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect frame(QPoint(0, 0), size);
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TPreviewWindow::SetFrame(QImage frame) {
  frame_ = std::move(frame);
  update();
}

void TPreviewWindow::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (!frame_.isNull()) painter.drawImage(QPoint(0, 0), frame_);
}

void TPreviewWindow::mousePressEvent(QMouseEvent *event) {
  if (event->button() == Qt::LeftButton) {
    if (QWindow *native = windowHandle()) native->startSystemMove();
    event->accept();
    return;
  }
  QWidget::mousePressEvent(event);
}

void TPreviewWindow::closeEvent(QCloseEvent *event) {
  if (onClose_) onClose_();
  event->accept();
}

} // namespace tovi
