// The texts of the built-in presets.
//
// Speed presets share one rate-control shape (GOP 250, scene-cut 40, I/P quantiser
// ratio 0.71, curve compression 0.6, quantisers 10 to 51) and differ in the search
// effort: motion estimation method and range, subpixel refinement, references,
// B-frames and their placement, partitions, trellis and lookahead. The "_firstpass"
// forms keep what a fast first pass of two-pass encoding keeps (one reference, no 8x8
// transform or inter partitions, diamond search, subq at most 2, no trellis);
// "placebo_firstpass" and "slowfirstpass" instead turn the wrapper's fast first pass
// off. The lossless forms use a constant quantiser of 0.
//
// Device presets (ipod, ipod320, ipod640, psp, ps3, mp4, baseline, main) also pin the
// settings the older library generation left off by default (B-frames, the 8x8
// transform, weighted prediction), because the wrapper of this generation turns them on
// and the devices' profiles forbid them.
#include "engine/BuiltinPresets.h"

#include <array>

#include "engine/ValueParsing.h"

namespace tovi {

namespace {

// Laid out by hand: one preset a few lines, option after option.
// clang-format off
constexpr std::array<TBuiltinPreset, 40> kPresets{{
    {"libx264-baseline",
     "coder=0\n" "bf=0\n" "weightb=0\n" "8x8dct=0\n" "weightp=0\n"},
    {"libx264-default",
     "coder=1\n" "flags=+loop\n" "cmp=+chroma\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n"
     "subq=7\n" "me_range=16\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "i_qfactor=0.71\n"
     "b_strategy=1\n" "qcomp=0.6\n" "qmin=10\n" "qmax=51\n" "qdiff=4\n" "bf=3\n" "refs=3\n"
     "direct-pred=spatial\n" "trellis=1\n" "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n"
     "weightp=2\n"},
    {"libx264-fast",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=6\n"
     "me_range=16\n" "b_strategy=1\n" "bf=3\n" "refs=2\n" "direct-pred=spatial\n" "trellis=1\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=30\n"},
    {"libx264-fast_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=30\n"},
    {"libx264-faster",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=4\n"
     "me_range=16\n" "b_strategy=1\n" "bf=3\n" "refs=2\n" "direct-pred=spatial\n" "trellis=1\n"
     "mixed-refs=0\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=20\n"},
    {"libx264-faster_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=0\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=20\n"},
    {"libx264-fastfirstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=40\n"},
    {"libx264-hq",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=umh\n" "subq=8\n" "me_range=16\n"
     "b_strategy=2\n" "bf=3\n" "refs=4\n" "direct-pred=auto\n" "trellis=1\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=50\n"},
    {"libx264-ipod320",
     "coder=0\n" "bf=0\n" "weightb=0\n" "8x8dct=0\n" "level=13\n" "maxrate=768000\n" "bufsize=3000000\n"
     "weightp=0\n"},
    {"libx264-ipod640",
     "coder=0\n" "bf=0\n" "refs=1\n" "weightb=0\n" "8x8dct=0\n" "level=30\n" "maxrate=10000000\n"
     "bufsize=10000000\n" "weightp=0\n"},
    {"libx264-lossless_fast",
     "qp=0\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "coder=1\n"
     "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=3\n" "me_range=16\n" "bf=3\n"
     "b_strategy=1\n" "refs=2\n" "mixed-refs=0\n" "8x8dct=1\n" "weightb=1\n" "weightp=1\n"
     "rc-lookahead=20\n" "trellis=0\n"},
    {"libx264-lossless_max",
     "qp=0\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "coder=1\n" "partitions=all\n"
     "me_method=esa\n" "subq=8\n" "me_range=16\n" "bf=3\n" "b_strategy=2\n" "refs=16\n" "mixed-refs=1\n"
     "8x8dct=1\n" "weightb=1\n" "weightp=2\n" "rc-lookahead=60\n" "direct-pred=auto\n" "trellis=0\n"},
    {"libx264-lossless_medium",
     "qp=0\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "coder=1\n"
     "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=5\n" "me_range=16\n" "bf=3\n"
     "b_strategy=1\n" "refs=2\n" "mixed-refs=1\n" "8x8dct=1\n" "weightb=1\n" "weightp=2\n"
     "rc-lookahead=40\n" "trellis=0\n"},
    {"libx264-lossless_slow",
     "qp=0\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "coder=1\n" "partitions=all\n"
     "me_method=umh\n" "subq=6\n" "me_range=16\n" "bf=3\n" "b_strategy=1\n" "refs=3\n" "mixed-refs=1\n"
     "8x8dct=1\n" "weightb=1\n" "weightp=2\n" "rc-lookahead=50\n" "direct-pred=auto\n" "trellis=0\n"},
    {"libx264-lossless_slower",
     "qp=0\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "coder=1\n" "partitions=all\n"
     "me_method=umh\n" "subq=8\n" "me_range=16\n" "bf=3\n" "b_strategy=2\n" "refs=4\n" "mixed-refs=1\n"
     "8x8dct=1\n" "weightb=1\n" "weightp=2\n" "rc-lookahead=60\n" "direct-pred=auto\n" "trellis=0\n"},
    {"libx264-lossless_ultrafast",
     "qp=0\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n" "coder=0\n" "partitions=none\n"
     "me_method=dia\n" "subq=0\n" "me_range=16\n" "bf=0\n" "b_strategy=0\n" "refs=1\n" "mixed-refs=0\n"
     "8x8dct=0\n" "weightb=0\n" "weightp=0\n" "rc-lookahead=0\n" "aq-mode=0\n" "mbtree=0\n" "trellis=0\n"},
    {"libx264-main",
     "8x8dct=0\n"},
    {"libx264-max",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=tesa\n" "subq=10\n"
     "me_range=24\n" "b_strategy=2\n" "bf=16\n" "refs=16\n" "direct-pred=auto\n" "trellis=2\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=0\n" "weightp=2\n" "rc-lookahead=60\n"},
    {"libx264-medium",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=7\n"
     "me_range=16\n" "b_strategy=1\n" "bf=3\n" "refs=3\n" "direct-pred=spatial\n" "trellis=1\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=40\n"},
    {"libx264-medium_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=40\n"},
    {"libx264-normal",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=6\n"
     "me_range=16\n" "b_strategy=1\n" "bf=3\n" "refs=2\n" "direct-pred=spatial\n" "trellis=0\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=30\n"},
    {"libx264-placebo",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=tesa\n" "subq=11\n"
     "me_range=24\n" "b_strategy=2\n" "bf=16\n" "refs=16\n" "direct-pred=auto\n" "trellis=2\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=0\n" "weightp=2\n" "rc-lookahead=60\n"},
    {"libx264-placebo_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=tesa\n" "subq=11\n"
     "me_range=24\n" "b_strategy=2\n" "bf=16\n" "refs=16\n" "direct-pred=auto\n" "trellis=2\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=0\n" "weightp=2\n" "rc-lookahead=60\n"
     "fastfirstpass=0\n"},
    {"libx264-slow",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=umh\n" "subq=8\n"
     "me_range=16\n" "b_strategy=2\n" "bf=3\n" "refs=5\n" "direct-pred=auto\n" "trellis=1\n"
     "mixed-refs=1\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=50\n"},
    {"libx264-slow_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=2\n" "bf=3\n" "refs=1\n" "direct-pred=auto\n" "trellis=0\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=50\n"},
    {"libx264-slower",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=umh\n" "subq=9\n" "me_range=16\n"
     "b_strategy=2\n" "bf=3\n" "refs=8\n" "direct-pred=auto\n" "trellis=2\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=60\n"},
    {"libx264-slower_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=2\n" "bf=3\n" "refs=1\n" "direct-pred=auto\n" "trellis=0\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=60\n"},
    {"libx264-slowfirstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=umh\n" "subq=8\n" "me_range=16\n"
     "b_strategy=2\n" "bf=3\n" "refs=4\n" "direct-pred=auto\n" "trellis=1\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=50\n" "fastfirstpass=0\n"},
    {"libx264-superfast",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4\n" "me_method=dia\n" "subq=1\n"
     "me_range=16\n" "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n"
     "mixed-refs=0\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=0\n"
     "mbtree=0\n"},
    {"libx264-superfast_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=1\n" "me_range=16\n"
     "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=0\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=0\n" "mbtree=0\n"},
    {"libx264-ultrafast",
     "flags=-loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=0\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=0\n" "partitions=none\n" "me_method=dia\n" "subq=0\n" "me_range=16\n"
     "b_strategy=0\n" "bf=0\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=0\n"
     "weightb=0\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=0\n" "rc-lookahead=0\n" "aq-mode=0\n"
     "mbtree=0\n" "x264-params=no-deblock=1\n"},
    {"libx264-ultrafast_firstpass",
     "flags=-loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=0\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=0\n" "partitions=none\n" "me_method=dia\n" "subq=0\n" "me_range=16\n"
     "b_strategy=0\n" "bf=0\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=0\n"
     "weightb=0\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=0\n" "rc-lookahead=0\n" "aq-mode=0\n"
     "mbtree=0\n" "x264-params=no-deblock=1\n"},
    {"libx264-veryfast",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i8x8,i4x4,p8x8,b8x8\n" "me_method=hex\n" "subq=2\n"
     "me_range=16\n" "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n"
     "mixed-refs=0\n" "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=10\n"},
    {"libx264-veryfast_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=16\n"
     "b_strategy=1\n" "bf=3\n" "refs=1\n" "direct-pred=spatial\n" "trellis=0\n" "mixed-refs=0\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=1\n" "rc-lookahead=10\n"},
    {"libx264-veryslow",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=all\n" "me_method=umh\n" "subq=10\n" "me_range=24\n"
     "b_strategy=2\n" "bf=8\n" "refs=16\n" "direct-pred=auto\n" "trellis=2\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=1\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=60\n"},
    {"libx264-veryslow_firstpass",
     "flags=+loop\n" "cmp=+chroma\n" "g=250\n" "sc_threshold=40\n" "i_qfactor=0.71\n" "qcomp=0.6\n"
     "qmin=10\n" "qmax=51\n" "coder=1\n" "partitions=i4x4\n" "me_method=dia\n" "subq=2\n" "me_range=24\n"
     "b_strategy=2\n" "bf=8\n" "refs=1\n" "direct-pred=auto\n" "trellis=0\n" "mixed-refs=1\n"
     "weightb=1\n" "8x8dct=0\n" "fast-pskip=1\n" "weightp=2\n" "rc-lookahead=60\n"},
    {"libx264-psp",
     "coder=1\n" "flags=+loop\n" "level=30\n" "cmp=+chroma\n" "partitions=i4x4,i8x8,p8x8,b8x8\n"
     "me_method=umh\n" "subq=7\n" "me_range=16\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n"
     "i_qfactor=0.71\n" "b_strategy=1\n" "qcomp=0.6\n" "qmin=10\n" "qmax=51\n" "qdiff=4\n" "bf=3\n"
     "refs=1\n" "direct-pred=spatial\n" "trellis=2\n" "8x8dct=0\n" "b=1250000\n" "maxrate=1500000\n"
     "bufsize=4000000\n" "bt=256000\n" "sc_threshold=40\n"},
    {"libx264-ps3",
     "coder=1\n" "flags=+loop\n" "level=30\n" "cmp=+chroma\n" "partitions=i4x4,i8x8,p8x8,b8x8\n"
     "me_method=umh\n" "subq=7\n" "me_range=16\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n"
     "i_qfactor=0.71\n" "b_strategy=1\n" "qcomp=0.6\n" "qmin=10\n" "qmax=51\n" "qdiff=4\n" "bf=3\n"
     "refs=1\n" "direct-pred=spatial\n" "trellis=2\n" "8x8dct=0\n" "maxrate=3500000\n"
     "bufsize=4000000\n" "bt=256000\n" "sc_threshold=40\n"},
    {"libx264-ipod",
     "coder=0\n" "flags=+loop\n" "level=30\n" "cmp=+chroma\n" "partitions=i4x4,i8x8,p8x8\n"
     "me_method=umh\n" "subq=7\n" "me_range=16\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n"
     "i_qfactor=0.71\n" "b_strategy=1\n" "qcomp=0.6\n" "qmin=10\n" "qmax=51\n" "qdiff=4\n" "bf=0\n"
     "refs=1\n" "direct-pred=spatial\n" "trellis=2\n" "8x8dct=0\n" "weightp=0\n" "b=1000000\n"
     "maxrate=1250000\n" "bufsize=4000000\n" "bt=256000\n" "sc_threshold=40\n"},
    {"libx264-mp4",
     "coder=1\n" "flags=+loop\n" "level=30\n" "cmp=+chroma\n" "partitions=i4x4,i8x8,p8x8,b8x8\n"
     "me_method=umh\n" "subq=7\n" "me_range=16\n" "g=250\n" "keyint_min=25\n" "sc_threshold=40\n"
     "i_qfactor=0.71\n" "b_strategy=1\n" "qcomp=0.6\n" "qmin=10\n" "qmax=51\n" "qdiff=4\n" "bf=3\n"
     "refs=1\n" "direct-pred=spatial\n" "trellis=2\n" "8x8dct=0\n" "b=1250000\n" "maxrate=1500000\n"
     "bufsize=4000000\n" "bt=256000\n" "sc_threshold=40\n"},
}};
// clang-format on

} // namespace

std::span<const TBuiltinPreset> BuiltinPresets() { return kPresets; }

const TBuiltinPreset *FindBuiltinPreset(std::string_view name) {
  for (const TBuiltinPreset &preset : kPresets)
    if (engine::SameText(preset.Name, name)) return &preset;
  return nullptr;
}

} // namespace tovi
