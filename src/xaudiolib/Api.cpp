// The C entry points: handles are checked against the players that exist, arguments are
// copied into a command for the player thread, and no exception crosses the interface.

#include "Player.h"
#include "SoundOutput.h"
#include "xaudio.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace {

using xa::Command;
using xa::Player;

// Which entry point carries each command: the suffix of its name.
enum class Args { N, I, II, III, IIII, S, SS, SI, P, IPI };

std::optional<Args> ArgumentsOf(int code) {
    switch (code) {
    case XA_MSG_COMMAND_SYNC:
    case XA_MSG_COMMAND_PLAY:
    case XA_MSG_COMMAND_PAUSE:
    case XA_MSG_COMMAND_STOP:
    case XA_MSG_COMMAND_INPUT_CLOSE:
    case XA_MSG_COMMAND_INPUT_FILTERS_LIST:
    case XA_MSG_COMMAND_INPUT_MODULES_LIST:
    case XA_MSG_COMMAND_OUTPUT_CLOSE:
    case XA_MSG_COMMAND_OUTPUT_MUTE:
    case XA_MSG_COMMAND_OUTPUT_UNMUTE:
    case XA_MSG_COMMAND_OUTPUT_RESET:
    case XA_MSG_COMMAND_OUTPUT_DRAIN:
    case XA_MSG_COMMAND_OUTPUT_FILTERS_LIST:
    case XA_MSG_COMMAND_OUTPUT_MODULES_LIST:
    case XA_MSG_COMMAND_CODEC_MODULES_LIST:
    case XA_MSG_GET_PLAYER_MODE:
    case XA_MSG_GET_INPUT_NAME:
    case XA_MSG_GET_INPUT_MODULE:
    case XA_MSG_GET_INPUT_POSITION_RANGE:
    case XA_MSG_GET_INPUT_TIMECODE_GRANULARITY:
    case XA_MSG_GET_OUTPUT_NAME:
    case XA_MSG_GET_OUTPUT_MODULE:
    case XA_MSG_GET_OUTPUT_VOLUME:
    case XA_MSG_GET_OUTPUT_CHANNELS:
    case XA_MSG_GET_OUTPUT_PORTS:
    case XA_MSG_GET_CODEC_QUALITY:
    case XA_MSG_GET_CODEC_EQUALIZER:
    case XA_MSG_GET_NOTIFICATION_MASK:
    case XA_MSG_GET_DEBUG_LEVEL:
        return Args::N;
    case XA_MSG_COMMAND_PING:
    case XA_MSG_COMMAND_INPUT_MODULE_QUERY:
    case XA_MSG_COMMAND_OUTPUT_MODULE_QUERY:
    case XA_MSG_COMMAND_CODEC_MODULE_QUERY:
    case XA_MSG_SET_PLAYER_MODE:
    case XA_MSG_SET_INPUT_MODULE:
    case XA_MSG_SET_INPUT_POSITION_RANGE:
    case XA_MSG_SET_INPUT_TIMECODE_GRANULARITY:
    case XA_MSG_SET_OUTPUT_MODULE:
    case XA_MSG_SET_OUTPUT_CHANNELS:
    case XA_MSG_SET_OUTPUT_PORTS:
    case XA_MSG_SET_CODEC_QUALITY:
    case XA_MSG_SET_NOTIFICATION_MASK:
    case XA_MSG_SET_DEBUG_LEVEL:
        return Args::I;
    case XA_MSG_COMMAND_INPUT_SEEK:
        return Args::II;
    case XA_MSG_SET_OUTPUT_VOLUME:
        return Args::III;
    case XA_MSG_COMMAND_INPUT_OPEN:
    case XA_MSG_COMMAND_INPUT_MODULE_REGISTER:
    case XA_MSG_COMMAND_OUTPUT_OPEN:
    case XA_MSG_COMMAND_OUTPUT_MODULE_REGISTER:
    case XA_MSG_COMMAND_CODEC_MODULE_REGISTER:
    case XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER:
    case XA_MSG_GET_PLAYER_ENVIRONMENT_STRING:
    case XA_MSG_UNSET_PLAYER_ENVIRONMENT:
    case XA_MSG_SET_INPUT_NAME:
    case XA_MSG_SET_OUTPUT_NAME:
        return Args::S;
    case XA_MSG_SET_PLAYER_ENVIRONMENT_STRING:
        return Args::SS;
    case XA_MSG_COMMAND_INPUT_ADD_FILTER:
    case XA_MSG_COMMAND_INPUT_REMOVE_FILTER:
    case XA_MSG_COMMAND_OUTPUT_ADD_FILTER:
    case XA_MSG_COMMAND_OUTPUT_REMOVE_FILTER:
    case XA_MSG_SET_PLAYER_ENVIRONMENT_INTEGER:
        return Args::SI;
    case XA_MSG_SET_CODEC_EQUALIZER:
        return Args::P;
    case XA_MSG_COMMAND_INPUT_SEND_MESSAGE:
    case XA_MSG_COMMAND_OUTPUT_SEND_MESSAGE:
    case XA_MSG_COMMAND_CODEC_SEND_MESSAGE:
        return Args::IPI;
    default:
        return std::nullopt;
    }
}

// The players that exist. A handle names a slot and the generation of its occupant: a slot
// is reused once its player is deleted, but under a new generation, so the old handle stays
// refused for good instead of reaching the next player there.
class PlayerTable {
public:
    XA_Player *add(std::shared_ptr<Player> player) {
        std::lock_guard lock(mutex_);
        size_t index = 0;
        while (index < slots_.size() && slots_[index].player)
            ++index;
        if (index == kMaxSlots)
            throw std::bad_alloc();
        if (index == slots_.size())
            slots_.emplace_back();
        slots_[index].player = std::move(player);
        return handleOf(index);
    }

    std::shared_ptr<Player> find(const XA_Player *handle) {
        std::lock_guard lock(mutex_);
        const Slot *slot = slotOf(handle);
        return slot ? slot->player : nullptr;
    }

    // The player, now out of the table; null for an unknown handle. A player is not taken
    // from its own thread, where deleting it would wait for itself: *onOwnThread tells so.
    std::shared_ptr<Player> take(const XA_Player *handle, bool *onOwnThread) {
        std::lock_guard lock(mutex_);
        Slot *slot = slotOf(handle);
        *onOwnThread = slot && slot->player->onPlayerThread();
        if (!slot || *onOwnThread)
            return nullptr;
        ++slot->generation;
        return std::move(slot->player);
    }

private:
    // The low bits of a handle hold the slot number plus one (so no handle is null), the
    // others the generation.
    static constexpr unsigned kIndexBits = 16;
    static constexpr size_t kMaxSlots = (size_t(1) << kIndexBits) - 1;

    struct Slot {
        uintptr_t generation = 1;
        std::shared_ptr<Player> player;
    };

    XA_Player *handleOf(size_t index) const {
        const uintptr_t value = slots_[index].generation << kIndexBits | uintptr_t(index + 1);
        return reinterpret_cast<XA_Player *>(value);
    }

    Slot *slotOf(const XA_Player *handle) {
        const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
        const uintptr_t number = value & kMaxSlots;
        if (number == 0 || number > slots_.size())
            return nullptr;
        Slot &slot = slots_[number - 1];
        const uintptr_t generation = value >> kIndexBits;
        return slot.player && (slot.generation & (UINTPTR_MAX >> kIndexBits)) == generation
                   ? &slot
                   : nullptr;
    }

    std::mutex mutex_;
    std::vector<Slot> slots_;
};

PlayerTable gPlayers;
// The second parameter of every notification: which player it belongs to, never reused.
std::atomic<intptr_t> gNextTag{0x58410001};

std::shared_ptr<Player> Find(const XA_Player *handle) {
    return gPlayers.find(handle);
}

template <typename Body> int Guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return XA_ERROR_OUT_OF_MEMORY;
    } catch (...) {
        return XA_FAILURE;
    }
}

// Checks the player, the code, the entry point used for it and the arguments, then queues the
// command.
int Send(XA_Player *handle, Args args, Command &&command, bool argumentsValid = true) {
    return Guarded([&] {
        const std::shared_ptr<Player> player = Find(handle);
        if (!player)
            return XA_ERROR_INVALID_PLAYER;
        const std::optional<Args> expected = ArgumentsOf(command.code);
        if (!expected)
            return XA_ERROR_UNKNOWN_COMMAND;
        if (*expected != args || !argumentsValid)
            return XA_ERROR_INVALID_PARAMETERS;
        return player->send(std::move(command)) ? XA_SUCCESS : XA_ERROR_INVALID_PLAYER;
    });
}

// The library's own duplicate of the descriptor in "wavfd:N"; null when N is not a number
// or not an open descriptor.
std::shared_ptr<xa::UniqueFd> DuplicateOutputFd(const std::string &name) {
    const std::string digits = name.substr(std::strlen(XA_OUTPUT_WAV_FD_PREFIX));
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return nullptr;
    const int fd = ::fcntl(std::stoi(digits), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    return std::make_shared<xa::UniqueFd>(fd);
}

Command Make(int code, int i1 = 0, int i2 = 0, int i3 = 0) {
    Command command;
    command.code = code;
    command.i1 = i1;
    command.i2 = i2;
    command.i3 = i3;
    return command;
}

} // namespace

extern "C" {

int player_new(XA_Player **player, const XA_NotifyTarget *target) {
    if (!player || !target || !target->post)
        return XA_ERROR_INVALID_PARAMETERS;
    return Guarded([&] {
        *player = gPlayers.add(std::make_shared<Player>(*target, gNextTag++));
        return XA_SUCCESS;
    });
}

int player_delete(XA_Player *handle) {
    return Guarded([&] {
        bool onOwnThread = false;
        const std::shared_ptr<Player> player = gPlayers.take(handle, &onOwnThread);
        if (onOwnThread)
            return XA_FAILURE;
        if (!player)
            return XA_ERROR_INVALID_PLAYER;
        player->shutdown();
        return XA_SUCCESS;
    });
}

int player_set_priority(XA_Player *handle, int priority) {
    return Guarded([&] {
        const std::shared_ptr<Player> player = Find(handle);
        return player ? player->setPriority(priority) : XA_ERROR_INVALID_PLAYER;
    });
}

int player_get_priority(XA_Player *handle) {
    return Guarded([&] {
        const std::shared_ptr<Player> player = Find(handle);
        return player ? player->priority() : XA_ERROR_INVALID_PLAYER;
    });
}

const char *xaudio_error_string(int code) {
    switch (code) {
    case XA_SUCCESS:
        return "Success";
    case XA_FAILURE:
        return "The operation failed";
    case XA_ERROR_OUT_OF_MEMORY:
        return "Out of memory";
    case XA_ERROR_INVALID_PARAMETERS:
        return "Invalid parameters";
    case XA_ERROR_INVALID_PLAYER:
        return "No such player";
    case XA_ERROR_UNKNOWN_COMMAND:
        return "Unknown command";
    case XA_ERROR_NO_INPUT:
        return "No input is open";
    case XA_ERROR_OPEN_FAILED:
        return "The input cannot be opened";
    case XA_ERROR_UNSUPPORTED_INPUT:
        return "The input is not MPEG audio or 16-bit PCM WAV";
    case XA_ERROR_DECODE_FAILED:
        return "The input cannot be decoded";
    case XA_ERROR_OUTPUT_FAILED:
        return "The output cannot be opened";
    case XA_ERROR_WRITE_FAILED:
        return "The output cannot be written";
    case XA_ERROR_NOT_SUPPORTED:
        return "Not supported";
    default:
        return "Unknown error";
    }
}

unsigned long xaudio_get_version(int which) {
    switch (which) {
    case XA_VERSION_ID_API:
        return XA_API_VERSION_MAJOR << 16 | XA_API_VERSION_MINOR << 8;
    case XA_VERSION_ID_IMPLEMENTATION:
        return XA_IMPLEMENTATION_VERSION_MAJOR << 16 | XA_IMPLEMENTATION_VERSION_MINOR << 8;
    default:
        return 0;
    }
}

int control_message_send_N(XA_Player *player, int code) {
    return Send(player, Args::N, Make(code));
}

int control_message_send_I(XA_Player *player, int code, int i) {
    return Send(player, Args::I, Make(code, i));
}

int control_message_send_II(XA_Player *player, int code, int i1, int i2) {
    return Send(player, Args::II, Make(code, i1, i2));
}

int control_message_send_III(XA_Player *player, int code, int i1, int i2, int i3) {
    return Send(player, Args::III, Make(code, i1, i2, i3));
}

int control_message_send_IIII(XA_Player *player, int code, int i1, int i2, int i3, int) {
    // No command takes four integers; the code decides the answer.
    return Send(player, Args::IIII, Make(code, i1, i2, i3));
}

int control_message_send_S(XA_Player *player, int code, const char *str) {
    return Guarded([&] {
        Command command = Make(code);
        command.s1 = str ? str : "";
        // "wav:" alone names no file.
        bool valid = str && !(code == XA_MSG_COMMAND_OUTPUT_OPEN && command.s1 == "wav:");
        // A descriptor is duplicated now: the caller may close its own once this returns.
        if (valid && code == XA_MSG_COMMAND_OUTPUT_OPEN &&
            command.s1.rfind(XA_OUTPUT_WAV_FD_PREFIX, 0) == 0) {
            command.outputFd = DuplicateOutputFd(command.s1);
            valid = command.outputFd != nullptr;
        }
        return Send(player, Args::S, std::move(command), valid);
    });
}

int control_message_send_SS(XA_Player *player, int code, const char *str1, const char *str2) {
    return Guarded([&] {
        Command command = Make(code);
        command.s1 = str1 ? str1 : "";
        command.s2 = str2 ? str2 : "";
        return Send(player, Args::SS, std::move(command), str1 && str2);
    });
}

int control_message_send_SI(XA_Player *player, int code, const char *str, int i) {
    return Guarded([&] {
        Command command = Make(code, i);
        command.s1 = str ? str : "";
        return Send(player, Args::SI, std::move(command), str != nullptr);
    });
}

int control_message_send_P(XA_Player *player, int code, const void *ptr) {
    return Guarded([&] {
        Command command = Make(code);
        // The pointer is only valid during this call.
        if (ptr && code == XA_MSG_SET_CODEC_EQUALIZER)
            command.equalizer = *static_cast<const XA_EqualizerInfo *>(ptr);
        return Send(player, Args::P, std::move(command));
    });
}

int control_message_send_IPI(XA_Player *player, int code, int i1, const void *, int i2) {
    // No module here takes messages, so the data is never read.
    return Send(player, Args::IPI, Make(code, i1, i2));
}

void xaudio_audio_lock(void) {
    xa::SdlAudioMutex().lock();
}

void xaudio_audio_unlock(void) {
    xa::SdlAudioMutex().unlock();
}

int control_win32_params_to_message(XA_Player *handle, XA_Message *msg, unsigned message,
                                    uintptr_t wparam, intptr_t lparam) {
    return Guarded([&] {
        const std::shared_ptr<Player> player = Find(handle);
        return player ? player->decode(msg, message, wparam, lparam) : XA_ERROR_INVALID_PLAYER;
    });
}

} // extern "C"
