// The layer view on its own: resizing by the handles (Ctrl keeps the centre, boxes never
// shrink below 4 pixels), pictures that keep their size, pressing the topmost layer,
// and the selection following a layer through the stacking order.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "app/widgets/LayerView.h"

using namespace tovi;

namespace {

int gArgc = 1;
char gArg0[] = "app_layer_view_test";
char *gArgv[] = {gArg0, nullptr};

class LayerViewTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs a display (xvfb-run)";
    app_ = std::make_unique<QApplication>(gArgc, gArgv);
    view_ = std::make_unique<TLayerView>();
    view_->resize(400, 300);
    view_->SetFrameSize(QSize(200, 150)); // scale 2
    view_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
  }
  void TearDown() override {
    view_.reset();
    app_.reset();
  }

  // Drags from frame point `from` by `delta` frame pixels.
  void Drag(const QPointF &from, const QPointF &delta, Qt::KeyboardModifiers keys = {}) {
    const QPoint a = view_->ToView(from), b = view_->ToView(from + delta);
    QTest::mousePress(view_->viewport(), Qt::LeftButton, keys, a);
    Move((a + b) / 2, keys);
    Move(b, keys);
    QTest::mouseRelease(view_->viewport(), Qt::LeftButton, keys, b);
  }
  // A move with the button held and `keys` down (QTest's moves carry no keys).
  void Move(const QPoint &to, Qt::KeyboardModifiers keys) {
    QWidget *target = view_->viewport();
    QMouseEvent move(QEvent::MouseMove, QPointF(to), target->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, keys);
    QApplication::sendEvent(target, &move);
  }

  static QImage Solid(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
  }

  std::unique_ptr<QApplication> app_;
  std::unique_ptr<TLayerView> view_;
};

} // namespace

TEST_F(LayerViewTest, HandlesResizeAndCtrlKeepsTheCentre) {
  view_->InsertLayer(0, Solid(40, 20), QRect(50, 50, 40, 20), 255);
  QSignalSpy changed(view_.get(), &TLayerView::LayerGeometryChanged);
  Drag(QPointF(70, 60), QPointF(-10, 5)); // press inside: select and move
  EXPECT_EQ(view_->Selected(), 0);
  EXPECT_EQ(view_->LayerBox(0), QRect(40, 55, 40, 20));

  Drag(QPointF(80, 75), QPointF(10, 10)); // bottom right handle
  EXPECT_EQ(view_->LayerBox(0), QRect(40, 55, 50, 30));
  Drag(QPointF(90, 70), QPointF(5, 0), Qt::ControlModifier); // right edge, centre kept
  EXPECT_EQ(view_->LayerBox(0), QRect(35, 55, 60, 30));
  Drag(QPointF(95, 70), QPointF(-100, 0), Qt::ControlModifier); // would turn inside out
  const QRect small = view_->LayerBox(0);
  EXPECT_EQ(small.width(), 4);
  EXPECT_EQ(small.center().x(), QRect(35, 55, 60, 30).center().x());
  Drag(QPointF(small.center().x(), 55), QPointF(0, 100)); // top edge past the bottom
  EXPECT_EQ(view_->LayerBox(0).height(), 4);
  EXPECT_EQ(view_->LayerBox(0).bottom(), small.bottom());
  ASSERT_FALSE(changed.isEmpty());
  EXPECT_EQ(changed.last().at(1).toRect(), view_->LayerBox(0));
}

TEST_F(LayerViewTest, PicturesKeepTheirSizeAndTheTopLayerTakesThePress) {
  view_->InsertLayer(0, Solid(30, 30), QRect(10, 10, 30, 30), 255, false);
  view_->InsertLayer(1, Solid(30, 30), QRect(20, 20, 99, 99), 255, false); // box follows the picture
  EXPECT_EQ(view_->LayerBox(1), QRect(20, 20, 30, 30));
  QSignalSpy pressed(view_.get(), &TLayerView::LayerPressed);
  Drag(QPointF(25, 25), QPointF(0, 0)); // where both lie: the upper one
  ASSERT_EQ(pressed.count(), 1);
  EXPECT_EQ(pressed.at(0).at(0).toInt(), 1);
  Drag(QPointF(21, 21), QPointF(10, 10)); // near a corner of a picture: moves it, no resize
  EXPECT_EQ(view_->LayerBox(1), QRect(30, 30, 30, 30));

  view_->MoveLayer(1, 0); // the selected picture goes under the other
  EXPECT_EQ(view_->Selected(), 0);
  EXPECT_EQ(view_->LayerBox(0), QRect(30, 30, 30, 30));
  view_->SetLayerVisible(1, false); // a hidden layer takes no press
  pressed.clear();
  Drag(QPointF(35, 35), QPointF(0, 0));
  ASSERT_EQ(pressed.count(), 1);
  EXPECT_EQ(pressed.at(0).at(0).toInt(), 0);
  view_->RemoveLayer(1);
  EXPECT_EQ(view_->Selected(), 0);
  view_->RemoveLayer(0);
  EXPECT_EQ(view_->Selected(), -1);
}
