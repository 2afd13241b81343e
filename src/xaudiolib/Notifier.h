#pragma once

#include "xaudio.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace xa {

// A notification on its way: the record, and the texts (and equaliser copy) that its pointer
// fields will point to once the receiver decodes it.
struct Notification {
    XA_Message message{};
    std::string text1;
    std::string text2;
    std::optional<XA_EqualizerInfo> equalizer;
};

// An empty notification of the given code.
inline Notification MakeNotification(int code) {
    Notification n;
    n.message.code = code;
    return n;
}

// Carries a player's notifications to its target. Each one is kept under a sequence number,
// which travels as the first parameter with the player's tag as the second; decode() hands the
// record over and keeps its texts alive until the next decode. Records that are never decoded
// are freed with the notifier, and only the newest ones are kept when the receiver stops
// decoding altogether.
class Notifier {
public:
    Notifier(const XA_NotifyTarget &target, intptr_t tag);

    // Calls the target's post() on the calling thread, outside any lock of ours, so the
    // receiver may decode (or send commands) from inside it.
    void post(Notification &&notification);
    // Nothing is posted after this returns.
    void close();
    // 0 and *message filled when the parameters are one of this notifier's pending
    // notifications; non-zero otherwise.
    int decode(XA_Message *message, unsigned number, uintptr_t wparam, intptr_t lparam);

private:
    const XA_NotifyTarget target_;
    const intptr_t tag_;
    std::mutex mutex_;
    std::map<uint64_t, Notification> pending_;
    Notification current_;
    uint64_t nextSequence_ = 1;
    bool closed_ = false;
};

} // namespace xa
