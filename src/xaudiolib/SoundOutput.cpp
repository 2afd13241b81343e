#include "SoundOutput.h"

#include "Error.h"
#include "xaudio.h"

#include <algorithm>
#include <cmath>

namespace xa {

namespace {

[[noreturn]] void Fail(const std::string &what) {
    throw Error(XA_SOURCE_OUTPUT, XA_ERROR_OUTPUT_FAILED, what + ": " + SDL_GetError());
}

// About 25 ms per device buffer: short enough for pause and seek to answer quickly.
Uint16 DeviceBufferFrames(long rate) {
    Uint16 frames = 256;
    while (frames < 4096 && frames * 2 <= rate / 40)
        frames = Uint16(frames * 2);
    return frames;
}

} // namespace

std::mutex &SdlAudioMutex() {
    static std::mutex mutex;
    return mutex;
}

SoundOutput::SoundOutput() {
    std::lock_guard lock(SdlAudioMutex());
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        Fail("The sound output cannot be started");
    subsystemStarted_ = true;
}

SoundOutput::~SoundOutput() {
    close();
}

int SoundOutput::module() const {
    return XA_OUTPUT_MODULE_SOUND;
}

void SoundOutput::configure(long rate, int channels) {
    if (device_ && rate == rate_ && channels == channels_)
        return;
    closeDevice();
    SDL_AudioSpec wanted{};
    wanted.freq = int(rate);
    wanted.format = AUDIO_S16SYS;
    wanted.channels = Uint8(channels);
    wanted.samples = DeviceBufferFrames(rate);
    SDL_AudioSpec obtained{};
    {
        std::lock_guard lock(SdlAudioMutex());
        // No changes allowed: SDL converts our format to the device's.
        device_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    }
    if (device_ == 0)
        Fail("The sound device cannot be opened");
    rate_ = rate;
    channels_ = channels;
    SDL_PauseAudioDevice(device_, paused_ ? 1 : 0);
}

void SoundOutput::write(const int16_t *samples, size_t frames) {
    if (!device_)
        throw Error(XA_SOURCE_OUTPUT, XA_ERROR_OUTPUT_FAILED, "The sound device is not open");
    if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED)
        Fail("The sound device stopped");
    const size_t count = frames * size_t(channels_);
    scaled_.resize(count);
    // Balance only turns one side down, so the louder side's gain is the level of a mono stream.
    const double mono = std::max(gain_[0], gain_[1]);
    for (size_t i = 0; i < count; ++i) {
        const double value = samples[i] * (channels_ == 1 ? mono : gain_[i % 2]);
        scaled_[i] = int16_t(std::clamp(std::lround(value), -32768l, 32767l));
    }
    if (SDL_QueueAudio(device_, scaled_.data(), Uint32(count * sizeof(int16_t))) != 0)
        Fail("The sound device does not take samples");
}

size_t SoundOutput::bufferedFrames() const {
    if (!device_)
        return 0;
    // A lost device never drains; counting nothing lets the stream end instead of waiting.
    if (SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED)
        return 0;
    return SDL_GetQueuedAudioSize(device_) / (sizeof(int16_t) * size_t(channels_));
}

void SoundOutput::pause(bool paused) {
    paused_ = paused;
    if (device_)
        SDL_PauseAudioDevice(device_, paused ? 1 : 0);
}

void SoundOutput::discard() {
    if (device_)
        SDL_ClearQueuedAudio(device_);
}

void SoundOutput::setGain(double left, double right) {
    gain_[0] = left;
    gain_[1] = right;
}

void SoundOutput::closeDevice() {
    if (!device_)
        return;
    std::lock_guard lock(SdlAudioMutex());
    SDL_CloseAudioDevice(device_);
    device_ = 0;
}

void SoundOutput::close() {
    closeDevice();
    if (subsystemStarted_) {
        std::lock_guard lock(SdlAudioMutex());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystemStarted_ = false;
    }
}

void SoundOutput::ReleaseThreadData() {
    SDL_TLSCleanup();
}

} // namespace xa
