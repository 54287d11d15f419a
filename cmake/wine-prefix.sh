#!/bin/sh
# wine-prefix.sh start|stop WINEBOOT WINESERVER, with WINEPREFIX set.
# start: makes the prefix on first use and keeps one wineserver running for the tests that follow;
# stop: ends that wineserver (and anything still running in the prefix).
set -eu
action=$1 wineboot=$2 wineserver=$3
: "${WINEPREFIX:?}"
case $action in
start)
    mkdir -p "$WINEPREFIX"
    # Persistent until stopped, but never forever: a run that is interrupted before its cleanup
    # leaves a server that goes away a minute after its last client. Fails harmlessly when one
    # is already running for this prefix.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$wineboot" -i </dev/null >/dev/null 2>&1
    else
        # Starts the prefix's system processes here, detached from the caller's output: started by
        # the first test instead, they would hold that test's output pipe open until they end.
        "$wineboot" </dev/null >/dev/null 2>&1
    fi
    ;;
stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
*)
    echo "usage: wine-prefix.sh start|stop WINEBOOT WINESERVER" >&2
    exit 2
    ;;
esac
