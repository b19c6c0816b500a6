#!/usr/bin/env bash
# Checks that the program's folders include one another in one direction only:
#   app, cli  >  tutor  >  rhythm, listen, gfx, store  >  platform
# A file may include files of its own folder and of folders below it; an include that runs
# back up the order is printed with its file and line, and the check fails. --arrows prints
# every include between folders, counted, as well.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

rank() {
  case $1 in
    app | cli) echo 4 ;;
    tutor) echo 3 ;;
    rhythm | listen | gfx | store) echo 2 ;;
    platform) echo 1 ;;
    *) echo 0 ;;
  esac
}

show_arrows=0
[ "${1:-}" = --arrows ] && show_arrows=1

status=0
arrows=$(mktemp)
trap 'rm -f "$arrows"' EXIT
while IFS=: read -r file line text; do
  from=${file%%/*}
  to=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' <<<"$text")
  [ -n "$to" ] && [ "$to" != "$from" ] || continue
  [ "$(rank "$to")" -gt 0 ] || continue
  echo "$from -> $to" >>"$arrows"
  if [ "$(rank "$from")" -lt "$(rank "$to")" ]; then
    echo "upward include: $file:$line: $text"
    status=1
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' app cli tutor rhythm listen gfx store platform \
           --include='*.h' --include='*.cpp')

if [ "$show_arrows" = 1 ]; then
  echo "includes between folders:"
  sort "$arrows" | uniq -c | sed 's/^/  /'
fi
[ "$status" = 0 ] && echo "layers: every include runs down the order (app, cli > tutor > rhythm, listen, gfx, store > platform)"
exit "$status"
