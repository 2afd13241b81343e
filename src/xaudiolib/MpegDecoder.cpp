#include "MpegDecoder.h"

#include "Error.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

namespace xa {

namespace {

const char *VersionName(int version) {
    switch (version) {
    case MPG123_1_0:
        return "1";
    case MPG123_2_0:
        return "2";
    default:
        return "2.5";
    }
}

} // namespace

MpegDecoder::MpegDecoder(UniqueFd fd, const std::string &path, int64_t fileSize)
    : path_(path), fd_(std::move(fd)) {
    // Needed by libmpg123 before 1.27, harmless after.
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    int status = MPG123_OK;
    handle_.reset(mpg123_new(nullptr, &status));
    if (!handle_)
        throw Error(XA_SOURCE_CODEC, XA_ERROR_OUT_OF_MEMORY, "Cannot start the MPEG decoder");
    mpg123_handle *mh = handle_.get();
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    // 16-bit signed at whatever rate and channel count the stream has.
    mpg123_format_none(mh);
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_open_fd(mh, fd_.get()) != MPG123_OK)
        fail(XA_ERROR_OPEN_FAILED, mpg123_strerror(mh));
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "neither MPEG audio nor PCM WAV");
    if (mpg123_scan(mh) != MPG123_OK)
        fail(XA_ERROR_DECODE_FAILED, mpg123_strerror(mh));
    takeFormat();
    info_.totalFrames = std::max<int64_t>(0, mpg123_length(mh));
    if (info_.totalFrames == 0)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "no MPEG audio frames that can be decoded");

    mpg123_frameinfo2 frame{};
    mpg123_info2(mh, &frame);
    info_.mode = frame.mode;
    info_.bitrateKbps = frame.bitrate;
    if (frame.vbr == MPG123_ABR && frame.abr_rate > 0) {
        info_.bitrateKbps = frame.abr_rate;
    } else if (frame.vbr == MPG123_VBR) {
        const double seconds = double(info_.totalFrames) / double(info_.rate);
        info_.bitrateKbps = int(std::lround(double(fileSize) * 8 / seconds / 1000));
    }
    static const char *const layers[] = {"", "I", "II", "III"};
    info_.description = std::string("MPEG ") + VersionName(frame.version) + " layer " +
                        layers[frame.layer >= 1 && frame.layer <= 3 ? frame.layer : 0];
    info_.mimeType = "audio/mpeg";

    // A stream that only looks like MPEG audio fails on its first frames; find out now.
    std::vector<int16_t> trial(size_t(4096) * 2);
    size_t decoded = 0;
    for (int attempt = 0; attempt < 4 && decoded == 0 && !ended_; ++attempt)
        decoded = read(trial.data(), 4096);
    if (decoded == 0)
        fail(XA_ERROR_DECODE_FAILED, "the first frames cannot be decoded");
    seek(0);
}

void MpegDecoder::fail(int code, const std::string &what) const {
    throw Error(XA_SOURCE_INPUT, code, "Cannot decode \"" + path_ + "\": " + what);
}

void MpegDecoder::takeFormat() {
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(handle_.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels < 1 || channels > 2 || encoding != MPG123_ENC_SIGNED_16)
        fail(XA_ERROR_DECODE_FAILED, "the decoder gave an unusable sample format");
    info_.rate = rate;
    info_.channels = channels;
}

size_t MpegDecoder::read(int16_t *out, size_t maxFrames) {
    const size_t frameBytes = sizeof(int16_t) * size_t(info_.channels);
    size_t done = 0;
    const int status = mpg123_read(handle_.get(), reinterpret_cast<unsigned char *>(out),
                                   maxFrames * frameBytes, &done);
    switch (status) {
    case MPG123_OK:
        break;
    case MPG123_DONE:
        ended_ = true;
        break;
    case MPG123_NEW_FORMAT:
        takeFormat();
        // libmpg123 hands out no samples together with a format change.
        return 0;
    default:
        fail(XA_ERROR_DECODE_FAILED, mpg123_strerror(handle_.get()));
    }
    return done / frameBytes;
}

int64_t MpegDecoder::seek(int64_t frame) {
    const off_t reached = mpg123_seek(handle_.get(), off_t(frame), SEEK_SET);
    if (reached < 0)
        fail(XA_ERROR_DECODE_FAILED, mpg123_strerror(handle_.get()));
    ended_ = false;
    return reached;
}

void MpegDecoder::setEqualizer(const XA_EqualizerInfo *equalizer) {
    mpg123_handle *mh = handle_.get();
    if (!equalizer) {
        mpg123_reset_eq(mh);
        return;
    }
    auto factor = [](int8_t tenthsOfDb) { return std::pow(10.0, tenthsOfDb / 200.0); };
    for (int band = 0; band < 32; ++band) {
        mpg123_eq2(mh, MPG123_LEFT, band, factor(equalizer->left[band]));
        mpg123_eq2(mh, MPG123_RIGHT, band, factor(equalizer->right[band]));
    }
}

} // namespace xa
