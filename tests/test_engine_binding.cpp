// Loading and binding the engine library, and the engine's error codes.
//
// The engine stays loaded for the rest of a process once a load succeeds, so
// each case needs a process of its own (CTest runs every case separately); a
// case that finds the engine already loaded skips rather than test nothing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <kestrune/FPdf.h>
#include "support/ProgramRun.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::ErrorOf;
using testing_support::RaisedError;

namespace {

const QString kDoubles = QStringLiteral(KESTRUNE_DOUBLES_DIR);
const QString kFullDouble = kDoubles + QStringLiteral("/engine_double_full.so");
const QString kLackingDouble = kDoubles + QStringLiteral("/engine_double_lacks_entries.so");

#define REQUIRE_FRESH_ENGINE()                                                           \
    if (EngineLoaded()) GTEST_SKIP() << "the engine is already loaded in this process; " \
                                        "run this case on its own (as CTest does)"

// Whether the library file is still mapped into the process.
bool StillMapped(const QString& path) {
    void* h = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

void SetDoubleLastError(unsigned long code) {
    using SetLastError = void (*)(unsigned long);
    auto set = reinterpret_cast<SetLastError>(dlsym(EngineLibrary, "KestruneDouble_SetLastError"));
    ASSERT_NE(set, nullptr);
    set(code);
}

}  // namespace

TEST(EngineBinding, MissingLibraryFailsEveryOpenAndEachOpenTriesAgain) {
    REQUIRE_FRESH_ENGINE();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("libnot-there.so"));
    EngineLibraryName = path;
    TFPdf pdf;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const EPdfError error = RaisedError([&] { pdf.CreateDocument(); });
        EXPECT_EQ(error.Kind(), TPdfErrorKind::ekEngineMissing);
        EXPECT_EQ(error.FileName(), path);
        const QString message = error.Message();
        // The platform's text for the failed load, then ": ", then the name.
        EXPECT_TRUE(message.endsWith(QStringLiteral(": ") + path)) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("No such file"))) << message.toStdString();
        EXPECT_FALSE(message.contains(QStringLiteral(".:"))) << "trailing full stop kept: " << message.toStdString();
        EXPECT_FALSE(EngineLoaded());
        EXPECT_EQ(EngineLibrary, nullptr);
        EXPECT_FALSE(pdf.GetActive());
    }
    // Once the file is there, the next open loads it: nothing was remembered.
    ASSERT_TRUE(QFile::copy(kFullDouble, path));
    // The double gives no document, so the creation fails with its own message.
    EXPECT_EQ(ErrorOf([&] { pdf.CreateDocument(); }), QStringLiteral("Cannot create PDF document"));
    EXPECT_TRUE(EngineLoaded());
    EXPECT_EQ(EngineLibraryName, path);
}

TEST(EngineBinding, LibraryLackingEntriesIsRefusedWithTheFirstMissingName) {
    REQUIRE_FRESH_ENGINE();
    // The double hides FPDF_LoadPage and, further down the table, FPDFText_GetText.
    EngineLibraryName = kLackingDouble;
    TFPdf pdf;
    pdf.SetFileName(QStringLiteral("/nonexistent.pdf"));
    for (int attempt = 0; attempt < 2; ++attempt) {
        const EPdfError error = RaisedError([&] { pdf.SetActive(true); });
        EXPECT_EQ(error.Kind(), TPdfErrorKind::ekEngineMissing);
        const QString message = error.Message();
        EXPECT_TRUE(message.endsWith(QStringLiteral(": FPDF_LoadPage"))) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("undefined symbol"))) << message.toStdString();
        EXPECT_FALSE(message.contains(QStringLiteral("FPDFText_GetText")));
        // Nothing is left loaded: not the library, not the engine state.
        EXPECT_FALSE(EngineLoaded());
        EXPECT_FALSE(StillMapped(kLackingDouble));
        EXPECT_FALSE(pdf.GetActive());
    }
    // A complete library named afterwards is loaded from the start.
    EngineLibraryName = kFullDouble;
    EXPECT_EQ(ErrorOf([&] { pdf.SetActive(true); }), QStringLiteral("Cannot load PDF document /nonexistent.pdf"));
    EXPECT_TRUE(EngineLoaded());
    EXPECT_TRUE(StillMapped(kFullDouble));
}

TEST(EngineBinding, EngineErrorCodesReplaceTheLoadersMessage) {
    REQUIRE_FRESH_ENGINE();
    EngineLibraryName = kFullDouble;
    TFPdf pdf;
    EXPECT_THROW(pdf.CreateDocument(), EPdfError);  // loads the double, which gives no document
    ASSERT_TRUE(EngineLoaded());
    pdf.SetFileName(QStringLiteral("/some/file.pdf"));

    using enum TPdfErrorKind;
    const struct {
        unsigned long Code;
        const char* Message;
        TPdfErrorKind Kind;
    } cases[] = {
        {0, "Cannot load PDF document /some/file.pdf", ekOther},  // no code: the operation's own message
        {1, "Unknown error", ekOther},
        {2, "File not found or could not be opened", ekFileNotFound},
        {3, "File not in PDF format or corrupted", ekNotPdf},
        {4, "Password required or incorrect password", ekPassword},
        // 5, "Unsupported security scheme", comes from a real document: see the document-core suite.
        {6, "Page not found or content error", ekPage},
        {7, "Unknown error", ekOther},
        {1000, "Unknown error", ekOther},
    };
    for (const auto& c : cases) {
        SetDoubleLastError(c.Code);
        const EPdfError error = RaisedError([&] { pdf.SetActive(true); });
        EXPECT_EQ(error.Message(), QString::fromUtf8(c.Message)) << "code " << c.Code;
        EXPECT_EQ(error.Kind(), c.Kind) << "code " << c.Code;
        EXPECT_EQ(error.FileName(), QStringLiteral("/some/file.pdf"));
        EXPECT_FALSE(pdf.GetActive());
    }
    // The memory loader's own message has no file name and no trailing blank.
    SetDoubleLastError(0);
    const QByteArray bytes("%PDF-1.7");
    EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(bytes); }), QStringLiteral("Cannot load PDF document"));
    SetDoubleLastError(4);
    EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(bytes); }), QStringLiteral("Password required or incorrect password"));
    // A code left over from a failed load does not stand in for a creation's failure.
    EXPECT_EQ(ErrorOf([&] { pdf.CreateDocument(); }), QStringLiteral("Cannot create PDF document"));
}

TEST(EngineBinding, DefaultNameIsFoundBesideTheProgramAndLoadedOnce) {
    REQUIRE_FRESH_ENGINE();
    EngineLibraryName.clear();
    {
        TFPdf pdf;
        EXPECT_FALSE(EngineLoaded()) << "creating a component touches no engine";
        pdf.CreateDocument();
        EXPECT_TRUE(pdf.GetActive());
    }
    EXPECT_EQ(EngineLibraryName, QStringLiteral("libpdfium.so"));
    ASSERT_TRUE(EngineLoaded());

    // The library actually bound is the one beside this program.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(engine::FPDF_GetPageCount), &info), 0);
    const QString programDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    EXPECT_EQ(QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath(),
              QFileInfo(programDir + QStringLiteral("/libpdfium.so")).canonicalFilePath());

    // Destroying every component leaves the engine loaded; a later open does
    // not load it again, and a changed name no longer matters.
    void* library = EngineLibrary;
    EngineLibraryName = QStringLiteral("/nowhere/libpdfium.so");
    TFPdf again;
    again.CreateDocument();
    EXPECT_EQ(EngineLibrary, library);
    EXPECT_EQ(engine::EntryPointCount, 423);
}

namespace {

struct ProbeRun {
    int ExitCode = -1;
    QString Out;  // the engine file loaded
    QString Err;  // the error line
};

// Runs a copy of the probe program (or the built one) from an unrelated
// folder, with no library path set: only the library's own look-up can serve.
ProbeRun RunProbe(const QString& program) {
    QTemporaryDir elsewhere;
    testing_support::RunOptions options{.WorkingDirectory = elsewhere.path()};
    options.Environment.remove(QStringLiteral("LD_LIBRARY_PATH"));
    const testing_support::RunResult run = testing_support::RunProgram(program, {}, options);
    return {run.ExitCode, QString::fromLocal8Bit(run.Out.trimmed()), QString::fromLocal8Bit(run.Err.trimmed())};
}

QString Canonical(const QString& path) { return QFileInfo(path).canonicalFilePath(); }

}  // namespace

TEST(EngineBinding, ProgramWithoutAnEngineBesideItFindsTheBuildTreesCopy) {
    const QString buildCopy = QStringLiteral(KESTRUNE_ENGINE_BUILD_COPY);

    // The search order: the program's folder, then the engine folder relative
    // to it, which in the build tree (laid out as installed) is the build's copy.
    const QStringList path = EngineSearchPath();
    const QString programDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    ASSERT_GE(path.size(), 2);
    EXPECT_EQ(path[0], programDir);
    EXPECT_EQ(Canonical(path[1]), Canonical(QFileInfo(buildCopy).absolutePath()));

    // A program linking only the library, run from an unrelated folder, loads that copy.
    const ProbeRun run = RunProbe(QStringLiteral(KESTRUNE_ENGINE_PROBE));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(Canonical(run.Out), Canonical(buildCopy));
}

// An installed program looks only relative to itself: never into the build
// tree it came from (where anyone able to write there could plant a file), and
// a file it finds that is no engine is reported, not passed over.
TEST(EngineBinding, InstalledProgramSearchesOnlyItsInstallation) {
    const QString engine = QStringLiteral(KESTRUNE_ENGINE_BUILD_COPY);
    const QString sharedLibrary = QStringLiteral(KESTRUNE_SHARED_LIBRARY);
    QTemporaryDir prefix;
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    const QString engineDir = prefix.filePath(QStringLiteral(KESTRUNE_ENGINE_SUBDIR));
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(engineDir));
    const QString program = bin + QStringLiteral("/engine_probe");
    ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRUNE_ENGINE_PROBE), program));
    if (!sharedLibrary.isEmpty()) {  // the probe's run path is ../<libdir> when the library is shared
        ASSERT_TRUE(QFile::copy(sharedLibrary, QFileInfo(engineDir).absolutePath() + u'/' +
                                                   QFileInfo(sharedLibrary).fileName()));
    }

    // No engine in the installation: the build tree's copy, a real engine,
    // must not stand in. The message keeps the platform's text and the name,
    // then names the folders searched and what to do.
    ProbeRun run = RunProbe(program);
    ASSERT_EQ(run.ExitCode, 1) << "loaded " << run.Out.toStdString();
    EXPECT_TRUE(run.Err.startsWith(QStringLiteral("libpdfium.so: cannot open shared object file: No such file or "
                                                  "directory: libpdfium.so. Looked in ")))
        << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QDir::cleanPath(bin) + QStringLiteral(", ") + QDir::cleanPath(engineDir)))
        << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("kestrune::EngineLibraryName"))) << run.Err.toStdString();
    EXPECT_FALSE(run.Err.contains(QFileInfo(engine).absolutePath())) << run.Err.toStdString();

    // A text file where the installed engine belongs is reported as it is.
    const QString installed = engineDir + QStringLiteral("/libpdfium.so");
    {
        QFile planted(installed);
        ASSERT_TRUE(planted.open(QIODevice::WriteOnly));
        planted.write("not a library\n");
    }
    run = RunProbe(program);
    ASSERT_EQ(run.ExitCode, 1);
    EXPECT_TRUE(run.Err.startsWith(installed + QStringLiteral(": "))) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.endsWith(QStringLiteral(": libpdfium.so"))) << run.Err.toStdString();

    // The installed engine is loaded from there.
    ASSERT_TRUE(QFile::remove(installed) && QFile::copy(engine, installed));
    run = RunProbe(program);
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    EXPECT_EQ(Canonical(run.Out), Canonical(installed));
}

namespace {
void SetDoubleResult(const char* entry, long long value) {
    using SetResult = void (*)(const char*, long long);
    auto set = reinterpret_cast<SetResult>(dlsym(EngineLibrary, "KestruneDouble_SetResult"));
    ASSERT_NE(set, nullptr);
    set(entry, value);
}
}  // namespace

TEST(EngineBinding, FailuresAfterTheLoadCarryTheirOwnMessages) {
    // Engine refusals no real document produces, each with a stale "password"
    // code left behind by a failed load: only the loaders read that code.
    REQUIRE_FRESH_ENGINE();
    EngineLibraryName = kFullDouble;
    TFPdf pdf;
    EXPECT_THROW(pdf.CreateDocument(), EPdfError);
    ASSERT_TRUE(EngineLoaded());
    SetDoubleLastError(4);
    const QByteArray bytes("%PDF-1.7");

    // The unsupported-feature handler is refused: the open stops before the load.
    pdf.OnUnsupportedFeature = [](QObject*, TPdfFeature) {};
    SetDoubleResult("FPDF_LoadMemDocument", 0x1000);
    EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(bytes); }), QStringLiteral("Cannot set unsupported feature handler"));
    EXPECT_FALSE(pdf.GetActive());
    pdf.OnUnsupportedFeature = nullptr;

    // The form environment is refused: the document stays open without a page.
    pdf.SetPageNumber(1);
    EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(bytes); }), QStringLiteral("Cannot initialize form fill environment"));
    EXPECT_TRUE(pdf.GetActive());
    EXPECT_EQ(pdf.GetFormHandle(), nullptr);
    EXPECT_EQ(pdf.GetPage(), nullptr);
    pdf.SetActive(false);
    EXPECT_FALSE(pdf.GetActive());

    // The page is refused.
    SetDoubleResult("FPDFDOC_InitFormFillEnvironment", 0x2000);
    EXPECT_EQ(ErrorOf([&] { pdf.LoadDocument(bytes); }), QStringLiteral("Cannot open page 1"));
    EXPECT_TRUE(pdf.GetActive());
    EXPECT_NE(pdf.GetFormHandle(), nullptr);

    // The text page is refused: the page stays open and the next text operation
    // tries again.
    SetDoubleResult("FPDF_LoadPage", 0x3000);
    pdf.ReloadPage();
    ASSERT_NE(pdf.GetPage(), nullptr);
    EXPECT_EQ(ErrorOf([&] { pdf.Text(); }), QStringLiteral("Cannot open text page"));
    EXPECT_EQ(ErrorOf([&] { pdf.GetCharacterCount(); }), QStringLiteral("Cannot open text page"));
    EXPECT_NE(pdf.GetPage(), nullptr);
    SetDoubleResult("FPDFText_LoadPage", 0x4000);
    EXPECT_EQ(pdf.Text(), QString());
    EXPECT_NE(pdf.GetTextPage(), nullptr);
    pdf.SetActive(false);
    EXPECT_EQ(pdf.GetDocument(), nullptr);
    EXPECT_EQ(pdf.GetFormHandle(), nullptr);
}
