#!/bin/sh
# Prepares the build tree's private Wine prefix (WINEPREFIX) for one more program, with the loader
# that wine-run.sh chose (ZORVEN_WINE); the caller holds the prefix's lock.
# - Created once, with COM5..COM12 mapped to fixed paths under the ports directory given as $1.
# - One wineserver stays up between programs (60 s after the last one) so that starts are quick.
#   When this call starts it, Wine's own services are started here too, with no terminal or pipe
#   of the caller's: otherwise they would inherit a test runner's output pipe and keep it open.
ports="$1"
wine="${ZORVEN_WINE:-wine}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$ports"
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  for n in 5 6 7 8 9 10 11 12; do
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$ports/COM$n" /f </dev/null >/dev/null 2>&1
  done
  # The port mapping is read when Wine starts its devices: restart this prefix's server.
  wineserver -k </dev/null >/dev/null 2>&1 || true
fi
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  "$wine" wineboot </dev/null >/dev/null 2>&1 || true
fi
exit 0
