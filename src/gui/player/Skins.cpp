#include "player/Skins.h"

#include "app/Icons.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <functional>

// Silver faces with graphite glyphs on a white window, or graphite faces with light glyphs on
// a dark one; a graphite LCD panel, and the copper of the program icon as the only accent, in
// both tones.

namespace {

const QColor Copper(0xc0, 0x6d, 0x2e);
const QColor CopperLight(0xe3, 0x93, 0x4e);
const QColor CopperDark(0x8e, 0x4c, 0x1c);

struct TColours {
    QColor Window;
    QColor Ink;
    QColor InkSoft;
    QColor FaceTop, FaceBottom;
    QColor PressedTop, PressedBottom;
    QColor Rim;
    QColor RimLight;
    QColor Shadow;
    QColor PressedGlyph;
    QColor GrooveLip, GrooveTop, GrooveBottom, GroovePen;
    QColor VolumeLow, VolumeHigh;
    QColor MetalTop, MetalBottom, MetalClickedTop, MetalClickedBottom;
    QColor ThumbPen;
    QColor Focus;
};

const TColours &Colours(TSkinTone Tone) {
    static const TColours Light = {
        .Window = Qt::white,
        .Ink = QColor(0x3a, 0x40, 0x47),
        .InkSoft = QColor(0x5b, 0x63, 0x6b),
        .FaceTop = Qt::white,
        .FaceBottom = QColor(0xdc, 0xe0, 0xe4),
        .PressedTop = QColor(0xcc, 0xd1, 0xd6),
        .PressedBottom = QColor(0xec, 0xee, 0xf0),
        .Rim = QColor(0xa4, 0xab, 0xb2),
        .RimLight = QColor(255, 255, 255, 200),
        .Shadow = QColor(0, 0, 0, 34),
        .PressedGlyph = CopperDark,
        .GrooveLip = QColor(255, 255, 255, 230),
        .GrooveTop = QColor(0xa9, 0xb0, 0xb7),
        .GrooveBottom = QColor(0xd9, 0xdd, 0xe1),
        .GroovePen = QColor(0x8d, 0x95, 0x9d),
        .VolumeLow = QColor(0xc4, 0xca, 0xd0),
        .VolumeHigh = QColor(0xe7, 0xa8, 0x73),
        .MetalTop = Qt::white,
        .MetalBottom = QColor(0xcf, 0xd4, 0xd9),
        .MetalClickedTop = QColor(0xe2, 0xe5, 0xe8),
        .MetalClickedBottom = QColor(0xb4, 0xbb, 0xc2),
        .ThumbPen = QColor(0x86, 0x8e, 0x96),
        .Focus = Copper,
    };
    static const TColours Dark = {
        .Window = QColor(0x26, 0x29, 0x2d),
        .Ink = QColor(0xd5, 0xda, 0xde),
        .InkSoft = QColor(0xa9, 0xb0, 0xb7),
        .FaceTop = QColor(0x4c, 0x52, 0x59),
        .FaceBottom = QColor(0x34, 0x39, 0x3e),
        .PressedTop = QColor(0x2a, 0x2e, 0x33),
        .PressedBottom = QColor(0x40, 0x45, 0x4b),
        .Rim = QColor(0x15, 0x17, 0x1a),
        .RimLight = QColor(255, 255, 255, 46),
        .Shadow = QColor(0, 0, 0, 90),
        .PressedGlyph = CopperLight,
        .GrooveLip = QColor(255, 255, 255, 22),
        .GrooveTop = QColor(0x17, 0x1a, 0x1d),
        .GrooveBottom = QColor(0x2c, 0x31, 0x35),
        .GroovePen = QColor(0x0f, 0x11, 0x13),
        .VolumeLow = QColor(0x3a, 0x40, 0x47),
        .VolumeHigh = QColor(0xb8, 0x6a, 0x35),
        .MetalTop = QColor(0x8a, 0x92, 0x9a),
        .MetalBottom = QColor(0x52, 0x59, 0x60),
        .MetalClickedTop = QColor(0x62, 0x69, 0x70),
        .MetalClickedBottom = QColor(0x3d, 0x43, 0x48),
        .ThumbPen = QColor(0x12, 0x14, 0x16),
        .Focus = CopperLight,
    };
    return Tone == TSkinTone::Dark ? Dark : Light;
}

using TPaint = std::function<void(QPainter &)>;

// A picture of Width x Height device-independent pixels, drawn at Ratio.
QPixmap Render(int Width, int Height, qreal Ratio, const TPaint &Paint) {
    QImage Image(int(std::ceil(Width * Ratio)), int(std::ceil(Height * Ratio)),
                 QImage::Format_ARGB32_Premultiplied);
    Image.setDevicePixelRatio(Ratio);
    Image.fill(Qt::transparent);
    {
        QPainter P(&Image);
        P.setRenderHint(QPainter::Antialiasing);
        P.setRenderHint(QPainter::TextAntialiasing);
        P.setRenderHint(QPainter::SmoothPixmapTransform);
        Paint(P);
    }
    return QPixmap::fromImage(std::move(Image));
}

QLinearGradient Vertical(qreal Top, qreal Bottom, const QColor &From, const QColor &To) {
    QLinearGradient G(0, Top, 0, Bottom);
    G.setColorAt(0, From);
    G.setColorAt(1, To);
    return G;
}

// A round button face with a soft shadow under it; pressed faces are lit from below.
void Face(QPainter &P, const TColours &C, const QRectF &Circle, bool Pressed) {
    P.setPen(Qt::NoPen);
    P.setBrush(C.Shadow);
    P.drawEllipse(Circle.translated(0, 1));
    P.setBrush(Pressed ? Vertical(Circle.top(), Circle.bottom(), C.PressedTop, C.PressedBottom)
                       : Vertical(Circle.top(), Circle.bottom(), C.FaceTop, C.FaceBottom));
    P.setPen(QPen(Pressed ? C.Rim.darker(115) : C.Rim, 1));
    P.drawEllipse(Circle.adjusted(0.5, 0.5, -0.5, -0.5));
    if (!Pressed) {
        // A thin highlight along the upper rim.
        P.setPen(QPen(C.RimLight, 1));
        P.setBrush(Qt::NoBrush);
        P.drawArc(Circle.adjusted(1.5, 1.5, -1.5, -1.5), 30 * 16, 120 * 16);
    }
}

QColor GlyphColour(const TColours &C, bool Pressed) {
    return Pressed ? C.PressedGlyph : C.Ink;
}

// A button of Width x Height: the face fills the width, the glyph is drawn centred on it
// (shifted down by a pixel while pressed).
QPixmap Button(const TColours &C, qreal Ratio, int Width, int Height, bool Pressed,
               const TPaint &Glyph) {
    return Render(Width, Height, Ratio, [&](QPainter &P) {
        const qreal D = Width - 1;
        const QRectF Circle(0.5, 0, D, D);
        Face(P, C, Circle, Pressed);
        P.translate(Circle.center());
        if (Pressed)
            P.translate(0, 0.6);
        P.setPen(Qt::NoPen);
        P.setBrush(GlyphColour(C, Pressed));
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

void SoundOnGlyph(QPainter &P, const TColours &C, bool Pressed) {
    P.translate(-0.8, 0);
    SpeakerGlyph(P);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(GlyphColour(C, Pressed), 1.4, Qt::SolidLine, Qt::RoundCap));
    P.drawArc(QRectF(-2.2, -3.2, 6.4, 6.4), -50 * 16, 100 * 16);
    P.drawArc(QRectF(-4.0, -6.0, 12.0, 12.0), -48 * 16, 96 * 16);
}

void SoundOffGlyph(QPainter &P, const TColours &C, bool Pressed) {
    P.translate(-1.6, 0);
    P.setBrush(Pressed ? C.InkSoft.darker(120) : C.InkSoft);
    SpeakerGlyph(P);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Pressed ? C.PressedGlyph : Copper, 1.6, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(2.4, -2.6), QPointF(7.4, 2.4));
    P.drawLine(QPointF(7.4, -2.6), QPointF(2.4, 2.4));
}

void CloseGlyph(QPainter &P, const TColours &C, bool Pressed) {
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Pressed ? C.PressedGlyph : C.InkSoft, 1.6, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(-3, -3), QPointF(3, 3));
    P.drawLine(QPointF(3, -3), QPointF(-3, 3));
}

// The LCD panel behind the song, time and stream texts: a graphite bezel around a dark
// screen with a faint line raster, and the program's name in a corner. It is dark in both
// tones; on a dark window its bezel gets a lighter edge so that it does not melt into it.
QPixmap DisplayPanel(TSkinTone Tone, qreal Ratio) {
    return Render(391, 93, Ratio, [Tone](QPainter &P) {
        const QRectF Outer(0.5, 0.5, 390, 92);
        P.setPen(
            QPen(Tone == TSkinTone::Dark ? QColor(0x4a, 0x51, 0x58) : QColor(0x14, 0x17, 0x1a), 1));
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
void Groove(QPainter &P, const TColours &C, const QRectF &Slot) {
    const qreal R = Slot.height() / 2;
    P.setPen(Qt::NoPen);
    P.setBrush(C.GrooveLip);
    P.drawRoundedRect(Slot.translated(0, 1), R, R);
    P.setBrush(Vertical(Slot.top(), Slot.bottom(), C.GrooveTop, C.GrooveBottom));
    P.setPen(QPen(C.GroovePen, 1));
    P.drawRoundedRect(Slot, R, R);
}

QPixmap SeekTrack(const TColours &C, qreal Ratio) {
    return Render(176, 15, Ratio, [&](QPainter &P) { Groove(P, C, QRectF(3.5, 5.5, 169, 5)); });
}

// The volume track rises from left to right, as loudness does.
QPixmap VolumeTrack(const TColours &C, qreal Ratio) {
    return Render(70, 15, Ratio, [&](QPainter &P) {
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
        P.setBrush(C.GrooveLip);
        P.drawPath(Wedge.translated(0, 1));
        QLinearGradient Fill(0, 0, 70, 0);
        Fill.setColorAt(0, C.VolumeLow);
        Fill.setColorAt(1, C.VolumeHigh);
        P.setBrush(Fill);
        P.setPen(QPen(C.GroovePen, 1));
        P.drawPath(Wedge);
    });
}

enum class TLook { Normal, Highlighted, Clicked };

// A round knob with a copper centre that warms under the mouse and deepens while held.
QPixmap SeekThumb(const TColours &C, qreal Ratio, TLook Look) {
    return Render(14, 15, Ratio, [&](QPainter &P) {
        const QRectF Knob(0.5, 0.5, 13, 13);
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0, 0, 0, 45));
        P.drawEllipse(Knob.translated(0, 1));
        QRadialGradient Metal(QPointF(5, 3.5), 11);
        Metal.setColorAt(0, Look == TLook::Clicked ? C.MetalClickedTop : C.MetalTop);
        Metal.setColorAt(1, Look == TLook::Clicked ? C.MetalClickedBottom : C.MetalBottom);
        P.setBrush(Metal);
        P.setPen(QPen(Look == TLook::Normal ? C.ThumbPen : CopperDark, 1));
        P.drawEllipse(Knob);
        const QColor Dot = Look == TLook::Normal        ? C.InkSoft
                           : Look == TLook::Highlighted ? CopperLight
                                                        : Copper;
        P.setPen(Qt::NoPen);
        P.setBrush(Dot);
        P.drawEllipse(QRectF(4.5, 4.5, 5, 5));
    });
}

// An upright pill, so that the volume reads as a fader beside the round seek knob.
QPixmap VolumeThumb(const TColours &C, qreal Ratio, TLook Look) {
    return Render(14, 15, Ratio, [&](QPainter &P) {
        const QRectF Pill(2.5, 0.5, 9, 13);
        P.setPen(Qt::NoPen);
        P.setBrush(QColor(0, 0, 0, 45));
        P.drawRoundedRect(Pill.translated(0, 1), 4, 4);
        P.setBrush(Look == TLook::Clicked ? Vertical(0, 14, C.MetalClickedBottom, C.MetalClickedTop)
                                          : Vertical(0, 14, C.MetalTop, C.MetalBottom));
        P.setPen(QPen(Look == TLook::Normal ? C.ThumbPen : CopperDark, 1));
        P.drawRoundedRect(Pill, 4, 4);
        P.setPen(QPen(Look == TLook::Normal        ? C.InkSoft
                      : Look == TLook::Highlighted ? CopperLight
                                                   : Copper,
                      1.6, Qt::SolidLine, Qt::RoundCap));
        P.drawLine(QPointF(7, 4.2), QPointF(7, 9.8));
    });
}

QPixmap Logo(const TColours &C, qreal Ratio) {
    // The program icon with a soft shadow, so that it sits on the window like the display
    // beside it; drawn at the device pixels it will cover.
    QImage Icon = AppIconImage(int(std::lround(50 * Ratio)));
    Icon.setDevicePixelRatio(Ratio);
    return Render(54, 54, Ratio, [&](QPainter &P) {
        P.setPen(Qt::NoPen);
        for (int Spread = 3; Spread >= 1; --Spread) {
            QColor Shade = C.Shadow;
            Shade.setAlpha(C.Shadow.alpha() * 14 / 34);
            P.setBrush(Shade);
            P.drawRoundedRect(QRectF(2 + 3.1 - Spread * 0.6, 2 + 4.2 - Spread * 0.3,
                                     43.8 + Spread * 1.2, 43.8 + Spread * 1.2),
                              10 + Spread * 0.5, 10 + Spread * 0.5);
        }
        P.drawImage(QPointF(2, 1), Icon);
    });
}

} // namespace

TSkinTone ToneOf(const QPalette &Palette) {
    return Palette.color(QPalette::Window).lightness() < 128 ? TSkinTone::Dark : TSkinTone::Light;
}

QColor SkinWindowColour(TSkinTone Tone) {
    return Colours(Tone).Window;
}

std::map<QString, QPixmap> RenderPlayerSkins(TSkinTone Tone, qreal Ratio) {
    const TColours &C = Colours(Tone);
    std::map<QString, QPixmap> Skins = {
        {QStringLiteral("logo"), Logo(C, Ratio)},
        {QStringLiteral("display"), DisplayPanel(Tone, Ratio)},
        {QStringLiteral("seek_track"), SeekTrack(C, Ratio)},
        {QStringLiteral("seek_thumb"), SeekThumb(C, Ratio, TLook::Normal)},
        {QStringLiteral("seek_thumb_hot"), SeekThumb(C, Ratio, TLook::Highlighted)},
        {QStringLiteral("seek_thumb_down"), SeekThumb(C, Ratio, TLook::Clicked)},
        {QStringLiteral("volume_track"), VolumeTrack(C, Ratio)},
        {QStringLiteral("volume_thumb"), VolumeThumb(C, Ratio, TLook::Normal)},
        {QStringLiteral("volume_thumb_hot"), VolumeThumb(C, Ratio, TLook::Highlighted)},
        {QStringLiteral("volume_thumb_down"), VolumeThumb(C, Ratio, TLook::Clicked)},
    };
    for (bool Pressed : {false, true}) {
        const QString Suffix = Pressed ? QStringLiteral("_down") : QString();
        const auto Add = [&](const char *Name, int Width, int Height, const TPaint &Glyph) {
            Skins[QLatin1String(Name) + Suffix] = Button(C, Ratio, Width, Height, Pressed, Glyph);
        };
        Add("play", 22, 23, PlayGlyph);
        Add("pause", 22, 23, PauseGlyph);
        Add("stop", 22, 23, StopGlyph);
        Add("prev", 22, 22, [](QPainter &P) { SkipGlyph(P, false); });
        Add("next", 22, 22, [](QPainter &P) { SkipGlyph(P, true); });
        Add("sound_on", 23, 23, [&](QPainter &P) { SoundOnGlyph(P, C, Pressed); });
        Add("sound_off", 23, 23, [&](QPainter &P) { SoundOffGlyph(P, C, Pressed); });
        Add("close", 19, 19, [&](QPainter &P) { CloseGlyph(P, C, Pressed); });
    }
    return Skins;
}

void DrawFocusFrame(QPainter &P, const QRectF &Area, TSkinTone Tone) {
    P.save();
    P.setRenderHint(QPainter::Antialiasing);
    P.setBrush(Qt::NoBrush);
    P.setPen(QPen(Colours(Tone).Focus, 1.5));
    const QRectF Ring = Area.adjusted(0.75, 0.75, -0.75, -0.75);
    const qreal Radius = std::min(Ring.width(), Ring.height()) / 2;
    P.drawRoundedRect(Ring, Radius, Radius);
    P.restore();
}
