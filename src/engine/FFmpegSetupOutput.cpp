// The job set-up's output steps: metadata maps, chapters and the file headers.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"

namespace tovi {

namespace {

// Appends a chapter the way the muxer context keeps them, so that freeing the context
// frees it too.
AVChapter *AppendChapter(AVFormatContext *oc) {
  auto *chapter = static_cast<AVChapter *>(ff::av_mallocz(sizeof(AVChapter)));
  if (!chapter) throw FFmpegException("av_mallocz fail");
  if (oc->nb_chapters >= UINT_MAX / sizeof(AVChapter *) - 1) {
    ff::av_free(chapter);
    throw FFmpegException("av_realloc fail");
  }
  void *grown = ff::av_realloc(oc->chapters, (oc->nb_chapters + 1) * sizeof(AVChapter *));
  if (!grown) {
    ff::av_free(chapter);
    throw FFmpegException("av_realloc fail");
  }
  oc->chapters = static_cast<AVChapter **>(grown);
  oc->chapters[oc->nb_chapters++] = chapter;
  return chapter;
}

} // namespace

void TCustomFFmpeg::CopyMetaDataMaps(const TTranscodeTables &t) {
  for (const TMetaDataMap &map : MetaDataMaps()) {
    if (map.OutFile < 0 || map.OutFile >= outputCount_)
      FailWithListing(t, FFmpegException::Fmt("Invalid output file index %d map_meta_data(%d,%d)",
                                              map.OutFile, map.OutFile, map.InFile)
                             .Message());
    if (map.InFile < 0 || map.InFile >= inputCount_)
      FailWithListing(t, FFmpegException::Fmt("Invalid input file index %d map_meta_data(%d,%d)", map.InFile,
                                              map.OutFile, map.InFile)
                             .Message());
    AVFormatContext *out = outputFiles_[static_cast<std::size_t>(map.OutFile)]->Context.get();
    const AVFormatContext *in = inputFiles_[static_cast<std::size_t>(map.InFile)].Context();
    // Metadata conventions are the same for every format in this library generation.
    ff::av_dict_copy(&out->metadata, in->metadata, AV_DICT_DONT_OVERWRITE);
  }
}

void TCustomFFmpeg::CopyChapters() {
  for (int i = 0; i < inputCount_; ++i) {
    const TInputSlot &input = inputFiles_[static_cast<std::size_t>(i)];
    const AVFormatContext *is = input.Context();
    if (!is || is->nb_chapters == 0) continue;
    for (int j = 0; j < outputCount_; ++j) {
      // In join mode the slots share one file: its chapters are copied once.
      if (joinMode_ && j > 0) break;
      AVFormatContext *os = outputFiles_[static_cast<std::size_t>(j)]->Context.get();
      for (unsigned c = 0; c < is->nb_chapters; ++c) {
        const AVChapter *in = is->chapters[c];
        const std::int64_t offset =
            ff::av_rescale_q(job_.StartTimeUs - input.TsOffsetUs, AV_TIME_BASE_Q, in->time_base);
        const std::int64_t recording =
            job_.RecordingTimeUs == INT64_MAX
                ? INT64_MAX
                : ff::av_rescale_q(job_.RecordingTimeUs, AV_TIME_BASE_Q, in->time_base);
        if (in->end < offset) continue;
        if (recording != INT64_MAX && in->start > offset + recording) break;
        AVChapter *out = AppendChapter(os);
        out->id = in->id;
        out->time_base = in->time_base;
        out->start = std::max<std::int64_t>(0, in->start - offset);
        out->end = recording == INT64_MAX ? in->end - offset : std::min(recording, in->end - offset);
        ff::av_dict_copy(&out->metadata, in->metadata, 0);
      }
    }
  }
}

void TCustomFFmpeg::WriteHeaders(const TTranscodeTables &t) {
  const int files = joinMode_ ? std::min(outputCount_, 1) : outputCount_;
  bool allRtp = files > 0;
  for (int i = 0; i < files; ++i) {
    TOutputFile &file = *outputFiles_[static_cast<std::size_t>(i)];
    AVFormatContext *oc = file.Context.get();
    // Files the muxer opens by itself (an image sequence, segments) never replace a source.
    file.Sources.Clear();
    for (int k = 0; k < inputCount_; ++k)
      if (const AVFormatContext *input = inputFiles_[static_cast<std::size_t>(k)].Context();
          input && input->url)
        file.Sources.Add(input->url);
    oc->opaque = &file.Sources;
    if (ff::avformat_write_header(oc, nullptr) < 0)
      FailWithListing(t, FFmpegException::Fmt(
                             "Could not write header for output file #%d (incorrect codec parameters ?)", i)
                             .Message());
    if (std::strcmp(oc->oformat->name, "rtp") != 0) allRtp = false;
  }
  if (!allRtp) return;
  std::vector<AVFormatContext *> contexts;
  for (int i = 0; i < files; ++i)
    contexts.push_back(outputFiles_[static_cast<std::size_t>(i)]->Context.get());
  char sdp[2048] = {};
  ff::av_sdp_create(contexts.data(), files, sdp, sizeof sdp);
  std::string text(sdp);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  Log(llInfo, "SDP:\r\n" + text);
}

} // namespace tovi
