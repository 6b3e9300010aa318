#!/bin/sh
# Usage: wine-server.sh start WINE PATCHER.EXE | stop WINE
# Keeps one Wine server alive across the test run, so each run of the
# program starts warm instead of paying for a cold start.
set -eu
server="$(dirname "$(command -v "$2")")/wineserver"
[ -x "$server" ] || server=wineserver
case "$1" in
start)
	mkdir -p "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
	# A server of this prefix may still be running, left by a run cut off
	# or by the last round of a repeated run: a second persistent one is
	# refused, so that one is ended first, and waited for.
	"$server" -k </dev/null >/dev/null 2>&1 || true
	"$server" -w </dev/null >/dev/null 2>&1
	# Its output goes nowhere: a server holding the test's pipes would hang it.
	"$server" -p </dev/null >/dev/null 2>&1
	# The first start of a prefix creates it, prints set-up messages and
	# leaves helpers behind: run it once here, every stream discarded.
	scratch=$(mktemp -d)
	(cd "$scratch" && "$2" "$3" </dev/null >/dev/null 2>&1) || true
	rm -rf "$scratch"
	;;
stop)
	"$server" -k </dev/null >/dev/null 2>&1 || true
	;;
*)
	echo "usage: $0 start WINE PATCHER.EXE | stop WINE" >&2
	exit 2
	;;
esac
