// Replacements for the seven table entries that this engine build lacks.
//
// Each one is bound into the table in place of the missing export and works
// through the engine's own public entry points (a few of which the table does
// not list and are looked up here directly).
#include "engine/SupplementedEntries.h"

#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <utility>

#include <kestrune/Engine.h>
#include "engine/ImageBitmap.h"
#include "engine/ScopedHandle.h"

namespace kestrune {
namespace {

using namespace engine;

// Engine exports outside the table, looked up on first use. Null when absent.
template <typename F>
F Extra(const char* name) {
    return EngineLibrary ? reinterpret_cast<F>(dlsym(EngineLibrary, name)) : nullptr;
}

constexpr int kPageObjectImage = 3;  // FPDF_PAGEOBJ_IMAGE

extern "C" FPDF_BOOL Own_FPDF_XFA() {
    return 0;  // this build has no XFA support
}

// The build exposes no character codes, and none of its public entries leads
// back from a text-page character to the code in the content stream. So the
// character's Unicode value stands in for the code: exact for characters the
// font gives no Unicode for (the engine then reports the code itself as the
// value, see FPDFText_HasUnicodeMapError) and for simple fonts in the usual
// encodings within ASCII; only an approximation for other codes (CID fonts,
// custom encodings). Characters the engine generated (line breaks, spaces
// between words) have no code and give 0.
extern "C" unsigned int Own_FPDFText_GetCharcode(FPDF_TEXTPAGE text_page, int index) {
    if (FPDFText_IsGenerated(text_page, index) == 1) return 0;
    return FPDFText_GetUnicode(text_page, index);
}

// The render mode of the text object that character index belongs to.
extern "C" FPDF_TEXT_RENDERMODE Own_FPDFText_GetTextRenderMode(FPDF_TEXTPAGE text_page, int index) {
    using GetTextObject = FPDF_PAGEOBJECT (*)(FPDF_TEXTPAGE, int);
    static const auto getTextObject = Extra<GetTextObject>("FPDFText_GetTextObject");
    if (!getTextObject) return -1;
    FPDF_PAGEOBJECT object = getTextObject(text_page, index);
    return object ? FPDFTextObj_GetTextRenderMode(object) : -1;
}

// The font's base name, zero-terminated; the buffer is filled only when it is
// large enough. Returns the size including the terminator, 0 on failure.
extern "C" unsigned long Own_FPDFFont_GetFontName(FPDF_FONT font, char* buffer, unsigned long length) {
    using GetBaseFontName = size_t (*)(FPDF_FONT, char*, size_t);
    static const auto getBaseFontName = Extra<GetBaseFontName>("FPDFFont_GetBaseFontName");
    if (!getBaseFontName || !font) return 0;
    return getBaseFontName(font, buffer, length);
}

// The image's width and height in pixels.
bool ImagePixelSize(FPDF_PAGEOBJECT image, unsigned int& width, unsigned int& height) {
    using GetPixelSize = FPDF_BOOL (*)(FPDF_PAGEOBJECT, unsigned int*, unsigned int*);
    static const auto getPixelSize = Extra<GetPixelSize>("FPDFImageObj_GetImagePixelSize");
    if (getPixelSize) return getPixelSize(image, &width, &height);
    FPDF_IMAGEOBJ_METADATA meta{};
    if (!FPDFImageObj_GetImageMetadata(image, nullptr, &meta)) return false;
    width = meta.width;
    height = meta.height;
    return true;
}

bool FitsInt(unsigned int v) { return v <= unsigned(std::numeric_limits<int>::max()); }

// The image's stream data as stored (filters not undone), with its pixel size.
// With data null: writes height, width and the data size. With a buffer: *size
// is the buffer's length, and the data is copied when it fits.
extern "C" FPDF_BOOL Own_FPDFPageObj_GetImage(FPDF_PAGEOBJECT image_object, int* height, int* width,
                                              unsigned int* size, void* data) {
    if (!image_object || !height || !width || !size) return 0;
    if (FPDFPageObj_GetType(image_object) != kPageObjectImage) return 0;
    unsigned int w = 0, h = 0;
    if (!ImagePixelSize(image_object, w, h) || !FitsInt(w) || !FitsInt(h)) return 0;
    const unsigned long length = FPDFImageObj_GetImageDataRaw(image_object, nullptr, 0);
    if (length > std::numeric_limits<unsigned int>::max()) return 0;
    *width = int(w);
    *height = int(h);
    if (!data) {
        *size = static_cast<unsigned int>(length);
        return 1;
    }
    if (*size < length) return 0;
    if (length == 0) return 1;
    return FPDFImageObj_GetImageDataRaw(image_object, data, *size) == length;
}

// The alpha that the image's soft mask (or stencil) gives each of its pixels,
// as a w x h engine bitmap in BGRA; null when the engine cannot draw it. The
// engine decodes an image without its mask, so the image is drawn once at one
// unit per pixel, which applies the mask, and only the alpha is taken from
// that. The drawing needs a document for its caches: a fresh one for each
// call, so that no cache outlives the document the image belongs to.
FPDF_BITMAP RenderMaskedImage(FPDF_PAGEOBJECT image, int w, int h) {
    FS_MATRIX placed{};
    if (!FPDFPageObj_GetMatrix(image, &placed)) return nullptr;
    FpuMaskScope mask;  // rendering, like every render of the engine
    FPDF_DOCUMENT scratch = FPDF_CreateNewDocument();
    if (!scratch) return nullptr;
    const FS_MATRIX onePerPixel{float(w), 0, 0, float(h), 0, 0};
    FPDF_BITMAP drawn = nullptr;
    if (FPDFPageObj_SetMatrix(image, &onePerPixel)) drawn = FPDFImageObj_GetRenderedBitmap(scratch, nullptr, image);
    FPDFPageObj_SetMatrix(image, &placed);
    FPDF_CloseDocument(scratch);
    if (drawn && (FPDFBitmap_GetFormat(drawn) != kEngineBgra || FPDFBitmap_GetWidth(drawn) != w ||
                  FPDFBitmap_GetHeight(drawn) != h ||
                  static_cast<long long>(FPDFBitmap_GetStride(drawn)) < static_cast<long long>(w) * 4 ||
                  !FPDFBitmap_GetBuffer(drawn))) {
        FPDFBitmap_Destroy(drawn);
        drawn = nullptr;
    }
    return drawn;
}

// Whether any pixel of a BGRA bitmap is less than opaque.
bool HasAlpha(FPDF_BITMAP bitmap) {
    const int w = FPDFBitmap_GetWidth(bitmap), h = FPDFBitmap_GetHeight(bitmap);
    const size_t stride = size_t(FPDFBitmap_GetStride(bitmap));
    const auto* bits = static_cast<const unsigned char*>(FPDFBitmap_GetBuffer(bitmap));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (bits[y * stride + 4 * size_t(x) + 3] != 0xFF) return true;
    return false;
}

// The engine's decoding of one image: its pixels and, for an image without an
// alpha channel of its own, the alpha its mask gives (null when it has none).
// Plain handles, released by hand: the decoding made for a size query is kept
// for the copy that follows it (the two calls of the protocol), so the image is
// decoded, and its mask drawn, once per pair instead of twice.
struct DecodedImage {
    FPDF_PAGEOBJECT Object = nullptr;
    FPDF_BITMAP Pixels = nullptr;
    FPDF_BITMAP Alpha = nullptr;
};

// The decoding of the image whose size was asked for last, until it is copied
// or the next query replaces it.
DecodedImage LastQueried;

void Release(DecodedImage& Image) {
    if (Image.Pixels) FPDFBitmap_Destroy(Image.Pixels);
    if (Image.Alpha) FPDFBitmap_Destroy(Image.Alpha);
    Image = DecodedImage{};
}

// Decodes the image; false (and nothing held) when the engine cannot.
bool Decode(FPDF_PAGEOBJECT Object, DecodedImage& Image) {
    Image.Object = Object;
    Image.Pixels = FPDFImageObj_GetBitmap(Object);
    if (!Image.Pixels || FPDFBitmap_GetWidth(Image.Pixels) < 1 || FPDFBitmap_GetHeight(Image.Pixels) < 1) {
        Release(Image);
        return false;
    }
    if (FPDFBitmap_GetFormat(Image.Pixels) != kEngineBgra) {
        // An image without an alpha channel of its own may still have a mask.
        Image.Alpha = RenderMaskedImage(Object, FPDFBitmap_GetWidth(Image.Pixels), FPDFBitmap_GetHeight(Image.Pixels));
        if (Image.Alpha && !HasAlpha(Image.Alpha)) {
            FPDFBitmap_Destroy(Image.Alpha);
            Image.Alpha = nullptr;
        }
    }
    return true;
}

// The image decoded by the engine, delivered as rows of 24-bit blue-green-red
// (from grey, one-bit, indexed or colour sources) or 32-bit blue-green-red-alpha
// pixels (images with an alpha channel or a soft mask), each row *stride bytes
// long. With pixels null: writes the four values. With a buffer of
// height x stride bytes: copies the rows.
extern "C" FPDF_BOOL Own_FPDFPageObj_GetDIB(FPDF_PAGEOBJECT image_object, int* height, int* width,
                                            int* bits_per_pixel, int* stride, void* pixels) {
    if (!image_object || !height || !width || !bits_per_pixel || !stride) return 0;
    if (FPDFPageObj_GetType(image_object) != kPageObjectImage) return 0;
    // A copy takes the decoding of the query before it; anything else decodes afresh.
    DecodedImage image;
    if (pixels && LastQueried.Object == image_object) std::swap(image, LastQueried);
    Release(LastQueried);
    if (!image.Object && !Decode(image_object, image)) return 0;
    struct Releaser {
        DecodedImage& Image;
        ~Releaser() { Release(Image); }
    } releaser{image};

    const int w = FPDFBitmap_GetWidth(image.Pixels);
    const int h = FPDFBitmap_GetHeight(image.Pixels);
    const int format = FPDFBitmap_GetFormat(image.Pixels);
    const int sourceStride = FPDFBitmap_GetStride(image.Pixels);
    int sourceBytes = 0;
    switch (format) {
        case kEngineGray: sourceBytes = 1; break;
        case kEngineBgr: sourceBytes = 3; break;
        case kEngineBgrx:
        case kEngineBgra: sourceBytes = 4; break;
        default: return 0;
    }
    if (static_cast<long long>(w) * sourceBytes > sourceStride) return 0;
    const auto* source = static_cast<const unsigned char*>(FPDFBitmap_GetBuffer(image.Pixels));
    if (!source) return 0;

    const int targetBytes = format == kEngineBgra || format == kEngineBgrx || image.Alpha ? 4 : 3;
    const long long rowBytes = static_cast<long long>(w) * targetBytes;
    if (rowBytes > std::numeric_limits<int>::max()) return 0;
    *width = w;
    *height = h;
    *bits_per_pixel = targetBytes * 8;
    *stride = int(rowBytes);
    if (!pixels) {
        std::swap(LastQueried, image);  // kept for the copy
        return 1;
    }

    const auto* alpha = image.Alpha ? static_cast<const unsigned char*>(FPDFBitmap_GetBuffer(image.Alpha)) : nullptr;
    const size_t alphaStride = image.Alpha ? size_t(FPDFBitmap_GetStride(image.Alpha)) : 0;
    auto* target = static_cast<unsigned char*>(pixels);
    for (int y = 0; y < h; ++y) {
        const unsigned char* s = source + static_cast<size_t>(y) * size_t(sourceStride);
        unsigned char* t = target + static_cast<size_t>(y) * size_t(rowBytes);
        const unsigned char* a = alpha ? alpha + static_cast<size_t>(y) * alphaStride + 3 : nullptr;
        for (int x = 0; x < w; ++x, t += targetBytes, s += sourceBytes) {
            if (sourceBytes == 1) {
                t[0] = t[1] = t[2] = s[0];
            } else {
                t[0] = s[0];
                t[1] = s[1];
                t[2] = s[2];
            }
            if (targetBytes == 4) t[3] = a ? a[4 * size_t(x)] : format == kEngineBgra ? s[3] : 0xFF;
        }
    }
    return 1;
}

// The device renderer, FPDF_RenderPage: its device context is a QPainter*, and
// it is Qt Gui's work, which only programs that render link: the component's
// rendering installs it (SetDeviceRenderer). Without it the entry fails.
std::atomic<TDeviceRenderer> DeviceRenderer{nullptr};

extern "C" FPDF_BOOL Own_FPDF_RenderPage(HDC dc, FPDF_PAGE page, int start_x, int start_y, int size_x,
                                         int size_y, int rotate, int flags) {
    const TDeviceRenderer renderer = DeviceRenderer;
    return renderer ? renderer(dc, page, start_x, start_y, size_x, size_y, rotate, flags) : 0;
}

struct Supplement {
    const char* Name;
    void* Address;
};

const Supplement kSupplements[] = {
    {"FPDF_XFA", reinterpret_cast<void*>(&Own_FPDF_XFA)},
    {"FPDFText_GetCharcode", reinterpret_cast<void*>(&Own_FPDFText_GetCharcode)},
    {"FPDFText_GetTextRenderMode", reinterpret_cast<void*>(&Own_FPDFText_GetTextRenderMode)},
    {"FPDFFont_GetFontName", reinterpret_cast<void*>(&Own_FPDFFont_GetFontName)},
    {"FPDFPageObj_GetImage", reinterpret_cast<void*>(&Own_FPDFPageObj_GetImage)},
    {"FPDFPageObj_GetDIB", reinterpret_cast<void*>(&Own_FPDFPageObj_GetDIB)},
    {"FPDF_RenderPage", reinterpret_cast<void*>(&Own_FPDF_RenderPage)},
};

}  // namespace

void SetDeviceRenderer(TDeviceRenderer Renderer) { DeviceRenderer = Renderer; }

void* SupplementedEntry(const char* Name) {
    for (const auto& s : kSupplements)
        if (std::strcmp(s.Name, Name) == 0) return s.Address;
    return nullptr;
}

}  // namespace kestrune
