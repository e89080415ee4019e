// The desktop integration: the desktop entry passes the desktop's own
// validator and starts the window on a PDF file, and the icon compiled into
// the window module draws at the sizes desktops ask for.
#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>

#include "support/ApplicationEnvironment.h"

namespace {

const auto* const kEnvironment =
    testing::AddGlobalTestEnvironment(new testing_support::ApplicationEnvironment("test_desktop"));

// The keys of the [Desktop Entry] group.
QMap<QString, QString> EntryKeys(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QMap<QString, QString> keys;
    bool inEntry = false;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) inEntry = line == QStringLiteral("[Desktop Entry]");
        else if (inEntry && line.contains(u'=')) keys.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    }
    return keys;
}

}  // namespace

TEST(Desktop, EntryIsValidAndOpensPdfFilesInTheWindow) {
    const QString entry = QStringLiteral(KESTRUNE_DESKTOP_ENTRY);
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate is missing (Debian package desktop-file-utils)";
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {entry});
    ASSERT_TRUE(validate.waitForFinished(30000));
    // Errors and hints alike are printed; a clean entry prints nothing.
    EXPECT_EQ(validate.exitCode(), 0);
    EXPECT_EQ(validate.readAll().trimmed().toStdString(), "");

    const auto keys = EntryKeys(entry);
    EXPECT_EQ(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(keys.value(QStringLiteral("Exec")), QStringLiteral("kestrune %F"));
    EXPECT_EQ(keys.value(QStringLiteral("Icon")), QStringLiteral("kestrune"));
    EXPECT_EQ(keys.value(QStringLiteral("MimeType")), QStringLiteral("application/pdf;"));
}

TEST(Desktop, IconDrawsFromTheCompiledResource) {
    const QIcon icon(QStringLiteral(":/kestrune/kestrune.svg"));
    ASSERT_FALSE(icon.isNull()) << "no icon engine for SVG (Debian package libqt6svg6) or the resource is missing";
    for (int size : {16, 48, 256}) {
        const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(size, size)) << size;
        // The page is drawn (opaque pixels) and so is the rust-red badge.
        int opaque = 0, rust = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() == 255) ++opaque;
                if (c.alpha() == 255 && c.red() > 140 && c.green() < 120 && c.blue() < 80) ++rust;
            }
        EXPECT_GT(opaque, size * size / 3) << size;
        EXPECT_GT(rust, size * size / 50) << size;
    }
}
