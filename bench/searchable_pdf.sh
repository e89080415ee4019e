#!/usr/bin/env bash
# Searchable copies of a scanned document (kestrune-text --format pdf) against
# ocrmypdf's: processor and wall time, the copy's size against the scan and
# against ocrmypdf's copy, and the word error rate of the copy's text as
# pdftotext reads it, against kestrune-text's own text of the scan (--ocr
# auto) and against the document's born-digital text.
#
#   bench/searchable_pdf.sh [PDF [FIRST LAST]]   (run from the source root after a build)
#
# The pages FIRST..LAST of PDF (default: pages 4 to 11 of the LaTeX class
# guide) are rendered to 300 dpi grey PNG images with pdftoppm and wrapped
# into an image-only PDF with img2pdf, as a scanner gives them. Both tools
# read it at its own 300 dpi, with -j 1 and -j 2: kestrune-text --format pdf,
# ocrmypdf --output-type pdf (no PDF/A conversion, which would rewrite the
# whole file; --optimize 0, so that the images stay as they were, as
# kestrune-text leaves them). Needs poppler-utils and img2pdf; ocrmypdf (the
# Debian package) is measured when installed, and passed over otherwise.
# The parent process's peak memory is shown for one page recognised and for
# all, as the words are laid in the parent.
# KESTRUNE_BIN names another build's bin folder (to compare two builds).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${KESTRUNE_BIN:-$ROOT/build/bin}"
PDF="${1:-/usr/share/doc/texlive-doc/latex/base/clsguide.pdf}"
FIRST="${2:-4}"
LAST="${3:-11}"
for tool in pdftoppm pdftotext img2pdf; do
    command -v "$tool" >/dev/null || { echo "searchable_pdf: $tool is not installed" >&2; exit 2; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

pdftoppm -r 300 -gray -png -f "$FIRST" -l "$LAST" "$PDF" "$work/page"
img2pdf -o "$work/scan.pdf" "$work"/page-*.png
"$BIN/kestrune-text" -q --eol lf --no-bom -f "$FIRST" -l "$LAST" -o "$work/born.txt" "$PDF"
"$BIN/kestrune-text" -q --eol lf --no-bom --ocr auto -o "$work/ocr.txt" "$work/scan.pdf"

# shellcheck source=bench/script_support.sh
source "$ROOT/bench/script_support.sh"

size() { stat -c %s "$1"; }
scan_size="$(size "$work/scan.pdf")"
# sizes NAME COPY: the copy's size, and what it adds to the scan.
sizes() {
    local bytes; bytes="$(size "$2")"
    awk -v n="$1" -v b="$bytes" -v s="$scan_size" \
        'BEGIN { printf "  %-28s %10d bytes, %+d bytes (%.2f%%) over the scan\n", n, b, b - s, 100 * (b - s) / s }'
}

# parent_peak LAST COPY: the peak resident memory of kestrune-text's own
# process (not its workers') making COPY with pages 1 to LAST recognised, -j 2.
parent_peak() {
    "$BIN/kestrune-text" -q --format pdf -j 2 -l "$1" -o "$2" "$work/scan.pdf" &
    local pid=$! peak=0 kb
    while kb="$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null)" && [ -n "$kb" ]; do
        peak="$kb"
        sleep 0.05
    done
    wait "$pid"
    echo "$peak"
}

echo "scan: pages $FIRST to $LAST of $PDF at 300 dpi, $scan_size bytes"
for jobs in 1 2; do
    measure "kestrune-text -j $jobs" "$BIN/kestrune-text" -q --format pdf -j "$jobs" -o "$work/kestrune$jobs.pdf" "$work/scan.pdf"
done
cmp -s "$work/kestrune1.pdf" "$work/kestrune2.pdf" || echo "searchable_pdf: -j 1 and -j 2 wrote different files" >&2
cmp -s -n "$scan_size" "$work/scan.pdf" "$work/kestrune1.pdf" || echo "searchable_pdf: the copy does not start with the scan" >&2
have_ocrmypdf=
if command -v ocrmypdf >/dev/null; then
    have_ocrmypdf=1
    for jobs in 1 2; do
        measure "ocrmypdf -j $jobs" ocrmypdf -q --output-type pdf --optimize 0 -j "$jobs" \
            "$work/scan.pdf" "$work/ocrmypdf$jobs.pdf"
    done
else
    echo "  (ocrmypdf is not installed: Debian package ocrmypdf)"
fi

echo "size:"
sizes "kestrune-text" "$work/kestrune1.pdf"
if [ -n "$have_ocrmypdf" ]; then
    sizes "ocrmypdf" "$work/ocrmypdf1.pdf"
    awk -v k="$(size "$work/kestrune1.pdf")" -v o="$(size "$work/ocrmypdf1.pdf")" \
        'BEGIN { printf "  %-28s %.3f\n", "kestrune-text / ocrmypdf", k / o }'
fi

pages=$((LAST - FIRST + 1))
echo "memory of kestrune-text's parent process (peak resident, -j 2):"
echo "  1 page recognised:  $(parent_peak 1 "$work/peak1.pdf") KB"
echo "  $pages pages recognised: $(parent_peak "$pages" "$work/peak$pages.pdf") KB"

echo "word error rate of pdftotext's text of the copy:"
pdftotext "$work/kestrune1.pdf" "$work/kestrune.txt"
echo "  kestrune-text, against its --ocr auto text: $(wer "$work/ocr.txt" "$work/kestrune.txt")"
echo "  kestrune-text, against the born text:       $(wer "$work/born.txt" "$work/kestrune.txt")"
echo "  kestrune-text --ocr auto, against born:     $(wer "$work/born.txt" "$work/ocr.txt")"
if [ -n "$have_ocrmypdf" ]; then
    pdftotext "$work/ocrmypdf1.pdf" "$work/ocrmypdf.txt"
    echo "  ocrmypdf, against the born text:            $(wer "$work/born.txt" "$work/ocrmypdf.txt")"
fi
