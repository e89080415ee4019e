#!/usr/bin/env bash
# Takes Kestrune in as another project would: installs it into a temporary
# prefix and builds examples/page-texts against the installation with
# find_package and with pkg-config, and once more with Kestrune nested
# (add_subdirectory). Every build's program runs on the example's PDF from an
# unrelated folder without LD_LIBRARY_PATH, so it has to find the engine itself;
# the installation's own build tree is gone by then, so only the installed
# engine can serve. The installed kestrune-text converts the same file, also
# once the installation has been moved elsewhere.
#   scripts/consumer-check.sh ENGINE_LIBRARY
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ENGINE="${1:?usage: consumer-check.sh ENGINE_LIBRARY}"
JOBS="$(nproc)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
EXAMPLE="$ROOT/examples/page-texts"
PREFIX="$WORK/prefix"

fail() { echo "consumer-check: $*" >&2; exit 1; }
step() { echo "consumer-check: $*"; }

quiet() {  # runs a command, showing its output only when it fails
    local log="$WORK/log"
    "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "failed: $*"; }
}

# run_example PROGRAM: runs it on a copy of the example's PDF from another folder.
expected="$WORK/expected.txt"
printf 'Hello from Kestrune\f\nPage two\f\n' >"$expected"
mkdir -p "$WORK/elsewhere"
cp "$EXAMPLE/sample.pdf" "$WORK/elsewhere/sample.pdf"
run_example() {
    local out="$WORK/out.txt"
    (cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$1" sample.pdf) >"$out" ||
        fail "$1 failed on sample.pdf"
    cmp -s "$out" "$expected" || { diff "$expected" "$out" >&2 || true; fail "$1 printed other text than expected"; }
}

step "installing into a temporary prefix"
quiet cmake -S "$ROOT" -B "$WORK/kestrune-build" -DCMAKE_BUILD_TYPE=Release -DKESTRUNE_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DKESTRUNE_ENGINE_LIBRARY="$ENGINE"
quiet cmake --build "$WORK/kestrune-build" -j"$JOBS"
quiet cmake --install "$WORK/kestrune-build"
rm -rf "$WORK/kestrune-build"

LIBDIR="$(dirname "$(find "$PREFIX" -name libkestrune_pdf.a -print -quit)")"
[ -d "$LIBDIR" ] || fail "the library was not installed"
for f in include/kestrune/FPdf.h include/kestrune/EntryPoints.def bin/kestrune bin/kestrune-text \
         share/applications/kestrune.desktop share/icons/hicolor/scalable/apps/kestrune.svg \
         share/man/man1/kestrune-text.1; do
    [ -e "$PREFIX/$f" ] || fail "not installed: $f"
done
for f in kestrune/libpdfium.so cmake/Kestrune/KestruneConfig.cmake cmake/Kestrune/KestruneConfigVersion.cmake \
         pkgconfig/kestrune.pc pkgconfig/kestrune-ocr.pc; do
    [ -e "$LIBDIR/$f" ] || fail "not installed: ${LIBDIR#"$PREFIX"/}/$f"
done
# Only the public headers are installed.
[ "$(find "$PREFIX/include" -type f | wc -l)" = "$(find "$ROOT/include/kestrune" -type f | wc -l)" ] ||
    fail "the installed headers are not exactly include/kestrune"
quiet desktop-file-validate "$PREFIX/share/applications/kestrune.desktop"

step "the installed kestrune-text"
(cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$PREFIX/bin/kestrune-text" sample.pdf) >/dev/null 2>"$WORK/log" ||
    { cat "$WORK/log" >&2; fail "the installed kestrune-text failed"; }
grep -q "Hello from Kestrune" "$WORK/elsewhere/sample.txt" || fail "the installed kestrune-text wrote no text"

step "the example with find_package"
quiet cmake -S "$EXAMPLE" -B "$WORK/find-package" -DCMAKE_PREFIX_PATH="$PREFIX" -DPAGE_TEXTS_ENGINE_BESIDE=ON
quiet cmake --build "$WORK/find-package" -j"$JOBS"
[ -f "$WORK/find-package/libpdfium.so" ] || fail "kestrune_copy_engine put no engine beside page-texts"
run_example "$WORK/find-package/page-texts"

step "the example with pkg-config"
mkdir -p "$WORK/pkg-config"
# shellcheck disable=SC2046
quiet g++ -o "$WORK/pkg-config/page-texts" "$EXAMPLE/main.cpp" \
    $(PKG_CONFIG_PATH="$LIBDIR/pkgconfig" pkg-config --cflags --libs kestrune)
run_example "$WORK/pkg-config/page-texts"

step "a scanned page read in three lines (Kestrune::ocr), with find_package and with pkg-config"
mkdir -p "$WORK/ocr"
cat >"$WORK/ocr/main.cpp" <<'CPP'
#include <kestrune/FPdf.h>
#include <kestrune/PageRecognizer.h>
#include <cstdio>
int main(int, char** argv) {
    kestrune::TFPdf pdf;
    pdf.SetFileName(argv[1]);
    pdf.SetActive(true);
    std::puts(kestrune::TPageRecognizer("eng").RecognizePage(pdf, 1, 300).Text.toUtf8().constData());
}
CPP
cat >"$WORK/ocr/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(read-scan LANGUAGES CXX)
find_package(Kestrune REQUIRED)
add_executable(read-scan main.cpp)
target_link_libraries(read-scan PRIVATE Kestrune::ocr)
CMAKE
quiet cmake -S "$WORK/ocr" -B "$WORK/ocr/build" -DCMAKE_PREFIX_PATH="$PREFIX"
quiet cmake --build "$WORK/ocr/build"
# shellcheck disable=SC2046
quiet g++ -o "$WORK/ocr/read-scan" "$WORK/ocr/main.cpp" \
    $(PKG_CONFIG_PATH="$LIBDIR/pkgconfig" pkg-config --cflags --libs kestrune-ocr)
for program in "$WORK/ocr/build/read-scan" "$WORK/ocr/read-scan"; do
    (cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$program" sample.pdf) | grep -q "Hello from Kestrune" ||
        fail "$program did not read the page's words"
done

step "every installed header on its own, with pkg-config's flags only"
for header in "$PREFIX"/include/kestrune/*.h; do
    # shellcheck disable=SC2046
    echo "#include <kestrune/$(basename "$header")>" |
        quiet g++ -fsyntax-only -x c++ - $(PKG_CONFIG_PATH="$LIBDIR/pkgconfig" pkg-config --cflags kestrune)
done

step "the installation moved elsewhere"
mv "$PREFIX" "$WORK/moved"
rm -f "$WORK/elsewhere/sample.txt"
(cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$WORK/moved/bin/kestrune-text" sample.pdf) >/dev/null 2>"$WORK/log" ||
    { cat "$WORK/log" >&2; fail "the moved kestrune-text failed"; }
grep -q "Hello from Kestrune" "$WORK/elsewhere/sample.txt" || fail "the moved kestrune-text wrote no text"
# Only the engine copied beside it serves the find_package build now.
run_example "$WORK/find-package/page-texts"
[ "$(PKG_CONFIG_PATH="$WORK/moved/${LIBDIR#"$PREFIX"/}/pkgconfig" pkg-config --variable=libdir kestrune)" -ef \
  "$WORK/moved/${LIBDIR#"$PREFIX"/}" ] || fail "kestrune.pc does not follow the moved installation"

step "the example with Kestrune nested (add_subdirectory)"
quiet cmake -S "$EXAMPLE" -B "$WORK/nested" -DKESTRUNE_SOURCE_DIR="$ROOT" -DKESTRUNE_ENGINE_LIBRARY="$ENGINE"
quiet cmake --build "$WORK/nested" -j"$JOBS"
run_example "$WORK/nested/page-texts"
# Nested, nothing but the library (and the example) builds, and neither
# GoogleTest nor Qt Widgets is looked for.
[ ! -e "$WORK/nested/kestrune/bin" ] && [ ! -e "$WORK/nested/kestrune/tests" ] ||
    fail "the nested build built the programs or tests"
! grep -Eq "^(GTest_DIR|Qt6Widgets_DIR)" "$WORK/nested/CMakeCache.txt" ||
    fail "the nested build looked for GoogleTest or Qt Widgets"

step "all ways work"
