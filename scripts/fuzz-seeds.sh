#!/usr/bin/env bash
# Writes a twentieth of a second of tone in every format the readers take, the fuzzer's starting points:
# small inputs keep every execution short. Usage: fuzz-seeds.sh <folder>. A format this FFmpeg cannot
# write is skipped with a note.
set -uo pipefail
out=${1:?usage: fuzz-seeds.sh <folder>}
mkdir -p "$out"

tone() { # <rate> <channels>
  echo "sine=frequency=440:sample_rate=$1:duration=0.05,aformat=channel_layouts=$( [ "$2" = 1 ] && echo mono || ([ "$2" = 2 ] && echo stereo || echo 5.1))"
}

seed() { # <name> <rate> <channels> <ffmpeg output options...>
  local name=$1 rate=$2 channels=$3
  shift 3
  [ -s "$out/$name" ] && return
  if ! ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$(tone "$rate" "$channels")" \
      -map_metadata -1 "$@" "$out/$name"; then
    echo "[fuzz] no seed $name: this FFmpeg cannot write it" >&2
    rm -f "$out/$name"
  fi
}

seed wav-s16.wav 8000 1 -c:a pcm_s16le
seed wav-u8.wav 8000 1 -c:a pcm_u8
seed wav-s24-extensible.wav 8000 2 -c:a pcm_s24le
seed wav-s32-surround.wav 8000 6 -c:a pcm_s32le
seed wav-f32.wav 8000 1 -c:a pcm_f32le
seed wav-f64.wav 8000 1 -c:a pcm_f64le
seed wav-alaw.wav 8000 1 -c:a pcm_alaw
seed wav-mulaw.wav 8000 1 -c:a pcm_mulaw
seed wav-ima-adpcm.wav 8000 1 -c:a adpcm_ima_wav
seed wav-ms-adpcm.wav 8000 1 -c:a adpcm_ms
seed rf64.wav 8000 1 -c:a pcm_s16le -rf64 always
seed w64.w64 8000 1 -c:a pcm_s16le
seed aiff-s16.aiff 8000 1 -c:a pcm_s16be
seed aifc-f32.aiff 8000 1 -c:a pcm_f32be
seed au-s16.au 8000 1 -c:a pcm_s16be
seed caf-s16.caf 8000 1 -c:a pcm_s16le
seed caf-alac.caf 8000 1 -c:a alac
seed flac.flac 8000 1 -c:a flac
seed flac-in-ogg.oga 8000 1 -c:a flac -f ogg
seed vorbis.ogg 8000 1 -c:a libvorbis
seed opus.opus 48000 1 -c:a libopus -b:a 16k
seed mp3-xing.mp3 8000 1 -c:a libmp3lame -b:a 16k
seed mp3-no-xing.mp3 22050 2 -c:a libmp3lame -b:a 32k -write_xing 0
seed mp2.mp2 22050 1 -c:a mp2 -b:a 32k
seed aac.m4a 8000 1 -c:a aac -b:a 16k
seed alac.m4a 8000 1 -c:a alac
seed aac-adts.aac 8000 1 -c:a aac -b:a 16k
seed ac3.ac3 32000 1 -c:a ac3 -b:a 32k
seed wma.wma 22050 1 -c:a wmav2 -b:a 32k
seed wavpack.wv 8000 1 -c:a wavpack
seed pcm.mka 8000 1 -c:a pcm_s16le
seed voc.voc 8000 1 -c:a pcm_u8
exit 0
