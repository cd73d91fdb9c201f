#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into DIR/<target>/: small media from the
# fixture generator (whole files up to 64 KiB, the first 16 KiB of bigger ones) for the
# probe, and a few hand-written inputs for the text targets.
# usage: fuzz/make_seeds.sh FIXTURE_GENERATOR DIR
set -euo pipefail
generator=$1
dir=$2
rm -rf "$dir"
mkdir -p "$dir"/{fuzz_probe,fuzz_engine_options,fuzz_ini,fuzz_ext_options,fuzz_run_arguments}

media=$dir/.media
"$generator" "$media" >/dev/null
n=0
for f in "$media"/*; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  head -c 65536 "$f" >"$dir/fuzz_probe/$(basename "$f")"
  # A damaged start as well: the same head with a few bytes changed in the middle.
  if [ "$(stat -c %s "$f")" -gt 4096 ]; then
    head -c 16384 "$f" | tr '\001\002' '\377\000' >"$dir/fuzz_probe/$(basename "$f").mangled"
  fi
done
rm -rf "$media"

seed() { # seed TARGET NAME TEXT (a printf format: \n, \036)
  printf "$3" >"$dir/$1/$2"
}
seed fuzz_engine_options codecs 'vcodec=mpeg4\nb=200k\nr=25\ns=320x240\nacodec=aac\nab=128k\nar=44100\nac=2'
seed fuzz_engine_options times 'ss=00:00:01.5\nt=2\nitsoffset=-0.5\ntimestamp=2024-01-02 03:04:05\nitsscale=0:1.5'
seed fuzz_engine_options maps 'map=0:0\nmap=0:1\nmap_meta_data=0:0\nmetadata=title=A title\nstreamid=0:33'
seed fuzz_engine_options picture 'aspect=16:9\npix_fmt=yuv420p\ncroptop=2\nvf=scale=320:240\nintra_matrix=8,16,19,22,26,27,29,34\nqscale=3'
seed fuzz_engine_options presets 'vcodec=libx264\nvpre=ipod\nfpre=none\napre=x\ntarget=pal-dvd\nf=mp4'
seed fuzz_engine_options misc 'loglevel=debug\nvbsf=h264_mp4toannexb\natag=mp4a\nvtag=avc1\nsample_fmt=s16\nnewaudio\ng=12\nflags=+global_header'
seed fuzz_ext_options streams 'vcodec=mpeg4<CRLF>newvideo<CRLF>vcodec=libx264\r\nnewaudio\racodec=mp2\nvpre=ipod'
seed fuzz_ext_options record 'f=mp4\r\nss=1.5\r\nprogramid=1\r\ns=176x144\r\nvf=hflip\r\nnewsubtitle'
seed fuzz_ini plain '[General]\nOutputFolder=/tmp/out\nKey=Value\n\n[Other]\nx=1\n\036General\036Key\036new value\036New\036k\036two\\nlines'
seed fuzz_ini tricky '; comment\n[a]\nk*=line\\\\none\n#x=y\n\036a\036k\036 \n[b]\nz=1\036 a \036K\036[x]\036a\036k2\036\\n\\r'
words() { # words NAME WORD...: the words joined with NUL bytes
  local file=$dir/fuzz_run_arguments/$1
  shift
  printf '%s\0' "$@" | head -c -1 >"$file"
}
words simple -i in.mp4 -vcodec mpeg4 ab=128k out.mp4
words join --join -ss 1 -i a.mp4 -i b.mp4 -an -y --threads 2 --progress=json -- -out.mp4
words flags -re 1 -i in.mp4 -shortest -vn -f mp3 --verbose out.mp3
echo "seeds: $n media files, $(find "$dir" -type f | wc -l) files in all"
