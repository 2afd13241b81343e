#pragma once

#include "player/Skins.h"

#include <QImage>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

enum TSliderOrientation { slHorizontal, slVertical };

class TSlider;

using TSliderNotifyEvent = std::function<void(TSlider &Sender)>;
using TSliderMouseEvent = std::function<void(TSlider &Sender, Qt::MouseButton Button,
                                             Qt::KeyboardModifiers Shift, int X, int Y)>;
using TSliderMouseMoveEvent = std::function<void(TSlider &Sender, Qt::MouseButtons Buttons,
                                                 Qt::KeyboardModifiers Shift, int X, int Y)>;

// A slider drawn entirely from pictures: a track, and a thumb in three looks (at rest,
// under the mouse, while dragged). The user drags the thumb with the left button, or presses
// on the track to bring the thumb's middle there and drags on from that place; a finished
// press that changed the value raises OnChange. Everything is drawn into one off-screen image
// first, so a paint is a single copy of it.
//
// The owner places and sizes the control (a new slider is 0 x 0); each picture property
// keeps its own copy of what it is given. Pictures with a device pixel ratio are laid out by
// their device-independent size. The slider takes the keyboard focus by Tab and then shows a
// focus frame; keys go on to its owner, which decides what they do.
class TSlider : public QWidget {
    Q_OBJECT
public:
    explicit TSlider(QWidget *Parent = nullptr);

    const QImage &ThumbNormal() const { return FThumbNormal; }
    // Also sets the other two looks while they are unset, and the buffer's height.
    void SetThumbNormal(const QImage &Value);
    const QImage &ThumbHighlighted() const { return FThumbHighlighted; }
    void SetThumbHighlighted(const QImage &Value);
    const QImage &ThumbClicked() const { return FThumbClicked; }
    void SetThumbClicked(const QImage &Value);
    const QImage &Track() const { return FTrack; }
    // Also sets the buffer's width.
    void SetTrack(const QImage &Value);

    TSliderOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TSliderOrientation Value);
    int32_t Minimum() const { return FMinimum; }
    void SetMinimum(int32_t Value);
    int32_t Maximum() const { return FMaximum; }
    void SetMaximum(int32_t Value);
    int32_t Position() const { return FPosition; }
    // Clamps to Minimum..Maximum and redraws when the value changes; never raises OnChange.
    void SetPosition(int32_t Value);
    // As SetPosition, then OnChange when the value changed: a change the user asked for
    // other than by the mouse.
    void SetPositionAsked(int32_t Value);

    // After a drag that changed Position, and after a change asked for by assistive
    // technology.
    TSliderNotifyEvent OnChange;
    // Any button, anywhere on the control, before the slider's own handling.
    TSliderMouseEvent OnMouseDown;
    TSliderMouseMoveEvent OnMouseMove;
    TSliderMouseEvent OnMouseUp;

    // The off-screen image (as wide as the track, as high as the thumb) and where the thumb
    // was last drawn in it.
    const QImage &Buffer() const { return FBuffer; }
    QRect ThumbRect() const { return FThumbRect; }
    bool Highlighted() const { return FHighlighted; }
    bool Dragging() const { return FDragging; }

    // The tone of the focus frame, after the skins in use.
    void SetFocusTone(TSkinTone Value);
    // Whether the focus frame is drawn now.
    bool ShowsFocusFrame() const { return hasFocus(); }

protected:
    void paintEvent(QPaintEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;
    void mouseMoveEvent(QMouseEvent *Event) override;
    void mouseReleaseEvent(QMouseEvent *Event) override;
    void focusInEvent(QFocusEvent *Event) override;
    void focusOutEvent(QFocusEvent *Event) override;

private:
    void UpdateBuffer();
    void PaintBuffer();
    void ResizeBuffer();
    bool OnThumb(int X, int Y) const;
    // Drag distance to value: Range x Moved / Length, multiplied first and truncated, kept in
    // 64 bits so that wide ranges cannot overflow. A track no longer than the thumb moves
    // nothing.
    int32_t DragValue(int Moved, int Length) const;
    QSize TrackSize() const;
    QSize ThumbSize() const;

    QImage FThumbNormal;
    QImage FThumbHighlighted;
    QImage FThumbClicked;
    QImage FTrack;
    TSliderOrientation FOrientation = slHorizontal;
    int32_t FMinimum = 0;
    int32_t FMaximum = 100;
    int32_t FPosition = 0;

    bool FHighlighted = false;
    bool FDragging = false;
    int32_t FDragStartX = 0;
    int32_t FDragStartY = 0;
    int32_t FDragStartPosition = 0;
    int32_t FPressPosition = 0; // Position before the press; OnChange compares with it
    TSkinTone FFocusTone = TSkinTone::Light;
    QSize FBufferSize; // device-independent pixels
    QImage FBuffer;
    QRect FThumbRect; // left, top, right, bottom as the thumb covers them; empty at start
};
