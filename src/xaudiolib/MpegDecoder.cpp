#include "MpegDecoder.h"

#include "Error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
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

bool MpegFileReader::attach(mpg123_handle *handle) {
    return mpg123_replace_reader_handle(handle, &Read, &Seek, nullptr) == MPG123_OK &&
           mpg123_open_handle(handle, this) == MPG123_OK;
}

ssize_t MpegFileReader::Read(void *reader, void *out, size_t bytes) {
    return static_cast<MpegFileReader *>(reader)->read(static_cast<unsigned char *>(out), bytes);
}

off_t MpegFileReader::Seek(void *reader, off_t offset, int whence) {
    return static_cast<MpegFileReader *>(reader)->seek(offset, whence);
}

ssize_t MpegFileReader::read(unsigned char *out, size_t bytes) {
    size_t done = 0;
    while (done < bytes) {
        if (position_ >= bufferAt_ && position_ < bufferAt_ + off_t(buffered_)) {
            const size_t from = size_t(position_ - bufferAt_);
            const size_t count = std::min(bytes - done, buffered_ - from);
            std::memcpy(out + done, buffer_.data() + from, count);
            done += count;
            position_ += off_t(count);
            continue;
        }
        // A request as large as the buffer goes straight to the caller.
        const bool direct = bytes - done >= buffer_.size();
        unsigned char *into = direct ? out + done : buffer_.data();
        const size_t wanted = direct ? bytes - done : buffer_.size();
        ssize_t got = 0;
        do
            got = ::pread(fd_, into, wanted, position_);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            return done > 0 ? ssize_t(done) : -1;
        if (got == 0)
            break;
        if (direct) {
            done += size_t(got);
            position_ += off_t(got);
        } else {
            bufferAt_ = position_;
            buffered_ = size_t(got);
        }
    }
    return ssize_t(done);
}

off_t MpegFileReader::seek(off_t offset, int whence) {
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = position_;
    } else if (whence == SEEK_END) {
        struct stat status {};
        if (::fstat(fd_, &status) != 0)
            return -1;
        base = status.st_size;
    } else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if (offset < -base) {
        errno = EINVAL;
        return -1;
    }
    position_ = base + offset;
    return position_;
}

MpegDecoder::MpegDecoder(UniqueFd fd, const std::string &path, int64_t fileSize)
    : path_(path), fd_(std::move(fd)) {
    // Needed by libmpg123 before 1.27, harmless after.
    static std::once_flag initialised;
    std::call_once(initialised, [] { mpg123_init(); });

    // The checks and the length scan run on a handle of their own: a decoder that has already
    // decoded (or scanned) and is sent back to the start gives slightly different samples,
    // and the scan drops the encoder-delay trimming of a file cut short.
    {
        MpegFileReader probeReader(fd_.get());
        Mpg123Ptr probe = openHandle(false, probeReader);
        // A stream that only looks like MPEG audio fails on its first frames; find out now.
        std::vector<unsigned char> trial(size_t(4096) * 2 * sizeof(int16_t));
        size_t decoded = 0;
        for (int attempt = 0; attempt < 4 && decoded == 0; ++attempt) {
            const int status = mpg123_read(probe.get(), trial.data(), trial.size(), &decoded);
            if (status != MPG123_OK && status != MPG123_NEW_FORMAT)
                break;
        }
        if (decoded == 0)
            fail(XA_ERROR_DECODE_FAILED, "the first frames cannot be decoded");
        if (mpg123_scan(probe.get()) != MPG123_OK)
            fail(XA_ERROR_DECODE_FAILED, mpg123_strerror(probe.get()));
        info_.totalFrames = std::max<int64_t>(0, mpg123_length(probe.get()));
    }
    restart();
    mpg123_handle *mh = handle_.get();
    // What the decoding handle gives: the frames scanned less the encoder delay (and libmpg123's
    // own Layer III delay), and no more than the Info header declares.
    long delay = -1;
    double unused = 0;
    if (mpg123_getstate(mh, MPG123_ENC_DELAY, &delay, &unused) == MPG123_OK && delay >= 0) {
        constexpr int64_t kLayer3DecoderDelay = 529;
        const int64_t declared = mpg123_length(mh);
        info_.totalFrames = std::max<int64_t>(0, info_.totalFrames - delay - kLayer3DecoderDelay);
        if (declared > 0)
            info_.totalFrames = std::min<int64_t>(info_.totalFrames, declared);
    }
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
}

void MpegDecoder::fail(int code, const std::string &what) const {
    throw Error(XA_SOURCE_INPUT, code, "Cannot decode \"" + path_ + "\": " + what);
}

Mpg123Ptr MpegDecoder::openHandle(bool gapless, MpegFileReader &reader) const {
    int status = MPG123_OK;
    Mpg123Ptr handle(mpg123_new(nullptr, &status));
    if (!handle)
        throw Error(XA_SOURCE_CODEC, XA_ERROR_OUT_OF_MEMORY, "Cannot start the MPEG decoder");
    mpg123_handle *mh = handle.get();
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET | (gapless ? MPG123_GAPLESS : 0), 0);
    if (!gapless)
        mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    // 16-bit signed at whatever rate and channel count the stream has.
    mpg123_format_none(mh);
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (!reader.attach(mh))
        fail(XA_ERROR_OPEN_FAILED, mpg123_strerror(mh));
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "neither MPEG audio nor PCM WAV");
    // Once the stream is found, a damaged stretch of any length is skipped rather than
    // ending the decoding there. Before that, libmpg123's own limit keeps noise from passing
    // for audio.
    mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0);
    return handle;
}

void MpegDecoder::restart() {
    handle_.reset(); // reads through the reader: gone before it
    reader_ = std::make_unique<MpegFileReader>(fd_.get());
    handle_ = openHandle(true, *reader_);
    takeFormat();
    if (equalizer_)
        setEqualizer(&*equalizer_);
    decoded_ = 0;
    ended_ = false;
    formatChanged_ = false;
    ahead_.clear();
    aheadAt_ = 0;
    endNote_.clear();
}

void MpegDecoder::takeFormat() {
    readFormat(info_.rate, info_.channels);
}

void MpegDecoder::readFormat(long &rate, int &channels) const {
    int encoding = 0;
    if (mpg123_getformat(handle_.get(), &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
        channels < 1 || channels > 2 || encoding != MPG123_ENC_SIGNED_16)
        fail(XA_ERROR_DECODE_FAILED, "the decoder gave an unusable sample format");
}

size_t MpegDecoder::read(int16_t *out, size_t maxFrames) {
    if (formatChanged_) {
        formatChanged_ = false;
        info_.rate = newRate_;
        info_.channels = newChannels_;
        return 0;
    }
    const size_t channels = size_t(info_.channels);
    if (aheadAt_ < ahead_.size()) {
        const size_t frames = std::min(maxFrames, (ahead_.size() - aheadAt_) / channels);
        std::copy_n(ahead_.begin() + ptrdiff_t(aheadAt_), frames * channels, out);
        aheadAt_ += frames * channels;
        decoded_ += int64_t(frames);
        return frames;
    }
    if (ended_)
        return 0;
    const size_t frameBytes = sizeof(int16_t) * channels;
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
        // The samples before the change come with it, still in the old format.
        checkFormatChange();
        break;
    default:
        failMidStream(decoded_ + int64_t(done / frameBytes));
        break;
    }
    decoded_ += int64_t(done / frameBytes);
    return done / frameBytes;
}

void MpegDecoder::failMidStream(int64_t at) {
    // What was decoded is kept: the stream ends where it could not be decoded any more.
    ended_ = true;
    endNote_ = "\"" + path_ + "\" cannot be decoded after " + StreamTimeText(at, info_.rate) +
               ": " + mpg123_strerror(handle_.get());
}

void MpegDecoder::checkFormatChange() {
    long rate = 0;
    int channels = 0;
    readFormat(rate, channels);
    ahead_.clear();
    aheadAt_ = 0;
    // Damage can pass for a frame or two of another rate before the stream finds itself
    // again. Only a format that lasts is a change of the stream; until then its samples are
    // held back, and dropped with the damage when the old format returns.
    std::vector<unsigned char> chunk(size_t(4096) * 2 * sizeof(int16_t));
    while (rate != info_.rate || channels != info_.channels) {
        if (ahead_.size() / size_t(channels) >= size_t(rate / 4)) {
            formatChanged_ = true;
            newRate_ = rate;
            newChannels_ = channels;
            return;
        }
        size_t done = 0;
        const int status = mpg123_read(handle_.get(), chunk.data(), chunk.size(), &done);
        const auto *samples = reinterpret_cast<const int16_t *>(chunk.data());
        ahead_.insert(ahead_.end(), samples, samples + done / sizeof(int16_t));
        if (status == MPG123_NEW_FORMAT) {
            ahead_.clear();
            readFormat(rate, channels);
        } else if (status != MPG123_OK) {
            // A stretch this short at the very end is taken for damage too.
            if (status == MPG123_DONE)
                ended_ = true;
            else
                failMidStream(decoded_);
            break;
        }
    }
    ahead_.clear();
}

int64_t MpegDecoder::seek(int64_t frame) {
    if (frame <= 0) {
        restart();
        return 0;
    }
    const off_t reached = mpg123_seek(handle_.get(), off_t(frame), SEEK_SET);
    if (reached < 0)
        fail(XA_ERROR_DECODE_FAILED, mpg123_strerror(handle_.get()));
    ended_ = false;
    formatChanged_ = false;
    ahead_.clear();
    aheadAt_ = 0;
    endNote_.clear();
    decoded_ = reached;
    return reached;
}

void MpegDecoder::setEqualizer(const XA_EqualizerInfo *equalizer) {
    mpg123_handle *mh = handle_.get();
    if (equalizer != (equalizer_ ? &*equalizer_ : nullptr))
        equalizer_ = equalizer ? std::optional(*equalizer) : std::nullopt;
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
