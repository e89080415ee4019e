#include "convert/RenderedRecognition.h"

#include <QImage>
#include <algorithm>
#include <cmath>

#include <kestrune/FPdf.h>
#include "convert/LoadedRecognizer.h"
#include "convert/PageReader.h"
#include "convert/PageRecognition.h"
#include "ocr/Recognition.h"

namespace kestrune {

namespace {

class TRenderedRecognition final : public TPageRecognition {
public:
    TRecognizedPage Recognize(TFPdf& Pdf, int Page, bool KeepText, const TOcrSettings& Settings, TPageFacts& Facts,
                              const std::function<void(int Dpi)>& Started) override {
        const TRecognitionOptions options = Settings.Options();
        // Told before the image is looked at (which may decode it), and again once its resolution is known.
        if (Started) Started(recognition::PageDpi(Pdf.GetPageWidth(), Pdf.GetPageHeight(), options.Dpi));
        recognition::TPagePlan plan = recognition::PlanPageImage(Pdf, Page, options, KeepText);
        if (Started) Started(int(std::lround(plan.Dpi)));
        // Tesseract is loaded at the first page to recognise, and again when the languages change.
        if (!FRecognizer || FLanguages != Settings.Languages) {
            FRecognizer.reset();
            FRecognizer = std::make_unique<TLoadedRecognizer>(Settings.Languages);
            FLanguages = Settings.Languages;
        }
        recognition::MakePageImage(Pdf, plan, options, FImage);
        TRecognizedPage page = FRecognizer->Recognize(FImage, plan.Dpi, options);
        recognition::PlaceWords(page, plan);
        Facts.RecognizedDpi = std::max(1, int(std::lround(plan.Dpi)));
        if (plan.Dpi < plan.AskedDpi) Facts.LoweredFrom = int(std::lround(plan.AskedDpi));
        Facts.Rotation = page.Rotation;
        Facts.Confidence = page.Confidence;
        return page;
    }

    bool StampedScan(TFPdf& Pdf) override { return recognition::StampedScan(Pdf); }

private:
    std::unique_ptr<TLoadedRecognizer> FRecognizer;
    QString FLanguages;
    QImage FImage;  // the page's image, reused from page to page
};

}  // namespace

void InstallPageRecognition() {
    SetPageRecognitionMaker([]() -> std::unique_ptr<TPageRecognition> { return std::make_unique<TRenderedRecognition>(); });
}

}  // namespace kestrune
