// Fitting an output stream's settings to what its encoder supports, and the
// rate-control override text of the "rc_override" option.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace tovi {

// When `encoder` lists pixel formats and the context's format is not among them, the
// first listed one; except that MJPEG keeps planar YUV 4:2:0 / 4:2:2 at a strictness of
// "unofficial" or looser. A null encoder changes nothing.
void ChoosePixelFormat(AVCodecContext *stream, const AVCodec *encoder);
// For DV: a pixel format that has a DV profile at the stream's size and rate.
void ChooseDvPixelFormat(AVCodecContext *stream, const AVCodec *encoder);
// For a format nobody chose (the source's): today's H.264 and Theora encoders also take
// 4:2:2, 4:4:4 and more than 8 bits, which few players decode; the encoders these
// outputs were made for took only 8-bit 4:2:0. When the context's format is not one
// such an encoder took, it becomes the first that it did and the result is true. Other
// codecs (and a null encoder) are left alone.
bool OfferDesignedPixelFormat(AVCodecContext *stream, const AVCodec *encoder);
// Encoders that refuse a frame size their chroma planes cannot halve (libx264 and
// libx265 need even sizes at 4:2:0): which sides must be even.
struct TEvenSides {
  bool Width = false;
  bool Height = false;
};
TEvenSides EvenSides(AVCodecID codec, AVPixelFormat format);
// The size made even on those sides: down to a multiple of two, and at least 2.
void EvenFrameSize(AVCodecID codec, AVPixelFormat format, int &width, int &height);
// When `encoder` lists sample formats and the context's format is not among them, the
// first listed one.
void ChooseSampleFormat(AVCodecContext *stream, const AVCodec *encoder);
// When `encoder` lists sample rates, the one nearest to the context's rate (the first of
// equals); a rate other than the requested one is logged at llWarning with `logSender`
// as "Requested sampling rate unsupported using closest supported (%d)".
void ChooseSampleRate(AVCodecContext *stream, const AVCodec *encoder, const void *logSender);

// "start,end,q" groups separated by "/": q > 0 is a fixed quantiser (quality factor
// 1.0), q <= 0 a quality factor of -q/100 (quantiser 0). An empty text gives no
// entries. Throws FFmpegException("error parsing rc_override") for a malformed group.
std::vector<RcOverride> ParseRcOverride(const std::string &text);
// Hands the entries to the encoder context (av_malloc'ed, freed with the context),
// replacing any it had. Throws FFmpegException when out of memory.
void SetRcOverride(AVCodecContext *encoder, const std::vector<RcOverride> &entries);

} // namespace tovi
