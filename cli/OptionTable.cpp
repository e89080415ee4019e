#include "cli/OptionTable.h"

#include <array>
#include <stdexcept>

namespace kestrune {

namespace {

using enum TOptionId;
using K = TValueKind;

constexpr std::array Table{
    TOptionEntry{Output, "o", "output", "PATH", K::File, "",
                "Write the text to PATH instead (one input file only); - writes it to standard output.",
                R"(Write the text to
.I PATH
instead of beside the input (one input file only).
.B \-o \-
writes it to standard output.)"},
    TOptionEntry{Password, "", "password", "PASSWORD", K::Text, "",
                "Open password-protected files with PASSWORD (visible to other users in process lists: "
                "--password-fd or KESTRUNE_PASSWORD are not).",
                R"(Open password-protected files with
.IR PASSWORD .
Passwords given this way are visible to other users in process lists; see
.B \-\-password\-fd
and
.BR KESTRUNE_PASSWORD .)"},
    TOptionEntry{PasswordFd, "", "password-fd", "N", K::Number, "",
                "Read the password from file descriptor N, up to its first line end (at most 4096 bytes).",
                R"(Read the password from file descriptor
.IR N ,
up to its first line end (for example
.BR "\-\-password\-fd 3 3< secret" ).
A password longer than 4096 bytes is refused before any work (exit status 2).)"},
    TOptionEntry{FirstPage, "f", "first-page", "N", K::Number, "", "First page to convert (default: 1).",
                R"(The first page to convert, counted from 1 (default: 1).)"},
    TOptionEntry{LastPage, "l", "last-page", "N", K::Number, "",
                "Last page to convert (default: the document's last page).",
                R"(The last page to convert (default: the document's last page).
The range is clipped to the document; a range that holds none of its pages is
an error for that file, and no text file is written.
The bytes written for a range are exactly those that a whole-document run
writes for its pages, after the byte-order mark.)"},
    TOptionEntry{Jobs, "j", "jobs", "N", K::Number, "",
                "Convert in N worker processes (default: the number of online processors, here %1).",
                R"(Convert in
.I N
worker processes (default: the number of online processors).
A value above twice the processors (at least 4), or above what the open-file
limit leaves room for, is lowered to that, with a note.
A large document is split into page ranges; several files are spread over the
workers.
The bytes written are those of a single process.)"},
    TOptionEntry{MemoryLimit, "", "memory-limit", "MB", K::Number, "",
                "Let each worker process take at most MB mebibytes of memory; a document that needs more fails, "
                "naming the page (default: the physical memory shared among the workers, from %1 to %2 MB; here %3 "
                "with -j %4). 0: no limit.",
                R"man(Let each worker process take at most
.I MB
mebibytes of memory (its data segment, from 16 on); a document that needs
more fails alone, with a line that names the page, for example
.IP
.B "kestrune-text: scan.pdf: page 3: not enough memory to recognise the page at 300 dpi (memory limit 200 MB)"
.IP
A page counts as failed when anything on the way could not get its memory,
also where the engine or Tesseract would go on without it (an image left
undecoded, an empty page).
Default: the physical memory shared among the workers, at least 1024 and at
most 4096 MB
.RB ( \-\-help
shows the figure for the machine): enough for a page recognised at the largest
size, or a page image that decodes to more than a gigabyte, while an image
that asks for more at once fails at once, and a document that grows without
end fails there rather than where the machine runs out of memory.
.B 0
lifts the limit.)man"},
    TOptionEntry{Timeout, "", "timeout", "SECONDS", K::Number, "",
                "Stop a document that takes longer than SECONDS (decimals allowed; default: no limit); it counts "
                "as failed.",
                R"(Stop the conversion of a document that takes longer than
.I SECONDS
(decimals allowed; default: no limit).
The document counts as failed; the others go on.
Time spent waiting for its own output (a FIFO without a reader, a reader that
does not read) counts; time the run spends waiting for another document's
output does not.
Without a limit, a worker that sends nothing for 600 seconds is still ended
and its document fails.)"},
    TOptionEntry{FilesFrom, "", "files-from", "FILE", K::File, "",
                "Also convert the files listed in FILE, one path per line; - reads the list from standard input.",
                R"(Also convert the files listed in
.IR FILE ,
one path per line;
.B \-
reads the list from standard input.)"},
    TOptionEntry{Null, "0", "null", "", K::None, "",
                "The list of --files-from is separated by NUL bytes (as find -print0 writes).",
                R"(The list of
.B \-\-files\-from
is separated by NUL bytes, as
.B find \-print0
writes it.)"},
    TOptionEntry{OutputDir, "", "output-dir", "DIR", K::Folder, "",
                "Write each text file under DIR, at its path relative to the folder argument it was found in or to "
                "the current folder.",
                R"(Write each text file under
.IR DIR ,
at the path of its PDF file relative to the folder argument it was found in
(or to the current folder), creating folders as needed; a path that would lead
outside
.I DIR
is refused.)"},
    TOptionEntry{Update, "", "update", "", K::None, "", "Skip a PDF file whose text file exists and is newer than it.",
                R"(Skip a PDF file whose text file exists and is newer than it; skipped files are
counted, not converted.)"},
    TOptionEntry{Report, "", "report", "FILE", K::File, "",
                "Write one JSON line per input file to FILE as each file ends; - writes them to standard output.",
                R"(Write one JSON object per line and per input file to
.I FILE
as each file ends: its input and output paths, the status
.RB ( converted ", " skipped " or " failed ),
the pages, the pages recognised
.RB ( recognized ;
when there are any, also the pages read turned upright
.RB ( turned ),
the recognised pages' mean confidence from 0 to 100
.RB ( confidence ,
null when none showed ink) and the pages under 70 or that show ink but gave no
word
.RB ( low_confidence ,
scans that want a look)),
the bytes written, the seconds taken and, for a failure, the error.
A document without pages counts as
.BR skipped .
.I FILE
may be
.B \-
or
.I /dev/stdout
(standard output, which then takes no text), a FIFO or a device; a report that
cannot be created stops the run before any work (exit status 2).)"},
    TOptionEntry{SkipHidden, "", "skip-hidden", "", K::None, "",
                "In folders, pass over files and folders whose name begins with a dot.",
                R"(In folders, pass over files and folders whose name begins with a dot.)"},
    TOptionEntry{Ocr, "", "ocr", "MODE", K::Choice, "never auto always",
                "Read scanned pages by text recognition: never (the default; auto with --format pdf), auto (pages that show something but "
                "hold no text character), always (every page; its text is ignored).",
                R"(Read scanned pages by text recognition (Tesseract):
.B never
(the default, but with
.BR "\-\-format pdf" )
takes every page's text as the document has it;
.B auto
recognises the pages that show something but hold no text character (a blank
page stays blank) and keeps every other page's text byte for byte;
.B always
recognises every page and ignores its text.
A page is rendered in grey at
.B \-\-ocr\-dpi
and recognised in the worker processes, one page at a time in each, so
.B \-j
sets how many pages are recognised at once.
A recognised page's lines end with CR LF like any page's.
A page whose image would pass the recognition's pixel limit (40 million pixels,
or 32767 on a side) is read at the highest resolution within it, with a note.
Without
.BR \-\-ocr ,
a document with such pages gets a note saying how many (unless
.BR \-q ).)"},
    TOptionEntry{OcrLanguages, "", "ocr-lang", "LANGS", K::Text, "",
                "Recognition languages, Tesseract's codes joined by + (default: eng); each needs its data installed "
                "(Debian: tesseract-ocr-CODE).",
                R"(The languages to recognise, Tesseract's codes joined by
.B +
(default:
.BR eng ;
for example
.BR eng+deu ).
A language whose data is not installed stops the run before any work
(exit status 2), naming the Debian package that has it
.RB ( tesseract\-ocr\-deu ).
The value has at most 255 characters.)"},
    TOptionEntry{OcrDpi, "", "ocr-dpi", "N", K::Number, "",
                "Recognise pages rendered at N dots per inch (default: 300); a page that is one scanned image is read "
                "at the image's own resolution, and at N when that is under 200.",
                R"(The resolution pages are rendered at for recognition, in dots per inch
(default: 300).
A page that is one scanned image (and nothing else) is read from the image's
own pixels at its own resolution instead, without resampling; a scan under 200
dpi is scaled up to
.IR N .)"},
    TOptionEntry{OcrRotate, "", "ocr-rotate", "WHEN", K::Choice, "auto never",
                "Turned pages: auto (the default) detects each recognised page's orientation and reads a page turned "
                "by 90, 180 or 270 degrees upright; never reads every page as it lies.",
                R"(What to do with pages scanned sideways or upside down:
.B auto
(the default) detects each recognised page's orientation (Tesseract's
orientation and script detection, Debian package
.BR tesseract\-ocr\-osd ,
checked before any work) and reads a turned page upright, its words' boxes
still on the page as shown;
.B never
reads every page as it lies. Pages that are not recognised are not looked at.
The report and the summary count the turned pages.)"},
    TOptionEntry{OcrClean, "", "ocr-clean", "", K::None, "",
                "Clean each page before recognising it: an even background, lone specks removed (for faxes and "
                "worn copies).",
                R"(Clean each recognised page before reading it: its background is made even
(shadows, stains, yellowed paper; Leptonica's background normalisation) and its
lone specks are removed (a dark pixel among light ones, as a fax line or dust
leaves them). A cleaned page that shows ink but gives no word is read again as
it is. Pages fed askew are straightened in any case.)"},
    TOptionEntry{Format, "", "format", "FORMAT", K::Choice, "text tsv json hocr markdown pdf",
                "Write FORMAT: text (the default: each page's text), tsv (each word with its box, in Tesseract's "
                "columns; .tsv), json (one JSON object per page, one per line; .jsonl), hocr (an hOCR document; "
                ".hocr), markdown (headings, lists, tables, code and footnotes; .md) or pdf (a copy of the PDF with "
                "its scanned pages made searchable; .ocr.pdf).",
                R"(What to write for each page (see OUTPUT FORMAT):
.B text
(the default) the page's text;
.B tsv
each word with its box, one per line, in the columns of Tesseract's TSV
(extension
.IR .tsv );
.B json
one JSON object per page and line, with its blocks, lines and words, their
boxes, fonts and sizes (JSON Lines, extension
.IR .jsonl );
.B hocr
an hOCR document (XHTML, extension
.IR .hocr );
.B markdown
the document's structure as Markdown (CommonMark with GitHub's tables and
footnotes, extension
.IR .md ):
headings with their levels, paragraphs as single lines, lists, tables, code
and footnotes, running heads and page numbers left out;
.B pdf
a copy of the PDF file (extension
.IR .ocr.pdf )
in which the recognised pages carry their words as invisible text over the
scan, so that viewers find, select and copy them where the image shows them.
The word formats suit search indexes, highlighting and redaction, and the tools
written for Tesseract's or pdftotext's word output; they have LF line ends and
no byte-order mark.
.IP
With
.BR pdf ,
.B \-\-ocr
is
.B auto
unless given: the pages without text are recognised, and so are scans with a
line of real text stamped over them (the words under the stamp left out);
.B always
also recognises the pages whose only text is an earlier invisible layer, and
replaces that layer. A page with text a reader sees is never covered again.
The copy is the input's bytes unchanged, followed by an update that holds the
words (in Tesseract's glyphless font) and the pages that show them: a
signature over the original still holds for it, and an encrypted document stays
encrypted with its own key. It is written through a temporary file and replaces
an earlier copy only when complete; a document with no page to recognise is
copied as it is, with a note. A document to which an update cannot be appended
(its cross-reference table damaged and rebuilt by the engine, or its page tree
holding something other than pages) fails, and no copy is written.
.BR \-\-ocr\ never ,
.BR "\-o \-" ,
standard input without
.BR \-o ,
and the text options
.RB ( \-\-layout ", " \-\-reading\-order ", " \-\-eol ", " \-\-bom ", " \-\-no\-bom ", " \-\-page\-break )
are refused with it. In folders, files named
.I *.ocr.pdf
(copies an earlier run made) are passed over.)"},
    TOptionEntry{Layout, "", "layout", "", K::None, "",
                "Text that keeps each page's arrangement: each line of the page one line, columns and table cells "
                "side by side where they stand; each page ends with a form feed.",
                R"(Text that keeps each page's arrangement, for tables and pages of several
columns: each line of the page becomes one line of text, and lines that stand
side by side on the page (columns, table cells) stand side by side in the
text, each at the column of its left edge on a grid of the page's average
character width.
Each page ends with a form feed, as
.B pdftotext \-layout
writes.)"},
    TOptionEntry{ReadingOrder, "", "reading-order", "", K::None, "",
                "Text in reading order: columns one after the other, margin notes and table cells apart, each "
                "after what stands beside it (default: the order the document's text comes in).",
                R"(Write each page's text in reading order, as the word formats and
.B \-\-layout
read the page, instead of in the order the document gives its text: a line
of the page is cut where a gap much wider than its word spacing runs down the
page (a column's gutter, the space before a margin note, a table's column
border), columns are read one after the other, top to bottom and left to
right, and a margin note after the paragraph beside it.
Each line of the page becomes one line of text; an empty line separates
paragraphs and blocks; a word hyphenated at a line end is written whole.
Without it the text stays the engine's, byte for byte.)"},
    TOptionEntry{PageMarks, "", "page-marks", "", K::None, "",
                "Markdown: start each page with <!-- page N --> (default: pages unmarked, a paragraph cut by a page "
                "break joined).",
                R"(Start each page's Markdown with the comment
.BR "<!\-\- page N \-\->" .
Without it pages are not marked, and a paragraph that a page break cuts is
joined into one.
.B \-\-format markdown
only.)"},
    TOptionEntry{Eol, "", "eol", "lf|crlf", K::Choice, "lf crlf",
                "End the text's lines with LF (lf: Linux and macOS tools, as pdftotext) or CR LF (crlf, the "
                "default: Windows programs and the Kestrune window's files).",
                R"(How the text's lines end:
.B crlf
(the default) for Windows programs and for the bytes of the Kestrune window,
.B lf
for Linux and macOS tools (as
.B pdftotext
writes by default).
Text formats only.)"},
    TOptionEntry{Bom, "", "bom", "", K::None, "",
                "Start the text with the UTF-8 byte-order mark (the default; Windows programs use it to recognise "
                "UTF-8).",
                R"(Start the text with the UTF-8 byte-order mark (the default), which Windows
programs use to recognise UTF-8.
Text formats only.)"},
    TOptionEntry{NoBom, "", "no-bom", "", K::None, "", "No byte-order mark (for Unix tools, which take it for text).",
                R"(No byte-order mark: for Unix tools, which take it for part of the text
.RB ( "\-\-eol lf \-\-no\-bom"
gives pdftotext's line ends and start).)"},
    TOptionEntry{PageBreak, "", "page-break", "none|ff", K::Choice, "none ff",
                "End each page's text with nothing more (none, the default) or a form feed (ff, as pdftotext and "
                "--layout do).",
                R"(What follows each page's last line end in the text:
.B none
(the default, the bytes of the Kestrune window), or
.B ff
a form feed, as
.B pdftotext
and
.B \-\-layout
write, so that a page number or running head can be told from the text
around it.
.B "\-\-eol lf \-\-no\-bom \-\-page\-break ff"
gives pdftotext's line ends, start and page ends; within a page the text
remains the engine's: its reading order, its line breaks, and words hyphenated
at a line end joined into one line (see OUTPUT FORMAT).
Text formats only.)"},
    TOptionEntry{Quiet, "q", "quiet", "", K::None, "", "No progress display, notes or summary; errors are still shown.",
                R"(No progress display, notes or summary; errors are still shown.)"},
    TOptionEntry{Help, "h", "help", "", K::None, "", "Show this help and exit.", R"(Show the help text and exit.)"},
    TOptionEntry{Version, "", "version", "", K::None, "", "Show the version and exit.",
                R"(Show the program's name and version and exit.)"},
};

// The table is indexed by its identifiers: each entry stands at its own.
constexpr bool InOrder() {
    for (std::size_t i = 0; i < Table.size(); ++i)
        if (std::size_t(Table[i].Id) != i) return false;
    return true;
}
static_assert(InOrder(), "the option table lists the options in the order of TOptionId");

}  // namespace

std::span<const TOptionEntry> OptionTable() { return Table; }

const TOptionEntry& OptionEntry(TOptionId Id) { return Table.at(std::size_t(Id)); }

}  // namespace kestrune
