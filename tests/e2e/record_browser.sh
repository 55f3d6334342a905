#!/bin/sh
# Stands in for a browser that is no Chromium: records its arguments (one per line, in
# $ORVANE_E2E_OUT/argv), fetches the start URL (the last argument) with curl into
# $ORVANE_E2E_OUT/page, and ends.
out=${ORVANE_E2E_OUT:?}
: > "$out/argv"
for word in "$@"; do printf '%s\n' "$word" >> "$out/argv"; url=$word; done
curl -s -g -o "$out/page" -w '%{http_code}' "$url" > "$out/status"
date +%s.%N > "$out/browser-gone"
