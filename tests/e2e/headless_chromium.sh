#!/bin/sh
# Stands in for a desktop browser in the end-to-end tests: installed as a program named
# "chromium" and given to the launcher as $BROWSER, it records the arguments the launcher passed
# (one per line, in $ORVANE_E2E_OUT/argv) and runs the real Chromium headless with them.
#   ORVANE_E2E_MODE=dump        print the page's DOM to $ORVANE_E2E_OUT/dom.html once the page has
#                               settled, then end (as a browser window that is closed)
#   ORVANE_E2E_MODE=detach      start Chromium in the background, keep the page open, write its pid
#                               to $ORVANE_E2E_OUT/chromium.pid and end at once (as a launcher
#                               script that hands off to the browser)
#   ORVANE_E2E_MODE=foreground  become Chromium, the page open until it is ended
#   ORVANE_E2E_MODE=refuse      close the DevTools pipe (descriptors 3 and 4) and become Chromium
#                               without it, as a browser whose remote debugging is turned off
#   ORVANE_E2E_MODE=window      become Chromium with windows on $DISPLAY (not headless): a second
#                               start on the same profile hands its page to the first and ends
# ORVANE_E2E_CHROMIUM names the real Chromium.
out=${ORVANE_E2E_OUT:?}
chromium=${ORVANE_E2E_CHROMIUM:-/usr/bin/chromium}
: > "$out/argv"
for word in "$@"; do printf '%s\n' "$word" >> "$out/argv"; done
if [ "${ORVANE_E2E_MODE:-}" = window ]; then
  exec "$chromium" --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync "$@" > /dev/null 2>> "$out/chromium.log"
fi
set -- --headless --no-sandbox --disable-gpu --disable-background-networking \
  --disable-component-update --disable-sync --disable-popup-blocking --no-first-run "$@"
case ${ORVANE_E2E_MODE:-dump} in
  dump)
    # A Chromium driven over a DevTools pipe stays open after --dump-dom, so the pipe the
    # launcher asked for is left out here: the browser is meant to be gone once it has dumped.
    for word in "$@"; do
      case $word in --remote-debugging-pipe) ;; *) set -- "$@" "$word" ;; esac
      shift
    done
    "$chromium" --dump-dom --virtual-time-budget=10000 "$@" > "$out/dom.html" 2> "$out/chromium.log"
    date +%s.%N > "$out/browser-gone"
    ;;
  detach)
    "$chromium" "$@" > /dev/null 2> "$out/chromium.log" &
    echo $! > "$out/chromium.pid"
    ;;
  foreground)
    echo $$ > "$out/chromium.pid"
    exec "$chromium" "$@" > /dev/null 2> "$out/chromium.log"
    ;;
  refuse)
    for word in "$@"; do
      case $word in --remote-debugging-pipe) ;; *) set -- "$@" "$word" ;; esac
      shift
    done
    exec 3<&- 4>&-
    echo $$ > "$out/chromium.pid"
    exec "$chromium" "$@" > /dev/null 2> "$out/chromium.log"
    ;;
esac
