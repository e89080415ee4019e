// Form fields of the current page: values by index and by position, with and
// without a form environment, and the descriptions of every field kind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QTemporaryDir>
#include <functional>

#include <kestrune/FPdf.h>
#include "support/EngineSpy.h"
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using testing_support::EngineSpy;
using testing_support::ErrorOf;
using testing_support::ExpectError;
using testing_support::PdfBuilder;
using testing_support::Ref;
using testing_support::Saved;
using FT = TPdfFormFieldType;
using FF = TPdfFormFieldFlag;

namespace {

// Annotation indices of the fixture page, in page order.
constexpr int kName = 0, kAgree = 1, kRed = 2, kBlue = 3, kSize = 4, kFruits = 5, kId = 6, kEmail = 7,
              kSubmit = 8, kSign = 9, kLink = 10, kCount = 11;

// Centres of a few widgets, in page units.
constexpr float kNameX = 150, kNameY = 710;
constexpr float kBlueX = 110, kBlueY = 610;
constexpr float kEmptyX = 500, kEmptyY = 100;

// An AcroForm page: a multiline text field (engine flag bits 12 and 13), a
// check box, two radio buttons of one group, a combo box and a list box with
// options, a read-only and a required field, a push button, a signature field,
// and a link that is no field at all.
QByteArray FormPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int content = b.AddStream("<< >>", "BT /Helv 12 Tf 50 750 Td (Form page) Tj ET");
    const QByteArray on = QByteArray::number(b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 20 20] >>",
                                                         "0 g 4 4 12 12 re f")) + " 0 R";
    const QByteArray off = QByteArray::number(
                               b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 20 20] >>", "")) + " 0 R";
    const QByteArray p = " /P " + QByteArray::number(page) + " 0 R";
    const QByteArray widget = " /Type /Annot /Subtype /Widget /F 4" + p;

    const int radioGroup = b.Reserve();
    QList<int> annots;
    annots << b.Add("<<" + widget + " /FT /Tx /T (Name) /TU (Full name) /V (Hello) /DA (/Helv 12 Tf 0 g)"
                    " /Ff 12288 /Rect [50 700 250 720] >>");
    annots << b.Add("<<" + widget + " /FT /Btn /T (Agree) /V /Yes /AS /Yes /AP << /N << /Yes " + on + " /Off " + off +
                    " >> >> /Rect [50 650 70 670] >>");
    annots << b.Add("<<" + widget + " /Parent " + QByteArray::number(radioGroup) + " 0 R /AS /Off /AP << /N << /Red " +
                    on + " /Off " + off + " >> >> /Rect [50 600 70 620] >>");
    annots << b.Add("<<" + widget + " /Parent " + QByteArray::number(radioGroup) + " 0 R /AS /Blue /AP << /N << /Blue " +
                    on + " /Off " + off + " >> >> /Rect [100 600 120 620] >>");
    annots << b.Add("<<" + widget + " /FT /Ch /T (Size) /Ff 393216 /Opt [(Small) (Medium) (Large)] /V (Medium)"
                    " /DA (/Helv 10 Tf 0 g) /Rect [50 550 250 570] >>");
    annots << b.Add("<<" + widget + " /FT /Ch /T (Fruits) /Opt [(Apple) (Banana) (Cherry)] /V (Banana) /I [1]"
                    " /DA (/Helv 9 Tf 0 g) /Rect [50 450 250 530] >>");
    annots << b.Add("<<" + widget + " /FT /Tx /T (Id) /Ff 1 /V (42) /DA (/Helv 8 Tf 0 g) /Rect [300 700 400 720] >>");
    annots << b.Add("<<" + widget + " /FT /Tx /T (Email) /Ff 6 /DA (/Helv 0 Tf 0 g) /Rect [300 650 500 670] >>");
    annots << b.Add("<<" + widget + " /FT /Btn /T (Submit) /Ff 65536 /Rect [300 600 360 620] >>");
    annots << b.Add("<<" + widget + " /FT /Sig /T (Sign) /Rect [300 500 400 540] >>");
    annots << b.Add("<< /Type /Annot /Subtype /Link /Rect [300 400 400 420] /A << /S /URI /URI (http://example.com/) >>" +
                    p + " >>");
    b.Set(radioGroup, "<< /FT /Btn /T (Color) /Ff 49152 /V /Blue /Kids [" + QByteArray::number(annots[kRed]) +
                          " 0 R " + QByteArray::number(annots[kBlue]) + " 0 R] >>");

    QByteArray refs, fields;
    for (int i = 0; i < annots.size(); ++i) {
        refs += QByteArray::number(annots[i]) + " 0 R ";
        if (i == kRed) fields += QByteArray::number(radioGroup) + " 0 R ";
        else if (i != kBlue && i != kLink) fields += QByteArray::number(annots[i]) + " 0 R ";
    }
    b.Set(page, "<< /Type /Page /Parent " + QByteArray::number(pages) + " 0 R /MediaBox [0 0 612 792]"
                " /Resources << /Font << /Helv " + QByteArray::number(font) + " 0 R >> >> /Contents " +
                QByteArray::number(content) + " 0 R /Annots [" + refs + "] >>");
    b.SetPageTree(catalog, pages, {page},
                  "/AcroForm << /Fields [" + fields + "] /DA (/Helv 11 Tf 0 g) /DR << /Font << /Helv " +
                      Ref(font) + " >> >> >>");
    return b.Build(catalog);
}

void Open(TFPdf& Pdf, const QByteArray& Bytes, bool FormFill = true) {
    Pdf.SetFormFill(FormFill);
    Pdf.SetPageNumber(1);
    Pdf.LoadDocument(Bytes, true);
}

struct ExpectedInfo {
    int Index;
    QString Name;
    QString AlternateName;
    FT FieldType;
    TPdfFormFieldFlags Flags;
    QStringList OptionLabels;
    QList<bool> OptionSelected;
    float FontSize;
    bool Checked;
    QString ExportValue;
    int GroupCount;
    int GroupIndex;
};

void ExpectInfo(const TPdfFormFieldInfo& Info, const ExpectedInfo& E) {
    SCOPED_TRACE(E.Index);
    EXPECT_EQ(Info.Name, E.Name);
    EXPECT_EQ(Info.AlternateName, E.AlternateName);
    EXPECT_EQ(Info.FieldType, E.FieldType);
    EXPECT_EQ(Info.Flags, E.Flags);
    EXPECT_EQ(Info.OptionLabels, E.OptionLabels);
    EXPECT_EQ(Info.OptionSelected, E.OptionSelected);
    EXPECT_FLOAT_EQ(Info.FontSize, E.FontSize);
    EXPECT_EQ(Info.Checked, E.Checked);
    EXPECT_EQ(Info.ExportValue, E.ExportValue);
    EXPECT_EQ(Info.GroupCount, E.GroupCount);
    EXPECT_EQ(Info.GroupIndex, E.GroupIndex);
}

}  // namespace

TEST(FormFields, ValuesByIndexReadWriteAndSurviveSaving) {
    TFPdf pdf;
    Open(pdf, FormPdf());
    ASSERT_EQ(pdf.GetFormFieldCount(), kCount);
    EXPECT_EQ(pdf.GetFormField(kName), QStringLiteral("Hello"));
    EXPECT_EQ(pdf.GetFormField(kId), QStringLiteral("42"));
    EXPECT_EQ(pdf.GetFormField(kEmail), QString());  // no value
    EXPECT_EQ(pdf.GetFormField(kLink), QString());   // not a field: its (absent) "V" entry

    const QString text = QStringLiteral("Gr\u00fc\u00dfe \u4e16\u754c");
    pdf.SetFormField(kName, text);
    pdf.SetFormField(kId, QString());  // the empty value replaces "42"
    EXPECT_EQ(pdf.GetFormField(kName), text);
    EXPECT_EQ(pdf.GetFormField(kId), QString());

    TFPdf reopened;
    Open(reopened, Saved(pdf));
    EXPECT_EQ(reopened.GetFormField(kName), text);
    EXPECT_EQ(reopened.GetFormField(kId), QString());
}

TEST(FormFields, ValuesByPositionThroughTheFormEnvironment) {
    TFPdf pdf;
    Open(pdf, FormPdf());
    EXPECT_TRUE(pdf.GetHasFormFieldAt(kNameX, kNameY));
    EXPECT_TRUE(pdf.GetHasFormFieldAt(kBlueX, kBlueY));
    EXPECT_FALSE(pdf.GetHasFormFieldAt(kEmptyX, kEmptyY));
    EXPECT_EQ(pdf.GetFormFieldAt(kNameX, kNameY), QStringLiteral("Hello"));

    pdf.SetFormFieldAt(kNameX, kNameY, QStringLiteral("By point"));
    EXPECT_EQ(pdf.GetFormFieldAt(kNameX, kNameY), QStringLiteral("By point"));
    EXPECT_EQ(pdf.GetFormField(kName), QStringLiteral("By point"));

    const QString position = QStringLiteral("Incorrect position");
    ExpectError([&] { pdf.GetFormFieldAt(kEmptyX, kEmptyY); }, position);
    ExpectError([&] { pdf.SetFormFieldAt(kEmptyX, kEmptyY, QStringLiteral("x")); }, position);
    ExpectError([&] { pdf.GetFormFieldInfoAt(kEmptyX, kEmptyY); }, position);

    TFPdf reopened;
    Open(reopened, Saved(pdf));
    EXPECT_EQ(reopened.GetFormFieldAt(kNameX, kNameY), QStringLiteral("By point"));
}

TEST(FormFields, WithoutFormEnvironmentOnlyIndicesReachFields) {
    TFPdf pdf;
    Open(pdf, FormPdf(), false);
    ASSERT_EQ(pdf.GetFormHandle(), nullptr);
    EXPECT_FALSE(pdf.GetHasFormFieldAt(kNameX, kNameY));
    ExpectError([&] { pdf.GetFormFieldAt(kNameX, kNameY); }, QStringLiteral("Incorrect position"));
    ExpectError([&] { pdf.SetFormFieldAt(kNameX, kNameY, QStringLiteral("x")); }, QStringLiteral("Incorrect position"));
    ExpectError([&] { pdf.GetFormFieldInfoAt(kNameX, kNameY); }, QStringLiteral("Incorrect position"));

    EXPECT_EQ(pdf.GetFormField(kName), QStringLiteral("Hello"));
    pdf.SetFormField(kName, QStringLiteral("No environment"));
    EXPECT_EQ(pdf.GetFormField(kName), QStringLiteral("No environment"));

    // Descriptions go through the form environment: without one the engine
    // reports nothing, and its error values pass through unchanged.
    ExpectInfo(pdf.GetFormFieldInfo(kName), {kName, {}, {}, FT::fiUnknown, {}, {}, {}, -1, false, {}, -1, -1});
}

TEST(FormFields, DescribesEveryFieldKind) {
    TFPdf pdf;
    Open(pdf, FormPdf());
    const QList<ExpectedInfo> expected = {
        // Engine bits 12 and 13 set: only bit 12 has a member. Fields without a
        // font of their own take the form's default size, 11; "Email" asks for
        // automatic size, 0.
        {kName, "Name", "Full name", FT::fiTextField, {FF::ffMultiline}, {}, {}, 12, false, {}, 1, 0},
        {kAgree, "Agree", {}, FT::fiCheckBox, {}, {}, {}, 11, true, "Yes", 1, 0},
        {kRed, "Color", {}, FT::fiRadioButton, {}, {}, {}, 11, false, "Red", 2, 0},
        {kBlue, "Color", {}, FT::fiRadioButton, {}, {}, {}, 11, true, "Blue", 2, 1},
        {kSize, "Size", {}, FT::fiComboBox, {FF::ffChoiceCombo, FF::ffChoiceEdit},
         {"Small", "Medium", "Large"}, {false, true, false}, 10, false, {}, 1, 0},
        {kFruits, "Fruits", {}, FT::fiListBox, {}, {"Apple", "Banana", "Cherry"}, {false, true, false}, 9, false, {}, 1, 0},
        {kId, "Id", {}, FT::fiTextField, {FF::ffReadOnly}, {}, {}, 8, false, {}, 1, 0},
        {kEmail, "Email", {}, FT::fiTextField, {FF::ffRequired, FF::ffNoExport}, {}, {}, 0, false, {}, 1, 0},
        {kSubmit, "Submit", {}, FT::fiPushButton, {}, {}, {}, 11, false, {}, 1, 0},
        {kSign, "Sign", {}, FT::fiSignature, {}, {}, {}, 11, false, {}, 1, 0},
    };
    for (const ExpectedInfo& e : expected) ExpectInfo(pdf.GetFormFieldInfo(e.Index), e);

    // By position: the same description as by index.
    ExpectInfo(pdf.GetFormFieldInfoAt(kBlueX, kBlueY), expected[kBlue]);
}

TEST(FormFields, IndexAndPageErrors) {
    TFPdf pdf;
    Open(pdf, FormPdf());
    const QString incorrect = QStringLiteral("Incorrect index");
    for (int index : {-1, kCount}) {
        SCOPED_TRACE(index);
        ExpectError([&] { pdf.GetFormField(index); }, incorrect);
        ExpectError([&] { pdf.SetFormField(index, QStringLiteral("x")); }, incorrect);
        ExpectError([&] { pdf.GetFormFieldInfo(index); }, incorrect);
    }

    pdf.SetPageNumber(0);
    const QString noPage = QStringLiteral("Cannot perform this operation on an inactive page");
    ExpectError([&] { pdf.GetFormFieldCount(); }, noPage);
    ExpectError([&] { pdf.GetFormField(0); }, noPage);
    ExpectError([&] { pdf.SetFormField(0, {}); }, noPage);
    ExpectError([&] { pdf.GetFormFieldInfo(0); }, noPage);
    ExpectError([&] { pdf.GetFormFieldAt(kNameX, kNameY); }, noPage);
    ExpectError([&] { pdf.SetFormFieldAt(kNameX, kNameY, {}); }, noPage);
    ExpectError([&] { pdf.GetHasFormFieldAt(kNameX, kNameY); }, noPage);
    ExpectError([&] { pdf.GetFormFieldInfoAt(kNameX, kNameY); }, noPage);
}

// ---- Announcing the page to the form environment ---------------------------

namespace {

// Pages of text, each with a link and a squiggly underline without appearance,
// which the engine generates when the page is announced. With Endless, the
// first page's underline reaches 2^31 page units: generating its appearance
// never finishes, and allocates as it goes. The text is readable either way.
QByteArray AnnotatedTextPdf(int PageCount, bool Endless = false) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    QList<int> kids;
    for (int n = 1; n <= PageCount; ++n) {
        const int page = b.Reserve();
        const QByteArray owner = " /P " + Ref(page);
        const QByteArray right = Endless && n == 1 ? "2147483648" : "100";
        const QByteArray annots =
            Ref(b.Add("<< /Type /Annot /Subtype /Link /Rect [50 700 200 720]"
                      " /A << /S /URI /URI (http://example.com/) >>" + owner + " >>")) + " " +
            Ref(b.Add("<< /Type /Annot /Subtype /Squiggly /Rect [0 0 100 20] /QuadPoints [0 20 " + right + " 20 0 0 " +
                      right + " 0]" + owner + " >>"));
        const int content = b.AddStream("<< >>", "BT /F1 12 Tf 72 720 Td (Page " + QByteArray::number(n) + ") Tj ET");
        b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792] /Resources << /Font << /F1 " +
                        Ref(font) + " >> >> /Contents " + Ref(content) + " /Annots [" + annots + "] >>");
        kids << page;
    }
    b.SetPageTree(catalog, pages, kids, "/AcroForm << /Fields [] >>");
    return b.Build(catalog);
}

}  // namespace

TEST(FormAnnouncement, PageIsAnnouncedOnceWhenItsFormViewIsNeeded) {
    LoadEngine();
    EngineSpy<engine::FORM_OnAfterLoadPage> announced;
    EngineSpy<engine::FORM_OnBeforeClosePage> withdrawn;
    TFPdf pdf;
    Open(pdf, FormPdf());
    EXPECT_EQ(pdf.Text(), QStringLiteral("Form page"));
    EXPECT_EQ(pdf.GetFormField(kName), QStringLiteral("Hello"));  // the "V" entry needs no form view
    EXPECT_EQ(announced.Calls, 0);

    // Font size, check state and export value come from the form view.
    const TPdfFormFieldInfo agree = pdf.GetFormFieldInfo(kAgree);
    EXPECT_EQ(announced.Calls, 1);
    EXPECT_TRUE(agree.Checked);
    EXPECT_EQ(agree.ExportValue, QStringLiteral("Yes"));
    EXPECT_FLOAT_EQ(pdf.GetFormFieldInfo(kName).FontSize, 12);
    EXPECT_TRUE(pdf.GetHasFormFieldAt(kNameX, kNameY));
    EXPECT_EQ(announced.Calls, 1) << "once per page visit";

    // Withdrawn when the page closes; the next visit announces again on demand.
    pdf.ReloadPage();
    EXPECT_EQ(withdrawn.Calls, 1);
    EXPECT_EQ(announced.Calls, 1);
    EXPECT_EQ(pdf.GetFormFieldAt(kNameX, kNameY), QStringLiteral("Hello"));
    EXPECT_EQ(announced.Calls, 2);
    pdf.SetActive(false);
    EXPECT_EQ(withdrawn.Calls, 2);

    // Form drawing needs it; a page never announced is never withdrawn.
    Open(pdf, FormPdf());
    pdf.RenderPage(0, 0, 61, 79);
    EXPECT_EQ(announced.Calls, 3);
    pdf.SetPageNumber(0);
    EXPECT_EQ(withdrawn.Calls, 3);
    pdf.SetPageNumber(1);
    pdf.SetActive(false);
    EXPECT_EQ(withdrawn.Calls, 3);
}

TEST(FormAnnouncement, ReadingTextNeverAnnouncesAPage) {
    LoadEngine();
    EngineSpy<engine::FORM_OnAfterLoadPage> announced;
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(AnnotatedTextPdf(3), true);
    ASSERT_NE(pdf.GetDocument(), nullptr);
    for (int n = 1; n <= pdf.GetPageCount(); ++n) {
        pdf.SetPageNumber(n);
        EXPECT_EQ(pdf.Text(), QStringLiteral("Page %1").arg(n));
        EXPECT_EQ(pdf.GetLinkAnnotationCount(), 1);
        EXPECT_EQ(pdf.GetAnnotationCount(), 2);
    }
    pdf.SetActive(false);
    EXPECT_EQ(announced.Calls, 0);
}

TEST(FormAnnouncement, TextOfAPageWithAnEndlessAppearanceIsReadAtOnce) {
    // In a child process under a time limit: the fault this guards against
    // never returns and keeps allocating.
    const QByteArray bytes = AnnotatedTextPdf(1, true);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        bool ok = false;
        try {
            TFPdf pdf;
            pdf.SetPageNumber(1);
            pdf.LoadDocument(bytes, true);
            ok = pdf.Text() == QStringLiteral("Page 1");
        } catch (...) {
        }
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
}

// ---- Fields by full name ---------------------------------------------------------

namespace {

// Where the "Name" widget of FieldsByNamePdf sits on its page, in pixels of a
// 72 dpi rendering (page units turned upside down).
const QRect kNameWidgetPixels(100, 792 - 630, 200, 30);

// Two pages; the fields are on the second. "Name" keeps its value, "Alice", on
// the parent field, whose one widget has none of its own and an appearance
// that shows nothing (as a form written by a program that never drew it).
// "person.first" is a field under a parent that is no field itself, and takes
// at most five characters.
QByteArray FieldsByNamePdf() {
    PdfBuilder b;
    const int catalog = b.Reserve(), pages = b.Reserve(), page1 = b.Reserve(), page2 = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int blank = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 200 30] >>", "");
    const int name = b.Reserve(), widget = b.Reserve(), person = b.Reserve(), first = b.Reserve();
    b.Set(name, "<< /FT /Tx /T (Name) /V (Alice) /DA (/Helv 12 Tf 0 g) /Kids [" + Ref(widget) + "] >>");
    b.Set(widget, "<< /Type /Annot /Subtype /Widget /F 4 /P " + Ref(page2) + " /Parent " + Ref(name) +
                      " /Rect [100 600 300 630] /AP << /N " + Ref(blank) + " >> >>");
    b.Set(person, "<< /T (person) /Kids [" + Ref(first) + "] >>");
    b.Set(first, "<< /Type /Annot /Subtype /Widget /F 4 /P " + Ref(page2) + " /Parent " + Ref(person) +
                     " /FT /Tx /T (first) /V (Ada) /MaxLen 5 /DA (/Helv 12 Tf 0 g) /Rect [100 500 300 530] >>");
    const QByteArray resources = " /Resources << /Font << /Helv " + Ref(font) + " >> >>";
    const int text1 = b.AddStream("<< >>", "BT /Helv 12 Tf 50 750 Td (Page one) Tj ET");
    const int text2 = b.AddStream("<< >>", "BT /Helv 12 Tf 50 750 Td (Page two) Tj ET");
    b.Set(page1, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792]" + resources + " /Contents " +
                     Ref(text1) + " >>");
    b.Set(page2, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 612 792]" + resources + " /Contents " +
                     Ref(text2) + " /Annots [" + Ref(widget) + " " + Ref(first) + "] >>");
    b.SetPageTree(catalog, pages, {page1, page2},
                  "/AcroForm << /Fields [" + Ref(name) + " " + Ref(person) + "] /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv " +
                      Ref(font) + " >> >> >>");
    return b.Build(catalog);
}

// The pixels of Area in Image that are not white.
int InkIn(const QImage& Image, const QRect& Area) {
    int ink = 0;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            if (QColor(Image.pixel(x, y)).lightness() < 200) ++ink;
    return ink;
}

// Page 2 of the file as the component shows it, fields drawn by the form
// environment from their stored appearances, at 72 dpi.
QImage RenderedPage2(const QString& File) {
    TFPdf pdf;
    pdf.SetFileName(File);
    pdf.SetPageNumber(2);
    pdf.SetActive(true);
    return pdf.RenderPage(0, 0, 612, 792);
}

// Page 2 of the file as poppler's pdftoppm shows it, at 72 dpi; a null image
// when the tool fails.
QImage PopplerShows(const QString& File) {
    const QString prefix = File + QStringLiteral(".poppler");
    QProcess tool;
    tool.start(QStringLiteral("pdftoppm"), {"-f", "2", "-l", "2", "-r", "72", "-png", "-singlefile", File, prefix});
    if (!tool.waitForFinished(60000) || tool.exitCode() != 0) return {};
    return QImage(prefix + QStringLiteral(".png"));
}

}  // namespace

TEST(FieldsByName, ValuesAreReadWhereverTheDocumentKeepsThem) {
    TFPdf pdf;
    Open(pdf, FieldsByNamePdf());
    // The widget itself has no value: read by index it is empty.
    pdf.SetPageNumber(2);
    EXPECT_EQ(pdf.GetFormField(0), QString());
    pdf.SetPageNumber(1);
    void* const page = pdf.GetPage();

    EXPECT_EQ(pdf.GetFieldValue(QStringLiteral("Name")), QStringLiteral("Alice"));
    EXPECT_EQ(pdf.GetFieldValue(QStringLiteral("person.first")), QStringLiteral("Ada"));
    EXPECT_EQ(pdf.GetPage(), page) << "the current page stays open as it was";
    for (const char* unknown : {"first", "person", "name", "Nobody"})
        ExpectError([&] { pdf.GetFieldValue(QString::fromLatin1(unknown)); }, QStringLiteral("Unknown form field"));
    ExpectError([&] { pdf.SetFieldValue(QStringLiteral("Nobody"), QStringLiteral("x")); },
                QStringLiteral("Unknown form field"));
    // A value the field would cut is refused whole.
    ExpectError([&] { pdf.SetFieldValue(QStringLiteral("person.first"), QStringLiteral("Adalbert")); },
                QStringLiteral("Cannot set form field value"));
    EXPECT_EQ(pdf.GetFieldValue(QStringLiteral("person.first")), QStringLiteral("Ada"));
    pdf.SetFieldValue(QStringLiteral("person.first"), QStringLiteral("Ida"));
    EXPECT_EQ(pdf.GetFieldValue(QStringLiteral("person.first")), QStringLiteral("Ida"));

    TFPdf plain;
    plain.SetName(QStringLiteral("FPdf1"));
    ExpectError([&] { plain.GetFieldValue(QStringLiteral("Name")); },
                QStringLiteral("Cannot perform this operation on an inactive FPdf1 component"));
    Open(plain, FieldsByNamePdf(), false);
    for (const auto& call : {std::function<void()>([&] { plain.GetFieldValue(QStringLiteral("Name")); }),
                             std::function<void()>([&] { plain.SetFieldValue(QStringLiteral("Name"), "x"); })})
        ExpectError(call, QStringLiteral("Cannot perform this operation without a form environment"));
}

// The value set is the field's (the parent's, not the widget's), and its
// appearance is drawn anew: the saved file shows it, where the original's
// stored appearance showed nothing.
TEST(FieldsByName, ASetValueIsShownInTheSavedFile) {
    QTemporaryDir dir;
    const QString original = testing_support::WriteFile(dir.filePath("form.pdf"), FieldsByNamePdf());
    const QString saved = dir.filePath("filled.pdf");
    {
        TFPdf pdf;
        pdf.SetFileName(original);
        pdf.SetPageNumber(1);
        pdf.SetActive(true);
        pdf.SetFieldValue(QStringLiteral("Name"), QStringLiteral("Bob Builder"));
        EXPECT_EQ(pdf.GetFieldValue(QStringLiteral("Name")), QStringLiteral("Bob Builder"));
        ASSERT_TRUE(pdf.SaveAs(saved));
    }
    TFPdf reopened;
    reopened.SetFileName(saved);
    reopened.SetActive(true);
    EXPECT_EQ(reopened.GetFieldValue(QStringLiteral("Name")), QStringLiteral("Bob Builder"));
    EXPECT_EQ(reopened.GetFieldValue(QStringLiteral("person.first")), QStringLiteral("Ada"));

    EXPECT_EQ(InkIn(RenderedPage2(original), kNameWidgetPixels), 0);
    EXPECT_GT(InkIn(RenderedPage2(saved), kNameWidgetPixels), 50);
    // And as another reader shows it.
    const QImage before = PopplerShows(original), after = PopplerShows(saved);
    ASSERT_FALSE(before.isNull() || after.isNull()) << "pdftoppm failed";
    EXPECT_EQ(InkIn(before, kNameWidgetPixels), 0);
    EXPECT_GT(InkIn(after, kNameWidgetPixels), 50);
}

TEST(FieldsByName, EachKindOfFieldTakesItsKindOfValue) {
    const struct {
        const char* Field;
        const char* Value;
        const char* After;  // the field's value afterwards; null when the value is refused
    } cases[] = {
        {"Name", "Replaced text", "Replaced text"},
        {"Name", "", ""},
        {"Size", "Large", "Large"},               // a combo box's option
        {"Size", "Extra large", "Extra large"},   // typed into the editable combo box
        {"Fruits", "Cherry", "Cherry"},           // a list box's option
        {"Fruits", "Durian", nullptr},            // no such option
        {"Agree", "Off", "Off"},                  // a check box cleared
        {"Agree", "Yes", "Yes"},                  // already so
        {"Color", "Red", "Red"},                  // the other radio button
        {"Color", "Green", nullptr},              // no button exports it
        {"Id", "7", nullptr},                     // read only
        {"Submit", "x", nullptr},                 // a push button holds no value
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Field) + " = " + c.Value);
        TFPdf pdf;
        Open(pdf, FormPdf());
        int focusEvents = 0;
        pdf.OnFormFieldEnter = [&](QObject*, const QString&) { ++focusEvents; };
        pdf.OnFormFieldExit = [&](QObject*) { ++focusEvents; };
        const QString field = QString::fromLatin1(c.Field);
        const QString before = pdf.GetFieldValue(field);
        if (c.After) {
            EXPECT_EQ(ErrorOf([&] { pdf.SetFieldValue(field, QString::fromUtf8(c.Value)); }), QString());
            EXPECT_EQ(pdf.GetFieldValue(field), QString::fromUtf8(c.After));
        } else {
            ExpectError([&] { pdf.SetFieldValue(field, QString::fromUtf8(c.Value)); },
                        QStringLiteral("Cannot set form field value"));
            EXPECT_EQ(pdf.GetFieldValue(field), before) << "a refused value changes nothing";
        }
        EXPECT_EQ(focusEvents, 0);
    }
}
