#include "SndFileDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace xa {

namespace {

bool IsMpeg(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG || sub == SF_FORMAT_MPEG_LAYER_I ||
           sub == SF_FORMAT_MPEG_LAYER_II || sub == SF_FORMAT_MPEG_LAYER_III;
}

std::string FormatName(int format, int command) {
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, command, &info, sizeof info) != 0 || !info.name)
        return {};
    return info.name;
}

const char *MimeType(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_FLAC:
        return "audio/flac";
    case SF_FORMAT_AIFF:
        return "audio/aiff";
    case SF_FORMAT_OGG:
        return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? "audio/ogg; codecs=opus"
                                                              : "audio/ogg";
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        return "audio/wav";
    case SF_FORMAT_W64:
        return "audio/x-w64";
    case SF_FORMAT_CAF:
        return "audio/x-caf";
    default:
        return "application/octet-stream";
    }
}

// Full scale is 1.0 on libsndfile's float scale, whatever the file's own sample type: its
// 16 and 24-bit integers come through exactly, and anything past full scale is clipped.
int16_t ToInt16(float sample) {
    const long scaled = std::lrint(double(sample) * 32768.0);
    return int16_t(std::clamp<long>(scaled, -32768, 32767));
}

} // namespace

sf_count_t SndFileDecoder::Length(void *reader) {
    return static_cast<Reader *>(reader)->size;
}

sf_count_t SndFileDecoder::Seek(sf_count_t offset, int whence, void *reader) {
    auto *r = static_cast<Reader *>(reader);
    const int64_t base = whence == SEEK_CUR ? r->position : whence == SEEK_END ? r->size : 0;
    if (offset < -base)
        return -1;
    r->position = base + offset;
    return r->position;
}

sf_count_t SndFileDecoder::Read(void *out, sf_count_t bytes, void *reader) {
    auto *r = static_cast<Reader *>(reader);
    sf_count_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::pread(r->fd, static_cast<char *>(out) + done, size_t(bytes - done),
                                    off_t(r->position));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
        r->position += got;
    }
    return done;
}

sf_count_t SndFileDecoder::Tell(void *reader) {
    return static_cast<Reader *>(reader)->position;
}

SndFileDecoder::SndFileDecoder(UniqueFd &fd, const std::string &path, int64_t fileSize)
    : path_(path) {
    reader_.fd = fd.get();
    reader_.size = fileSize;
    SF_VIRTUAL_IO io{&Length, &Seek, &Read, &Write, &Tell};
    SF_INFO sf{};
    file_.reset(sf_open_virtual(&io, SFM_READ, &sf, &reader_));
    if (!file_) {
        const int error = sf_error(nullptr);
        const std::string why = sf_error_number(error);
        if (error == SF_ERR_UNRECOGNISED_FORMAT)
            throw NotASoundFile(XA_SOURCE_INPUT, XA_ERROR_UNSUPPORTED_INPUT,
                                "Cannot read \"" + path_ + "\": " + why);
        throw BrokenSoundFile(XA_SOURCE_INPUT,
                              error == SF_ERR_SYSTEM ? XA_ERROR_OPEN_FAILED
                                                     : XA_ERROR_UNSUPPORTED_INPUT,
                              "Cannot read \"" + path_ + "\": " + why);
    }
    if (IsMpeg(sf.format))
        throw NotASoundFile(XA_SOURCE_INPUT, XA_ERROR_UNSUPPORTED_INPUT,
                            "Cannot read \"" + path_ + "\": MPEG audio is for the MPEG decoder");
    // The same limits as for WAV files: the player and the WAV writer take mono and stereo.
    if (sf.channels < 1 || sf.channels > 2)
        fail(XA_ERROR_UNSUPPORTED_INPUT,
             std::to_string(sf.channels) + " channels are not supported (mono or stereo only)");
    if (sf.samplerate < 1000 || sf.samplerate > 384000)
        fail(XA_ERROR_UNSUPPORTED_INPUT,
             "a sample rate of " + std::to_string(sf.samplerate) + " Hz is not supported");
    // Positions, seeking and the time display all need the length.
    if (sf.frames < 0 || sf.frames == SF_COUNT_MAX || !sf.seekable)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the length of its audio is not known");

    info_.rate = sf.samplerate;
    info_.channels = sf.channels;
    info_.totalFrames = sf.frames;
    info_.mode = sf.channels == 1 ? 3 : 0;
    describe(sf.format);
    // The average over the whole file: compressed formats have no single rate to tell.
    if (info_.totalFrames > 0) {
        const double seconds = double(info_.totalFrames) / double(info_.rate);
        info_.bitrateKbps = int(std::lround(double(fileSize) * 8 / seconds / 1000));
    }
    fd_ = std::move(fd);
}

void SndFileDecoder::fail(int code, const std::string &what) const {
    throw Error(XA_SOURCE_INPUT, code, "Cannot read \"" + path_ + "\": " + what);
}

void SndFileDecoder::describe(int format) {
    info_.mimeType = MimeType(format);
    const std::string major = FormatName(format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_MAJOR);
    const std::string sub = FormatName(format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_SUBTYPE);
    info_.description = major.empty() ? "libsndfile format" : major;
    if (!sub.empty())
        info_.description += ", " + sub;
}

size_t SndFileDecoder::read(int16_t *out, size_t maxFrames) {
    const int64_t wanted = std::min<int64_t>(int64_t(maxFrames), info_.totalFrames - position_);
    if (ended_ || wanted <= 0) {
        ended_ = true;
        return 0;
    }
    const size_t channels = size_t(info_.channels);
    samples_.resize(size_t(wanted) * channels);
    const sf_count_t got =
        std::max<sf_count_t>(0, sf_readf_float(file_.get(), samples_.data(), wanted));
    std::transform(samples_.begin(), samples_.begin() + ptrdiff_t(size_t(got) * channels), out,
                   ToInt16);
    position_ += got;
    if (got < wanted) {
        // What was read is kept; the stream ends where the file could not be read further.
        ended_ = true;
        const int error = sf_error(file_.get());
        endNote_ = "\"" + path_ + "\" cannot be decoded after " +
                   StreamTimeText(position_, info_.rate) + ": " +
                   (error != SF_ERR_NO_ERROR ? sf_strerror(file_.get())
                                             : "the file ends before its audio does");
    } else if (position_ >= info_.totalFrames) {
        ended_ = true;
    }
    return size_t(got);
}

int64_t SndFileDecoder::seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, info_.totalFrames);
    // Some decoders cannot go to the very end; nothing is read from there anyway.
    if (frame < info_.totalFrames) {
        const sf_count_t reached = sf_seek(file_.get(), frame, SEEK_SET);
        if (reached < 0)
            fail(XA_ERROR_DECODE_FAILED,
                 "cannot go to frame " + std::to_string(frame) + ": " + sf_strerror(file_.get()));
        frame = reached;
    }
    position_ = frame;
    ended_ = false;
    endNote_.clear();
    return frame;
}

} // namespace xa
