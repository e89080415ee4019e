// The form environment on the real engine: its set-up and release, the form
// type, the timer the engine asks for, and text-field focus events.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"
#include "support/TestHelpers.h"

using namespace kestrune;
using namespace testing_support;

// The engine calls the callbacks with the address of the component's callback
// record, which nothing public hands out. The tests reach the record the same
// way the engine does, by its address inside the component: an explicit
// instantiation may name a private member, and the friend function it defines
// hands that member pointer out.
namespace {
TPdfFormFillInfo TFPdf::*FormFillInfoMember();
template <TPdfFormFillInfo TFPdf::*Member>
struct FormFillInfoAccess {
    friend TPdfFormFillInfo TFPdf::*FormFillInfoMember() { return Member; }
};
template struct FormFillInfoAccess<&TFPdf::FFormFillInfo>;

FPDF_FORMFILLINFO* Record(TFPdf& pdf) { return &(pdf.*FormFillInfoMember()).Info; }

// Runs the event loop until Done() holds or Milliseconds pass.
bool RunUntil(const std::function<bool()>& Done, int Milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!Done() && clock.elapsed() < Milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return Done();
}

// What the engine's timer callbacks were called with.
struct TimerCalls {
    int First = 0, Second = 0, LastId = 0;
} gTimerCalls;
void FirstTimerCallback(int id) {
    ++gTimerCalls.First;
    gTimerCalls.LastId = id;
}
void SecondTimerCallback(int id) {
    ++gTimerCalls.Second;
    gTimerCalls.LastId = id;
}

// One page with a text field "name" holding "Hello", its widget at
// (100, 600)-(300, 630). Extra catalog entries go into the AcroForm dictionary.
QByteArray TextFieldPdf(const QByteArray& acroFormExtra = {}) {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int page = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int field = b.Add("<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Hello) /F 4"
                            " /Rect [100 600 300 630] /P " + QByteArray::number(page) +
                            " 0 R /DA (/Helv 12 Tf 0 g) >>");
    const int content = b.AddStream("<< >>", "");
    b.Set(page, "<< /Type /Page /Parent " + QByteArray::number(pages) + " 0 R /MediaBox [0 0 612 792] /Contents " +
                    QByteArray::number(content) + " 0 R /Annots [" + QByteArray::number(field) + " 0 R] >>");
    b.SetPageTree(catalog, pages, {page},
                  "/AcroForm << /Fields [" + Ref(field) + "] /DA (/Helv 12 Tf 0 g) /DR << /Font << /Helv " +
                      Ref(font) + " >> >> " + acroFormExtra + " >>");
    return b.Build(catalog);
}

class FormEnvironment : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Timers tick through the event loop of the application object.
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_form_environment";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }
    void SetUp() override { gTimerCalls = {}; }
};

}  // namespace

TEST_F(FormEnvironment, SetUpDependsOnFormFillAndEndsWithTheDocument) {
    const QByteArray bytes = TextFieldPdf();
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(bytes);
    EXPECT_NE(pdf.GetFormHandle(), nullptr);
    pdf.SetActive(false);
    EXPECT_EQ(pdf.GetFormHandle(), nullptr);

    pdf.SetFormFill(false);
    pdf.LoadDocument(bytes);
    EXPECT_EQ(pdf.GetFormHandle(), nullptr);
    EXPECT_EQ(pdf.GetFormType(), TPdfFormType::ftAcroForm);
    pdf.SetActive(false);

    // A created document gets an environment too.
    pdf.SetFormFill(true);
    pdf.CreateDocument();
    EXPECT_NE(pdf.GetFormHandle(), nullptr);
}

TEST_F(FormEnvironment, FormTypeAndXfa) {
    TFPdf pdf;
    pdf.SetName(QStringLiteral("FPdf1"));
    EXPECT_EQ(ErrorOf([&] { pdf.GetFormType(); }),
              QStringLiteral("Cannot perform this operation on an inactive FPdf1 component"));
    const struct {
        QByteArray Bytes;
        TPdfFormType Expected;
    } cases[] = {
        {SimpleTextPdf({{QStringLiteral("no form")}}), TPdfFormType::ftNone},
        {TextFieldPdf(), TPdfFormType::ftAcroForm},
        {TextFieldPdf("/XFA [(template) 4 0 R]"), TPdfFormType::ftXfaForeground},
    };
    for (const auto& c : cases) {
        pdf.LoadDocument(c.Bytes, true);
        EXPECT_EQ(pdf.GetFormType(), c.Expected);
        EXPECT_FALSE(pdf.GetXFA()) << "this engine library has no XFA support";
        pdf.SetActive(false);
    }
    EXPECT_FALSE(pdf.GetXFA()) << "answers without a document";

    EXPECT_EQ(FormTypeFromEngine(-1), TPdfFormType::ftUnknown);
    EXPECT_EQ(FormTypeFromEngine(0), TPdfFormType::ftNone);
    EXPECT_EQ(FormTypeFromEngine(1), TPdfFormType::ftAcroForm);
    EXPECT_EQ(FormTypeFromEngine(2), TPdfFormType::ftXfaFull);
    EXPECT_EQ(FormTypeFromEngine(3), TPdfFormType::ftXfaForeground);
    EXPECT_EQ(FormTypeFromEngine(4), TPdfFormType::ftUnknown);
}

TEST_F(FormEnvironment, OneTimerPerComponentWithItsOwnId) {
    TFPdf pdf;
    pdf.CreateDocument();
    FPDF_FORMFILLINFO* record = Record(pdf);
    EXPECT_EQ(pdf.findChild<QTimer*>(), nullptr) << "no timer until the engine asks for one";

    const int id = record->FFI_SetTimer(record, 500, &FirstTimerCallback);
    EXPECT_NE(id, 0) << "0 is the engine's 'no timer'";
    // A second request replaces the callback and interval of the first.
    EXPECT_EQ(record->FFI_SetTimer(record, 10, &SecondTimerCallback), id);
    auto timers = pdf.findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    QTimer* timer = timers[0];
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 10);
    ASSERT_TRUE(RunUntil([] { return gTimerCalls.Second >= 2; }, 2000));
    EXPECT_EQ(gTimerCalls.First, 0);
    EXPECT_EQ(gTimerCalls.LastId, id);

    // Another component's timer has another ID.
    TFPdf other;
    other.CreateDocument();
    FPDF_FORMFILLINFO* otherRecord = Record(other);
    const int otherId = otherRecord->FFI_SetTimer(otherRecord, 1000, &FirstTimerCallback);
    EXPECT_NE(otherId, id);
    otherRecord->FFI_KillTimer(otherRecord, otherId);

    // Only the component's own ID stops its timer.
    record->FFI_KillTimer(record, otherId);
    record->FFI_KillTimer(record, 0);
    EXPECT_TRUE(timer->isActive());
    record->FFI_KillTimer(record, id);
    EXPECT_FALSE(timer->isActive());
    const int ticks = gTimerCalls.Second;
    RunUntil([] { return false; }, 50);
    EXPECT_EQ(gTimerCalls.Second, ticks);

    // The timer object survives the close and serves the next document.
    record->FFI_SetTimer(record, 20, &FirstTimerCallback);
    pdf.SetActive(false);
    EXPECT_EQ(pdf.findChild<QTimer*>(), timer);
    pdf.CreateDocument();
    EXPECT_EQ(record->FFI_SetTimer(record, 20, &FirstTimerCallback), id);
    EXPECT_EQ(pdf.findChildren<QTimer*>().size(), 1);
    record->FFI_KillTimer(record, id);
}

TEST_F(FormEnvironment, FocusCallbacksRaiseTheEvents) {
    TFPdf pdf;
    pdf.CreateDocument();
    FPDF_FORMFILLINFO* record = Record(pdf);
    const std::u16string value = u"HelloWorld";
    const auto* units = reinterpret_cast<FPDF_WIDESTRING>(value.c_str());

    // With neither event assigned nothing happens.
    record->FFI_SetTextFieldFocus(record, units, 5, 1);
    record->FFI_SetTextFieldFocus(record, nullptr, 0, 0);

    QStringList entered;
    int exits = 0;
    pdf.OnFormFieldEnter = [&](QObject* sender, const QString& text) {
        EXPECT_EQ(sender, &pdf);
        entered << text;
    };
    pdf.OnFormFieldExit = [&](QObject* sender) {
        EXPECT_EQ(sender, &pdf);
        ++exits;
    };
    record->FFI_SetTextFieldFocus(record, units, 5, 1);  // exactly valueLen units, no terminator looked for
    record->FFI_SetTextFieldFocus(record, nullptr, 0, 1);  // length 0: value is not read
    record->FFI_SetTextFieldFocus(record, nullptr, 0, 0);  // leaving: value may be nil
    record->FFI_SetTextFieldFocus(record, units, 3, 0);
    EXPECT_EQ(entered, QStringList({QStringLiteral("Hello"), QString()}));
    EXPECT_EQ(exits, 2);

    // A handler's exception does not travel into the engine that reported the focus.
    pdf.OnFormFieldExit = [&](QObject*) {
        ++exits;
        throw EPdfError(QStringLiteral("handler failed"));
    };
    EXPECT_NO_THROW(record->FFI_SetTextFieldFocus(record, nullptr, 0, 0));
    EXPECT_EQ(exits, 3);

    // Only the exit handler assigned: entering does nothing.
    pdf.OnFormFieldEnter = nullptr;
    record->FFI_SetTextFieldFocus(record, units, 5, 1);
    EXPECT_EQ(exits, 3);
}

TEST_F(FormEnvironment, ClickingATextFieldReportsItsFocus) {
    // Driven through the engine's own form entry points on the raw handles.
    TFPdf pdf;
    QStringList entered;
    int exits = 0;
    pdf.OnFormFieldEnter = [&](QObject*, const QString& text) { entered << text; };
    pdf.OnFormFieldExit = [&](QObject*) { ++exits; };
    pdf.SetPageNumber(1);
    pdf.LoadDocument(TextFieldPdf());
    auto form = static_cast<FPDF_FORMHANDLE>(pdf.GetFormHandle());
    auto page = static_cast<FPDF_PAGE>(pdf.GetPage());
    ASSERT_NE(form, nullptr);
    ASSERT_NE(page, nullptr);

    engine::FORM_OnLButtonDown(form, page, 0, 150, 615);
    engine::FORM_OnLButtonUp(form, page, 0, 150, 615);
    EXPECT_EQ(entered, QStringList{QStringLiteral("Hello")});
    // Typing changes the field; leaving it reports the exit.
    engine::FORM_OnChar(form, page, '!', 0);
    EXPECT_TRUE(engine::FORM_ForceToKillFocus(form));
    EXPECT_EQ(exits, 1);
    // Entering again shows the new text.
    engine::FORM_OnLButtonDown(form, page, 0, 150, 615);
    engine::FORM_OnLButtonUp(form, page, 0, 150, 615);
    ASSERT_EQ(entered.size(), 2);
    EXPECT_EQ(entered[1].size(), 6) << entered[1].toStdString();
    EXPECT_TRUE(entered[1].contains(QStringLiteral("Hello")) && entered[1].contains(u'!')) << entered[1].toStdString();
    // The engine blinks the caret with a timer of ours; let it tick, then close
    // with it running.
    QTimer* caret = pdf.findChild<QTimer*>();
    ASSERT_NE(caret, nullptr);
    EXPECT_TRUE(caret->isActive());
    RunUntil([] { return false; }, 2 * caret->interval() + 50);
    pdf.SetActive(false);
    EXPECT_EQ(pdf.GetFormHandle(), nullptr);
}
