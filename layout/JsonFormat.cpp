// One JSON object per page (JSON Lines), built with Qt's JSON classes.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include <kestrune/LayoutFormats.h>

namespace kestrune {

namespace {

// Points to 1/100: finer than any reader needs, and short.
double Rounded(double Value) { return std::round(Value * 100) / 100; }

QJsonArray Box(const QRectF& Box) {
    return {Rounded(Box.left()), Rounded(Box.top()), Rounded(Box.right()), Rounded(Box.bottom())};
}

QJsonObject Word(const TLayoutWord& Word) {
    return {{"text", Word.Text},
            {"bbox", Box(Word.Box)},
            {"font", Word.FontName},
            {"size", Rounded(Word.FontSize)},
            {"conf", Word.Confidence}};
}

QJsonObject Line(const TLayoutLine& Line) {
    QJsonArray words;
    for (const TLayoutWord& word : Line.Words) words.append(Word(word));
    return {{"bbox", Box(Line.Box)}, {"direction", int(Line.Direction)}, {"words", words}};
}

}  // namespace

void AppendJsonPage(QByteArray& Out, const TPageLayout& Page) {
    QJsonArray blocks;
    for (const TLayoutBlock& block : Page.Blocks) {
        QJsonArray lines;
        for (const TLayoutLine& line : block.Lines) lines.append(Line(line));
        blocks.append(QJsonObject{{"bbox", Box(block.Box)}, {"lines", lines}});
    }
    const QJsonObject page{{"page", Page.PageNumber},
                           {"width", Rounded(Page.Size.width())},
                           {"height", Rounded(Page.Size.height())},
                           {"rotation", int(Page.Rotation) * 90},
                           {"blocks", blocks}};
    Out += QJsonDocument(page).toJson(QJsonDocument::Compact);
    Out += '\n';
}

}  // namespace kestrune
