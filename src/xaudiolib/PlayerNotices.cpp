// The player's notifications as it posts them: the notification mask, and the records of
// names, volumes, stream ends, refusals, errors and debug texts.
#include "Player.h"

#include <algorithm>

namespace xa {

void Player::post(Notification &&notification, uint32_t maskBit) {
    if (maskBit != 0 && (mask_ & maskBit) == 0)
        return;
    notifier_.post(std::move(notification));
}

void Player::postByte(int code, uint8_t value, uint32_t maskBit) {
    Notification n = MakeNotification(code);
    // Every one-byte notification keeps its value in the first byte of the data.
    n.message.data.raw[0] = value;
    post(std::move(n), maskBit);
}

void Player::postVolume(int code, uint32_t maskBit) {
    Notification n = MakeNotification(code);
    n.message.data.volume = {uint8_t(masterLevel_), uint8_t(pcmLevel_), uint8_t(balance_)};
    post(std::move(n), maskBit);
}

void Player::postName(int code, const std::string &name, uint32_t maskBit) {
    Notification n = MakeNotification(code);
    n.text1 = name;
    post(std::move(n), maskBit);
}

void Player::postStreamEnd(int code, const std::string &why) {
    Notification n = MakeNotification(XA_MSG_NOTIFY_PROGRESS);
    n.message.data.progress.source = XA_SOURCE_INPUT;
    n.message.data.progress.code = uint8_t(code);
    n.message.data.progress.value =
        int16_t(std::min<int64_t>(outputRate_ > 0 ? position_ / outputRate_ : 0, 32767));
    n.text1 = why;
    post(std::move(n));
}

void Player::nack(int command, int error) {
    Notification n = MakeNotification(XA_MSG_NOTIFY_NACK);
    n.message.data.nack.command = uint8_t(command);
    n.message.data.nack.code = int16_t(error);
    post(std::move(n));
}

void Player::postError(const Error &error) {
    Notification n = MakeNotification(XA_MSG_NOTIFY_ERROR);
    n.message.data.error.source = uint8_t(error.source());
    n.message.data.error.code = int16_t(error.code());
    n.text1 = error.what();
    post(std::move(n), XA_NOTIFY_MASK_ERROR);
}

void Player::debug(int source, const std::string &text) {
    if (debugLevel_ == 0)
        return;
    Notification n = MakeNotification(XA_MSG_NOTIFY_DEBUG);
    n.message.data.debug.source = uint8_t(source);
    n.message.data.debug.level = 1;
    n.text1 = text;
    post(std::move(n), XA_NOTIFY_MASK_DEBUG);
}

} // namespace xa
