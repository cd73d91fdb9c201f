// The progress report of a running job: built every progress interval and at the end,
// handed to the host's progress callback or written to the log.
#include <array>
#include <cmath>
#include <mutex>
#include <string>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/StringFormat.h"

namespace tovi {

namespace {

// The quantiser histogram of the "qphist" option counts over every job of the process.
struct TQpHistogram {
  std::mutex mutex; // protects counts
  std::array<int, 52> counts{};
};
TQpHistogram &QpHistogram() {
  static TQpHistogram histogram;
  return histogram;
}

double Psnr(double error) { return -10.0 * std::log10(error); }

} // namespace

void TCustomFFmpeg::ReportProgress(bool isLast, int inputIndex) {
  if (!tables_ || outputCount_ == 0) return;
  const TTranscodeTables &t = *tables_;
  AVIOContext *pb = outputFiles_[0]->Context ? outputFiles_[0]->Context->pb : nullptr;
  std::int64_t totalSize = 0;
  if (pb) {
    totalSize = ff::avio_size(pb);
    if (totalSize < 0) totalSize = ff::avio_seek(pb, 0, SEEK_CUR);
    if (totalSize < 0) totalSize = 0;
  }
  std::string text;
  text.reserve(1024);
  double t1 = 1e10;
  int frameNumber = -1, fps = -1;
  float quality = -1;
  bool sawVideo = false;

  for (const TOutputStreamRecord &ost : t.OutputStreams) {
    const AVCodecContext *enc = ost.Encoder;
    const bool video = enc && enc->codec_type == AVMEDIA_TYPE_VIDEO;
    const float q = ost.EncodingNeeded ? float(ost.CodedQuality) / FF_QP2LAMBDA : -1.0f;
    if (video && sawVideo) text += StringFormat("q=%2.1f ", double(q));
    if (video && !sawVideo && ost.ActiveForReports) {
      sawVideo = true;
      const double elapsed = double(ff::av_gettime() - timerStartUs_) / 1e6;
      frameNumber = ost.FrameNumber;
      // Nothing encoded yet: no report at all.
      if (frameNumber < 1) return;
      fps = elapsed > 1 ? int(double(frameNumber) / elapsed + 0.5) : 0;
      quality = q;
      text += StringFormat("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, double(q));
      if (isLast) text += "L";
      if (pending_.QpHistogram) {
        TQpHistogram &histogram = QpHistogram();
        std::lock_guard lock(histogram.mutex);
        const long qp = std::lround(q);
        if (qp >= 0 && qp < long(histogram.counts.size())) ++histogram.counts[size_t(qp)];
        for (int j = 0; j < 32; ++j)
          text += StringFormat("%X", int(std::lround(std::log2(double(histogram.counts[size_t(j)]) + 1))));
      }
      if (enc->flags & AV_CODEC_FLAG_PSNR) {
        static const char planes[3] = {'Y', 'U', 'V'};
        double errorSum = 0, scaleSum = 0;
        text += "PSNR=";
        for (int j = 0; j < 3; ++j) {
          double error = 0;
          double scale = double(enc->width) * enc->height * 255.0 * 255.0;
          if (isLast) {
            error = double(enc->error[j]);
            scale *= frameNumber;
          } else {
            error = double(ost.CodedError[j]);
          }
          if (j) scale /= 4;
          errorSum += error;
          scaleSum += scale;
          text += StringFormat("%c:%2.2f ", planes[j], Psnr(error / scale));
        }
        text += StringFormat("*:%2.2f ", Psnr(errorSum / scaleSum));
      }
    }
    const double outputTime = double(ost.CurrentPts) * av_q2d(ost.Stream->time_base);
    if (outputTime > 0 && outputTime < t1) t1 = outputTime;
  }
  // Nothing written yet: the time reached is the start, not an "unknown" sentinel.
  if (t1 == 1e10) t1 = 0;
  if (t1 < 0.01) t1 = 0.01;

  if (onProgress_ || job_.Verbose > 0 || isLast) {
    const double bitRate = double(totalSize) * 8 / t1 / 1000.0;
    text +=
        StringFormat("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(totalSize) / 1024, t1, bitRate);
    if (duplicatedFrames_ || droppedFrames_)
      text += StringFormat(" dup=%d drop=%d", duplicatedFrames_, droppedFrames_);
    if (frameCountsChanged_ && job_.Verbose >= 0 && onProgress_) {
      frameCountsChanged_ = false;
      Log(llVerbose, text);
    }
    if (onProgress_)
      onProgress_(*this, inputIndex, frameNumber, fps, quality, float(bitRate), totalSize,
                  std::int64_t(t1 * 1000000.0), progressTotalUs_);
    else if (job_.Verbose >= 0)
      Log(llVerbose, text);
  }

  if (isLast && job_.Verbose >= 0) {
    const double sum = double(videoBytes_ + audioBytes_ + extraBytes_);
    const double overhead = sum > 0 ? (double(totalSize) - sum) * 100.0 / sum : 0;
    LogFmt(llVerbose, "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
           double(videoBytes_) / 1024, double(audioBytes_) / 1024, double(extraBytes_) / 1024, overhead);
  }
}

} // namespace tovi
