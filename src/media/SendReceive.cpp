#include "media/SendReceive.h"

namespace tovi {
namespace {

// Decoders and encoders follow the same protocol; only the four calls differ.
template <class In, class Out, class Sink>
int SendReceive(AVCodecContext *ctx, const In *in, Out *out, int (*send)(AVCodecContext *, const In *),
                int (*receive)(AVCodecContext *, Out *), void (*unref)(Out *), const Sink &sink) {
  int ret = send(ctx, in);
  // EAGAIN on send: the codec still holds outputs (a sink stopped early before); they
  // are delivered first and the input is sent again once the codec has room.
  bool inputPending = ret == AVERROR(EAGAIN);
  if (ret < 0 && !inputPending) return ret;
  for (;;) {
    ret = receive(ctx, out);
    if (ret == AVERROR(EAGAIN)) {
      if (!inputPending) return 0;
      inputPending = false;
      // A second EAGAIN with every output received would break the codec's contract; it
      // is passed on rather than looping.
      ret = send(ctx, in);
      if (ret < 0) return ret;
      continue;
    }
    if (ret < 0) return ret; // AVERROR_EOF: drained; anything else: codec error
    const int sinkResult = sink(out);
    unref(out);
    if (sinkResult < 0) return sinkResult;
  }
}

} // namespace

int DecodeAndReceive(AVCodecContext *decoder, const AVPacket *packet, AVFrame *out, const TFrameSink &sink) {
  return SendReceive(decoder, packet, out, ff::avcodec_send_packet, ff::avcodec_receive_frame,
                     ff::av_frame_unref, sink);
}

int EncodeAndReceive(AVCodecContext *encoder, const AVFrame *frame, AVPacket *out, const TPacketSink &sink) {
  return SendReceive(encoder, frame, out, ff::avcodec_send_frame, ff::avcodec_receive_packet,
                     ff::av_packet_unref, sink);
}

} // namespace tovi
