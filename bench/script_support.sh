# Shell functions the benchmark scripts share; sourced, not run.

TIMEFORMAT='%R %U %S'
# measure NAME COMMAND...: runs it, prints "NAME wall cpu" (the processes it
# waited for included).
measure() {
    local name="$1"; shift
    local t
    t="$( { time "$@" >/dev/null 2>&1; } 2>&1 )"
    awk -v n="$name" '{ printf "  %-28s wall %7.2f s  cpu %7.2f s\n", n, $1, $2 + $3 }' <<<"$t"
}

# wer REFERENCE HYPOTHESIS: the word error rate (substitutions, deletions and
# insertions over the reference's words), by the word-level edit distance;
# a byte-order mark is left out, and line and page ends (CR, form feed) count
# as white space.
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
