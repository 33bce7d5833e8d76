#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]   runs a Windows program under Wine
# wine-run.sh PREFIX --start-session      brings up the Wine server and services
# wine-run.sh PREFIX --end-session        stops them
#
# The prefix is made on first use, once, under a lock, and completely before
# any program starts, so that parallel runs do not race to create it.
#
# The Wine server and the services it starts outlive the program that brought
# them up, holding its standard streams open; a test runner reading those
# would wait for them. A session started beforehand with no standard streams
# avoids that: later programs join it.
set -e
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or HTML engine: nothing here needs them, and without this Wine
# tries to install them.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
      wineboot --init
      wineserver --wait
    fi
  ) 9>"$prefix.lock"
fi
case "$1" in
  --start-session)
    # Kept for a while after its last program, in case the runner pauses.
    wineserver --persistent=30 </dev/null >/dev/null 2>&1 || true
    exec wine cmd.exe /c exit </dev/null >/dev/null 2>&1
    ;;
  --end-session)
    exec wineserver --kill
    ;;
esac
exec wine "$@"
