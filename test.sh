#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a normal build,
# once under AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes TFPdf
# for a minute.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
export QT_QPA_PLATFORM=offscreen

build_tree "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd "$ROOT/build" && ctest --output-on-failure -j"$(nproc)")

# Robustness: kestrune-text over every PDF of ../shared/corpus (skipped when absent).
"$ROOT/scripts/corpus-run.sh" "$ROOT/build/bin/kestrune-text"

# The library as other projects take it in: installed (find_package, pkg-config)
# and nested (add_subdirectory), each with the example program run.
"$ROOT/scripts/consumer-check.sh" "$ENGINE_LIB"

if [ "${KESTRUNE_SKIP_SANITIZERS:-0}" != 1 ]; then
    build_tree "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_SANITIZE=ON
    (cd "$ROOT/build-asan" && ctest --output-on-failure -j"$(nproc)")
fi

# Fuzzing: TFPdf over mutated documents for 60 seconds (scripts/fuzz.sh).
if [ "${KESTRUNE_SKIP_FUZZ:-0}" != 1 ]; then
    "$ROOT/scripts/fuzz.sh" 60
fi
