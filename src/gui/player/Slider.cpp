#include "player/Slider.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <limits>

TSlider::TSlider(QWidget *Parent) : QWidget(Parent) {
    // Moves without a button pressed drive the highlight.
    setMouseTracking(true);
    resize(0, 0);
}

void TSlider::SetThumbNormal(const QImage &Value) {
    FThumbNormal = Value;
    if (FThumbHighlighted.isNull())
        FThumbHighlighted = Value;
    if (FThumbClicked.isNull())
        FThumbClicked = Value;
    FBufferSize.setHeight(Value.height());
    ResizeBuffer();
    UpdateBuffer();
}

void TSlider::SetThumbHighlighted(const QImage &Value) {
    FThumbHighlighted = Value;
    UpdateBuffer();
}

void TSlider::SetThumbClicked(const QImage &Value) {
    FThumbClicked = Value;
    UpdateBuffer();
}

void TSlider::SetTrack(const QImage &Value) {
    FTrack = Value;
    FBufferSize.setWidth(Value.width());
    ResizeBuffer();
    UpdateBuffer();
}

void TSlider::SetOrientation(TSliderOrientation Value) {
    if (Value == FOrientation)
        return;
    FOrientation = Value;
    UpdateBuffer();
    update();
}

void TSlider::SetMinimum(int32_t Value) {
    if (Value == FMinimum)
        return;
    FMinimum = Value;
    if (FPosition < FMinimum)
        FPosition = FMinimum;
    UpdateBuffer();
    update();
}

void TSlider::SetMaximum(int32_t Value) {
    if (Value == FMaximum)
        return;
    FMaximum = Value;
    if (FPosition > FMaximum)
        FPosition = FMaximum;
    UpdateBuffer();
    update();
}

void TSlider::SetPosition(int32_t Value) {
    // Raised first, then lowered: with Minimum above Maximum, Maximum wins.
    if (Value < FMinimum)
        Value = FMinimum;
    if (Value > FMaximum)
        Value = FMaximum;
    if (Value == FPosition)
        return;
    FPosition = Value;
    UpdateBuffer();
    PaintBuffer();
}

void TSlider::ResizeBuffer() {
    if (FBufferSize.width() > 0 && FBufferSize.height() > 0) {
        FBuffer = QImage(FBufferSize, QImage::Format_ARGB32_Premultiplied);
        FBuffer.fill(Qt::transparent);
    } else {
        FBuffer = QImage();
    }
}

void TSlider::UpdateBuffer() {
    if (FMinimum == FMaximum || FTrack.isNull() || FThumbNormal.isNull() || FBuffer.isNull())
        return;
    const int64_t Travel = FTrack.width() - FThumbNormal.width();
    const int X = int(Travel * (int64_t(FPosition) - FMinimum) / (int64_t(FMaximum) - FMinimum));
    FThumbRect = QRect(X, 0, FThumbNormal.width(), FThumbNormal.height());

    FBuffer.fill(Qt::transparent);
    QPainter P(&FBuffer);
    P.drawImage(0, 0, FTrack);
    const QImage &Thumb = FDragging      ? FThumbClicked
                          : FHighlighted ? FThumbHighlighted
                                         : FThumbNormal;
    P.drawImage(X, 0, Thumb);
}

void TSlider::PaintBuffer() {
    update();
}

void TSlider::paintEvent(QPaintEvent *) {
    if (FBuffer.isNull())
        return;
    QPainter P(this);
    P.drawImage(0, 0, FBuffer);
}

bool TSlider::OnThumb(int X, int Y) const {
    return X >= FThumbRect.left() && X < FThumbRect.left() + FThumbRect.width() &&
           Y >= FThumbRect.top() && Y < FThumbRect.top() + FThumbRect.height();
}

int32_t TSlider::DragValue(int Moved, int Length) const {
    if (Length <= 0)
        return FDragStartPosition;
    const int64_t Value =
        FDragStartPosition + (int64_t(FMaximum) - FMinimum) * int64_t(Moved) / Length;
    return int32_t(std::clamp<int64_t>(Value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

void TSlider::mousePressEvent(QMouseEvent *Event) {
    const QPoint At = Event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(*this, Event->button(), Event->modifiers(), At.x(), At.y());
    Event->accept();
    if (Event->button() != Qt::LeftButton || !OnThumb(At.x(), At.y()))
        return;
    FDragging = true;
    FDragStartX = At.x();
    FDragStartY = At.y();
    FDragStartPosition = FPosition;
    UpdateBuffer();
    PaintBuffer();
}

void TSlider::mouseMoveEvent(QMouseEvent *Event) {
    const QPoint At = Event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(*this, Event->buttons(), Event->modifiers(), At.x(), At.y());
    Event->accept();
    if (!FDragging) {
        if (OnThumb(At.x(), At.y())) {
            FHighlighted = true;
            UpdateBuffer();
            PaintBuffer();
        } else if (FHighlighted) {
            FHighlighted = false;
            UpdateBuffer();
            PaintBuffer();
        }
        return;
    }
    if (FOrientation == slHorizontal)
        SetPosition(DragValue(At.x() - FDragStartX, FTrack.width() - FThumbNormal.width()));
    else
        SetPosition(DragValue(FDragStartY - At.y(), FTrack.height() - FThumbNormal.height()));
}

void TSlider::mouseReleaseEvent(QMouseEvent *Event) {
    const QPoint At = Event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(*this, Event->button(), Event->modifiers(), At.x(), At.y());
    Event->accept();
    if (Event->button() != Qt::LeftButton || !FDragging)
        return;
    FDragging = false;
    if (FPosition != FDragStartPosition && OnChange)
        OnChange(*this);
    UpdateBuffer();
    PaintBuffer();
}
