#include <kestrune/Engine.h>

#include <dlfcn.h>
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
    return QFileInfo(exe.symLinkTarget()).absolutePath();
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

bool EngineLoaded() { return EngineLibrary != nullptr; }

void OpenEngineLibrary(const QString& Name) {
    void* handle = nullptr;
    {
        ControlWordsKeeper keep;
        dlerror();
        // A bare name is found beside the program first; only when there is no
        // such file does the platform's library search look for it. A file
        // beside the program that fails to load is reported as it is.
        QString path = Name;
        if (!Name.contains(u'/')) {
            const QString beside = ProgramDirectory() + u'/' + Name;
            if (QFileInfo::exists(beside)) path = beside;
        }
        handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    }
    EngineLibrary = handle;
    if (!EngineLibrary) throw EPdfError(SystemErrorText() + QStringLiteral(": ") + Name);
}

void* BindEntryPoint(const QString& Name) {
    const QByteArray name = Name.toLatin1();
    dlerror();
    if (void* address = dlsym(EngineLibrary, name.constData())) return address;
    // Formed before anything else can overwrite the platform's error text.
    const QString message = SystemErrorText() + QStringLiteral(": ") + Name;
    if (void* own = SupplementedEntry(name.constData())) return own;
    UnloadEngine();
    throw EPdfError(message);
}

void UnloadEngine() {
    if (!EngineLoaded()) return;
    if (DestroyLibraryBound && engine::FPDF_DestroyLibrary) engine::FPDF_DestroyLibrary();
    DestroyLibraryBound = false;
    dlclose(EngineLibrary);
    EngineLibrary = nullptr;
}

void LoadEngine() {
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

void CheckResult(bool Condition, const QString& Message) {
    if (!Condition) throw EPdfError(Message);
}

void CheckEngineResult(bool Condition, const QString& Message) {
    if (Condition) return;
    const QString text = EngineErrorText();
    throw EPdfError(text.isEmpty() ? Message : text);
}

QString EngineErrorText() {
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
