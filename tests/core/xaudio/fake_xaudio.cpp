// A stand-in for the decoding library, for tests. It records every call as one line of text
// ("name arg arg ...", texts quoted, the player as "player" when it is the handle that
// player_new gave out) and posts the notifications a test hands it through the target given
// to player_new. Built three ways: complete; without control_message_send_IIII
// (FAKE_WITHOUT_IIII); reporting another API minor version (FAKE_API_MINOR).

#include "xaudio.h"

#include <map>
#include <mutex>
#include <string>
#include <thread>

#ifndef FAKE_API_MINOR
#define FAKE_API_MINOR XA_API_VERSION_MINOR
#endif

namespace {

std::mutex Lock;
std::string Calls;
std::string CallsCopy;
int PlayerObject;
XA_Player *const ThePlayer = reinterpret_cast<XA_Player *>(&PlayerObject);
const XA_NotifyTarget *Target = nullptr;
int PlayerNewResult = XA_SUCCESS;
int SendResult = XA_SUCCESS;
int Priority = XA_PRIORITY_NORMAL;
std::map<uintptr_t, XA_Message> Pending;
uintptr_t NextId = 1;
constexpr unsigned NotifyNumber = XA_NOTIFY_MESSAGE_BASE + 1;

std::string Player(XA_Player *P) {
    return P == ThePlayer ? "player" : "other-player";
}
std::string Text(const char *S) {
    return S != nullptr ? '"' + std::string(S) + '"' : "null";
}
std::string Pointer(const void *P) {
    return std::to_string(reinterpret_cast<uintptr_t>(P));
}
std::string Int(long long I) {
    return std::to_string(I);
}

void Record(const std::string &Line) {
    std::lock_guard<std::mutex> guard(Lock);
    Calls += Line;
    Calls += '\n';
}

int Sent(const std::string &Line) {
    Record(Line);
    std::lock_guard<std::mutex> guard(Lock);
    return SendResult;
}

} // namespace

extern "C" {

XA_EXPORT int player_new(XA_Player **player, const XA_NotifyTarget *target) {
    Record("player_new " +
           std::string(target != nullptr && target->post != nullptr ? "target" : "null"));
    std::lock_guard<std::mutex> guard(Lock);
    if (PlayerNewResult != XA_SUCCESS) {
        // Leaves rubbish behind, as a failing library may.
        *player = reinterpret_cast<XA_Player *>(uintptr_t{0xBAD});
        return PlayerNewResult;
    }
    *player = ThePlayer;
    Target = target;
    return XA_SUCCESS;
}

XA_EXPORT int player_delete(XA_Player *player) {
    Record("player_delete " + Player(player));
    std::lock_guard<std::mutex> guard(Lock);
    Target = nullptr;
    return XA_SUCCESS;
}

XA_EXPORT int player_set_priority(XA_Player *player, int priority) {
    Record("player_set_priority " + Player(player) + " " + Int(priority));
    std::lock_guard<std::mutex> guard(Lock);
    Priority = priority;
    return XA_SUCCESS;
}

XA_EXPORT int player_get_priority(XA_Player *player) {
    Record("player_get_priority " + Player(player));
    std::lock_guard<std::mutex> guard(Lock);
    return Priority;
}

XA_EXPORT const char *xaudio_error_string(int code) {
    Record("xaudio_error_string " + Int(code));
    switch (code) {
    case XA_SUCCESS:
        return "fake success";
    case XA_ERROR_OPEN_FAILED:
        return "fake open failed \xC3\xA9"; // UTF-8, as the library's texts are
    default:
        return nullptr;
    }
}

XA_EXPORT unsigned long xaudio_get_version(int which) {
    Record("xaudio_get_version " + Int(which));
    if (which == XA_VERSION_ID_API)
        return (XA_API_VERSION_MAJOR << 16) | (FAKE_API_MINOR << 8) | 0x55;
    return which == XA_VERSION_ID_IMPLEMENTATION ? 0x00010203UL : 0;
}

XA_EXPORT int control_message_send_N(XA_Player *player, int code) {
    return Sent("control_message_send_N " + Player(player) + " " + Int(code));
}

XA_EXPORT int control_message_send_P(XA_Player *player, int code, const void *ptr) {
    return Sent("control_message_send_P " + Player(player) + " " + Int(code) + " " + Pointer(ptr));
}

XA_EXPORT int control_message_send_S(XA_Player *player, int code, const char *str) {
    return Sent("control_message_send_S " + Player(player) + " " + Int(code) + " " + Text(str));
}

XA_EXPORT int control_message_send_SS(XA_Player *player, int code, const char *str1,
                                      const char *str2) {
    return Sent("control_message_send_SS " + Player(player) + " " + Int(code) + " " + Text(str1) +
                " " + Text(str2));
}

XA_EXPORT int control_message_send_SI(XA_Player *player, int code, const char *str, int i) {
    return Sent("control_message_send_SI " + Player(player) + " " + Int(code) + " " + Text(str) +
                " " + Int(i));
}

XA_EXPORT int control_message_send_IPI(XA_Player *player, int code, int i1, const void *ptr,
                                       int i2) {
    return Sent("control_message_send_IPI " + Player(player) + " " + Int(code) + " " + Int(i1) +
                " " + Pointer(ptr) + " " + Int(i2));
}

XA_EXPORT int control_message_send_I(XA_Player *player, int code, int i) {
    return Sent("control_message_send_I " + Player(player) + " " + Int(code) + " " + Int(i));
}

XA_EXPORT int control_message_send_II(XA_Player *player, int code, int i1, int i2) {
    return Sent("control_message_send_II " + Player(player) + " " + Int(code) + " " + Int(i1) +
                " " + Int(i2));
}

XA_EXPORT int control_message_send_III(XA_Player *player, int code, int i1, int i2, int i3) {
    return Sent("control_message_send_III " + Player(player) + " " + Int(code) + " " + Int(i1) +
                " " + Int(i2) + " " + Int(i3));
}

#ifndef FAKE_WITHOUT_IIII
XA_EXPORT int control_message_send_IIII(XA_Player *player, int code, int i1, int i2, int i3,
                                        int i4) {
    return Sent("control_message_send_IIII " + Player(player) + " " + Int(code) + " " + Int(i1) +
                " " + Int(i2) + " " + Int(i3) + " " + Int(i4));
}
#endif

XA_EXPORT int control_win32_params_to_message(XA_Player *player, XA_Message *msg, unsigned message,
                                              uintptr_t wparam, intptr_t lparam) {
    Record("control_win32_params_to_message " + Player(player) + " " + Int(message) + " " +
           Int(static_cast<long long>(wparam)) + " " + Int(lparam));
    std::lock_guard<std::mutex> guard(Lock);
    if (player != ThePlayer || message != NotifyNumber)
        return XA_FAILURE;
    const auto pending = Pending.find(wparam);
    if (pending == Pending.end())
        return XA_FAILURE;
    *msg = pending->second;
    Pending.erase(pending);
    return XA_SUCCESS;
}

// Test hooks.

// Every call since the last reset, one line each.
XA_EXPORT const char *fake_calls() {
    std::lock_guard<std::mutex> guard(Lock);
    CallsCopy = Calls;
    return CallsCopy.c_str();
}

XA_EXPORT void fake_reset() {
    std::lock_guard<std::mutex> guard(Lock);
    Calls.clear();
    Pending.clear();
    PlayerNewResult = XA_SUCCESS;
    SendResult = XA_SUCCESS;
    Priority = XA_PRIORITY_NORMAL;
}

XA_EXPORT void fake_set_player_new_result(int result) {
    std::lock_guard<std::mutex> guard(Lock);
    PlayerNewResult = result;
}

// What every control_message_send_* returns from now on.
XA_EXPORT void fake_set_send_result(int result) {
    std::lock_guard<std::mutex> guard(Lock);
    SendResult = result;
}

// Posts Msg as a notification of the current player, as the library's own threads do when
// from_thread is set. -1 when no player exists.
XA_EXPORT int fake_post(const XA_Message *msg, int from_thread) {
    const XA_NotifyTarget *target;
    uintptr_t id;
    {
        std::lock_guard<std::mutex> guard(Lock);
        if (Target == nullptr)
            return -1;
        target = Target;
        id = NextId++;
        Pending[id] = *msg;
    }
    const auto post = [target, id] { target->post(target->context, NotifyNumber, id, 0); };
    if (from_thread != 0)
        std::thread(post).join();
    else
        post();
    return 0;
}

} // extern "C"
