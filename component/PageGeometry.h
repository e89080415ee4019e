// Page space (the engine's: points, origin at the bottom left of the media
// box, y upwards, the page's /Rotate not applied) to the space a Qt program
// draws a page in: points, origin at the top left corner of the crop box as
// the page is shown (its /Rotate applied), y downwards; and back.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <kestrune/Engine.h>

namespace kestrune {

class TPageFrame {
public:
    // The frame of Page: the engine's bounding box (the crop box within the
    // media box, as the engine shows the page) and the page's rotation.
    explicit TPageFrame(FPDF_PAGE Page) {
        FS_RECTF box{};
        if (engine::FPDF_GetPageBoundingBox(Page, &box)) {
            FLeft = qMin(box.left, box.right);
            FRight = qMax(box.left, box.right);
            FBottom = qMin(box.top, box.bottom);
            FTop = qMax(box.top, box.bottom);
        }
        FRotation = qBound(0, engine::FPDFPage_GetRotation(Page), 3);
    }

    // A point of page space as shown, in points from the top left corner.
    // Each quarter turn is clockwise: what was the left edge becomes the top.
    QPointF Map(double X, double Y) const {
        switch (FRotation) {
            case 1: return {Y - FBottom, X - FLeft};
            case 2: return {FRight - X, Y - FBottom};
            case 3: return {FTop - Y, FRight - X};
            default: return {X - FLeft, FTop - Y};
        }
    }

    // A rectangle of page space (any two opposite corners) as shown.
    QRectF Map(double Left, double Top, double Right, double Bottom) const {
        return QRectF(Map(Left, Top), Map(Right, Bottom)).normalized();
    }

    // The point of page space shown at (X, Y), in points from the top left
    // corner: Map's inverse.
    QPointF Unmap(double X, double Y) const {
        switch (FRotation) {
            case 1: return {FLeft + Y, FBottom + X};
            case 2: return {FRight - X, FBottom + Y};
            case 3: return {FRight - Y, FTop - X};
            default: return {FLeft + X, FTop - Y};
        }
    }

    // The page's size as shown, in points.
    QSizeF ShownSize() const {
        const QSizeF size(FRight - FLeft, FTop - FBottom);
        return FRotation % 2 ? size.transposed() : size;
    }

private:
    double FLeft = 0, FBottom = 0, FRight = 0, FTop = 0;
    int FRotation = 0;
};

}  // namespace kestrune
