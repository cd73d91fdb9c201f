#include "appcore/WatermarkList.h"

#include <QtGui/QImageReader>

#include <algorithm>
#include <utility>

#include "appcore/WatermarkRenderer.h"

namespace tovi {

const std::array<TColor, 16> &StandardColors() {
  static const std::array<TColor, 16> colors{
      MakeColor(0, 0, 0),       MakeColor(128, 0, 0),   MakeColor(0, 128, 0),   MakeColor(128, 128, 0),
      MakeColor(0, 0, 128),     MakeColor(128, 0, 128), MakeColor(0, 128, 128), MakeColor(128, 128, 128),
      MakeColor(192, 192, 192), MakeColor(255, 0, 0),   MakeColor(0, 255, 0),   MakeColor(255, 255, 0),
      MakeColor(0, 0, 255),     MakeColor(255, 0, 255), MakeColor(0, 255, 255), MakeColor(255, 255, 255)};
  return colors;
}

int StandardColorIndex(TColor color) {
  const auto &colors = StandardColors();
  const auto it = std::find(colors.begin(), colors.end(), color);
  return it == colors.end() ? -1 : static_cast<int>(it - colors.begin());
}

TWmStyle DefaultWmStyle(const std::string &firstFontName) {
  TWmStyle style;
  style.Font.Name = firstFontName;
  style.Font.Size = 26;
  style.Font.Color = StandardColors()[12]; // blue
  style.BackgroundColor = StandardColors()[2];
  style.OpaqueBackground = true;
  style.Opacity = 125;
  return style;
}

TWmRec TWmItem::ToRecord() const {
  TWmRec rec;
  rec.Kind = Kind;
  rec.Start = Start;
  rec.End = End;
  if (Kind == TWmRec::wkText) {
    rec.Text = Text;
    rec.Font = Font;
    rec.TextLeft = Left;
    rec.TextTop = Top;
    rec.TextWidth = Width;
    rec.TextHeight = Height;
    rec.TextOpacity = Opacity;
    rec.BackgroundColor = BackgroundColor;
    rec.OpaqueBackground = OpaqueBackground;
  } else {
    rec.PictureFile = PictureFile;
    rec.PictureLeft = Left;
    rec.PictureTop = Top;
    rec.PictureWidth = Width;
    rec.PictureHeight = Height;
    rec.PictureOpacity = Opacity;
  }
  return rec;
}

void TWatermarkList::Load(const TlvFilesRecord &record) {
  items_.clear();
  for (const TWmRec &rec : record.Watermarks) {
    TWmItem item;
    item.Kind = rec.Kind == TWmRec::wkPicture ? TWmRec::wkPicture : TWmRec::wkText;
    item.Start = rec.Start;
    item.End = rec.End;
    item.Font = rec.Font;
    item.BackgroundColor = rec.BackgroundColor;
    item.OpaqueBackground = rec.OpaqueBackground;
    if (item.Kind == TWmRec::wkText) {
      item.Text = rec.Text;
      item.Left = rec.TextLeft;
      item.Top = rec.TextTop;
      item.Width = rec.TextWidth;
      item.Height = rec.TextHeight;
      item.Opacity = rec.TextOpacity;
    } else {
      item.PictureFile = rec.PictureFile;
      item.Left = rec.PictureLeft;
      item.Top = rec.PictureTop;
      item.Width = rec.PictureWidth;
      item.Height = rec.PictureHeight;
      item.Opacity = rec.PictureOpacity;
    }
    items_.push_back(std::move(item));
  }
}

void TWatermarkList::WriteTo(TlvFilesRecord &record) const {
  record.Watermarks.resize(items_.size());
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const TWmItem &item = items_[i];
    TWmRec &rec = record.Watermarks[i];
    rec.Kind = item.Kind;
    rec.Start = item.Start;
    rec.End = item.End;
    if (item.Kind == TWmRec::wkText) {
      rec.Text = item.Text;
      rec.TextLeft = item.Left;
      rec.TextTop = item.Top;
      rec.TextWidth = item.Width;
      rec.TextHeight = item.Height;
      rec.TextOpacity = item.Opacity;
      rec.Font = item.Font;
      rec.BackgroundColor = item.BackgroundColor;
      rec.OpaqueBackground = item.OpaqueBackground;
    } else {
      rec.PictureFile = item.PictureFile;
      rec.PictureLeft = item.Left;
      rec.PictureTop = item.Top;
      rec.PictureWidth = item.Width;
      rec.PictureHeight = item.Height;
      rec.PictureOpacity = item.Opacity;
    }
  }
}

int TWatermarkList::AddText(const TWmStyle &style, int frameWidth, int frameHeight, int durationSeconds) {
  TWmItem item;
  item.Kind = TWmRec::wkText;
  item.Text = kNewText;
  item.Font = style.Font;
  item.BackgroundColor = style.BackgroundColor;
  item.OpaqueBackground = style.OpaqueBackground;
  item.Opacity = std::clamp(style.Opacity, 0, 255);
  MeasureText(item.Text, item.Font, item.Width, item.Height);
  item.Left = (frameWidth - item.Width) / 2;
  item.Top = (frameHeight - item.Height) / 2;
  item.Start = 0;
  item.End = std::max(0, durationSeconds);
  items_.push_back(std::move(item));
  return Count() - 1;
}

int TWatermarkList::AddPicture(const std::string &file, int opacity, int frameWidth, int frameHeight,
                               int durationSeconds) {
  // Only the size is needed here; the renderer reads the pixels at conversion time.
  QImageReader reader(QString::fromStdString(file));
  const QSize size = reader.size().isValid() ? reader.size() : reader.read().size();
  if (!size.isValid() || size.isEmpty())
    throw TWatermarkError("Cannot load the watermark picture " + file + ": " +
                          reader.errorString().toStdString() + ".");
  TWmItem item;
  item.Kind = TWmRec::wkPicture;
  item.PictureFile = file;
  item.Opacity = std::clamp(opacity, 0, 255);
  item.Width = size.width();
  item.Height = size.height();
  item.Left = (frameWidth - item.Width) / 2;
  item.Top = (frameHeight - item.Height) / 2;
  item.Start = 0;
  item.End = std::max(0, durationSeconds);
  items_.push_back(std::move(item));
  return Count() - 1;
}

int TWatermarkList::Delete(int index) {
  if (index < 0 || index >= Count()) return items_.empty() ? -1 : 0;
  items_.erase(items_.begin() + index);
  if (items_.empty()) return -1;
  return std::max(0, index - 1);
}

int TWatermarkList::MoveUp(int index) {
  if (index <= 0 || index >= Count()) return index;
  std::swap(items_[static_cast<std::size_t>(index)], items_[static_cast<std::size_t>(index - 1)]);
  return index - 1;
}

int TWatermarkList::MoveDown(int index) {
  if (index < 0 || index + 1 >= Count()) return index;
  std::swap(items_[static_cast<std::size_t>(index)], items_[static_cast<std::size_t>(index + 1)]);
  return index + 1;
}

void TWatermarkList::SetText(int index, const std::string &text) {
  TWmItem &item = Item(index);
  if (item.Kind != TWmRec::wkText) return;
  item.Text = text;
  FitTextBox(index);
}

void TWatermarkList::FitTextBox(int index) {
  TWmItem &item = Item(index);
  if (item.Kind != TWmRec::wkText) return;
  MeasureText(item.Text.empty() ? std::string(" ") : item.Text, item.Font, item.Width, item.Height);
}

} // namespace tovi
