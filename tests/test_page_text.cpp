// The page text as a reader wants it: the engine's line-end hyphen marks
// resolved, joining a word or keeping a compound's hyphen.
#include <gtest/gtest.h>

#include <kestrune/FPdf.h>
#include <kestrune/PageText.h>

#include "support/PdfBuilder.h"

using namespace kestrune;

namespace {

TEST(PageText, LineEndHyphenMarksAreResolved) {
    const QChar mark(0xFFFE);
    const struct {
        QString Engine;
        QString Readable;
    } cases[] = {
        {"plain text", "plain text"},
        {QString("devel%1opment").arg(mark), "development"},
        {QString("Über%1prüfung").arg(mark), "Überprüfung"},
        {QString("Data%1Base").arg(mark), "Data-Base"},               // a capital letter after it
        {QString("ISO%1latin").arg(mark), "ISO-latin"},               // a name before it
        {QString("LaTeX%1based").arg(mark), "LaTeX-based"},
        {QString("state-of-the%1art").arg(mark), "state-of-the-art"},  // a compound already
        {"page" + QString(mark) + "123", "page-123"},                 // a digit after it
        {QString("x2%1fold").arg(mark), "x2-fold"},
        {QString("end%1").arg(mark), "end-"},                         // nothing after it
        {QString("%1start").arg(mark), "-start"},
        {QString("a%1b c%1d").arg(mark), "ab cd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadableText(c.Engine), c.Readable) << c.Engine.toStdString();
        EXPECT_FALSE(ReadableText(c.Engine).contains(mark));
    }
}

// The engine's own text of a page with words hyphenated at line ends: the
// component keeps its marks, the readable text has none.
TEST(PageText, TheEnginesTextKeepsItsMarks) {
    TFPdf pdf;
    pdf.SetPageNumber(0);
    pdf.LoadDocument(testing_support::SimpleTextPdf({{"This is the devel-", "opment of LaTeX-", "based tools"}}), true);
    pdf.SetPageNumber(1);
    const QString text = pdf.Text(0, std::numeric_limits<int>::max());
    EXPECT_TRUE(text.contains(QChar(0xFFFE))) << text.toStdString();
    EXPECT_EQ(ReadableText(text), "This is the development of LaTeX-based tools");
}

}  // namespace
