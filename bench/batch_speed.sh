#!/usr/bin/env bash
# Times many small conversions: 300 generated WAV files of 2 to 20 s (half 22050 Hz mono from
# vellox_make_wav, half 44.1 kHz stereo cut from a music-like sox signal) converted by
# `vellox --batch -j 2` (and -j 1, for its own cost), by a shell loop of one `vellox in out` per
# file, and by `xargs -P 2` over the two-name form (once with `-n 1` and a shell per file that
# names the output, once with `-n 2` over the pairs of names, no shell). The ways run in
# rounds; the script prints the median wall and processor time of each and the median of the
# rounds' speed ratios. Then the peak resident memory: one conversion of the longest file (GNU
# time), and the batch sampled every 10 ms with its running jobs added up (the parent and the
# jobs alive at that moment). velloxdec --batch -j 2 on the ACM files against its own shell loop
# comes last.
# Needs sox (apt-get install -y sox; tools/install-deps --bench).
# Usage: bench/batch_speed.sh [build-dir] [runs] [files]
set -euo pipefail
build=${1:-build/release}
runs=${2:-5}
files=${3:-300}
vellox=$(realpath "$build/vellox")
velloxdec=$(realpath "$build/velloxdec")
make_wav=$(realpath "$build/vellox_make_wav")
for program in "$vellox" "$velloxdec" "$make_wav"; do
    [[ -x $program ]] || { echo "$program is not built" >&2; exit 1; }
done
command -v sox >/dev/null || { echo "needs sox: apt-get install -y sox" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The material: lengths 2 to 20 s spread over the files, odd files stereo.
sox -R -n -r 44100 -c 2 -b 16 stereo.wav synth 20 sawtooth 110:98 triangle mix 220:196 \
    sine mix 330:392 chorus 0.6 0.9 50 0.4 5 2 -s tremolo 0.13 40 gain -n -3
mkdir in
samples=0
for ((i = 0; i < files; i++)); do
    seconds=$((2 + (i * 7) % 19))
    name=$(printf 'in/s%03d.wav' "$i")
    if ((i % 2)); then
        sox stereo.wav "$name" trim 0 "$seconds"
        samples=$((samples + seconds * 44100 * 2))
    else
        "$make_wav" "$name" "$seconds"
        samples=$((samples + seconds * 22050))
    fi
done
rm stereo.wav
echo "$files files, $samples samples ($(du -sh in | cut -f1))"

times_of() {  # "wall processor" seconds taken by the command
    local TIMEFORMAT='%R %U %S' taken
    taken=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    read -r wall user system <<<"$taken"
    echo "$wall $(echo "$user + $system" | bc -l)"
}
median() { sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

batch() { "$vellox" --batch -j 2 in/*.wav; }
batch_j1() { "$vellox" --batch -j 1 in/*.wav; }
loop() { for f in in/*.wav; do "$vellox" "$f" "${f%.wav}.acm"; done; }
xargs_n1() {
    # shellcheck disable=SC2016  # expanded by the shell xargs starts
    printf '%s\n' in/*.wav | xargs -P 2 -n 1 sh -c '"$0" "$1" "${1%.wav}.acm"' "$vellox"
}
xargs_n2() { for f in in/*.wav; do printf '%s\n%s\n' "$f" "${f%.wav}.acm"; done | xargs -P 2 -n 2 "$vellox"; }

# Each round runs every way once; the speed-ups are the medians of the rounds' own ratios, which
# other work on the machine sways less than the ratio of the medians.
declare -A walls cpus ratios
ways=(batch batch_j1 loop xargs_n1 xargs_n2)
for ((r = 0; r < runs; r++)); do
    declare -A round=()
    for way in "${ways[@]}"; do
        rm -f in/*.acm
        read -r wall cpu <<<"$(times_of "$way")"
        walls[$way]+="$wall "
        cpus[$way]+="$cpu "
        round[$way]=$wall
    done
    for way in "${ways[@]}"; do
        ratios[$way]+="$(echo "${round[$way]} / ${round[batch]}" | bc -l) "
    done
done
declare -A wall cpu ratio
for way in "${ways[@]}"; do
    wall[$way]=$(printf '%s\n' ${walls[$way]} | median)
    cpu[$way]=$(printf '%s\n' ${cpus[$way]} | median)
    ratio[$way]=$(printf '%s\n' ${ratios[$way]} | median)
done
echo "medians of $runs rounds: wall time, processor time (user + system, all processes)"
printf '%-34s %7.3f s %7.3f s  %6.1f M samples/s\n' "vellox --batch -j 2" "${wall[batch]}" \
    "${cpu[batch]}" "$(echo "$samples / ${wall[batch]} / 1000000" | bc -l)"
for way in batch_j1 loop xargs_n1 xargs_n2; do
    case $way in
        batch_j1) label="vellox --batch -j 1" ;;
        loop) label="shell loop, one call per file" ;;
        xargs_n1) label="xargs -P 2 -n 1 (sh -c per file)" ;;
        xargs_n2) label="xargs -P 2 -n 2 (pairs of names)" ;;
    esac
    printf '%-34s %7.3f s %7.3f s  batch -j 2 %.2fx as fast\n' "$label" "${wall[$way]}" \
        "${cpu[$way]}" "${ratio[$way]}"
done

# Memory: one conversion of a longest file, then the batch's parent and jobs added up.
longest=$(ls -S in/*.wav | head -1)
one=$(/usr/bin/time -f '%M' "$vellox" "$longest" "$work/one.acm" 2>&1 >/dev/null | tail -1)
rm -f in/*.acm
"$vellox" --batch -j 2 in/*.wav >/dev/null 2>&1 &
parent=$!
peak=0
parent_peak=0
while [[ -e /proc/$parent/status ]] && ! grep -q '^State:.*Z' "/proc/$parent/status" 2>/dev/null; do
    total=0
    for pid in $parent $(pgrep -P "$parent" || true); do
        rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
        total=$((total + ${rss:-0}))
        [[ $pid == "$parent" && ${rss:-0} -gt $parent_peak ]] && parent_peak=${rss:-0}
    done
    ((total > peak)) && peak=$total
    sleep 0.01
done
wait "$parent"
printf 'peak resident memory: one conversion %d KiB; batch -j 2 %d KiB (its parent %d KiB)\n' \
    "$one" "$peak" "$parent_peak"

# velloxdec on the ACM files.
dec_batch() { "$velloxdec" --batch -j 2 -f in/*.acm --output-dir out; }
dec_loop() {
    for f in in/*.acm; do
        name=${f##*/}
        "$velloxdec" "$f" "out/${name%.acm}.wav"
    done
}
mkdir out
declare -A dec
for ((r = 0; r < runs; r++)); do
    for way in dec_batch dec_loop; do
        rm -f out/*
        read -r taken _ <<<"$(times_of "$way")"
        dec[$way]+="$taken "
    done
done
b=$(printf '%s\n' ${dec[dec_batch]} | median)
l=$(printf '%s\n' ${dec[dec_loop]} | median)
printf 'velloxdec --batch -j 2 %.3f s, shell loop %.3f s: batch %.2fx faster\n' "$b" "$l" \
    "$(echo "$l / $b" | bc -l)"
