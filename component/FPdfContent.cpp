// Content creation on the current page: JPEG data from a stream, paths built step by step, text objects (in a standard font, or in a
// font program embedded in the document), replacing an object's text, and
// deleting an object.
//
// Every operation that changes the page ends with UpdatePage, which writes the
// page's content stream again and drops the text page, so that saving,
// rendering and the next text operation all see the page as it now is.
#include <QIODevice>
#include <cmath>
#include <limits>

#include "component/EngineStrings.h"
#include "component/EngineRecords.h"
#include <kestrune/FPdf.h>
#include "engine/ScopedHandle.h"

namespace kestrune {

using namespace engine;

namespace {

const char* const BlendModeNames[] = {"",           "Color",      "ColorBurn",  "ColorDodge", "Darken",
                                      "Difference", "Exclusion",  "HardLight",  "Hue",        "Lighten",
                                      "Luminosity", "Multiply",   "Normal",     "Overlay",    "Saturation",
                                      "Screen",     "SoftLight"};
static_assert(std::size(BlendModeNames) == size_t(TPdfBlendMode::bmSoftLight) + 1);

// Reads exactly Size bytes at Position; false when the device cannot seek
// there or deliver the whole block.
bool ReadAt(QIODevice* Stream, qint64 Position, uchar* Buffer, qint64 Size) {
    if (!Stream->seek(Position)) return false;
    qint64 done = 0;
    while (done < Size) {
        const qint64 n = Stream->read(reinterpret_cast<char*>(Buffer) + done, Size - done);
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// The engine's read callback of a JPEG load: the stream sits right behind the
// engine structure in the record. A block the stream cannot deliver fails the
// load (no exception crosses the engine).
int StreamReadBlock(void* Param, unsigned long Position, unsigned char* Buffer, unsigned long Size) {
    const auto* access = static_cast<const TPdfFileAccess*>(Param);
    return ReadAt(access->Stream, qint64(Position), Buffer, qint64(Size)) ? 1 : 0;
}

// Whether the device holds JPEG data that the engine can place: a start-of-image
// marker, then marker segments up to a frame header with a width and height
// above 0. The engine's own loader answers success for any bytes at all and
// then places an empty image, so this is checked before anything is made.
bool HoldsPlaceableJpeg(QIODevice* Stream) {
    const qint64 size = Stream->size();
    if (size < 4 || size > qint64(std::numeric_limits<quint32>::max())) return false;
    uchar b[8];
    if (!ReadAt(Stream, 0, b, 2) || b[0] != 0xFF || b[1] != 0xD8) return false;
    qint64 pos = 2;
    while (pos + 2 <= size) {
        if (!ReadAt(Stream, pos, b, 2) || b[0] != 0xFF) return false;
        const uchar marker = b[1];
        if (marker == 0xFF) {  // fill byte before a marker
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a segment
            pos += 2;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return false;  // no frame before the scan
        if (!ReadAt(Stream, pos + 2, b, 2)) return false;
        const int length = (b[0] << 8) | b[1];
        if (length < 2) return false;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            // Precision, height, width, component count.
            if (length < 8 || !ReadAt(Stream, pos + 4, b, 6)) return false;
            const int height = (b[1] << 8) | b[2];
            const int width = (b[3] << 8) | b[4];
            return height > 0 && width > 0 && b[5] > 0;
        }
        pos += 2 + length;
    }
    return false;
}

}  // namespace

// ---- JPEG images (pictures from QImages: FPdfPictures.cpp) ---------------------

bool TFPdf::AddJpegImage(QIODevice* JpegImage, double X, double Y, double Width, double Height) {
    const EngineLock lock;
    CheckPageActive();
    return InsertJpegObject(JpegImage, X, Y, Width, Height);
}

bool TFPdf::InsertJpegObject(QIODevice* Stream, double X, double Y, double Width, double Height) {
    CheckPageTree();
    if (!Stream || !Stream->isReadable() || Stream->isSequential() || !HoldsPlaceableJpeg(Stream)) return false;
    FpuMaskScope mask;
    ScopedPageObject image(FPDFPageObj_NewImageObj(FDocument));
    CheckResult(image.Get() != nullptr, QStringLiteral("Cannot create image object"));
    TPdfFileAccess access;
    access.Info.m_FileLen = static_cast<unsigned long>(Stream->size());
    access.Info.m_GetBlock = &StreamReadBlock;
    access.Info.m_Param = &access;
    access.Stream = Stream;
    FPDF_PAGE pages[] = {FPage};
    if (FPDFImageObj_LoadJpegFileInline(pages, 1, image.Get(), &access.Info) == 0) return false;
    // The loader reports success also when it could not read the image's
    // header; such an image has no size and is not placed.
    FPDF_IMAGEOBJ_METADATA meta{};
    if (!FPDFImageObj_GetImageMetadata(image.Get(), nullptr, &meta) || meta.width == 0 || meta.height == 0)
        return false;
    CheckResult(FPDFImageObj_SetMatrix(image.Get(), Width, 0, 0, Height, X, Y) != 0,
                QStringLiteral("Cannot set matrix"));
    FPDFPage_InsertObject(FPage, image.Get());
    image.Release();
    UpdatePage();
    return true;
}

// ---- Paths ------------------------------------------------------------------------

void TFPdf::RequirePath() const { CheckResult(FPath != nullptr, QStringLiteral("Path was not created")); }

void TFPdf::CreatePath(float X, float Y, TPdfFillMode FillMode, TAlphaColor FillColor, bool Stroke,
                       TAlphaColor StrokeColor, float StrokeWidth, TPdfLineCap LineCap, TPdfLineJoin LineJoin,
                       TPdfBlendMode BlendMode) {
    const EngineLock lock;
    CheckPageActive();
    CheckResult(FPath == nullptr, QStringLiteral("Path was already created"));
    FPath = FPDFPageObj_CreateNewPath(X, Y);
    CheckResult(FPath != nullptr, QStringLiteral("Cannot create path"));
    ApplyPathStyle(FillMode, FillColor, Stroke, StrokeColor, StrokeWidth, LineCap, LineJoin, BlendMode);
}

void TFPdf::CreatePath(float X, float Y, float Width, float Height, TPdfFillMode FillMode, TAlphaColor FillColor,
                       bool Stroke, TAlphaColor StrokeColor, float StrokeWidth, TPdfLineCap LineCap,
                       TPdfLineJoin LineJoin, TPdfBlendMode BlendMode) {
    const EngineLock lock;
    CheckPageActive();
    CheckResult(FPath == nullptr, QStringLiteral("Path was already created"));
    FPath = FPDFPageObj_CreateNewRect(X, Y, Width, Height);
    CheckResult(FPath != nullptr, QStringLiteral("Cannot create path"));
    ApplyPathStyle(FillMode, FillColor, Stroke, StrokeColor, StrokeWidth, LineCap, LineJoin, BlendMode);
}

// Styles the path just created. The path stays the unfinished path also when a
// step raises, so that the caller can go on with it or drop it with the page.
void TFPdf::ApplyPathStyle(TPdfFillMode FillMode, TAlphaColor FillColor, bool Stroke, TAlphaColor StrokeColor,
                           float StrokeWidth, TPdfLineCap LineCap, TPdfLineJoin LineJoin, TPdfBlendMode BlendMode) {
    // The enumerations' ordinals are the engine's codes, one above for cap and
    // join, whose first member means "leave the engine's default".
    FPDFPath_SetDrawMode(FPath, int(FillMode), Stroke ? 1 : 0);
    const TColorChannels fill = ColorChannels(FillColor);
    FPDFPageObj_SetFillColor(FPath, fill.R, fill.G, fill.B, fill.A);
    if (Stroke) {
        const TColorChannels stroke = ColorChannels(StrokeColor);
        FPDFPageObj_SetStrokeColor(FPath, stroke.R, stroke.G, stroke.B, stroke.A);
        if (!(StrokeWidth == 1.0f))
            CheckResult(FPDFPageObj_SetStrokeWidth(FPath, StrokeWidth) != 0,
                        QStringLiteral("Cannot set stroke width"));
    }
    if (LineCap != TPdfLineCap::lcDefault) FPDFPageObj_SetLineCap(FPath, int(LineCap) - 1);
    if (LineJoin != TPdfLineJoin::ljDefault) FPDFPageObj_SetLineJoin(FPath, int(LineJoin) - 1);
    if (BlendMode != TPdfBlendMode::bmDefault)
        FPDFPageObj_SetBlendMode(FPath, BlendModeNames[int(BlendMode)]);
}

void TFPdf::MoveTo(float X, float Y) {
    const EngineLock lock;
    RequirePath();
    CheckResult(FPDFPath_MoveTo(FPath, X, Y) != 0, QStringLiteral("Cannot move"));
}

void TFPdf::LineTo(float X, float Y) {
    const EngineLock lock;
    RequirePath();
    CheckResult(FPDFPath_LineTo(FPath, X, Y) != 0, QStringLiteral("Cannot add line"));
}

void TFPdf::BezierTo(float X1, float Y1, float X2, float Y2, float X3, float Y3) {
    const EngineLock lock;
    RequirePath();
    CheckResult(FPDFPath_BezierTo(FPath, X1, Y1, X2, Y2, X3, Y3) != 0, QStringLiteral("Cannot add Bezier curve"));
}

void TFPdf::ClosePath() {
    const EngineLock lock;
    RequirePath();
    CheckResult(FPDFPath_Close(FPath) != 0, QStringLiteral("Cannot close path"));
}

void TFPdf::AddPath() {
    const EngineLock lock;
    RequirePath();
    CheckPageTree();
    FPDFPage_InsertObject(FPage, FPath);
    FPath = nullptr;
    UpdatePage();
}

// ---- Text ---------------------------------------------------------------------------

void TFPdf::AddText(const QString& Text, const QString& Font, float FontSize, double X, double Y, TAlphaColor Color,
                    double Angle) {
    const EngineLock lock;
    FpuMaskScope mask;
    CheckPageActive();
    CheckPageTree();
    const QByteArray font = strings::ToLatin1(Font);
    ScopedPageObject object(FPDFPageObj_NewTextObj(FDocument, font.constData(), FontSize));
    CheckResult(object.Get() != nullptr, QStringLiteral("Cannot create text object"));
    CheckResult(FPDFText_SetText(object.Get(), strings::WideArg(Text)) != 0, QStringLiteral("Cannot set text"));
    const TColorChannels color = ColorChannels(Color);
    CheckResult(FPDFPageObj_SetFillColor(object.Get(), color.R, color.G, color.B, color.A) != 0,
                QStringLiteral("Cannot set color"));
    if (Angle == 0) {
        FPDFPageObj_Transform(object.Get(), 1, 0, 0, 1, X, Y);
    } else {
        const double t = Angle * M_PI / 180;
        FPDFPageObj_Transform(object.Get(), std::cos(t), std::sin(t), -std::sin(t), std::cos(t), X, Y);
    }
    FPDFPage_InsertObject(FPage, object.Get());
    object.Release();
    UpdatePage();
}

void TFPdf::DeleteObject(int Index, bool Regenerate) {
    const EngineLock lock;
    CheckPageTree();
    const auto object = static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(Index));
    CheckResult(FPDFPage_RemoveObject(FPage, object) != 0, QStringLiteral("Cannot delete object"));
    // The text page points into the page's objects: it goes before the object does.
    CloseTextPage();
    FPDFPageObj_Destroy(object);
    if (Regenerate) UpdatePage();
}

// ---- Embedded fonts ------------------------------------------------------------

TPdfFont TFPdf::LoadFont(const QByteArray& Data, TPdfFontType Type, bool Cid) {
    const EngineLock lock;
    FpuMaskScope mask;
    CheckActive();
    // The engine takes the size as 32 bits; a larger block is no font it could read.
    const bool fits = !Data.isEmpty() && quint64(Data.size()) <= std::numeric_limits<uint32_t>::max();
    const FPDF_FONT font = fits ? FPDFText_LoadFont(FDocument, reinterpret_cast<const uint8_t*>(Data.constData()),
                                                    uint32_t(Data.size()), int(Type), Cid ? 1 : 0)
                                : nullptr;
    CheckResult(font != nullptr, QStringLiteral("Cannot load font"));
    FFonts.append(font);
    return TPdfFont{font, DocumentGeneration()};
}

bool TFPdf::Owns(const TPdfFont& Font) const {
    return Font.Handle && Font.Generation != 0 && Font.Generation == FDocumentGeneration;
}

void TFPdf::AddText(const QString& Text, const TPdfFont& Font, float FontSize, const QTransform& Matrix,
                    TPdfTextRenderMode RenderMode, TAlphaColor Color, bool Regenerate) {
    const EngineLock lock;
    FpuMaskScope mask;
    CheckPageActive();
    CheckPageTree();
    CheckResult(Owns(Font), QStringLiteral("Font does not belong to the open document"));
    // A text squeezed to a line or a point, or placed nowhere, would give
    // readers nothing to select and some of them a division by zero.
    const bool finite = std::isfinite(Matrix.m11()) && std::isfinite(Matrix.m12()) && std::isfinite(Matrix.m21()) &&
                        std::isfinite(Matrix.m22()) && std::isfinite(Matrix.dx()) && std::isfinite(Matrix.dy());
    // Affine and invertible, read from the matrix's own values (QTransform's
    // classification is Qt Gui's, which text-only programs do not link).
    const bool affine = qFuzzyIsNull(Matrix.m13()) && qFuzzyIsNull(Matrix.m23()) && qFuzzyCompare(Matrix.m33(), 1.0);
    const bool invertible = !qFuzzyIsNull(Matrix.m11() * Matrix.m22() - Matrix.m12() * Matrix.m21());
    CheckResult(finite && affine && invertible, QStringLiteral("Cannot set matrix"));
    ScopedPageObject object(FPDFPageObj_CreateTextObj(FDocument, static_cast<FPDF_FONT>(Font.Handle), FontSize));
    CheckResult(object.Get() != nullptr, QStringLiteral("Cannot create text object"));
    CheckResult(FPDFText_SetText(object.Get(), strings::WideArg(Text)) != 0, QStringLiteral("Cannot set text"));
    const TColorChannels color = ColorChannels(Color);
    CheckResult(FPDFPageObj_SetFillColor(object.Get(), color.R, color.G, color.B, color.A) != 0,
                QStringLiteral("Cannot set color"));
    CheckResult(FPDFTextObj_SetTextRenderMode(object.Get(), FPDF_TEXT_RENDERMODE(RenderMode)) != 0,
                QStringLiteral("Cannot set text render mode"));
    // PDF's matrix [a b c d e f] maps (x, y) to (a x + c y + e, b x + d y + f), as QTransform's does.
    const FS_MATRIX matrix{float(Matrix.m11()), float(Matrix.m12()), float(Matrix.m21()),
                           float(Matrix.m22()), float(Matrix.dx()),  float(Matrix.dy())};
    CheckResult(FPDFPageObj_SetMatrix(object.Get(), &matrix) != 0, QStringLiteral("Cannot set matrix"));
    FPDFPage_InsertObject(FPage, object.Get());
    object.Release();
    if (Regenerate) UpdatePage();
}

void TFPdf::SetText(int ObjectIndex, const QString& Text) {
    const EngineLock lock;
    CheckPageActive();
    CheckPageTree();
    CheckResult(GetObjectType(ObjectIndex) == TObjectType::otText, QStringLiteral("Text object required"));
    CheckResult(FPDFText_SetText(static_cast<FPDF_PAGEOBJECT>(GetObjectHandle(ObjectIndex)), strings::WideArg(Text)) != 0,
                QStringLiteral("Cannot set text"));
    UpdatePage();
}

}  // namespace kestrune
