#pragma once

#include "xaudio.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace xa {

// What the player reports about an input and needs to play it.
struct StreamInfo {
    long rate = 0;
    int channels = 0;
    int bitrateKbps = 0;
    int mode = 0;            // channel mode byte as in the MPEG header: 0 stereo .. 3 mono
    int64_t totalFrames = 0; // sample frames (one sample per channel)
    std::string mimeType;
    std::string description; // for debug notifications, e.g. "MPEG 1 layer III"
};

// One open input, decoded into interleaved 16-bit samples at its own rate and channel count.
// Every method throws xa::Error on failure.
class Decoder {
public:
    virtual ~Decoder() = default;

    virtual int module() const = 0;
    // May change after a read() that returned 0 frames without reaching the end: the stream
    // switched to another rate or channel count there.
    virtual const StreamInfo &info() const = 0;
    // Up to maxFrames frames into out (room for maxFrames * info().channels samples).
    virtual size_t read(int16_t *out, size_t maxFrames) = 0;
    virtual bool ended() const = 0;
    // Goes to a sample frame; returns the frame it reached.
    virtual int64_t seek(int64_t frame) = 0;
    // Per-band gains; null restores a flat response. Inputs without subbands ignore it.
    virtual void setEqualizer(const XA_EqualizerInfo *) {}
    // Once ended(): why the stream ended before the end of the file (it could not be decoded
    // from some point on), or empty when it ran to its end.
    virtual std::string endNote() const { return {}; }
};

// A place in a stream for messages: "mm:ss.mmm" (hours in front when there are any).
std::string StreamTimeText(int64_t frames, long rate);

// Opens path as MPEG audio, PCM WAV or another sound file that libsndfile reads: by its content
// for XA_MODULE_AUTO, else as the module says (the WAV module takes those other sound files
// too). MPEG audio is always recognised first. Input that cannot be decoded is refused here,
// never later.
std::unique_ptr<Decoder> OpenDecoder(const std::string &path, int module);

} // namespace xa
