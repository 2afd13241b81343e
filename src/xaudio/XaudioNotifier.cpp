#include "xaudio/XaudioNotifier.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type PostedMessageType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TPostedMessage : public QEvent {
public:
    TPostedMessage(unsigned Message, uintptr_t WParam, intptr_t LParam)
        : QEvent(PostedMessageType), Message(Message), WParam(WParam), LParam(LParam) {}

    const unsigned Message;
    const uintptr_t WParam;
    const intptr_t LParam;
};

} // namespace

TXaudioNotifier::TXaudioNotifier(THandler Handler)
    : FHandler(std::move(Handler)), FTarget{&TXaudioNotifier::PostTo, this} {}

void TXaudioNotifier::Post(unsigned Message, uintptr_t WParam, intptr_t LParam) {
    // The event queue takes ownership of the event.
    QCoreApplication::postEvent(this, new TPostedMessage(Message, WParam, LParam));
}

void TXaudioNotifier::PostTo(void *Context, unsigned Message, uintptr_t WParam, intptr_t LParam) {
    static_cast<TXaudioNotifier *>(Context)->Post(Message, WParam, LParam);
}

bool TXaudioNotifier::event(QEvent *Event) {
    if (Event->type() != PostedMessageType)
        return QObject::event(Event);
    const auto *posted = static_cast<TPostedMessage *>(Event);
    if (FHandler)
        FHandler(posted->Message, posted->WParam, posted->LParam);
    return true;
}
