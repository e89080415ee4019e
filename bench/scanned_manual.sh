#!/usr/bin/env bash
# Recognition of scanned copies of real pages, against the tesseract command on
# the same page images: word error rate against the document's born-digital
# text, processor and wall time, for scans as they come.
#
#   bench/scanned_manual.sh [PDF [FIRST LAST [CASE...]]]   (run from the source root after a build)
#
# The pages FIRST..LAST of PDF (default: pages 4 to 7 of the LaTeX class guide)
# are rendered to 300 dpi grey PNG images with pdftoppm, made into each case's
# scans (below) and wrapped into an image-only PDF with img2pdf, as a scanner
# gives them. kestrune-text reads that PDF with --ocr auto (-j 1; -j 2 too for
# the clean scans); the tesseract command reads each image (OMP_THREAD_LIMIT=1,
# one thread, as kestrune-text's workers run; --psm 1, with orientation
# detection, for the turned cases); ocrmypdf, when installed, reads the PDF
# with --rotate-pages --deskew --clean. All are compared word by word (split at
# white space) with kestrune-text's text of the original pages. Needs
# poppler-utils, img2pdf, tesseract-ocr (with tesseract-ocr-osd) and
# python3-pil (Debian's python3).
#
# The cases (all by default): clean (the 300 dpi grey images), turn90, turn180
# and turn270 (the pages scanned turned clockwise), skew (turned by 2 degrees),
# grey150 (150 dpi grey), fax200 (200 dpi black and white with 0.5% specks;
# kestrune-text also with --ocr-clean).
# KESTRUNE_BIN names another build's bin folder (to compare two builds).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${KESTRUNE_BIN:-$ROOT/build/bin}"
PDF="${1:-/usr/share/doc/texlive-doc/latex/base/clsguide.pdf}"
FIRST="${2:-4}"
LAST="${3:-7}"
shift $(( $# < 3 ? $# : 3 ))
CASES=("$@")
[ ${#CASES[@]} -gt 0 ] || CASES=(clean turn90 turn180 turn270 skew grey150 fax200)
PYTHON=/usr/bin/python3  # Debian's, with its python3-pil
for tool in pdftoppm img2pdf tesseract "$PYTHON"; do
    command -v "$tool" >/dev/null || { echo "scanned_manual: $tool is not installed" >&2; exit 2; }
done
"$PYTHON" -c 'import PIL' 2>/dev/null || { echo "scanned_manual: python3-pil is not installed" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

pdftoppm -r 300 -gray -png -f "$FIRST" -l "$LAST" "$PDF" "$work/page"
"$BIN/kestrune-text" -q -f "$FIRST" -l "$LAST" -o "$work/born.txt" "$PDF"

# scans CASE FOLDER: the case's page images from the 300 dpi ones, into FOLDER.
scans() {
    mkdir -p "$2"
    "$PYTHON" - "$1" "$2" "$work"/page-*.png <<'EOF'
import random, sys
from PIL import Image
case, folder, pages = sys.argv[1], sys.argv[2], sys.argv[3:]
random.seed(7)
for path in pages:
    image, dpi = Image.open(path).convert("L"), 300
    if case.startswith("turn"):
        image = image.rotate(-int(case[4:]), expand=True)
    elif case == "skew":
        image = image.rotate(-2, resample=Image.BICUBIC, fillcolor=255)
    elif case == "grey150":
        dpi = 150
        image = image.resize((image.width // 2, image.height // 2), Image.LANCZOS)
    elif case == "fax200":
        dpi = 200
        image = image.resize((image.width * 2 // 3, image.height * 2 // 3), Image.LANCZOS)
        pixels = image.load()
        for y in range(image.height):
            for x in range(image.width):
                black = (pixels[x, y] < 128) != (random.random() < 0.005)
                pixels[x, y] = 0 if black else 255
        image = image.convert("1", dither=Image.NONE)
    image.save(folder + "/" + path.rsplit("/", 1)[1], dpi=(dpi, dpi))
EOF
    img2pdf -o "$2/scan.pdf" "$2"/page-*.png
}

# shellcheck source=bench/script_support.sh
source "$ROOT/bench/script_support.sh"

# tesseract_pages FOLDER PSM: the tesseract command on each image, its text after the other.
tesseract_pages() {
    for image in "$1"/page-*.png; do
        OMP_THREAD_LIMIT=1 tesseract "$image" "${image%.png}" --psm "$2" quiet
    done
    cat "$1"/page-*.txt >"$1/tesseract.txt"
}

for case in "${CASES[@]}"; do
    dir="$work/$case"
    scans "$case" "$dir"
    psm=3
    [[ "$case" == turn* ]] && psm=1
    echo "$case:"
    measure "kestrune-text -j 1" "$BIN/kestrune-text" -q --ocr auto -j 1 -o "$dir/ocr1.txt" "$dir/scan.pdf"
    if [ "$case" = clean ]; then
        measure "kestrune-text -j 2" "$BIN/kestrune-text" -q --ocr auto -j 2 -o "$dir/ocr2.txt" "$dir/scan.pdf"
        cmp -s "$dir/ocr1.txt" "$dir/ocr2.txt" || echo "scanned_manual: -j 1 and -j 2 wrote different files" >&2
    fi
    measure "tesseract --psm $psm" tesseract_pages "$dir" "$psm"
    echo "  word error rate, kestrune-text:  $(wer "$work/born.txt" "$dir/ocr1.txt")"
    if [ "$case" = fax200 ]; then
        measure "kestrune-text --ocr-clean" "$BIN/kestrune-text" -q --ocr auto --ocr-clean -j 1 -o "$dir/clean.txt" "$dir/scan.pdf"
        echo "  word error rate, --ocr-clean:    $(wer "$work/born.txt" "$dir/clean.txt")"
    fi
    echo "  word error rate, tesseract:      $(wer "$work/born.txt" "$dir/tesseract.txt")"
    if command -v ocrmypdf >/dev/null; then
        measure "ocrmypdf" ocrmypdf -q --rotate-pages --deskew --clean --sidecar "$dir/ocrmypdf.txt" -j 1 \
            "$dir/scan.pdf" "$dir/ocrmypdf.pdf"
        echo "  word error rate, ocrmypdf:       $(wer "$work/born.txt" "$dir/ocrmypdf.txt")"
    fi
done
