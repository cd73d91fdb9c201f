// The one send/receive loop of every decoder and encoder call site.
//
// Each call feeds one input to the codec (null = flush: start draining) and hands every
// output the codec can now deliver to `sink`, handling AVERROR(EAGAIN) and AVERROR_EOF
// here so that call sites only see what they have to act on.
//
// Return value of DecodeAndReceive / EncodeAndReceive:
//   0                 the input was taken and every output delivered; the codec wants
//                     more input.
//   AVERROR_EOF       the codec is fully drained (only after a flush; also when input
//                     is sent to a codec that was already flushed). Reopen or
//                     avcodec_flush_buffers before sending again.
//   sink's result     the sink returned a negative value: delivery stopped there.
//                     Outputs not yet received stay in the codec. Meant for giving up
//                     (cancellation, a failed write): before sending more, the caller
//                     resets the codec with avcodec_flush_buffers, because the input of
//                     this call may not have been taken.
//   other negative    the codec's error from send or receive (e.g. AVERROR_INVALIDDATA
//                     for a corrupt packet); the caller decides whether to go on.
//
// `out` is a caller-owned scratch frame/packet reused for every output; it is unreferenced
// after the sink returns, so a sink that keeps an output moves the reference out
// (av_frame_move_ref / av_packet_move_ref). The sink runs on the calling thread.
// Not thread-safe per codec context: one thread drives a context at a time.
#pragma once

#include <functional>

#include "media/EntryPoints.h"

namespace tovi {

using TFrameSink = std::function<int(AVFrame *frame)>;
using TPacketSink = std::function<int(AVPacket *packet)>;

// Decoder: sends `packet` (null: flush) and delivers every decoded frame.
int DecodeAndReceive(AVCodecContext *decoder, const AVPacket *packet, AVFrame *out, const TFrameSink &sink);
// Encoder: sends `frame` (null: flush) and delivers every encoded packet.
int EncodeAndReceive(AVCodecContext *encoder, const AVFrame *frame, AVPacket *out, const TPacketSink &sink);

} // namespace tovi
