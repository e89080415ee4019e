#!/usr/bin/env bash
# Shared set-up for run.sh and test.sh: installs what a fresh Debian 12 machine
# lacks, fetches the pinned engine library into .deps/, and builds the project.
# Sourced, not executed: it sets ROOT, ENGINE_LIB and build helpers.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
ENGINE_PACKAGE="@craftlions/pdfium-rs-linux-x64-gnu@0.0.15"
ENGINE_SHA256="246872bdd5e05843b70051e6378216cc584535a1f4a7248b9f88059715d70f7c"
ENGINE_DIR="$ROOT/.deps/pdfium-0.0.15"
ENGINE_LIB="$ENGINE_DIR/libpdfium.so"

# Debian packages the build, the tests and the window need (Tesseract and its
# English data for reading scanned pages; clang-14 and its
# runtime libraries, libFuzzer among them, for scripts/fuzz.sh; poppler-utils,
# whose pdftoppm the form tests compare against).
REQUIRED_PACKAGES=(cmake g++ make pkg-config qt6-base-dev libgl-dev libgtest-dev libgmock-dev
                   libbenchmark-dev qpdf fonts-noto-cjk xvfb xauth libqt6svg6 desktop-file-utils
                   groff-base parallel clang-14 libclang-rt-14-dev libtesseract-dev tesseract-ocr-eng
                   poppler-utils)

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

fetch_engine() {
    if [ -f "$ENGINE_LIB" ] && echo "$ENGINE_SHA256  $ENGINE_LIB" | sha256sum -c --status; then
        return 0
    fi
    echo "setup: fetching the engine library ($ENGINE_PACKAGE)"
    local tmp
    tmp="$(mktemp -d)"
    if ! (cd "$tmp" && npm pack --silent "$ENGINE_PACKAGE" >/dev/null) ||
       ! tar -xzf "$tmp"/*.tgz -C "$tmp" package/libpdfium.so; then
        echo "setup: could not fetch $ENGINE_PACKAGE with npm (no network?); the first run needs it once, later runs reuse $ENGINE_DIR" >&2
        rm -rf "$tmp"
        exit 1
    fi
    if ! echo "$ENGINE_SHA256  $tmp/package/libpdfium.so" | sha256sum -c --status; then
        echo "setup: checksum mismatch for libpdfium.so from $ENGINE_PACKAGE (expected sha256 $ENGINE_SHA256); not using it" >&2
        rm -rf "$tmp"
        exit 1
    fi
    mkdir -p "$ENGINE_DIR"
    mv "$tmp/package/libpdfium.so" "$ENGINE_LIB"
    rm -rf "$tmp"
}

# configure_tree DIR [extra cmake args...]
configure_tree() {
    local dir="$1"; shift
    cmake -S "$ROOT" -B "$dir" -DKESTRUNE_ENGINE_LIBRARY="$ENGINE_LIB" "$@" >/dev/null
}

# build_tree DIR [extra cmake args...]: configures and builds everything.
build_tree() {
    configure_tree "$@"
    cmake --build "$1" -j"$(nproc)"
}

install_packages
fetch_engine
