// The page layout's formats, each read back by a parser of its kind (a TSV
// reader, QJsonDocument, QXmlStreamReader) and compared with the layouts
// written; the layout text on the two-column and table pages.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <QRegularExpression>
#include <QSet>
#include <cmath>
#include <cstdio>
#include <limits>

#include <kestrune/LayoutFormats.h>
#include "support/LayoutFixtures.h"

using namespace kestrune;
using namespace testing_support;

namespace {

// Every page of the fixture document, plus a page of recognised words whose
// texts need escaping in every format.
QList<TPageLayout> Pages() {
    static const QList<TPageLayout> pages = [] {
        QList<TPageLayout> result;
        TFPdf pdf;
        pdf.SetPageNumber(0);
        pdf.LoadDocument(LayoutFixturePdf(), true);
        for (int page = 1; page <= pdf.GetPageCount(); ++page) {
            pdf.SetPageNumber(page);
            result.append(ReadPageLayout(pdf));
        }
        result.append(GroupWords(result.size() + 1, QSizeF(595.5, 842), TRotation::ro0,
                                 {{QStringLiteral("<a&b>"), QRectF(10.25, 20, 30, 10), {}, 0, 87.25},
                                  {QStringLiteral("say\t\"hi\"\\"), QRectF(45, 20, 40, 10), {}, 0, 100},
                                  {QStringLiteral("\u00E9t\u00E9 \U0001D400"), QRectF(90, 20, 20, 10), {}, 0, 64}}));
        return result;
    }();
    return pages;
}

// The words of the layouts in order, each with its page number.
struct FlatWord {
    int Page;
    TLayoutWord Word;
};

QList<FlatWord> Words(const QList<TPageLayout>& Layouts) {
    QList<FlatWord> words;
    for (const TPageLayout& page : Layouts)
        for (const TLayoutBlock& block : page.Blocks)
            for (const TLayoutLine& line : block.Lines)
                for (const TLayoutWord& word : line.Words) words.append({page.PageNumber, word});
    return words;
}

// ---- TSV --------------------------------------------------------------------

TEST(LayoutFormatsTest, TsvReadsBackAsTesseractsTable) {
    QByteArray tsv = TsvHeader();
    for (const TPageLayout& page : Pages()) AppendTsvPage(tsv, page);
    ASSERT_TRUE(tsv.endsWith('\n'));
    QList<QByteArray> rows = tsv.chopped(1).split('\n');
    EXPECT_EQ(rows.takeFirst(),
              "level\tpage_num\tpar_num\tblock_num\tline_num\tword_num\tleft\ttop\twidth\theight\tconf\ttext");

    const QList<FlatWord> words = Words(Pages());
    qsizetype w = 0;
    int pages = 0;
    int paragraphs = 0;  // beyond the first of their block
    QList<int> numbers;  // the block, paragraph, line and word number of the row before
    for (const QByteArray& row : rows) {
        const QList<QByteArray> f = row.split('\t');
        ASSERT_EQ(f.size(), 12) << row.constData();
        const int level = f[0].toInt();
        const QList<int> ids = {f[3].toInt(), f[2].toInt(), f[4].toInt(), f[5].toInt()};  // block, par, line, word
        if (level == 1) {
            ++pages;
            EXPECT_EQ(f[1].toInt(), pages);
            EXPECT_EQ(QSizeF(f[8].toDouble(), f[9].toDouble()), Pages()[pages - 1].Size);
        } else if (level == 2) {
            EXPECT_EQ(ids, (QList<int>{numbers.value(0) + 1, 0, 0, 0})) << row.constData();
        } else if (level == 3) {
            EXPECT_EQ(ids, (QList<int>{numbers.value(0), numbers.value(1) + 1, 0, 0})) << row.constData();
            if (ids[1] > 1) ++paragraphs;
        } else if (level == 4) {
            EXPECT_EQ(ids, (QList<int>{numbers.value(0), numbers.value(1), numbers.value(2) + 1, 0})) << row.constData();
        } else {
            ASSERT_EQ(level, 5) << row.constData();
            EXPECT_EQ(ids, (QList<int>{numbers.value(0), numbers.value(1), numbers.value(2), numbers.value(3) + 1}))
                << row.constData();
            ASSERT_LT(w, words.size());
            const FlatWord& word = words[w++];
            EXPECT_EQ(f[1].toInt(), word.Page);
            const QRectF box(f[6].toDouble(), f[7].toDouble(), f[8].toDouble(), f[9].toDouble());
            EXPECT_NEAR(box.left(), word.Word.Box.left(), 0.005);
            EXPECT_NEAR(box.top(), word.Word.Box.top(), 0.005);
            EXPECT_NEAR(box.width(), word.Word.Box.width(), 0.01);
            EXPECT_NEAR(box.height(), word.Word.Box.height(), 0.01);
            EXPECT_EQ(f[10].toDouble(), word.Word.Confidence);
            // A tab inside a word would split the row: it is written as a space.
            EXPECT_EQ(QString::fromUtf8(f[11]), QString(word.Word.Text).replace('\t', ' '));
        }
        if (level != 5) {
            EXPECT_EQ(f[10], "-1");
            EXPECT_EQ(f[11], "");
        }
        numbers = level == 1 ? QList<int>{0, 0, 0, 0} : ids;
    }
    EXPECT_EQ(pages, Pages().size());
    EXPECT_EQ(w, words.size());
    int expected = 0;
    for (const TPageLayout& page : Pages())
        for (const TLayoutBlock& block : page.Blocks)
            for (qsizetype l = 1; l < block.Lines.size(); ++l) expected += block.Lines[l].StartsParagraph;
    EXPECT_EQ(paragraphs, expected);
    EXPECT_GT(paragraphs, 0);
}

// Box values with two decimals, rounded as printf's %.2f rounds the exact
// value (a tie to even): the table's numbers are made from whole hundredths,
// which must agree near ties, at signs and far from zero.
TEST(LayoutFormatsTest, TsvBoxValuesRoundAsPrintfDoes) {
    const auto left = [](double Value) {
        QByteArray tsv;
        AppendTsvPage(tsv, GroupWords(1, QSizeF(600, 800), TRotation::ro0, {{"w", QRectF(Value, 20, 30, 10), "F", 10, 100}}));
        const QList<QByteArray> rows = tsv.split('\n');
        return rows.value(rows.size() - 2).split('\t').value(6);
    };
    const auto printed = [](double Value) {
        char text[64];
        return QByteArray(text, std::snprintf(text, sizeof text, "%.2f", Value));
    };
    const struct {
        double Value;
        const char* Text;
    } cases[] = {
        {0, "0.00"},         {-0.0, "-0.00"},      {-0.001, "-0.00"},  {0.125, "0.12"},  {0.375, "0.38"},
        {1.005, "1.00"},     {2.675, "2.67"},      {-2.675, "-2.67"},  {12.345, "12.35"}, {99.995, "100.00"},
        {595.275, "595.27"}, {1e9, "1000000000.00"}, {-1234567.891, "-1234567.89"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        EXPECT_EQ(left(c.Value), QByteArray(c.Text));
        EXPECT_EQ(left(c.Value), printed(c.Value));
    }
    // Every thousandth over a page's range, and values a hair off the ties.
    for (int i = -2000; i <= 900000; i += 7) {
        const double value = i / 1000.0;
        ASSERT_EQ(left(value), printed(value)) << value;
        ASSERT_EQ(left(std::nextafter(value, 1e9)), printed(std::nextafter(value, 1e9))) << value;
    }
}

// ---- JSON Lines ---------------------------------------------------------------

TEST(LayoutFormatsTest, JsonLinesParseOnePagePerLine) {
    const QList<TPageLayout> layouts = Pages();
    QByteArray jsonl;
    for (const TPageLayout& page : layouts) AppendJsonPage(jsonl, page);
    QList<QByteArray> lines = jsonl.split('\n');
    ASSERT_EQ(lines.takeLast(), "");  // every line ends with LF
    ASSERT_EQ(lines.size(), layouts.size());
    for (qsizetype p = 0; p < layouts.size(); ++p) {
        SCOPED_TRACE(p + 1);
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(lines[p], &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        const QJsonObject page = document.object();
        const TPageLayout& layout = layouts[p];
        EXPECT_EQ(page["page"].toInt(), layout.PageNumber);
        EXPECT_EQ(QSizeF(page["width"].toDouble(), page["height"].toDouble()), layout.Size);
        EXPECT_EQ(page["rotation"].toInt(), int(layout.Rotation) * 90);
        const QJsonArray blocks = page["blocks"].toArray();
        ASSERT_EQ(blocks.size(), layout.Blocks.size());
        for (qsizetype b = 0; b < blocks.size(); ++b) {
            const QJsonArray lines = blocks[b]["lines"].toArray();
            ASSERT_EQ(lines.size(), layout.Blocks[b].Lines.size());
            for (qsizetype l = 0; l < lines.size(); ++l) {
                const TLayoutLine& line = layout.Blocks[b].Lines[l];
                EXPECT_EQ(lines[l]["direction"].toInt(), int(line.Direction));
                const QJsonArray words = lines[l]["words"].toArray();
                ASSERT_EQ(words.size(), line.Words.size());
                for (qsizetype w = 0; w < words.size(); ++w) {
                    const TLayoutWord& word = line.Words[w];
                    EXPECT_EQ(words[w]["text"].toString(), word.Text);
                    EXPECT_EQ(words[w]["font"].toString(), word.FontName);
                    EXPECT_EQ(words[w]["size"].toDouble(), word.FontSize);
                    EXPECT_EQ(words[w]["conf"].toDouble(), word.Confidence);
                    const QJsonArray box = words[w]["bbox"].toArray();
                    ASSERT_EQ(box.size(), 4);
                    EXPECT_NEAR(box[0].toDouble(), word.Box.left(), 0.005);
                    EXPECT_NEAR(box[1].toDouble(), word.Box.top(), 0.005);
                    EXPECT_NEAR(box[2].toDouble(), word.Box.right(), 0.005);
                    EXPECT_NEAR(box[3].toDouble(), word.Box.bottom(), 0.005);
                }
            }
        }
    }
}

// The keys in the documented order, the page's number first, whatever Qt's
// JSON classes would sort them into; a line's paragraph and a word's style.
TEST(LayoutFormatsTest, JsonKeysComeInTheirDocumentedOrder) {
    QByteArray jsonl;
    for (const TPageLayout& page : Pages()) AppendJsonPage(jsonl, page);
    const QList<QByteArray> lines = jsonl.chopped(1).split('\n');
    static const QRegularExpression key(QStringLiteral("\"([a-z]+)\":"));
    const QStringList page = {"page", "width", "height", "rotation", "blocks"};
    const QStringList line = {"bbox", "direction", "paragraph", "words"};
    const QStringList word = {"text", "bbox", "font", "size", "bold", "italic", "conf"};
    for (const QByteArray& bytes : lines) {
        QStringList keys;
        for (const QRegularExpressionMatch& m : key.globalMatch(QString::fromUtf8(bytes))) keys << m.captured(1);
        SCOPED_TRACE(bytes.left(80).toStdString());
        ASSERT_GE(keys.size(), page.size());
        EXPECT_EQ(keys.mid(0, 4), page.mid(0, 4));
        EXPECT_EQ(keys[4], "blocks");
        // Every word's and line's keys, where they come.
        for (qsizetype i = 0; i < keys.size(); ++i) {
            if (keys[i] == "text") {
                EXPECT_EQ(keys.mid(i, word.size()), word);
            }
            if (keys[i] == "direction") {
                EXPECT_EQ(keys.mid(i - 1, line.size()), line);
            }
        }
    }
    // Each line's paragraph, counted within its block.
    const QList<TPageLayout> pages = Pages();
    for (qsizetype p = 0; p < lines.size(); ++p) {
        QList<int> written, expected;
        for (const QJsonValue& block : QJsonDocument::fromJson(lines[p]).object()["blocks"].toArray())
            for (const QJsonValue& l : block["lines"].toArray()) written << l["paragraph"].toInt();
        for (const TLayoutBlock& block : pages[p].Blocks) {
            int paragraph = 0;
            for (const TLayoutLine& l : block.Lines) expected << (paragraph += l.StartsParagraph || &l == &block.Lines.first());
        }
        EXPECT_EQ(written, expected) << p + 1;
    }
    const QJsonArray styled = QJsonDocument::fromJson(lines[StyledPage - 1]).object()["blocks"].toArray();
    QStringList bold, italic;
    for (const QJsonValue& block : styled)
        for (const QJsonValue& l : block["lines"].toArray())
            for (const QJsonValue& w : l["words"].toArray()) {
                if (w["bold"].toBool()) bold << w["text"].toString();
                if (w["italic"].toBool()) italic << w["text"].toString();
            }
    EXPECT_EQ(bold, (QStringList{"bold", "heavy"}));
    EXPECT_EQ(italic, (QStringList{"italic", "slanted"}));
}

// Numbers as short as they read back: boxes and sizes to 1/100 without
// trailing zeros, a confidence exactly; no "-0", null for what is no number.
TEST(LayoutFormatsTest, JsonNumbersAreAsShortAsTheyReadBack) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const struct {
        double Value;
        const char* Size;  // as a font size, rounded to 1/100
        const char* Conf;  // as a confidence, exact
    } cases[] = {
        {0, "0", "0"},
        {-0.001, "0", "-0.001"},
        {-0.0, "0", "0"},
        {0.005, "0.01", "0.005"},
        {12.5, "12.5", "12.5"},
        {3.05, "3.05", "3.05"},
        {-7.1, "-7.1", "-7.1"},
        {100, "100", "100"},
        {1.0 / 3, "0.33", "0.3333333333333333"},
        {99999.994, "99999.99", "99999.994"},
        {99999.996, "1e+05", "99999.996"},
        {123456.78, "123456.78", "123456.78"},
        {nan, "null", "null"},
        {-inf, "null", "null"},
    };
    static const QRegularExpression number(QStringLiteral("\"size\":([^,]+),.*\"conf\":([^}]+)\\}"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Value);
        QByteArray json;
        AppendJsonPage(json, GroupWords(1, QSizeF(600, 800), TRotation::ro0, {{"w", QRectF(10, 20, 30, 10), "F", c.Value, c.Value}}));
        const QRegularExpressionMatch m = number.match(QString::fromUtf8(json));
        ASSERT_TRUE(m.hasMatch()) << json.constData();
        EXPECT_EQ(m.captured(1), QLatin1String(c.Size));
        EXPECT_EQ(m.captured(2), QLatin1String(c.Conf));
    }
}

// ---- hOCR ---------------------------------------------------------------------

TEST(LayoutFormatsTest, HocrParsesAsXmlWithTheTsvsWords) {
    const QList<TPageLayout> layouts = Pages();
    QByteArray hocr = HocrPrologue(QStringLiteral("a <title> & more"));
    for (const TPageLayout& page : layouts) AppendHocrPage(hocr, page);
    hocr += HocrEpilogue();

    QXmlStreamReader xml(hocr);
    QStringList classes;
    QString title;
    struct Word {
        QString Text;
        QString Title;
        QString Style;
    };
    QList<Word> words;
    QMap<QString, QString> meta;
    QStringList ids;
    QStringList open;  // the classes of the elements around, innermost last
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && !open.isEmpty()) open.removeLast();
        if (token != QXmlStreamReader::StartElement) continue;
        if (xml.name() == QLatin1String("title")) title = xml.readElementText();
        if (xml.name() == QLatin1String("meta"))
            meta[xml.attributes().value(QLatin1String("name")).toString()] = xml.attributes().value(QLatin1String("content")).toString();
        const QString cls = xml.attributes().value(QLatin1String("class")).toString();
        if (xml.name() != QLatin1String("title")) open << cls;
        if (cls.isEmpty()) continue;
        classes << cls;
        ids << xml.attributes().value(QLatin1String("id")).toString();
        // Each element within the one hOCR puts it in.
        static const QMap<QString, QString> parent = {{"ocr_carea", "ocr_page"}, {"ocr_par", "ocr_carea"},
                                                      {"ocr_line", "ocr_par"}, {"ocrx_word", "ocr_line"}};
        if (parent.contains(cls)) {
            EXPECT_EQ(open.value(open.size() - 2), parent[cls]) << cls.toStdString();
        }
        if (cls == QLatin1String("ocrx_word")) {
            const QString properties = xml.attributes().value(QLatin1String("title")).toString();
            const QString style = xml.attributes().value(QLatin1String("style")).toString();
            words.append({xml.readElementText(), properties, style});
            open.removeLast();
        }
    }
    // What hOCR's head must name; every capability used is declared.
    EXPECT_EQ(meta["ocr-system"], "kestrune");
    EXPECT_EQ(meta["ocr-langs"], "en");
    for (const char* capability : {"ocr_page", "ocr_carea", "ocr_par", "ocr_line", "ocrx_word", "ocrp_wconf", "ocrp_font"})
        EXPECT_TRUE(meta["ocr-capabilities"].split(' ').contains(QLatin1String(capability))) << capability;
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());  // every id once
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
    EXPECT_EQ(title, QStringLiteral("a <title> & more"));
    EXPECT_EQ(classes.count(QStringLiteral("ocr_page")), layouts.size());
    EXPECT_GT(classes.count(QStringLiteral("ocr_carea")), 0);
    EXPECT_GT(classes.count(QStringLiteral("ocr_line")), 0);

    // The same words as the TSV, in the same order, in boxes of whole points around them.
    const QList<FlatWord> expected = Words(layouts);
    ASSERT_EQ(words.size(), expected.size());
    static const QRegularExpression bbox(QStringLiteral("^bbox (\\d+) (\\d+) (\\d+) (\\d+); x_wconf (\\d+)"));
    for (qsizetype i = 0; i < words.size(); ++i) {
        const TLayoutWord& word = expected[i].Word;
        SCOPED_TRACE(word.Text.toStdString());
        EXPECT_EQ(words[i].Text, word.Text);
        const QRegularExpressionMatch m = bbox.match(words[i].Title);
        ASSERT_TRUE(m.hasMatch()) << words[i].Title.toStdString();
        const QRectF box(QPointF(m.captured(1).toInt(), m.captured(2).toInt()),
                         QPointF(m.captured(3).toInt(), m.captured(4).toInt()));
        EXPECT_TRUE(box.contains(word.Box));
        EXPECT_LT(box.width() - word.Box.width(), 2);
        EXPECT_EQ(m.captured(5).toInt(), qRound(word.Confidence));
        EXPECT_EQ(words[i].Title.contains(QStringLiteral("x_font \"Courier\"")), word.FontName == "Courier");
        // hOCR's font size is a whole number.
        static const QRegularExpression size(QStringLiteral("; x_fsize (\\S+)"));
        const QRegularExpressionMatch fsize = size.match(words[i].Title);
        EXPECT_EQ(fsize.hasMatch(), word.FontSize > 0);
        if (fsize.hasMatch()) {
            EXPECT_EQ(fsize.captured(1), QString::number(qRound(word.FontSize)));
        }
        const QString style = QString(word.Bold ? "font-weight:bold" : "") + (word.Bold && word.Italic ? ";" : "") +
                              (word.Italic ? "font-style:italic" : "");
        EXPECT_EQ(words[i].Style, style);
    }
}

// What XML cannot carry (unpaired surrogates, such as a file name's bytes that
// are not UTF-8 stand as, control characters, U+FFFF) comes out as U+FFFD, so
// the document stays well-formed; a font's name cannot add a property to a
// word's title, however it is made.
TEST(LayoutFormatsTest, HocrStaysWellFormedWhateverItsTexts) {
    const QString r = QString(QChar::ReplacementCharacter);
    const struct {
        QString Text, Font, Title;
        QString ReadText, ReadFont, ReadTitle;  // as read back ("x_font" value unquoted)
    } cases[] = {
        {"plain", R"(Evil";x_fsize 999)", "caf\u00E9 & <co>.pdf", "plain", "Evilx_fsize 999", "caf\u00E9 & <co>.pdf"},
        {"p\U0001F600", R"(a\b;c"d; x_wconf 0)", "\U0001D49C", "p\U0001F600", "abcd x_wconf 0", "\U0001D49C"},
        {QString::fromUtf16(u"a\xD83D" u"b\x01" u"c\xFFFF"), QString::fromUtf16(u"F\x02;"),
         QString::fromUtf16(u"caf\xDCE9" u".pdf\x07"), "a" + r + "b" + r + "c" + r, "F" + r, "caf" + r + ".pdf" + r},
        {QString::fromUtf16(u"\xDE00\xD83D"), "", QString::fromUtf16(u"\xD800"), r + r, "", r},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ReadText.toStdString());
        TPageLayout page = GroupWords(1, QSizeF(600, 800), TRotation::ro0, {{c.Text, QRectF(10, 20, 30, 10), c.Font, 9.5, 90}});
        QByteArray hocr = HocrPrologue(c.Title);
        AppendHocrPage(hocr, page);
        hocr += HocrEpilogue();
        EXPECT_EQ(QString::fromUtf8(hocr).toUtf8(), hocr);  // valid UTF-8

        QXmlStreamReader xml(hocr);
        QString title, text, properties;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement) continue;
            if (xml.name() == QLatin1String("title")) title = xml.readElementText();
            if (xml.attributes().value(QLatin1String("class")) == QLatin1String("ocrx_word")) {
                properties = xml.attributes().value(QLatin1String("title")).toString();
                text = xml.readElementText();
            }
        }
        ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString() << "\n" << hocr.constData();
        EXPECT_EQ(title, c.ReadTitle);
        EXPECT_EQ(text, c.ReadText);
        // Split as the simplest reader splits them: at every semicolon.
        QStringList names;
        for (const QString& property : properties.split(';')) names << property.trimmed().section(' ', 0, 0);
        const QString font = c.ReadFont.isEmpty() ? QString() : "x_font \"" + c.ReadFont + "\"; ";
        EXPECT_EQ(properties, "bbox 10 20 40 30; x_wconf 90; " + font + "x_fsize 10");
        EXPECT_EQ(names, c.ReadFont.isEmpty() ? QStringList({"bbox", "x_wconf", "x_fsize"})
                                              : QStringList({"bbox", "x_wconf", "x_font", "x_fsize"}));
    }
}

// ---- Layout text ------------------------------------------------------------

// The layout text of one fixture page, its lines without their ends.
QStringList LayoutLines(int Page, const char* LineEnd = "\n") {
    QByteArray text;
    AppendLayoutText(text, Pages()[Page - 1], LineEnd);
    EXPECT_TRUE(text.endsWith(QByteArray(LineEnd) + '\f') || text == "\f");
    text.chop(1);
    QStringList lines = QString::fromUtf8(text).split(QString::fromLatin1(LineEnd));
    lines.removeLast();  // after the last line end
    return lines;
}

TEST(LayoutFormatsTest, LayoutTextKeepsColumnsSideBySide) {
    const QStringList lines = LayoutLines(TwoColumnsPage);
    ASSERT_EQ(lines.size(), 3);
    const QStringList left = {"alpha beta gamma", "delta epsilon zeta", "eta theta iota"};
    const QStringList right = {"one two three", "four five six", "seven eight nine"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(lines[i].startsWith(left[i])) << lines[i].toStdString();
        // The right column starts where its x (320) lies on the 6 pt grid from the left column's 72.
        EXPECT_EQ(lines[i].indexOf(right[i]), (320 - 72) / 6) << lines[i].toStdString();
        EXPECT_EQ(lines[i].simplified(), left[i] + ' ' + right[i]);
    }
}

TEST(LayoutFormatsTest, LayoutTextAlignsTableCells) {
    QStringList lines = LayoutLines(TablePage);
    lines.removeAll(QString());  // the rows stand apart: empty lines between them
    ASSERT_EQ(lines.size(), 3);
    const QList<QStringList> cells = {{"Name", "Qty", "Price"}, {"apple", "3", "1.20"}, {"pear", "12", "0.80"}};
    const int columns[] = {0, (200 - 72) / 6, (300 - 72) / 6};
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(lines[r].simplified(), cells[r].join(' '));
        for (int c = 0; c < 3; ++c) EXPECT_EQ(lines[r].indexOf(cells[r][c]), columns[c]) << lines[r].toStdString();
    }
}

// Cells a single space apart in the text but apart on the page split back at
// runs of two or more spaces, on columns shared by the rows; a margin note
// stands two spaces from the body's line.
TEST(LayoutFormatsTest, LayoutTextKeepsCellsApartOnSharedColumns) {
    const struct {
        int Page;
        QList<QStringList> Cells;  // each line's, split at runs of two or more spaces
    } cases[] = {
        {SpacedTablePage,
         {{"ec", "Extra Condensed", "62.5%"}, {"c", "Condensed", "75%"}, {"sc", "Semi Condensed", "87.5%"}}},
        {MarginNotePage,
         {{"The body of the page runs forty columns,", "New feature"},
          {"wide, so that a note set beside it stays", "1995/12/01"},
          {"apart from its lines and follows them."},
          {"A second paragraph starts indented"},
          {"below the first one."}}},
    };
    static const QRegularExpression cellGap(QStringLiteral(" {2,}"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Page);
        const QStringList lines = LayoutLines(c.Page);
        ASSERT_EQ(lines.size(), c.Cells.size()) << lines.join('\n').toStdString();
        QList<qsizetype> columns;  // where each column starts, from the first row of that many cells
        for (qsizetype r = 0; r < lines.size(); ++r) {
            EXPECT_EQ(lines[r].trimmed().split(cellGap), c.Cells[r]) << lines[r].toStdString();
            for (qsizetype i = 0; i < c.Cells[r].size(); ++i) {
                const qsizetype at = lines[r].indexOf(c.Cells[r][i]);
                if (c.Cells[r].size() < 2) continue;
                if (columns.size() <= i) columns.append(at);
                EXPECT_EQ(at, columns[i]) << lines[r].toStdString();
            }
        }
    }
}

// The reading text: columns one after the other, the note after its
// paragraph, an empty line between paragraphs and blocks.
TEST(LayoutFormatsTest, ReadingTextFollowsTheReadingOrder) {
    const struct {
        int Page;
        const char* Text;
    } cases[] = {
        {InterleavedColumnsPage, "left one two three four five\nleft six seven eight nine ten\nleft end of the column "
                                 "here\n\nright one two three four five\nright six seven eight nine ten\nright end of "
                                 "the column here\n"},
        {MarginNotePage, "The body of the page runs forty columns,\nwide, so that a note set beside it stays\napart "
                         "from its lines and follows them.\n\nNew feature\n1995/12/01\n\nA second paragraph starts "
                         "indented\nbelow the first one.\n"},
        // The hyphenated word is written whole where the line ends.
        {HyphenPage, "a long example\nfollows\n"},
        {EmptyPage, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Page);
        QByteArray text;
        AppendReadingText(text, Pages()[c.Page - 1]);
        EXPECT_EQ(text, c.Text);
    }
    QByteArray crlf;
    AppendReadingText(crlf, Pages()[HyphenPage - 1], "\r\n");
    EXPECT_EQ(crlf, "a long example\r\nfollows\r\n");
}

// A character beyond U+FFFF takes one cell, as it takes one place on the page.
TEST(LayoutFormatsTest, LayoutTextKeepsCharactersBeyondTheBmp) {
    EXPECT_EQ(LayoutLines(BeyondBmpPage), (QStringList{"x\U0001D49Cy \U0001F600\U0001F600", "",
                                                         "x\uFFFDy \uFFFD\U0001D49C"}));
    // Placed by cells: a column starting past a line of such characters stands where it stands.
    const TPageLayout page = GroupWords(1, QSizeF(600, 800), TRotation::ro0,
                                        {{"\U0001F600\U0001F600\U0001F600", QRectF(0, 0, 30, 10), {}, 10, 100},
                                         {"ab", QRectF(100, 0, 20, 10), {}, 10, 100}});
    QByteArray text;
    AppendLayoutText(text, page);
    EXPECT_EQ(QString::fromUtf8(text), "\U0001F600\U0001F600\U0001F600" + QString(7, ' ') + "ab\n\f");
}

// Text far off the page (ten million points) stands at the page's edge, one
// empty line at most between it and the page's rows: the page's bytes stay
// within its grid, and no word is lost.
TEST(LayoutFormatsTest, LayoutTextKeepsFarOffTextWithinThePage) {
    const double far = 1e7;
    QList<PlacedRun> runs = {{72, 700, "first on page"}, {far, 700, "far right"}, {-far, 680, "far left"},
                             {72, 660, "second on page"}, {72, far, "far above"}};
    for (int row = 0; row < 50; ++row) runs.append({far + row, -far - 20 * row, "below " + QByteArray::number(row)});
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(PlacedTextPdf({{runs}}), true);
    QByteArray text;
    AppendLayoutText(text, ReadPageLayout(pdf));
    ASSERT_LT(text.size(), 8000);
    QStringList lines = QString::fromUtf8(text.chopped(2)).split('\n');
    EXPECT_LT(lines.size(), 2 * 54);
    lines.removeAll(QString());
    ASSERT_EQ(lines.size(), 54) << text.constData();
    // The grid starts at the page's left edge, as one line starts left of it,
    // and ends at its right edge, 612 / 6 cells on.
    EXPECT_EQ(lines[0], QString(12, ' ') + "far above");
    EXPECT_EQ(lines[1], QString(12, ' ') + "first on page" + QString(102 - 25, ' ') + "far right");
    EXPECT_EQ(lines[2], "far left");
    EXPECT_EQ(lines[3], QString(12, ' ') + "second on page");
    for (int row = 0; row < 50; ++row) EXPECT_EQ(lines[4 + row], QString(102, ' ') + "below " + QString::number(row));
}

TEST(LayoutFormatsTest, LayoutTextEndsLinesAsAskedAndPagesWithAFormFeed) {
    QByteArray crlf;
    AppendLayoutText(crlf, Pages()[TwoColumnsPage - 1], "\r\n");
    EXPECT_EQ(crlf.count("\r\n"), 3);
    EXPECT_EQ(crlf.count('\n'), 3);
    EXPECT_TRUE(crlf.endsWith("\r\n\f"));
    QByteArray empty;
    AppendLayoutText(empty, Pages()[EmptyPage - 1]);
    EXPECT_EQ(empty, "\f");
    // Turned text follows the level lines, each line on a line of its own.
    EXPECT_EQ(LayoutLines(RotatedTextPage), (QStringList{"level line", "upward text"}));
}

}  // namespace
