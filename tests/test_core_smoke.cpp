#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "component/FPdf.h"
#include "support/PdfBuilder.h"

using namespace kestrune;
using namespace testing_support;

TEST(Smoke, OpensAndReadsText) {
    QTemporaryDir dir;
    const QString path = WriteFile(dir.filePath("a.pdf"), SimpleTextPdf({{"Hello world", "Second line"}, {}}));
    TFPdf pdf;
    pdf.SetFileName(path);
    pdf.SetActive(true);
    EXPECT_EQ(pdf.GetPageCount(), 2);
    pdf.SetPageNumber(1);
    EXPECT_EQ(pdf.Text(), QString("Hello world\r\nSecond line"));
}
