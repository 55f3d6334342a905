#!/bin/sh
# Stands in for Firefox as $BROWSER, as headless_chromium.sh does for Chromium: the arguments to
# $ORVANE_E2E_OUT/argv, its pid to firefox.pid, then the real one ($ORVANE_E2E_FIREFOX) headless.
out=${ORVANE_E2E_OUT:?}
printf '%s\n' "$@" > "$out/argv"
echo $$ > "$out/firefox.pid"
exec "${ORVANE_E2E_FIREFOX:?}" -headless "$@" > "$out/firefox.log" 2>&1
