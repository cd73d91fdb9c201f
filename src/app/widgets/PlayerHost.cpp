#include "app/widgets/PlayerHost.h"

#include <QResizeEvent>

namespace tovi {

namespace {

// The native window the player renders into; Qt never paints it.
class TPictureSurface final : public QWidget {
public:
  explicit TPictureSurface(QWidget *parent) : QWidget(parent) {
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  QPaintEngine *paintEngine() const override { return nullptr; }

protected:
  void paintEvent(QPaintEvent *) override {}
};

} // namespace

TPlayerHost::TPlayerHost(QWidget *parent) : QWidget(parent), surface_(new TPictureSurface(this)) {
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);
  surface_->hide();
}

std::uintptr_t TPlayerHost::Handle() {
  surface_->setGeometry(rect());
  surface_->show();
  return static_cast<std::uintptr_t>(surface_->winId());
}

void TPlayerHost::ShowIdle() {
  surface_->hide();
  update();
}

void TPlayerHost::resizeEvent(QResizeEvent *event) {
  QWidget::resizeEvent(event);
  surface_->setGeometry(rect());
}

} // namespace tovi
