#!/usr/bin/env bash
# Times converting a 10-minute 44.1 kHz stereo FLAC file (bench/make_music.sh's material) at
# 22050 Hz two ways: vellox reading the FLAC file and resampling it itself,
#   vellox in.flac out.acm --resample 22050
# against sox resampling it into a WAV file that vellox then converts,
#   sox in.flac -r 22050 tmp.wav && vellox tmp.wav out.acm
# The two run alternately; the script prints their median wall and processor times, the median
# ratio of the times, the SNR of the two decoded results against each other (velloxdec
# --compare) and of each against sox's very-high-quality conversion without dither, and
# vellox's peak resident memory. Extra words are vellox options for both ways
# (-hq, -q0, ...).
# Needs sox and flac (apt-get install -y sox flac; run as root, the script installs them).
# Usage: bench/resample_speed.sh [build-dir] [runs] [vellox options]
set -euo pipefail
build=${1:-build/release}
runs=${2:-7}
shift $(($# < 2 ? $# : 2))
options=("$@")
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
flac -5 -f -s -o "$work/in.flac" "$work/in.wav"
rm "$work/in.wav"
printf 'input: %d s of 44.1 kHz stereo FLAC, %d bytes; vellox options: %s\n' $seconds \
    "$(stat -c %s "$work/in.flac")" "${options[*]:-(defaults)}"

direct() { "$build/vellox" "$work/in.flac" "$work/direct.acm" --resample 22050 "${options[@]}"; }
through_sox() {
    sox "$work/in.flac" -r 22050 "$work/tmp.wav" &&
        "$build/vellox" "$work/tmp.wav" "$work/sox.acm" "${options[@]}"
}
direct >/dev/null  # a failure stops the script here, with its message
through_sox >/dev/null

timed() {  # wall, user and system seconds taken by the command
    local TIMEFORMAT='%3R %3U %3S'
    { time "$@" >/dev/null 2>&1; } 2>&1
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

direct_wall=() direct_cpu=() sox_wall=() sox_cpu=() wall_ratios=() cpu_ratios=()
for ((i = 0; i < runs; i++)); do
    read -r dw du ds <<<"$(timed direct)"
    read -r sw su ss <<<"$(timed through_sox)"
    direct_wall+=("$dw") sox_wall+=("$sw")
    direct_cpu+=("$(echo "$du + $ds" | bc -l)") sox_cpu+=("$(echo "$su + $ss" | bc -l)")
    wall_ratios+=("$(echo "$sw / $dw" | bc -l)")
    cpu_ratios+=("$(echo "($su + $ss) / ($du + $ds)" | bc -l)")
done
m() { printf '%s\n' "$@" | median; }
printf '%-44s %7.3f s wall, %7.3f s processor\n' "vellox in.flac out.acm --resample 22050" \
    "$(m "${direct_wall[@]}")" "$(m "${direct_cpu[@]}")"
printf '%-44s %7.3f s wall, %7.3f s processor\n' "sox in.flac -r 22050 tmp.wav && vellox" \
    "$(m "${sox_wall[@]}")" "$(m "${sox_cpu[@]}")"
printf 'time through sox / time of --resample (median of %d alternate runs): %.2f (processor: %.2f)\n' \
    "$runs" "$(m "${wall_ratios[@]}")" "$(m "${cpu_ratios[@]}")"

snr() { "$build/velloxdec" "$1" --compare "$2" | grep -E '^(SNR|Segmental SNR|Peak error):' | tr '\n' ' '; }
"$build/velloxdec" "$work/sox.acm" "$work/sox_decoded.wav" >/dev/null
printf 'decoded against each other: %s\n' "$(snr "$work/direct.acm" "$work/sox_decoded.wav")"
# Each against sox's very-high-quality conversion, undithered: which of the two is nearer.
sox -D "$work/in.flac" -r 22050 "$work/reference.wav" rate -v
printf 'against sox rate -v, --resample:   %s\n' "$(snr "$work/direct.acm" "$work/reference.wav")"
printf 'against sox rate -v, through sox:  %s\n' "$(snr "$work/sox.acm" "$work/reference.wav")"
kb=$(/usr/bin/time -f '%M' "$build/vellox" "$work/in.flac" "$work/direct.acm" --resample 22050 \
    "${options[@]}" 2>&1 >/dev/null | tail -1)
printf 'peak resident memory of vellox --resample 22050: %d KiB\n' "$kb"
