// Stamps a file's picture adjustments and watermarks into converted frames.
//
// Runs in the converter's custom hook on the job's worker thread, with the frame's
// canvas locked by the caller. Text is drawn with QPainter on a QImage that wraps our
// BGR24 memory; that needs a QGuiApplication (fonts), which EnsureGuiApplication()
// provides for programs without windows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "appcore/FileRecord.h"
#include "engine/EngineEvents.h"

class QImage;

namespace tovi {

class TBitmap;

// Creates the process's QGuiApplication on the offscreen platform when the process has
// no Qt application object yet. Call on the main thread before the first text is
// rendered; a no-op when one exists (the GUI program's own).
void EnsureGuiApplication();

// A picture watermark whose file cannot be read.
class TWatermarkError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TWatermarkRenderer {
public:
  TWatermarkRenderer();
  ~TWatermarkRenderer();
  TWatermarkRenderer(const TWatermarkRenderer &) = delete;
  TWatermarkRenderer &operator=(const TWatermarkRenderer &) = delete;

  // One converted frame at `ptsUs`: the record's adjustments, then every watermark
  // whose time range covers the frame, in list order (later ones on top). `planned` is
  // the plan the frame was converted by: one Plan filled (not whole frame) has put the
  // adjustments on the planes already. Throws TWatermarkError for a picture file that
  // cannot be loaded.
  void Render(TBitmap &frame, const TlvFilesRecord &record, std::int64_t ptsUs,
              const THookPlan *planned = nullptr);

  // The engine's planning step for one frame: on a YUV picture (`planes` not null) the
  // adjustments are applied to the planes and only the boxes of the watermarks covering
  // the frame go through the bitmap. Otherwise, or when a picture cannot be loaded
  // (Render reports it), the plan stays whole frame and the planes are untouched.
  void Plan(const TlvFilesRecord &record, std::int64_t ptsUs, THookPlanes *planes, THookPlan &plan);

  // Draws one text watermark (its box at TextLeft/TextTop, TextWidth x TextHeight).
  static void StampText(TBitmap &frame, const TWmRec &mark);
  // The text box as the editor shows it over the frame: what StampText blends, on a
  // transparent image where the background is "Transparent" (opacity not applied).
  static QImage TextLayer(const TWmRec &mark);
  // Blends one picture at its own size; `alpha` as BlendBitmap takes it (null: opaque).
  static void StampPicture(TBitmap &frame, const TBitmap &picture, const TWmRec &mark,
                           const std::vector<std::uint8_t> *alpha = nullptr);
  // The picture of `fileName` as the editor shows it: with its alpha channel when it has
  // one (a PNG's transparent parts stay transparent in the output too); null when the
  // file cannot be read.
  static QImage PictureLayer(const std::string &fileName);

  // The picture of `fileName` as a 24-bit bitmap; cached per file for the renderer's
  // lifetime (one conversion run), so that a picture is read once, not per frame.
  const TBitmap &Picture(const std::string &fileName);

private:
  struct TPicture; // the pixels and, for a picture with transparency, its alpha
  const TPicture &Load(const std::string &fileName);

  std::mutex cacheLock_; // protects pictures_ (tasks may run side by side)
  std::map<std::string, std::unique_ptr<TPicture>> pictures_;
};

// The measured size of `text` in `font` (the box the watermark editor gives a new text
// item), in pixels.
void MeasureText(const std::string &text, const TWmFont &font, int &width, int &height);

} // namespace tovi
