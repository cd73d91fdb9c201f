// Muxing: every packet of an output stream reaches its file through the stream's
// bitstream filter chain and the interleaving writer.
#include <algorithm>
#include <vector>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/StringFormat.h"
#include "media/Texts.h"

namespace tovi {

TBitstreamFilterChain &TCustomFFmpeg::ChainOf(const TOutputStreamRecord &ost) {
  // Joined inputs share one file; its chains live with the first slot.
  const int slot = joinMode_ ? 0 : ost.FileIndex;
  return outputBitstreamFilters_.at(size_t(slot)).at(size_t(ost.StreamIndex));
}

void TCustomFFmpeg::InitializeBitstreamFilters() {
  for (const TOutputStreamRecord &ost : tables_->OutputStreams) {
    TBitstreamFilterChain &chain = ChainOf(ost);
    if (chain.Empty() || chain.Initialized()) continue;
    try {
      chain.Initialize(ost.Stream->codecpar, ost.Stream->time_base);
    } catch (const FFmpegException &error) {
      throw FFmpegException(StringFormat("%s for output stream #%d:%d (%s)", error.Message().c_str(),
                                         ost.FileIndex, ost.StreamIndex,
                                         ff::avcodec_get_name(ost.Stream->codecpar->codec_id)));
    }
    // The file's header describes the packets as they leave the chain (a start-code
    // conversion, for one, rewrites the extradata); the tag stays the one chosen.
    const AVCodecParameters *filtered = chain.Contexts().back()->par_out;
    const std::uint32_t tag = ost.Stream->codecpar->codec_tag;
    if (ff::avcodec_parameters_copy(ost.Stream->codecpar, filtered) < 0)
      throw FFmpegException("av_mallocz fail");
    ost.Stream->codecpar->codec_tag = tag;
  }
}

void TCustomFFmpeg::KeepDecodingTimeRising(TOutputStreamRecord &ost, const AVFormatContext *oc,
                                           AVPacket *packet) {
  if ((oc->oformat->flags & AVFMT_NOTIMESTAMPS) || packet->dts == AV_NOPTS_VALUE) return;
  // A damaged input can carry a timestamp that jumps away and back again; the muxer
  // refuses a decoding time that goes backwards, which would end the whole job over one
  // bad packet. Such a packet is moved to just after the one before (-xerror stops).
  if (ost.LastMuxDts != AV_NOPTS_VALUE) {
    const std::int64_t least = ost.LastMuxDts + ((oc->oformat->flags & AVFMT_TS_NONSTRICT) ? 0 : 1);
    if (packet->dts < least) {
      const std::string text =
          StringFormat("Timestamps going backwards in output stream #%d:%d: %lld after %lld, moved to %lld",
                       ost.FileIndex, ost.StreamIndex, static_cast<long long>(packet->dts),
                       static_cast<long long>(ost.LastMuxDts), static_cast<long long>(least));
      if (job_.ExitOnError) throw FFmpegException(text);
      // Every packet after one far ahead comes back too: one warning tells the user.
      Log(ost.MovedPackets++ == 0 ? llWarning : llVerbose, text);
      packet->dts = least;
    }
  }
  if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts) packet->pts = packet->dts;
  ost.LastMuxDts = packet->dts;
}

void TCustomFFmpeg::WriteFrame(TOutputStreamRecord &ost, AVPacket *packet) {
  AVFormatContext *oc = outputFiles_.at(size_t(ost.FileIndex))->Context.get();
  AVStream *stream = ost.Stream;
  packet->stream_index = ost.StreamIndex;
  // The muxer may have chosen the stream's time base when it wrote the header.
  if (packet->time_base.num > 0 && packet->time_base.den > 0 &&
      av_cmp_q(packet->time_base, stream->time_base) != 0)
    ff::av_packet_rescale_ts(packet, packet->time_base, stream->time_base);
  packet->time_base = stream->time_base;

  TBitstreamFilterChain &chain = ChainOf(ost);
  std::vector<PacketPtr> filtered;
  std::vector<AVPacket *> toWrite{packet};
  if (chain.Initialized()) {
    for (size_t f = 0; f < chain.Contexts().size(); ++f) {
      AVBSFContext *bsf = chain.Contexts()[f].get();
      std::vector<AVPacket *> next;
      for (AVPacket *in : toWrite) {
        PacketPtr copy = MakePacket();
        if (!copy || ff::av_packet_ref(copy.get(), in) < 0) throw FFmpegException("av_packet_ref fail");
        int rc = ff::av_bsf_send_packet(bsf, copy.get());
        while (rc >= 0) {
          PacketPtr out = MakePacket();
          if (!out) throw FFmpegException("av_packet_alloc fail");
          rc = ff::av_bsf_receive_packet(bsf, out.get());
          if (rc < 0) break;
          next.push_back(out.get());
          filtered.push_back(std::move(out));
        }
        if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF) {
          const std::string message = ErrorText(
              StringFormat("%s failed for stream %d, codec %s", chain.Filters()[f]->name,
                           packet->stream_index,
                           ost.EncodingNeeded && ost.Encoder->codec ? ost.Encoder->codec->name : "copy"),
              rc);
          if (job_.ExitOnError) throw FFmpegException(message);
          Log(llError, message);
          next.push_back(in); // the packet goes on as it was
        }
      }
      toWrite = std::move(next);
    }
  }

  for (AVPacket *out : toWrite) {
    out->stream_index = ost.StreamIndex;
    KeepDecodingTimeRising(ost, oc, out);
    const std::int64_t end = (out->dts != AV_NOPTS_VALUE ? out->dts : out->pts);
    if (end != AV_NOPTS_VALUE)
      ost.CurrentPts = std::max(ost.CurrentPts, end + std::max<std::int64_t>(out->duration, 0));
    const int rc = ff::av_interleaved_write_frame(oc, out);
    // A write the file did not take (a full disk) sets the IO's error; the muxer may
    // still answer 0 for a packet it only buffered, and the job would go on to the end.
    const int ioError = oc->pb ? oc->pb->error : 0;
    if (rc < 0 || ioError < 0) {
      // What the muxer refused or the file did not take can no longer make a whole
      // file: it goes (see Run).
      outputRefused_ = true;
      const TOutputFile &file = *outputFiles_.at(size_t(ost.FileIndex));
      if (ioError < 0) throw FFmpegException(WriteFaultText(file.FileName, ioError));
      const char *codec = ff::avcodec_get_name(stream->codecpar->codec_id);
      throw FFmpegException(ErrorText(
          StringFormat("The %s file %s refused a packet of output stream #%d:%d (%s)", oc->oformat->name,
                       file.FileName.c_str(), ost.FileIndex, ost.StreamIndex, codec),
          rc));
    }
  }
  ff::av_packet_unref(packet);
}

} // namespace tovi
