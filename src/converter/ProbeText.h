// Pieces of the probe's description text and of its file record. Numbers are always
// written with a '.' (the Qt application sets the user's locale for the C library).
#pragma once

#include <cstdint>
#include <string>

#include "media/EntryPoints.h"

namespace tovi {

// "29.97 tbr" when value x 100 (rounded) is no multiple of 100, "25 tbr" when it is no
// multiple of 100000, else thousands: "90k tbn".
std::string RateText(double value, const char *unit);

// Microseconds as seconds with six decimals: "1.500000", "-0.023000".
std::string SecondsText(std::int64_t us);

// Unix seconds as the local time of that instant (TimeZone.h): "2024-03-01 13:04:05".
std::string LocalTimeStampText(std::int64_t unixSeconds);

// The name a metadata key is shown with: the ID3v2 frame ids of the old demuxers
// ("TIT2", "TPE1", ...) become their generic names; other keys stay as they are.
std::string ShownMetadataKey(const std::string &key);

// The container's time stamp: the "creation_time" tag (ISO 8601, as today's demuxers
// write it) in seconds since 1970 UTC; 0 when absent or unreadable. Needs avutil.
std::int64_t CreationTimeOf(const AVDictionary *metadata);

// The number a tag value starts with ("2024-05-01" -> 2024, "3/12" -> 3); 0 when it
// does not start with one or does not fit.
std::int32_t LeadingNumber(const std::string &text);

// What the old libraries called the codec time base of a video stream, which 5.1 no
// longer exposes: 1 / (frame rate x ticks per frame), with the real base frame rate
// (else the average one) and two ticks per frame for the codecs whose decoders count
// in fields (H.264, MPEG-2 video). {0, 1} when the stream has no frame rate or is no
// video. Needs avutil.
AVRational CodecTimeBase(const AVStream *stream);

// A stream time base safe to rescale with: a zero denominator takes the numerator,
// and 1 when that is 0 too.
AVRational UsableTimeBase(AVRational timeBase);

} // namespace tovi
