#include "convert/Conversion.h"

#include <QFile>
#include <filesystem>
#include <limits>
#include <new>
#include <stdexcept>
#include <system_error>

#include <kestrune/FPdf.h>
#include <kestrune/PageText.h>
#include "convert/TextOutput.h"
#include "component/FileError.h"

namespace kestrune {

namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

qsizetype Utf8Length(const char16_t* s, qsizetype n) {
    qsizetype length = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (c < 0x80) {
            length += 1;
        } else if (c < 0x800) {
            length += 2;
        } else if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(s[i + 1])) {
            length += 4;
            ++i;
        } else {
            length += 3;  // any other unit, an unpaired surrogate (as U+FFFD) included
        }
    }
    return length;
}

}  // namespace

qsizetype Utf8Length(QStringView Text) { return Utf8Length(Text.utf16(), Text.size()); }

// Written by hand rather than with QString::toUtf8(), which writes "?" for an
// unpaired surrogate, or a stateful QStringEncoder, which can hold back a high
// surrogate at the very end of a text.
void AppendUtf8(QByteArray& Out, QStringView Text) { AppendUtf8(Out, Text, Utf8Length(Text)); }

void AppendUtf8(QByteArray& Out, QStringView Text, qsizetype Utf8Size) {
    const char16_t* s = Text.utf16();
    const qsizetype n = Text.size();
    const qsizetype start = Out.size();
    Out.resize(start + Utf8Size);
    auto* d = reinterpret_cast<unsigned char*>(Out.data() + start);
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = s[i];
        if (c < 0x80) {
            *d++ = static_cast<unsigned char>(c);
            continue;
        }
        if (c < 0x800) {
            *d++ = static_cast<unsigned char>(0xC0 | (c >> 6));
            *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
            continue;
        }
        if (IsSurrogate(static_cast<char16_t>(c))) {
            if (IsHighSurrogate(static_cast<char16_t>(c)) && i + 1 < n && IsLowSurrogate(s[i + 1])) {
                c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
                *d++ = static_cast<unsigned char>(0xF0 | (c >> 18));
                *d++ = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
                *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
                *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
                continue;
            }
            c = 0xFFFD;
        }
        *d++ = static_cast<unsigned char>(0xE0 | (c >> 12));
        *d++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        *d++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
}

QByteArray EncodeUtf8(QStringView Text) {
    QByteArray out;
    AppendUtf8(out, Text);
    return out;
}

QString ErrorMessage(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const EPdfError& e) {  // file errors (EFileError) included
        return e.Message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("not enough memory");
    } catch (const std::length_error&) {
        // A container asked to grow past what any memory holds.
        return QStringLiteral("not enough memory");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

QString TextFileName(const QString& PdfFileName, const QString& Extension) {
    // Only the file name part counts: a dot in a folder name is no extension.
    const qsizetype slash = PdfFileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = PdfFileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > slash ? PdfFileName.left(dot) : PdfFileName;
    return base + Extension;
}

void CheckTargetIsNotInput(const QString& PdfFileName, const QString& Target) {
    std::error_code error;
    if (std::filesystem::equivalent(QFile::encodeName(PdfFileName).toStdString(),
                                    QFile::encodeName(Target).toStdString(), error))
        throw EFileError(QStringLiteral("Cannot write file \"%1\". It is the PDF file being converted").arg(Target));
}

QByteArray TTextFile::Bytes() const {
    QByteArray out = ByteOrderMark;
    for (const QByteArray& block : Blocks) out += block;
    return out;
}

void OpenDocument(TFPdf& Pdf, const QString& FileName) {
    Pdf.SetFileName(FileName);
    Pdf.SetPageNumber(0);
    Pdf.SetActive(true);
}

void ReadPages(TFPdf& Pdf, int First, int Last, const std::function<void(int Page, const QByteArray& Bytes)>& Page) {
    QByteArray bytes;  // keeps its capacity from page to page
    for (int page = First; page <= Last; ++page) {
        Pdf.SetPageNumber(page);
        const QString text = ReadableText(Pdf.Text(0, std::numeric_limits<int>::max()));
        bytes.resize(0);
        AppendUtf8(bytes, text);
        bytes += "\r\n";
        Page(page, bytes);
    }
}

TTextFile ReadTextFile(TFPdf& Pdf, const QString& FileName, const TConversionProgress& Progress) {
    OpenDocument(Pdf, FileName);
    if (Progress.Started) Progress.Started(Pdf.GetPageCount());
    // Read again: the progress handler lets events run, and they may change the document.
    const int count = Pdf.GetPageCount();
    TTextFile file;
    for (int page = 1; page <= count; ++page) {
        Pdf.SetPageNumber(page);
        const QString text = ReadableText(Pdf.Text(0, std::numeric_limits<int>::max()));
        // The text goes into large blocks of their own rather than one small
        // block per page among the engine's per-page allocations, which would
        // scatter the heap that the engine reuses from page to page.
        const qsizetype textSize = Utf8Length(text);
        const qsizetype size = textSize + 2;
        if (file.Blocks.isEmpty() || file.Blocks.last().capacity() - file.Blocks.last().size() < size) {
            file.Blocks.append(QByteArray());
            file.Blocks.last().reserve(qMax(size, TTextFile::BlockSize));
        }
        QByteArray& block = file.Blocks.last();
        AppendUtf8(block, text, textSize);
        block += "\r\n";
        if (Progress.PageDone) Progress.PageDone(page);
    }
    return file;
}

void SaveTextFile(const QString& Path, const TTextFile& File) {
    TTextTarget target(Path, TTextTarget::TMode::Replace);
    // On a failure the temporary file is removed as `target` goes; the old file stays.
    target.Write(ByteOrderMark, 3);
    for (const QByteArray& block : File.Blocks) target.Write(block);
    target.Commit();
}

}  // namespace kestrune
