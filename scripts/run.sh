#!/usr/bin/env bash
# Installs what is missing, builds the desktop program and starts it with its bundled data.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/deps.sh"
cmake -S "$top" -B "$top/build/desktop" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABLADEX_DESKTOP=ON >/dev/null
cmake --build "$top/build/desktop" --target tabladex -j"$(nproc)"
exec "$top/build/desktop/app/tabladex"
