// Loading the engine library at run time and binding its entry points by name.
//
// Everything here is process-wide: one library, one table of entry points, one
// error state for every component. The library is loaded on the first document
// open or creation and stays loaded until the process ends. The functions below
// take the engine's lock (EngineLock.h) themselves; calls through the table of
// entry points do not.
#pragma once

#include <QString>
#include <QStringList>

#include <kestrune/EngineLock.h>
#include <kestrune/EngineTypes.h>
#include <kestrune/FpuMask.h>
#include <kestrune/PdfError.h>

namespace kestrune {

// File name of the engine library. Empty until the first load, which sets it to
// "libpdfium.so" when no other name was assigned. A bare name is looked for in
// the folders of EngineSearchPath(), then by the platform's library search
// (the program's run path, LD_LIBRARY_PATH, the system's folders); when it is
// found nowhere, the error's second sentence names those folders. A path is
// used as it stands. Changing it after a successful load has no effect.
extern QString EngineLibraryName;

// The folders searched, in order, for a bare library name, all relative to the
// running program or to the library itself: the program's folder, the
// installed engine folder as seen from it (../lib/kestrune), and, when the
// library is shared, the engine folder beside the library. No folder of the
// tree the library was built in is ever searched.
QStringList EngineSearchPath();

// Handle of the loaded library (a dlopen handle); null while none is loaded.
extern void* EngineLibrary;

// True exactly when the library is loaded and every entry point is bound.
bool EngineLoaded();

// Loads the library, binds all 423 entry points and initialises the engine, on
// first use; later calls return at once. Raises EPdfError on failure and leaves
// nothing loaded.
void LoadEngine();

// Loads the library file Name into EngineLibrary, keeping the floating-point
// control registers as they were. Raises EPdfError (system text + ": " + Name).
void OpenEngineLibrary(const QString& Name);

// Returns the address of the export Name. An export the library lacks is
// replaced by the project's own version when there is one; otherwise the library
// is released and EPdfError (system text + ": " + Name) is raised.
void* BindEntryPoint(const QString& Name);

// Releases the library after a failed binding (calling FPDF_DestroyLibrary first
// when it was bound from this library). Does nothing when none is loaded.
void UnloadEngine();

namespace engine {
// The table of entry points: one function pointer per engine export, named and
// typed like the export. Valid only while EngineLoaded() is true.
#define KESTRUNE_ENTRY(ret, name, params) extern ret(*name) params;
#include <kestrune/EntryPoints.def>

// The number of entries in the table.
extern const int EntryPointCount;
}  // namespace engine

}  // namespace kestrune
