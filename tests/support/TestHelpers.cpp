#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <csignal>

#include <kestrune/PdfError.h>

namespace testing_support {

QString ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const kestrune::EPdfError& e) {
        return e.Message();
    }
    return {};
}

kestrune::EPdfError RaisedError(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const kestrune::EPdfError& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return kestrune::EPdfError(QString());
}

void ExpectError(const std::function<void()>& Action, const QString& Message) {
    try {
        Action();
        ADD_FAILURE() << "no error, expected: " << Message.toStdString();
    } catch (const kestrune::EPdfError& e) {
        EXPECT_EQ(e.Message(), Message);
    }
}

void LeaveStaleEngineError() {
    kestrune::TFPdf other;
    EXPECT_FALSE(ErrorOf([&] { other.LoadDocument(QByteArray("not a pdf at all"), true); }).isEmpty());
}

QByteArray ReadAll(const QString& Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray Saved(kestrune::TFPdf& Pdf) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(Pdf.SaveAs(&buffer));
    return buffer.data();
}

QByteArray JpegBytes(QColor Color, int Width, int Height) {
    QImage image(Width, Height, QImage::Format_RGB32);
    image.fill(Color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(100);
    if (!writer.write(image)) ADD_FAILURE() << "Qt's JPEG writer failed: " << writer.errorString().toStdString();
    return bytes;
}

FileSizeLimit::FileSizeLimit(rlim_t Bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);  // fail the write with EFBIG instead of ending the process
    getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit limit = FOld;
    limit.rlim_cur = Bytes;
    FOk = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
}

}  // namespace testing_support
