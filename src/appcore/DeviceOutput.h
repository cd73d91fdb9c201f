// What every video profile asks of its encoder beyond the profile's choice lists, so that
// the devices the profiles are named after can play the result.
#pragma once

#include <string>

#include "converter/TaskOptions.h"

namespace tovi {

// The profile key naming a pixel format other than 8-bit 4:2:0 (DV for NTSC needs
// "yuv411p"); "as source" keeps the source's format.
inline constexpr const char *PIXEL_FORMAT_KEY = "PixelFormat";
inline constexpr const char *DEVICE_PIXEL_FORMAT = "yuv420p";

// The profile key with engine options the profile's encoders need beyond the choice
// lists, as "name=value" items separated by ';': an x265 or SVT-AV1 speed preset, the
// `hvc1` tag Apple players want on HEVC in MP4, FLAC's 24-bit sample format.
inline constexpr const char *OUTPUT_OPTIONS_KEY = "OutputOptions";

// Adds the pixel format to the output's option lines. Today's encoders would otherwise
// keep a 4:2:2, 4:4:4 or 10-bit source's format, which no portable player decodes.
void AskPixelFormat(const std::string &format, TOutputOptions &out);

// An H.264 device preset caps the rate (maxrate 1.5 Mbit/s, buffer 4 Mbit) for the
// bit rate it was written for; a profile that asks for more raises the cap with it: the
// maximum rate becomes the larger of the profile's maximum (text in bit/s, may be empty)
// and the bit rate, the buffer the larger of the profile's buffer and that maximum.
// Nothing happens while no video bit rate is set.
// Adds each item of a profile's OutputOptions text (see OUTPUT_OPTIONS_KEY) to the
// output's option lines, blanks around items dropped, empty items left out.
void AddProfileOutputOptions(const std::string &items, TOutputOptions &out);

void FollowVideoBitRate(const std::string &maxRate, const std::string &bufferSize, TOutputOptions &out);

} // namespace tovi
