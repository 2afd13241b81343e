#pragma once

#include "platform/Mailbox.h"
#include "xaudio.h"

#include <cstdint>
#include <functional>

// The hidden window that the decoding library reports to. The library's threads post
// numbered messages with two parameters; each one reaches the handler later, on the thread
// that made the notifier, in the order posted. Posts still queued when the notifier is
// destroyed are dropped.
class TXaudioNotifier {
public:
    using THandler = std::function<void(unsigned Message, uintptr_t WParam, intptr_t LParam)>;

    explicit TXaudioNotifier(THandler Handler);
    TXaudioNotifier(const TXaudioNotifier &) = delete;
    TXaudioNotifier &operator=(const TXaudioNotifier &) = delete;

    // Safe to call from any thread while the notifier exists.
    void Post(unsigned Message, uintptr_t WParam, intptr_t LParam);
    // What the library is given as the window: its post() forwards to Post().
    const XA_NotifyTarget *Target() const { return &FTarget; }

private:
    static void PostTo(void *Context, unsigned Message, uintptr_t WParam, intptr_t LParam);

    THandler FHandler;
    XA_NotifyTarget FTarget;
    // Last, so that it goes first: nothing queued runs once the handler is gone.
    TMailbox FMailbox;
};
