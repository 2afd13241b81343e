#include "Player.h"

#include "SoundOutput.h"
#include "WavWriter.h"

#include <algorithm>
#include <future>
#include <new>
#include <span>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_map>

namespace xa {

namespace {

using namespace std::chrono_literals;

constexpr size_t kChunkFrames = 4608;
// The sound output is kept this far ahead of what is heard: enough to ride out a busy
// machine, little enough that pause, seek and volume answer at once.
constexpr int kAheadMs = 200;
constexpr auto kPollInterval = 10ms;
// Positions and timecodes are sent at most this often, however fast the decoding runs.
constexpr auto kReportInterval = 50ms;
// A decoder that keeps returning nothing without ending would otherwise spin for ever.
constexpr int kMaxEmptyReads = 1000;

const char *const kWavPrefix = "wav:";
const char *const kSoundOutputName = "default";

struct ModuleInfo {
    int id;
    const char *name;
    const char *description;
};
constexpr ModuleInfo kInputModules[] = {
    {XA_INPUT_MODULE_MPEG, "mpeg", "MPEG audio, versions 1, 2 and 2.5, layers I, II and III"},
    {XA_INPUT_MODULE_WAVE, "wave",
     "PCM WAV files, and FLAC, AIFF, Ogg Vorbis and Opus, W64 and CAF files through "
     "libsndfile; mono or stereo"},
};
constexpr ModuleInfo kOutputModules[] = {
    {XA_OUTPUT_MODULE_SOUND, "sound", "The default sound device"},
    {XA_OUTPUT_MODULE_WAVE, "wave", "16-bit PCM WAV files (wav:PATH)"},
};
constexpr ModuleInfo kCodecModules[] = {
    {0, "mpg123", "MPEG audio decoder (libmpg123)"},
};

std::span<const ModuleInfo> ModulesOf(int notification) {
    switch (notification) {
    case XA_MSG_NOTIFY_INPUT_MODULE_INFO:
        return kInputModules;
    case XA_MSG_NOTIFY_OUTPUT_MODULE_INFO:
        return kOutputModules;
    default:
        return kCodecModules;
    }
}

bool ValidModule(int id) {
    return id >= XA_MODULE_AUTO && id <= 1;
}

// Niceness added to the thread's own for each priority. Normal is the thread as it was
// started: a conversion at normal priority keeps pace with any other program on a busy
// machine. Raising is not possible without privileges, so the levels above stay there too.
constexpr int kNiceOffset[] = {8, 4, 0, 0, 0};

bool StartsWithWav(const std::string &name) {
    return name.rfind(kWavPrefix, 0) == 0;
}

} // namespace

Player::Player(const XA_NotifyTarget &target, intptr_t tag) : notifier_(target, tag) {
    std::promise<void> started;
    std::future<void> ready = started.get_future();
    thread_ = std::thread([this, &started] {
        threadId_ = ::gettid();
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, id_t(threadId_.load()));
        baseNice_ = errno == 0 ? nice : 0;
        started.set_value();
        run();
    });
    ready.wait();
}

Player::~Player() {
    shutdown();
}

bool Player::send(Command &&command) {
    {
        std::lock_guard lock(mutex_);
        if (shutDown_)
            return false;
        queue_.push_back(std::move(command));
    }
    wake_.notify_one();
    return true;
}

void Player::shutdown() {
    {
        std::lock_guard lock(mutex_);
        if (shutDown_)
            return;
        shutDown_ = true;
        quit_ = true;
    }
    notifier_.close();
    wake_.notify_one();
    thread_.join();
}

int Player::setPriority(int priority) {
    if (priority < XA_PRIORITY_LOWEST || priority > XA_PRIORITY_HIGHEST)
        return XA_ERROR_INVALID_PARAMETERS;
    priority_ = priority;
    // Best effort: without the right to raise it again, a lowered thread stays lower.
    ::setpriority(PRIO_PROCESS, id_t(threadId_.load()), baseNice_ + kNiceOffset[priority]);
    return XA_SUCCESS;
}

void Player::run() {
    for (;;) {
        std::deque<Command> batch;
        {
            std::unique_lock lock(mutex_);
            const auto woken = [this] { return quit_ || !queue_.empty(); };
            if (state_ != XA_PLAYER_STATE_PLAYING)
                wake_.wait(lock, woken);
            else if (mustWait())
                wake_.wait_for(lock, kPollInterval, woken);
            if (quit_)
                break;
            batch.swap(queue_);
        }
        for (const Command &command : batch)
            guarded([&] { handle(command); });
        if (state_ == XA_PLAYER_STATE_PLAYING)
            guarded([&] { step(); });
    }
    // Closing here, on the player's own thread, keeps SDL's device on the thread that opened it.
    decoder_.reset();
    output_.reset();
    SoundOutput::ReleaseThreadData();
}

void Player::guarded(const std::function<void()> &work) {
    // Failures of the library's own are handled where they happen; anything else (memory, the
    // system) must still not take the program down with this thread.
    try {
        work();
    } catch (const std::bad_alloc &) {
        failPlayback(Error(XA_SOURCE_PLAYER, XA_ERROR_OUT_OF_MEMORY, "Out of memory"));
    } catch (const std::exception &error) {
        failPlayback(Error(XA_SOURCE_PLAYER, XA_FAILURE, error.what()));
    }
}

bool Player::mustWait() const {
    if (!output_ || !output_->realTime())
        return false;
    return draining_ || output_->bufferedFrames() >= size_t(outputRate_ * kAheadMs / 1000);
}

void Player::step() {
    try {
        if (draining_) {
            if (output_->bufferedFrames() == 0)
                endOfStream();
            else
                reportPosition(false);
            return;
        }
        if (mustWait()) {
            reportPosition(false);
            return;
        }
        buffer_.resize(kChunkFrames * size_t(decoder_->info().channels));
        const size_t frames = decoder_->read(buffer_.data(), kChunkFrames);
        if (frames == 0) {
            if (decoder_->ended()) {
                const std::string note = decoder_->endNote();
                if (!note.empty())
                    postStreamEnd(XA_PROGRESS_STREAM_UNDECODABLE, note + "; the output ends there");
                if (output_->realTime())
                    draining_ = true;
                else
                    endOfStream();
            } else if (++emptyReads_ > kMaxEmptyReads) {
                throw Error(XA_SOURCE_INPUT, XA_ERROR_DECODE_FAILED,
                            "The decoder of \"" + inputName_ + "\" stopped making progress");
            } else if (decoder_->info().rate != outputRate_ ||
                       decoder_->info().channels != outputChannels_) {
                if (!output_->realTime()) {
                    // A WAV file holds one format: it ends where the stream changes and keeps
                    // everything before.
                    postStreamEnd(
                        XA_PROGRESS_STREAM_FORMAT_CHANGED,
                        "\"" + inputName_ + "\" changes to " +
                            std::to_string(decoder_->info().rate) + " Hz, " +
                            std::to_string(decoder_->info().channels) + " channel(s) after " +
                            StreamTimeText(position_, outputRate_) + "; the WAV file ends there");
                    endOfStream();
                    return;
                }
                configureOutput();
                debug(XA_SOURCE_INPUT, "the stream changes to " + std::to_string(outputRate_) +
                                           " Hz, " + std::to_string(outputChannels_) +
                                           " channel(s)");
            }
            return;
        }
        emptyReads_ = 0;
        output_->write(buffer_.data(), frames);
        position_ += int64_t(frames);
        reportPosition(false);
    } catch (const Error &error) {
        failPlayback(error);
    }
}

template <typename Fill> void Player::answer(int code, Fill &&fill) {
    Notification n = MakeNotification(code);
    fill(n.message.data);
    post(std::move(n));
}

// Each command's work on the player thread. Commands missing from the table (filters, module
// registration, module messages, draining and the output channel, port and quality choices)
// have nothing to act on here and are refused.
void Player::handle(const Command &command) {
    using Handler = void (*)(Player &, const Command &);
    static const std::unordered_map<int, Handler> kHandlers = {
        {XA_MSG_COMMAND_SYNC,
         [](Player &p, const Command &c) {
             p.answer(XA_MSG_NOTIFY_ACK, [&](auto &d) { d.ack.command = uint8_t(c.code); });
         }},
        {XA_MSG_COMMAND_PING,
         [](Player &p, const Command &c) {
             p.answer(XA_MSG_NOTIFY_PONG, [&](auto &d) { d.pong.tag = uint32_t(c.i1); });
         }},
        {XA_MSG_COMMAND_PLAY, [](Player &p, const Command &) { p.play(); }},
        {XA_MSG_COMMAND_PAUSE, [](Player &p, const Command &) { p.pause(); }},
        {XA_MSG_COMMAND_STOP, [](Player &p, const Command &) { p.stop(); }},
        {XA_MSG_COMMAND_INPUT_SEEK, [](Player &p, const Command &c) { p.seek(c.i1, c.i2); }},
        {XA_MSG_COMMAND_INPUT_OPEN, [](Player &p, const Command &c) { p.openInput(c.s1); }},
        {XA_MSG_COMMAND_INPUT_CLOSE,
         [](Player &p, const Command &c) {
             if (!p.closeInput())
                 p.nack(c.code, XA_ERROR_NO_INPUT);
         }},
        {XA_MSG_COMMAND_INPUT_MODULE_QUERY,
         [](Player &p, const Command &c) { p.queryModule(c, XA_MSG_NOTIFY_INPUT_MODULE_INFO); }},
        {XA_MSG_COMMAND_OUTPUT_MODULE_QUERY,
         [](Player &p, const Command &c) { p.queryModule(c, XA_MSG_NOTIFY_OUTPUT_MODULE_INFO); }},
        {XA_MSG_COMMAND_CODEC_MODULE_QUERY,
         [](Player &p, const Command &c) { p.queryModule(c, XA_MSG_NOTIFY_CODEC_MODULE_INFO); }},
        {XA_MSG_COMMAND_INPUT_MODULES_LIST,
         [](Player &p, const Command &) { p.listModules(XA_MSG_NOTIFY_INPUT_MODULE_INFO); }},
        {XA_MSG_COMMAND_OUTPUT_MODULES_LIST,
         [](Player &p, const Command &) { p.listModules(XA_MSG_NOTIFY_OUTPUT_MODULE_INFO); }},
        {XA_MSG_COMMAND_CODEC_MODULES_LIST,
         [](Player &p, const Command &) { p.listModules(XA_MSG_NOTIFY_CODEC_MODULE_INFO); }},
        {XA_MSG_COMMAND_OUTPUT_OPEN,
         [](Player &p, const Command &c) { p.openOutput(c.s1, c.outputFd); }},
        {XA_MSG_COMMAND_OUTPUT_CLOSE, [](Player &p, const Command &) { p.closeOutputAsked(); }},
        {XA_MSG_COMMAND_OUTPUT_MUTE, [](Player &p, const Command &) { p.setMuted(true); }},
        {XA_MSG_COMMAND_OUTPUT_UNMUTE, [](Player &p, const Command &) { p.setMuted(false); }},
        {XA_MSG_COMMAND_OUTPUT_RESET,
         [](Player &p, const Command &c) {
             if (p.output_)
                 p.output_->discard();
             else
                 p.nack(c.code, XA_FAILURE);
         }},
        {XA_MSG_SET_PLAYER_MODE, [](Player &p, const Command &c) { p.playerMode_ = c.i1; }},
        {XA_MSG_GET_PLAYER_MODE,
         [](Player &p, const Command &) {
             p.answer(XA_MSG_NOTIFY_PLAYER_MODE, [&](auto &d) { d.mode.mode = p.playerMode_; });
         }},
        {XA_MSG_SET_PLAYER_ENVIRONMENT_INTEGER,
         [](Player &p, const Command &c) { p.environment_[c.s1] = c.i1; }},
        {XA_MSG_SET_PLAYER_ENVIRONMENT_STRING,
         [](Player &p, const Command &c) { p.environment_[c.s1] = c.s2; }},
        {XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER,
         [](Player &p, const Command &c) { p.getEnvironment(c.code, c.s1); }},
        {XA_MSG_GET_PLAYER_ENVIRONMENT_STRING,
         [](Player &p, const Command &c) { p.getEnvironment(c.code, c.s1); }},
        {XA_MSG_UNSET_PLAYER_ENVIRONMENT,
         [](Player &p, const Command &c) {
             if (p.environment_.erase(c.s1) == 0)
                 p.nack(c.code, XA_ERROR_INVALID_PARAMETERS);
         }},
        {XA_MSG_SET_INPUT_NAME, [](Player &p, const Command &c) { p.defaultInputName_ = c.s1; }},
        {XA_MSG_GET_INPUT_NAME,
         [](Player &p, const Command &) {
             p.postName(XA_MSG_NOTIFY_INPUT_NAME, p.decoder_ ? p.inputName_ : p.defaultInputName_);
         }},
        {XA_MSG_SET_INPUT_MODULE,
         [](Player &p, const Command &c) { p.setChecked(c, ValidModule(c.i1), p.inputModule_); }},
        {XA_MSG_GET_INPUT_MODULE,
         [](Player &p, const Command &) {
             const int id = p.decoder_ ? p.decoder_->module() : p.inputModule_;
             p.answer(XA_MSG_NOTIFY_INPUT_MODULE, [&](auto &d) { d.module.id = int16_t(id); });
         }},
        {XA_MSG_SET_INPUT_POSITION_RANGE,
         [](Player &p, const Command &c) {
             if (p.setChecked(c, c.i1 > 0, p.range_))
                 p.reportPosition(true);
         }},
        {XA_MSG_GET_INPUT_POSITION_RANGE,
         [](Player &p, const Command &) {
             p.answer(XA_MSG_NOTIFY_INPUT_POSITION_RANGE,
                      [&](auto &d) { d.position_range.range = p.range_; });
         }},
        {XA_MSG_SET_INPUT_TIMECODE_GRANULARITY,
         [](Player &p, const Command &c) { p.setChecked(c, c.i1 > 0, p.granularityMs_); }},
        {XA_MSG_GET_INPUT_TIMECODE_GRANULARITY,
         [](Player &p, const Command &) {
             p.answer(XA_MSG_NOTIFY_INPUT_TIMECODE_GRANULARITY, [&](auto &d) {
                 d.timecode_granularity.granularity = uint32_t(p.granularityMs_);
             });
         }},
        {XA_MSG_SET_OUTPUT_NAME, [](Player &p, const Command &c) { p.defaultOutputName_ = c.s1; }},
        {XA_MSG_GET_OUTPUT_NAME,
         [](Player &p, const Command &) {
             p.postName(XA_MSG_NOTIFY_OUTPUT_NAME, p.output_ ? p.outputName_ : p.defaultOutputName_);
         }},
        {XA_MSG_SET_OUTPUT_MODULE,
         [](Player &p, const Command &c) { p.setChecked(c, ValidModule(c.i1), p.outputModule_); }},
        {XA_MSG_GET_OUTPUT_MODULE,
         [](Player &p, const Command &) {
             const int id = p.output_ ? p.output_->module() : p.outputModule_;
             p.answer(XA_MSG_NOTIFY_OUTPUT_MODULE, [&](auto &d) { d.module.id = int16_t(id); });
         }},
        {XA_MSG_SET_OUTPUT_VOLUME,
         [](Player &p, const Command &c) { p.setVolume(c.i1, c.i2, c.i3); }},
        {XA_MSG_GET_OUTPUT_VOLUME,
         [](Player &p, const Command &) { p.postVolume(XA_MSG_NOTIFY_OUTPUT_VOLUME); }},
        {XA_MSG_GET_OUTPUT_CHANNELS,
         [](Player &p, const Command &) {
             p.postByte(XA_MSG_NOTIFY_OUTPUT_CHANNELS, uint8_t(p.outputChannels_));
         }},
        // One fixed port: there is nothing to choose between.
        {XA_MSG_GET_OUTPUT_PORTS,
         [](Player &p, const Command &) { p.postByte(XA_MSG_NOTIFY_OUTPUT_PORTS, 0); }},
        // Decoding always runs at full quality.
        {XA_MSG_GET_CODEC_QUALITY,
         [](Player &p, const Command &) { p.postByte(XA_MSG_NOTIFY_CODEC_QUALITY, 0); }},
        {XA_MSG_SET_CODEC_EQUALIZER,
         [](Player &p, const Command &c) {
             p.equalizer_ = c.equalizer;
             if (p.decoder_)
                 p.decoder_->setEqualizer(p.equalizer_ ? &*p.equalizer_ : nullptr);
         }},
        {XA_MSG_GET_CODEC_EQUALIZER,
         [](Player &p, const Command &) {
             Notification n = MakeNotification(XA_MSG_NOTIFY_CODEC_EQUALIZER);
             n.equalizer = p.equalizer_;
             p.post(std::move(n));
         }},
        {XA_MSG_SET_NOTIFICATION_MASK,
         [](Player &p, const Command &c) { p.mask_ = uint32_t(c.i1); }},
        {XA_MSG_GET_NOTIFICATION_MASK,
         [](Player &p, const Command &) {
             p.answer(XA_MSG_NOTIFY_NOTIFICATION_MASK,
                      [&](auto &d) { d.notification_mask.mask = p.mask_; });
         }},
        {XA_MSG_SET_DEBUG_LEVEL,
         [](Player &p, const Command &c) {
             p.setChecked(c, c.i1 >= 0 && c.i1 <= 255, p.debugLevel_);
         }},
        {XA_MSG_GET_DEBUG_LEVEL,
         [](Player &p, const Command &) {
             p.postByte(XA_MSG_NOTIFY_DEBUG_LEVEL, uint8_t(p.debugLevel_));
         }},
    };
    const auto found = kHandlers.find(command.code);
    if (found != kHandlers.end())
        found->second(*this, command);
    else
        nack(command.code, XA_ERROR_NOT_SUPPORTED);
}

bool Player::setChecked(const Command &command, bool valid, int &value) {
    if (!valid) {
        nack(command.code, XA_ERROR_INVALID_PARAMETERS);
        return false;
    }
    value = command.i1;
    return true;
}

void Player::queryModule(const Command &command, int notification) {
    if (command.i1 < 0 || size_t(command.i1) >= ModulesOf(notification).size())
        nack(command.code, XA_ERROR_INVALID_PARAMETERS);
    else
        postModuleInfo(notification, command.i1);
}

void Player::listModules(int notification) {
    for (const ModuleInfo &m : ModulesOf(notification))
        postModuleInfo(notification, m.id);
}

void Player::closeOutputAsked() {
    if (!output_) {
        nack(XA_MSG_COMMAND_OUTPUT_CLOSE, XA_FAILURE);
        return;
    }
    if (state_ == XA_PLAYER_STATE_PLAYING || state_ == XA_PLAYER_STATE_PAUSED) {
        // What the sound output still held is lost; go back to what was heard.
        const int64_t heard = heardFrames();
        draining_ = false;
        setState(XA_PLAYER_STATE_STOPPED);
        try {
            position_ = decoder_->seek(heard);
        } catch (const Error &error) {
            postError(error);
        }
    }
    closeOutput();
}

void Player::setMuted(bool muted) {
    muted_ = muted;
    applyGain();
}

void Player::play() {
    if (!decoder_) {
        nack(XA_MSG_COMMAND_PLAY, XA_ERROR_NO_INPUT);
        return;
    }
    if (state_ == XA_PLAYER_STATE_PLAYING)
        return;
    if (!output_ && !openOutput(""))
        return;
    try {
        if (state_ == XA_PLAYER_STATE_EOS && position_ >= decoder_->info().totalFrames)
            position_ = decoder_->seek(0);
        configureOutput();
    } catch (const Error &error) {
        failPlayback(error);
        return;
    }
    output_->pause(false);
    emptyReads_ = 0;
    setState(XA_PLAYER_STATE_PLAYING);
    reportPosition(true);
}

void Player::pause() {
    if (state_ != XA_PLAYER_STATE_PLAYING)
        return;
    output_->pause(true);
    setState(XA_PLAYER_STATE_PAUSED);
}

void Player::stop() {
    draining_ = false;
    if (output_) {
        output_->pause(true);
        output_->discard();
    }
    if (decoder_) {
        try {
            position_ = decoder_->seek(0);
        } catch (const Error &error) {
            postError(error);
        }
    }
    setState(XA_PLAYER_STATE_STOPPED);
    reportPosition(true);
}

void Player::seek(int offset, int range) {
    if (range <= 0) {
        nack(XA_MSG_COMMAND_INPUT_SEEK, XA_ERROR_INVALID_PARAMETERS);
        return;
    }
    if (!decoder_) {
        nack(XA_MSG_COMMAND_INPUT_SEEK, XA_ERROR_NO_INPUT);
        return;
    }
    offset = std::clamp(offset, 0, range);
    // Rounded up, so that the position reported back is the offset asked for.
    const int64_t frame = (decoder_->info().totalFrames * offset + range - 1) / range;
    draining_ = false;
    if (output_)
        output_->discard();
    try {
        position_ = decoder_->seek(frame);
    } catch (const Error &error) {
        failPlayback(error);
        return;
    }
    reportPosition(true);
}

void Player::openInput(const std::string &given) {
    const std::string name = given.empty() ? defaultInputName_ : given;
    if (name.empty()) {
        nack(XA_MSG_COMMAND_INPUT_OPEN, XA_ERROR_INVALID_PARAMETERS);
        return;
    }
    closeInput();
    try {
        decoder_ = OpenDecoder(name, inputModule_);
        if (equalizer_)
            decoder_->setEqualizer(&*equalizer_);
    } catch (const Error &error) {
        decoder_.reset();
        postError(error);
        return;
    }
    inputName_ = name;
    position_ = 0;
    lastOffset_ = lastTick_ = -1;
    const StreamInfo &info = decoder_->info();

    postByte(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_OPEN, XA_NOTIFY_MASK_INPUT_STATE);
    postName(XA_MSG_NOTIFY_INPUT_NAME, inputName_, XA_NOTIFY_MASK_INPUT_NAME);
    postName(XA_MSG_NOTIFY_STREAM_MIME_TYPE, info.mimeType, XA_NOTIFY_MASK_STREAM_INFO);
    Notification parameters = MakeNotification(XA_MSG_NOTIFY_STREAM_PARAMETERS);
    parameters.message.data.stream_parameters.frequency = uint32_t(info.rate);
    parameters.message.data.stream_parameters.bitrate = int16_t(std::min(info.bitrateKbps, 32767));
    parameters.message.data.stream_parameters.nb_channels = uint8_t(info.mode);
    post(std::move(parameters), XA_NOTIFY_MASK_STREAM_INFO);
    Notification duration = MakeNotification(XA_MSG_NOTIFY_STREAM_DURATION);
    duration.message.data.duration.duration =
        uint32_t((info.totalFrames + info.rate / 2) / info.rate);
    post(std::move(duration), XA_NOTIFY_MASK_STREAM_INFO);
    debug(XA_SOURCE_INPUT, "input: " + info.description + ", " + std::to_string(info.rate) +
                               " Hz, " + std::to_string(info.channels) + " channel(s), " +
                               std::to_string(info.totalFrames) + " frames");

    if (output_) {
        // Lets a WAV file that has no audio yet take this stream's format for its header.
        try {
            configureOutput();
        } catch (const Error &) {
            // Play reports it, when the stream really has to go there.
        }
    }
}

bool Player::closeInput() {
    if (!decoder_)
        return false;
    draining_ = false;
    if (output_) {
        output_->pause(true);
        output_->discard();
    }
    // After the end of a stream the next input follows without an intervening "stopped".
    if (state_ == XA_PLAYER_STATE_EOS)
        state_ = XA_PLAYER_STATE_STOPPED;
    setState(XA_PLAYER_STATE_STOPPED);
    decoder_.reset();
    inputName_.clear();
    position_ = 0;
    postByte(XA_MSG_NOTIFY_INPUT_STATE, XA_INPUT_STATE_CLOSED, XA_NOTIFY_MASK_INPUT_STATE);
    return true;
}

bool Player::openOutput(const std::string &given, const std::shared_ptr<UniqueFd> &fd) {
    std::string name = given.empty() ? defaultOutputName_ : given;
    const bool toFd = name.rfind(XA_OUTPUT_WAV_FD_PREFIX, 0) == 0;
    const bool wav = toFd || StartsWithWav(name) || outputModule_ == XA_OUTPUT_MODULE_WAVE;
    const std::string path = StartsWithWav(name) ? name.substr(4) : name;
    // A descriptor comes only with the command that named it (a default name has none).
    if ((wav && path.empty()) || (toFd && !(fd && *fd))) {
        nack(XA_MSG_COMMAND_OUTPUT_OPEN, XA_ERROR_INVALID_PARAMETERS);
        return false;
    }
    if (output_)
        closeOutput();
    try {
        if (toFd)
            output_ = std::make_unique<WavWriter>(UniqueFd(fd->release()));
        else if (wav)
            output_ = std::make_unique<WavWriter>(path);
        else
            output_ = std::make_unique<SoundOutput>();
    } catch (const Error &error) {
        postError(error);
        if (state_ == XA_PLAYER_STATE_PLAYING || state_ == XA_PLAYER_STATE_PAUSED)
            setState(XA_PLAYER_STATE_STOPPED);
        return false;
    }
    outputName_ = toFd ? name : wav ? kWavPrefix + path : name.empty() ? kSoundOutputName : name;
    applyGain();
    postByte(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_OPEN, XA_NOTIFY_MASK_OUTPUT_STATE);
    debug(XA_SOURCE_OUTPUT, "output: " + outputName_);

    if (decoder_) {
        try {
            configureOutput();
            if (state_ == XA_PLAYER_STATE_PLAYING)
                output_->pause(false);
        } catch (const Error &error) {
            if (state_ == XA_PLAYER_STATE_PLAYING || state_ == XA_PLAYER_STATE_PAUSED)
                failPlayback(error);
        }
    }
    return true;
}

void Player::closeOutput() {
    std::unique_ptr<Output> output = std::move(output_);
    outputRate_ = 0;
    outputChannels_ = 0;
    try {
        output->close();
    } catch (const Error &error) {
        postError(error);
    }
    output.reset();
    postByte(XA_MSG_NOTIFY_OUTPUT_STATE, XA_OUTPUT_STATE_CLOSED, XA_NOTIFY_MASK_OUTPUT_STATE);
}

void Player::setVolume(int pcm, int balance, int master) {
    const auto valid = [](int v) { return v >= -1 && v <= 100; };
    if (!valid(pcm) || !valid(balance) || !valid(master)) {
        nack(XA_MSG_SET_OUTPUT_VOLUME, XA_ERROR_INVALID_PARAMETERS);
        return;
    }
    if (pcm >= 0)
        pcmLevel_ = pcm;
    if (balance >= 0)
        balance_ = balance;
    if (master >= 0)
        masterLevel_ = master;
    applyGain();
    postVolume(XA_MSG_NOTIFY_OUTPUT_VOLUME, XA_NOTIFY_MASK_VOLUME);
    postVolume(XA_MSG_NOTIFY_OUTPUT_MASTER_LEVEL, XA_NOTIFY_MASK_VOLUME);
}

void Player::getEnvironment(int code, const std::string &name) {
    const auto found = environment_.find(name);
    const bool integer = code == XA_MSG_GET_PLAYER_ENVIRONMENT_INTEGER;
    if (found == environment_.end() || std::holds_alternative<int>(found->second) != integer) {
        nack(code, XA_ERROR_INVALID_PARAMETERS);
        return;
    }
    Notification n = MakeNotification(integer ? XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_INTEGER
                                              : XA_MSG_NOTIFY_PLAYER_ENVIRONMENT_STRING);
    n.text1 = name;
    if (integer)
        n.message.data.environment_integer.value = std::get<int>(found->second);
    else
        n.text2 = std::get<std::string>(found->second);
    post(std::move(n));
}

void Player::configureOutput() {
    const StreamInfo &info = decoder_->info();
    if (info.rate != outputRate_ || info.channels != outputChannels_) {
        output_->configure(info.rate, info.channels);
        outputRate_ = info.rate;
        outputChannels_ = info.channels;
    }
    output_->expectFrames(std::max<int64_t>(0, info.totalFrames - position_));
}

void Player::applyGain() {
    if (!output_)
        return;
    const double level = muted_ ? 0.0 : masterLevel_ / 100.0 * (pcmLevel_ / 100.0);
    // Balance 50 is the centre; moving away from it turns the other side down.
    const double left = level * std::min(1.0, (100 - balance_) / 50.0);
    const double right = level * std::min(1.0, balance_ / 50.0);
    output_->setGain(left, right);
}

void Player::endOfStream() {
    draining_ = false;
    reportPosition(true);
    output_->pause(true);
    setState(XA_PLAYER_STATE_EOS);
}

void Player::failPlayback(const Error &error) {
    postError(error);
    draining_ = false;
    if (output_) {
        output_->pause(true);
        output_->discard();
    }
    setState(XA_PLAYER_STATE_STOPPED);
}

void Player::setState(int state) {
    if (state == state_)
        return;
    state_ = state;
    postByte(XA_MSG_NOTIFY_PLAYER_STATE, uint8_t(state), XA_NOTIFY_MASK_PLAYER_STATE);
}

int64_t Player::heardFrames() const {
    const int64_t buffered = output_ ? int64_t(output_->bufferedFrames()) : 0;
    return std::max<int64_t>(0, position_ - buffered);
}

void Player::reportPosition(bool force) {
    if (!decoder_)
        return;
    const StreamInfo &info = decoder_->info();
    const int64_t heard = heardFrames();
    const auto now = std::chrono::steady_clock::now();

    const int64_t offset =
        info.totalFrames > 0 ? std::min<int64_t>(range_, heard * range_ / info.totalFrames) : 0;
    if (force || (offset != lastOffset_ && now - lastOffsetPost_ >= kReportInterval)) {
        Notification n = MakeNotification(XA_MSG_NOTIFY_INPUT_POSITION);
        n.message.data.position = {uint32_t(offset), uint32_t(range_)};
        post(std::move(n), XA_NOTIFY_MASK_INPUT_POSITION);
        lastOffset_ = offset;
        lastOffsetPost_ = now;
    }

    const int64_t ms = heard * 1000 / info.rate;
    const int64_t tick = ms / granularityMs_;
    if (force || (tick != lastTick_ && now - lastTickPost_ >= kReportInterval)) {
        Notification n = MakeNotification(XA_MSG_NOTIFY_INPUT_TIMECODE);
        n.message.data.timecode = {uint8_t(std::min<int64_t>(ms / 3600000, 255)),
                                   uint8_t(ms / 60000 % 60), uint8_t(ms / 1000 % 60),
                                   uint8_t(ms % 1000 / 10)};
        post(std::move(n), XA_NOTIFY_MASK_INPUT_TIMECODE);
        lastTick_ = tick;
        lastTickPost_ = now;
    }
}

void Player::postModuleInfo(int code, int id) {
    const ModuleInfo &module = ModulesOf(code)[size_t(id)];
    Notification n = MakeNotification(code);
    n.message.data.module_info.id = uint8_t(id);
    n.text1 = module.name;
    n.text2 = module.description;
    post(std::move(n));
}

} // namespace xa
