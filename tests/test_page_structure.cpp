// The roles of a page's blocks (PageStructure.h) and their Markdown
// (LayoutFormats.h), on pages of words placed as a LaTeX manual sets them:
// a running head and a page number on every page, numbered headings larger or
// bolder than the body, paragraphs, nested lists, a table, code and a
// footnote. The words go through GroupWords, as a page's words do.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

#include <kestrune/LayoutFormats.h>
#include <kestrune/PageStructure.h>

using namespace kestrune;

namespace {

constexpr double Body = 10;
constexpr char Roman[] = "CMR10";

struct TStyle {
    double Size = Body;
    const char* Font = Roman;
    bool Bold = false;
    bool Italic = false;
};

// Appends the words of Text as one line starting at X on Baseline, each
// character half its size wide.
void Line(QList<TLayoutWord>& Words, double X, double Baseline, const QString& Text, TStyle Style = {}) {
    const double width = Style.Size * 0.5;
    for (const QString& word : Text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        Words.append({word, QRectF(X, Baseline - Style.Size * 0.75, width * word.size(), Style.Size), QString::fromLatin1(Style.Font),
                      Style.Size, 100, Style.Bold, Style.Italic});
        X += width * (word.size() + 1);
    }
}

// The lines every page has: a running head at the top, its number at the foot.
void Furniture(QList<TLayoutWord>& Words, int Page) {
    Line(Words, 72, 50, QStringLiteral("A Guide to Structure"), {9, "CMSL9"});
    Line(Words, 300, 760, QString::number(Page));
}

// A body page: a paragraph of five lines.
TPageLayout BodyPage(int Page) {
    QList<TLayoutWord> words;
    Furniture(words, Page);
    for (int l = 0; l < 5; ++l)
        Line(words, 72, 100 + 12 * l, QStringLiteral("the body text of this page goes on and on line %1 of it").arg(l));
    return GroupWords(Page, QSizeF(612, 792), TRotation::ro0, words);
}

// The page under test: every role.
TPageLayout RichPage(int Page) {
    QList<TLayoutWord> words;
    Furniture(words, Page);
    Line(words, 72, 100, QStringLiteral("2 Structures"), {14.4, "CMBX12", true});
    Line(words, 72, 124, QStringLiteral("The first paragraph of the section is hyphen-"));
    Line(words, 72, 136, QStringLiteral("ated at a line end and mentions a note.1"));
    Line(words, 72, 160, QStringLiteral("2.1 Lists"), {12, "CMBX12", true});
    Line(words, 72, 184, QStringLiteral("Some text before the list starts here."));
    Line(words, 82, 200, QStringLiteral("• an outer item"));
    Line(words, 92, 212, QStringLiteral("– an inner item"));
    Line(words, 82, 224, QStringLiteral("• another outer item"));
    Line(words, 72, 248, QStringLiteral("Text after the list."));
    // A table: a bold header row and two rows, three columns.
    for (int r = 0; r < 3; ++r) {
        const TStyle style{Body, r == 0 ? "CMBX10" : Roman, r == 0};
        const double y = 280 + 14 * r;
        Line(words, 100, y, r == 0 ? QStringLiteral("Name") : QStringLiteral("row%1").arg(r), style);
        Line(words, 200, y, r == 0 ? QStringLiteral("Size") : QStringLiteral("%1pt").arg(10 + r), style);
        Line(words, 300, y, r == 0 ? QStringLiteral("Use") : QStringLiteral("use|%1").arg(r), style);
    }
    Line(words, 72, 340, QStringLiteral("\\begin{document}"), {Body, "CMTT10"});
    Line(words, 87, 352, QStringLiteral("\\section{*Title*}"), {Body, "CMTT10"});
    Line(words, 72, 364, QStringLiteral("\\end{document}"), {Body, "CMTT10"});
    Line(words, 72, 388, QStringLiteral("Figure 1: A caption under the code."));
    Line(words, 72, 412, QStringLiteral("# not a heading, 1. not a list, [not] a *link*"));
    Line(words, 72, 720, QStringLiteral("1The note at the foot."), {8, "CMR8"});
    return GroupWords(Page, QSizeF(612, 792), TRotation::ro0, words);
}

TDocumentStyle LearnedStyle() {
    TDocumentStyle style;
    for (int page = 1; page <= 6; ++page) style.Learn(page == 3 ? RichPage(page) : BodyPage(page));
    style.Finish();
    return style;
}

const TStructuredBlock* Find(const TPageStructure& Page, TBlockRole Role, int Nth = 0) {
    for (const TStructuredBlock& block : Page.Blocks)
        if (block.Role == Role && Nth-- == 0) return &block;
    return nullptr;
}

TEST(PageStructure, LearnsTheBodyAndTheRepeatedPlaces) {
    const TDocumentStyle style = LearnedStyle();
    EXPECT_DOUBLE_EQ(style.BodySize(), Body);
    EXPECT_TRUE(style.InRepeatedPlace(42.5, 52.5, 792));
    EXPECT_TRUE(style.InRepeatedPlace(752.5, 762.5, 792));
    EXPECT_FALSE(style.InRepeatedPlace(92.5, 102.5, 792));
    // Both heading styles, the larger first.
    ASSERT_EQ(style.HeadingStyles().size(), 2u);
}

TEST(PageStructure, GivesEachPieceItsRole) {
    const TPageStructure page = StructurePage(RichPage(3), LearnedStyle());
    ASSERT_NE(Find(page, TBlockRole::RunningHead), nullptr);
    EXPECT_EQ(Find(page, TBlockRole::RunningHead)->Text, QStringLiteral("A Guide to Structure"));
    ASSERT_NE(Find(page, TBlockRole::PageNumber), nullptr);
    EXPECT_EQ(Find(page, TBlockRole::PageNumber)->Text, QStringLiteral("3"));

    const TStructuredBlock* section = Find(page, TBlockRole::Heading, 0);
    const TStructuredBlock* subsection = Find(page, TBlockRole::Heading, 1);
    ASSERT_TRUE(section && subsection);
    EXPECT_EQ(section->Text, QStringLiteral("2 Structures"));
    EXPECT_EQ(subsection->Text, QStringLiteral("2.1 Lists"));
    EXPECT_LT(section->Level, subsection->Level);
    EXPECT_EQ(Find(page, TBlockRole::Heading, 2), nullptr);

    const TStructuredBlock* paragraph = Find(page, TBlockRole::Paragraph);
    ASSERT_NE(paragraph, nullptr);
    EXPECT_EQ(paragraph->Text, QStringLiteral("The first paragraph of the section is hyphenated at a line end and mentions a note.1"));

    const TStructuredBlock* outer = Find(page, TBlockRole::ListItem, 0);
    const TStructuredBlock* inner = Find(page, TBlockRole::ListItem, 1);
    const TStructuredBlock* second = Find(page, TBlockRole::ListItem, 2);
    ASSERT_TRUE(outer && inner && second);
    EXPECT_EQ(outer->Text, QStringLiteral("an outer item"));
    EXPECT_EQ(outer->Level, 0);
    EXPECT_EQ(inner->Level, 1);
    EXPECT_EQ(second->Level, 0);

    const TStructuredBlock* table = Find(page, TBlockRole::Table);
    ASSERT_NE(table, nullptr);
    EXPECT_TRUE(table->HeaderRow);
    ASSERT_EQ(table->Rows.size(), 3);
    EXPECT_EQ(table->Rows[0], QStringList({"Name", "Size", "Use"}));
    EXPECT_EQ(table->Rows[2], QStringList({"row2", "12pt", "use|2"}));

    const TStructuredBlock* code = Find(page, TBlockRole::Code);
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->CodeLines, QStringList({"\\begin{document}", "   \\section{*Title*}", "\\end{document}"}));
    EXPECT_NE(Find(page, TBlockRole::Caption), nullptr);

    const TStructuredBlock* note = Find(page, TBlockRole::Footnote);
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->Mark, QStringLiteral("1"));
    EXPECT_EQ(note->Text, QStringLiteral("The note at the foot."));
}

// Two tables set side by side (a command, its glyph, its slot; then again)
// are read each on its own; a table whose columns do not repeat so stays whole.
TEST(PageStructure, ReadsTablesSetSideBySideEachOnItsOwn) {
    struct TCase {
        const char* Name;
        QList<double> Columns;
        QList<QStringList> Rows;
        QList<QList<QStringList>> Tables;
    };
    const QList<QStringList> symbols = {{"\\textdollar", "$", "36", "\\textflorin", "f", "140"},
                                        {"\\textminus", "-", "61", "\\textwon", "W", "142"},
                                        {"\\textohm", "O", "87", "\\textpeso", "P", "145"},
                                        {"\\textborn", "b", "98", "", "", ""}};
    const QList<QStringList> figures = {{"Region", "2019", "Region", "2020"},
                                        {"north", "11", "east", "15"},
                                        {"south", "12", "west", "16"}};
    const TCase cases[] = {
        {"side by side", {72, 150, 175, 260, 338, 363}, symbols,
         {{{"\\textdollar", "$", "36"}, {"\\textminus", "-", "61"}, {"\\textohm", "O", "87"}, {"\\textborn", "b", "98"}},
          {{"\\textflorin", "f", "140"}, {"\\textwon", "W", "142"}, {"\\textpeso", "P", "145"}}}},
        // Halves set closer than their own columns, or of two columns: one table.
        {"close halves", {72, 150, 175, 200, 278, 303}, symbols, {symbols}},
        {"two columns twice", {72, 172, 272, 372}, figures, {figures}},
    };
    for (const TCase& c : cases) {
        QList<TLayoutWord> words;
        Furniture(words, 3);
        Line(words, 72, 100, QStringLiteral("Symbols and their slots in the encoding."));
        for (qsizetype r = 0; r < c.Rows.size(); ++r)
            for (qsizetype k = 0; k < c.Rows[r].size(); ++k) Line(words, c.Columns[k], 130 + 12 * r, c.Rows[r][k]);
        const TPageStructure page = StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle());
        for (qsizetype t = 0; t < c.Tables.size(); ++t) {
            const TStructuredBlock* table = Find(page, TBlockRole::Table, int(t));
            ASSERT_NE(table, nullptr) << c.Name << " " << t;
            EXPECT_EQ(table->Rows, c.Tables[t]) << c.Name << " " << t;
        }
        EXPECT_EQ(Find(page, TBlockRole::Table, int(c.Tables.size())), nullptr) << c.Name;
    }
}

// Headings set closely above their text, as a newsletter's narrow column
// sets them in a slanted sans face of body size: over two lines, or on one
// above text that names a title in the same slant. A heading run into its
// text (the next line opens in its style) stays with it, and an entry of a
// table of contents whose page number stands apart is no heading.
TEST(PageStructure, FindsHeadingsSetCloselyAboveTheirText) {
    const TStyle slanted{Body, "LMSans10-Oblique", false, true};
    QList<TLayoutWord> words;
    Furniture(words, 3);
    const auto text = [&](double Baseline, int Lines) {
        for (int l = 0; l < Lines; ++l)
            Line(words, 72, Baseline + 12 * l, QStringLiteral("plain words of the running text in a narrow column %1").arg(l));
    };
    Line(words, 72, 100, QStringLiteral("Reporting of unused global options when using"), slanted);
    Line(words, 72, 112, QStringLiteral("key value processing"), slanted);
    text(124, 3);
    Line(words, 72, 172, QStringLiteral("Highlighting the standard codes"), slanted);
    Line(words, 72, 184, QStringLiteral("The"));
    Line(words, 92, 184, QStringLiteral("Font Selection Guide"), slanted);
    Line(words, 200, 184, QStringLiteral("has been updated to say"));
    text(196, 3);
    Line(words, 72, 244, QStringLiteral("A note on the history of text symbols and the"), slanted);
    Line(words, 72, 256, QStringLiteral("encoding:"), slanted);
    Line(words, 125, 256, QStringLiteral("The text symbol encoding was first"));
    text(268, 3);
    const TPageLayout layout = GroupWords(3, QSizeF(612, 792), TRotation::ro0, words);
    TDocumentStyle style;
    for (int page = 1; page <= 6; ++page) style.Learn(page == 3 ? layout : BodyPage(page));
    style.Finish();
    const TPageStructure page = StructurePage(layout, style);

    const TStructuredBlock* first = Find(page, TBlockRole::Heading, 0);
    const TStructuredBlock* second = Find(page, TBlockRole::Heading, 1);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Text, QStringLiteral("Reporting of unused global options when using key value processing"));
    EXPECT_EQ(second->Text, QStringLiteral("Highlighting the standard codes"));
    EXPECT_EQ(first->Level, second->Level);
    EXPECT_EQ(Find(page, TBlockRole::Heading, 2), nullptr);
    const TStructuredBlock* runIn = Find(page, TBlockRole::Paragraph, 2);
    ASSERT_NE(runIn, nullptr);
    EXPECT_TRUE(runIn->Text.startsWith(QStringLiteral("A note on the history"))) << runIn->Text.toStdString();

    QList<TLayoutWord> contents;
    Furniture(contents, 1);
    for (int l = 0; l < 4; ++l) {
        Line(contents, 72, 100 + 12 * l, QStringLiteral("Entry number %1 . . . . . . . .").arg(l));
        Line(contents, 280, 100 + 12 * l, QString::number(l + 2));
    }
    Line(contents, 72, 148, QStringLiteral("Changes to packages in the category"), {Body, "CMBX10", true});
    Line(contents, 280, 148, QStringLiteral("6"), {Body, "CMBX10", true});
    text(172, 3);
    const TPageStructure toc = StructurePage(GroupWords(1, QSizeF(612, 792), TRotation::ro0, contents), LearnedStyle());
    EXPECT_EQ(Find(toc, TBlockRole::Heading), nullptr);
}

// A table of contents whose entries' numbers, titles and page numbers stand
// in blocks of their own: each entry read across them, a title over two
// lines with its page number, and no page number left on its own.
TEST(PageStructure, ReadsContentsEntriesAcrossTheirBlocks) {
    QList<TLayoutWord> words;
    Furniture(words, 1);
    Line(words, 72, 76, QStringLiteral("Contents"), {14.4, "CMBX12", true});
    const struct {
        double NumberX;
        const char* Number;
        const char* Title;
        const char* Page;
    } rows[] = {
        {72, "1", "Introduction", "2"},
        {90, "2.1", "Overview . . . . . . . . . . . . . . . . .", "2"},
        {90, "2.2", "Describing arguments . . . . . . . . . . . .", "3"},
        {72, "3", "Preconstructing command names", ""},
        {0, "", "(or otherwise expanding arguments) . . . . . .", "17"},
        {72, "4", "Case changing . . . . . . . . . . . . . . .", "20"},
    };
    double y = 100;
    for (const auto& row : rows) {
        if (row.NumberX > 0) Line(words, row.NumberX, y, QString::fromLatin1(row.Number));
        Line(words, 120, y, QString::fromLatin1(row.Title));
        if (*row.Page) Line(words, 400, y, QString::fromLatin1(row.Page));
        y += 12;
    }
    const TPageStructure page = StructurePage(GroupWords(1, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle());
    QStringList paragraphs;
    for (const TStructuredBlock& block : page.Blocks)
        if (block.Role == TBlockRole::Paragraph) paragraphs.append(block.Text);
    EXPECT_EQ(paragraphs.join(QStringLiteral(" | ")).toStdString(),
              "1 Introduction 2 | 2.1 Overview 2 | 2.2 Describing arguments 3 | "
              "3 Preconstructing command names (or otherwise expanding arguments) 17 | 4 Case changing 20");
}

// Two columns of running text whose lines share baselines make no table,
// though short pieces of them (cut apart by a display) stand side by side.
TEST(PageStructure, ReadsColumnsOfTextAsNoTable) {
    QList<TLayoutWord> words;
    Furniture(words, 3);
    for (const double x : {43.0, 308.0}) {
        for (int l = 0; l < 3; ++l) Line(words, x, 100 + 12 * l, QStringLiteral("words of a column's first piece set here %1").arg(l));
        for (int l = 0; l < 8; ++l) Line(words, x, 160 + 12 * l, QStringLiteral("more words of the column running on here %1").arg(l));
    }
    const TPageStructure page = StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle());
    EXPECT_EQ(Find(page, TBlockRole::Table), nullptr);
    EXPECT_NE(Find(page, TBlockRole::Paragraph, 3), nullptr);
}

// List items set with a hanging indent lose their bullet as other items do,
// and a note in the margin beside them makes no table with their lines.
TEST(PageStructure, ReadsItemsBesideAMarginNote) {
    QList<TLayoutWord> words;
    Furniture(words, 3);
    for (int l = 0; l < 6; ++l) Line(words, 72, 100 + 12 * l, QStringLiteral("the body text of this page goes on and on line %1 of it").arg(l));
    for (int i = 0; i < 2; ++i) {
        const double y = 180 + 36 * i;
        Line(words, 82, y, QStringLiteral("• Font names should contain only upper and lower case letter %1").arg(i));
        Line(words, 92, y + 12, QStringLiteral("and hyphens as the scheme says."));
        Line(words, 400, y, QStringLiteral("New"), {9, "CMR9"});
        Line(words, 400, y + 12, QStringLiteral("feature"), {9, "CMR9"});
    }
    const TPageStructure page = StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle());
    EXPECT_EQ(Find(page, TBlockRole::Table), nullptr);
    const TStructuredBlock* item = Find(page, TBlockRole::ListItem);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->Text.startsWith(QStringLiteral("Font names"))) << item->Text.toStdString();
}

// A list set in two columns (its items side by side on shared baselines) is
// a list, read column by column, not a table.
TEST(PageStructure, ReadsAListSetInColumns) {
    const QStringList left = {"\\expanded", "\\ifincsname", "\\ifpdfprimitive"}, right = {"\\pdfnormaldeviate", "\\pdfpageheight", "\\pdfpagewidth"};
    QList<TLayoutWord> words;
    Furniture(words, 3);
    Line(words, 72, 100, QStringLiteral("These commands are now available in every engine:"));
    for (int r = 0; r < 3; ++r) {
        Line(words, 82, 124 + 12 * r, QStringLiteral("• ") + left[r]);
        Line(words, 300, 124 + 12 * r, QStringLiteral("• ") + right[r]);
    }
    const TPageStructure page = StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle());
    EXPECT_EQ(Find(page, TBlockRole::Table), nullptr);
    QStringList items;
    for (const TStructuredBlock& block : page.Blocks)
        if (block.Role == TBlockRole::ListItem) items.append(block.Text + QLatin1Char('@') + QString::number(block.Level));
    EXPECT_EQ(items.join(QLatin1Char(' ')).toStdString(),
              "\\expanded@0 \\ifincsname@0 \\ifpdfprimitive@0 \\pdfnormaldeviate@0 \\pdfpageheight@0 \\pdfpagewidth@0");
}

TEST(PageStructure, JudgesAPageAloneWithoutALearnedStyle) {
    // A scanned page's words: no font, sizes from their boxes.
    QList<TLayoutWord> words;
    Line(words, 72, 100, QStringLiteral("Scanned Title"), {20, ""});
    for (int l = 0; l < 4; ++l) Line(words, 72, 130 + 12 * l, QStringLiteral("plain words of a scanned page line %1").arg(l), {Body, ""});
    for (TLayoutWord& w : words) w.FontSize = 0, w.FontName.clear();
    const TPageStructure page = StructurePage(GroupWords(1, QSizeF(612, 792), TRotation::ro0, words), TDocumentStyle());
    ASSERT_FALSE(page.Blocks.isEmpty());
    EXPECT_EQ(page.Blocks[0].Role, TBlockRole::Heading);
    EXPECT_EQ(page.Blocks[0].Level, 1);
    EXPECT_EQ(page.Blocks[1].Role, TBlockRole::Paragraph);
}

TEST(MarkdownFormat, WritesTheStructure) {
    TPageLayout layout = RichPage(3);
    // A link to a web address over the line after the list.
    layout.Links = {{QRectF(70, 238, 110, 14), QStringLiteral("https://example.org/a b")}};
    QByteArray out;
    AppendMarkdownPage(out, StructurePage(layout, LearnedStyle()), true);
    const QString md = QString::fromUtf8(out);
    EXPECT_TRUE(md.startsWith(QStringLiteral("<!-- page 3 -->\n\n# 2 Structures\n\n")));
    EXPECT_TRUE(md.contains(QStringLiteral("\n## 2.1 Lists\n")));
    EXPECT_TRUE(md.contains(QStringLiteral("hyphenated at a line end and mentions a note.[^3-1]\n")));
    EXPECT_TRUE(md.contains(QStringLiteral("\n- an outer item\n  - an inner item\n- another outer item\n\n"
                                           "[Text after the list.](<https://example.org/a%20b>)\n")));
    EXPECT_TRUE(md.contains(QStringLiteral("\n| Name | Size | Use |\n| --- | --- | --- |\n| row1 | 11pt | use\\|1 |\n")));
    EXPECT_TRUE(md.contains(QStringLiteral("\n```\n\\begin{document}\n   \\section{*Title*}\n\\end{document}\n```\n")));
    // Markup in the page's words stays text.
    EXPECT_TRUE(md.contains(QStringLiteral("\n\\# not a heading, 1. not a list, \\[not\\] a \\*link\\*\n")));
    EXPECT_TRUE(md.endsWith(QStringLiteral("\n\n[^3-1]: The note at the foot.\n\n")));
    EXPECT_FALSE(md.contains(QStringLiteral("Guide to Structure")));
    EXPECT_FALSE(md.contains(QRegularExpression(QStringLiteral("^3$"), QRegularExpression::MultilineOption)));
}

// A footnote's mark raised close after its word, though the engine gives it
// as a word of its own, refers to the note; a note in the margin beside the
// text, small as a footnote, is none.
TEST(MarkdownFormat, RefersToFootnotesByTheirRaisedMarks) {
    QList<TLayoutWord> words;
    Furniture(words, 3);
    for (int l = 0; l < 4; ++l) Line(words, 72, 100 + 12 * l, QStringLiteral("the body text of this page goes on and on line %1 of it").arg(l));
    Line(words, 72, 160, QStringLiteral("this was described in Filenames for fonts,"));
    const TLayoutWord& before = words.last();
    words.append({QStringLiteral("1"), QRectF(before.Box.right(), 160 - 3 - 5.25, 3.5, 7), QStringLiteral("CMR7"), 7, 100, false, false});
    Line(words, before.Box.right() + 8, 160, QStringLiteral("TUGboat 11, 1990."));
    Line(words, 480, 700, QStringLiteral("New feature"), {9, "CMR9"});
    Line(words, 480, 710, QStringLiteral("2022/06/01"), {9, "CMR9"});
    Line(words, 72, 720, QStringLiteral("1An up-to-date version is online."), {8, "CMR8"});
    QByteArray out;
    AppendMarkdownPage(out, StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle()), false);
    const QString md = QString::fromUtf8(out);
    EXPECT_TRUE(md.contains(QStringLiteral("Filenames for fonts,[^3-1] TUGboat 11, 1990.\n"))) << md.toStdString();
    EXPECT_TRUE(md.contains(QStringLiteral("\n\nNew feature 2022/06/01\n"))) << md.toStdString();
    EXPECT_TRUE(md.endsWith(QStringLiteral("\n[^3-1]: An up-to-date version is online.\n\n"))) << md.toStdString();
}

// What a CommonMark reader (markdown-it, GitHub's tables on) reads in Md:
// each paragraph's, heading's and cell's text, its inline markup named in
// angle brackets ("<html_inline>"), one a line. Empty when the reader is missing.
QStringList ReadByCommonMark(const QByteArray& Md) {
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import sys
try:
    from markdown_it import MarkdownIt
except ImportError:
    sys.exit(3)
for t in MarkdownIt("commonmark").enable("table").parse(sys.stdin.read()):
    if t.type == "inline":
        print("".join(c.content if c.type == "text" else "<%s>" % c.type for c in t.children))
)")});
    python.write(Md);
    python.closeWriteChannel();
    python.waitForFinished(30000);
    if (python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) return {};
    return QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Words that CommonMark would read as markup are read back as the page's
// text: a backslash before a symbol ("\\<name>", "\\$"), HTML, emphasis,
// code, links, entities and a cell's bar.
TEST(MarkdownFormat, IsReadBackAsThePageSays) {
    const QStringList lines = {QStringLiteral("\\<name> and \\$ and a\\=b and x<y and 2^3 and \\~ and ~~no~~ and \\"),
                               QStringLiteral("<b>bold</b> &amp; *em* _u_ [l](x) `c` \\\\ a\\|b <https://x.org>")};
    QList<TLayoutWord> words;
    Furniture(words, 3);
    Line(words, 72, 100, lines[0]);
    Line(words, 72, 124, lines[1]);
    for (int r = 0; r < 3; ++r) {
        Line(words, 100, 160 + 14 * r, QStringLiteral("cell%1").arg(r));
        Line(words, 200, 160 + 14 * r, r == 1 ? QStringLiteral("a|b\\|c") : QStringLiteral("x%1").arg(r));
    }
    QByteArray out;
    AppendMarkdownPage(out, StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle()), false);
    const QStringList read = ReadByCommonMark(out);
    if (read.isEmpty()) GTEST_SKIP() << "python3 with markdown-it is needed";
    EXPECT_TRUE(read.contains(lines[0])) << out.toStdString();
    EXPECT_TRUE(read.contains(lines[1])) << out.toStdString();
    EXPECT_TRUE(read.contains(QStringLiteral("a|b\\|c"))) << out.toStdString();
}

// Small lines at a page's foot are footnotes only with a mark, or beside a
// marked one: a listing's numbered code, or a remark alone, stays in the text.
TEST(PageStructure, TakesOnlyMarkedNotesAtTheFootForFootnotes) {
    const TStyle small{8, "CMR8"}, code{8, "CMTT8"};
    const auto page = [&](bool Marked) {
        QList<TLayoutWord> words;
        Furniture(words, 3);
        for (int l = 0; l < 5; ++l) Line(words, 72, 100 + 12 * l, QStringLiteral("the body text of this page goes on and on line %1 of it").arg(l));
        Line(words, 72, 680, QStringLiteral("337"), {6, "CMR6"});
        Line(words, 90, 680, QStringLiteral("\\fi \\endgroup"), code);
        Line(words, 72, 700, QStringLiteral("(End definition for the command.)"), small);
        if (Marked) Line(words, 72, 720, QStringLiteral("1A note with its mark."), small);
        return StructurePage(GroupWords(3, QSizeF(612, 792), TRotation::ro0, words), LearnedStyle());
    };
    const TPageStructure alone = page(false);
    EXPECT_EQ(Find(alone, TBlockRole::Footnote), nullptr);
    EXPECT_TRUE(std::any_of(alone.Blocks.begin(), alone.Blocks.end(), [](const TStructuredBlock& Block) {
        return Block.Role == TBlockRole::Paragraph && Block.Text == QStringLiteral("(End definition for the command.)");
    }));
    const TPageStructure marked = page(true);
    ASSERT_NE(Find(marked, TBlockRole::Footnote, 1), nullptr);
    EXPECT_EQ(Find(marked, TBlockRole::Footnote, 1)->Mark, QStringLiteral("1"));
    EXPECT_EQ(Find(marked, TBlockRole::Footnote, 2), nullptr);
}

TEST(MarkdownFormat, JoinsAParagraphCutByAPageBreak) {
    struct TCase {
        const char* Previous;
        const char* Next;
        const char* JoinedPrevious;
        const char* JoinedNext;
    };
    const TCase cases[] = {
        // A sentence going on.
        {"# A\n\nit goes\n\n", "on here.\n\n## B\n\n", "# A\n\nit goes on here.\n\n", "## B\n\n"},
        // Hyphenated across the pages.
        {"a devel-\n\n", "opment here\n\n", "a development here\n\n", ""},
        // Past the page's footnotes.
        {"it goes\n\n[^1-1]: A note.\n\n", "on.\n\nNext.\n\n", "it goes on.\n\n[^1-1]: A note.\n\n", "Next.\n\n"},
        // A finished sentence, a new one in capitals, a heading or a table: as they are.
        {"it ends.\n\n", "then more\n\n", "it ends.\n\n", "then more\n\n"},
        {"(it ends.)\n\n", "then more\n\n", "(it ends.)\n\n", "then more\n\n"},
        {"it goes\n\n", "Then more\n\n", "it goes\n\n", "Then more\n\n"},
        {"# Heading\n\n", "text\n\n", "# Heading\n\n", "text\n\n"},
        {"| a |\n| --- |\n\n", "text\n\n", "| a |\n| --- |\n\n", "text\n\n"},
        {"", "text\n\n", "", "text\n\n"},
    };
    for (const TCase& c : cases) {
        QByteArray previous(c.Previous), next(c.Next);
        JoinMarkdownPages(previous, next);
        EXPECT_EQ(previous, QByteArray(c.JoinedPrevious)) << c.Previous << "|" << c.Next;
        EXPECT_EQ(next, QByteArray(c.JoinedNext)) << c.Previous << "|" << c.Next;
    }
}

TEST(JsonFormat, CarriesTheRoles) {
    const TPageLayout layout = RichPage(3);
    const TPageStructure structure = StructurePage(layout, LearnedStyle());
    QByteArray out;
    AppendJsonPage(out, layout, &structure);
    EXPECT_TRUE(out.contains("\"role\":\"heading\",\"level\":1"));
    EXPECT_TRUE(out.contains("\"role\":\"heading\",\"level\":2"));
    for (const char* role : {"running-head", "page-number", "paragraph", "list-item", "table", "code", "caption", "footnote"})
        EXPECT_TRUE(out.contains(QByteArray("\"role\":\"") + role + "\"")) << role;
    QByteArray plain;
    AppendJsonPage(plain, layout);
    EXPECT_FALSE(plain.contains("\"role\""));
}

}  // namespace
