// Words, lines and blocks of a page: read from the text layer of pages whose
// words stand at known places (two columns, a table, turned text, a
// right-to-left run, a page without text, a page shown turned), and grouped
// from given words as a recogniser gives them.
#include <gtest/gtest.h>

#include <QStringList>

#include <kestrune/PageLayout.h>
#include "support/LayoutFixtures.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

namespace {

// The page's words as text: words joined by spaces, lines by " | ", blocks by " || ".
QString Outline(const TPageLayout& Layout) {
    QStringList blocks;
    for (const TLayoutBlock& block : Layout.Blocks) {
        QStringList lines;
        for (const TLayoutLine& line : block.Lines) {
            QStringList words;
            for (const TLayoutWord& word : line.Words) words << word.Text;
            lines << words.join(' ');
        }
        blocks << lines.join(QStringLiteral(" | "));
    }
    return blocks.join(QStringLiteral(" || "));
}

const TLayoutWord* FindWord(const TPageLayout& Layout, const QString& Text, TLineDirection* Direction = nullptr) {
    for (const TLayoutBlock& block : Layout.Blocks)
        for (const TLayoutLine& line : block.Lines)
            for (const TLayoutWord& word : line.Words)
                if (word.Text == Text) {
                    if (Direction) *Direction = line.Direction;
                    return &word;
                }
    return nullptr;
}

class PageLayoutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Document = new QByteArray(LayoutFixturePdf()); }
    static void TearDownTestSuite() { delete Document; }

    TPageLayout Read(int Page) {
        Pdf.SetPageNumber(Page);
        if (!Pdf.GetActive()) Pdf.LoadDocument(*Document);
        return ReadPageLayout(Pdf);
    }

    static QByteArray* Document;
    TFPdf Pdf;
};

QByteArray* PageLayoutTest::Document = nullptr;

TEST_F(PageLayoutTest, GroupsWordsIntoLinesAndBlocks) {
    const struct {
        int Page;
        const char* Outline;
    } cases[] = {
        // Each column a block of its own, in the order drawn.
        {TwoColumnsPage, "alpha beta gamma | delta epsilon zeta | eta theta iota || "
                         "one two three | four five six | seven eight nine"},
        // Cells stand too far apart to share a line.
        {TablePage, "Name || Qty || Price || apple || 3 || 1.20 || pear || 12 || 0.80"},
        {RotatedTextPage, "upward text || level line"},
        // The engine gives the Hebrew run in reading order, after the Latin word.
        {RightToLeftPage, "latin || \u05D0\u05D1\u05D2"},
        {EmptyPage, ""},
        {TurnedPage, "turned page"},
        // The engine's mark for a line-end hyphen is written as the hyphen.
        {HyphenPage, "a long exam- | ple follows"},
        // The engine's two units of a character beyond U+FFFF are that
        // character; a surrogate standing alone is no character.
        {BeyondBmpPage, "x\U0001D49Cy \U0001F600\U0001F600 | x\uFFFDy \uFFFD\U0001D49C"},
        // The note's runs, on the body's baselines, are cut from the body's
        // lines and read after the paragraph beside them.
        {MarginNotePage, "The body of the page runs forty columns, | wide, so that a note set beside it stays | "
                         "apart from its lines and follows them. || New feature | 1995/12/01 || "
                         "A second paragraph starts indented | below the first one."},
        // Columns given row by row are read one after the other.
        {InterleavedColumnsPage, "left one two three four five | left six seven eight nine ten | "
                                 "left end of the column here || right one two three four five | "
                                 "right six seven eight nine ten | right end of the column here"},
        // Cells closer than two font sizes are still cells where the rows
        // around leave their gaps free; read row by row.
        {SpacedTablePage, "ec || Extra Condensed || 62.5% || c || Condensed || 75% || sc || Semi Condensed || 87.5%"},
        // The lowered E is kerned into its word; the fraction's figures, one
        // over the other, are two words.
        {LogoPage, "BibTEX || 1 | 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Page);
        const TPageLayout layout = Read(c.Page);
        EXPECT_EQ(Outline(layout), QString::fromUtf8(c.Outline)) << Outline(layout).toStdString();
        EXPECT_EQ(layout.IsEmpty(), c.Page == EmptyPage);
    }
}

// Courier advances 6 pt per character at 10 pt, so each word's extent along its
// line is exact; across it, the font box reaches from below the baseline
// (descent) to above the letters' height (ascent).
TEST_F(PageLayoutTest, WordBoxesAreInPointsFromTheShownPagesTopLeft) {
    const struct {
        int Page;
        const char16_t* Text;
        TLineDirection Direction;
        double AlongStart, AlongEnd;  // x for horizontal lines, y for vertical ones
        double Baseline;              // y for horizontal lines, x for vertical ones
    } cases[] = {
        {TwoColumnsPage, u"epsilon", TLineDirection::dlHorizontal, 108, 150, 792 - 688},
        {TwoColumnsPage, u"nine", TLineDirection::dlHorizontal, 392, 416, 792 - 676},
        {TablePage, u"0.80", TLineDirection::dlHorizontal, 300, 324, 792 - 660},
        // One glyph each, though the engine gives each as two characters.
        {BeyondBmpPage, u"x\U0001D49Cy", TLineDirection::dlHorizontal, 72, 90, 792 - 700},
        {BeyondBmpPage, u"\U0001F600\U0001F600", TLineDirection::dlHorizontal, 96, 108, 792 - 700},
        {RightToLeftPage, u"\u05D0\u05D1\u05D2", TLineDirection::dlHorizontal, 72, 90, 792 - 700},
        // Reading upwards from y 200: "upward" spans 200..236 in page space.
        {RotatedTextPage, u"upward", TLineDirection::dlUp, 792 - 236, 792 - 200, 100},
        // A quarter turn clockwise: page space (x, y) shows at (y, x), reading downwards.
        {TurnedPage, u"page", TLineDirection::dlDown, 72 + 7 * 6, 72 + 11 * 6, 700},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.Text);
        SCOPED_TRACE(text.toStdString());
        const TPageLayout layout = Read(c.Page);
        TLineDirection direction{};
        const TLayoutWord* word = FindWord(layout, text, &direction);
        ASSERT_NE(word, nullptr);
        EXPECT_EQ(direction, c.Direction);
        const bool vertical = c.Direction == TLineDirection::dlDown || c.Direction == TLineDirection::dlUp;
        const QRectF& box = word->Box;
        EXPECT_NEAR(vertical ? box.top() : box.left(), c.AlongStart, 0.01);
        EXPECT_NEAR(vertical ? box.bottom() : box.right(), c.AlongEnd, 0.01);
        const double acrossStart = vertical ? box.left() : box.top();
        const double acrossEnd = vertical ? box.right() : box.bottom();
        // The letters' side of the baseline holds at least their height (5 pt),
        // the other side the descent; the whole box stays within the font size and a bit.
        const bool lettersBefore = c.Direction != TLineDirection::dlDown;
        const double letters = lettersBefore ? c.Baseline - acrossStart : acrossEnd - c.Baseline;
        const double descent = lettersBefore ? acrossEnd - c.Baseline : c.Baseline - acrossStart;
        EXPECT_GE(letters, 5);
        EXPECT_GE(descent, 0);
        EXPECT_LT(descent, 4);
        EXPECT_LE(acrossEnd - acrossStart, 12);
        EXPECT_EQ(word->FontName, QStringLiteral("Courier"));
        EXPECT_DOUBLE_EQ(word->FontSize, 10);
        EXPECT_EQ(word->Confidence, 100);
    }
}

// A block's paragraphs: lines farther apart than the block's others, or
// indented against the line before.
TEST(GroupWordsTest, MarksParagraphsBySpacingAndIndent) {
    QList<TLayoutWord> words;
    const struct {
        double Left, Top;
    } lines[] = {{50, 100}, {50, 112}, {50, 124}, {50, 142}, {50, 154}, {65, 166}, {50, 178}};
    for (const auto& line : lines) words.append({QStringLiteral("words of a line"), QRectF(line.Left, line.Top, 200, 10), {}, 10});
    const TPageLayout layout = GroupWords(1, QSizeF(600, 800), TRotation::ro0, words);
    ASSERT_EQ(layout.Blocks.size(), 1);
    QList<bool> starts;
    for (const TLayoutLine& line : layout.Blocks[0].Lines) starts.append(line.StartsParagraph);
    EXPECT_EQ(starts, (QList<bool>{false, false, false, true, false, true, false}));
}

TEST_F(PageLayoutTest, StyleComesFromFlagsWeightAndName) {
    const TPageLayout layout = Read(StyledPage);
    const struct {
        const char16_t* Text;
        const char* Font;
        bool Bold, Italic;
    } cases[] = {
        {u"bold", "ABCDEF+Courier-Bold", true, false}, {u"italic", "Plain", false, true},
        {u"heavy", "Stem", true, false},               {u"slanted", "CMSL10", false, true},
        {u"plain", "Courier", false, false},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.Text);
        SCOPED_TRACE(text.toStdString());
        const TLayoutWord* word = FindWord(layout, text);
        ASSERT_NE(word, nullptr);
        EXPECT_EQ(word->FontName, QString::fromLatin1(c.Font));
        EXPECT_EQ(word->Bold, c.Bold);
        EXPECT_EQ(word->Italic, c.Italic);
    }
}

TEST_F(PageLayoutTest, LinesAndBlocksSpanTheirWords) {
    const TPageLayout layout = Read(TwoColumnsPage);
    ASSERT_EQ(layout.Blocks.size(), 2);
    const TLayoutBlock& right = layout.Blocks[1];
    EXPECT_NEAR(right.Box.left(), 320, 0.01);
    EXPECT_NEAR(right.Box.right(), 320 + 16 * 6, 0.01);  // "seven eight nine"
    for (const TLayoutLine& line : right.Lines) {
        EXPECT_EQ(line.Box, line.Words.first().Box.united(line.Words.last().Box));
        EXPECT_TRUE(right.Box.contains(line.Box));
    }
    EXPECT_EQ(layout.WordCount(), 18);
}

TEST_F(PageLayoutTest, PageNumberSizeAndRotationAreThePageShown) {
    const TPageLayout upright = Read(TablePage);
    EXPECT_EQ(upright.PageNumber, int(TablePage));
    EXPECT_EQ(upright.Size, QSizeF(612, 792));
    EXPECT_EQ(upright.Rotation, TRotation::ro0);
    const TPageLayout turned = Read(TurnedPage);
    EXPECT_EQ(turned.PageNumber, int(TurnedPage));
    EXPECT_EQ(turned.Size, QSizeF(792, 612));
    EXPECT_EQ(turned.Rotation, TRotation::ro90);
}

TEST_F(PageLayoutTest, RaisesTheCharacterMembersGuards) {
    Pdf.SetName(QStringLiteral("FPdf1"));
    const QString inactive = ErrorOf([&] { Pdf.GetCharacterCount(); });
    ASSERT_FALSE(inactive.isEmpty());
    ExpectError([&] { ReadPageLayout(Pdf); }, inactive);
    Pdf.SetPageNumber(0);
    Pdf.LoadDocument(*Document);
    const QString noPage = ErrorOf([&] { Pdf.GetCharacterCount(); });
    ASSERT_FALSE(noPage.isEmpty());
    ExpectError([&] { ReadPageLayout(Pdf); }, noPage);
}

TLayoutWord Recognised(const char* Text, double Left, double Top, double Width, double Height, double Confidence) {
    return {QString::fromUtf8(Text), QRectF(Left, Top, Width, Height), {}, 0, Confidence};
}

TEST(GroupWordsTest, GroupsRecognisedWordsByTheirBoxes) {
    // A paragraph of two lines with a word lowered a little (a subscript), a
    // column far to its right, and a paragraph well below the first.
    const QList<TLayoutWord> words = {
        Recognised("first", 50, 100, 40, 12, 96.5), Recognised("line", 95, 100, 30, 12, 91),
        Recognised("x2", 128, 103, 14, 12, 80),     Recognised("second", 50, 115, 50, 12, 88),
        Recognised("aside", 400, 100, 40, 12, 70),  Recognised("later", 50, 200, 40, 12, 99),
    };
    const TPageLayout layout = GroupWords(3, QSizeF(600, 800), TRotation::ro0, words);
    EXPECT_EQ(Outline(layout), "first line x2 | second || aside || later");
    EXPECT_EQ(layout.PageNumber, 3);
    EXPECT_EQ(layout.Blocks[0].Box, QRectF(50, 100, 92, 27));
    EXPECT_EQ(layout.Blocks[0].Lines[0].Words[0].Confidence, 96.5);
}

TEST(GroupWordsTest, WordsOfAnotherDirectionStartANewLine) {
    const QList<TLayoutWord> words = {Recognised("down", 100, 100, 12, 40, 90), Recognised("wards", 100, 145, 12, 50, 90),
                                      Recognised("across", 120, 100, 50, 12, 90)};
    const TPageLayout layout =
        GroupWords(1, QSizeF(600, 800), TRotation::ro0, words,
                   {TLineDirection::dlDown, TLineDirection::dlDown, TLineDirection::dlHorizontal});
    EXPECT_EQ(Outline(layout), "down wards || across");
    EXPECT_EQ(layout.Blocks[0].Lines[0].Direction, TLineDirection::dlDown);
}

TEST(GroupWordsTest, UniteBoxesFitsHandFilledLayouts) {
    TPageLayout layout{1, QSizeF(600, 800), TRotation::ro0, {}, {}};
    TLayoutBlock block;
    block.Lines.append(TLayoutLine{{}, TLineDirection::dlHorizontal, {Recognised("a", 10, 10, 10, 10, 90),
                                                                        Recognised("b", 30, 12, 10, 10, 90)}});
    block.Lines.append(TLayoutLine{});  // a line the recogniser left empty
    layout.Blocks = {block, TLayoutBlock{}};
    UniteBoxes(layout);
    ASSERT_EQ(layout.Blocks.size(), 1);
    ASSERT_EQ(layout.Blocks[0].Lines.size(), 1);
    EXPECT_EQ(layout.Blocks[0].Lines[0].Box, QRectF(10, 10, 30, 12));
    EXPECT_EQ(layout.Blocks[0].Box, QRectF(10, 10, 30, 12));
}

}  // namespace
