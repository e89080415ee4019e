// TPageRecognizer's state, shared by its Tesseract code (PageRecognizer.cpp)
// and its page rendering (RecognizePage.cpp), which are apart so that the
// programs' recognizer module holds the one without the other.
#pragma once

#include <QImage>
#include <QString>

#include <tesseract/baseapi.h>

#include <kestrune/PageRecognizer.h>

namespace kestrune {

struct TPageRecognizer::TState {
    QString Languages;
    tesseract::TessBaseAPI Api;
    QImage Rendered;  // the engine's rendering, reused from page to page
    int Threads = 1;  // Tesseract's threads (SetThreadCount)
    bool OrientationChecked = false;  // the data of orientation detection was found
};

}  // namespace kestrune
