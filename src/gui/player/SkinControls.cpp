#include "player/SkinControls.h"

#include <QKeyEvent>
#include <QPainter>

// --- TSkinButton -------------------------------------------------------------------------

TSkinButton::TSkinButton(const char *Name, const QString &Caption, QWidget *Parent)
    : QAbstractButton(Parent) {
    setObjectName(QString::fromLatin1(Name));
    setText(Caption);
    setAccessibleName(Caption);
    setToolTip(Caption);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void TSkinButton::SetPictures(const QPixmap &Normal, const QPixmap &Pressed) {
    FNormal = Normal;
    FPressed = Pressed;
    update();
}

const QPixmap &TSkinButton::Picture() const {
    return isDown() && !FPressed.isNull() ? FPressed : FNormal;
}

void TSkinButton::SetFocusTone(TSkinTone Value) {
    FTone = Value;
    update();
}

QSize TSkinButton::sizeHint() const {
    return FNormal.deviceIndependentSize().toSize();
}

void TSkinButton::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.drawPixmap(0, 0, Picture());
    if (ShowsFocusFrame()) {
        // Round faces get a round frame on their rim; the face is as wide as the picture.
        const QRectF Face(0, 0, width(), std::min(width(), height()));
        DrawFocusFrame(P, Face, FTone);
    }
}

void TSkinButton::keyPressEvent(QKeyEvent *Event) {
    switch (Event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!Event->isAutoRepeat())
            click();
        return;
    case Qt::Key_Space:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        Event->ignore();
        return;
    default:
        QAbstractButton::keyPressEvent(Event);
    }
}

void TSkinButton::keyReleaseEvent(QKeyEvent *Event) {
    if (Event->key() == Qt::Key_Space) {
        Event->ignore();
        return;
    }
    QAbstractButton::keyReleaseEvent(Event);
}

// --- TStaticText -------------------------------------------------------------------------

void TStaticText::SetText(const QString &Text) {
    setText(Text);
    UpdateToolTip();
}

bool TStaticText::Elided() const {
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

void TStaticText::UpdateToolTip() {
    setToolTip(Elided() ? text() : QString());
}

void TStaticText::resizeEvent(QResizeEvent *Event) {
    QLabel::resizeEvent(Event);
    UpdateToolTip();
}

void TStaticText::paintEvent(QPaintEvent *) {
    QPainter P(this);
    P.setFont(font());
    P.setPen(palette().color(QPalette::WindowText));
    const QRect Area = contentsRect();
    P.drawText(Area, int(alignment()),
               fontMetrics().elidedText(text(), Qt::ElideRight, Area.width()));
}
