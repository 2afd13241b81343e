#include "Notifier.h"

namespace xa {

namespace {

// A receiver that is not decoding at all must not make the player grow without bound; a
// live one is never this far behind.
constexpr size_t kMaxPending = size_t{1} << 16;

// Points the record's text fields at the strings that travel with it.
void AttachTexts(XA_Message &m, Notification &n) {
    const char *text1 = n.text1.c_str();
    const char *text2 = n.text2.c_str();
    switch (m.code) {
    case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER:
        m.data.environment_integer.name = text1;
        break;
    case XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING:
        m.data.environment_string.name = text1;
        m.data.environment_string.value = text2;
        break;
    case XA_MSG_NOTIFY_INPUT_NAME:
    case XA_MSG_NOTIFY_OUTPUT_NAME:
    case XA_MSG_NOTIFY_STREAM_MIME_TYPE:
        m.data.name.name = text1;
        break;
    case XA_MSG_NOTIFY_INPUT_MODULE_INFO:
    case XA_MSG_NOTIFY_OUTPUT_MODULE_INFO:
    case XA_MSG_NOTIFY_CODEC_MODULE_INFO:
        m.data.module_info.name = text1;
        m.data.module_info.description = text2;
        break;
    case XA_MSG_NOTIFY_INPUT_DEVICE_INFO:
    case XA_MSG_NOTIFY_OUTPUT_DEVICE_INFO:
    case XA_MSG_NOTIFY_CODEC_DEVICE_INFO:
        m.data.device_info.name = text1;
        m.data.device_info.description = text2;
        break;
    case XA_MSG_NOTIFY_INPUT_FILTER_INFO:
    case XA_MSG_NOTIFY_OUTPUT_FILTER_INFO:
        m.data.filter_info.name = text1;
        break;
    case XA_MSG_NOTIFY_CODEC_EQUALIZER:
        m.data.equalizer.equalizer = n.equalizer ? &*n.equalizer : nullptr;
        break;
    case XA_MSG_NOTIFY_PROGRESS:
        m.data.progress.message = text1;
        break;
    case XA_MSG_NOTIFY_DEBUG:
        m.data.debug.message = text1;
        break;
    case XA_MSG_NOTIFY_ERROR:
        m.data.error.message = text1;
        break;
    default:
        break;
    }
}

} // namespace

Notifier::Notifier(const XA_NotifyTarget &target, intptr_t tag) : target_(target), tag_(tag) {}

void Notifier::post(Notification &&notification) {
    const unsigned number = XA_NOTIFY_MESSAGE_BASE + unsigned(notification.message.code);
    uint64_t sequence = 0;
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        sequence = nextSequence_++;
        pending_.emplace(sequence, std::move(notification));
        if (pending_.size() > kMaxPending)
            pending_.erase(pending_.begin());
    }
    target_.post(target_.context, number, uintptr_t(sequence), tag_);
}

void Notifier::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

int Notifier::decode(XA_Message *message, unsigned number, uintptr_t wparam, intptr_t lparam) {
    if (!message)
        return XA_ERROR_INVALID_PARAMETERS;
    if (lparam != tag_)
        return XA_FAILURE;
    std::lock_guard lock(mutex_);
    const auto found = pending_.find(uint64_t(wparam));
    if (found == pending_.end() ||
        number != XA_NOTIFY_MESSAGE_BASE + unsigned(found->second.message.code))
        return XA_FAILURE;
    current_ = std::move(found->second);
    pending_.erase(found);
    *message = current_.message;
    AttachTexts(*message, current_);
    return XA_SUCCESS;
}

} // namespace xa
