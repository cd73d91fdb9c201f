// The transcode loop: set-up, then choose an input, read a packet, re-time it and hand
// it to the pipeline until every input has ended or a limit or a stop request ends the
// job; then drain the decoders and encoders, write the trailers and the final report.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/FFmpegLoader.h"
#include "media/StringFormat.h"
#include "media/Texts.h"

namespace tovi {

namespace {
constexpr AVRational kMicroseconds{1, AV_TIME_BASE};
}

bool TCustomFFmpeg::MaxFramesReached(const TOutputStreamRecord &ost) const {
  const int type = ost.Encoder ? ost.Encoder->codec_type : AVMEDIA_TYPE_UNKNOWN;
  if (type < 0 || type >= int(pending_.MaxFrames.size())) return false;
  return ost.FrameNumber >= pending_.MaxFrames[size_t(type)];
}

std::int64_t TCustomFFmpeg::FirstOutputPosition() const {
  if (outputCount_ == 0 || !outputFiles_[0]) return 0;
  AVIOContext *pb = outputFiles_[0]->Context ? outputFiles_[0]->Context->pb : nullptr;
  return pb ? ff::avio_seek(pb, 0, SEEK_CUR) : 0;
}

void TCustomFFmpeg::Transcode() {
  TranscodeSetup();
  setupCompleted_ = true;
  duplicatedFrames_ = droppedFrames_ = 0;
  frameCountsChanged_ = false;
  videoBytes_ = audioBytes_ = 0;
  extraBytes_ = tables_->ExtraSizeBytes;
  drainEncoders_ = true;
  try {
    TranscodeLoop();
    FinishTranscode();
  } catch (...) {
    ReleaseTables(true);
    throw;
  }
}

void TCustomFFmpeg::TranscodeLoop() {
  TTranscodeTables &t = *tables_;
  timerStartUs_ = ff::av_gettime();
  lastReportUs_ = timerStartUs_;
  int current = 0; // join mode: the input being read
  std::array<bool, MAX_FILES> noPacket{};
  int noPacketCount = 0;
  PacketPtr packet = MakePacket();
  if (!packet) throw FFmpegException("av_packet_alloc fail");
  const int group = t.JoinGroupSize;
  const int outputs = int(t.OutputStreams.size());

  while (!stopRequested_) {
    WaitWhilePaused();
    if (stopRequested_) break;

    int chosen = -1;
    if (joinMode_) {
      chosen = current;
      for (int k = current * group; k < std::min(current * group + group, outputs); ++k)
        if (MaxFramesReached(t.OutputStreams[size_t(k)])) {
          chosen = -1;
          break;
        }
    } else {
      double smallestInput = 1e100, smallestOutput = 1e100;
      for (const TOutputStreamRecord &ost : t.OutputStreams) {
        const TInputStreamRecord &ist = t.InputStreams[size_t(ost.SourceIndex)];
        if (ist.PastRecordingTime || noPacket[size_t(ist.FileIndex)]) continue;
        const double outputPts = double(ost.CurrentPts) * av_q2d(ost.Stream->time_base);
        const double inputPts = double(ist.Pts);
        if (!t.InputFiles[size_t(ist.FileIndex)].EndOfFile) {
          if (inputPts < smallestInput) {
            smallestInput = inputPts;
            if (job_.InputSync) chosen = ist.FileIndex;
          }
          if (outputPts < smallestOutput) {
            smallestOutput = outputPts;
            if (!job_.InputSync) chosen = ist.FileIndex;
          }
        }
        if (MaxFramesReached(ost)) {
          chosen = -1;
          break;
        }
      }
    }
    if (chosen < 0) {
      if (joinMode_ || noPacketCount == 0) break;
      noPacket = {};
      noPacketCount = 0;
      ff::av_usleep(10000);
      continue;
    }

    if (job_.LimitFileSizeBytes > 0 && FirstOutputPosition() > job_.LimitFileSizeBytes) break;

    TInputSlot &slot = inputFiles_[size_t(chosen)];
    AVFormatContext *ic = slot.Context();
    const int rc = ff::av_read_frame(ic, packet.get());
    if (rc == AVERROR(EAGAIN)) {
      noPacket[size_t(chosen)] = true;
      ++noPacketCount;
      continue;
    }
    if (rc < 0) {
      if (EndOfInput(chosen, current)) break;
      continue;
    }
    noPacket = {};
    noPacketCount = 0;

    const TInputFileState &state = t.InputFiles[size_t(chosen)];
    if (job_.PacketDump && packet->stream_index < int(ic->nb_streams))
      ff::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet.get(), job_.HexDump,
                           ic->streams[packet->stream_index]);
    if (packet->stream_index >= state.StreamCount) {
      ff::av_packet_unref(packet.get());
      continue;
    }
    const int istIndex = state.FirstStream + packet->stream_index;
    TInputStreamRecord &ist = t.InputStreams[size_t(istIndex)];
    if (ist.Discard) {
      ff::av_packet_unref(packet.get());
      continue;
    }

    const AVRational tb = ist.Stream->time_base;
    const std::int64_t offset = ff::av_rescale_q(slot.TsOffsetUs, kMicroseconds, tb);
    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
    if (packet->stream_index < MAX_STREAMS) {
      const double scale = inputTsScale_[size_t(chosen)][size_t(packet->stream_index)];
      if (scale != 0) {
        if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llrint(double(packet->dts) * scale);
        if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llrint(double(packet->pts) * scale);
      }
    }

    if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != NO_TIMESTAMP &&
        (ic->iformat->flags & AVFMT_TS_DISCONT)) {
      const std::int64_t dtsUs = ff::av_rescale_q(packet->dts, tb, kMicroseconds);
      const std::int64_t delta = dtsUs - ist.NextPts;
      if ((double(std::llabs(delta)) > job_.DtsDeltaThresholdSeconds * AV_TIME_BASE || dtsUs + 1 < ist.Pts) &&
          !job_.CopyTimestamps) {
        slot.TsOffsetUs -= delta;
        if (job_.Verbose > 2)
          LogFmt(llVerbose, "timestamp discontinuity %d, new offset= %d", int(delta), int(slot.TsOffsetUs));
        const std::int64_t shift = ff::av_rescale_q(delta, kMicroseconds, tb);
        packet->dts -= shift;
        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
      }
    }

    if (job_.RecordingTimeUs != INT64_MAX && packet->dts != AV_NOPTS_VALUE &&
        ff::av_compare_ts(packet->dts, tb, job_.RecordingTimeUs + job_.StartTimeUs, kMicroseconds) >= 0) {
      ist.PastRecordingTime = true;
      ff::av_packet_unref(packet.get());
      continue;
    }

    if (ProcessPacket(ist, istIndex, packet.get()) < 0) {
      const std::string text =
          StringFormat("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                       MediaTypeName(ist.Stream->codecpar->codec_type).c_str());
      if (job_.ExitOnError) throw FFmpegException(text);
      if (job_.Verbose >= 0) Log(llVerbose, text);
      ff::av_packet_unref(packet.get());
      continue;
    }
    ff::av_packet_unref(packet.get());

    const std::int64_t now = ff::av_gettime();
    if (now - lastReportUs_ > progressIntervalUs_) {
      lastReportUs_ = now;
      ReportProgress(false, chosen);
    }
  }
}

bool TCustomFFmpeg::EndOfInput(int file, int &current) {
  TTranscodeTables &t = *tables_;
  TInputFileState &state = t.InputFiles[size_t(file)];
  state.EndOfFile = true;
  if (!joinMode_) return job_.Shortest;

  const bool last = current >= inputCount_ - 1;
  // Between joined inputs the encoders keep running: today's encoders cannot take
  // frames again once drained, and the next input's frames continue the stream.
  drainEncoders_ = last;
  for (int s = 0; s < state.StreamCount; ++s) {
    const int istIndex = state.FirstStream + s;
    TInputStreamRecord &ist = t.InputStreams[size_t(istIndex)];
    if (!ist.DecodingNeeded || ist.Flushed) continue;
    ProcessPacket(ist, istIndex, nullptr);
    ff::avcodec_flush_buffers(ist.Decoder);
    ist.Flushed = true;
  }
  drainEncoders_ = true;

  const int group = t.JoinGroupSize;
  const int outputs = int(t.OutputStreams.size());
  // The finished group's audio that has not made a whole encoder frame yet (in the FIFO
  // and inside the resampler) is handed on to the next group, which feeds the same
  // encoder: it is the start of the next frame, not something to lose.
  if (!last) {
    for (int k = current * group; k < std::min(current * group + group, outputs); ++k) {
      TOutputStreamRecord &ost = t.OutputStreams[size_t(k)];
      if (!ost.EncodingNeeded || !ost.Encoder || ost.Encoder->codec_type != AVMEDIA_TYPE_AUDIO || !ost.Fifo)
        continue;
      if (ost.Resampler) ConvertAudioIntoFifo(ost, nullptr, 0);
      if (k + group < outputs) std::swap(ost.Fifo, t.OutputStreams[size_t(k + group)].Fifo);
    }
  }
  for (int k = (current + 1) * group; k < outputs; ++k) {
    TOutputStreamRecord &ost = t.OutputStreams[size_t(k)];
    const TOutputStreamRecord &before = t.OutputStreams[size_t(k - group)];
    ost.SyncOutputPts = before.SyncOutputPts;
    ost.FrameNumber = before.FrameNumber;
    ost.CurrentPts = before.CurrentPts;
  }
  // The next input starts where the finished one ended for the encoders: what was given
  // to them, not what they have returned so far. An encoder with a delay (B-frames,
  // look-ahead, audio priming) still holds the last pictures or samples, and timing the
  // next input by the muxed packets would send it frames from the past, which the
  // encoder refuses or the frame-rate sync drops.
  double endTime = 0;
  for (int k = current * group; k < std::min(current * group + group, outputs); ++k) {
    TOutputStreamRecord &ost = t.OutputStreams[size_t(k)];
    endTime = std::max(endTime, double(ost.CurrentPts) * av_q2d(ost.Stream->time_base));
    const AVCodecContext *enc = ost.Encoder;
    if (ost.EncodingNeeded && enc) {
      if (enc->codec_type == AVMEDIA_TYPE_VIDEO)
        endTime = std::max(endTime, double(ost.SyncOutputPts) * av_q2d(enc->time_base));
      else if (enc->codec_type == AVMEDIA_TYPE_AUDIO && enc->sample_rate > 0) {
        const TOutputStreamRecord &next = t.OutputStreams[size_t(std::min(k + group, outputs - 1))];
        const std::int64_t waiting = next.Fifo ? ff::av_audio_fifo_size(next.Fifo.get()) : 0;
        endTime = std::max(endTime, double(ost.SyncOutputPts + waiting) / enc->sample_rate);
      }
    }
    // The last group keeps reporting: its counters are the job's totals.
    if (!last) ost.ActiveForReports = false;
  }
  if (last) return true;
  inputFiles_[size_t(current + 1)].TsOffsetUs += std::llround(endTime * AV_TIME_BASE);
  ++current;
  return false;
}

void TCustomFFmpeg::FinishTranscode() {
  TTranscodeTables &t = *tables_;
  for (size_t j = 0; j < t.InputStreams.size(); ++j) {
    TInputStreamRecord &ist = t.InputStreams[j];
    if (!ist.DecodingNeeded || ist.Flushed) continue;
    ProcessPacket(ist, int(j), nullptr);
    ist.Flushed = true;
  }
  const int files = joinMode_ ? std::min(outputCount_, 1) : outputCount_;
  for (int i = 0; i < files; ++i) {
    TOutputFile &file = *outputFiles_[size_t(i)];
    const int rc = ff::av_write_trailer(file.Context.get());
    if (rc < 0) {
      // A file without its trailer (an MP4 without its index) plays nowhere: it goes.
      outputRefused_ = true;
      throw FFmpegException(IsSystemError(rc) ? WriteFaultText(file.FileName, rc)
                                              : ErrorText("av_write_trailer() of " + file.FileName, rc));
    }
  }
  ReportProgress(true, -1);
  // The trailer flushed what was buffered, but closing can still fail (a network file
  // system may report a full disk only here): a file that was not closed whole goes too.
  for (int i = 0; i < files; ++i) {
    TOutputFile &file = *outputFiles_[size_t(i)];
    if (!file.IO) continue;
    if (const int rc = file.IO->Close(); rc < 0) {
      outputRefused_ = true;
      throw FFmpegException(WriteFaultText(file.FileName, rc));
    }
  }
  TranscodeTearDown();
  completedNormally_ = !stopRequested_;
}

} // namespace tovi
