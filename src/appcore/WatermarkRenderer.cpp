#include "appcore/WatermarkRenderer.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QFont>
#include <QtGui/QFontMetrics>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cstdlib>
#include <cstring>

#include "appcore/PictureEffects.h"
#include "media/Bitmap.h"

namespace tovi {
namespace {

QImage WrapBitmap(TBitmap &bitmap) {
  return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.RowBytes(), QImage::Format_BGR888);
}

QColor ToQColor(TColor c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }

QFont ToQFont(const TWmFont &f) {
  QFont font(QString::fromStdString(f.Name));
  // Point sizes as the editor shows them on a 96 dpi screen, so that the stamped text
  // has the size of its box whatever resolution the image reports.
  font.setPixelSize(std::max(1, (f.Size * 96 + 36) / 72));
  font.setBold(f.Bold);
  font.setItalic(f.Italic);
  font.setUnderline(f.Underline);
  font.setStrikeOut(f.StrikeOut);
  return font;
}

// The box of a text watermark as it is stamped (before the opacity): an opaque
// background fills the whole box, the text sits at its top left corner.
void DrawTextBox(QImage &image, const TWmRec &mark) {
  QPainter painter(&image);
  if (mark.OpaqueBackground) painter.fillRect(image.rect(), ToQColor(mark.BackgroundColor));
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setFont(ToQFont(mark.Font));
  painter.setPen(ToQColor(mark.Font.Color));
  painter.drawText(image.rect(), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(mark.Text));
}

} // namespace

void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The application object must outlive every renderer; it lives until the process ends.
  static int argc = 1;
  static char name[] = "tovi";
  static char *argv[] = {name, nullptr};
  static QGuiApplication *app = new QGuiApplication(argc, argv);
  (void)app;
}

struct TWatermarkRenderer::TPicture {
  TBitmap Pixels;
  std::vector<std::uint8_t> Alpha; // one byte per pixel; empty for an opaque picture
};

TWatermarkRenderer::TWatermarkRenderer() = default;
TWatermarkRenderer::~TWatermarkRenderer() = default;

void MeasureText(const std::string &text, const TWmFont &font, int &width, int &height) {
  const QFontMetrics metrics(ToQFont(font));
  const QRect r = metrics.boundingRect(QRect(0, 0, 100000, 100000), Qt::AlignLeft | Qt::AlignTop,
                                       QString::fromStdString(text));
  width = std::max(1, r.width());
  height = std::max(1, r.height());
}

void TWatermarkRenderer::StampText(TBitmap &frame, const TWmRec &mark) {
  if (mark.Text.empty() || mark.TextWidth <= 0 || mark.TextHeight <= 0) return;
  TBitmap box(mark.TextWidth, mark.TextHeight);
  if (!mark.OpaqueBackground) {
    // Transparent: the box starts as the frame's own pixels, so blending changes only
    // the text strokes. Parts of the box outside the frame stay black and are clipped
    // by the blend anyway.
    for (int r = 0; r < box.Height(); ++r) {
      const int fy = mark.TextTop + r;
      if (fy < 0 || fy >= frame.Height()) continue;
      const int x0 = std::max(0, mark.TextLeft), x1 = std::min(frame.Width(), mark.TextLeft + box.Width());
      if (x1 <= x0) continue;
      std::memcpy(box.ScanLine(r) + (x0 - mark.TextLeft) * 3, frame.ScanLine(fy) + x0 * 3,
                  static_cast<std::size_t>(x1 - x0) * 3);
    }
  }
  {
    QImage image = WrapBitmap(box);
    DrawTextBox(image, mark);
  }
  BlendBitmap(frame, box, mark.TextLeft, mark.TextTop, mark.TextOpacity);
}

QImage TWatermarkRenderer::TextLayer(const TWmRec &mark) {
  QImage image(std::max(1, mark.TextWidth), std::max(1, mark.TextHeight),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  if (!mark.Text.empty()) DrawTextBox(image, mark);
  return image;
}

void TWatermarkRenderer::StampPicture(TBitmap &frame, const TBitmap &picture, const TWmRec &mark,
                                      const std::vector<std::uint8_t> *alpha) {
  BlendBitmap(frame, picture, mark.PictureLeft, mark.PictureTop, mark.PictureOpacity, alpha);
}

QImage TWatermarkRenderer::PictureLayer(const std::string &fileName) {
  QImage image(QString::fromStdString(fileName));
  if (image.isNull()) return image;
  // Colours without premultiplying, so that a transparent pixel keeps its own colour.
  return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_BGR888);
}

const TWatermarkRenderer::TPicture &TWatermarkRenderer::Load(const std::string &fileName) {
  std::lock_guard lock(cacheLock_);
  auto &slot = pictures_[fileName];
  if (!slot) {
    const QImage image = PictureLayer(fileName);
    if (image.isNull()) {
      pictures_.erase(fileName);
      throw TWatermarkError("Cannot load the watermark picture " + fileName + ".");
    }
    auto picture = std::make_unique<TPicture>();
    picture->Pixels.SetSize(image.width(), image.height());
    const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < image.height(); ++y)
      std::memcpy(picture->Pixels.ScanLine(y), bgr.constScanLine(y),
                  static_cast<std::size_t>(image.width()) * 3);
    if (image.hasAlphaChannel()) {
      picture->Alpha.resize(static_cast<std::size_t>(image.width()) * image.height());
      for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
          picture->Alpha[static_cast<std::size_t>(y) * image.width() + x] =
              static_cast<std::uint8_t>(qAlpha(row[x]));
      }
    }
    slot = std::move(picture);
  }
  return *slot;
}

const TBitmap &TWatermarkRenderer::Picture(const std::string &fileName) { return Load(fileName).Pixels; }

void TWatermarkRenderer::Plan(const TlvFilesRecord &record, std::int64_t ptsUs, THookPlanes *planes,
                              THookPlan &plan) {
  if (!planes) return;
  plan.Regions.clear();
  for (const TWmRec &mark : record.Watermarks) {
    if (!mark.CoversTime(ptsUs)) continue;
    if (mark.Kind == TWmRec::wkText) {
      if (!mark.Text.empty())
        plan.Regions.push_back({mark.TextLeft, mark.TextTop, mark.TextWidth, mark.TextHeight});
    } else if (!mark.PictureFile.empty()) {
      try {
        const TBitmap &picture = Load(mark.PictureFile).Pixels;
        plan.Regions.push_back({mark.PictureLeft, mark.PictureTop, picture.Width(), picture.Height()});
      } catch (const TWatermarkError &) {
        plan.Regions.clear();
        return; // whole frame: Render meets the error and reports it
      }
    }
  }
  // The adjustments go on the planes in the bitmap pass's own math, so that only the
  // watermark boxes still need the bitmap (Render then skips the adjustments).
  ApplyPictureEffects(*planes, record.Brightness, record.Contrast, record.Saturation, record.Exposure);
  plan.WholeFrame = false;
}

void TWatermarkRenderer::Render(TBitmap &frame, const TlvFilesRecord &record, std::int64_t ptsUs,
                                const THookPlan *planned) {
  if (!planned || planned->WholeFrame)
    ApplyPictureEffects(frame, record.Brightness, record.Contrast, record.Saturation, record.Exposure);
  for (const TWmRec &mark : record.Watermarks) {
    if (!mark.CoversTime(ptsUs)) continue;
    if (mark.Kind == TWmRec::wkText) {
      StampText(frame, mark);
    } else if (!mark.PictureFile.empty()) {
      const TPicture &picture = Load(mark.PictureFile);
      StampPicture(frame, picture.Pixels, mark, picture.Alpha.empty() ? nullptr : &picture.Alpha);
    }
  }
}

} // namespace tovi
