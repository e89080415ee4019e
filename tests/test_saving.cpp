// Saving to streams and files: every option and version, reopening what was
// written, and the guarantee that no failed save damages an existing file.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <kestrune/FPdf.h>
#include "component/FileError.h"
#include "support/PdfBuilder.h"
#include "support/PdfEncryption.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ErrorOf;
using testing_support::FileSizeLimit;
using testing_support::PdfBuilder;
using testing_support::ReadAll;
using testing_support::SimpleTextPdf;
using testing_support::WriteFile;

namespace {

QByteArray NumberedPdf(int Count) {
    QList<QStringList> pages;
    for (int i = 1; i <= Count; ++i) pages.append({QStringLiteral("Page %1 of the saved document").arg(i)});
    return SimpleTextPdf(pages);
}

// The trimmed text of every page of a document given by its bytes.
QStringList TextsOf(const QByteArray& Bytes, const QString& Password = {}) {
    TFPdf pdf;
    pdf.SetPassword(Password);
    pdf.LoadDocument(Bytes, true);
    QStringList texts;
    for (int i = 1; i <= pdf.GetPageCount(); ++i) {
        pdf.SetPageNumber(i);
        texts.append(pdf.Text().trimmed());
    }
    return texts;
}

QStringList Expected(int Count) {
    QStringList texts;
    for (int i = 1; i <= Count; ++i) texts.append(QStringLiteral("Page %1 of the saved document").arg(i));
    return texts;
}

// ---- An encrypted fixture: the standard security handler, revision 2 --------

// A two-page document that opens only with the user password "secret".
QByteArray EncryptedPdf() { return testing_support::PasswordTextPdf("secret", Expected(2)); }

// ---- Devices -------------------------------------------------------------------

// A buffer that takes at most Chunk bytes per write call, as a pipe or socket
// may: the whole document must still arrive.
class ChunkedBuffer : public QBuffer {
public:
    explicit ChunkedBuffer(qint64 Chunk) : FChunk(Chunk) {}

protected:
    qint64 writeData(const char* data, qint64 len) override { return QBuffer::writeData(data, qMin(len, FChunk)); }

private:
    qint64 FChunk;
};

// A buffer that fails every write once Limit bytes have been taken, as a
// full disk does.
class FullBuffer : public QBuffer {
public:
    explicit FullBuffer(qint64 Limit) : FLimit(Limit) {}
    int Calls = 0;

protected:
    qint64 writeData(const char* data, qint64 len) override {
        ++Calls;
        if (size() + len > FLimit) return -1;
        return QBuffer::writeData(data, len);
    }

private:
    qint64 FLimit;
};

}  // namespace

// ---- Streams -------------------------------------------------------------------

TEST(SaveToStream, EveryOptionAndVersionAppendsAtThePosition) {
    const TSaveOption options[] = {TSaveOption::saNone, TSaveOption::saIncremental, TSaveOption::saNoIncremental,
                                   TSaveOption::saRemoveSecurity};
    struct Version {
        TPdfVersion Value;
        QByteArray Header;
    };
    const Version versions[] = {{TPdfVersion::pvUnknown, "%PDF-1.7"}, {TPdfVersion::pv10, "%PDF-1.0"},
                                {TPdfVersion::pv14, "%PDF-1.4"}, {TPdfVersion::pv17, "%PDF-1.7"}};
    const QByteArray original = NumberedPdf(3);
    for (TSaveOption option : options)
        for (const Version& version : versions) {
            const QString what = QStringLiteral("option %1, version %2").arg(int(option)).arg(int(version.Value));
            TFPdf pdf;
            pdf.SetPageNumber(2);
            pdf.LoadDocument(original);
            pdf.DeletePage(1);  // a change the saved file must carry
            int changes = 0;
            pdf.OnPageChange = [&](QObject*) { ++changes; };
            void* page = pdf.GetPage();

            const QByteArray prefix = "data already in the stream\n";
            QBuffer stream;
            stream.setData(prefix);
            stream.open(QIODevice::ReadWrite);
            stream.seek(stream.size());
            ASSERT_TRUE(pdf.SaveAs(&stream, option, version.Value)) << qPrintable(what);
            EXPECT_EQ(pdf.GetPage(), page) << qPrintable(what);
            EXPECT_EQ(changes, 0) << qPrintable(what);
            EXPECT_EQ(stream.pos(), stream.size()) << qPrintable(what);

            ASSERT_TRUE(stream.data().startsWith(prefix)) << qPrintable(what);
            const QByteArray saved = stream.data().mid(prefix.size());
            if (option == TSaveOption::saIncremental) {
                // An incremental save is the original file with an update behind it.
                EXPECT_TRUE(saved.startsWith(original)) << qPrintable(what);
                EXPECT_GT(saved.size(), original.size()) << qPrintable(what);
            } else {
                EXPECT_TRUE(saved.startsWith(version.Header)) << qPrintable(what);
            }
            EXPECT_EQ(TextsOf(saved), Expected(3).mid(1)) << qPrintable(what);
        }
}

TEST(SaveToStream, RemoveSecurityDropsTheEncryption) {
    const QByteArray encrypted = EncryptedPdf();
    TFPdf pdf;
    pdf.SetPassword(QStringLiteral("secret"));
    pdf.LoadDocument(encrypted);
    ASSERT_EQ(engine::FPDF_GetSecurityHandlerRevision(static_cast<FPDF_DOCUMENT>(pdf.GetDocument())), 2);

    QBuffer kept, removed;
    kept.open(QIODevice::WriteOnly);
    removed.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pdf.SaveAs(&kept, TSaveOption::saNoIncremental));
    ASSERT_TRUE(pdf.SaveAs(&removed, TSaveOption::saRemoveSecurity, TPdfVersion::pv16));

    // Without security the copy opens with no password and shows the text.
    EXPECT_EQ(TextsOf(removed.data()), Expected(2));
    TFPdf reopened;
    reopened.LoadDocument(removed.data());
    EXPECT_EQ(engine::FPDF_GetSecurityHandlerRevision(static_cast<FPDF_DOCUMENT>(reopened.GetDocument())), -1);
    // The other copy still needs the password.
    TFPdf locked;
    EXPECT_THROW(locked.LoadDocument(kept.data()), EPdfError);
    EXPECT_EQ(TextsOf(kept.data(), QStringLiteral("secret")), Expected(2));
}

TEST(SaveToStream, PartialWritesAreRepeated) {
    TFPdf pdf;
    pdf.LoadDocument(NumberedPdf(4));
    QBuffer whole;
    whole.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pdf.SaveAs(&whole));
    ChunkedBuffer chunked(7);
    chunked.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pdf.SaveAs(&chunked));
    EXPECT_EQ(chunked.data(), whole.data());
}

TEST(SaveToStream, AStreamThatTakesNothingFailsTheSave) {
    // Small documents are written in one block the engine holds back, and it
    // reports success even when that block is refused; a large one fails in
    // the middle. Both must report false, and nothing is written after the
    // first refusal.
    for (int pages : {1, 400}) {
        TFPdf pdf;
        pdf.LoadDocument(NumberedPdf(pages));
        for (qint64 limit : {qint64(0), qint64(600)}) {
            FullBuffer full(limit);
            full.open(QIODevice::WriteOnly);
            EXPECT_FALSE(pdf.SaveAs(&full)) << pages << " pages, limit " << limit;
            EXPECT_LE(full.size(), limit);
            const int calls = full.Calls;
            EXPECT_FALSE(pdf.SaveAs(&full, TSaveOption::saNone, TPdfVersion::pv15));
            EXPECT_GE(full.Calls, calls + 1);
        }
        // The component is unharmed: a good stream takes the document.
        QBuffer good;
        good.open(QIODevice::WriteOnly);
        EXPECT_TRUE(pdf.SaveAs(&good));
        EXPECT_EQ(TextsOf(good.data()).size(), pages);
    }
}

TEST(SaveToStream, Guards) {
    TFPdf inactive;
    inactive.SetName(QStringLiteral("FPdf1"));
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    EXPECT_EQ(ErrorOf([&] { inactive.SaveAs(&stream); }),
              QStringLiteral("Cannot perform this operation on an inactive FPdf1 component"));
    EXPECT_EQ(stream.size(), 0);

    TFPdf pdf;
    pdf.LoadDocument(NumberedPdf(1));
    EXPECT_EQ(ErrorOf([&] { pdf.SaveAs(static_cast<QIODevice*>(nullptr)); }),
              QStringLiteral("Cannot save PDF document to a missing stream"));
    QBuffer closed;
    EXPECT_FALSE(pdf.SaveAs(&closed));
    QBuffer readOnly;
    readOnly.open(QIODevice::ReadOnly);
    EXPECT_FALSE(pdf.SaveAs(&readOnly));
    EXPECT_EQ(readOnly.size(), 0);
}

TEST(SaveToStream, NewDocumentWithAddedPages) {
    TFPdf pdf;
    pdf.CreateDocument();
    pdf.AddPage(1, 300, 200);
    pdf.AddPage(2, 400, 500);
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pdf.SaveAs(&stream, TSaveOption::saNone, TPdfVersion::pv15));
    EXPECT_TRUE(stream.data().startsWith("%PDF-1.5"));
    TFPdf reopened;
    reopened.SetPageNumber(2);
    reopened.LoadDocument(stream.data());
    EXPECT_EQ(reopened.GetPageCount(), 2);
    EXPECT_FLOAT_EQ(engine::FPDF_GetPageWidthF(static_cast<FPDF_PAGE>(reopened.GetPage())), 400);
}

// ---- Files ---------------------------------------------------------------------------

TEST(SaveToFile, NewAndExistingFiles) {
    QTemporaryDir dir;
    TFPdf pdf;
    pdf.LoadDocument(NumberedPdf(3));
    const QString target = dir.filePath("out.pdf");
    ASSERT_TRUE(pdf.SaveAs(target, TSaveOption::saNoIncremental, TPdfVersion::pv14));
    EXPECT_TRUE(ReadAll(target).startsWith("%PDF-1.4"));
    EXPECT_EQ(TextsOf(ReadAll(target)), Expected(3));

    // Replacing a file: a longer one is not left with a tail of the old bytes.
    WriteFile(target, QByteArray(200000, 'x'));
    pdf.DeletePage(3);
    ASSERT_TRUE(pdf.SaveAs(target));
    const QByteArray replaced = ReadAll(target);
    EXPECT_TRUE(replaced.startsWith("%PDF-1.7"));
    EXPECT_LT(replaced.size(), 200000);
    EXPECT_EQ(TextsOf(replaced), Expected(2));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.pdf"});  // no temporary file left
}

TEST(SaveToFile, OverTheDocumentsOwnFile) {
    QTemporaryDir dir;
    const QString path = WriteFile(dir.filePath("own.pdf"), NumberedPdf(4));
    TFPdf pdf;
    pdf.SetFileName(path);
    pdf.SetPageNumber(1);
    pdf.SetActive(true);
    pdf.DeletePage(2);
    // The engine reads the old file while it writes the new one.
    ASSERT_TRUE(pdf.SaveAs(path, TSaveOption::saIncremental));
    EXPECT_EQ(TextsOf(ReadAll(path)), (QStringList{Expected(4)[0], Expected(4)[2], Expected(4)[3]}));
    // The open document still reads its pages, and saves again over the file.
    pdf.SetPageNumber(3);
    EXPECT_EQ(pdf.Text().trimmed(), Expected(4)[3]);
    pdf.DeletePage(1);
    ASSERT_TRUE(pdf.SaveAs(path));
    EXPECT_EQ(TextsOf(ReadAll(path)), (QStringList{Expected(4)[2], Expected(4)[3]}));
}

TEST(SaveToFile, InactiveComponentTouchesNoFile) {
    QTemporaryDir dir;
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    const QString missing = dir.filePath("never.pdf");
    EXPECT_EQ(ErrorOf([&] { pdf.SaveAs(missing); }),
              QStringLiteral("Cannot perform this operation on an inactive FPdf1 component"));
    EXPECT_FALSE(QFile::exists(missing));
    const QByteArray old = NumberedPdf(1);
    const QString existing = WriteFile(dir.filePath("existing.pdf"), old);
    EXPECT_THROW(pdf.SaveAs(existing), EPdfError);
    EXPECT_EQ(ReadAll(existing), old);
}

TEST(SaveToFile, AFileThatCannotBeCreatedRaisesTheFileError) {
    QTemporaryDir dir;
    TFPdf pdf;
    pdf.LoadDocument(NumberedPdf(1));
    const QString target = dir.filePath("no/such/folder/out.pdf");
    // Caught as the one error type, as every failure of the library is.
    try {
        pdf.SaveAs(target);
        FAIL() << "no error";
    } catch (const EPdfError& e) {
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Cannot create file \"%1\"").arg(target))) << e.what();
        EXPECT_EQ(e.Kind(), TPdfErrorKind::ekFileWrite);
        EXPECT_EQ(e.FileName(), target);
        EXPECT_NE(dynamic_cast<const EFileError*>(&e), nullptr);
    }
    EXPECT_FALSE(QFile::exists(target));
}

TEST(SaveToFile, AFailedSaveLeavesTheOldFileByteForByte) {
    // A full disk, simulated by a file size limit: both a document small
    // enough to sit in the file's buffer until the end and one that fails
    // while the engine writes. The limit stops any file from growing past it.
    QTemporaryDir dir;
    const QByteArray old = NumberedPdf(2);
    const QString target = WriteFile(dir.filePath("keep.pdf"), old);
    for (int pages : {3, 400}) {
        TFPdf pdf;
        pdf.LoadDocument(NumberedPdf(pages));
        {
            FileSizeLimit limit(512);
            ASSERT_TRUE(limit.Ok());
            EXPECT_FALSE(pdf.SaveAs(target)) << pages << " pages";
        }
        EXPECT_EQ(ReadAll(target), old) << pages << " pages";
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"keep.pdf"});
        // With room again, the same save goes through.
        EXPECT_TRUE(pdf.SaveAs(target));
        EXPECT_EQ(TextsOf(ReadAll(target)).size(), pages);
        WriteFile(target, old);
    }
}
