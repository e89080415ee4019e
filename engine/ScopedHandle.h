// Engine handles released on every way out of the scope that holds them.
#pragma once

#include <kestrune/Engine.h>

namespace kestrune {

// Holds an engine handle and hands it to Release (an entry-point slot, called
// through its current value) when the scope ends, unless it was given away.
template <typename Handle, auto& ReleaseEntry>
class ScopedHandle {
public:
    explicit ScopedHandle(Handle Value = nullptr) : FHandle(Value) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    Handle Get() const { return FHandle; }
    explicit operator bool() const { return FHandle != nullptr; }

    // Releases the held handle now (if any) and holds Value instead.
    void Reset(Handle Value = nullptr) {
        if (FHandle) ReleaseEntry(FHandle);
        FHandle = Value;
    }
    // Gives the handle away: its new owner (the page, say) releases it.
    Handle Release() {
        Handle h = FHandle;
        FHandle = nullptr;
        return h;
    }

private:
    Handle FHandle;
};

using ScopedBitmap = ScopedHandle<FPDF_BITMAP, engine::FPDFBitmap_Destroy>;
using ScopedPageObject = ScopedHandle<FPDF_PAGEOBJECT, engine::FPDFPageObj_Destroy>;
using ScopedAnnotation = ScopedHandle<FPDF_ANNOTATION, engine::FPDFPage_CloseAnnot>;
using ScopedWebLinks = ScopedHandle<FPDF_PAGELINK, engine::FPDFLink_CloseWebLinks>;
using ScopedPage = ScopedHandle<FPDF_PAGE, engine::FPDF_ClosePage>;
using ScopedTextPage = ScopedHandle<FPDF_TEXTPAGE, engine::FPDFText_ClosePage>;
using ScopedFind = ScopedHandle<FPDF_SCHHANDLE, engine::FPDFText_FindClose>;

}  // namespace kestrune
