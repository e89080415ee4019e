// Conversions between the engine's structures and the component's records,
// shared by every area that reads or writes them.
#pragma once

#include <kestrune/FPdf.h>

namespace kestrune {

// An engine rectangle as a record; each value lands in the field of its name.
inline TPdfRectangle RectangleFromEngine(const FS_RECTF& Rect) {
    return TPdfRectangle{Rect.left, Rect.top, Rect.right, Rect.bottom};
}

inline FS_RECTF RectangleToEngine(const TPdfRectangle& Rect) {
    return FS_RECTF{float(Rect.Left), float(Rect.Top), float(Rect.Right), float(Rect.Bottom)};
}

// The corners of an engine quadrilateral, in the engine's order x1, y1 .. x4, y4.
inline TQuadrilateralPoint QuadFromEngine(const FS_QUADPOINTSF& Q) {
    return TQuadrilateralPoint{TPdfPoint{Q.x1, Q.y1}, TPdfPoint{Q.x2, Q.y2}, TPdfPoint{Q.x3, Q.y3},
                               TPdfPoint{Q.x4, Q.y4}};
}

inline FS_QUADPOINTSF QuadToEngine(const TQuadrilateralPoint& P) {
    return FS_QUADPOINTSF{float(P[0].X), float(P[0].Y), float(P[1].X), float(P[1].Y),
                          float(P[2].X), float(P[2].Y), float(P[3].X), float(P[3].Y)};
}

// A colour as the separate red, green, blue and alpha channels (0 to 255) that
// some engine calls take instead of one 0xAARRGGBB value.
struct TColorChannels {
    unsigned int R = 0, G = 0, B = 0, A = 0;
};

inline TColorChannels ColorChannels(TAlphaColor Color) {
    const quint32 c = ColorToEngine(Color);
    return {(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF, (c >> 24) & 0xFF};
}

inline TAlphaColor ColorFromChannels(unsigned int R, unsigned int G, unsigned int B, unsigned int A) {
    return (TAlphaColor(A & 0xFF) << 24) | (TAlphaColor(R & 0xFF) << 16) | (TAlphaColor(G & 0xFF) << 8) |
           TAlphaColor(B & 0xFF);
}

// The form-field highlight the form environment is created with (colour for
// every field type, alpha); a render for printing puts it back afterwards.
inline void SetStandardFieldHighlight(FPDF_FORMHANDLE Form) {
    engine::FPDF_SetFormFieldHighlightColor(Form, 0, 0xFFE4DD);
    engine::FPDF_SetFormFieldHighlightAlpha(Form, 100);
}

}  // namespace kestrune
