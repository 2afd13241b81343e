#pragma once

#include "Output.h"

#include <SDL.h>

#include <mutex>
#include <vector>

namespace xa {

// Held around SDL's calls that change its global audio state (start-up, shut-down, opening
// and closing a device): SDL does not guard them, every player has a thread of its own, and
// the program that loaded the library may make them too (xaudio_audio_lock).
std::mutex &SdlAudioMutex();

// The default sound device through SDL2, fed from a queue that SDL's own audio thread drains
// at the pace of playback. Volume and mute are applied to the samples on their way in.
class SoundOutput : public Output {
public:
    SoundOutput();
    ~SoundOutput() override;
    SoundOutput(const SoundOutput &) = delete;
    SoundOutput &operator=(const SoundOutput &) = delete;

    int module() const override;
    bool realTime() const override { return true; }
    void configure(long rate, int channels) override;
    void write(const int16_t *samples, size_t frames) override;
    size_t bufferedFrames() const override;
    void pause(bool paused) override;
    void discard() override;
    void setGain(double left, double right) override;
    void close() override;

    // SDL keeps per-thread data (its error text) that it frees only for threads it started
    // itself; a thread that used a SoundOutput calls this before it ends.
    static void ReleaseThreadData();

private:
    void closeDevice();

    SDL_AudioDeviceID device_ = 0;
    bool subsystemStarted_ = false;
    bool paused_ = true;
    long rate_ = 0;
    int channels_ = 0;
    double gain_[2] = {1.0, 1.0};
    std::vector<int16_t> scaled_;
};

} // namespace xa
