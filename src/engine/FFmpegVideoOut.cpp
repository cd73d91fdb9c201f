// The video output of the pipeline: frame-rate synchronisation (drop and duplicate),
// crop by plane offsets, scaling, size changes, encoding and the statistics file.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/SendReceive.h"
#include "media/Texts.h"

namespace tovi {

namespace {

bool VariableFrameRateMuxer(const AVFormatContext *oc) {
  return oc && oc->oformat && (oc->oformat->flags & AVFMT_VARIABLE_FPS);
}

} // namespace

int TCustomFFmpeg::VideoFramesToEmit(TOutputStreamRecord &ost) {
  const AVCodecContext *enc = ost.Encoder;
  const double sync = SyncTime(ost) / av_q2d(enc->time_base);
  int frames = 1;
  const int method = job_.VideoSyncMethod;
  if (method == 0) {
    ost.SyncOutputPts = std::llrint(sync);
    return frames;
  }
  const double delta = sync - double(ost.SyncOutputPts);
  const AVFormatContext *oc = outputFiles_[size_t(ost.FileIndex)]->Context.get();
  if (delta < -1.1) {
    frames = 0;
  } else if (method == 2 || (method == -1 && VariableFrameRateMuxer(oc))) {
    if (delta <= -0.6)
      frames = 0;
    else if (delta > 0.6)
      ost.SyncOutputPts = std::llrint(sync);
  } else if (delta > 1.1) {
    frames = int(std::lrint(delta));
  }
  if (frames == 0) {
    ++droppedFrames_;
    frameCountsChanged_ = true;
    if (job_.Verbose > 2) Log(llVerbose, "*** drop!");
  } else if (frames > 1) {
    duplicatedFrames_ += frames - 1;
    frameCountsChanged_ = true;
    if (job_.Verbose > 2) LogFmt(llVerbose, "*** %d dup!", frames - 1);
  }
  return frames;
}

void TCustomFFmpeg::RebuildScaler(TOutputStreamRecord &ost, const TInputStreamRecord &ist,
                                  const AVFrame *picture) {
  AVCodecContext *enc = ost.Encoder;
  if (ost.InitialWidth > 0 && ost.InitialHeight > 0) {
    // The crop keeps its share of the picture, on even lines and columns.
    ost.TopBand = (picture->height * ost.InitialTopBand / ost.InitialHeight) & ~1;
    ost.BottomBand = (picture->height * ost.InitialBottomBand / ost.InitialHeight) & ~1;
    ost.LeftBand = (picture->width * ost.InitialLeftBand / ost.InitialWidth) & ~1;
    ost.RightBand = (picture->width * ost.InitialRightBand / ost.InitialWidth) & ~1;
  } else {
    ost.InitialWidth = picture->width;
    ost.InitialHeight = picture->height;
  }
  ost.VideoCrop = ost.TopBand || ost.BottomBand || ost.LeftBand || ost.RightBand;
  ost.ResampleWidth = picture->width - ost.LeftBand - ost.RightBand;
  ost.ResampleHeight = picture->height - ost.TopBand - ost.BottomBand;
  ost.ResamplePixelFormat = picture->format;
  if (!ost.TemporaryPicture) {
    ost.TemporaryPicture = MakeFrame();
    if (!ost.TemporaryPicture) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    ost.TemporaryPicture->format = enc->pix_fmt;
    ost.TemporaryPicture->width = enc->width;
    ost.TemporaryPicture->height = enc->height;
    if (ff::av_frame_get_buffer(ost.TemporaryPicture.get(), 0) < 0)
      throw FFmpegException("Cannot allocate temp picture, check pix fmt");
  }
  ost.Scaler.reset();
  std::int64_t flags = job_.ScalerFlags;
  if (SwsContext *options = optionContexts_ ? optionContexts_->ScalerOptions() : nullptr;
      options && ff::av_opt_get_int(options, "sws_flags", 0, &flags) >= 0)
    job_.ScalerFlags = int(flags);
  if (ost.ResampleWidth > 0 && ost.ResampleHeight > 0)
    ost.Scaler.reset(ff::sws_getContext(ost.ResampleWidth, ost.ResampleHeight, AVPixelFormat(picture->format),
                                        enc->width, enc->height, enc->pix_fmt, job_.ScalerFlags, nullptr,
                                        nullptr, nullptr));
  if (!ost.Scaler) throw FFmpegException("Cannot get resampling context");
  ost.VideoResample = true;
  (void)ist;
}

AVFrame *TCustomFFmpeg::PrepareVideoPicture(TOutputStreamRecord &ost, const TInputStreamRecord &ist,
                                            AVFrame *picture) {
  if (usingVideoFilters_) return picture; // the graph has cropped and scaled already
  const int croppedWidth = picture->width - ost.LeftBand - ost.RightBand;
  const int croppedHeight = picture->height - ost.TopBand - ost.BottomBand;
  if (croppedWidth != ost.ResampleWidth || croppedHeight != ost.ResampleHeight ||
      picture->format != ost.ResamplePixelFormat) {
    const char *format = ff::av_get_pix_fmt_name(AVPixelFormat(picture->format));
    LogFmt(llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s", ist.FileIndex, ist.StreamIndex,
           picture->width, picture->height, format ? format : "none");
    // A stream that needed no scaler gets one now: the encoder keeps its size.
    RebuildScaler(ost, ist, picture);
  }

  AVFrame *source = picture;
  if (ost.VideoCrop) {
    if (!cropFrame_) cropFrame_ = MakeFrame();
    if (!cropFrame_) throw FFmpegException("av_frame_alloc fail");
    ff::av_frame_unref(cropFrame_.get());
    int rc = ff::av_frame_ref(cropFrame_.get(), picture);
    if (rc >= 0) {
      cropFrame_->crop_top = size_t(ost.TopBand);
      cropFrame_->crop_bottom = size_t(ost.BottomBand);
      cropFrame_->crop_left = size_t(ost.LeftBand);
      cropFrame_->crop_right = size_t(ost.RightBand);
      rc = ff::av_frame_apply_cropping(cropFrame_.get(), AV_FRAME_CROP_UNALIGNED);
    }
    if (rc < 0) {
      if (job_.ExitOnError) throw FFmpegException("error cropping picture");
      Log(llError, "error cropping picture");
      return nullptr;
    }
    source = cropFrame_.get();
  }
  if (!ost.VideoResample) return source;
  AVFrame *scaled = ost.TemporaryPicture.get();
  // The encoder (or the encode stage's queue) may still hold the last picture, so the
  // scaler writes into a new buffer; av_frame_make_writable would first copy the old
  // contents, which the scaler overwrites whole.
  const AVCodecContext *enc = ost.Encoder;
  ff::av_frame_unref(scaled);
  scaled->format = enc->pix_fmt;
  scaled->width = enc->width;
  scaled->height = enc->height;
  if (ff::av_frame_get_buffer(scaled, 0) < 0)
    throw FFmpegException("Cannot allocate temp picture, check pix fmt");
  ff::sws_scale(ost.Scaler.get(), source->data, source->linesize, 0, source->height, scaled->data,
                scaled->linesize);
  return scaled;
}

bool TCustomFFmpeg::EncodesApart(const TOutputStreamRecord &ost) const {
  // The encoder gets its own thread when the job has threads to spare. Not for the
  // modes that read the encoder's state after every picture (pass-1 statistics, PSNR,
  // the statistics file), nor for joined inputs, whose groups share one encoder.
  const AVCodecContext *enc = ost.Encoder;
  return job_.ThreadCount > 1 && !joinMode_ && !ost.PassLogFile && !(enc->flags & AV_CODEC_FLAG_PSNR) &&
         job_.VStatsFileName.empty();
}

int TCustomFFmpeg::EncodeVideoFrame(TOutputStreamRecord &ost, TInputStreamRecord &ist, AVFrame *picture,
                                    bool takeAspect) {
  AVCodecContext *enc = ost.Encoder;
  int frames = VideoFramesToEmit(ost);
  const int maxFrames = pending_.MaxFrames[AVMEDIA_TYPE_VIDEO];
  frames = int(std::min<std::int64_t>(frames, std::int64_t(maxFrames) - ost.FrameNumber));
  if (frames <= 0) return 0;

  AVFrame *source = PrepareVideoPicture(ost, ist, picture);
  if (!source) return 0;

  // A few pictures ahead keep the encoder busy; more would only hold memory.
  constexpr std::size_t kEncodeQueueDepth = 4;
  if (!ost.EncodeStage && EncodesApart(ost))
    ost.EncodeStage = std::make_unique<TVideoEncodeStage>(enc, kEncodeQueueDepth);
  if (!encodeFrame_) encodeFrame_ = MakeFrame();
  if (!encodedPacket_) encodedPacket_ = MakePacket();
  if (!encodeFrame_ || !encodedPacket_) throw FFmpegException("av_frame_alloc fail");
  int frameSize = 0;
  for (int i = 0; i < frames && !stopRequested_; ++i) {
    FramePtr queued;
    if (ost.EncodeStage) {
      queued = MakeFrame();
      if (!queued) throw FFmpegException("av_frame_alloc fail");
    }
    AVFrame *frame = ost.EncodeStage ? queued.get() : encodeFrame_.get();
    ff::av_frame_unref(frame);
    if (ff::av_frame_ref(frame, source) < 0) throw FFmpegException("av_frame_ref fail");
    frame->interlaced_frame = picture->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME))
      frame->top_field_first =
          pending_.TopFieldFirst == -1 ? picture->top_field_first : pending_.TopFieldFirst;
    frame->quality = pending_.SameQuality ? int(std::lrint(ist.Quality)) : enc->global_quality;
    if (pending_.MeThreshold == 0) frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->pts = ost.SyncOutputPts;
    // The preview shows the picture as it goes to the encoder, on this thread.
    if (PreviewFlags() != 0) RunPreviews(frame, enc);
    if (ost.EncodeStage) {
      ost.EncodeStage->Push(std::move(queued), takeAspect,
                            [&](AVPacket *packet) { WriteVideoPacket(ost, packet); });
    } else {
      const int rc = EncodeAndReceive(enc, frame, encodedPacket_.get(), [&](AVPacket *packet) {
        frameSize = packet->size;
        WriteVideoPacket(ost, packet);
        return 0;
      });
      if (rc < 0 && rc != AVERROR_EOF) throw FFmpegException("Video encoding failed");
      ff::av_frame_unref(frame);
    }
    ++ost.SyncOutputPts;
    ++ost.FrameNumber;
  }
  return frameSize;
}

void TCustomFFmpeg::WriteVideoPacket(TOutputStreamRecord &ost, AVPacket *packet) {
  AVCodecContext *enc = ost.Encoder;
  if (const std::uint8_t *stats = ff::av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, nullptr)) {
    ost.CodedQuality = int(stats[0] | stats[1] << 8 | stats[2] << 16 | unsigned(stats[3]) << 24);
    ost.CodedPictType = stats[4];
    const int errors = std::min<int>(stats[5], 4);
    for (int k = 0; k < errors; ++k) {
      std::uint64_t value = 0;
      for (int b = 7; b >= 0; --b)
        value = value << 8 | stats[8 + 8 * k + b];
      ost.CodedError[k] = value;
    }
  }
  videoBytes_ += packet->size;
  if (ost.PassLogFile && enc->stats_out) {
    const std::size_t length = std::strlen(enc->stats_out);
    if (ff::fwrite(enc->stats_out, 1, length, ost.PassLogFile.get()) != length)
      throw FFmpegException("Cannot write log file " + ost.PassLogFileName + " for pass-1 encoding");
  }
  // One picture lasts one tick of the encoder's time base; muxers that cut the stream
  // at its last packet's end (MP4 edit lists) need it.
  if (packet->duration <= 0) packet->duration = 1;
  packet->time_base = enc->time_base;
  WriteFrame(ost, packet);
}

void TCustomFFmpeg::WriteVideoStats(TOutputStreamRecord &ost, int frameSize) {
  const AVCodecContext *enc = ost.Encoder;
  if (enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
  if (!vstatsFile_) {
    vstatsFile_.reset(ff::fopen(job_.VStatsFileName.c_str(), "w"));
    if (!vstatsFile_) throw FFmpegException("fopen fail: " + job_.VStatsFileName);
  }
  std::FILE *file = vstatsFile_.get();
  ff::fprintf(file, "frame= %5d q= %2.1f ", ost.FrameNumber, double(ost.CodedQuality) / FF_QP2LAMBDA);
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    ff::fprintf(
        file, "PSNR= %6.2f ",
        -10.0 * std::log10(double(ost.CodedError[0]) / (double(enc->width) * enc->height * 255.0 * 255.0)));
  ff::fprintf(file, "f_size= %6d ", frameSize);
  const double timeBase = av_q2d(enc->time_base);
  const double t = std::max(double(ost.SyncOutputPts) * timeBase, 0.01);
  const double bitRate = frameSize * 8 / timeBase / 1000.0;
  const double averageBitRate = double(videoBytes_) * 8 / t / 1000.0;
  ff::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
              double(videoBytes_) / 1024, t, bitRate, averageBitRate);
  ff::fprintf(file, "type= %c\n", ff::av_get_picture_type_char(AVPictureType(ost.CodedPictType)));
}

} // namespace tovi
