#!/usr/bin/env bash
# Makes the benchmarks' music-like material with sox: a 44.1 kHz stereo 16-bit WAV file of the
# given length that mixes tones rich in harmonics that glide slowly, a chorus (the delay it
# modulates gives a vibrato), a slow swell, a beat of short noise bursts twice a second and a
# little hiss: a pure sine would compress unrealistically well. sox's repeatable mode (-R) makes
# the same file every time.
# Usage: bench/make_music.sh out.wav seconds
set -euo pipefail
out=$1
seconds=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
synth=(-R -n -r 44100 -c 2 -b 16)
sox "${synth[@]}" "$scratch/tones.wav" synth "$seconds" sawtooth 110:98 sawtooth 147:131 \
    synth "$seconds" triangle mix 220:196 triangle mix 294:262 \
    synth "$seconds" sine mix 330:392 sine mix 440:523 \
    chorus 0.6 0.9 50 0.4 5 2 -s tremolo 0.13 40
sox "${synth[@]}" "$scratch/beat.wav" synth 0.06 brownnoise brownnoise fade 0 0.06 0.05 \
    pad 0 0.44 repeat $((seconds * 2 - 1))
sox "${synth[@]}" "$scratch/hiss.wav" synth "$seconds" pinknoise pinknoise
sox -R -m -v 0.8 "$scratch/tones.wav" -v 0.5 "$scratch/beat.wav" -v 0.06 "$scratch/hiss.wav" \
    "$out" gain -n -3 trim 0 "$seconds"
