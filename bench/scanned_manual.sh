#!/usr/bin/env bash
# Recognition of a scanned copy of real pages, against the tesseract command on
# the same page images: word error rate against the document's born-digital
# text, processor and wall time.
#
#   bench/scanned_manual.sh [PDF [FIRST LAST]]     (run from the source root after a build)
#
# The pages FIRST..LAST of PDF (default: pages 4 to 7 of the LaTeX class guide)
# are rendered to 300 dpi grey PNG images with pdftoppm and wrapped into an
# image-only PDF with img2pdf, as a scanner gives them. kestrune-text reads
# that PDF with --ocr auto (-j 1, then -j 2); the tesseract command reads each
# image (OMP_THREAD_LIMIT=1, one thread, as kestrune-text's workers run). Both
# are compared word by word (split at white space) with kestrune-text's text of
# the original pages. Needs poppler-utils, img2pdf and tesseract-ocr.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BIN="${KESTRUNE_BIN:-$ROOT/build/bin}"
PDF="${1:-/usr/share/doc/texlive-doc/latex/base/clsguide.pdf}"
FIRST="${2:-4}"
LAST="${3:-7}"
for tool in pdftoppm img2pdf tesseract; do
    command -v "$tool" >/dev/null || { echo "scanned_manual: $tool is not installed" >&2; exit 2; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

pdftoppm -r 300 -gray -png -f "$FIRST" -l "$LAST" "$PDF" "$work/page"
img2pdf -o "$work/scan.pdf" "$work"/page-*.png
"$BIN/kestrune-text" -q -f "$FIRST" -l "$LAST" -o "$work/born.txt" "$PDF"

TIMEFORMAT='%R %U %S'
# measure NAME COMMAND...: runs it, prints "NAME wall cpu".
measure() {
    local name="$1"; shift
    local t
    t="$( { time "$@" >/dev/null 2>&1; } 2>&1 )"
    awk -v n="$name" '{ printf "%-26s wall %6.2f s  cpu %6.2f s\n", n, $1, $2 + $3 }' <<<"$t"
}
tesseract_pages() {
    for image in "$work"/page-*.png; do
        OMP_THREAD_LIMIT=1 tesseract "$image" "${image%.png}" quiet
    done
}

measure "kestrune-text -j 1" "$BIN/kestrune-text" -q --ocr auto -j 1 -o "$work/ocr1.txt" "$work/scan.pdf"
measure "kestrune-text -j 2" "$BIN/kestrune-text" -q --ocr auto -j 2 -o "$work/ocr2.txt" "$work/scan.pdf"
measure "tesseract (command)" tesseract_pages
cat "$work"/page-*.txt >"$work/tesseract.txt"
cmp -s "$work/ocr1.txt" "$work/ocr2.txt" || echo "scanned_manual: -j 1 and -j 2 wrote different files" >&2

# wer REFERENCE HYPOTHESIS: the word error rate (substitutions, deletions and
# insertions over the reference's words), by the word-level edit distance;
# line and page ends (CR, form feed) count as white space.
wer() {
    awk 'FNR == 1 { f++ } { sub(/^\xEF\xBB\xBF/, ""); gsub(/[\r\f]/, " "); for (i = 1; i <= NF; i++) w[f, ++n[f]] = $i }
         END {
             for (j = 0; j <= n[2]; j++) prev[j] = j
             for (i = 1; i <= n[1]; i++) {
                 cur[0] = i
                 for (j = 1; j <= n[2]; j++) {
                     c = prev[j - 1] + (w[1, i] != w[2, j])
                     if (prev[j] + 1 < c) c = prev[j] + 1
                     if (cur[j - 1] + 1 < c) c = cur[j - 1] + 1
                     cur[j] = c
                 }
                 for (j = 0; j <= n[2]; j++) prev[j] = cur[j]
             }
             printf "%.2f%% (%d errors in %d words)", 100 * prev[n[2]] / n[1], prev[n[2]], n[1]
         }' "$1" "$2"
}
echo "word error rate, kestrune-text: $(wer "$work/born.txt" "$work/ocr1.txt")"
echo "word error rate, tesseract:     $(wer "$work/born.txt" "$work/tesseract.txt")"
