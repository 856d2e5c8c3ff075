#!/usr/bin/env bash
# The quality benchmark: every case of make_case in 8-bit unsigned and 16-bit signed encodings,
# converted by the classic comparator and by -a (16-bit with -s in both, the inverted case with
# -pr in both), and scored against the true edges. Prints one table per encoding and the means.
#
#   bench/quality/run.sh
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$here/build-bench}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPULSECUT_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target pulsecut make_case score_case >/dev/null

for bits in 8 16; do
  echo "== ${bits}-bit $([ "$bits" = 8 ] && echo unsigned || echo "signed, with -s")"
  printf "%-14s | %-38s | %-38s\n" "" "classic" "-a"
  printf "%-14s | %6s %6s %6s %7s %5s | %6s %6s %6s %7s %5s\n" case matched missed spur \
    score "sil/s" matched missed spur score "sil/s"
  sums=(0 0)
  n=0
  for c in $("$build/make_case" list); do
    "$build/make_case" "$c" "$bits" "$dir/in.wav" "$dir/truth" 
    opts=()
    skip=14
    if [ "$bits" = 16 ]; then opts+=(-s); skip=0; fi
    [ "$c" = inverted ] && opts+=(-pr)
    row=$(printf "%-14s" "$c")
    k=0
    for mode in classic adaptive; do
      extra=()
      [ "$mode" = adaptive ] && extra=(-a)
      # The adaptive comparator reads nothing before the data either way; the classic reading
      # of an 8-bit file skips 14 frames.
      "$build/pulsecut" "$dir/in.wav" "$dir/out.k58" "${opts[@]}" "${extra[@]}" >/dev/null
      read -r m mi sp sc te ss < <("$build/score_case" "$dir/out.k58" "$dir/truth" 44100 "$skip")
      row+=$(printf " | %6s %6s %6s %7s %5s" "$m" "$mi" "$sp" "$sc" "$ss")
      sums[$k]=$(awk -v a="${sums[$k]}" -v b="$sc" 'BEGIN {print a + b}')
      k=$((k + 1))
    done
    echo "$row"
    n=$((n + 1))
  done
  awk -v a="${sums[0]}" -v b="${sums[1]}" -v n="$n" \
    'BEGIN {printf "%-14s | %34.4f   | %34.4f\n", "mean score", a / n, b / n}'
done
