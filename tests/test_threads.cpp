// Components on several threads at once, each with its own instance: text,
// rendering, search and form fields give what they give on one thread, and the
// engine's unsupported-feature reports reach the instance whose document they
// are about.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QImage>
#include <QStringList>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <kestrune/FPdf.h>
#include "support/PdfBuilder.h"

using namespace kestrune;
using testing_support::PdfBuilder;
using testing_support::PdfLiteral;
using testing_support::Ref;
using testing_support::SimpleTextPdf;

namespace {

constexpr int kPages = 12;

// Pages of a few lines each, every page different.
QByteArray TextPdf() {
    static const char* const words[] = {"engine", "thread", "page", "lock", "text", "search", "render", "Form",
                                        "value", "caf\xE9", "na\xEFve", "12,345.67", "(note)", "e-mail"};
    QList<QStringList> pages;
    for (int p = 0; p < kPages; ++p) {
        QStringList lines;
        for (int l = 0; l < 3 + p % 5; ++l) {
            QStringList line;
            for (int w = 0; w < 6; ++w) line << QString::fromLatin1(words[(p * 7 + l * 3 + w * 5) % 14]);
            lines << line.join(u' ');
        }
        pages << lines;
    }
    return SimpleTextPdf(pages);
}

// Pages with a line of text, a text field "Field n" holding "Value n" and a
// check box, checked on every other page.
QByteArray FormPdf() {
    PdfBuilder b;
    const int catalog = b.Reserve();
    const int pages = b.Reserve();
    const int font = b.Add("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    const int on = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 20 20] >>", "0 g 4 4 12 12 re f");
    const int off = b.AddStream("<< /Type /XObject /Subtype /Form /BBox [0 0 20 20] >>", "");
    QList<int> kids;
    QByteArray fields;
    for (int n = 1; n <= kPages; ++n) {
        const int page = b.Reserve();
        const QByteArray widget = " /Type /Annot /Subtype /Widget /F 4 /P " + Ref(page);
        const QByteArray state = n % 2 ? "/Yes" : "/Off";
        const int text = b.Add("<<" + widget + " /FT /Tx /T (Field " + QByteArray::number(n) + ") /V (Value " +
                               QByteArray::number(n) + ") /DA (/Helv " + QByteArray::number(8 + n % 4) +
                               " Tf 0 g) /Rect [50 600 250 630] >>");
        const int box = b.Add("<<" + widget + " /FT /Btn /T (Box " + QByteArray::number(n) + ") /V " + state +
                              " /AS " + state + " /AP << /N << /Yes " + Ref(on) + " /Off " + Ref(off) +
                              " >> >> /Rect [50 500 70 520] >>");
        const int content =
            b.AddStream("<< >>", "BT /Helv 12 Tf 50 700 Td " + PdfLiteral("Form page " + QByteArray::number(n)) +
                                     " Tj ET");
        b.Set(page, "<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 300 792] /Resources << /Font << /Helv " +
                        Ref(font) + " >> >> /Contents " + Ref(content) + " /Annots [" + Ref(text) + " " + Ref(box) +
                        "] >>");
        kids << page;
        fields += Ref(text) + " " + Ref(box) + " ";
    }
    b.SetPageTree(catalog, pages, kids,
                  "/AcroForm << /Fields [" + fields + "] /DA (/Helv 11 Tf 0 g) /DR << /Font << /Helv " + Ref(font) +
                      " >> >> >>");
    return b.Build(catalog);
}

// One kind of work over every page of a document, its results as text.
QStringList EveryPage(const QByteArray& Bytes, const std::function<void(TFPdf&, QStringList&)>& PageWork) {
    TFPdf pdf;
    pdf.SetPageNumber(1);
    pdf.LoadDocument(Bytes);
    QStringList results;
    for (int n = 1; n <= pdf.GetPageCount(); ++n) {
        pdf.SetPageNumber(n);
        PageWork(pdf, results);
    }
    return results;
}

void ReadText(TFPdf& Pdf, QStringList& Results) { Results << Pdf.Text(); }

void Search(TFPdf& Pdf, QStringList& Results) {
    for (const QString& what : {QStringLiteral("e"), QStringLiteral("page")}) {
        QStringList found;
        for (int i = Pdf.FindFirst(what); i >= 0 && found.size() < 200; i = Pdf.FindNext()) found << QString::number(i);
        Results << found.join(u',');
    }
}

void Render(TFPdf& Pdf, QStringList& Results) {
    const QImage image = Pdf.RenderPage(0, 0, 150, 396);
    Results << QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(image.constBits(), image.sizeInBytes()), QCryptographicHash::Md5)
            .toHex());
}

void ReadFields(TFPdf& Pdf, QStringList& Results) {
    for (int i = 0; i < Pdf.GetFormFieldCount(); ++i) {
        const TPdfFormFieldInfo info = Pdf.GetFormFieldInfo(i);
        Results << QStringLiteral("%1|%2|%3|%4|%5")
                       .arg(info.Name, Pdf.GetFormField(i))
                       .arg(info.FontSize)
                       .arg(info.Checked)
                       .arg(info.ExportValue);
    }
    Results << Pdf.GetFormFieldAt(150, 615);
    Pdf.SetFormFieldAt(150, 615, QStringLiteral("Changed"));
    Results << Pdf.GetFormFieldAt(150, 615);
}

// The entries where Results differs from Expected, for a readable failure.
std::string Differences(const QStringList& Results, const QStringList& Expected) {
    QString text;
    if (Results.size() != Expected.size())
        text += QStringLiteral("%1 results, expected %2\n").arg(Results.size()).arg(Expected.size());
    for (qsizetype i = 0; i < qMin(Results.size(), Expected.size()); ++i)
        if (Results[i] != Expected[i])
            text += QStringLiteral("[%1] \"%2\", expected \"%3\"\n").arg(i).arg(Results[i], Expected[i]);
    return text.toStdString();
}

struct Job {
    const char* Name;
    QByteArray Bytes;
    std::function<void(TFPdf&, QStringList&)> PageWork;
};

}  // namespace

TEST(Threads, InstancesOnSeveralThreadsGiveTheSingleThreadedResults) {
    const QByteArray text = TextPdf();
    const QByteArray form = FormPdf();
    const QList<Job> jobs = {
        {"text", text, ReadText},       {"search", text, Search},      {"render", text, Render},
        {"form text", form, ReadText},  {"form render", form, Render}, {"fields", form, ReadFields},
    };
    QList<QStringList> expected;
    for (const Job& job : jobs) {
        expected << EveryPage(job.Bytes, job.PageWork);
        ASSERT_GE(expected.back().size(), kPages) << job.Name;
    }
    EXPECT_NE(expected[0][0], expected[0][1]);
    EXPECT_TRUE(expected[5].contains(QStringLiteral("Field 3|Value 3|11|0|")));
    EXPECT_TRUE(expected[5].contains(QStringLiteral("Box 3|Yes|11|1|Yes")));

    // Two threads per kind of work, each running it many times over, all at once.
    // (Without the engine's lock, this fails or crashes nearly every time.)
    constexpr int kCopies = 2, kRounds = 20;
    std::vector<QList<QStringList>> results(jobs.size() * kCopies);
    std::vector<QString> errors(results.size());
    std::atomic<int> ready = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < int(results.size()); ++t) {
        threads.emplace_back([&, t] {
            const Job& job = jobs[t / kCopies];
            ++ready;
            while (ready < int(results.size())) std::this_thread::yield();
            try {
                for (int r = 0; r < kRounds; ++r) results[t] << EveryPage(job.Bytes, job.PageWork);
            } catch (const EPdfError& e) {
                errors[t] = e.Message();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    for (int t = 0; t < int(results.size()); ++t) {
        const int j = t / kCopies;
        SCOPED_TRACE(jobs[j].Name);
        EXPECT_EQ(errors[t].toStdString(), "");
        ASSERT_EQ(results[t].size(), kRounds);
        for (const QStringList& round : results[t]) EXPECT_EQ(Differences(round, expected[j]), "");
    }
}

TEST(Threads, UnsupportedFeaturesReachTheInstanceWhoseDocumentHasThem) {
    const auto document = [](const QByteArray& CatalogEntries) {
        PdfBuilder b;
        const int catalog = b.Reserve();
        const int pages = b.Reserve();
        const int content = b.AddStream("<< >>", "");
        const int page =
            b.Add("<< /Type /Page /Parent " + Ref(pages) + " /MediaBox [0 0 200 200] /Contents " + Ref(content) + " >>");
        b.SetPageTree(catalog, pages, {page}, CatalogEntries);
        return b.Build(catalog);
    };
    const struct {
        QByteArray Bytes;
        TPdfFeature Feature;
    } cases[] = {
        {document("/AcroForm << /Fields [] /XFA [(template) 9 0 R] >>"), TPdfFeature::feXfaForm},
        {document("/Collection << /Type /Collection >>"), TPdfFeature::fePortableCollection},
    };
    // Two instances listen, each opening its own document; a third, without a
    // handler, opens both kinds: its reports go nowhere, not to the others.
    constexpr int kOpens = 40;
    QList<TPdfFeature> reports[2];
    int wrongSender[2] = {0, 0};
    std::atomic<int> registered = 0, thirdDone = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            TFPdf pdf;
            if (t < 2)
                pdf.OnUnsupportedFeature = [&, t](QObject* Sender, TPdfFeature Feature) {
                    if (Sender != &pdf) ++wrongSender[t];
                    reports[t] << Feature;
                };
            // The third starts once both others have registered the handler.
            while (t == 2 && registered < 2) std::this_thread::yield();
            for (int i = 0; i < kOpens; ++i) {
                pdf.LoadDocument(cases[t < 2 ? t : i % 2].Bytes);
                pdf.SetActive(false);
                if (i == 0 && t < 2) ++registered;
            }
            // The listeners stay until the third is done.
            if (t == 2) ++thirdDone;
            while (thirdDone == 0) std::this_thread::yield();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(wrongSender[t], 0);
        EXPECT_EQ(reports[t].count(cases[t].Feature), kOpens);
        EXPECT_EQ(reports[t].size(), kOpens);
    }
}
