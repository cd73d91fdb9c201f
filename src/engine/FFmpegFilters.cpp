// The video filter graph of a re-encoded video stream ("buffer" source "src" -> crop ->
// scale -> the "vfilters" text -> "buffersink" "out" held to the encoder's pixel format)
// and the deinterlacing step on decoded pictures. Runs on the job's thread.
#include <string>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include "engine/CodecChoice.h"
#include "engine/FFmpeg.h"
#include "media/EntryPoints.h"
#include "media/StringFormat.h"
#include "media/Texts.h"

namespace tovi {

namespace {

constexpr AVRational kMicroseconds{1, 1000000};

struct InOutFree {
  void operator()(AVFilterInOut *p) const noexcept { ff::avfilter_inout_free(&p); }
};
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFree>;

std::string ErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  ff::av_strerror(code, text, sizeof text);
  return text;
}

// A "buffer" source for pictures of this size and format, pts in `timeBase`.
int CreateSource(AVFilterGraph *graph, AVFilterContext **source, int width, int height, int format,
                 AVRational timeBase, AVRational aspect) {
  if (aspect.num <= 0 || aspect.den <= 0) aspect = AVRational{0, 1};
  const std::string args =
      StringFormat("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", width, height, format,
                   timeBase.num, timeBase.den, aspect.num, aspect.den);
  return ff::avfilter_graph_create_filter(source, ff::avfilter_get_by_name("buffer"), "src", args.c_str(),
                                          nullptr, graph);
}

// A "buffersink" named "out", held to `format` unless it is AV_PIX_FMT_NONE.
int CreateSink(AVFilterGraph *graph, AVFilterContext **sink, int format) {
  *sink = ff::avfilter_graph_alloc_filter(graph, ff::avfilter_get_by_name("buffersink"), "out");
  if (!*sink) return AVERROR(ENOMEM);
  if (format != AV_PIX_FMT_NONE) {
    const int rc = ff::av_opt_set_bin(*sink, "pix_fmts", reinterpret_cast<const std::uint8_t *>(&format),
                                      sizeof format, AV_OPT_SEARCH_CHILDREN);
    if (rc < 0) return rc;
  }
  return ff::avfilter_init_str(*sink, nullptr);
}

// Appends `name` with `args` after `*last`; the new filter becomes the last one.
int LinkAfter(AVFilterGraph *graph, AVFilterContext **last, const char *name, const std::string &args) {
  AVFilterContext *filter = nullptr;
  int rc = ff::avfilter_graph_create_filter(&filter, ff::avfilter_get_by_name(name), name, args.c_str(),
                                            nullptr, graph);
  if (rc < 0) return rc;
  rc = ff::avfilter_link(*last, 0, filter, 0);
  if (rc < 0) return rc;
  *last = filter;
  return 0;
}

} // namespace

int TCustomFFmpeg::ConfigureFilters(TInputStreamRecord &ist, TOutputStreamRecord &ost) {
  AVCodecContext *dec = ist.Decoder;
  AVCodecContext *enc = ost.Encoder;
  const auto fail = [&](const std::string &what, int code) {
    lastError_ = what + ": " + ErrorText(code);
    return -1;
  };
  FilterGraphPtr graph(ff::avfilter_graph_alloc());
  if (!graph) return fail("cannot allocate the filter graph", AVERROR(ENOMEM));

  AVFilterContext *source = nullptr;
  AVFilterContext *sink = nullptr;
  int rc = CreateSource(graph.get(), &source, dec->width, dec->height, dec->pix_fmt, kMicroseconds,
                        dec->sample_aspect_ratio);
  if (rc < 0) return fail("cannot open the source filter", rc);
  rc = CreateSink(graph.get(), &sink, enc->pix_fmt);
  if (rc < 0) return fail("cannot open the output filter", rc);

  std::int64_t scalerFlags = job_.ScalerFlags;
  if (SwsContext *options = optionContexts_ ? optionContexts_->ScalerOptions() : nullptr)
    ff::av_opt_get_int(options, "sws_flags", 0, &scalerFlags);

  AVFilterContext *last = source;
  const int croppedWidth = dec->width - ost.LeftBand - ost.RightBand;
  const int croppedHeight = dec->height - ost.TopBand - ost.BottomBand;
  if (ost.VideoCrop) {
    // The crop keeps the picture inside the bands; a scale step below brings it to the
    // encoder's size when that differs.
    rc = LinkAfter(
        graph.get(), &last, "crop",
        StringFormat("w=%d:h=%d:x=%d:y=%d", croppedWidth, croppedHeight, ost.LeftBand, ost.TopBand));
    if (rc < 0) return fail("cannot open the crop filter", rc);
  }
  if (croppedWidth != enc->width || croppedHeight != enc->height) {
    rc = LinkAfter(
        graph.get(), &last, "scale",
        StringFormat("w=%d:h=%d:flags=%lld", enc->width, enc->height, static_cast<long long>(scalerFlags)));
    if (rc < 0) return fail("cannot open the scale filter", rc);
  }
  // Scalers the graph inserts itself (format conversions) use the same flags.
  graph->scale_sws_opts =
      ff::av_strdup(StringFormat("flags=%lld", static_cast<long long>(scalerFlags)).c_str());

  // An encoder that takes only even sizes in its format gets them whatever the filters
  // make of the picture; the step passes pictures of an even size through untouched.
  AVFilterContext *end = sink;
  if (const TEvenSides even = EvenSides(enc->codec_id, enc->pix_fmt); even.Width || even.Height) {
    const std::string args =
        StringFormat("w=%s:h=%s:flags=%lld", even.Width ? "max(2,trunc(iw/2)*2)" : "iw",
                     even.Height ? "max(2,trunc(ih/2)*2)" : "ih", static_cast<long long>(scalerFlags));
    rc = ff::avfilter_graph_create_filter(&end, ff::avfilter_get_by_name("scale"), "even_size", args.c_str(),
                                          nullptr, graph.get());
    if (rc < 0) return fail("cannot open the scale filter", rc);
    rc = ff::avfilter_link(end, 0, sink, 0);
    if (rc < 0) return fail("cannot link the output filter", rc);
  }

  const std::string &text = pending_.VideoFilters;
  if (!text.empty()) {
    InOutPtr outputs(ff::avfilter_inout_alloc());
    InOutPtr inputs(ff::avfilter_inout_alloc());
    if (!outputs || !inputs) return fail("cannot allocate the filter graph", AVERROR(ENOMEM));
    outputs->name = ff::av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    inputs->name = ff::av_strdup("out");
    inputs->filter_ctx = end;
    inputs->pad_idx = 0;
    AVFilterInOut *in = inputs.release();
    AVFilterInOut *out = outputs.release();
    rc = ff::avfilter_graph_parse_ptr(graph.get(), text.c_str(), &in, &out, nullptr);
    ff::avfilter_inout_free(&in);
    ff::avfilter_inout_free(&out);
    if (rc < 0) return fail("cannot parse the filter graph \"" + text + "\"", rc);
  } else {
    rc = ff::avfilter_link(last, 0, end, 0);
    if (rc < 0) return fail("cannot link the output filter", rc);
  }
  rc = ff::avfilter_graph_config(graph.get(), nullptr);
  if (rc < 0) return fail("cannot configure the filter graph", rc);

  enc->width = ff::av_buffersink_get_w(sink);
  enc->height = ff::av_buffersink_get_h(sink);
  ist.FilterGraph = std::move(graph);
  ist.InputVideoFilter = source;
  ist.OutputVideoFilter = sink;
  return 0;
}

bool TCustomFFmpeg::PushFilterFrame(TInputStreamRecord &ist, AVFrame *picture, std::int64_t ptsUs) {
  if (!ist.InputVideoFilter || !picture) return false;
  // The source keeps its own reference; the caller's picture is left as it was.
  const std::int64_t savedPts = picture->pts;
  const AVRational savedAspect = picture->sample_aspect_ratio;
  picture->pts = ptsUs;
  if (ist.Decoder && ist.Decoder->sample_aspect_ratio.num > 0)
    picture->sample_aspect_ratio = ist.Decoder->sample_aspect_ratio;
  const int rc = ff::av_buffersrc_add_frame_flags(ist.InputVideoFilter, picture, AV_BUFFERSRC_FLAG_KEEP_REF);
  picture->pts = savedPts;
  picture->sample_aspect_ratio = savedAspect;
  if (rc < 0) Log(llError, "Error while feeding the filter graph: " + ErrorText(rc));
  return rc >= 0;
}

bool TCustomFFmpeg::PullFilteredFrame(TInputStreamRecord &ist) {
  if (!ist.OutputVideoFilter) return false;
  if (!ist.FilteredPicture) {
    ist.FilteredPicture = MakeFrame();
    if (!ist.FilteredPicture) return false;
  }
  AVFrame *frame = ist.FilteredPicture.get();
  ff::av_frame_unref(frame);
  if (ff::av_buffersink_get_frame_flags(ist.OutputVideoFilter, frame, 0) < 0) return false;
  // Times leave the graph in microseconds, like every input stream clock.
  if (frame->pts != AV_NOPTS_VALUE) {
    frame->pts =
        ff::av_rescale_q(frame->pts, ff::av_buffersink_get_time_base(ist.OutputVideoFilter), kMicroseconds);
    ist.Pts = frame->pts;
  }
  return true;
}

// The library's "fd" postprocessing filter is the classic deinterlacer of this family:
// a (-1 2 6 2 -1) vertical low-pass over each picture on its own. The temporal
// deinterlacers (yadif, bwdif) need the following picture before they can give one,
// which would shift every picture by a frame against its time stamp here.
bool TCustomFFmpeg::DeinterlacePicture(AVFrame *picture) {
  if (picture->width <= 0 || picture->height <= 0 || picture->format < 0) return false;
  if (!deinterlaceGraph_ || deinterlaceWidth_ != picture->width || deinterlaceHeight_ != picture->height ||
      deinterlaceFormat_ != picture->format) {
    deinterlaceGraph_.reset(ff::avfilter_graph_alloc());
    deinterlaceSource_ = deinterlaceSink_ = nullptr;
    deinterlaceFormat_ = -1;
    AVFilterGraph *graph = deinterlaceGraph_.get();
    AVFilterContext *last = nullptr;
    if (!graph ||
        CreateSource(graph, &deinterlaceSource_, picture->width, picture->height, picture->format,
                     AVRational{1, 1}, picture->sample_aspect_ratio) < 0 ||
        CreateSink(graph, &deinterlaceSink_, AV_PIX_FMT_NONE) < 0 || !(last = deinterlaceSource_) ||
        LinkAfter(graph, &last, "pp", "subfilters=fd") < 0 ||
        ff::avfilter_link(last, 0, deinterlaceSink_, 0) < 0 ||
        ff::avfilter_graph_config(graph, nullptr) < 0 ||
        ff::av_buffersink_get_format(deinterlaceSink_) != picture->format) {
      deinterlaceGraph_.reset();
      return false;
    }
    deinterlaceWidth_ = picture->width;
    deinterlaceHeight_ = picture->height;
    deinterlaceFormat_ = picture->format;
  }
  if (!deinterlaced_) deinterlaced_ = MakeFrame();
  if (!deinterlaced_) return false;
  if (ff::av_buffersrc_add_frame_flags(deinterlaceSource_, picture, AV_BUFFERSRC_FLAG_KEEP_REF) < 0 ||
      ff::av_buffersink_get_frame(deinterlaceSink_, deinterlaced_.get()) < 0) {
    // A graph left half-way would hand out this picture with the next one.
    deinterlaceGraph_.reset();
    return false;
  }
  ff::av_frame_unref(picture);
  ff::av_frame_move_ref(picture, deinterlaced_.get());
  return true;
}

} // namespace tovi
