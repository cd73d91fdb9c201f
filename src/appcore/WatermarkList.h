// The watermark editor's list: one item per line, built from a file record, edited by
// the dialog (add, delete, reorder, move, restyle) and written back to the record when
// the user confirms. No windows here: the dialog keeps its controls and its layer view
// in step with this list.
//
// Threads: GUI thread only (the player's frames reach the dialog as copies).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "appcore/FileRecord.h"

namespace tovi {

// The sixteen colours of the colour lists, in list order (black, maroon, green, ...).
const std::array<TColor, 16> &StandardColors();
// Index of `color` in StandardColors(), -1 when it is not one of them.
int StandardColorIndex(TColor color);

// What a new text item takes from the dialog's property controls.
struct TWmStyle {
  TWmFont Font;                                 // name, size, styles, colour
  TColor BackgroundColor = StandardColors()[2]; // green
  bool OpaqueBackground = true;                 // "Background color" chosen
  int Opacity = 125;                            // the transparency track bar
};

// The style of a dialog whose list is empty: the first font of the list, 26 points,
// blue text on a green box, opacity 125.
TWmStyle DefaultWmStyle(const std::string &firstFontName);

// One line of the list: kind, text or picture file, style, box and time range.
struct TWmItem {
  int Kind = TWmRec::wkText;
  std::string Text;        // text items: the line's text
  std::string PictureFile; // picture items: the line's text is the file name
  TWmFont Font;
  TColor BackgroundColor = StandardColors()[2];
  bool OpaqueBackground = true;
  int Left = 0, Top = 0, Width = 0, Height = 0; // source-picture pixels
  int Opacity = 255;                            // 0..255
  int Start = 0, End = 0;                       // whole seconds

  const std::string &Caption() const { return Kind == TWmRec::wkText ? Text : PictureFile; }
  // The record the renderer stamps for this item (what the view shows it as).
  TWmRec ToRecord() const;
};

class TWatermarkList {
public:
  // The caption of a new text line, which the in-place editor then replaces.
  static constexpr const char *kNewText = "Add Text";

  // Rebuilds the items from the record's watermarks, in order.
  void Load(const TlvFilesRecord &record);
  // Ok: the record gets one watermark per line, in list order. An existing watermark at
  // a line's place is updated field by field (text lines set the text fields, picture
  // lines the picture fields, both the kind and the time range); missing ones are made.
  void WriteTo(TlvFilesRecord &record) const;

  int Count() const { return static_cast<int>(items_.size()); }
  const std::vector<TWmItem> &Items() const { return items_; }
  TWmItem &Item(int index) { return items_.at(static_cast<std::size_t>(index)); }
  const TWmItem &Item(int index) const { return items_.at(static_cast<std::size_t>(index)); }

  // Appends a text line "Add Text" in `style`, sized to the text, centred in a frame of
  // frameWidth x frameHeight, shown from second 0 to `durationSeconds`. Returns its index.
  int AddText(const TWmStyle &style, int frameWidth, int frameHeight, int durationSeconds);
  // Appends a picture line for `file`, at the picture's size, centred, with `opacity`.
  // Throws TWatermarkError (nothing added) when the file cannot be read as a picture.
  int AddPicture(const std::string &file, int opacity, int frameWidth, int frameHeight, int durationSeconds);
  // Removes line `index`; returns the line to select next (the previous one, else the
  // first, -1 when the list is empty).
  int Delete(int index);
  // Moves line `index` one place up (earlier, so further under the others) or down;
  // returns its new index (unchanged at either end).
  int MoveUp(int index);
  int MoveDown(int index);
  // A text line's new text: the box follows the text's extent, its corner stays.
  void SetText(int index, const std::string &text);
  // After a style change of a text line: the box follows the text's extent again.
  void FitTextBox(int index);

private:
  std::vector<TWmItem> items_;
};

} // namespace tovi
