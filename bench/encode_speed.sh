#!/usr/bin/env bash
# Times the whole executable on a generated 10-minute 16-bit 22050 Hz mono WAV and prints input
# samples per second for the default settings, "-q0" and levels 0, 3, 10 and 15, each the
# median of several runs. With flac installed (apt-get install flac) it also times `flac -5`
# and `flac -8` on the same file, runs vellox and `flac -5` alternately and prints the median
# ratio of their speeds. Last comes the peak resident memory at the defaults and at 15 levels.
# Usage: bench/encode_speed.sh [build-dir] [runs]
set -euo pipefail
build=${1:-build/release}
runs=${2:-7}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/vellox_make_wav" "$work/in.wav" 600
samples=$((600 * 22050))

seconds() {  # seconds taken by the command
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

rate_of() {  # label, then the command; prints the median rate in input samples per second
    local label=$1 times=() t
    shift
    for ((i = 0; i < runs; i++)); do times+=("$(seconds "$@")"); done
    t=$(printf '%s\n' "${times[@]}" | median)
    printf '%-22s %8.2f M samples/s  (%.3f s)\n' "$label" "$(echo "$samples / $t / 1000000" | bc -l)" "$t"
}

vellox() { "$build/vellox" "$work/in.wav" "$work/out.acm" "$@"; }

rate_of "vellox (defaults)" vellox
rate_of "vellox -q0" vellox -q0
for levels in 0 3 10 15; do rate_of "vellox -l $levels" vellox -l "$levels"; done

if command -v flac >/dev/null; then
    rate_of "flac -5" flac -5 -f -s -o "$work/out.flac" "$work/in.wav"
    rate_of "flac -8" flac -8 -f -s -o "$work/out.flac" "$work/in.wav"
    ratios=()
    for ((i = 0; i < runs; i++)); do
        tv=$(seconds vellox)
        tf=$(seconds flac -5 -f -s -o "$work/out.flac" "$work/in.wav")
        ratios+=("$(echo "$tf / $tv" | bc -l)")
    done
    printf 'speed of vellox / speed of flac -5 (median of %d): %.2f\n' "$runs" \
        "$(printf '%s\n' "${ratios[@]}" | median)"
fi
for options in "" "-l 15"; do
    # shellcheck disable=SC2086  # the options are words
    kb=$(/usr/bin/time -f '%M' "$build/vellox" "$work/in.wav" "$work/out.acm" $options 2>&1 >/dev/null | tail -1)
    printf 'peak resident memory %-10s %6d KiB\n' "${options:-(defaults)}" "$kb"
done
