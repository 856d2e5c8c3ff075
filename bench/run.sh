#!/usr/bin/env bash
# Throughput of pulsecut against plainly reading the same file.
#
#   bench/run.sh [MEBIBYTES] [RUNS]      (defaults: 1024 MiB, 5 runs)
#
# Builds the Release binaries, writes a 16-bit stereo and an 8-bit mono recording of the
# synthetic tape signal (kept in $BENCH_DIR between runs, default /tmp/pulsecut-bench), reads
# each once so that it is in the page cache, then times in pairs: `cat FILE >/dev/null`, a whole
# run (PASS1 + PASS2), a run with -th/-tl (PASS2 only) and, for 16-bit stereo, the same run with
# the standard reading (-s) and with the adaptive comparator (-s -a, both passes). Prints the
# medians, MB/s and the ratio of each run to cat; the -s row also gives its ratio to the classic
# -th/-tl run.
#
# The images go to $BENCH_OUT (default /dev/shm when there is one, else $BENCH_DIR): the
# converter flushes each image to its disk before it takes its name, which on a disk adds the
# disk's own time (about 1.5 ms per MB of image on the development machine) to what is measured.
set -euo pipefail
size=${1:-1024}
runs=${2:-5}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build-bench}
dir=${BENCH_DIR:-/tmp/pulsecut-bench}
mkdir -p "$dir"
out=${BENCH_OUT:-$([ -d /dev/shm ] && echo /dev/shm || echo "$dir")}

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPULSECUT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target pulsecut make_recording >/dev/null

now() { date +%s%N; }
# Wall time of one command in nanoseconds.
timed() {
  local start end
  start=$(now)
  "$@" >/dev/null
  end=$(now)
  echo $((end - start))
}
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

printf "%-14s %-7s %9s %9s %7s\n" "recording" "mode" "seconds" "MB/s" "x cat"
for format in "2 16 stereo16" "1 8 mono8"; do
  set -- $format
  wav="$dir/$3-${size}MiB.wav"
  [ -f "$wav" ] || "$build/make_recording" "$wav" "$size" "$1" "$2"
  cat "$wav" >/dev/null
  bytes=$(stat -c %s "$wav")
  cats=() whole=() given=() standard=() adaptive=()
  for ((i = 0; i < runs; i++)); do
    cats+=("$(timed cat "$wav")")
    rm -f "$out/out.k58"
    whole+=("$(timed "$build/pulsecut" "$wav" "$out/out.k58")")
    rm -f "$out/out.k58"
    given+=("$(timed "$build/pulsecut" "$wav" "$out/out.k58" -thc000 -tl4000)")
    if [ "$2" = 16 ]; then
      rm -f "$out/out.k58"
      standard+=("$(timed "$build/pulsecut" "$wav" "$out/out.k58" -thc000 -tl4000 -s)")
      rm -f "$out/out.k58"
      adaptive+=("$(timed "$build/pulsecut" "$wav" "$out/out.k58" -s -a)")
    fi
  done
  c=$(printf "%s\n" "${cats[@]}" | median)
  g=$(printf "%s\n" "${given[@]}" | median)
  modes="cat whole given"
  [ "$2" = 16 ] && modes="$modes standard adaptive"
  for mode in $modes; do
    case $mode in
      cat) t=$c ;;
      whole) t=$(printf "%s\n" "${whole[@]}" | median) ;;
      given) t=$g ;;
      standard) t=$(printf "%s\n" "${standard[@]}" | median) ;;
      adaptive) t=$(printf "%s\n" "${adaptive[@]}" | median) ;;
    esac
    label=$mode
    [ "$mode" = whole ] && label="PASS1+2"
    [ "$mode" = given ] && label="-th/-tl"
    [ "$mode" = standard ] && label="-s"
    [ "$mode" = adaptive ] && label="-s -a"
    awk -v n="$3" -v m="$label" -v t="$t" -v b="$bytes" -v c="$c" -v g="$g" -v s="$mode" \
      'BEGIN {printf "%-14s %-7s %9.3f %9.0f %7.2f", n, m, t / 1e9, b / (t / 1e9) / 1e6, t / c
              if (s == "standard") printf "   (%.2f x the classic -th/-tl)", t / g
              printf "\n"}'
  done
  rm -f "$out/out.k58"
done
