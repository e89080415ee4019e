// kestrune-recognizer.so: TPageRecognizer for the programs, loaded when a page
// is to be recognised (RecognizerModule.h). Only the entry is exported.
#include "ocr/RecognizerModule.h"

#include <exception>

#include <kestrune/PdfError.h>

namespace kestrune {
namespace {

QString MessageOf(const std::exception& Error) {
    if (const auto* pdf = dynamic_cast<const EPdfError*>(&Error)) return pdf->Message();
    return QString::fromLocal8Bit(Error.what());
}

class TRecognizer final : public TModuleRecognizer {
public:
    explicit TRecognizer(const QString& Languages) : FReader(Languages) {}

    bool Recognize(const QImage& GreyPage, double Dpi, const TRecognitionOptions& Options, TRecognizedPage& Page,
                   QString& Error) noexcept override {
        try {
            Page = FReader.Recognize(GreyPage, Dpi, Options);
            return true;
        } catch (const std::exception& e) {
            Error = MessageOf(e);
        } catch (...) {
            Error = QStringLiteral("Text recognition failed");
        }
        return false;
    }

private:
    TPageRecognizer FReader;
};

}  // namespace
}  // namespace kestrune

extern "C" __attribute__((visibility("default"))) kestrune::TModuleRecognizer* kestrune_create_recognizer_2(
    const QString& Languages, QString& Error) noexcept {
    try {
        return new kestrune::TRecognizer(Languages);
    } catch (const std::exception& e) {
        Error = kestrune::MessageOf(e);
    } catch (...) {
        Error = QStringLiteral("Text recognition could not start");
    }
    return nullptr;
}
