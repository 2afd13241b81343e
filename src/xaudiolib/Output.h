#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace xa {

// Where decoded samples go: a WAV file or the sound output. Every method may throw xa::Error.
class Output {
public:
    virtual ~Output() = default;

    virtual int module() const = 0;
    // Real-time outputs take samples at the pace of playback; the others take them at once.
    virtual bool realTime() const = 0;
    // Sets the format of what follows; refused when the output cannot change to it.
    virtual void configure(long rate, int channels) = 0;
    // How many frames are expected to follow in the configured format; only a hint.
    virtual void expectFrames(int64_t) {}
    virtual void write(const int16_t *samples, size_t frames) = 0;
    // Frames written but not heard yet.
    virtual size_t bufferedFrames() const { return 0; }
    virtual void pause(bool) {}
    // Drops what is buffered, after a seek or stop.
    virtual void discard() {}
    // Gains of the left and right channel, 0..1.
    virtual void setGain(double, double) {}
    // Finishes the output (a WAV file gets its final sizes); throws when that fails.
    virtual void close() = 0;
};

} // namespace xa
