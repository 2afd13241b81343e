#include "app/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// The tabby stripes and the wave of the program icon, on a 64 × 64 grid.
void PaintAppIcon(QPainter &P) {
    QPainterPath Frame;
    Frame.addRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
    P.fillPath(Frame, QColor(0x9a, 0x62, 0x33));
    P.save();
    P.setClipPath(Frame);
    for (int X : {-8, 12, 32, 52}) {
        QPainterPath Stripe;
        Stripe.moveTo(X, 64);
        Stripe.lineTo(X + 8, 64);
        Stripe.lineTo(X + 30, 0);
        Stripe.lineTo(X + 22, 0);
        Stripe.closeSubpath();
        P.fillPath(Stripe, QColor(0x5e, 0x3a, 0x1c));
    }
    P.restore();

    QPen Pen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    P.setPen(Pen);
    P.setBrush(Qt::NoBrush);
    QPainterPath Wave;
    Wave.moveTo(11, 32);
    Wave.cubicTo(15, 14, 21, 14, 25, 32);
    Wave.cubicTo(29, 50, 35, 50, 39, 32);
    Wave.lineTo(52, 32);
    P.drawPath(Wave);
    QPainterPath Head;
    Head.moveTo(45, 24);
    Head.lineTo(53, 32);
    Head.lineTo(45, 40);
    P.drawPath(Head);
}

QPixmap Canvas() {
    QPixmap Pixmap(32, 32);
    Pixmap.fill(Qt::transparent);
    return Pixmap;
}

void PaintPage(QPainter &P) {
    QPainterPath Page;
    Page.moveTo(5, 2);
    Page.lineTo(19, 2);
    Page.lineTo(25, 8);
    Page.lineTo(25, 29);
    Page.lineTo(5, 29);
    Page.closeSubpath();
    P.setPen(QPen(QColor(0x55, 0x55, 0x55), 1.2));
    P.setBrush(Qt::white);
    P.drawPath(Page);
    P.setPen(QPen(QColor(0x3b, 0x6e, 0xb5), 2, Qt::SolidLine, Qt::RoundCap));
    for (int Y : {11, 16, 21})
        P.drawLine(9, Y, 20, Y);
}

void PaintFolder(QPainter &P) {
    P.setPen(QPen(QColor(0x9a, 0x72, 0x10), 1.2));
    P.setBrush(QColor(0xe8, 0xb8, 0x3a));
    P.drawRoundedRect(QRectF(2, 6, 12, 6), 2, 2);
    P.setBrush(QColor(0xf6, 0xcf, 0x57));
    P.drawRoundedRect(QRectF(2, 9, 28, 19), 2, 2);
}

void PaintBadge(QPainter &P, const QColor &Color) {
    P.setPen(Qt::NoPen);
    P.setBrush(Color);
    P.drawEllipse(QRectF(17, 17, 14, 14));
    P.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
}

} // namespace

QImage AppIconImage(int Size) {
    QImage Image(Size, Size, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Qt::transparent);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);
    P.scale(Size / 64.0, Size / 64.0);
    PaintAppIcon(P);
    return Image;
}

QIcon AppIcon() {
    QIcon Icon;
    for (int Size : {16, 24, 32, 48, 64, 128, 256})
        Icon.addPixmap(QPixmap::fromImage(AppIconImage(Size)));
    return Icon;
}

QIcon ToolIcon(TToolIcon Kind) {
    QPixmap Pixmap = Canvas();
    QPainter P(&Pixmap);
    P.setRenderHint(QPainter::Antialiasing);
    switch (Kind) {
    case TToolIcon::Add:
        PaintPage(P);
        PaintBadge(P, QColor(0x2e, 0x9b, 0x3a));
        P.drawLine(QPointF(24, 20), QPointF(24, 28));
        P.drawLine(QPointF(20, 24), QPointF(28, 24));
        break;
    case TToolIcon::AddFolder:
        PaintFolder(P);
        PaintBadge(P, QColor(0x2e, 0x9b, 0x3a));
        P.drawLine(QPointF(24, 20), QPointF(24, 28));
        P.drawLine(QPointF(20, 24), QPointF(28, 24));
        break;
    case TToolIcon::Delete:
        PaintPage(P);
        PaintBadge(P, QColor(0xc8, 0x2a, 0x2a));
        P.drawLine(QPointF(21, 21), QPointF(27, 27));
        P.drawLine(QPointF(27, 21), QPointF(21, 27));
        break;
    case TToolIcon::Browse:
        PaintFolder(P);
        break;
    case TToolIcon::Convert: {
        P.setPen(QPen(QColor(0x3b, 0x6e, 0xb5), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        QPainterPath Wave;
        Wave.moveTo(3, 16);
        Wave.cubicTo(6, 6, 9, 6, 12, 16);
        Wave.cubicTo(15, 26, 18, 26, 21, 16);
        Wave.lineTo(28, 16);
        P.drawPath(Wave);
        QPainterPath Head;
        Head.moveTo(23, 10);
        Head.lineTo(29, 16);
        Head.lineTo(23, 22);
        P.drawPath(Head);
        break;
    }
    case TToolIcon::Play:
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0x2e, 0x9b, 0x3a));
        P.drawEllipse(QRectF(2, 2, 28, 28));
        P.setBrush(Qt::white);
        P.drawPolygon(QPolygonF({QPointF(12, 9), QPointF(23, 16), QPointF(12, 23)}));
        break;
    case TToolIcon::Info: {
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0x3b, 0x6e, 0xb5));
        P.drawEllipse(QRectF(2, 2, 28, 28));
        P.setBrush(Qt::white);
        P.drawEllipse(QRectF(14, 7, 4, 4));
        P.drawRoundedRect(QRectF(14, 13, 4, 12), 1, 1);
        break;
    }
    case TToolIcon::Options: {
        P.translate(16, 16);
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0x60, 0x66, 0x70));
        for (int Tooth = 0; Tooth < 8; ++Tooth) {
            P.drawRect(QRectF(-3, -14, 6, 6));
            P.rotate(45);
        }
        P.drawEllipse(QRectF(-10, -10, 20, 20));
        P.setBrush(Qt::white);
        P.drawEllipse(QRectF(-4, -4, 8, 8));
        break;
    }
    }
    P.end();
    return QIcon(Pixmap);
}
