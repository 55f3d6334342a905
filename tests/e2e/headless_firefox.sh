#!/bin/sh
# Stands in for Firefox in the end-to-end tests: installed as a program named "firefox" and given
# to the launcher as $BROWSER, it records the arguments the launcher passed (one per line, in
# $ORVANE_E2E_OUT/argv), writes its pid to $ORVANE_E2E_OUT/firefox.pid and becomes the real
# Firefox ($ORVANE_E2E_FIREFOX), headless, with them.
out=${ORVANE_E2E_OUT:?}
: > "$out/argv"
for word in "$@"; do printf '%s\n' "$word" >> "$out/argv"; done
echo $$ > "$out/firefox.pid"
exec "${ORVANE_E2E_FIREFOX:?}" -headless "$@" > "$out/firefox.log" 2>&1
