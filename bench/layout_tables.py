#!/usr/bin/env python3
"""How many of a LaTeX document's table rows a layout text keeps in columns.

    layout_tables.py KESTRUNE_TEXT [NAME ...]

For each document NAME of TeX Live's documentation (NAME.pdf beside its
source under /usr/share/doc/texlive-doc/latex/base; by default the manuals
and newsletters of markdown_structure.py), writes kestrune-text --layout and
pdftotext -layout (when installed), and counts the source's tabular rows
found as one line that splits, at runs of two or more spaces, into as many
cells as the row has, one of them starting with the row's first cell's words:
the rows a reader (or a script) can take apart again.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import markdown_structure as ms  # noqa: E402


def line_cells(text):
    """Each line of a layout text as its cells' words."""
    rows = []
    for line in text.splitlines():
        cells = [c for c in re.split(r"\s{2,}", line.strip().strip("\f")) if c]
        rows.append([ms.md_words(c) for c in cells])
    return rows


def hits(source_rows, lines):
    found = 0
    for spans, cells in source_rows:
        first = next((c for c in cells if c), [])
        if any(len(r) == spans and any(c[:len(first)] == first for c in r if c) for r in lines):
            found += 1
    return found


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    program = sys.argv[1]
    names = sys.argv[2:] or ms.DEFAULT
    peer = shutil.which("pdftotext")
    totals = [0, 0, 0]
    for name in names:
        text, preamble = ms.read_source(name)
        rows = [r for r in ms.source_structure(text, preamble)[2] if r[0] >= 2]
        if not rows:
            continue
        pdf = os.path.join(ms.BASE, name + ".pdf")
        with tempfile.TemporaryDirectory() as d:
            ours, theirs = os.path.join(d, "k.txt"), os.path.join(d, "p.txt")
            subprocess.run([program, "-q", "--layout", "--eol", "lf", "--no-bom", "-o", ours, pdf], check=True)
            k = hits(rows, line_cells(open(ours, encoding="utf-8").read()))
            p = 0
            if peer:
                subprocess.run([peer, "-layout", pdf, theirs], check=True)
                p = hits(rows, line_cells(open(theirs, encoding="utf-8", errors="replace").read()))
        totals = [totals[0] + k, totals[1] + p, totals[2] + len(rows)]
        print("%-10s rows %4d   kestrune-text --layout %5.1f%%   pdftotext -layout %5.1f%%" % (
            name, len(rows), 100.0 * k / len(rows), 100.0 * p / len(rows)))
    k, p, n = totals
    print("all        rows %4d   kestrune-text --layout %5.1f%%   pdftotext -layout %5.1f%%" % (
        n, 100.0 * k / max(n, 1), 100.0 * p / max(n, 1)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
