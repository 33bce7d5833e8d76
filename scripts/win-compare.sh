#!/bin/sh
# win-compare.sh [LINUX-BUILD [WINDOWS-BUILD...]]
# Compares the files the pixel-equality tests left in pixel-equality/ of a
# Linux build and of each Windows build: netpbm files byte for byte, PNG and
# TIFF files (each build's own encoder) by their values as the Linux build
# decodes them. Run the tests
# of every build first (make win-compare does).
set -u
linux=${1:-build/release}
[ $# -gt 0 ] && shift
windows=${*:-build/win32 build/win64}
status=0
files=$(cd "$linux/pixel-equality" 2>/dev/null && ls) || { echo "win-compare: no outputs in $linux/pixel-equality" >&2; exit 2; }
[ -n "$files" ] || { echo "win-compare: no outputs in $linux/pixel-equality" >&2; exit 2; }
for build in $windows; do
  for f in $files; do
    case $f in
      *.pam | *.pfm | *.pgm | *.ppm) ;;
      *)
        # Written by each build's own image library: the decoded values
        # must match, read by the Linux build.
        if "$linux/bin/veltrane-compare" --same "$linux/pixel-equality/$f" "$build/pixel-equality/$f" >/dev/null 2>&1; then
          echo "same     $build/pixel-equality/$f (decoded)"
        else
          echo "DIFFERS  $build/pixel-equality/$f (decoded, or missing)"
          status=1
        fi
        continue
        ;;
    esac
    if cmp -s "$linux/pixel-equality/$f" "$build/pixel-equality/$f"; then
      echo "same     $build/pixel-equality/$f"
    else
      echo "DIFFERS  $build/pixel-equality/$f (or missing)"
      status=1
    fi
  done
done
exit $status
