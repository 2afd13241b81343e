#include "xaudio/XaudioNotifier.h"

TXaudioNotifier::TXaudioNotifier(THandler Handler)
    : FHandler(std::move(Handler)), FTarget{&TXaudioNotifier::PostTo, this} {}

void TXaudioNotifier::Post(unsigned Message, uintptr_t WParam, intptr_t LParam) {
    // The message is copied into the mailbox under its lock; the handler reads the copy on
    // the notifier's thread.
    FMailbox.Post([this, Message, WParam, LParam] {
        // A copy: the handler may destroy the notifier's owner.
        if (const THandler handler = FHandler)
            handler(Message, WParam, LParam);
    });
}

void TXaudioNotifier::PostTo(void *Context, unsigned Message, uintptr_t WParam, intptr_t LParam) {
    static_cast<TXaudioNotifier *>(Context)->Post(Message, WParam, LParam);
}
