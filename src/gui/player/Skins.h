#pragma once

#include <QColor>
#include <QPalette>
#include <QPixmap>
#include <QRectF>
#include <QString>

#include <map>

class QPainter;

// The player's pictures, drawn by code when the window needs them: at the screen's pixel
// ratio, so that they stay sharp when the desktop scales, and in a light or a dark tone to
// sit on the desktop's window colour.
enum class TSkinTone { Light, Dark };

// Dark when the palette's window colour is.
TSkinTone ToneOf(const QPalette &Palette);

// The window colour the skins are drawn for.
QColor SkinWindowColour(TSkinTone Tone);

// Every picture of the player by name ("play", "play_down", "seek_track", ...), each with
// Ratio as its device pixel ratio and its size in device-independent pixels as laid out.
std::map<QString, QPixmap> RenderPlayerSkins(TSkinTone Tone, qreal Ratio);

// The frame around the control that has the keyboard focus: a pill that follows Area (a
// circle on a round button).
void DrawFocusFrame(QPainter &P, const QRectF &Area, TSkinTone Tone);
