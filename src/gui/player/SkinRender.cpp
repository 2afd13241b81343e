#include "app/Icons.h"

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Draws the player's skins once, as PNG files for resources/skins/ (the build target
// player_skins runs it there). The program only loads the pictures; it never paints them.
//
// One palette throughout: silver faces with graphite glyphs on the white window, a
// graphite LCD panel, and the copper of the program icon as the only accent.

namespace {

const QColor Ink(0x3a, 0x40, 0x47);
const QColor InkSoft(0x5b, 0x63, 0x6b);
const QColor Copper(0xc0, 0x6d, 0x2e);
const QColor CopperLight(0xe3, 0x93, 0x4e);
const QColor CopperDark(0x8e, 0x4c, 0x1c);
const QColor FaceTop(0xff, 0xff, 0xff);
const QColor FaceBottom(0xdc, 0xe0, 0xe4);
const QColor PressedTop(0xcc, 0xd1, 0xd6);
const QColor PressedBottom(0xec, 0xee, 0xf0);
const QColor Rim(0xa4, 0xab, 0xb2);
const QColor LcdText(0xc6, 0xce, 0xd5);

using TPaint = std::function<void(QPainter &)>;

QImage Render(int Width, int Height, const TPaint &Paint) {
    QImage Image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    Image.fill(Qt::transparent);
    QPainter P(&Image);
    P.setRenderHint(QPainter::Antialiasing);
    P.setRenderHint(QPainter::TextAntialiasing);
    Paint(P);
    return Image;
}

QLinearGradient Vertical(qreal Top, qreal Bottom, const QColor &From, const QColor &To) {
    QLinearGradient G(0, Top, 0, Bottom);
    G.setColorAt(0, From);
    G.setColorAt(1, To);
    return G;
}

// A round button face with a soft shadow under it; pressed faces are lit from below.
void Face(QPainter &P, const QRectF &Circle, bool Pressed) {
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(0, 0, 0, 34));
    P.drawEllipse(Circle.translated(0, 1));
    P.setBrush(Pressed ? Vertical(Circle.top(), Circle.bottom(), PressedTop, PressedBottom)
                       : Vertical(Circle.top(), Circle.bottom(), FaceTop, FaceBottom));
    P.setPen(QPen(Pressed ? Rim.darker(115) : Rim, 1));
    P.drawEllipse(Circle.adjusted(0.5, 0.5, -0.5, -0.5));
    if (!Pressed) {
        // A thin highlight along the upper rim.
        P.setPen(QPen(QColor(255, 255, 255, 200), 1));
        P.setBrush(Qt::NoBrush);
        P.drawArc(Circle.adjusted(1.5, 1.5, -1.5, -1.5), 30 * 16, 120 * 16);
    }
}

QColor GlyphColour(bool Pressed) {
    return Pressed ? CopperDark : Ink;
}

// A button of Width x Height: the face fills the width, the glyph is drawn centred on it
// (shifted down by a pixel while pressed).
QImage Button(int Width, int Height, bool Pressed, const std::function<void(QPainter &)> &Glyph) {
    return Render(Width, Height, [&](QPainter &P) {
        const qreal D = Width - 1;
        const QRectF Circle(0.5, 0, D, D);
        Face(P, Circle, Pressed);
        P.translate(Circle.center());
        if (Pressed)
            P.translate(0, 0.6);
        P.setPen(Qt::NoPen);
        P.setBrush(GlyphColour(Pressed));
        Glyph(P);
    });
}

void PlayGlyph(QPainter &P) {
    P.drawPolygon(QPolygonF({QPointF(-2.6, -4.6), QPointF(4.6, 0), QPointF(-2.6, 4.6)}));
}

void PauseGlyph(QPainter &P) {
    P.drawRoundedRect(QRectF(-4.0, -4.3, 2.9, 8.6), 0.7, 0.7);
    P.drawRoundedRect(QRectF(1.1, -4.3, 2.9, 8.6), 0.7, 0.7);
}

void StopGlyph(QPainter &P) {
    P.drawRoundedRect(QRectF(-3.8, -3.8, 7.6, 7.6), 1, 1);
}

void SkipGlyph(QPainter &P, bool Forward) {
    if (!Forward)
        P.scale(-1, 1);
    P.drawPolygon(QPolygonF({QPointF(-4.2, -4.2), QPointF(1.8, 0), QPointF(-4.2, 4.2)}));
    P.drawRoundedRect(QRectF(2.2, -4.2, 2.2, 8.4), 0.5, 0.5);
}

void SpeakerGlyph(QPainter &P) {
    QPainterPath Speaker;
    Speaker.moveTo(-6.0, -2.2);
    Speaker.lineTo(-3.6, -2.2);
    Speaker.lineTo(0.0, -5.4);
    Speaker.lineTo(0.0, 5.4);
    Speaker.lineTo(-3.6, 2.2);
    Speaker.lineTo(-6.0, 2.2);
    Speaker.closeSubpath();
    P.drawPath(Speaker);
}

void SoundOnGlyph(QPainter &P, bool Pressed) {
    P.translate(-0.8, 0);
    SpeakerGlyph(P);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(GlyphColour(Pressed), 1.4, Qt::SolidLine, Qt::RoundCap));
    P.drawArc(QRectF(-2.2, -3.2, 6.4, 6.4), -50 * 16, 100 * 16);
    P.drawArc(QRectF(-4.0, -6.0, 12.0, 12.0), -48 * 16, 96 * 16);
}

void SoundOffGlyph(QPainter &P, bool Pressed) {
    P.translate(-1.6, 0);
    P.setBrush(Pressed ? InkSoft.darker(120) : InkSoft);
    SpeakerGlyph(P);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Pressed ? CopperDark : Copper, 1.6, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(2.4, -2.6), QPointF(7.4, 2.4));
    P.drawLine(QPointF(7.4, -2.6), QPointF(2.4, 2.4));
}

void CloseGlyph(QPainter &P, bool Pressed) {
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Pressed ? CopperDark : InkSoft, 1.6, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(-3, -3), QPointF(3, 3));
    P.drawLine(QPointF(3, -3), QPointF(-3, 3));
}

// The LCD panel behind the song, time and stream texts: a graphite bezel around a dark
// screen with a faint line raster, and the program's name in a corner.
QImage DisplayPanel() {
    return Render(391, 93, [](QPainter &P) {
        const QRectF Outer(0.5, 0.5, 390, 92);
        P.setPen(QPen(QColor(0x14, 0x17, 0x1a), 1));
        P.setBrush(Vertical(0, 93, QColor(0x3d, 0x43, 0x4a), QColor(0x22, 0x26, 0x2b)));
        P.drawRoundedRect(Outer, 8, 8);
        P.setPen(QPen(QColor(255, 255, 255, 38), 1));
        P.setBrush(Qt::NoBrush);
        P.drawRoundedRect(Outer.adjusted(1, 1, -1, -1), 7, 7);

        const QRectF Screen(6.5, 6.5, 378, 80);
        QPainterPath ScreenPath;
        ScreenPath.addRoundedRect(Screen, 5, 5);
        P.fillPath(ScreenPath, Vertical(Screen.top(), Screen.bottom(), QColor(0x1d, 0x2a, 0x33),
                                        QColor(0x10, 0x18, 0x1e)));
        P.save();
        P.setClipPath(ScreenPath);
        P.setRenderHint(QPainter::Antialiasing, false);
        P.setPen(QColor(255, 255, 255, 7));
        for (int Y = 8; Y < 87; Y += 2)
            P.drawLine(7, Y, 384, Y);
        // A soft glare over the upper half of the glass.
        P.setRenderHint(QPainter::Antialiasing, true);
        QRadialGradient Glare(QPointF(120, -30), 260);
        Glare.setColorAt(0, QColor(255, 255, 255, 26));
        Glare.setColorAt(1, QColor(255, 255, 255, 0));
        P.fillRect(Screen, Glare);
        P.restore();
        P.setPen(QPen(QColor(0, 0, 0, 150), 1));
        P.setBrush(Qt::NoBrush);
        P.drawPath(ScreenPath);
        P.setPen(QPen(QColor(0, 0, 0, 60), 1));
        P.drawLine(QPointF(11, 8), QPointF(380, 8));

        // The rule between the song and the time.
        QLinearGradient Rule(18, 0, 372, 0);
        Rule.setColorAt(0, QColor(198, 206, 213, 0));
        Rule.setColorAt(0.15, QColor(198, 206, 213, 70));
        Rule.setColorAt(0.85, QColor(198, 206, 213, 70));
        Rule.setColorAt(1, QColor(198, 206, 213, 0));
        P.setPen(QPen(QBrush(Rule), 1));
        P.drawLine(QPointF(18, 37.5), QPointF(372, 37.5));

        QFont Mark(QStringLiteral("DejaVu Sans"));
        Mark.setPixelSize(9);
        Mark.setBold(true);
        Mark.setLetterSpacing(QFont::AbsoluteSpacing, 2.2);
        P.setFont(Mark);
        P.setPen(QColor(0xc6, 0xce, 0xd5, 90));
        P.drawText(QRectF(250, 70, 124, 12), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("BRINDLE"));
    });
}

// A recessed groove with rounded ends, running the thumb's travel.
void Groove(QPainter &P, const QRectF &Slot) {
    const qreal R = Slot.height() / 2;
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 255, 255, 230));
    P.drawRoundedRect(Slot.translated(0, 1), R, R);
    P.setBrush(
        Vertical(Slot.top(), Slot.bottom(), QColor(0xa9, 0xb0, 0xb7), QColor(0xd9, 0xdd, 0xe1)));
    P.setPen(QPen(QColor(0x8d, 0x95, 0x9d), 1));
    P.drawRoundedRect(Slot, R, R);
}

QImage SeekTrack() {
    return Render(176, 15, [](QPainter &P) { Groove(P, QRectF(3.5, 5.5, 169, 5)); });
}

// The volume track rises from left to right, as loudness does.
QImage VolumeTrack() {
    return Render(70, 15, [](QPainter &P) {
        QPainterPath Wedge;
        Wedge.moveTo(4, 11.5);
        Wedge.lineTo(66, 11.5);
        Wedge.quadTo(67.5, 11.5, 67.5, 10);
        Wedge.lineTo(67.5, 4.5);
        Wedge.quadTo(67.5, 3.6, 66.4, 3.9);
        Wedge.lineTo(4, 10.2);
        Wedge.quadTo(2.8, 11.5, 4, 11.5);
        Wedge.closeSubpath();
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(255, 255, 255, 230));
        P.drawPath(Wedge.translated(0, 1));
        QLinearGradient Fill(0, 0, 70, 0);
        Fill.setColorAt(0, QColor(0xc4, 0xca, 0xd0));
        Fill.setColorAt(1, QColor(0xe7, 0xa8, 0x73));
        P.setBrush(Fill);
        P.setPen(QPen(QColor(0x8d, 0x95, 0x9d), 1));
        P.drawPath(Wedge);
    });
}

enum class TLook { Normal, Highlighted, Clicked };

// A round knob with a copper centre that warms under the mouse and deepens while held.
QImage SeekThumb(TLook Look) {
    return Render(14, 15, [Look](QPainter &P) {
        const QRectF Knob(0.5, 0.5, 13, 13);
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0, 0, 0, 45));
        P.drawEllipse(Knob.translated(0, 1));
        QRadialGradient Metal(QPointF(5, 3.5), 11);
        Metal.setColorAt(0, Look == TLook::Clicked ? QColor(0xe2, 0xe5, 0xe8) : Qt::white);
        Metal.setColorAt(1, Look == TLook::Clicked ? QColor(0xb4, 0xbb, 0xc2)
                                                   : QColor(0xcf, 0xd4, 0xd9));
        P.setBrush(Metal);
        P.setPen(QPen(Look == TLook::Normal ? QColor(0x86, 0x8e, 0x96) : CopperDark, 1));
        P.drawEllipse(Knob);
        const QColor Dot = Look == TLook::Normal        ? InkSoft
                           : Look == TLook::Highlighted ? CopperLight
                                                        : Copper;
        P.setPen(Qt::NoPen);
        P.setBrush(Dot);
        P.drawEllipse(QRectF(4.5, 4.5, 5, 5));
    });
}

// An upright pill, so that the volume reads as a fader beside the round seek knob.
QImage VolumeThumb(TLook Look) {
    return Render(14, 15, [Look](QPainter &P) {
        const QRectF Pill(2.5, 0.5, 9, 13);
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0, 0, 0, 45));
        P.drawRoundedRect(Pill.translated(0, 1), 4, 4);
        P.setBrush(Look == TLook::Clicked
                       ? Vertical(0, 14, QColor(0xcf, 0xd4, 0xd9), QColor(0xee, 0xf0, 0xf2))
                       : Vertical(0, 14, Qt::white, QColor(0xcf, 0xd4, 0xd9)));
        P.setPen(QPen(Look == TLook::Normal ? QColor(0x86, 0x8e, 0x96) : CopperDark, 1));
        P.drawRoundedRect(Pill, 4, 4);
        P.setPen(QPen(Look == TLook::Normal        ? InkSoft
                      : Look == TLook::Highlighted ? CopperLight
                                                   : Copper,
                      1.6, Qt::SolidLine, Qt::RoundCap));
        P.drawLine(QPointF(7, 4.2), QPointF(7, 9.8));
    });
}

QImage Logo() {
    // The program icon with a soft shadow, so that it sits on the white window like the
    // display beside it.
    const QImage Icon = AppIconImage(50);
    return Render(54, 54, [&](QPainter &P) {
        P.setPen(Qt::NoPen);
        for (int Spread = 3; Spread >= 1; --Spread) {
            P.setBrush(QColor(0, 0, 0, 14));
            P.drawRoundedRect(QRectF(2 + 3.1 - Spread * 0.6, 2 + 4.2 - Spread * 0.3,
                                     43.8 + Spread * 1.2, 43.8 + Spread * 1.2),
                              10 + Spread * 0.5, 10 + Spread * 0.5);
        }
        P.drawImage(2, 1, Icon);
    });
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    const QDir Out(QString::fromLocal8Bit(argv[1]));
    if (!Out.mkpath(QStringLiteral(".")))
        return 1;

    struct TSkin {
        std::string Name;
        QImage Image;
    };
    std::vector<TSkin> Skins = {
        {"logo", Logo()},
        {"display", DisplayPanel()},
        {"seek_track", SeekTrack()},
        {"seek_thumb", SeekThumb(TLook::Normal)},
        {"seek_thumb_hot", SeekThumb(TLook::Highlighted)},
        {"seek_thumb_down", SeekThumb(TLook::Clicked)},
        {"volume_track", VolumeTrack()},
        {"volume_thumb", VolumeThumb(TLook::Normal)},
        {"volume_thumb_hot", VolumeThumb(TLook::Highlighted)},
        {"volume_thumb_down", VolumeThumb(TLook::Clicked)},
    };
    for (bool Pressed : {false, true}) {
        const std::string Suffix = Pressed ? "_down" : "";
        const auto Add = [&](const std::string &Name, QImage Image) {
            Skins.push_back({Name + Suffix, std::move(Image)});
        };
        Add("play", Button(22, 23, Pressed, PlayGlyph));
        Add("pause", Button(22, 23, Pressed, PauseGlyph));
        Add("stop", Button(22, 23, Pressed, StopGlyph));
        Add("prev", Button(22, 22, Pressed, [](QPainter &P) { SkipGlyph(P, false); }));
        Add("next", Button(22, 22, Pressed, [](QPainter &P) { SkipGlyph(P, true); }));
        Add("sound_on", Button(23, 23, Pressed, [&](QPainter &P) { SoundOnGlyph(P, Pressed); }));
        Add("sound_off", Button(23, 23, Pressed, [&](QPainter &P) { SoundOffGlyph(P, Pressed); }));
        Add("close", Button(19, 19, Pressed, [&](QPainter &P) { CloseGlyph(P, Pressed); }));
    }
    for (const TSkin &Skin : Skins) {
        const QString File =
            Out.filePath(QString::fromStdString(Skin.Name) + QStringLiteral(".png"));
        if (!Skin.Image.save(File)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(File));
            return 1;
        }
    }
    return 0;
}
