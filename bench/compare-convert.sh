#!/usr/bin/env bash
# The veltrane command side by side with ImageMagick's convert on one
# 6000 x 4000 8-bit RGB PNG with noise: wall and CPU times, peak memory and
# the ratios, every command run in the same session.
#
#   bench/compare-convert.sh [BUILD_DIR]     (default: build/release)
#
# RUNS=N repeats each command N times (default 3) and keeps the fastest
# wall time; WORK=DIR is where the image and the outputs go (default:
# BUILD_DIR/bench-compare; the image is made once and kept there).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
runs=${RUNS:-3}
work=${WORK:-$build/bench-compare}
veltrane=$build/bin/veltrane
# The Debian package's convert, not whatever else is first on PATH.
convert=/usr/bin/convert

if [[ ! -x $veltrane ]]; then
  echo "compare-convert: $veltrane not found; build the release preset first" >&2
  exit 1
fi
if ! "$convert" -version 2>/dev/null | grep -q ImageMagick; then
  echo "compare-convert: ImageMagick is missing; installing it (scripts/install-deps.sh --bench)" >&2
  bash "$root/scripts/install-deps.sh" --bench
fi
if [[ ! -x /usr/bin/time ]]; then
  echo "compare-convert: /usr/bin/time is missing (Debian package 'time')" >&2
  exit 1
fi

mkdir -p "$work"
big=$work/big.png
if [[ ! -f $big ]]; then
  echo "compare-convert: making $big (6000 x 4000, 8-bit RGB, Gaussian noise)"
  "$convert" -size 6000x4000 'gradient:rgb(40,60,90)-rgb(220,200,170)' -attenuate 0.5 +noise Gaussian \
    -depth 8 "PNG24:$big"
fi

# run NAME COMMAND...: the fastest of $runs runs; sets wall_NAME, cpu_NAME
# (user + system seconds of that run) and rss_NAME (peak resident KiB).
declare -A wall cpu rss
run() {
  local name=$1
  shift
  local best="" stats
  for ((i = 0; i < runs; i++)); do
    stats=$work/time-$name.txt
    if ! /usr/bin/time -o "$stats" -f '%e %U %S %M' "$@" >/dev/null 2>"$work/stderr-$name.txt"; then
      echo "compare-convert: '$*' failed:" >&2
      cat "$work/stderr-$name.txt" >&2
      exit 1
    fi
    read -r e u s m <"$stats"
    if [[ -z $best ]] || awk -v a="$e" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$e
      wall[$name]=$e
      cpu[$name]=$(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }')
      rss[$name]=$m
    fi
  done
}

v=(--no-registry -q)
run halvane "$veltrane" halvane "$big" "$work/halvane.png" "${v[@]}"
run despeckle "$convert" "$big" -despeckle "$work/despeckle.png"
run veltrane_files "$veltrane" halvane "$big" "$work/files.png" "${v[@]}" --rect 0,0,32,32
run convert_files "$convert" "$big" "$work/convert.png"
run mirelle "$veltrane" mirelle "$big" "$work/mirelle.png" "${v[@]}"

echo "compare-convert: $(nproc) processors, load average $(cut -d' ' -f1-3 /proc/loadavg), fastest of $runs runs"
printf '%-58s %8s %8s %9s\n' command "wall s" "cpu s" "peak MiB"
row() {
  printf '%-58s %8s %8s %9d\n' "$1" "${wall[$2]}" "${cpu[$2]}" $((rss[$2] / 1024))
}
row "veltrane halvane big.png out.png" halvane
row "convert big.png -despeckle out.png" despeckle
row "veltrane halvane big.png out.png --rect 0,0,32,32 (files)" veltrane_files
row "convert big.png out.png (files)" convert_files
row "veltrane mirelle big.png out.png" mirelle
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo "despeckle / halvane wall:           $(ratio "${wall[despeckle]}" "${wall[halvane]}")  (goal: 2.5 or more)"
echo "convert / veltrane file work, wall: $(ratio "${wall[convert_files]}" "${wall[veltrane_files]}")  (goal: 1.0 or more)"
echo "convert / veltrane file work, cpu:  $(ratio "${cpu[convert_files]}" "${cpu[veltrane_files]}")"
