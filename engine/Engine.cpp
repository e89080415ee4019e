#include <kestrune/Engine.h>

#include <dlfcn.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <array>
#include <cstring>

#include "engine/SupplementedEntries.h"

namespace kestrune {

QString EngineLibraryName;
void* EngineLibrary = nullptr;

std::recursive_mutex& EngineMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

namespace engine {
#define KESTRUNE_ENTRY(ret, name, params) ret(*name) params = nullptr;
#include <kestrune/EntryPoints.def>

namespace {
// Name and slot address of every entry, in binding order.
struct Slot {
    const char* Name;
    void** Address;
};
const Slot kSlots[] = {
#define KESTRUNE_ENTRY(ret, name, params) {#name, reinterpret_cast<void**>(&name)},
#include <kestrune/EntryPoints.def>
};
}  // namespace

const int EntryPointCount = int(std::size(kSlots));
}  // namespace engine

namespace {

constexpr const char* kDefaultLibraryName = "libpdfium.so";

// Set once FPDF_DestroyLibrary has been bound from the library now loaded.
bool DestroyLibraryBound = false;

// The platform's text for the last failed load or look-up, with trailing
// blanks, control characters and full stops removed.
QString SystemErrorText() {
    const char* text = dlerror();
    QString s = text ? QString::fromLocal8Bit(text) : QStringLiteral("Unknown error");
    while (!s.isEmpty()) {
        const QChar c = s.back();
        if (c == u'.' || c.isSpace() || c.category() == QChar::Other_Control)
            s.chop(1);
        else
            break;
    }
    return s;
}

QString ProgramDirectory() {
    const QFileInfo exe(QStringLiteral("/proc/self/exe"));
    QString path = exe.symLinkTarget();
    // Without /proc (a sandbox), the path the program was started by, as the
    // kernel handed it over; relative ones against the starting folder.
    if (path.isEmpty()) {
        if (const char* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN)))
            path = QFileInfo(QString::fromLocal8Bit(started)).canonicalFilePath();
    }
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

// Where the engine lies relative to the installed programs, and relative to
// the library's own folder when the library is shared (both set by the build
// system; empty when this file is built on its own, as by a fuzzing harness).
// Relative on purpose: a build-tree path compiled in would travel into every
// installed file and let whoever can write to that tree supply the engine.
#ifndef KESTRUNE_ENGINE_FROM_PROGRAMS
#define KESTRUNE_ENGINE_FROM_PROGRAMS ""
#endif
#ifndef KESTRUNE_ENGINE_FROM_LIBRARY
#define KESTRUNE_ENGINE_FROM_LIBRARY ""
#endif

// The folder of the file this code was loaded from: the shared library's
// folder (when the library is static it is the program's, already searched).
QString LibraryDirectory() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ProgramDirectory), &info) || !info.dli_fname) return {};
    return QFileInfo(QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath()).absolutePath();
}

// The second sentence of the error for an engine found nowhere: the folders
// searched and what to do about it.
QString NotFoundAdvice(const QString& Name) {
    return QStringLiteral(". Looked in %1 and the system's library path; "
                          "put %2 (the PDFium engine) in one of these folders, "
                          "or set kestrune::EngineLibraryName to its full path")
        .arg(EngineSearchPath().join(QStringLiteral(", ")), Name);
}

// The x87 control word and MXCSR, saved and put back around a library load,
// whose start-up code may change them.
class ControlWordsKeeper {
public:
    ControlWordsKeeper() {
        asm volatile("fnstcw %0" : "=m"(FX87));
        asm volatile("stmxcsr %0" : "=m"(FMxcsr));
    }
    ~ControlWordsKeeper() {
        asm volatile("fldcw %0" : : "m"(FX87));
        asm volatile("ldmxcsr %0" : : "m"(FMxcsr));
    }

private:
    std::uint16_t FX87 = 0;
    std::uint32_t FMxcsr = 0;
};

}  // namespace

bool EngineLoaded() {
    const EngineLock lock;
    return EngineLibrary != nullptr;
}

QStringList EngineSearchPath() {
    // Only places relative to the running program (its own folder, then the
    // installed engine folder as seen from the program folder) and, for a
    // shared library, relative to the library itself. The project's build tree
    // keeps the installation's layout (bin/ beside lib/kestrune/), so its
    // programs find the build tree's copy through the same relative folder.
    // An unknown program folder gives no folder at all: never one made from an
    // empty path (the root, or relative to the working folder).
    const QString program = ProgramDirectory();
    QStringList dirs;
    if (!program.isEmpty()) dirs << program;
    if (!program.isEmpty() && *KESTRUNE_ENGINE_FROM_PROGRAMS)
        dirs << QDir::cleanPath(program + u'/' + QString::fromLocal8Bit(KESTRUNE_ENGINE_FROM_PROGRAMS));
    if (*KESTRUNE_ENGINE_FROM_LIBRARY) {
        const QString library = LibraryDirectory();
        if (!library.isEmpty())
            dirs << QDir::cleanPath(library + u'/' + QString::fromLocal8Bit(KESTRUNE_ENGINE_FROM_LIBRARY));
    }
    dirs.removeDuplicates();
    return dirs;
}

void OpenEngineLibrary(const QString& Name) {
    const EngineLock lock;
    void* handle = nullptr;
    bool searched = false;  // a bare name that no folder of the search path holds
    {
        ControlWordsKeeper keep;
        dlerror();
        // A bare name is found in the first folder of EngineSearchPath that
        // holds such a file; only when none does, the platform's library
        // search looks for it. A file found that fails to load is reported as
        // it is, not passed over for the next one.
        QString path = Name;
        searched = !Name.contains(u'/');
        if (searched) {
            for (const QString& dir : EngineSearchPath()) {
                const QString candidate = dir + u'/' + Name;
                if (QFileInfo::exists(candidate)) {
                    path = candidate;
                    searched = false;  // found: its own load error says enough
                    break;
                }
            }
        }
        handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    }
    EngineLibrary = handle;
    if (!EngineLibrary) {
        // The platform's text, ": ", the name; for a name searched in vain a
        // second sentence says where and what to do.
        const QString message = SystemErrorText() + QStringLiteral(": ") + Name;
        throw EPdfError(searched ? message + NotFoundAdvice(Name) : message, TPdfErrorKind::ekEngineMissing, Name);
    }
}

void* BindEntryPoint(const QString& Name) {
    const EngineLock lock;
    const QByteArray name = Name.toLatin1();
    dlerror();
    if (void* address = dlsym(EngineLibrary, name.constData())) return address;
    // Formed before anything else can overwrite the platform's error text.
    const QString message = SystemErrorText() + QStringLiteral(": ") + Name;
    if (void* own = SupplementedEntry(name.constData())) return own;
    UnloadEngine();
    throw EPdfError(message, TPdfErrorKind::ekEngineMissing, EngineLibraryName);
}

void UnloadEngine() {
    const EngineLock lock;
    if (!EngineLoaded()) return;
    if (DestroyLibraryBound && engine::FPDF_DestroyLibrary) engine::FPDF_DestroyLibrary();
    DestroyLibraryBound = false;
    dlclose(EngineLibrary);
    EngineLibrary = nullptr;
}

void LoadEngine() {
    const EngineLock lock;
    if (EngineLoaded()) return;
    if (EngineLibraryName.isEmpty()) EngineLibraryName = QString::fromLatin1(kDefaultLibraryName);
    OpenEngineLibrary(EngineLibraryName);
    DestroyLibraryBound = false;
    for (const auto& slot : engine::kSlots) {
        *slot.Address = BindEntryPoint(QString::fromLatin1(slot.Name));
        if (slot.Address == reinterpret_cast<void**>(&engine::FPDF_DestroyLibrary)) DestroyLibraryBound = true;
    }
    engine::FPDF_InitLibrary();
}

void CheckResult(bool Condition, const QString& Message, TPdfErrorKind Kind) {
    if (!Condition) throw EPdfError(Message, Kind);
}

void CheckEngineResult(bool Condition, const QString& Message, const QString& FileName) {
    if (Condition) return;
    const QString text = EngineErrorText();
    if (text.isEmpty()) throw EPdfError(Message, TPdfErrorKind::ekOther, FileName);
    throw EPdfError(text, EngineErrorKind(), FileName);
}

TPdfErrorKind EngineErrorKind() {
    const EngineLock lock;
    switch (engine::FPDF_GetLastError()) {
        case 2: return TPdfErrorKind::ekFileNotFound;
        case 3: return TPdfErrorKind::ekNotPdf;
        case 4: return TPdfErrorKind::ekPassword;
        case 5: return TPdfErrorKind::ekSecurity;
        case 6: return TPdfErrorKind::ekPage;
        default: return TPdfErrorKind::ekOther;
    }
}

QString EngineErrorText() {
    const EngineLock lock;
    switch (engine::FPDF_GetLastError()) {
        case 0: return {};
        case 2: return QStringLiteral("File not found or could not be opened");
        case 3: return QStringLiteral("File not in PDF format or corrupted");
        case 4: return QStringLiteral("Password required or incorrect password");
        case 5: return QStringLiteral("Unsupported security scheme");
        case 6: return QStringLiteral("Page not found or content error");
        default: return QStringLiteral("Unknown error");
    }
}

}  // namespace kestrune
