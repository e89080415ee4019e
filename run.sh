#!/usr/bin/env bash
# Installs what is missing, builds, and starts the converter window.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
configure_tree "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
# Only the window (the configuration has already put the engine beside it).
cmake --build "$ROOT/build" -j"$(nproc)" --target kestrune
if [ ! -x "$ROOT/build/bin/kestrune" ]; then
    echo "run: the build did not produce the converter window ($ROOT/build/bin/kestrune)" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" = "" ]; then
    echo "run: no display found (DISPLAY is not set), so the window cannot open." >&2
    echo "run: convert from the command line instead: $ROOT/build/bin/kestrune-text FILE.pdf..." >&2
    echo "run: (it writes the same text files as the window; see kestrune-text --help)" >&2
    exit 1
fi
exec "$ROOT/build/bin/kestrune" "$@"
