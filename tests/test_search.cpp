// Text search on the current page, forwards and backwards, with the case,
// whole-word and consecutive options, and the search's life with the page.
#include <gtest/gtest.h>

#include <QString>
#include <functional>
#include <vector>

#include <kestrune/FPdf.h>
#include "support/EngineSpy.h"
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

// Page 1 reads "abc ABC abcd\r\nxabc abc": "abc" in any case starts at 0, 4,
// 8, 15 and 19; as a whole word at 0, 4 and 19.
// Page 2 reads "abc\r\nzzzz": "zz" at 5 and 7, overlapping also at 6.
QByteArray SearchPdf() { return SimpleTextPdf({{"abc ABC abcd", "xabc abc"}, {"abc", "zzzz"}}); }

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        Pdf.SetName("FPdf1");
        Pdf.SetPageNumber(1);
        Pdf.LoadDocument(SearchPdf(), true);
        ASSERT_EQ(Pdf.Text(), "abc ABC abcd\r\nxabc abc");
    }
    // The first match and every further one in the same direction, until -1.
    std::vector<int> AllMatches(const QString& Text, TSearchOptions Options, int StartIndex, bool DirectionUp) {
        std::vector<int> found;
        for (int index = Pdf.FindFirst(Text, Options, StartIndex, DirectionUp); index != -1;
             index = DirectionUp ? Pdf.FindNext() : Pdf.FindPrevious()) {
            found.push_back(index);
            if (found.size() > 20) break;
        }
        return found;
    }
    TFPdf Pdf;
};

TEST(SearchOptions, FlagWord) {
    using O = TSearchOption;
    const std::pair<TSearchOptions, unsigned long> cases[] = {
        {{}, 0},
        {{O::seCaseSensitive}, 1},
        {{O::seWholeWord}, 2},
        {{O::seConsecutive}, 4},
        {{O::seCaseSensitive, O::seWholeWord}, 3},
        {{O::seWholeWord, O::seConsecutive}, 6},
        {{O::seCaseSensitive, O::seWholeWord, O::seConsecutive}, 7},
    };
    for (const auto& [options, flags] : cases) EXPECT_EQ(SearchOptionsToFlags(options), flags) << options.Bits();
}

TEST_F(SearchTest, MatchesInBothDirectionsWithTheOptions) {
    using O = TSearchOption;
    struct Case {
        const char* Text;
        TSearchOptions Options;
        int StartIndex;
        bool DirectionUp;
        std::vector<int> Matches;
    };
    const Case cases[] = {
        {"abc", {}, 0, true, {0, 4, 8, 15, 19}},
        {"abc", {O::seCaseSensitive}, 0, true, {0, 8, 15, 19}},
        {"ABC", {O::seCaseSensitive}, 0, true, {4}},
        {"abc", {O::seWholeWord}, 0, true, {0, 4, 19}},
        {"abc", {O::seCaseSensitive, O::seWholeWord}, 0, true, {0, 19}},
        {"abc", {}, 13, true, {15, 19}},
        {"abc", {}, 13, false, {8, 4, 0}},
        // The engine reads a negative start as the page's end.
        {"abc", {}, -1, false, {19, 15, 8, 4, 0}},
        {"abc", {O::seWholeWord}, -1, false, {19, 4, 0}},
        {"abc", {}, 0, false, {}},
        {"qqq", {}, 0, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.Text << " options " << c.Options.Bits() << " from " << c.StartIndex
                                          << (c.DirectionUp ? " up" : " down"));
        EXPECT_EQ(AllMatches(c.Text, c.Options, c.StartIndex, c.DirectionUp), c.Matches);
    }
}

TEST_F(SearchTest, ConsecutiveFindsOverlappingMatches) {
    Pdf.SetPageNumber(2);
    EXPECT_EQ(AllMatches("zz", {}, 0, true), (std::vector<int>{5, 7}));
    EXPECT_EQ(AllMatches("zz", {TSearchOption::seConsecutive}, 0, true), (std::vector<int>{5, 6, 7}));
}

TEST_F(SearchTest, StepsTurnBackAndNoMatchKeepsTheSearch) {
    EXPECT_EQ(Pdf.FindFirst("abc", {}, 0, true), 0);
    EXPECT_EQ(Pdf.FindNext(), 4);
    EXPECT_EQ(Pdf.FindNext(), 8);
    EXPECT_EQ(Pdf.FindPrevious(), 4);

    EXPECT_EQ(Pdf.FindFirst("qqq", {}, 0, true), -1);
    EXPECT_NE(Pdf.GetFind(), nullptr);
    EXPECT_EQ(Pdf.FindNext(), -1);
    EXPECT_EQ(Pdf.FindPrevious(), -1);
    EXPECT_NE(Pdf.GetFind(), nullptr);
}

TEST_F(SearchTest, EmptyTextFindsNothingWithoutSteppingTheEngine) {
    Pdf.GetCharacterCount();  // engine loaded, text page open
    // Stepping a search for the empty text never returns in this engine; the
    // stand-ins answer instead so that a regression fails rather than hangs.
    EngineSpy<engine::FPDFText_FindNext> next;
    EngineSpy<engine::FPDFText_FindPrev> prev;
    next.StandIn = [](FPDF_SCHHANDLE) -> FPDF_BOOL { return 0; };
    prev.StandIn = [](FPDF_SCHHANDLE) -> FPDF_BOOL { return 0; };
    const TSearchOptions all{TSearchOption::seCaseSensitive, TSearchOption::seWholeWord, TSearchOption::seConsecutive};
    for (const TSearchOptions& options : {TSearchOptions{}, all}) {
        EXPECT_EQ(Pdf.FindFirst("", options, 0, true), -1);
        EXPECT_NE(Pdf.GetFind(), nullptr);
        EXPECT_EQ(Pdf.FindNext(), -1);
        EXPECT_EQ(Pdf.FindPrevious(), -1);
        EXPECT_EQ(Pdf.FindFirst(QString(), options, 3, false), -1);
        EXPECT_EQ(Pdf.FindPrevious(), -1);
    }
    EXPECT_EQ(next.Calls, 0);
    EXPECT_EQ(prev.Calls, 0);

    // A later search for real text steps the engine again.
    next.StandIn = nullptr;
    EXPECT_EQ(Pdf.FindFirst("abc", {}, 1, true), 4);
    EXPECT_EQ(next.Calls, 1);
}

TEST_F(SearchTest, NewSearchClosesTheRunningOneFirst) {
    ASSERT_EQ(Pdf.FindFirst("abc", {}, 0, true), 0);
    const void* first = Pdf.GetFind();
    std::vector<QString> log;
    EngineSpy<engine::FPDFText_FindClose> close;
    EngineSpy<engine::FPDFText_FindStart> start;
    close.StandIn = [&](FPDF_SCHHANDLE h) {
        log.push_back(h == first ? "close first" : "close other");
        close.Real(h);
    };
    start.StandIn = [&](FPDF_TEXTPAGE page, FPDF_WIDESTRING text, unsigned long flags, int index) {
        log.push_back("start " + QString::number(flags));
        return start.Real(page, text, flags, index);
    };
    EXPECT_EQ(Pdf.FindFirst("ABC", {TSearchOption::seCaseSensitive}, 0, true), 4);
    EXPECT_EQ(log, (std::vector<QString>{"close first", "start 1"}));
    EXPECT_NE(Pdf.GetFind(), nullptr);
}

TEST_F(SearchTest, SearchEndsWithItsPage) {
    EXPECT_EQ(Pdf.GetFind(), nullptr);
    EXPECT_EQ(ErrorOf([&] { Pdf.FindNext(); }), "Uninitialized search");
    EXPECT_EQ(ErrorOf([&] { Pdf.FindPrevious(); }), "Uninitialized search");

    const std::pair<const char*, std::function<void()>> pageChanges[] = {
        {"PageNumber", [&] { Pdf.SetPageNumber(Pdf.GetPageNumber() == 1 ? 2 : 1); }},
        {"ReloadPage", [&] { Pdf.ReloadPage(); }},
    };
    for (const auto& [name, change] : pageChanges) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Pdf.FindFirst("abc", {}, 0, true), 0);
        change();
        EXPECT_EQ(Pdf.GetFind(), nullptr);
        EXPECT_EQ(ErrorOf([&] { Pdf.FindNext(); }), "Uninitialized search");
        EXPECT_EQ(ErrorOf([&] { Pdf.FindPrevious(); }), "Uninitialized search");
    }

    ASSERT_EQ(Pdf.FindFirst("abc", {}, 0, true), 0);
    Pdf.SetActive(false);
    EXPECT_EQ(Pdf.GetFind(), nullptr);
    EXPECT_EQ(ErrorOf([&] { Pdf.FindNext(); }), "Cannot perform this operation on an inactive FPdf1 component");
}

TEST_F(SearchTest, EngineRefusingTheSearchLeavesNone) {
    ASSERT_EQ(Pdf.FindFirst("abc", {}, 0, true), 0);
    // A failed load leaves the engine's last-error code set; the refusal must
    // still carry this operation's own message.
    LeaveStaleEngineError();
    // No real document makes the engine refuse to start a search.
    EngineSpy<engine::FPDFText_FindStart> start;
    start.StandIn = [](FPDF_TEXTPAGE, FPDF_WIDESTRING, unsigned long, int) -> FPDF_SCHHANDLE { return nullptr; };
    EXPECT_EQ(ErrorOf([&] { Pdf.FindFirst("abc", {}, 0, true); }), "Cannot start find");
    EXPECT_EQ(Pdf.GetFind(), nullptr);
    EXPECT_EQ(ErrorOf([&] { Pdf.FindNext(); }), "Uninitialized search");
}

TEST(SearchFailureOrder, InactiveComponentThenNoPage) {
    TFPdf pdf;
    pdf.SetName("FPdf1");
    const std::pair<const char*, std::function<void()>> members[] = {
        {"FindFirst", [&] { pdf.FindFirst("abc", {}, 0, true); }},
        {"FindFirst empty", [&] { pdf.FindFirst("", {}, 0, false); }},
        {"FindNext", [&] { pdf.FindNext(); }},
        {"FindPrevious", [&] { pdf.FindPrevious(); }},
    };
    for (const auto& [name, call] : members) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf(call), "Cannot perform this operation on an inactive FPdf1 component");
    }
    pdf.LoadDocument(SearchPdf(), true);  // PageNumber 0: no current page
    for (const auto& [name, call] : members) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ErrorOf(call), "Cannot perform this operation on an inactive page");
        EXPECT_EQ(pdf.GetFind(), nullptr);
        EXPECT_EQ(pdf.GetTextPage(), nullptr);
    }
}

// ---- Search over the whole document ------------------------------------------

// Page 1: "optional argument" across a line break, then on one line written by
// two text operators in two fonts ("Argument" capitalised). Page 2: once more,
// on a page turned a quarter and cropped away from the media box's corner.
// Page 3: no match.
QByteArray FindAllPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve(), pages = b.Reserve();
    const int regular = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    const int bold = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >>");
    const QByteArray resources =
        "/Resources << /Font << /F1 " + Ref(regular) + " /F2 " + Ref(bold) + " >> >>";
    const QList<std::pair<QByteArray, QByteArray>> content = {
        {"/MediaBox [0 0 612 792]",
         "BT /F1 12 Tf 72 700 Td (We give an optional) Tj 0 -14 Td (argument here.) Tj ET\n"
         "BT /F1 12 Tf 72 600 Td (One optional ) Tj /F2 12 Tf (Argument) Tj ET"},
        {"/MediaBox [0 0 612 792] /CropBox [50 100 550 700] /Rotate 90",
         "BT /F1 12 Tf 100 500 Td (Turned: an optional argument) Tj ET"},
        {"/MediaBox [0 0 612 792]", "BT /F1 12 Tf 72 700 Td (Nothing to find) Tj ET"},
    };
    QList<int> kids;
    for (const auto& [boxes, stream] : content) {
        const int contents = b.AddStream("<< >>", stream);
        kids << b.Add("<< /Type /Page /Parent " + Ref(pages) + " " + boxes + " " + resources + " /Contents " +
                      Ref(contents) + " >>");
    }
    b.SetPageTree(catalog, pages, kids);
    return b.Build(catalog);
}

// Where the engine itself shows a point of the current page, in points from
// the top left corner of the page as shown (its own transformation, at ten
// pixels a point for precision).
QPointF EngineShows(TFPdf& Pdf, double X, double Y) {
    const double w = Pdf.GetPageWidth(), h = Pdf.GetPageHeight();
    int dx = 0, dy = 0;
    EXPECT_TRUE(Pdf.PageToDevice(X, Y, 0, 0, int(w * 10), int(h * 10), TRotation::ro0, dx, dy));
    return {dx / 10.0, dy / 10.0};
}

// Whether Inner lies within Outer, give or take Slack points on each side.
bool Within(const QRectF& Inner, const QRectF& Outer, double Slack = 0.5) {
    return Outer.adjusted(-Slack, -Slack, Slack, Slack).contains(Inner);
}

// A character's box as the engine shows it (see EngineShows).
QRectF ShownCharacter(TFPdf& Pdf, int Index) {
    const TPdfRectangle r = Pdf.GetCharacterRectangle(Index);
    return QRectF(EngineShows(Pdf, r.Left, r.Top), EngineShows(Pdf, r.Right, r.Bottom)).normalized();
}

TEST(FindAll, HitsCarryPageRangeAndOneRectanglePerLine) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(FindAllPdf());
    const QList<TPdfSearchHit> hits = pdf.FindAll("optional argument", {});
    ASSERT_EQ(hits.size(), 3);
    const int lines[] = {2, 1, 1};
    const int pagesOf[] = {1, 1, 2};
    for (int h = 0; h < hits.size(); ++h) {
        SCOPED_TRACE(h);
        const TPdfSearchHit& hit = hits[h];
        EXPECT_EQ(hit.PageNumber, pagesOf[h]);
        pdf.SetPageNumber(hit.PageNumber);
        // Index and Length are the match's range of the page text: across the
        // line break it covers the engine's CR LF in place of the blank.
        EXPECT_EQ(pdf.Text(hit.Index, hit.Length).toLower(),
                  h == 0 ? QString("optional\r\nargument") : QString("optional argument"));
        ASSERT_EQ(hit.Rects.size(), lines[h]);
        // Each rectangle holds its line's characters where the engine shows
        // them: the first character in the first, the last in the last.
        // (The engine's rectangles reach from the font's descent to its ascent,
        // so only the character boxes' extent along the line is matched.)
        EXPECT_TRUE(Within(ShownCharacter(pdf, hit.Index), hit.Rects.first()));
        EXPECT_TRUE(Within(ShownCharacter(pdf, hit.Index + hit.Length - 1), hit.Rects.last()));
    }
    // The second line lies below the first, starting at the left margin, and
    // a line ends with its last character.
    EXPECT_GT(hits[0].Rects[1].top(), hits[0].Rects[0].bottom());
    EXPECT_NEAR(hits[0].Rects[1].left(), 72, 0.5);
    pdf.SetPageNumber(1);
    EXPECT_NEAR(hits[1].Rects[0].right(), ShownCharacter(pdf, hits[1].Index + hits[1].Length - 1).right(), 0.5);
    // On the turned page the line runs down the page: taller than wide.
    EXPECT_GT(hits[2].Rects[0].height(), hits[2].Rects[0].width());

    // Case matters when asked: "Argument" is then no match.
    EXPECT_EQ(pdf.FindAll("optional argument", {TSearchOption::seCaseSensitive}).size(), 2);
    EXPECT_TRUE(pdf.FindAll("", {}).isEmpty());
    EXPECT_TRUE(pdf.FindAll("absent words", {}).isEmpty());
}

TEST(FindAll, LeavesTheCurrentPageAndItsSearchAsTheyWere) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(FindAllPdf());
    const int first = pdf.FindFirst("optional");
    void* const page = pdf.GetPage();
    void* const textPage = pdf.GetTextPage();
    void* const find = pdf.GetFind();
    int changes = 0;
    pdf.OnPageChange = [&](QObject*) { ++changes; };

    EXPECT_EQ(pdf.FindAll("optional", {}).size(), 3);
    EXPECT_EQ(pdf.GetPageNumber(), 1);
    EXPECT_EQ(pdf.GetPage(), page);
    EXPECT_EQ(pdf.GetTextPage(), textPage);
    EXPECT_EQ(pdf.GetFind(), find);
    EXPECT_EQ(changes, 0);
    // The running search goes on from where it stood.
    const int second = pdf.FindNext();
    EXPECT_GT(second, first);
    EXPECT_EQ(pdf.Text(second, 8), "optional");
    EXPECT_EQ(pdf.FindNext(), -1);
}

TEST(FindAll, Failures) {
    TFPdf pdf;
    pdf.SetName("FPdf1");
    EXPECT_EQ(ErrorOf([&] { pdf.FindAll("x", {}); }), "Cannot perform this operation on an inactive FPdf1 component");
    // A page the engine cannot open fails the search, as opening it would.
    pdf.LoadDocument(MissingSecondPagePdf());
    const EPdfError error = RaisedError([&] { pdf.FindAll("First", {}); });
    EXPECT_EQ(error.Message(), "Cannot open page 2");
    EXPECT_EQ(error.Kind(), TPdfErrorKind::ekPage);
}

}  // namespace
