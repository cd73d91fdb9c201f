// Texts the engine, the probe and the windows show: times, library error codes, codec
// descriptions, media types, byte sizes and metadata values. No locks; every function
// may be called from any thread (the codec lookups only read the libraries' tables).
#pragma once

#include <cstdint>
#include <string>

#include "media/EntryPoints.h"

namespace tovi {

// "HH:MM:SS.mmm" with hours not wrapped at 24 and at least two digits; "N/A" for
// AV_NOPTS_VALUE. A negative time is the text of its absolute value after a "-".
std::string TimeText(std::int64_t us);

// prefix + ": " + the text of a library error code. The libraries' own codes (AVERROR
// tags such as AVERROR_EOF) have texts of their own; a code that carries a system error
// number (AVERROR(errno)) gets that error's text, "Read-only file system", "No space
// left on device", in English; any other code gives "Error number <code> occurred".
// The prefix is what the error happened to, usually a file name. Needs no library.
std::string ErrorText(const std::string &prefix, int code);
// Only the part after the ": ".
std::string ErrorCodeText(int code);
// True for AVERROR(e) of a system error number the C library knows (EROFS, ENOSPC...),
// false for the libraries' own tags and anything else.
bool IsSystemError(int code);
// "Cannot write <fileName>: <the code's text>", for a file that did not take what was
// written to it (a full disk, a file size limit, a vanished folder).
std::string WriteFaultText(const std::string &fileName, int code);

// The codec of a stream for lists and logs:
//  1. the codec the library has for the id (encoder or decoder): its short name, plus
//     "(long name)" when the trimmed long name is not empty;
//  2. none, and the id is AV_CODEC_ID_MPEG2TS: "mpeg2ts";
//  3. otherwise the name of the id's codec descriptor, when the library has one;
//  4. otherwise the codec tag: "XVID / 0x44495658" when its four bytes (lowest first)
//     are printable, else "0x%04x".
// Needs the codec library loaded.
std::string CodecDescription(const AVCodecContext *ctx, bool encoder);
std::string CodecDescription(const AVCodecParameters *par, bool encoder);
std::string CodecDescription(AVCodecID id, std::uint32_t codecTag, bool encoder);

// "Video", "Audio", "Data", "Subtitle", "Attachment" for AVMediaType 0..4, else
// "Unknown".
std::string MediaTypeName(int type);

// Up to 1024: "N Byte"; up to 1 MiB: "x.xx KB"; up to 1 GiB: "x.xx MB"; above: "x.xx GB"
// (each boundary belongs to the smaller unit: 1048576 is "1024.00 KB").
std::string ByteSizeText(std::int64_t bytes);

// The value of the first entry av_dict_get finds for `key` (flags 0: case-insensitive),
// else `defaultValue`. A null dictionary gives the default. Needs the utility library.
std::string MetadataValue(const AVDictionary *metadata, const std::string &key,
                          const std::string &defaultValue);

} // namespace tovi
