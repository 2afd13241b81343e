#include "WavWriter.h"

#include "Error.h"
#include "xaudio.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace xa {

namespace {

constexpr uint64_t kHeaderBytes = 44;
// Samples arrive a few kilobytes at a time; stdio's default buffer would pass them on in a
// system call each.
constexpr size_t kStreamBufferBytes = size_t(256) * 1024;
// The RIFF size field counts everything after itself and must fit in 32 bits.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kHeaderBytes - 8);

void PutLe(unsigned char *&p, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        *p++ = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

WavWriter::WavWriter(const std::string &path) : path_(path) {
    file_.reset(std::fopen(path.c_str(), "wbe"));
    if (!file_)
        fail(XA_ERROR_OUTPUT_FAILED, SystemErrorText(errno));
    bufferStream();
    // Room for the header; it is filled in with the final sizes on close.
    writeHeader();
}

namespace {

// The path a descriptor is open on, for messages; how it was named when that is unknown.
std::string DescriptorName(int fd) {
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    if (length <= 0)
        return "descriptor " + std::to_string(fd);
    return std::string(path, size_t(length));
}

} // namespace

WavWriter::WavWriter(UniqueFd fd) : path_(DescriptorName(fd.get())) {
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        fail(XA_ERROR_OUTPUT_FAILED, SystemErrorText(errno));
    // The header is written again at the end, which takes a file that can seek.
    if (!S_ISREG(status.st_mode))
        fail(XA_ERROR_OUTPUT_FAILED, "it is not a regular file");
    if (::ftruncate(fd.get(), 0) != 0)
        fail(XA_ERROR_OUTPUT_FAILED, SystemErrorText(errno));
    file_.reset(::fdopen(fd.get(), "wb"));
    if (!file_)
        fail(XA_ERROR_OUTPUT_FAILED, SystemErrorText(errno));
    fd.release();
    bufferStream();
    writeHeader();
}

WavWriter::~WavWriter() {
    try {
        close();
    } catch (const Error &) {
        // Nobody is left to tell; the file stays as far as it got.
    }
}

int WavWriter::module() const {
    return XA_OUTPUT_MODULE_WAVE;
}

void WavWriter::fail(int code, const std::string &what) const {
    throw Error(XA_SOURCE_OUTPUT, code, "Cannot write \"" + path_ + "\": " + what);
}

void WavWriter::configure(long rate, int channels) {
    if (rate == rate_ && channels == channels_)
        return;
    if (dataBytes_ > 0)
        fail(XA_ERROR_OUTPUT_FAILED, "it already holds audio at " + std::to_string(rate_) +
                                         " Hz with " + std::to_string(channels_) +
                                         " channel(s); audio at " + std::to_string(rate) +
                                         " Hz with " + std::to_string(channels) +
                                         " channel(s) cannot follow in one WAV file");
    rate_ = rate;
    channels_ = channels;
}

void WavWriter::write(const int16_t *samples, size_t frames) {
    if (!file_)
        fail(XA_ERROR_WRITE_FAILED, "the file is closed");
    const size_t count = frames * size_t(channels_);
    if (dataBytes_ + 2 * uint64_t(count) > kMaxDataBytes)
        fail(XA_ERROR_WRITE_FAILED, "a WAV file cannot hold more than 4 GiB of audio");
    const void *data = samples;
    if constexpr (std::endian::native != std::endian::little) {
        bytes_.resize(2 * count);
        unsigned char *p = bytes_.data();
        for (size_t i = 0; i < count; ++i)
            PutLe(p, uint16_t(samples[i]), 2);
        data = bytes_.data();
    }
    if (std::fwrite(data, 2, count, file_.get()) != count)
        fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
    dataBytes_ += 2 * uint64_t(count);
}

void WavWriter::bufferStream() {
    streamBuffer_ = std::make_unique<char[]>(kStreamBufferBytes);
    std::setvbuf(file_.get(), streamBuffer_.get(), _IOFBF, kStreamBufferBytes);
}

void WavWriter::writeHeader() {
    const uint32_t blockAlign = 2 * uint32_t(channels_);
    unsigned char header[kHeaderBytes];
    unsigned char *p = header;
    std::memcpy(p, "RIFF", 4);
    p += 4;
    PutLe(p, uint32_t(kHeaderBytes - 8 + dataBytes_), 4);
    std::memcpy(p, "WAVEfmt ", 8);
    p += 8;
    PutLe(p, 16, 4);
    PutLe(p, 1, 2); // PCM
    PutLe(p, uint32_t(channels_), 2);
    PutLe(p, uint32_t(rate_), 4);
    PutLe(p, uint32_t(rate_) * blockAlign, 4);
    PutLe(p, blockAlign, 2);
    PutLe(p, 16, 2);
    std::memcpy(p, "data", 4);
    p += 4;
    PutLe(p, uint32_t(dataBytes_), 4);
    if (fseeko(file_.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(header, 1, sizeof header, file_.get()) != sizeof header)
        fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
}

void WavWriter::close() {
    if (!file_)
        return;
    std::string failure;
    try {
        writeHeader();
    } catch (const Error &error) {
        failure = error.what();
    }
    // fclose flushes, so its failure is a write failure too; the stream is gone either way.
    if (std::fclose(file_.release()) != 0 && failure.empty())
        failure = "Cannot write \"" + path_ + "\": " + SystemErrorText(errno);
    if (!failure.empty())
        throw Error(XA_SOURCE_OUTPUT, XA_ERROR_WRITE_FAILED, failure);
}

} // namespace xa
