#pragma once

#include "xaudio.h"

#include <QObject>

#include <cstdint>
#include <functional>

// The hidden window that the decoding library reports to. The library's threads post
// numbered messages with two parameters; each one reaches the handler later, on the thread
// that owns the notifier, in the order posted. Posts still queued when the notifier is
// destroyed are dropped.
class TXaudioNotifier : public QObject {
public:
    using THandler = std::function<void(unsigned Message, uintptr_t WParam, intptr_t LParam)>;

    explicit TXaudioNotifier(THandler Handler);

    // Safe to call from any thread while the notifier exists.
    void Post(unsigned Message, uintptr_t WParam, intptr_t LParam);
    // What the library is given as the window: its post() forwards to Post().
    const XA_NotifyTarget *Target() const { return &FTarget; }

protected:
    bool event(QEvent *Event) override;

private:
    static void PostTo(void *Context, unsigned Message, uintptr_t WParam, intptr_t LParam);

    THandler FHandler;
    XA_NotifyTarget FTarget;
};
