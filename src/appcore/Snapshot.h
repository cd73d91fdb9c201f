// Snapshot pictures of a player or a conversion preview: the full-size picture and the
// panel-size one, as BMP and as JPEG (libjpeg-turbo), into the snapshot folder.
//
// A snapshot never replaces a file: when "Snapshot_full.jpg" exists the next free name
// "Snapshot_full(2).jpg", "Snapshot_full(3).jpg", ... is taken, and the names written
// are reported. Each file is created exclusively and written whole; a file that could
// not be written completely is removed again and reported as an error.
//
// No widgets; any thread (each call works on its own copies).
#pragma once

#include <QImage>
#include <QSize>

#include <string>
#include <vector>

namespace tovi {

class TAppSettings;

// What the snapshot keys of the settings file ask for.
struct TSnapshotOptions {
  std::string Folder;
  bool FullSize = true;
  bool SmallSize = true;
  bool Bmp = true;
  bool Jpg = true;
  int JpgQuality = 30; // 1..100; values outside are clamped
};

// The snapshot keys of `settings`, the folder as stored (see PrepareSnapshotFolder).
TSnapshotOptions SnapshotOptionsFrom(const TAppSettings &settings);

// The folder the snapshot goes to. A stored folder that does not exist is created (with
// its parents); one that cannot be created is replaced by DefaultOutputDir(), which is
// created and written back as SnapOutPutDir, and `warning` gets the text to show.
std::string PrepareSnapshotFolder(TAppSettings &settings, std::string &warning);

// The panel-size picture: `full` stretched to `panel` (the picture's own shape is not
// kept, as the panel-size file shows the whole panel).
QImage PanelSizePicture(const QImage &full, QSize panel);

// The JPEG bytes of `image` at `quality` (1..100, clamped), 4:2:0, baseline. Empty on
// failure (a null image, an encoder error).
std::string EncodeJpeg(const QImage &image, int quality);

struct TSnapshotResult {
  std::vector<std::string> Written; // full paths, in the order full BMP, small BMP, full JPEG, small JPEG
  std::string Error;                // empty when every asked-for file was written
};

// Writes the files `options` asks for (each needs both its size and its format flag).
// Nothing is written when `full` is null.
TSnapshotResult WriteSnapshots(const QImage &full, const QImage &small, const TSnapshotOptions &options);

// Creates `folder`/`stem`.`ext`, or the first free `stem`(n).`ext` for n = 2, 3, ...,
// exclusively, and writes `bytes` into it. Returns the path written, or "" with `error`
// set (and no file left behind).
std::string WriteNewFile(const std::string &folder, const std::string &stem, const std::string &ext,
                         const std::string &bytes, std::string &error);

} // namespace tovi
