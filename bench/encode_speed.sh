#!/usr/bin/env bash
# Times the whole executable on a generated 10-minute 16-bit 22050 Hz mono WAV and prints input
# samples per second for a few settings. Usage: bench/encode_speed.sh [build-dir] [runs]
# With flac installed (apt-get install flac) it also runs `flac -5` on the same file,
# alternating with vellox, and prints the median ratio of their speeds.
set -euo pipefail
build=${1:-build/release}
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/vellox_make_wav" "$work/in.wav" 600
samples=$((600 * 22050))

seconds() {  # seconds taken by the command, to the millisecond
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

rate_of() {  # median samples per second of vellox with the given options
    local times=()
    for ((i = 0; i < runs; i++)); do times+=("$(seconds "$build/vellox" "$work/in.wav" "$work/out.acm" "$@")"); done
    local t
    t=$(printf '%s\n' "${times[@]}" | median)
    printf '%-22s %8.2f M samples/s  (%.3f s)\n' "vellox ${*:-(defaults)}" "$(echo "$samples / $t / 1000000" | bc -l)" "$t"
}

rate_of
rate_of -q0
for levels in 0 3 10 15; do rate_of -l "$levels"; done

if command -v flac >/dev/null; then
    ratios=()
    for ((i = 0; i < runs; i++)); do
        tv=$(seconds "$build/vellox" "$work/in.wav" "$work/out.acm")
        tf=$(seconds flac -5 -f -s -o "$work/out.flac" "$work/in.wav")
        ratios+=("$(echo "$tf / $tv" | bc -l)")
    done
    printf 'speed of vellox / speed of flac -5 (median of %d): %.2f\n' "$runs" "$(printf '%s\n' "${ratios[@]}" | median)"
fi
/usr/bin/time -v "$build/vellox" "$work/in.wav" "$work/out.acm" 2>&1 >/dev/null | grep -E 'Maximum resident' || true
