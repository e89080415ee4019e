#!/usr/bin/env bash
# Robustness run: kestrune-text over every PDF of the shared corpus, one process
# per file with a time limit. Each file must end either in a complete text file
# (exit 0, byte-order mark, CR LF at the end) or, for a document without pages,
# in no file and a line saying so, or in a clear error line naming the file
# (exit 1) and no output at all. A crash, a hang or a partial file fails the run.
# Then the whole corpus once more as one batch (worker processes, an output
# folder, a report), which must end each file the same way. Then each file
# once more as a searchable copy (--format pdf): a copy that starts with the
# file's bytes, or a clear error line and no copy at all.
#
#   scripts/corpus-run.sh [KESTRUNE_TEXT] [CORPUS_DIR]
#
# The corpus is read-only: it is copied to a temporary folder first, since the
# text files are written beside the PDFs. Skips when the corpus is absent.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PROGRAM="${1:-$ROOT/build/bin/kestrune-text}"
CORPUS="${2:-$ROOT/../shared/corpus}"
LIMIT="${KESTRUNE_CORPUS_TIME_LIMIT:-60}"  # seconds per file

if [ ! -d "$CORPUS" ]; then
    echo "corpus-run: no corpus at $CORPUS; skipped"
    exit 0
fi
if [ ! -x "$PROGRAM" ]; then
    echo "corpus-run: $PROGRAM is not built" >&2
    exit 1
fi

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cp -r "$CORPUS/." "$WORK/"
chmod -R u+w "$WORK"
# Nothing that looks like our output may be there before the run.
find "$WORK" -type f -iname '*.txt' -delete

converted=0 empty=0 refused=0 faults=0
fault() {
    echo "corpus-run: FAULT: $1" >&2
    faults=$((faults + 1))
}
# ended_badly NAME RC LEFTOVER: whether a run of NAME that ended with status
# RC, leaving the temporary file LEFTOVER (if any), hung, crashed or left it
# behind (a fault, told).
ended_badly() {
    if [ "$2" -eq 124 ] || [ "$2" -eq 137 ]; then
        fault "$1: no result within $LIMIT s (hang)"
    elif [ "$2" -ge 128 ]; then
        fault "$1: crashed (exit $2, signal $(($2 - 128)))"
    elif [ -n "$3" ]; then
        fault "$1: a temporary file was left behind: $3"
    else
        return 1
    fi
}

while IFS= read -r -d '' pdf; do
    name="${pdf#"$WORK"/}"
    base="${pdf%.*}"
    txt="$base.txt"
    err="$WORK/.stderr"
    timeout --kill-after=5 "$LIMIT" "$PROGRAM" "$pdf" 2>"$err" >/dev/null
    rc=$?
    # Qt's old temporary names (NAME.txt.XXXXXX) and kestrune-text's own (.NAME.txt.kestrune-PID@HOST-XXXXXX.tmp).
    leftovers="$(find "$(dirname "$pdf")" -maxdepth 1 \( -name "$(basename "$txt")?*" -o -name ".$(basename "$txt").kestrune-*" \) | head -1)"
    if ended_badly "$name" "$rc" "$leftovers"; then
        :
    elif [ "$rc" -eq 0 ]; then
        if [ -f "$txt" ]; then
            if [ "$(head -c 3 "$txt" | od -An -tx1 | tr -d ' \n')" != efbbbf ] ||
               [ "$(tail -c 2 "$txt" | od -An -tx1 | tr -d ' \n')" != 0d0a ]; then
                fault "$name: the text file is not complete"
            else
                converted=$((converted + 1))
            fi
        elif grep -q "no pages" "$err"; then
            empty=$((empty + 1))
        else
            fault "$name: exit 0 without a text file"
        fi
    elif [ "$rc" -eq 1 ]; then
        if [ -e "$txt" ]; then
            fault "$name: failed but left $txt"
        elif [ "$(wc -l <"$err")" -ne 1 ] || ! grep -qF "kestrune-text: $pdf: " "$err"; then
            fault "$name: no clear error line: $(head -c 300 "$err")"
        else
            refused=$((refused + 1))
            echo "corpus-run: refused: $(sed "s|$WORK/||" "$err")"
        fi
    else
        fault "$name: unexpected exit status $rc: $(head -c 300 "$err")"
    fi
    rm -f "$txt"
done < <(find "$WORK" -type f -iname '*.pdf' -print0 | sort -z)

echo "corpus-run: $converted converted, $empty without pages, $refused refused with an error line"

# The same corpus as one batch in worker processes: each file must end as it
# did on its own, with one report line each, and the run must end by itself.
OUT="$(mktemp -d)"
trap 'rm -rf "$WORK" "$OUT"' EXIT
timeout --kill-after=5 $((LIMIT * 4)) "$PROGRAM" -q -j 2 --timeout "$LIMIT" --output-dir "$OUT/text" \
    --report "$OUT/report.jsonl" "$WORK" 2>"$OUT/stderr"
rc=$?
count() { grep -c "\"status\":\"$1\"" "$OUT/report.jsonl"; }
if [ "$rc" -ne 0 ] && [ "$rc" -ne 1 ]; then
    fault "batch: exit status $rc: $(head -c 300 "$OUT/stderr")"
elif [ "$(count converted)" -ne "$converted" ] || [ "$(count skipped)" -ne "$empty" ] ||
     [ "$(count failed)" -ne "$refused" ]; then
    fault "batch: $(count converted) converted, $(count skipped) skipped, $(count failed) failed, unlike the single runs"
elif [ "$(find "$OUT/text" -type f | wc -l)" -ne "$converted" ] ||
     [ "$(wc -l <"$OUT/stderr")" -ne "$refused" ]; then
    fault "batch: $(find "$OUT/text" -type f | wc -l) text files and $(wc -l <"$OUT/stderr") error lines"
else
    echo "corpus-run: the batch run ended alike"
fi

# Searchable copies: the engine runs in the parent too, to lay the words.
copied=0 unchanged=0 refused=0
while IFS= read -r -d '' pdf; do
    name="${pdf#"$WORK"/}"
    copy="${pdf%.*}.ocr.pdf"
    err="$WORK/.stderr"
    timeout --kill-after=5 "$LIMIT" "$PROGRAM" --format pdf "$pdf" 2>"$err" >/dev/null
    rc=$?
    leftovers="$(find "$(dirname "$pdf")" -maxdepth 1 -name ".$(basename "$copy").kestrune-*" | head -1)"
    if ended_badly "$name (pdf)" "$rc" "$leftovers"; then
        :
    elif [ "$rc" -eq 0 ] && [ -f "$copy" ]; then
        if ! cmp -s -n "$(stat -c %s "$pdf")" "$pdf" "$copy"; then
            fault "$name (pdf): the copy does not start with the file's bytes"
        elif cmp -s "$pdf" "$copy"; then
            unchanged=$((unchanged + 1))
        else
            copied=$((copied + 1))
        fi
    elif [ "$rc" -eq 0 ] && grep -q "no pages" "$err"; then
        unchanged=$((unchanged + 1))
    elif [ "$rc" -eq 1 ] && [ ! -e "$copy" ] && [ "$(wc -l <"$err")" -eq 1 ] && grep -qF "kestrune-text: $pdf: " "$err"; then
        refused=$((refused + 1))
    else
        fault "$name (pdf): exit status $rc, copy $( [ -e "$copy" ] && echo left || echo none): $(head -c 300 "$err")"
    fi
    rm -f "$copy"
done < <(find "$WORK" -type f -iname '*.pdf' ! -iname '*.ocr.pdf' -print0 | sort -z)
echo "corpus-run: --format pdf: $copied given a text layer, $unchanged copied unchanged, $refused refused with an error line"

echo "corpus-run: $faults faults"
[ "$faults" -eq 0 ]
