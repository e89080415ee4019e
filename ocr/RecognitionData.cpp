#include "ocr/Recognition.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

#include <kestrune/PageRecognizer.h>
#include <kestrune/PdfError.h>

namespace kestrune::recognition {

namespace {

// Debian's package of a language's data: tesseract-ocr-chi-sim for chi_sim.
QString DebianPackage(const QString& Code) {
    return QStringLiteral("tesseract-ocr-") + Code.toLower().replace(QLatin1Char('_'), QLatin1Char('-'));
}

// The codes of the language data Tesseract's project publishes (and Debian
// packages as tesseract-ocr-<code>): a code outside them is a mistyped or
// made-up name, for which no package would help.
bool KnownLanguage(const QString& Code) {
    static const QStringList known = QStringLiteral(
        "afr amh ara asm aze aze_cyrl bel ben bod bos bre bul cat ceb ces chi_sim chi_sim_vert chi_tra "
        "chi_tra_vert chr cos cym dan deu div dzo ell eng enm epo equ est eus fao fas fil fin fra frk frm fry gla "
        "gle glg grc guj hat heb hin hrv hun hye iku ind isl ita ita_old jav jpn jpn_vert kan kat kat_old kaz khm "
        "kir kmr kor kor_vert lao lat lav lit ltz mal mar mkd mlt mon mri msa mya nep nld nor oci ori pan pol por "
        "pus que ron rus san sin slk slv snd spa spa_old sqi srp srp_latn sun swa swe syr tam tat tel tgk tha tir "
        "ton tur uig ukr urd uzb uzb_cyrl vie yid yor").split(QLatin1Char(' '));
    return known.contains(Code);
}

QString InstalledList() {
    const QStringList installed = InstalledLanguages();
    return installed.isEmpty() ? QStringLiteral("none") : installed.join(QStringLiteral(", "));
}

// The data of orientation and script detection, which recognises no language.
const QString OrientationData = QStringLiteral("osd");

}  // namespace

QString DataFile(const QString& Folder, const QString& Code) {
    return QDir(Folder).filePath(Code + QStringLiteral(".traineddata"));
}

QString GlyphlessFontFile() { return QDir(DataFolder()).filePath(QStringLiteral("pdf.ttf")); }

// Named to Tesseract explicitly, so that the language check and Tesseract
// look at the same files.
QString DataFolder() {
    const QString fromEnvironment = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    // The places this build's Tesseract installs its data, separated by ':'.
    const QStringList folders = QStringLiteral(KESTRUNE_TESSDATA_FOLDERS).split(QLatin1Char(':'));
    for (const QString& folder : folders)
        if (QFileInfo(folder).isDir()) return folder;
    return folders.first();
}

QStringList LanguageCodes(const QString& Languages) {
    static const QRegularExpression valid(QStringLiteral("^[A-Za-z0-9_-]+$"));
    const QStringList codes = Languages.split(QLatin1Char('+'));
    for (const QString& code : codes)
        if (!valid.match(code).hasMatch())
            throw EPdfError(QStringLiteral("Invalid recognition language \"%1\": expected Tesseract's language codes joined by \"+\", such as eng+deu")
                                .arg(Languages));
    return codes;
}

void CheckLanguages(const QString& Languages) {
    const QString folder = DataFolder();
    for (const QString& code : LanguageCodes(Languages)) {
        if (QFileInfo(DataFile(folder, code)).isFile() && code != OrientationData) continue;
        // A file of one's own (a trained language) counts as installed; a name
        // Tesseract's project has no data for is no package's.
        if (!KnownLanguage(code))
            throw EPdfError(QStringLiteral("Unknown recognition language \"%1\": Tesseract's languages have codes "
                                           "such as eng, deu or chi_sim; installed here: %2")
                                .arg(code, InstalledList()));
        throw EPdfError(QStringLiteral("The recognition data for language \"%1\" is not installed (no %2); "
                                       "the Debian package %3 has it (installed here: %4)")
                            .arg(code, DataFile(folder, code), DebianPackage(code), InstalledList()));
    }
}

void CheckOrientationData() {
    const QString file = DataFile(DataFolder(), OrientationData);
    if (!QFileInfo(file).isFile())
        throw EPdfError(QStringLiteral("The data of orientation detection is not installed (no %1); the Debian "
                                       "package %2 has it")
                            .arg(file, DebianPackage(OrientationData)));
}

QStringList InstalledLanguages() {
    QStringList codes;
    for (const QFileInfo& file : QDir(DataFolder()).entryInfoList({QStringLiteral("*.traineddata")}, QDir::Files))
        if (file.completeBaseName() != OrientationData) codes << file.completeBaseName();
    codes.sort();
    return codes;
}

int PageDpi(double Width, double Height, int Dpi) {
    const double width = std::max(Width, 1.0) / 72.0;  // inches
    const double height = std::max(Height, 1.0) / 72.0;
    const auto fits = [&](int dpi) {
        const double w = std::ceil(width * dpi), h = std::ceil(height * dpi);
        return w <= TPageRecognizer::MaxPageSide && h <= TPageRecognizer::MaxPageSide &&
               w * h <= double(TPageRecognizer::MaxPagePixels);
    };
    if (fits(Dpi)) return Dpi;
    // The estimate from the limits, then a step down for rounding.
    int dpi = int(std::min({std::sqrt(double(TPageRecognizer::MaxPagePixels) / (width * height)),
                            TPageRecognizer::MaxPageSide / width, TPageRecognizer::MaxPageSide / height, double(Dpi)}));
    while (dpi > 1 && !fits(dpi)) --dpi;
    return std::max(dpi, 1);
}

}  // namespace kestrune::recognition
