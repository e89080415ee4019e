#!/usr/bin/env python3
"""How much of a LaTeX document's structure kestrune-text's Markdown keeps.

    markdown_structure.py KESTRUNE_TEXT [NAME ...]

For each document NAME of TeX Live's documentation (NAME.pdf with NAME.tex or
NAME.tex.gz beside it under /usr/share/doc/texlive-doc/latex/base; by default
a set of manuals and newsletters), converts the PDF with --format markdown,
reads the Markdown with a CommonMark parser (markdown-it, GitHub's tables on)
and compares it with what the source declares:

  headings  the source's \\section and \\subsection titles found as Markdown
            headings (recall), those with the right relative level (a section
            above its subsections), and the Markdown headings that are no
            sectioning title of the source (false);
  lists     the source's \\item of itemize and enumerate found as list items;
  tables    the source's tabular rows found as pipe-table rows with the same
            number of cells;
  furniture pages whose first or last paragraph (in a run with --page-marks)
            is a bare number, or a line that starts or ends three pages or
            more, its digits aside (running heads and page numbers left in).

Titles, items and cells are compared by their words (letters and digits,
lower case), with the source's commands dropped and the text of their
arguments kept.
"""
import collections
import gzip
import os
import re
import subprocess
import sys
import tempfile

from markdown_it import MarkdownIt

BASE = "/usr/share/doc/texlive-doc/latex/base"
DEFAULT = ["usrguide", "clsguide", "fntguide", "cfgguide", "encguide", "modguide", "ltnews24", "ltnews30",
           "ltnews33", "ltnews36"]
LEVELS = {"part": 0, "chapter": 1, "section": 2, "subsection": 3, "subsubsection": 4, "paragraph": 5,
          "subparagraph": 6, "title": -1}


def read_source(name):
    """The document's body, and its preamble (where \\title and sectioning commands of its own stand)."""
    for path in (os.path.join(BASE, name + ".tex"), os.path.join(BASE, name + ".tex.gz")):
        if os.path.exists(path):
            opener = gzip.open if path.endswith(".gz") else open
            with opener(path, "rt", encoding="utf-8", errors="replace") as f:
                text = f.read()
            text = re.sub(r"(?<!\\)%.*", "", text)
            # A character made to stand for \verb (\MakeShortVerb{\|}: |\name| shows \name); the
            # ltxguide class makes | one itself.
            shorts = set(re.findall(r"\\MakeShortVerb\s*\{?\\(.)", text))
            if re.search(r"\\documentclass(\[[^\]]*\])?\{ltxguide\}", text):
                shorts.add("|")
            for c in shorts:
                # Only where it shows a command: a table's column rules (|l|c|) stay as they are.
                text = re.sub(r"(?<!\\verb)" + re.escape(c) + r"(\\[^" + re.escape(c) + r"\n]*)" + re.escape(c), r"\\verb" + c + r"\1" + c, text)
            preamble = ""
            if "\\begin{document}" in text:
                preamble, text = text.split("\\begin{document}", 1)
            return text.rsplit("\\end{document}", 1)[0], preamble
    return None, None


def braced(text, start):
    """The argument in braces at start (after spaces and an optional [..]), and where it ends."""
    i = start
    while i < len(text) and text[i] in " \t\n*":
        i += 1
    if i < len(text) and text[i] == "[":
        depth = 0
        while i < len(text):
            depth += text[i] == "["
            depth -= text[i] == "]"
            i += 1
            if depth == 0:
                break
        while i < len(text) and text[i] in " \t\n":
            i += 1
    if i >= len(text) or text[i] != "{":
        return None, start
    depth, j = 0, i
    while j < len(text):
        if text[j] == "{" and text[j - 1] != "\\":
            depth += 1
        elif text[j] == "}" and text[j - 1] != "\\":
            depth -= 1
            if depth == 0:
                return text[i + 1:j], j + 1
        j += 1
    return None, start


def words(text):
    """The words of a piece of the LaTeX source."""
    text = re.sub(r"\\verb\*?(.)(.*?)\1", lambda m: " " + m.group(2).replace("\\", " ") + " ", text)
    # What a PDF shows of \texorpdfstring{shown}{bookmark}, and a backslash shown as a glyph.
    text = re.sub(r"\\texorpdfstring\s*\{((?:[^{}]|\{[^{}]*\})*)\}\{[^{}]*\}", r"\1", text)
    text = re.sub(r"\\textbackslash\b", " ", text)
    text = re.sub(r"\\LaTeXe\b", " latex 2 ", text)
    text = re.sub(r"\\LaTeX\b", " latex ", text)
    text = re.sub(r"\\([A-Za-z]*)TeX\b", lambda m: " " + m.group(1).lower() + "tex ", text)
    # The name of a command that a manual shows (\cs{name}, \verb|\name|) is kept.
    text = re.sub(r"\\(?:cs|cmd|texttt|code|pkg|cls|env|opt|file|m?arg|meta)\s*\{\\?", " ", text)
    text = re.sub(r"\\[a-zA-Z@]+", " ", text)
    # A word split by a command's argument (\texttt{gzip}ped) reads as one.
    text = re.sub(r"\}(?=[a-z])", "", text)
    text = text.replace("LATEX", "latex").replace("TEX", "tex")
    return re.findall(r"[a-z0-9]+", text.lower())


def source_structure(text, preamble):
    # Sectioning commands of the document's own (\\newcommand{\\filesection}[1]{\\subsection{...}}).
    kinds = {k: k for k in LEVELS}
    for m in re.finditer(r"\\(?:newcommand|renewcommand|providecommand)\*?\{?\\([A-Za-z]+)\}?(?:\[\d\])?\{\\("
                         r"part|chapter|section|subsection|subsubsection|paragraph)\b", preamble + text):
        kinds[m.group(1)] = m.group(2)
    headings = []
    pattern = r"\\(" + "|".join(sorted(kinds, key=len, reverse=True)) + r")(?![A-Za-z])(\*?)"
    for source in (preamble, text):
        for m in re.finditer(pattern, source):
            if source is preamble and m.group(1) != "title":
                continue
            title, _ = braced(source, m.end())
            if title is not None and words(title):
                headings.append((kinds[m.group(1)], m.group(2) == "*", words(title)))
    # The headings LaTeX makes itself.
    for made in ("contents", "references", "bibliography", "index", "appendices", "appendix", "list of figures",
                 "list of tables"):
        headings.append(("made", True, made.split()))
    items = []
    for env in re.finditer(r"\\begin\{(itemize|enumerate)\}(.*?)\\end\{\1\}", text, flags=re.S):
        for piece in re.split(r"\\item\b", env.group(2))[1:]:
            piece = re.split(r"\\begin\{(?:itemize|enumerate)\}", piece)[0]
            w = words(re.sub(r"^\s*\[[^\]]*\]", " ", piece))
            if w:
                items.append(w)
    rows = []
    for env in re.finditer(r"\\begin\{tabular\*?\}(.*?)\\end\{tabular\*?\}", text, flags=re.S):
        body = env.group(1)
        # The column layout argument ({lcr...}), skipped.
        _, end = braced(body, 0)
        body = body[end:]
        for row in re.split(r"\\\\", body):
            row = re.sub(r"\\(?:hline|toprule|midrule|bottomrule|cline\{[^}]*\}|noalign\{[^}]*\})", " ", row)
            cells = row.split("&")
            if any(words(c) for c in cells):
                spans = 0
                for c in cells:
                    m = re.search(r"\\multicolumn\{(\d+)\}", c)
                    spans += int(m.group(1)) if m else 1
                rows.append((spans, [words(c) for c in cells]))
    return headings, items, rows


def md_words(content):
    """The words of a Markdown inline text, its escapes undone."""
    content = re.sub(r"\\([!-/:-@\[-`{-~])", r"\1", content)
    content = re.sub(r"\[\^[^\]]*\]", " ", content)
    return re.findall(r"[a-z0-9]+", content.replace("LATEX", "latex").replace("TEX", "tex").lower())


def markdown_structure(md):
    parser = MarkdownIt("commonmark").enable("table")
    tokens = parser.parse(md)
    headings, items, rows, paragraphs = [], [], [], []
    for i, t in enumerate(tokens):
        if t.type == "heading_open":
            headings.append((int(t.tag[1]), md_words(tokens[i + 1].content)))
        elif t.type == "list_item_open":
            j = i + 1
            while j < len(tokens) and tokens[j].type != "inline":
                j += 1
            items.append(md_words(tokens[j].content) if j < len(tokens) else [])
        elif t.type == "tr_open":
            cells = []
            j = i + 1
            while tokens[j].type != "tr_close":
                if tokens[j].type == "inline":
                    cells.append(md_words(tokens[j].content))
                j += 1
            rows.append(cells)
        elif t.type == "paragraph_open" and tokens[i - 1].type != "list_item_open" if i else False:
            paragraphs.append(tokens[i + 1].content)
    return headings, items, rows, paragraphs


def same(a, b):
    """Whether two word lists say the same, a heading's number before either left out."""
    def bare(w):
        k = 0
        while k < len(w) and (w[k].isdigit() or (len(w[k]) == 1 and k < 3)):
            k += 1
        return w[k:] if k < len(w) else w
    return bool(a) and bool(b) and bare(a) == bare(b)


def starts(item, md_words):
    head = item[:4]
    return any(md_words[k:k + len(head)] == head for k in range(0, min(len(md_words), 6)))


def page_furniture(marked):
    """The pages starting or ending with what looks like a page number or a running head."""
    edges = []
    for page in re.split(r"^<!-- page \d+ -->$", marked, flags=re.M)[1:]:
        blocks = [b.strip() for b in page.strip().split("\n\n") if b.strip() and not b.startswith("[^")]
        if blocks:
            edges.append((blocks[0], blocks[-1]))
    shapes = collections.Counter()
    for first, last in edges:
        for b in {first, last}:
            if len(b) < 80:
                shapes[re.sub(r"\d+", "#", b)] += 1
    count = 0
    for first, last in edges:
        if any(re.fullmatch(r"\d{1,4}|[ivxlc]{1,6}", b) or (len(b) < 80 and shapes[re.sub(r"\d+", "#", b)] >= 3)
               for b in (first, last)):
            count += 1
    return count


def measure(program, name):
    text, preamble = read_source(name)
    pdf = os.path.join(BASE, name + ".pdf")
    with tempfile.TemporaryDirectory() as d:
        out = os.path.join(d, name + ".md")
        subprocess.run([program, "-q", "--format", "markdown", "-o", out, pdf], check=True)
        with open(out, encoding="utf-8") as f:
            md = f.read()
        subprocess.run([program, "-q", "--format", "markdown", "--page-marks", "-o", out, pdf], check=True)
        with open(out, encoding="utf-8") as f:
            marked = f.read()
    src_headings, src_items, src_rows = source_structure(text, preamble)
    md_headings, md_items, md_rows, paragraphs = markdown_structure(md)

    # Headings: sections and subsections found, their levels, and the Markdown's own.
    wanted = [(kind, w) for kind, star, w in src_headings if kind in ("section", "subsection")]
    found, levels = [], collections.defaultdict(collections.Counter)
    used = set()
    for kind, w in wanted:
        for k, (level, mw) in enumerate(md_headings):
            if k not in used and same(w, mw):
                used.add(k)
                found.append((kind, level))
                levels[kind][level] += 1
                break
    # Right level: a section's Markdown level above every found subsection's.
    usual = {kind: c.most_common(1)[0][0] for kind, c in levels.items()}
    right = sum(1 for kind, level in found if level == usual[kind])
    if "section" in usual and "subsection" in usual and usual["section"] >= usual["subsection"]:
        right = 0
    any_title = [w for _, _, w in src_headings]
    false_headings = [mw for level, mw in md_headings if not any(same(w, mw) for w in any_title)]

    item_hits = sum(1 for item in src_items if any(starts(item, mw) for mw in md_items))
    row_hits = 0
    for spans, cells in src_rows:
        first = next((c for c in cells if c), [])
        if any(len(r) == spans and any(same(first, c) or (c and c[:len(first)] == first) for c in r) for r in md_rows):
            row_hits += 1
    furniture = page_furniture(marked)
    def share(a, b):
        return "%3d/%-3d %5.1f%%" % (a, b, 100.0 * a / b) if b else "   -/0         "

    print("%-10s headings %s right level %s false %s | lists %s | table rows %s | furniture %d" % (
        name, share(len(found), len(wanted)), share(right, len(wanted)),
        share(len(false_headings), len(md_headings)), share(item_hits, len(src_items)),
        share(row_hits, len(src_rows)), furniture))
    return len(found), right, len(wanted), len(false_headings), len(md_headings), item_hits, len(src_items), \
        row_hits, len(src_rows), furniture, false_headings


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    program = sys.argv[1]
    names = sys.argv[2:] or DEFAULT
    totals = [0] * 10
    verbose = os.environ.get("VERBOSE")
    for name in names:
        result = measure(program, name)
        if verbose:
            print("   false:", [" ".join(w) for w in result[-1]][:15])
        totals = [t + r for t, r in zip(totals, result[:10])]
    f, r, w, fh, mh, ih, si, rh, sr, fu = totals
    print("all: headings %.1f%% (right level %.1f%%), false headings %.1f%%, list items %.1f%%, table rows %.1f%%, "
          "furniture %d" % (100.0 * f / max(w, 1), 100.0 * r / max(w, 1), 100.0 * fh / max(mh, 1),
                            100.0 * ih / max(si, 1), 100.0 * rh / max(sr, 1), fu))
    return 0


if __name__ == "__main__":
    sys.exit(main())
