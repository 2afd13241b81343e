#include "Decoder.h"

#include "Error.h"
#include "Handles.h"
#include "MpegDecoder.h"
#include "SndFileDecoder.h"
#include "WavDecoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xa {

namespace {

[[noreturn]] void FailOpen(const std::string &path, int code, const std::string &why) {
    throw Error(XA_SOURCE_INPUT, code, "Cannot open \"" + path + "\": " + why);
}

bool StartsAsRiffWave(int fd) {
    unsigned char head[12];
    return ::pread(fd, head, sizeof head, 0) == sizeof head &&
           (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

// The length in bytes of the MPEG audio frame whose header is at h, or 0 when h is not one
// (free-format frames included: their length is not in the header).
size_t MpegFrameBytes(const unsigned char *h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3; // 0 = 2.5, 1 reserved, 2 = 2, 3 = 1
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static const int kBitrates[2][3][14] = {
        {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static const int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const long bitrate = kBitrates[mpeg1 ? 0 : 1][layer - 1][bitrateIndex - 1] * 1000L;
    const long rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 1)
        return size_t((12 * bitrate / rate + padding) * 4);
    return size_t((layer == 3 && !mpeg1 ? 72 : 144) * bitrate / rate + padding);
}

// Whether the file starts as MPEG audio: after any ID3v2 tags, a frame header and another one
// of the same stream right after that frame. Files that pass go to the MPEG decoder before any
// other reader sees them; the others may still be MPEG audio with something odd in front,
// which the MPEG decoder gets once the sound file reader has refused them.
bool StartsAsMpeg(int fd, int64_t size) {
    int64_t at = 0;
    unsigned char tag[10];
    while (::pread(fd, tag, sizeof tag, at) == sizeof tag && std::memcmp(tag, "ID3", 3) == 0) {
        const int64_t body = int64_t(tag[6] & 0x7F) << 21 | int64_t(tag[7] & 0x7F) << 14 |
                             int64_t(tag[8] & 0x7F) << 7 | int64_t(tag[9] & 0x7F);
        at += 10 + body + (tag[5] & 0x10 ? 10 : 0);
    }
    unsigned char first[4];
    if (::pread(fd, first, sizeof first, at) != sizeof first)
        return false;
    const size_t bytes = MpegFrameBytes(first);
    if (bytes == 0)
        return false;
    const int64_t next = at + int64_t(bytes);
    unsigned char second[4];
    if (next + 4 > size) {
        // A single frame, perhaps followed by an ID3v1 tag.
        return next == size || (next + 3 <= size && ::pread(fd, second, 3, next) == 3 &&
                                std::memcmp(second, "TAG", 3) == 0);
    }
    if (::pread(fd, second, sizeof second, next) != sizeof second || MpegFrameBytes(second) == 0)
        return false;
    // Same version, layer and sample rate.
    return (first[1] & 0xFE) == (second[1] & 0xFE) && (first[2] & 0x0C) == (second[2] & 0x0C);
}

// The sound file reader on fd, or null when libsndfile does not know the format (fd then
// stays with the caller).
std::unique_ptr<Decoder> OpenSoundFile(UniqueFd &fd, const std::string &path, int64_t size) {
    try {
        return std::make_unique<SndFileDecoder>(fd, path, size);
    } catch (const NotASoundFile &) {
        return nullptr;
    }
}

} // namespace

std::string StreamTimeText(int64_t frames, long rate) {
    const int64_t ms = rate > 0 ? frames * 1000 / rate : 0;
    char text[32];
    if (ms >= 3600000)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", (long long)(ms / 3600000),
                      (long long)(ms / 60000 % 60), (long long)(ms / 1000 % 60),
                      (long long)(ms % 1000));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld.%03lld", (long long)(ms / 60000),
                      (long long)(ms / 1000 % 60), (long long)(ms % 1000));
    return text;
}

std::unique_ptr<Decoder> OpenDecoder(const std::string &path, int module) {
    // Non-blocking, so that a named pipe without a writer cannot stall the player.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    if (!S_ISREG(st.st_mode))
        FailOpen(path, XA_ERROR_OPEN_FAILED, "not a regular file");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    if (st.st_size == 0)
        FailOpen(path, XA_ERROR_UNSUPPORTED_INPUT, "the file is empty");

    const int64_t size = st.st_size;
    if (module == XA_INPUT_MODULE_MPEG ||
        (module == XA_MODULE_AUTO && StartsAsMpeg(fd.get(), size)))
        return std::make_unique<MpegDecoder>(std::move(fd), path, size);
    if (module == XA_INPUT_MODULE_WAVE || StartsAsRiffWave(fd.get())) {
        // Our own reader first: it takes what it knows exactly as it is. What it refuses
        // (other sample formats, or no WAV at all) may still be a sound file for libsndfile.
        UniqueFd copy(::dup(fd.get()));
        if (!copy)
            FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
        try {
            return std::make_unique<WavDecoder>(std::move(copy), path, size);
        } catch (const Error &wavError) {
            if (wavError.code() == XA_ERROR_OPEN_FAILED)
                throw;
            try {
                if (std::unique_ptr<Decoder> decoder = OpenSoundFile(fd, path, size))
                    return decoder;
            } catch (const BrokenSoundFile &) {
                // Our reader's reason says more than libsndfile's about a broken WAV file;
                // a reason found after libsndfile opened it (too many channels) goes out.
            }
            throw;
        }
    }
    if (std::unique_ptr<Decoder> decoder = OpenSoundFile(fd, path, size))
        return decoder;
    return std::make_unique<MpegDecoder>(std::move(fd), path, size);
}

} // namespace xa
