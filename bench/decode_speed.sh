#!/usr/bin/env bash
# Times decoding to WAV: velloxdec on vellox's default encoding of a generated 10-minute
# 44.1 kHz stereo music-like WAV, against `flac -d` on the `flac -5` encoding of the same WAV.
# The signal is bench/make_music.sh's, made with sox. The two decoders run
# alternately; the script prints the median times, input samples per second (counted over both
# channels) and the median ratio of the speeds, then the peak resident memory of velloxdec on
# the default encoding and on a "-l 15" one.
# Needs sox and flac (apt-get install -y sox flac; run as root, the script installs them).
# Usage: bench/decode_speed.sh [build-dir] [runs]
set -euo pipefail
build=${1:-build/release}
runs=${2:-7}
for program in "$build/vellox" "$build/velloxdec"; do
    [[ -x $program ]] || { echo "$program is not built" >&2; exit 1; }
done
if ! command -v sox >/dev/null || ! command -v flac >/dev/null; then
    if [[ $(id -u) == 0 ]] && command -v apt-get >/dev/null; then
        apt-get install -y sox flac >/dev/null
    else
        echo "needs sox and flac: apt-get install -y sox flac" >&2
        exit 1
    fi
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds=600
"$(dirname "$0")/make_music.sh" "$work/in.wav" $seconds
samples=$(($(soxi -s "$work/in.wav") * 2))

"$build/vellox" "$work/in.wav" "$work/in.acm" >/dev/null
"$build/vellox" "$work/in.wav" "$work/in15.acm" -l 15 >/dev/null
flac -5 -f -s -o "$work/in.flac" "$work/in.wav"
printf 'input: %d s of 44.1 kHz stereo, %d samples, %d bytes\n' $seconds "$samples" \
    "$(stat -c %s "$work/in.wav")"
printf 'vellox (defaults): %d bytes; flac -5: %d bytes\n' "$(stat -c %s "$work/in.acm")" \
    "$(stat -c %s "$work/in.flac")"

velloxdec() { "$build/velloxdec" "$work/in.acm" "$work/out.wav"; }
flacdec() { flac -d -f -s -o "$work/out.wav" "$work/in.flac"; }
velloxdec >/dev/null  # a failure stops the script here, with its message
flacdec

timed() {  # wall, user and system seconds taken by the command
    local TIMEFORMAT='%3R %3U %3S'
    { time "$@" >/dev/null 2>&1; } 2>&1
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

vellox_wall=() vellox_cpu=() flac_wall=() flac_cpu=() wall_ratios=() cpu_ratios=()
for ((i = 0; i < runs; i++)); do
    read -r vw vu vs <<<"$(timed velloxdec)"
    read -r fw fu fs <<<"$(timed flacdec)"
    vellox_wall+=("$vw") flac_wall+=("$fw")
    vellox_cpu+=("$(echo "$vu + $vs" | bc -l)") flac_cpu+=("$(echo "$fu + $fs" | bc -l)")
    wall_ratios+=("$(echo "$fw / $vw" | bc -l)")
    cpu_ratios+=("$(echo "($fu + $fs) / ($vu + $vs)" | bc -l)")
done

report() {  # label, then the wall times, a lone -, the CPU times
    local label=$1 wall=() cpu=() t c
    shift
    while [[ $1 != - ]]; do wall+=("$1"); shift; done
    shift
    cpu=("$@")
    t=$(printf '%s\n' "${wall[@]}" | median)
    c=$(printf '%s\n' "${cpu[@]}" | median)
    printf '%-26s %8.1f M samples/s  (%.3f s; CPU %.3f s, %.1f M samples/s)\n' "$label" \
        "$(echo "$samples / $t / 1000000" | bc -l)" "$t" "$c" "$(echo "$samples / $c / 1000000" | bc -l)"
}
report "velloxdec in.acm out.wav" "${vellox_wall[@]}" - "${vellox_cpu[@]}"
report "flac -d" "${flac_wall[@]}" - "${flac_cpu[@]}"
printf 'speed of velloxdec / speed of flac -d (median of %d alternate runs): %.2f (CPU time: %.2f)\n' \
    "$runs" "$(printf '%s\n' "${wall_ratios[@]}" | median)" "$(printf '%s\n' "${cpu_ratios[@]}" | median)"

for input in in in15; do
    kb=$(/usr/bin/time -f '%M' "$build/velloxdec" "$work/$input.acm" "$work/out.wav" 2>&1 >/dev/null | tail -1)
    printf 'peak resident memory of velloxdec, %-16s %6d KiB\n' \
        "$([[ $input == in ]] && echo defaults: || echo '"-l 15" input:')" "$kb"
done
