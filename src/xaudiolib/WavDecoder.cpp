#include "WavDecoder.h"

#include "Error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace xa {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;

uint16_t Le16(const unsigned char *p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Le32(const unsigned char *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const unsigned char *p) {
    return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32;
}

// Full scale is 1.0; the nearest 16-bit value (halves to even), clipped. Not a number is
// silence.
int16_t FromUnit(double sample) {
    if (std::isnan(sample))
        return 0;
    const double scaled = std::nearbyint(sample * 32768.0);
    return int16_t(std::clamp(scaled, -32768.0, 32767.0));
}

} // namespace

WavDecoder::WavDecoder(UniqueFd fd, const std::string &path, int64_t fileSize) : path_(path) {
    file_.reset(::fdopen(fd.get(), "rb"));
    if (!file_)
        fail(XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    fd.release();

    unsigned char riff[12];
    if (std::fread(riff, 1, sizeof riff, file_.get()) != sizeof riff ||
        !(std::memcmp(riff, "RIFF", 4) == 0 || std::memcmp(riff, "RF64", 4) == 0) ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "not a RIFF WAVE file");
    const bool rf64 = std::memcmp(riff, "RF64", 4) == 0;

    const uint64_t size = uint64_t(fileSize);
    uint64_t chunk = sizeof riff;
    bool haveFormat = false, haveData = false, haveDs64 = false;
    uint64_t dataBytes = 0;
    uint64_t ds64DataBytes = 0;
    while (chunk + 8 <= size && !(haveFormat && haveData)) {
        unsigned char head[8];
        if (fseeko(file_.get(), off_t(chunk), SEEK_SET) != 0 ||
            std::fread(head, 1, sizeof head, file_.get()) != sizeof head)
            fail(XA_ERROR_DECODE_FAILED, "cannot read the chunk at byte " + std::to_string(chunk));
        uint64_t bytes = Le32(head + 4);
        const uint64_t body = chunk + 8;
        if (rf64 && std::memcmp(head, "ds64", 4) == 0) {
            ds64DataBytes = readDs64(uint32_t(bytes));
            haveDs64 = true;
        } else if (std::memcmp(head, "fmt ", 4) == 0) {
            readFormat(uint32_t(bytes));
            haveFormat = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            // In RF64 a size of all ones says the real one is in "ds64".
            if (rf64 && bytes == kSizeInDs64) {
                if (!haveDs64)
                    fail(XA_ERROR_UNSUPPORTED_INPUT,
                         "the RF64 file has no ds64 chunk before its data");
                bytes = ds64DataBytes;
            }
            dataOffset_ = body;
            // Writers that never went back to fill in the size, and files cut short, hold
            // less than the chunk claims: take what is there.
            dataBytes = std::min<uint64_t>(bytes, size - body);
            haveData = true;
        }
        chunk = body + bytes + (bytes & 1);
    }
    if (!haveFormat)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the WAV file has no format chunk");
    if (!haveData)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the WAV file has no data chunk");

    const int frameBytes = sampleBytes_ * info_.channels;
    info_.totalFrames = int64_t(dataBytes / uint64_t(frameBytes));
    info_.mode = info_.channels == 1 ? 3 : 0;
    info_.bitrateKbps = int(std::lround(double(info_.rate) * frameBytes * 8 / 1000));
    info_.mimeType = "audio/wav";
    info_.description = sample_ == Sample::Float32 ? "32-bit floating-point WAV"
                        : sample_ == Sample::Float64
                            ? "64-bit floating-point WAV"
                            : std::to_string(8 * sampleBytes_) + "-bit PCM WAV";
    seek(0);
}

void WavDecoder::fail(int code, const std::string &what) const {
    throw Error(XA_SOURCE_INPUT, code, "Cannot read \"" + path_ + "\": " + what);
}

uint64_t WavDecoder::readDs64(uint32_t chunkBytes) {
    // The RIFF size, the data size and the frame count; the table after them is not needed.
    unsigned char ds64[24];
    if (chunkBytes < sizeof ds64)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the ds64 chunk is too short");
    if (std::fread(ds64, 1, sizeof ds64, file_.get()) != sizeof ds64)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the ds64 chunk is cut short");
    return Le64(ds64 + 8);
}

void WavDecoder::readFormat(uint32_t chunkBytes) {
    unsigned char fmt[40] = {};
    if (chunkBytes < 16)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the format chunk is too short");
    const size_t wanted = std::min<size_t>(chunkBytes, sizeof fmt);
    if (std::fread(fmt, 1, wanted, file_.get()) != wanted)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the format chunk is cut short");

    uint16_t tag = Le16(fmt);
    // The extensible form names the real format in the first two bytes of its sub-format.
    if (tag == kFormatExtensible && wanted >= 26)
        tag = Le16(fmt + 24);
    const unsigned channels = Le16(fmt + 2);
    const uint32_t rate = Le32(fmt + 4);
    const unsigned blockAlign = Le16(fmt + 12);
    const unsigned bits = Le16(fmt + 14);
    if (tag == kFormatPcm && (bits == 8 || bits == 16 || bits == 24 || bits == 32))
        sample_ = bits == 8    ? Sample::Unsigned8
                  : bits == 16 ? Sample::Int16
                  : bits == 24 ? Sample::Int24
                               : Sample::Int32;
    else if (tag == kFormatFloat && (bits == 32 || bits == 64))
        sample_ = bits == 32 ? Sample::Float32 : Sample::Float64;
    else if (tag == kFormatPcm || tag == kFormatFloat)
        fail(XA_ERROR_UNSUPPORTED_INPUT, std::to_string(bits) + "-bit " +
                                             (tag == kFormatPcm ? "integer" : "floating-point") +
                                             " samples are not supported");
    else
        fail(XA_ERROR_UNSUPPORTED_INPUT, "WAV format " + std::to_string(tag) +
                                             " is not supported (PCM or floating point only)");
    sampleBytes_ = int(bits / 8);
    if (channels < 1 || channels > 2)
        fail(XA_ERROR_UNSUPPORTED_INPUT,
             std::to_string(channels) + " channels are not supported (mono or stereo only)");
    if (rate < 1000 || rate > 384000)
        fail(XA_ERROR_UNSUPPORTED_INPUT,
             "a sample rate of " + std::to_string(rate) + " Hz is not supported");
    if (blockAlign != unsigned(sampleBytes_) * channels)
        fail(XA_ERROR_UNSUPPORTED_INPUT, "the block alignment does not match the format");
    info_.rate = long(rate);
    info_.channels = int(channels);
}

int16_t WavDecoder::convert(const unsigned char *p) const {
    switch (sample_) {
    case Sample::Unsigned8:
        return int16_t((int(p[0]) - 128) * 256);
    case Sample::Int16:
        return int16_t(Le16(p));
    case Sample::Int24: {
        // Sign-extended from the top byte; exact in a double, rounded like floating point.
        const int32_t value =
            int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
        return FromUnit(value / 8388608.0);
    }
    case Sample::Int32:
        return FromUnit(int32_t(Le32(p)) / 2147483648.0);
    case Sample::Float32: {
        const uint32_t bits = Le32(p);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return FromUnit(value);
    }
    case Sample::Float64: {
        const uint64_t bits = Le64(p);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return FromUnit(value);
    }
    }
    return 0;
}

size_t WavDecoder::read(int16_t *out, size_t maxFrames) {
    const size_t frameBytes = size_t(sampleBytes_ * info_.channels);
    const size_t frames =
        size_t(std::min<int64_t>(int64_t(maxFrames), info_.totalFrames - position_));
    bytes_.resize(frames * frameBytes);
    const size_t got = std::fread(bytes_.data(), frameBytes, frames, file_.get());
    if (got < frames && std::ferror(file_.get()))
        fail(XA_ERROR_DECODE_FAILED, SystemErrorText(errno));
    for (size_t i = 0; i < got * size_t(info_.channels); ++i)
        out[i] = convert(&bytes_[size_t(sampleBytes_) * i]);
    position_ += int64_t(got);
    if (got < frames || position_ >= info_.totalFrames)
        ended_ = true;
    return got;
}

int64_t WavDecoder::seek(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, info_.totalFrames);
    if (fseeko(file_.get(),
               off_t(dataOffset_ + uint64_t(frame) * uint64_t(sampleBytes_ * info_.channels)),
               SEEK_SET) != 0)
        fail(XA_ERROR_DECODE_FAILED, SystemErrorText(errno));
    position_ = frame;
    ended_ = false;
    return frame;
}

} // namespace xa
