// What the custom hook costs a conversion: a 720p clip converted with the hook doing
// brightness/contrast/saturation, exposure, one text and one picture watermark (a PNG
// with transparency), against
// the same conversion without the hook, in the same run. Also the renderer alone on a
// 720p bitmap, and the adjustments on a 720p picture's planes against the scaler's
// round trip through the bitmap, per frame.
//
// usage: watermark_bench [SOURCE]   (default: $TOVI_FIXTURE_DIR/h264_aac.mp4)
// The source is first turned into a 720p MPEG-4 clip; both timed conversions read it
// and write MPEG-4 at its own size, so the encoder's share stays small.
#include <QtGui/QImage>
#include <QtGui/QPainter>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "BenchUtil.h"
#include "appcore/ConversionQueue.h"
#include "appcore/IniFile.h"
#include "appcore/PictureEffects.h"
#include "appcore/ProfileCatalog.h"
#include "appcore/ProfileChoices.h"
#include "appcore/WatermarkRenderer.h"
#include "converter/Converter.h"
#include "engine/EngineEvents.h"
#include "media/Bitmap.h"
#include "media/EntryPoints.h"
#include "media/Owners.h"
#include "media/RGBHolder.h"

using namespace tovi;

namespace {

constexpr int kProfile = 2302; // "MPEG-4 Video (*.mp4)"

// Converts `rows` and returns the number of video frames of the last report.
int Convert(TFFConverter &converter, const TGlobalObject &global, std::vector<TFileRow> &rows,
            const std::string &outDir) {
  TConversionQueue queue(converter, global);
  int frames = 0;
  bool finished = false;
  std::string error;
  converter.SetOnCustomHook([&](TCustomConverter &, PHookInfo info) { queue.HandleCustomHook(*info, rows); });
  converter.SetOnProgress(
      [&](TCustomConverter &, PProgressInfo info) { frames = std::max(frames, info->FrameNumber); });
  converter.SetOnTerminate([&](TCustomConverter &, const TTerminateInfo &info) {
    if (info.TaskIndex >= 0) {
      finished = info.Finished;
      error = info.ExceptionMsg;
    }
  });
  TStartOptions options;
  options.ProfileCode = kProfile;
  options.OutDir = outDir;
  if (!queue.StartConversion(rows, options) || !queue.RowErrors().empty()) {
    std::fprintf(stderr, "cannot start: %s\n",
                 queue.RowErrors().empty() ? "" : queue.RowErrors()[0].second.c_str());
    std::exit(1);
  }
  converter.SetPreview(false);
  converter.StartTask(0);
  converter.ClearTasks();
  if (!finished) {
    std::fprintf(stderr, "conversion failed: %s\n", error.c_str());
    std::exit(1);
  }
  return frames;
}

} // namespace

int main(int argc, char **argv) {
  const char *fixtures = std::getenv("TOVI_FIXTURE_DIR");
  const std::string source =
      argc > 1 ? argv[1] : std::string(fixtures ? fixtures : "tests/media") + "/h264_aac.mp4";
  const auto work = std::filesystem::temp_directory_path() / ("tovi-wm-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(work / "config");
  ::setenv("TOVI_CONFIG_DIR", (work / "config").c_str(), 1);
  EnsureGuiApplication();

  TFFConverter converter;
  if (!converter.LoadLibraries("")) {
    std::fprintf(stderr, "%s\n", converter.LastErrorText().c_str());
    return 1;
  }
  converter.SetThreadCount(1); // one core for the job: the hook's share is not hidden by threads
  const TGlobalObject global;
  TIniFile settings(global.SettingsFile());
  EnsureUserProfileSection(settings, TIniFile(global.ProfileFile()), kProfile);
  const std::string s = ProfileSection(kProfile);
  settings.WriteString(s, "paraVideoEncoder", "mpeg4");
  settings.WriteString(s, "paraAudioEncoder", "libfaac");
  settings.WriteString(s, "paraVideoBitRate", "4000");
  settings.WriteString(s, "paraZoom", "full");

  // The 720p source.
  settings.WriteString(s, "paraVideoSize", "1280x720");
  std::vector<TFileRow> make{{source, true, {}, {}}};
  Convert(converter, global, make, (work / "src").string());
  const std::string clip = make[0].Record.DestinationFile;
  settings.WriteString(s, "paraVideoSize", "as source");

  // A logo as users have them: a PNG whose transparency blends pixel by pixel.
  const std::string picture = (work / "logo.png").string();
  QImage logo(200, 80, QImage::Format_ARGB32);
  logo.fill(Qt::transparent);
  QPainter(&logo).fillRect(10, 10, 180, 60, QColor(250, 200, 40, 200));
  logo.save(QString::fromStdString(picture));
  TlvFilesRecord hooked;
  hooked.Brightness = 300;
  hooked.Contrast = 20;
  hooked.Saturation = 200;
  hooked.Exposure = 40;
  TWmRec text;
  text.Text = "Tovi Video Converter";
  text.TextLeft = 40;
  text.TextTop = 600;
  text.TextOpacity = 180;
  text.End = 100000;
  MeasureText(text.Text, text.Font, text.TextWidth, text.TextHeight);
  TWmRec pic;
  pic.Kind = TWmRec::wkPicture;
  pic.PictureFile = picture;
  pic.PictureLeft = 1040;
  pic.PictureTop = 20;
  pic.PictureOpacity = 128;
  pic.End = 100000;
  hooked.Watermarks = {text, pic};

  constexpr int Rounds = 5;
  int frames = 0;
  const double plainUs = bench::MedianMicros(Rounds, [&] {
    std::vector<TFileRow> rows{{clip, true, {}, {}}};
    frames = Convert(converter, global, rows, (work / "out").string());
  });
  const double hookUs = bench::MedianMicros(Rounds, [&] {
    std::vector<TFileRow> rows{{clip, true, hooked, {}}};
    Convert(converter, global, rows, (work / "out").string());
  });
  // Watermarks without adjustments: only their boxes go through the bitmap.
  TlvFilesRecord marked;
  marked.Watermarks = hooked.Watermarks;
  const double marksUs = bench::MedianMicros(Rounds, [&] {
    std::vector<TFileRow> rows{{clip, true, marked, {}}};
    Convert(converter, global, rows, (work / "out").string());
  });

  // The same pair with every core, as users run it: the encoder then works on its own
  // thread beside the hook.
  converter.SetThreadCount(0);
  const double plainAllUs = bench::MedianMicros(Rounds, [&] {
    std::vector<TFileRow> rows{{clip, true, {}, {}}};
    Convert(converter, global, rows, (work / "out").string());
  });
  const double hookAllUs = bench::MedianMicros(Rounds, [&] {
    std::vector<TFileRow> rows{{clip, true, hooked, {}}};
    Convert(converter, global, rows, (work / "out").string());
  });

  // The renderer alone on a 720p frame.
  TBitmap frame(1280, 720);
  for (int y = 0; y < 720; ++y)
    for (int i = 0; i < 1280 * 3; ++i)
      frame.ScanLine(y)[i] = static_cast<std::uint8_t>(i + y);
  TWatermarkRenderer renderer;
  const double effectsUs = bench::MedianMicros(50, [&] {
    ApplyPictureEffects(frame, hooked.Brightness, hooked.Contrast, hooked.Saturation, hooked.Exposure);
  });
  const double renderUs = bench::MedianMicros(50, [&] { renderer.Render(frame, hooked, 0); });

  // The adjustments of one 720p 4:2:0 picture: on its planes, against the whole-frame
  // path (the scaler's round trip through the bitmap with the 24-bit pass between).
  FramePtr yuv(ff::av_frame_alloc());
  yuv->format = AV_PIX_FMT_YUV420P;
  yuv->width = 1280;
  yuv->height = 720;
  if (ff::av_frame_get_buffer(yuv.get(), 0) < 0) return 1;
  for (int c = 0; c < 3; ++c)
    for (int y = 0; y < (c ? 360 : 720); ++y)
      for (int x = 0; x < (c ? 640 : 1280); ++x)
        yuv->data[c][y * yuv->linesize[c] + x] = static_cast<std::uint8_t>(x * (c + 1) + y);
  THookPlanes planes;
  for (int c = 0; c < 3; ++c) {
    planes.Data[c] = yuv->data[c];
    planes.LineSize[c] = yuv->linesize[c];
  }
  planes.Width = 1280;
  planes.Height = 720;
  planes.ChromaShiftX = planes.ChromaShiftY = 1;
  const double planesUs = bench::MedianMicros(50, [&] {
    ApplyPictureEffects(planes, hooked.Brightness, hooked.Contrast, hooked.Saturation, hooked.Exposure);
  });
  TRGBHolder holder;
  const double roundTripUs = bench::MedianMicros(50, [&] {
    ConvertToBitmap(holder, yuv.get());
    ApplyPictureEffects(*holder.Bitmap, hooked.Brightness, hooked.Contrast, hooked.Saturation,
                        hooked.Exposure);
    ConvertFromBitmap(holder, yuv.get());
  });

  std::printf("720p clip, %d frames, MPEG-4 at its own size, 1 encoder thread\n", frames);
  std::printf("  without hook            %9.1f ms\n", plainUs / 1000);
  std::printf("  hook (effects+text+pic) %9.1f ms\n", hookUs / 1000);
  std::printf("  ratio hook/plain        %9.2f\n", hookUs / plainUs);
  std::printf("  hook (text+pic only)    %9.1f ms\n", marksUs / 1000);
  std::printf("  ratio marks/plain       %9.2f\n", marksUs / plainUs);
  if (frames > 0) std::printf("  added per frame         %9.2f ms\n", (hookUs - plainUs) / frames / 1000);
  std::printf("every core: without hook %.1f ms, hook (effects+text+pic) %.1f ms, ratio %.2f\n",
              plainAllUs / 1000, hookAllUs / 1000, hookAllUs / plainAllUs);
  std::printf("renderer alone per 720p frame: effects %.2f ms, effects + text + picture %.2f ms\n",
              effectsUs / 1000, renderUs / 1000);
  std::printf("adjustments per 720p 4:2:0 picture: on the planes %.2f ms, scaler round trip + 24-bit pass "
              "%.2f ms\n",
              planesUs / 1000, roundTripUs / 1000);
  std::printf("peak RSS %ld KiB\n", bench::PeakRssKiB());
  std::filesystem::remove_all(work);
  return 0;
}
