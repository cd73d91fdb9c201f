#include "app/StartupPicture.h"

#include <QFileInfo>
#include <QLinearGradient>
#include <QPainter>

#include "appcore/GlobalObject.h"

namespace tovi {

QPixmap StartupPicture() {
  const QString skin = QString::fromStdString(DataDir() + "/skin/mp4videocover.jpg");
  if (QFileInfo::exists(skin)) {
    QPixmap picture(skin);
    if (!picture.isNull()) return picture;
  }
  QPixmap picture(480, 270);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient ground(0, 0, 480, 270);
  ground.setColorAt(0, QColor(24, 60, 110));
  ground.setColorAt(1, QColor(90, 150, 210));
  p.fillRect(picture.rect(), ground);
  // A film strip with a play mark.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 40));
  p.drawRoundedRect(QRectF(40, 60, 400, 110), 12, 12);
  p.setBrush(QColor(255, 255, 255, 200));
  for (int x = 52; x < 430; x += 28) {
    p.drawRect(QRectF(x, 66, 14, 10));
    p.drawRect(QRectF(x, 154, 14, 10));
  }
  const QPointF play[] = {{220, 90}, {220, 140}, {262, 115}};
  p.drawPolygon(play, 3);
  QFont font = p.font();
  font.setPixelSize(30);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 185, 480, 40), Qt::AlignCenter, "Tovi Video Converter");
  font.setPixelSize(14);
  font.setBold(false);
  p.setFont(font);
  p.drawText(QRect(0, 225, 480, 24), Qt::AlignCenter, "video and audio for players, phones and consoles");
  return picture;
}

} // namespace tovi
