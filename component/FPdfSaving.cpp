// Saving: the document written to a caller's stream through the engine's
// write callback, or to a file that is replaced only once the whole document
// has been written.
#include <QIODevice>
#include <QSaveFile>
#include <cstddef>
#include <type_traits>

#include <kestrune/FPdf.h>
#include "component/FileError.h"

namespace kestrune {

using namespace engine;

// The callback finds its record from the engine structure's address.
static_assert(std::is_standard_layout_v<TPdfFileWrite> && offsetof(TPdfFileWrite, Info) == 0,
              "the engine structure must open the write record");

FPDF_DWORD SaveOptionToEngine(TSaveOption Option) { return static_cast<FPDF_DWORD>(Option); }

namespace {

// Writes all Size bytes, repeating partial writes; false as soon as the
// device takes nothing (a full disk, a closed or read-only device).
bool WriteAll(QIODevice* Device, const char* Data, qint64 Size) {
    while (Size > 0) {
        const qint64 written = Device->write(Data, Size);
        if (written <= 0) return false;
        Data += written;
        Size -= written;
    }
    return true;
}

// The engine's write callback. A failed write returns 0, which makes the
// engine abandon the save; since the engine may ignore that for data it has
// buffered, the record also remembers the failure and takes no further block
// (a later block after a lost one would only leave a corrupt document).
int StreamWriteBlock(FPDF_FILEWRITE* Info, const void* Data, unsigned long Size) {
    auto* record = reinterpret_cast<TPdfFileWrite*>(Info);
    if (record->WriteFailed) return 0;
    if (!WriteAll(record->Stream, static_cast<const char*>(Data), qint64(Size))) {
        record->WriteFailed = true;
        return 0;
    }
    return 1;
}

}  // namespace

bool TFPdf::SaveAs(QIODevice* Stream, TSaveOption Option, TPdfVersion PdfVersion) {
    const EngineLock lock;
    CheckActive();
    CheckResult(Stream != nullptr, QStringLiteral("Cannot save PDF document to a missing stream"));
    // A stream that cannot take bytes fails the save without running the engine.
    if (!Stream->isWritable()) return false;
    TPdfFileWrite record;
    record.Info.version = 1;
    record.Info.WriteBlock = &StreamWriteBlock;
    record.Stream = Stream;
    const FPDF_DWORD flags = SaveOptionToEngine(Option);
    FpuMaskScope mask;
    const bool saved = PdfVersion == TPdfVersion::pvUnknown
                           ? FPDF_SaveAsCopy(FDocument, &record.Info, flags) != 0
                           : FPDF_SaveWithVersion(FDocument, &record.Info, flags, VersionToEngine(PdfVersion)) != 0;
    return saved && !record.WriteFailed;
}

bool TFPdf::SaveAs(const QString& FileName, TSaveOption Option, TPdfVersion PdfVersion) {
    const EngineLock lock;
    CheckActive();
    // The document goes to a temporary file beside the target, which replaces
    // the target only once everything is written: a failed save leaves the
    // old file as it was, and the document's own file (which the engine may
    // still read from while it writes) can be the target.
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly)) throw EFileError::CannotCreate(FileName, file.errorString());
    // On an exception or an early return the temporary file is discarded.
    if (!SaveAs(&file, Option, PdfVersion)) return false;
    // A write that failed while still buffered shows only here; commit() does
    // not reliably refuse after it.
    if (!file.flush() || file.error() != QFileDevice::NoError) return false;
    return file.commit();
}

}  // namespace kestrune
