// The project's own versions of entries that the engine build does not export.
#pragma once

namespace kestrune {

// The project's replacement for the engine export Name, or null when there is
// none. Each replacement keeps the calling protocol that the component relies on
// and is built on entries that the library does export.
void* SupplementedEntry(const char* Name);

}  // namespace kestrune
