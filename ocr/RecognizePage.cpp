#include <kestrune/PageRecognizer.h>

#include "ocr/Recognition.h"
#include "ocr/RecognizerState.h"

namespace kestrune {

TRecognizedPage TPageRecognizer::RecognizePage(TFPdf& Pdf, int PageNumber, int Dpi) {
    const int dpi = recognition::RenderPageImage(Pdf, PageNumber, Dpi, F->Rendered);
    return Recognize(F->Rendered, dpi);
}

}  // namespace kestrune
