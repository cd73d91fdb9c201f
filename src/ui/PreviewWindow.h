// The window of the frame previewer (GUI thread only).
#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

namespace tovi {

class TPreviewWindow final : public QWidget {
public:
  // A top-level tool window without owner that stays on top, with only a close box,
  // centred on the screen, its client area exactly `size` (set once here). `onClose`
  // runs when the user closes it.
  TPreviewWindow(QSize size, std::function<void()> onClose);

  // Draws `frame` at the top-left corner; the window keeps its size.
  void SetFrame(QImage frame);
  const QImage &Frame() const { return frame_; }

protected:
  void paintEvent(QPaintEvent *event) override;
  // A left-button press anywhere on the picture starts moving the window, as a press
  // on its title bar would.
  void mousePressEvent(QMouseEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  QImage frame_; // a copy: the engine reuses its bitmap as soon as the paint is done
  std::function<void()> onClose_;
};

} // namespace tovi
