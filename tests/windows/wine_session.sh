#!/bin/sh
# The Wine session around the Windows tests, in the prefix that WINEPREFIX
# names. `start` creates the prefix when it is new (the one slow step, some
# seconds) and leaves a persistent wineserver, so that each test does not
# wait for the server to time out after its program ends; `stop` ends the
# server and every Wine process of the prefix.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
wine=${QUARROW_WINE:-/usr/lib/wine/wine64}
wineserver=${QUARROW_WINESERVER:-/usr/lib/wine/wineserver}

case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    # The server and the services that wineboot leaves running must not
    # hold the test runner's output pipe, or it waits for them to end.
    # A server that is already up for this prefix refuses to start a second
    # one, which is fine.
    "$wineserver" -p </dev/null >/dev/null 2>&1 || true
    "$wine" wineboot --init </dev/null >"$WINEPREFIX/wineboot.log" 2>&1
    ;;
  stop)
    "$wineserver" -k || true
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
