// The trim editor without widgets: where a time sits on a bar of pixels and back, the
// time texts the editor shows, what Ok stores in a row's record, and the row's
// "Trimmed Length" column.
//
// Every mapping takes a length that can be 0 (a file whose duration is unknown, a bar
// not laid out yet): the result is then 0 rather than a division by zero.
#pragma once

#include <cstdint>
#include <string>

#include "appcore/FileRecord.h"

namespace tovi {

// Pixel of `value` on a track of `trackPixels` that shows 0..`maximum`:
// round(value / maximum * trackPixels), clamped to the track. 0 when maximum or
// trackPixels is not above 0.
int ValueToPixel(std::int64_t value, std::int64_t maximum, int trackPixels);
// The value nearest to `pixel` on the same track (the inverse of ValueToPixel for every
// value when the track has at least as many pixels as values), clamped to 0..maximum.
// 0 when maximum or trackPixels is not above 0.
std::int64_t PixelToValue(int pixel, std::int64_t maximum, int trackPixels);

// Position of a slider running 0..`maximum` for a picture at `ptsUs` of a file lasting
// `durationUs`: round(maximum * pts / duration), clamped; 0 when the duration is unknown.
int SliderPosition(std::int64_t ptsUs, std::int64_t durationUs, int maximum);
// Where to seek for slider `position` of 0..`maximum`: trunc(position / maximum *
// duration) microseconds; 0 when the maximum is not above 0.
std::int64_t SliderSeekTarget(int position, int maximum, std::int64_t durationUs);

// Whole seconds of a duration in microseconds, rounded (halves up); 0 for negatives.
std::int64_t RoundedSeconds(std::int64_t us);

// "1:05:07": hours unpadded, two-digit minutes and seconds; negative seconds read as 0.
std::string ShortTimeText(std::int64_t seconds);
// "01:05:07.250": hours, minutes, seconds and milliseconds of a time in microseconds;
// negative times read as 0.
std::string LongTimeText(std::int64_t us);

// What Ok does with the markers of a file lasting `durationSeconds`.
struct TTrimOutcome {
  enum TKind {
    tkStore,  // write TrimStart and TrimLength into the record, close
    tkKeep,   // nothing to trim (duration unknown): leave the record, close
    tkRefuse, // show Message and stay open
  };
  TKind Kind = tkKeep;
  std::int64_t TrimStart = 0;  // microseconds, 0 = from the beginning
  std::int64_t TrimLength = 0; // microseconds, 0 = to the end of the file
  std::string Message;
};

// Start and end are whole seconds, clamped to 0..duration first. A range that keeps
// nothing (end not after start) is refused: storing it would convert the whole file
// while the user asked for none of it. The whole file stores 0 / 0.
TTrimOutcome TrimFromRange(std::int64_t startSeconds, std::int64_t endSeconds, std::int64_t durationSeconds);

// The markers a record puts on the bar of a file lasting `durationSeconds`: the start
// second and the end second (the end of the file when the length is 0), within the file.
struct TTrimMarkers {
  std::int64_t StartSeconds = 0, EndSeconds = 0;
};
TTrimMarkers MarkersFromRecord(const TlvFilesRecord &record, std::int64_t durationSeconds);

// The "Trimmed Length" column: the kept length in whole seconds, as decimal text. A
// record trimmed only at the start keeps the rest of the file.
std::string TrimmedLengthText(const TlvFilesRecord &record);

} // namespace tovi
