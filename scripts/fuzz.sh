#!/usr/bin/env bash
# Fuzzes TFPdf: builds fuzz/fuzz_document with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, writes the seed corpus from the
# project's own fixture builder, and runs libFuzzer for SECONDS (default 60).
#
#   scripts/fuzz.sh [SECONDS]
#
# Exit status 0 when the run ends without a finding. A finding (a crash, a
# sanitizer report, a leak, an input slower than FUZZ_TIMEOUT seconds or
# using more than FUZZ_RSS_MB) stops the run with status 1; its input is
# saved under build-fuzz/findings/ and libFuzzer's report names it. Replay it
# with: build-fuzz/bin/fuzz_document FILE
#
# FUZZ_SEED sets libFuzzer's random seed (a given seed and the same build
# walk the same inputs; by default every run takes a new one).
#
# Leaks are not looked for by default: clang 14's LeakSanitizer now and then
# crashes inside its own scan of this process's memory (the engine library is
# loaded with dlopen and brings thread-local storage of its own), which would
# stop the run with a finding that is none. The ASan build of the test suite
# looks for leaks with GCC's sanitizer runtime. FUZZ_DETECT_LEAKS=1 turns the
# leak check on here.
set -euo pipefail
source "$(dirname "$0")/setup.sh"

RUN_SECONDS="${1:-60}"
case "$RUN_SECONDS" in
    ''|*[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number, not '$RUN_SECONDS'" >&2; exit 2 ;;
esac

FUZZ_BUILD="$ROOT/build-fuzz"
build_tree "$FUZZ_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DKESTRUNE_SANITIZE=ON -DKESTRUNE_BUILD_FUZZERS=ON -DKESTRUNE_BUILD_TESTS=OFF -DKESTRUNE_BUILD_PROGRAMS=OFF

SEEDS="$FUZZ_BUILD/seeds"
CORPUS="$FUZZ_BUILD/corpus"      # what the runs have found interesting; kept between runs
FINDINGS="$FUZZ_BUILD/findings"
rm -rf "$SEEDS"
mkdir -p "$SEEDS" "$CORPUS" "$FINDINGS"
"$FUZZ_BUILD/bin/write_seeds" "$SEEDS"

LEAKS="${FUZZ_DETECT_LEAKS:-0}"
options=(-max_total_time="$RUN_SECONDS" -timeout="${FUZZ_TIMEOUT:-30}" -rss_limit_mb="${FUZZ_RSS_MB:-2048}"
         -max_len=65536 -detect_leaks="$LEAKS" -print_final_stats=1 -artifact_prefix="$FINDINGS/")
[ -n "${FUZZ_SEED:-}" ] && options+=(-seed="$FUZZ_SEED")

echo "fuzz.sh: fuzzing for $RUN_SECONDS s from $(ls "$SEEDS" | wc -l) seeds"
status=0
QT_QPA_PLATFORM=offscreen ASAN_OPTIONS="detect_leaks=$LEAKS${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
    "$FUZZ_BUILD/bin/fuzz_document" "${options[@]}" "$CORPUS" "$SEEDS" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzz.sh: finding (exit status $status); its input is in $FINDINGS/" >&2
    exit 1
fi
