// Which component the engine's unsupported-feature reports go to.
#pragma once

namespace kestrune {

class TFPdf;

// While it lasts, the engine's unsupported-feature reports go to Pdf. The
// engine reports from inside the calls that parse a document or announce a page
// to the form environment; those run under the engine's lock, so the component
// making them is the one whose document the report is about, and its handler
// runs on that component's thread. Outside such calls reports go nowhere.
class TReportScope {
public:
    explicit TReportScope(const TFPdf* Pdf);
    ~TReportScope();
    TReportScope(const TReportScope&) = delete;
    TReportScope& operator=(const TReportScope&) = delete;

private:
    TFPdf* FPrevious;
};

}  // namespace kestrune
