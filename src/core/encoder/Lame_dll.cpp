#include "encoder/Lame_dll.h"

#include <lame/lame.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

constexpr uint8_t InterfaceMajorVersion = 1;
constexpr uint8_t InterfaceMinorVersion = 1; // 1.1: 32-bit integer and float input

// A call may hand over this many chunks' worth of samples at once: callers size their
// reads by block alignment rather than by the chunk count, so they may pass more.
constexpr uint32_t MaxChunksPerCall = 16;

struct LameDeleter {
    void operator()(lame_global_flags *gfp) const { lame_close(gfp); }
};

struct Stream {
    std::unique_ptr<lame_global_flags, LameDeleter> lame;
    int channels = 2;
    uint32_t maxSamplesPerCall = 0;
    uint32_t bufferSize = 0;
    bool flushed = false;
};

// Handles are numbers, not pointers, so that a stale or doubly closed handle is refused
// instead of touching freed memory.
class StreamTable {
public:
    HBE_STREAM add(std::unique_ptr<Stream> stream) {
        std::lock_guard lock(mutex_);
        const HBE_STREAM handle = ++lastHandle_;
        streams_.emplace(handle, std::move(stream));
        return handle;
    }
    Stream *find(HBE_STREAM handle) {
        std::lock_guard lock(mutex_);
        auto it = streams_.find(handle);
        return it == streams_.end() ? nullptr : it->second.get();
    }
    bool remove(HBE_STREAM handle) {
        std::lock_guard lock(mutex_);
        return streams_.erase(handle) != 0;
    }

private:
    std::mutex mutex_;
    HBE_STREAM lastHandle_ = 0;
    std::unordered_map<HBE_STREAM, std::unique_ptr<Stream>> streams_;
};

StreamTable &streams() {
    static StreamTable table;
    return table;
}

// glibc serves blocks above its mmap threshold from pages of their own, and raises that
// threshold whenever such a block is freed (a closed stream, a large buffer of the program).
// The library's largest arrays would then come from the heap, at addresses that depend on
// everything allocated before. Keeping the threshold at glibc's starting value gives every
// stream the layout the library has in a fresh process.
void PinAllocatorLayout() {
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 128 * 1024); });
#endif
}

bool IsTrue(BE_BOOL value) {
    return value != 0;
}

MPEG_mode LameMode(int32_t mode) {
    switch (mode) {
    case BE_MODE_JSTEREO:
        return JOINT_STEREO;
    case BE_MODE_DUALCHANNEL:
        return DUAL_CHANNEL;
    case BE_MODE_MONO:
        return MONO;
    default:
        return STEREO;
    }
}

// The four quality choices in terms of the engine's own knobs. Normal keeps the engine's
// default algorithm quality; voice gives up the top of the spectrum, where speech has nothing.
bool ApplyQuality(lame_global_flags *gfp, int32_t preset) {
    switch (preset) {
    case BE_QUALITY_NORMAL:
        return true;
    case BE_QUALITY_LOW:
        return lame_set_quality(gfp, 7) == 0;
    case BE_QUALITY_HIGH:
        return lame_set_quality(gfp, 2) == 0;
    case BE_QUALITY_VOICE:
        return lame_set_quality(gfp, 5) == 0 && lame_set_lowpassfreq(gfp, 12000) == 0;
    default:
        return false;
    }
}

BE_ERR Configure(lame_global_flags *gfp, const BE_CONFIG &cfg, int channels) {
    const bool vbr = IsTrue(cfg.bEnableVBR);
    if (cfg.dwSampleRate == 0 || cfg.nMode < BE_MODE_STEREO || cfg.nMode > BE_MODE_MONO)
        return BE_ERR_INVALID_SETTINGS;
    if (vbr && (cfg.nVBRQuality < 0 || cfg.nVBRQuality > 9 || cfg.dwMaxBitrate < cfg.dwBitrate))
        return BE_ERR_INVALID_SETTINGS;

    bool ok = lame_set_in_samplerate(gfp, int(cfg.dwSampleRate)) == 0 &&
              lame_set_num_channels(gfp, channels) == 0 &&
              lame_set_mode(gfp, LameMode(cfg.nMode)) == 0 && ApplyQuality(gfp, cfg.nPreset) &&
              lame_set_error_protection(gfp, IsTrue(cfg.bCRC)) == 0 &&
              lame_set_copyright(gfp, IsTrue(cfg.bCopyright)) == 0 &&
              lame_set_original(gfp, IsTrue(cfg.bOriginal)) == 0 &&
              lame_set_extension(gfp, IsTrue(cfg.bPrivate)) == 0 &&
              lame_set_emphasis(gfp, int(cfg.dwEmphasis)) == 0 &&
              // CBR streams always open with an Info frame: it records the encoder's delay and
              // padding, which decoders need to give back exactly the input's samples.
              lame_set_bWriteVbrTag(gfp, !vbr || IsTrue(cfg.bWriteVBRHeader)) == 0 &&
              // Loudness analysis only feeds the Info frame's gain fields: worth its cost only
              // when the user asked for ReplayGain.
              lame_set_findReplayGain(gfp, IsTrue(cfg.bFindReplayGain) ? 1 : 0) == 0;
    if (cfg.dwReSampleRate != 0)
        ok = ok && lame_set_out_samplerate(gfp, int(cfg.dwReSampleRate)) == 0;
    if (vbr) {
        ok = ok && lame_set_VBR(gfp, vbr_default) == 0 &&
             lame_set_VBR_q(gfp, cfg.nVBRQuality) == 0 &&
             lame_set_VBR_min_bitrate_kbps(gfp, int(cfg.dwBitrate)) == 0 &&
             lame_set_VBR_max_bitrate_kbps(gfp, int(cfg.dwMaxBitrate)) == 0;
    } else {
        ok = ok && lame_set_VBR(gfp, vbr_off) == 0 && lame_set_brate(gfp, int(cfg.dwBitrate)) == 0;
    }
    lame_set_write_id3tag_automatic(gfp, 0);
    if (!ok || lame_init_params(gfp) < 0)
        return BE_ERR_INVALID_SETTINGS;
    return BE_ERR_SUCCESSFUL;
}

// The engine's entry point for one sample type: the mono forms take the channel alone, the
// stereo forms interleaved pairs.
int EncodeFrames(lame_global_flags *gfp, int channels, const int16_t *samples, int frames,
                 uint8_t *out, int outSize) {
    if (channels == 1)
        return lame_encode_buffer(gfp, samples, nullptr, frames, out, outSize);
    // The engine only reads the samples; its interface merely lacks the const.
    return lame_encode_buffer_interleaved(gfp, const_cast<int16_t *>(samples), frames, out,
                                          outSize);
}

int EncodeFrames(lame_global_flags *gfp, int channels, const int32_t *samples, int frames,
                 uint8_t *out, int outSize) {
    if (channels == 1)
        return lame_encode_buffer_int(gfp, samples, nullptr, frames, out, outSize);
    return lame_encode_buffer_interleaved_int(gfp, samples, frames, out, outSize);
}

int EncodeFrames(lame_global_flags *gfp, int channels, const float *samples, int frames,
                 uint8_t *out, int outSize) {
    if (channels == 1)
        return lame_encode_buffer_ieee_float(gfp, samples, nullptr, frames, out, outSize);
    return lame_encode_buffer_interleaved_ieee_float(gfp, samples, frames, out, outSize);
}

template <typename Sample>
BE_ERR EncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const Sample *pSamples,
                   uint8_t *pOutput, uint32_t *pdwOutput) {
    Stream *stream = streams().find(hbeStream);
    if (!stream)
        return BE_ERR_INVALID_HANDLE;
    if (!pOutput || !pdwOutput || (nSamples > 0 && !pSamples))
        return BE_ERR_INVALID_ARGUMENT;
    if (nSamples > stream->maxSamplesPerCall)
        return BE_ERR_TOO_MANY_SAMPLES;
    *pdwOutput = 0;
    // An odd value left over in stereo is half a sample frame: it cannot be encoded alone.
    const int frames = int(nSamples / uint32_t(stream->channels));
    if (frames == 0)
        return BE_ERR_SUCCESSFUL;
    const int produced = EncodeFrames(stream->lame.get(), stream->channels, pSamples, frames,
                                      pOutput, int(stream->bufferSize));
    if (produced < 0)
        return BE_ERR_ENCODER_FAILED;
    *pdwOutput = uint32_t(produced);
    return BE_ERR_SUCCESSFUL;
}

} // namespace

extern "C" {

BE_ERR beInitStream(const BE_CONFIG *pbeConfig, uint32_t *dwSamples, uint32_t *dwBufferSize,
                    HBE_STREAM *phbeStream) {
    if (!pbeConfig || !dwSamples || !dwBufferSize || !phbeStream)
        return BE_ERR_INVALID_ARGUMENT;
    const BE_CONFIG &cfg = *pbeConfig;
    if (cfg.dwConfig != BE_CONFIG_LAME || cfg.dwStructVersion != BE_CONFIG_STRUCT_VERSION ||
        cfg.dwStructSize != sizeof(BE_CONFIG))
        return BE_ERR_INVALID_CONFIG;

    PinAllocatorLayout();
    auto stream = std::make_unique<Stream>();
    stream->lame.reset(lame_init());
    if (!stream->lame)
        return BE_ERR_OUT_OF_MEMORY;
    stream->channels = cfg.nMode == BE_MODE_MONO ? 1 : 2;
    if (const BE_ERR err = Configure(stream->lame.get(), cfg, stream->channels))
        return err;

    const uint32_t frameSamples = uint32_t(lame_get_framesize(stream->lame.get()));
    const uint32_t chunkSamples = frameSamples * uint32_t(stream->channels);
    stream->maxSamplesPerCall = chunkSamples * MaxChunksPerCall;
    // The engine's documented worst case for n samples per channel is 1.25 n + 7200 bytes;
    // the same bound covers the flush.
    const uint32_t maxFrames = frameSamples * MaxChunksPerCall;
    stream->bufferSize = maxFrames + maxFrames / 4 + 7200;

    *dwSamples = chunkSamples;
    *dwBufferSize = stream->bufferSize;
    *phbeStream = streams().add(std::move(stream));
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beEncodeChunk(HBE_STREAM hbeStream, uint32_t nSamples, const int16_t *pSamples,
                     uint8_t *pOutput, uint32_t *pdwOutput) {
    return EncodeChunk(hbeStream, nSamples, pSamples, pOutput, pdwOutput);
}

BE_ERR beEncodeChunkInt32(HBE_STREAM hbeStream, uint32_t nSamples, const int32_t *pSamples,
                          uint8_t *pOutput, uint32_t *pdwOutput) {
    return EncodeChunk(hbeStream, nSamples, pSamples, pOutput, pdwOutput);
}

BE_ERR beEncodeChunkFloat(HBE_STREAM hbeStream, uint32_t nSamples, const float *pSamples,
                          uint8_t *pOutput, uint32_t *pdwOutput) {
    return EncodeChunk(hbeStream, nSamples, pSamples, pOutput, pdwOutput);
}

BE_ERR beDeinitStream(HBE_STREAM hbeStream, uint8_t *pOutput, uint32_t *pdwOutput) {
    Stream *stream = streams().find(hbeStream);
    if (!stream)
        return BE_ERR_INVALID_HANDLE;
    if (!pOutput || !pdwOutput)
        return BE_ERR_INVALID_ARGUMENT;
    *pdwOutput = 0;
    const int produced = lame_encode_flush(stream->lame.get(), pOutput, int(stream->bufferSize));
    if (produced < 0)
        return BE_ERR_ENCODER_FAILED;
    stream->flushed = true;
    *pdwOutput = uint32_t(produced);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beGetInfoFrame(HBE_STREAM hbeStream, uint8_t *pOutput, uint32_t *pdwOutput) {
    Stream *stream = streams().find(hbeStream);
    if (!stream)
        return BE_ERR_INVALID_HANDLE;
    if (!pOutput || !pdwOutput)
        return BE_ERR_INVALID_ARGUMENT;
    *pdwOutput = 0;
    // The header describes the whole stream, so it only exists once the stream is flushed.
    if (!stream->flushed)
        return BE_ERR_ENCODER_FAILED;
    const size_t size = lame_get_lametag_frame(stream->lame.get(), pOutput, BE_MAX_INFO_FRAME);
    if (size > BE_MAX_INFO_FRAME)
        return BE_ERR_ENCODER_FAILED;
    *pdwOutput = uint32_t(size);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR beCloseStream(HBE_STREAM hbeStream) {
    return streams().remove(hbeStream) ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE;
}

void beVersion(BE_VERSION *pbeVersion) {
    if (!pbeVersion)
        return;
    std::memset(pbeVersion, 0, sizeof *pbeVersion);
    lame_version_t engine;
    get_lame_version_numerical(&engine);
    pbeVersion->byDLLMajorVersion = InterfaceMajorVersion;
    pbeVersion->byDLLMinorVersion = InterfaceMinorVersion;
    pbeVersion->byMajorVersion = uint8_t(engine.major);
    pbeVersion->byMinorVersion = uint8_t(engine.minor);
    std::strncpy(pbeVersion->zEngineVersion, get_lame_short_version(),
                 sizeof pbeVersion->zEngineVersion - 1);
}
}
