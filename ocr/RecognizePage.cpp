#include <kestrune/PageRecognizer.h>

#include "ocr/Recognition.h"
#include "ocr/RecognizerState.h"

namespace kestrune {

TRecognizedPage TPageRecognizer::RecognizePage(TFPdf& Pdf, int PageNumber, const TRecognitionOptions& Options) {
    recognition::TPagePlan plan = recognition::PlanPageImage(Pdf, PageNumber, Options);
    recognition::MakePageImage(Pdf, plan, Options, F->Rendered);
    TRecognizedPage page = Recognize(F->Rendered, plan.Dpi, Options);
    recognition::PlaceWords(page, plan);
    return page;
}

TRecognizedPage TPageRecognizer::RecognizePage(TFPdf& Pdf, int PageNumber, int Dpi) {
    TRecognitionOptions options;
    options.Dpi = Dpi;
    return RecognizePage(Pdf, PageNumber, options);
}

}  // namespace kestrune
