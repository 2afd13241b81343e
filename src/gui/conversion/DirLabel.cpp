#include "conversion/DirLabel.h"

#include "conversion/PathShorten.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace {

constexpr int InitialWidth = 65;
constexpr int InitialHeight = 17;

} // namespace

TDirLabel::TDirLabel(QWidget *Parent) : QLabel(Parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    resize(InitialWidth, InitialHeight);
    FDirName = text();
}

void TDirLabel::SetDirName(const QString &Value) {
    if (Value == FDirName)
        return;
    FDirName = Value;
    setText(Value);
    update();
}

void TDirLabel::SetTransparent(bool Value) {
    if (Value == FTransparent)
        return;
    FTransparent = Value;
    update();
}

QSize TDirLabel::sizeHint() const {
    return {InitialWidth, std::max(InitialHeight, fontMetrics().height())};
}

QSize TDirLabel::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

void TDirLabel::resizeEvent(QResizeEvent *Event) {
    if (Event->size().width() != Event->oldSize().width()) {
        if (FDirName.isEmpty())
            FDirName = text();
        else
            setText(FDirName); // the next paint shortens it afresh for the new width
    }
    QLabel::resizeEvent(Event);
}

void TDirLabel::paintEvent(QPaintEvent *) {
    QPainter Painter(this);
    if (!FTransparent)
        Painter.fillRect(rect(), palette().color(backgroundRole()));

    const QRect Area = contentsRect();
    const int Flags = int(alignment()) | Qt::TextSingleLine | Qt::TextExpandTabs;
    const QFontMetrics Metrics = fontMetrics();
    const auto Width = [&](const QString &Text) {
        return Metrics.size(Flags, Text.isEmpty() ? QStringLiteral(" ") : Text).width();
    };
    QString Caption = text();
    while (!Caption.isEmpty() && Width(Caption) >= Area.width()) {
        if (!ShortenPathOnce(Caption))
            break; // the shortest form is drawn clipped
    }
    if (Caption != text())
        setText(Caption);

    if (isEnabled()) {
        Painter.setPen(palette().color(foregroundRole()));
        Painter.drawText(Area, Flags, Caption);
        return;
    }
    // Engraved: a highlight one pixel down and right, the shadow on top.
    Painter.setPen(palette().color(QPalette::Light));
    Painter.drawText(Area.translated(1, 1), Flags, Caption);
    Painter.setPen(palette().color(QPalette::Dark));
    Painter.drawText(Area, Flags, Caption);
}
