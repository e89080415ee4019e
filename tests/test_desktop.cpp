// The desktop integration: the desktop entry passes the desktop's own
// validator and starts the window on a PDF file, and the icon compiled into
// the window module draws at the sizes desktops ask for.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QStandardPaths>

#include "window/KestruneUnit.h"
#include "support/ApplicationEnvironment.h"
#include "support/ProgramRun.h"

using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;

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
    const RunResult validate = RunProgram(validator, {entry}, {.MergeChannels = true});
    // Errors and hints alike are printed; a clean entry prints nothing.
    EXPECT_EQ(validate.ExitCode, 0);
    EXPECT_EQ(validate.Out.trimmed().toStdString(), "");

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

// At 16 and 24 pixels the icon is the version drawn for that size, whose
// badge keeps its white "K" legible: many pure white pixels in the badge's
// corner, half as many again as the large drawing scaled down keeps (it
// blurs the K into pale pixels).
TEST(Desktop, SmallIconsAreDrawnForTheirSize) {
    const QIcon icon = kestrune::TKestruneForm::Icon();
    const QIcon large(QStringLiteral(":/kestrune/kestrune.svg"));
    for (const int size : {16, 24}) {
        SCOPED_TRACE(size);
        const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image, QIcon(QStringLiteral(":/kestrune/kestrune-%1.svg").arg(size)).pixmap(size, size).toImage()
                             .convertToFormat(QImage::Format_ARGB32));
        // The badge fills the lower left: count its pure white pixels (the K).
        const auto whiteInBadge = [size](const QImage& Image) {
            int white = 0;
            for (int y = size / 2; y < size; ++y)
                for (int x = 0; x < size / 2; ++x) {
                    const QColor c = Image.pixelColor(x, y);
                    white += c.alpha() == 255 && c.red() > 235 && c.green() > 235 && c.blue() > 235;
                }
            return white;
        };
        const int white = whiteInBadge(image);
        const int whiteScaled = whiteInBadge(large.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32));
        EXPECT_GE(white, size / 2);
        EXPECT_GT(white * 2, whiteScaled * 3) << white << " against " << whiteScaled;
    }
}

// ---- The caption's own glyphs ---------------------------------------------------

namespace {

// Set in the child process that sees no installed font at all.
constexpr char OnlyEmbeddedFont[] = "KESTRUNE_TEST_ONLY_EMBEDDED_FONT";

// The glyph indexes of the button's caption as laid out in its font, with the
// family each came from.
QList<std::pair<quint32, QString>> CaptionGlyphs(const QPushButton& Button) {
    QTextLayout layout(Button.text(), Button.font());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QList<std::pair<quint32, QString>> glyphs;
    for (const QGlyphRun& run : layout.glyphRuns())
        for (const quint32 index : run.glyphIndexes()) glyphs.append({index, run.rawFont().familyName()});
    return glyphs;
}

}  // namespace

// The button's caption on a machine without any font of its own (fontconfig
// given a configuration without font folders): every character is drawn from
// the glyphs the program carries, none is missing.
TEST(CaptionFont, EveryGlyphIsThereWithOnlyTheEmbeddedFont) {
    if (!qEnvironmentVariableIsSet(OnlyEmbeddedFont)) {
        QTemporaryDir dir;
        const QString config = dir.filePath("fonts.conf");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig><cachedir>" +
                   dir.filePath("cache").toUtf8() + "</cachedir></fontconfig>\n");
        file.close();
        RunOptions options{.MergeChannels = true};
        options.Environment.insert("FONTCONFIG_FILE", config);
        options.Environment.insert(OnlyEmbeddedFont, "1");
        options.Environment.insert("QT_QPA_PLATFORM", "offscreen");
        const RunResult child = RunProgram(QCoreApplication::applicationFilePath(),
                                           {"--gtest_filter=CaptionFont.EveryGlyphIsThereWithOnlyTheEmbeddedFont"}, options);
        EXPECT_EQ(child.ExitCode, 0) << child.Out.toStdString();
        EXPECT_TRUE(child.Out.contains("[  PASSED  ] 1 test")) << child.Out.toStdString();
        return;
    }
    // The child: no installed family at all, so the caption can come only from the program.
    kestrune::TKestruneForm form;
    EXPECT_EQ(QFontDatabase::families(QFontDatabase::Japanese).join(", ").toStdString(), "");
    const auto glyphs = CaptionGlyphs(*form.Button1);
    ASSERT_EQ(glyphs.size(), form.Button1->text().size());
    for (const auto& [index, family] : glyphs) {
        EXPECT_NE(index, 0u) << "a character of the caption has no glyph in " << family.toStdString();
        EXPECT_EQ(family, "Kestrune Caption");
    }
    // Drawn: the label area holds dark pixels of the caption.
    form.show();
    const QImage image = form.Button1->grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 20; x < image.width() - 20; ++x) dark += qGray(image.pixel(x, y)) < 96;
    EXPECT_GT(dark, 40);
}
