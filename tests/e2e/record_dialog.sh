#!/bin/sh
# Stands in for a desktop dialog program (zenity, kdialog, xmessage) in the end-to-end tests:
# appends its name and arguments, one per line, and a line "--", to $ORVANE_E2E_OUT/dialogs.
out=${ORVANE_E2E_OUT:?}
printf '%s\n' "${0##*/}" "$@" -- >> "$out/dialogs"
