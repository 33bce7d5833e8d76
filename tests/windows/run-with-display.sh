#!/bin/sh
# run-with-display.sh WINE-RUN PREFIX PROGRAM [ARGS...]
# Runs a Windows program that opens windows: on a virtual X display of its
# own, in a Wine session of its own. The Wine desktop takes its display when
# the session starts, so a session started without one (the one the other
# tests share) cannot show windows; hence a prefix of its own as well.
set -e
exec xvfb-run -a -s "-screen 0 1600x1200x24" sh -c '
  wine_run=$1
  prefix=$2
  shift 2
  "$wine_run" "$prefix" --start-session
  status=0
  timeout -k 10 300 "$wine_run" "$prefix" "$@" || status=$?
  "$wine_run" "$prefix" --end-session || true
  exit $status
' run-with-display "$@"
