#!/usr/bin/env bash
# Takes Kestrune in as another project would: installs it into a temporary
# prefix (configured as the README says: no tests, Release) and builds
# examples/page-texts against the installation with find_package and with
# pkg-config, once more with Kestrune nested (add_subdirectory), and once with
# FetchContent from a fresh checkout given no engine, as a shared library; and
# examples/text-layer, which lays words over a page, against the installation.
# Every build's program runs on the example's PDF from an unrelated folder
# without LD_LIBRARY_PATH, so it has to find the engine itself. No installed
# file may name the build tree, and a text file planted as the build tree's
# engine must not reach the installed programs. The installed kestrune-text
# and fresh consumers (find_package, pkg-config) also run once the
# installation has been moved elsewhere.
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
BUILD="$WORK/kestrune-build"
quiet cmake -S "$ROOT" -B "$BUILD" -DCMAKE_INSTALL_PREFIX="$PREFIX" -DKESTRUNE_ENGINE_LIBRARY="$ENGINE"
# Built for installation: optimised, and the library and programs only.
grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$BUILD/CMakeCache.txt" || fail "the installation's build is not Release"
grep -q '^KESTRUNE_BUILD_TESTS:BOOL=OFF$' "$BUILD/CMakeCache.txt" || fail "the installation's build builds the tests"
quiet cmake --build "$BUILD" -j"$JOBS"
quiet cmake --install "$BUILD"
[ ! -e "$BUILD/tests" ] || fail "the installation's build built the tests"

# Nothing installed names the build tree (nor the source tree the build came
# from): not the programs, not the library, not the package files.
if grep -rlF -e "$BUILD" -e "$ROOT" "$PREFIX" >"$WORK/named"; then
    fail "installed files naming the build or source tree: $(tr '\n' ' ' <"$WORK/named")"
fi
# A text file where the build tree kept its engine copy: whoever can write to
# a build tree must not reach what was installed from it.
echo "not an engine" >"$BUILD/lib/kestrune/libpdfium.so"

LIBDIR="$(dirname "$(find "$PREFIX" -name libkestrune_pdf.a -print -quit)")"
[ -d "$LIBDIR" ] || fail "the library was not installed"
for f in include/kestrune/FPdf.h include/kestrune/EntryPoints.def bin/kestrune bin/kestrune-text \
         share/applications/kestrune.desktop share/icons/hicolor/scalable/apps/kestrune.svg \
         share/man/man1/kestrune-text.1 share/bash-completion/completions/kestrune-text; do
    [ -e "$PREFIX/$f" ] || fail "not installed: $f"
done
[ -e "$PREFIX/share/doc/kestrune/LICENSE" ] || fail "not installed: the project's licence"
for f in kestrune/libpdfium.so kestrune/kestrune-recognizer.so kestrune/LICENSE.pdfium kestrune/NOTICES.pdfium cmake/Kestrune/KestruneConfig.cmake \
         cmake/Kestrune/KestruneConfigVersion.cmake pkgconfig/kestrune.pc pkgconfig/kestrune-ocr.pc; do
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
# Recognition: the installed program finds its recognizer module (it refuses
# --ocr before any work when it does not).
(cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$PREFIX/bin/kestrune-text" --ocr auto -o ocr.txt sample.pdf) >/dev/null 2>"$WORK/log" ||
    { cat "$WORK/log" >&2; fail "the installed kestrune-text refused --ocr auto"; }

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

step "a page made searchable with a text layer (examples/text-layer), with find_package and with pkg-config"
FONT=""
for candidate in /usr/share/tesseract-ocr/*/tessdata/pdf.ttf /usr/share/tessdata/pdf.ttf; do
    [ -f "$candidate" ] && { FONT="$candidate"; break; }
done
[ -n "$FONT" ] || fail "Tesseract's glyphless font pdf.ttf was not found"
quiet cmake -S "$ROOT/examples/text-layer" -B "$WORK/text-layer" -DCMAKE_PREFIX_PATH="$PREFIX"
quiet cmake --build "$WORK/text-layer"
# shellcheck disable=SC2046
quiet g++ -o "$WORK/text-layer/text-layer-pc" "$ROOT/examples/text-layer/main.cpp" \
    $(PKG_CONFIG_PATH="$LIBDIR/pkgconfig" pkg-config --cflags --libs kestrune)
for program in "$WORK/text-layer/text-layer" "$WORK/text-layer/text-layer-pc"; do
    rm -f "$WORK/elsewhere/layered.pdf"
    (cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$program" sample.pdf layered.pdf "$FONT") >/dev/null 2>"$WORK/log" ||
        { cat "$WORK/log" >&2; fail "$program failed"; }
    cmp -s -n "$(stat -c %s "$WORK/elsewhere/sample.pdf")" "$WORK/elsewhere/sample.pdf" "$WORK/elsewhere/layered.pdf" ||
        fail "$program's output does not start with its input's bytes"
    pdftotext -f 1 -l 1 "$WORK/elsewhere/layered.pdf" - | grep -q "Searchable words" ||
        fail "pdftotext does not find $program's words on page 1"
    quiet qpdf --check "$WORK/elsewhere/layered.pdf"
done

step "every installed header on its own, with pkg-config's flags only"
for header in "$PREFIX"/include/kestrune/*.h; do
    # shellcheck disable=SC2046
    echo "#include <kestrune/$(basename "$header")>" |
        quiet g++ -fsyntax-only -x c++ - $(PKG_CONFIG_PATH="$LIBDIR/pkgconfig" pkg-config --cflags kestrune)
done

step "the installation moved elsewhere"
MOVED="$WORK/moved"
MOVED_LIBDIR="$MOVED/${LIBDIR#"$PREFIX"/}"
mv "$PREFIX" "$MOVED"
rm -f "$WORK/elsewhere/sample.txt"
(cd "$WORK/elsewhere" && env -u LD_LIBRARY_PATH "$MOVED/bin/kestrune-text" sample.pdf) >/dev/null 2>"$WORK/log" ||
    { cat "$WORK/log" >&2; fail "the moved kestrune-text failed"; }
grep -q "Hello from Kestrune" "$WORK/elsewhere/sample.txt" || fail "the moved kestrune-text wrote no text"
# Only the engine copied beside it serves the earlier find_package build now.
run_example "$WORK/find-package/page-texts"
[ "$(PKG_CONFIG_PATH="$MOVED_LIBDIR/pkgconfig" pkg-config --variable=libdir kestrune)" -ef "$MOVED_LIBDIR" ] ||
    fail "kestrune.pc does not follow the moved installation"
[ "$(PKG_CONFIG_PATH="$MOVED_LIBDIR/pkgconfig" pkg-config --variable=enginedir kestrune)" -ef "$MOVED_LIBDIR/kestrune" ] ||
    fail "kestrune.pc's enginedir does not follow the moved installation"
# Consumers built against the moved installation find its engine by
# themselves (no copy beside them).
mkdir -p "$WORK/moved-pkg-config"
# shellcheck disable=SC2046
quiet g++ -o "$WORK/moved-pkg-config/page-texts" "$EXAMPLE/main.cpp" \
    $(PKG_CONFIG_PATH="$MOVED_LIBDIR/pkgconfig" pkg-config --cflags --libs kestrune)
run_example "$WORK/moved-pkg-config/page-texts"
quiet cmake -S "$EXAMPLE" -B "$WORK/moved-find-package" -DCMAKE_PREFIX_PATH="$MOVED"
quiet cmake --build "$WORK/moved-find-package" -j"$JOBS"
[ ! -e "$WORK/moved-find-package/libpdfium.so" ] || fail "an engine was copied beside page-texts unasked"
run_example "$WORK/moved-find-package/page-texts"
rm -rf "$BUILD"

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

step "the example with FetchContent, from a fresh checkout, no engine given, as a shared library"
# The checkout: the tracked and new files of this tree, without .deps/ or builds.
CHECKOUT="$WORK/kestrune-checkout"
mkdir -p "$CHECKOUT"
if git -C "$ROOT" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$ROOT" ls-files -z --cached --others --exclude-standard |
        (cd "$ROOT" && tar --null -T - -cf -) | tar -xf - -C "$CHECKOUT"
else
    tar -cf - -C "$ROOT" --exclude=./.deps --exclude='./build*' . | tar -xf - -C "$CHECKOUT"
fi
tar -czf "$WORK/kestrune.tar.gz" -C "$WORK" kestrune-checkout
if ! timeout 60 npm view --silent @craftlions/pdfium-rs-linux-x64-gnu@0.0.15 version >/dev/null 2>&1; then
    echo "consumer-check: NOTE: npm's registry is unreachable, so the FetchContent check (which fetches the engine at configure time) is skipped"
else
    quiet cmake -S "$EXAMPLE" -B "$WORK/fetch" -DKESTRUNE_URL="$WORK/kestrune.tar.gz" -DBUILD_SHARED_LIBS=ON
    quiet cmake --build "$WORK/fetch" -j"$JOBS"
    SHARED="$(find "$WORK/fetch/_deps" -name 'libkestrune_pdf.so.*' -type f -print -quit)"
    [ -n "$SHARED" ] || fail "BUILD_SHARED_LIBS gave no shared library"
    # The component is exported; nothing named like an engine entry point is,
    # which would stand in for the engine's own functions inside it.
    nm -DC --defined-only "$SHARED" >"$WORK/exports"
    grep -q 'kestrune::TFPdf::SetActive' "$WORK/exports" || fail "the shared library does not export TFPdf"
    ! grep -Eq ' (FPDF|FORM_)[A-Za-z_]*$' "$WORK/exports" || fail "the shared library exports a name of the engine's"
    # Found relative to the shared library itself, in the nested build tree.
    run_example "$WORK/fetch/page-texts"
fi

step "a fresh checkout with no engine that cannot be fetched: a configure error"
if cmake -S "$CHECKOUT" -B "$WORK/no-engine" -DKESTRUNE_NPM=/bin/false >"$WORK/log" 2>&1; then
    fail "configuring without any engine succeeded"
fi
grep -q "no engine library" "$WORK/log" || { cat "$WORK/log" >&2; fail "the configure error does not say what is missing"; }

step "all ways work"
