// The conversion of a PDF document into a UTF-8 text file, shared by the
// converter window and the command-line tool so that both write the same bytes.
//
// The text file: the byte-order mark EF BB BF, then for each page in page order
// the page's whole text in UTF-8 followed by CR LF, the last page included.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <functional>

class QIODevice;

namespace kestrune {

class TFPdf;

// UTF-8 of Text. A surrogate pair becomes one four-byte sequence; every unpaired
// surrogate, wherever it stands (also as the last unit), becomes EF BF BD (U+FFFD).
QByteArray EncodeUtf8(QStringView Text);
// The same, appended to Out.
void AppendUtf8(QByteArray& Out, QStringView Text);

// The text file beside a PDF: same folder and base name, the last extension of
// the file name part replaced by ".txt" (appended when there is none).
QString TextFileName(const QString& PdfFileName);

// Called before the first page with the page count, and after each page with its number.
struct TConversionProgress {
    std::function<void(int PageCount)> Started;
    std::function<void(int Page)> PageDone;
};

// Opens FileName in Pdf (with Pdf's password, no current page) and returns the
// text file's bytes; empty when the document has no pages. Pdf stays active:
// the caller deactivates it, also when this raises. Raises EPdfError.
QByteArray ReadTextFile(TFPdf& Pdf, const QString& FileName, const TConversionProgress& Progress = {});

// Writes Bytes to Device in full and flushes it; raises EFileError naming Path
// with the device's error text when a write or the flush fails.
void WriteAll(QIODevice& Device, const QByteArray& Bytes, const QString& Path);

// Replaces the file Path by Bytes through a temporary file in the same folder:
// an earlier file of that name stays untouched unless the new one is complete.
// Raises EFileError when the file cannot be created or written.
void SaveTextFile(const QString& Path, const QByteArray& Bytes);

}  // namespace kestrune
