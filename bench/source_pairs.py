#!/usr/bin/env python3
"""How much of a LaTeX document's prose a text file reads in order.

    source_pairs.py SOURCE.tex[.gz] TEXT.txt [TEXT.txt ...]

Derives the prose of the source (comments, the preamble, verbatim text,
mathematics and the arguments of commands that print nothing dropped; the
arguments of the others kept), cuts it and each text into words (letters
only, lower case; a word hyphenated at a line end joined, as the usual
de-hyphenation does), and prints for each text the share of the source's
word pairs (two words next to each other, both found in the text) that stand
next to each other in the text too: the pairs in reading order.
"""
import collections
import gzip
import re
import sys

DROPPED = ("label ref pageref eqref cite nocite begin end usepackage RequirePackage documentclass index "
           "glossary hspace vspace includegraphics input include newcommand renewcommand providecommand "
           "newenvironment renewenvironment setlength addtolength setcounter addtocounter DeclareOption "
           "url hypertarget hyperlink pagestyle thispagestyle bibliographystyle bibliography def let "
           "changes cs marg oarg parg meta arg NeedsTeXFormat ProvidesFile ProvidesPackage "
           "ProvidesClass RecordChanges CodelineIndex EnableCrossrefs DocInput GetFileInfo "
           "setcounter newlength color textcolor").split()


def source_words(path):
    opener = gzip.open if path.endswith(".gz") else open
    with opener(path, "rt", encoding="utf-8", errors="replace") as f:
        text = f.read()
    text = re.sub(r"(?<!\\)%.*", "", text)
    if "\\begin{document}" in text:
        text = text.split("\\begin{document}", 1)[1]
    text = text.split("\\end{document}", 1)[0]
    for env in ("verbatim", "verbatim\\*", "macrocode", "lstlisting", "Verbatim", "equation\\*?", "align\\*?",
                "displaymath", "eqnarray\\*?", "tikzpicture", "picture"):
        text = re.sub(r"\\begin\{" + env + r"\}.*?\\end\{" + env + r"\}", " ", text, flags=re.S)
    text = re.sub(r"\\verb\*?(.).*?\1", " ", text)
    text = re.sub(r"\$\$.*?\$\$|\\\[.*?\\\]|\$[^$]*\$", " ", text, flags=re.S)
    dropped = "|".join(DROPPED)
    # A dropped command with its optional and braced arguments (one level of nesting).
    arg = r"(?:\s*\[[^\]]*\]|\s*\{(?:[^{}]|\{[^{}]*\})*\})*"
    text = re.sub(r"\\(?:" + dropped + r")\*?" + arg, " ", text)
    text = re.sub(r"\\[A-Za-z@]+\*?", " ", text)
    text = re.sub(r"\\.", " ", text)
    text = text.replace("~", " ")
    return words_of(text)


def words_of(text):
    # A hyphen at a line's end joins the word's parts.
    text = re.sub(r"(\w)-\s*\n\s*(\w)", r"\1\2", text)
    return [w.lower() for w in re.findall(r"[^\W\d_]+", text)]


def pairs(words):
    return collections.Counter(zip(words, words[1:]))


def main():
    source = source_words(sys.argv[1])
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8", errors="replace") as f:
            words = words_of(f.read().replace("\ufeff", "").replace("\ufffe", ""))
        known = set(words)
        wanted = pairs([w for w in source if w in known])
        found = pairs(words)
        kept = sum(min(n, found[p]) for p, n in wanted.items())
        total = sum(wanted.values())
        print(f"{kept / total * 100:6.2f}%  {kept}/{total}  {path}")


if __name__ == "__main__":
    main()
