#include "player/Slider.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace {

// What assistive technology sees of a slider: a slider with its value and range, which it
// may also set.
class TSliderAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TSliderAccessible(TSlider *Slider) : QAccessibleWidget(Slider, QAccessible::Slider) {}

    void *interface_cast(QAccessible::InterfaceType Type) override {
        if (Type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(Type);
    }
    QString text(QAccessible::Text Type) const override {
        if (Type == QAccessible::Value)
            return QString::number(Slider()->Position());
        return QAccessibleWidget::text(Type);
    }
    QVariant currentValue() const override { return Slider()->Position(); }
    void setCurrentValue(const QVariant &Value) override {
        Slider()->SetPositionAsked(Value.toInt());
    }
    QVariant maximumValue() const override { return Slider()->Maximum(); }
    QVariant minimumValue() const override { return Slider()->Minimum(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    TSlider *Slider() const { return static_cast<TSlider *>(widget()); }
};

QAccessibleInterface *SliderAccessible(const QString &ClassName, QObject *Object) {
    if (ClassName == QLatin1String("TSlider") && Object != nullptr && Object->isWidgetType())
        return new TSliderAccessible(static_cast<TSlider *>(Object));
    return nullptr;
}

} // namespace

TSlider::TSlider(QWidget *Parent) : QWidget(Parent) {
    static const bool Registered = (QAccessible::installFactory(SliderAccessible), true);
    Q_UNUSED(Registered);
    // Moves without a button pressed drive the highlight.
    setMouseTracking(true);
    setFocusPolicy(Qt::TabFocus);
    resize(0, 0);
}

QSize TSlider::TrackSize() const {
    return FTrack.deviceIndependentSize().toSize();
}

QSize TSlider::ThumbSize() const {
    return FThumbNormal.deviceIndependentSize().toSize();
}

void TSlider::SetFocusTone(TSkinTone Value) {
    FFocusTone = Value;
    update();
}

void TSlider::SetPositionAsked(int32_t Value) {
    const int32_t Before = FPosition;
    SetPosition(Value);
    if (FPosition != Before && OnChange)
        OnChange(*this);
}

void TSlider::SetThumbNormal(const QImage &Value) {
    FThumbNormal = Value;
    if (FThumbHighlighted.isNull())
        FThumbHighlighted = Value;
    if (FThumbClicked.isNull())
        FThumbClicked = Value;
    FBufferSize.setHeight(ThumbSize().height());
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
    FBufferSize.setWidth(TrackSize().width());
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
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent Event(this, FPosition);
        QAccessible::updateAccessibility(&Event);
    }
}

void TSlider::ResizeBuffer() {
    if (FBufferSize.width() > 0 && FBufferSize.height() > 0) {
        // As sharp as the track picture is.
        const qreal Ratio = FTrack.isNull() ? 1.0 : FTrack.devicePixelRatio();
        FBuffer =
            QImage((QSizeF(FBufferSize) * Ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        FBuffer.setDevicePixelRatio(Ratio);
        FBuffer.fill(Qt::transparent);
    } else {
        FBuffer = QImage();
    }
}

void TSlider::UpdateBuffer() {
    if (FMinimum == FMaximum || FTrack.isNull() || FThumbNormal.isNull() || FBuffer.isNull())
        return;
    const QSize Thumb = ThumbSize();
    const int64_t Travel = TrackSize().width() - Thumb.width();
    const int X = int(Travel * (int64_t(FPosition) - FMinimum) / (int64_t(FMaximum) - FMinimum));
    FThumbRect = QRect(X, 0, Thumb.width(), Thumb.height());

    FBuffer.fill(Qt::transparent);
    QPainter P(&FBuffer);
    P.drawImage(QRect(QPoint(0, 0), TrackSize()), FTrack);
    const QImage &Look = FDragging      ? FThumbClicked
                         : FHighlighted ? FThumbHighlighted
                                        : FThumbNormal;
    P.drawImage(QRect(QPoint(X, 0), Thumb), Look);
}

void TSlider::PaintBuffer() {
    update();
}

void TSlider::paintEvent(QPaintEvent *) {
    if (FBuffer.isNull())
        return;
    QPainter P(this);
    P.drawImage(0, 0, FBuffer);
    if (ShowsFocusFrame())
        DrawFocusFrame(P, rect(), FFocusTone);
}

void TSlider::focusInEvent(QFocusEvent *Event) {
    QWidget::focusInEvent(Event);
    update();
}

void TSlider::focusOutEvent(QFocusEvent *Event) {
    QWidget::focusOutEvent(Event);
    update();
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
    if (Event->button() != Qt::LeftButton || FThumbRect.isEmpty())
        return;
    FPressPosition = FPosition;
    if (!OnThumb(At.x(), At.y()) && FOrientation == slHorizontal) {
        // A press on the track brings the thumb's middle there; a drag goes on from that place.
        const int Travel = TrackSize().width() - ThumbSize().width();
        if (Travel > 0) {
            const int64_t Offset = std::clamp(At.x() - ThumbSize().width() / 2, 0, Travel);
            const int64_t Range = int64_t(FMaximum) - FMinimum;
            SetPosition(int32_t(FMinimum + (Offset * Range + Travel / 2) / Travel));
        }
    } else if (!OnThumb(At.x(), At.y())) {
        return;
    }
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
        SetPosition(DragValue(At.x() - FDragStartX, TrackSize().width() - ThumbSize().width()));
    else
        SetPosition(DragValue(FDragStartY - At.y(), TrackSize().height() - ThumbSize().height()));
}

void TSlider::mouseReleaseEvent(QMouseEvent *Event) {
    const QPoint At = Event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(*this, Event->button(), Event->modifiers(), At.x(), At.y());
    Event->accept();
    if (Event->button() != Qt::LeftButton || !FDragging)
        return;
    FDragging = false;
    if (FPosition != FPressPosition && OnChange)
        OnChange(*this);
    UpdateBuffer();
    PaintBuffer();
}
