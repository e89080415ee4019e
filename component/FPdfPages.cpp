// Page management: adding, regenerating, deleting and importing pages, and
// copying viewer preferences from another document.
#include "component/FPdf.h"

namespace kestrune {

using namespace engine;

void TFPdf::UpdatePage() {
    CheckPageActive();
    FpuMaskScope mask;
    const bool generated = FPDFPage_GenerateContent(FPage) != 0;
    // A text page reflects the page objects as they were when it was opened:
    // drop it (and any search over it) so the next text operation sees the
    // regenerated content.
    CloseTextPage();
    CheckResult(generated, QStringLiteral("Cannot create page content"));
}

}  // namespace kestrune
