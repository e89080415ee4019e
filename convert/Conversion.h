// The conversion of a PDF document into a UTF-8 text file, shared by the
// converter window and the command-line tool so that both write the same bytes.
//
// The text file: the byte-order mark EF BB BF, then for each page in page order
// the page's whole text in UTF-8 followed by CR LF, the last page included; a
// word the engine joined across a line end is written whole (ReadableText, <kestrune/PageText.h>).
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringView>
#include <exception>
#include <functional>

namespace kestrune {

class TFPdf;

// The first bytes of every text file.
inline constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

// UTF-8 of Text. A surrogate pair becomes one four-byte sequence; every unpaired
// surrogate, wherever it stands (also as the last unit), becomes EF BF BD (U+FFFD).
QByteArray EncodeUtf8(QStringView Text);
// The same, appended to Out.
void AppendUtf8(QByteArray& Out, QStringView Text);
// The same, when the caller has already measured Text with Utf8Length.
void AppendUtf8(QByteArray& Out, QStringView Text, qsizetype Utf8Size);
// The number of bytes EncodeUtf8 gives for Text.
qsizetype Utf8Length(QStringView Text);

// The message of an error that ended a conversion: the message of an EPdfError
// or EFileError, "not enough memory" for a failed allocation (std::bad_alloc,
// or a container's std::length_error), and the text of any other exception, as
// shown to the user.
QString ErrorMessage(std::exception_ptr Error);

// The text file beside a PDF: same folder and base name, the last extension of
// the file name part replaced by Extension (appended when there is none).
QString TextFileName(const QString& PdfFileName, const QString& Extension = QStringLiteral(".txt"));

// Raises EFileError when Target is the PDF file itself (a PDF named like its
// own text file, doc.txt, or an output path naming the input), which writing
// the text would destroy.
void CheckTargetIsNotInput(const QString& PdfFileName, const QString& Target);

// Called before the first page with the page count, and after each page with its number.
struct TConversionProgress {
    std::function<void(int PageCount)> Started;
    std::function<void(int Page)> PageDone;
};

// A text file's content, held until it is written in one piece: for each page
// its text in UTF-8 followed by CR LF, in blocks of at least BlockSize bytes
// (reserved, so only what is written takes memory).
struct TTextFile {
    static constexpr qsizetype BlockSize = 1 << 20;
    QByteArrayList Blocks;

    // No pages: no file is written for the document.
    bool IsEmpty() const { return Blocks.isEmpty(); }
    // The whole file: the byte-order mark, then the blocks.
    QByteArray Bytes() const;
};

// Opens FileName in Pdf (with Pdf's password, no current page) and reads the
// whole text of each page. Pdf stays active: the caller deactivates it, also
// when this raises. Raises EPdfError.
TTextFile ReadTextFile(TFPdf& Pdf, const QString& FileName, const TConversionProgress& Progress = {});

// Opens FileName in Pdf with Pdf's password and no current page. Pdf stays
// active: the caller deactivates it, also when this raises. Raises EPdfError.
void OpenDocument(TFPdf& Pdf, const QString& FileName);

// Reads pages First..Last (counted from 1) of the document open in Pdf, in page
// order, and hands each page's bytes (its whole text in UTF-8, then CR LF) to
// Page as soon as they are read; only one page's text is held at a time.
// Raises EPdfError (a page that cannot be opened) and whatever Page raises.
void ReadPages(TFPdf& Pdf, int First, int Last, const std::function<void(int Page, const QByteArray& Bytes)>& Page);

// Replaces the file Path by File through a temporary file in the same folder
// (whatever kind of node Path is): an earlier file of that name stays untouched
// unless the new one is complete. Raises EFileError when the file cannot be
// created or written, naming the cause.
void SaveTextFile(const QString& Path, const TTextFile& File);

}  // namespace kestrune
