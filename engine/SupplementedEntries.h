// The project's own versions of entries that the engine build does not export.
#pragma once

#include <kestrune/EngineTypes.h>

namespace kestrune {

// The project's replacement for the engine export Name, or null when there is
// none. Each replacement keeps the calling protocol that the component relies on
// and is built on entries that the library does export.
void* SupplementedEntry(const char* Name);

// The replacement for FPDF_RenderPage, which draws onto a QPainter (the device
// context): installed by the component's rendering, so that a program that
// never renders links no Qt Gui.
using TDeviceRenderer = FPDF_BOOL (*)(HDC dc, FPDF_PAGE page, int start_x, int start_y, int size_x, int size_y,
                                      int rotate, int flags);
void SetDeviceRenderer(TDeviceRenderer Renderer);

}  // namespace kestrune
