// The host's view of a running engine: the callbacks it installs, the frame previewer
// it supplies, and the worker-thread priority it asks for.
//
// Every callback runs on the job's thread. A host that must touch its user interface
// forwards the call to its main thread itself (the converter component does so when
// told to); a callback must never block waiting for that main thread while the main
// thread waits for the job.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tovi {

class TBitmap;
class TCustomFFmpeg;

// One progress report. frameNumber, fps and quality are -1 when the output has no video
// stream; quality is -1 for a stream copy; inputIndex is -1 in the final report;
// totalUs is -1 when the job's length is unknown.
using TProgressEvent =
    std::function<void(TCustomFFmpeg &engine, int inputIndex, int frameNumber, int fps, float quality,
                       float bitRateKbps, std::int64_t sizeBytes, std::int64_t timeUs, std::int64_t totalUs)>;
// The end of the job, sent exactly once per engine; the host reads CompletedNormally,
// ErrorOccurred and ErrorMessage inside it.
using TTerminateEvent = std::function<void(TCustomFFmpeg &engine)>;
// A decoded picture as a 24-bit bitmap. The host may draw on it; update false leaves
// the picture as it was; stopHook true ends all hooking for the rest of the job.
using TCustomHookEvent = std::function<void(TCustomFFmpeg &engine, TBitmap &bitmap, int frameNumber,
                                            std::int64_t pts, bool &update, bool &stopHook)>;

// An 8-bit planar YUV picture as the custom hook's planning step sees it (BT.601, the
// colours the bitmap conversion assumes too). The host may change the planes directly.
struct THookPlanes {
  std::uint8_t *Data[3] = {};
  int LineSize[3] = {};
  int Width = 0, Height = 0;
  int ChromaShiftX = 0, ChromaShiftY = 0; // log2 of the chroma subsampling
  bool FullRange = false;                 // levels 0..255 rather than 16..235/240
};
// A rectangle of the picture, in pixels.
struct THookRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};
// What the custom hook's handler will do to the next picture. WholeFrame: it may draw
// anywhere, the whole picture becomes the bitmap. Otherwise only Regions are converted
// into the bitmap (the rest of it holds stale pixels) and back; no region at all skips
// the handler for the picture.
struct THookPlan {
  bool WholeFrame = true;
  std::vector<THookRect> Regions;
};
// Asked before each picture goes to the custom hook. `planes` is null when the picture
// is not 8-bit planar YUV; a plan for such a picture is not followed (whole frame).
using TCustomHookPlanEvent = std::function<void(TCustomFFmpeg &engine, THookPlanes *planes, int frameNumber,
                                                std::int64_t pts, THookPlan &plan)>;
// A picture just given to the encoder, at the output size. The bitmap is reused for the
// next preview.
using TPreviewBitmapEvent =
    std::function<void(TCustomFFmpeg &engine, const TBitmap &bitmap, int frameNumber, std::int64_t pts)>;

// Bits of the engine's preview flags.
constexpr int PREVIEW_PREVIEWER = 1; // frames go to the floating frame previewer
constexpr int PREVIEW_BITMAP = 2;    // frames go to the host's preview-bitmap callback

// The floating preview window, seen from the engine. A user-interface library provides
// the real one; the engine only creates it through the process-wide factory and hands it
// frames from the job's thread.
class IFramePreviewer {
public:
  virtual ~IFramePreviewer() = default;
  // Shows one frame; false once the user has closed the window (previews then stop).
  virtual bool ShowFrame(const TBitmap &bitmap, int frameNumber, std::int64_t pts) = 0;
};
using TPreviewerFactory = std::function<std::unique_ptr<IFramePreviewer>()>;

// Installs the factory every engine uses to create its previewer on first use; an empty
// factory means no previewer can be made (previews through it then stop at once).
void SetPreviewerFactory(TPreviewerFactory factory);
// A new previewer from the installed factory, or null.
std::unique_ptr<IFramePreviewer> CreateFramePreviewer();

// Worker-thread priorities. Idle maps to SCHED_IDLE, the others to nice values.
enum class TThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

} // namespace tovi
