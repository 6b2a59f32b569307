#!/usr/bin/env bash
# The icon controls of both dialogs, as compiled into the executable, keep
# their 21 x 20 dialog units.
#   check_icon_controls.sh WINDRES EXE
set -euo pipefail
icons=$("$1" -i "$2" -O rc | grep -E '^ *(ICON|CONTROL) 128,')
echo "$icons"
[ "$(wc -l <<<"$icons")" -eq 2 ] && ! grep -qv ', 21, 20$' <<<"$icons"
