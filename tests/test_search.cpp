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

}  // namespace
