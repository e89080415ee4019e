#!/usr/bin/env bash
# Shared set-up for run.sh and test.sh: installs what a fresh Debian 12 machine
# lacks, fetches the pinned engine library into .deps/, and builds the project.
# Sourced, not executed: it sets ROOT, ENGINE_LIB and build helpers.
#
# Run on its own, `scripts/setup.sh --library` installs only what building and
# using the library needs (no test, fuzzing or window tools) and fetches the
# engine; a project that nests or installs the library needs nothing more.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ENGINE_DIR="$ROOT/.deps/pdfium-0.0.15"
ENGINE_LIB="$ENGINE_DIR/libpdfium.so"

# Debian packages the library needs: the compiler, CMake, pkg-config and Qt 6
# (npm, for fetching the engine, is checked apart).
LIBRARY_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libgl-dev)
# And what the programs, the tests, the window, the optional OCR library
# (Tesseract, its English data and its orientation data, for reading scanned
# pages, turned ones too) and the fuzzing
# need besides (clang-14 and its runtime libraries, libFuzzer among them, for
# scripts/fuzz.sh; poppler-utils, whose pdftoppm the form tests compare against
# and whose pdftotext checks the text layer; fonts-dejavu-core, a TrueType font
# the content tests embed; python3-markdown-it, the CommonMark parser that
# bench/markdown_structure.py reads kestrune-text's Markdown with).
REQUIRED_PACKAGES=("${LIBRARY_PACKAGES[@]}" libgtest-dev libgmock-dev
                   libbenchmark-dev qpdf fonts-noto-cjk xvfb xauth libqt6svg6 desktop-file-utils
                   groff-base parallel clang-14 libclang-rt-14-dev libtesseract-dev tesseract-ocr-eng
                   tesseract-ocr-osd poppler-utils fonts-dejavu-core python3-markdown-it)

# Executed with --library (rather than sourced by run.sh or test.sh): the
# library's packages only.
if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = "--library" ]; then
    REQUIRED_PACKAGES=("${LIBRARY_PACKAGES[@]}")
fi

install_packages() {
    local missing=()
    for p in "${REQUIRED_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    # npm may come from elsewhere than Debian (a newer Node.js); any npm will do.
    command -v npm >/dev/null 2>&1 || missing+=(npm)
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing Debian packages: ${missing[*]}" >&2
        echo "setup: run as root, or install them with: sudo apt-get install ${missing[*]}" >&2
        exit 1
    fi
    echo "setup: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The pinned package, its checksum and the fetching live in one place,
# cmake/KestruneEnginePackage.cmake, which configuring also uses.
fetch_engine() {
    local log
    if ! log="$(cmake -DKESTRUNE_ENGINE_DEST="$ENGINE_DIR" -P "$ROOT/cmake/KestruneEnginePackage.cmake" 2>&1)"; then
        # CMake's own framing ("CMake Error at ...") is of no use here.
        grep -v -e '^CMake Error' -e '^$' <<<"$log" | sed 's/^ */setup: /' >&2
        echo "setup: could not fetch the engine into $ENGINE_DIR; the first run needs npm's registry once, later runs reuse it" >&2
        exit 1
    fi
}

# configure_tree DIR [extra cmake args...]
configure_tree() {
    local dir="$1"; shift
    # The project's own builds include the tests (an installation's does not).
    cmake -S "$ROOT" -B "$dir" -DKESTRUNE_ENGINE_LIBRARY="$ENGINE_LIB" -DKESTRUNE_BUILD_TESTS=ON "$@" >/dev/null
}

# build_tree DIR [extra cmake args...]: configures and builds everything.
build_tree() {
    configure_tree "$@"
    cmake --build "$1" -j"$(nproc)"
}

install_packages
fetch_engine
