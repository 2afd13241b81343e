#pragma once

#include "Decoder.h"
#include "Error.h"
#include "Handles.h"
#include "Notifier.h"
#include "Output.h"
#include "xaudio.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <variant>
#include <vector>

namespace xa {

// A command as queued for the player thread, with copies of everything its arguments point to.
struct Command {
    int code = 0;
    int i1 = 0;
    int i2 = 0;
    int i3 = 0;
    std::string s1;
    std::string s2;
    std::optional<XA_EqualizerInfo> equalizer;
    // The library's duplicate of the descriptor of a "wavfd:N" output.
    std::shared_ptr<UniqueFd> outputFd;
};

// One player: a thread of its own that takes commands from a queue, decodes the input into
// the output (as fast as a WAV file takes it, at the pace of playback for the sound output)
// and reports through its Notifier. Everything below the queue belongs to that thread.
class Player {
public:
    Player(const XA_NotifyTarget &target, intptr_t tag);
    ~Player();
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // False once the player is shut down.
    bool send(Command &&command);
    // Stops the thread and closes input and output (a WAV file is finished) without posting
    // anything more. Must not run on the player thread itself.
    void shutdown();
    bool onPlayerThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    int setPriority(int priority);
    int priority() const { return priority_.load(); }

    int decode(XA_Message *message, unsigned number, uintptr_t wparam, intptr_t lparam) {
        return notifier_.decode(message, number, wparam, lparam);
    }

private:
    void run();
    void guarded(const std::function<void()> &work);
    bool mustWait() const;
    void handle(const Command &command);
    void step();

    // Commands.
    void play();
    void pause();
    void stop();
    void seek(int offset, int range);
    void openInput(const std::string &name);
    bool closeInput();
    bool openOutput(const std::string &name, const std::shared_ptr<UniqueFd> &fd = nullptr);
    void closeOutput();
    void setVolume(int pcm, int balance, int master);
    void getEnvironment(int code, const std::string &name);
    void queryModule(const Command &command, int notification);
    void listModules(int notification);
    // Rewinds to what was heard when playing, then closes the output.
    void closeOutputAsked();
    void setMuted(bool muted);
    // Takes the command's integer into value when valid, else refuses the command.
    bool setChecked(const Command &command, bool valid, int &value);

    // Helpers of the commands.
    void configureOutput();
    void applyGain();
    void endOfStream();
    void failPlayback(const Error &error);
    void setState(int state);
    void reportPosition(bool force);
    int64_t heardFrames() const;

    // Notifications; a non-zero mask bit makes it one the notification mask can silence.
    void post(Notification &&notification, uint32_t maskBit = 0);
    // An answer to a request, whose data fill() sets; the mask never silences it.
    template <typename Fill> void answer(int code, Fill &&fill);
    void postByte(int code, uint8_t value, uint32_t maskBit = 0);
    void postVolume(int code, uint32_t maskBit = 0);
    void postName(int code, const std::string &name, uint32_t maskBit = 0);
    void postModuleInfo(int code, int id);
    // Tells that the stream ends early (a progress notification with one of the
    // XA_PROGRESS_STREAM_ codes).
    void postStreamEnd(int code, const std::string &why);
    void nack(int command, int error);
    void postError(const Error &error);
    void debug(int source, const std::string &text);

    Notifier notifier_;
    std::atomic<int> priority_{XA_PRIORITY_HIGH};
    std::atomic<pid_t> threadId_{0};
    int baseNice_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Command> queue_;
    bool quit_ = false;
    bool shutDown_ = false;

    // Owned by the player thread.
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<Output> output_;
    std::string inputName_;
    std::string outputName_;
    std::string defaultInputName_;
    std::string defaultOutputName_;
    int inputModule_ = XA_MODULE_AUTO;
    int outputModule_ = XA_MODULE_AUTO;
    long outputRate_ = 0; // format the output was configured with, 0 for none yet
    int outputChannels_ = 0;
    int state_ = XA_PLAYER_STATE_STOPPED;
    bool draining_ = false; // the input is decoded; the sound output is playing out the rest
    int emptyReads_ = 0;
    int64_t position_ = 0; // frames taken from the decoder
    int range_ = 400;
    int granularityMs_ = 1000;
    uint32_t mask_ = XA_NOTIFY_MASK_ALL;
    int debugLevel_ = 0;
    int playerMode_ = 0;
    int masterLevel_ = 100;
    int pcmLevel_ = 100;
    int balance_ = 50;
    bool muted_ = false;
    std::optional<XA_EqualizerInfo> equalizer_;
    std::map<std::string, std::variant<int, std::string>> environment_;
    int64_t lastOffset_ = -1;
    int64_t lastTick_ = -1;
    std::chrono::steady_clock::time_point lastOffsetPost_;
    std::chrono::steady_clock::time_point lastTickPost_;
    std::vector<int16_t> buffer_;

    std::thread thread_; // last: starts once everything above exists
};

} // namespace xa
