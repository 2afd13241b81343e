#include "WavWriter.h"

#include "Error.h"
#include "xaudio.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace xa {

namespace {

constexpr uint64_t kPlainHeaderBytes = 44;
// "ds64" with its sizes of the RIFF, the data and the frames, and an empty table.
constexpr uint64_t kDs64Bytes = 8 + 28;
// Samples arrive a few kilobytes at a time; stdio's default buffer would pass them on in a
// system call each.
constexpr size_t kStreamBufferBytes = size_t(256) * 1024;
constexpr size_t kMoveBlockBytes = size_t(1) << 20;

void PutLe(unsigned char *&p, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        *p++ = static_cast<unsigned char>(value >> (8 * i));
}

void PutTag(unsigned char *&p, const char *tag) {
    std::memcpy(p, tag, 4);
    p += 4;
}

// Whole blocks at a given offset, or false with errno set.
bool ReadAt(int fd, unsigned char *data, size_t bytes, off_t offset) {
    while (bytes > 0) {
        const ssize_t done = ::pread(fd, data, bytes, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = EIO;
            return false;
        }
        data += done;
        bytes -= size_t(done);
        offset += done;
    }
    return true;
}

bool WriteAt(int fd, const unsigned char *data, size_t bytes, off_t offset) {
    while (bytes > 0) {
        const ssize_t done = ::pwrite(fd, data, bytes, offset);
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return false;
        data += done;
        bytes -= size_t(done);
        offset += done;
    }
    return true;
}

} // namespace

WavWriter::WavWriter(const std::string &path, uint64_t riffSizeLimit)
    : path_(path), riffSizeLimit_(riffSizeLimit) {
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

WavWriter::WavWriter(UniqueFd fd, uint64_t riffSizeLimit)
    : path_(DescriptorName(fd.get())), riffSizeLimit_(riffSizeLimit) {
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

void WavWriter::expectFrames(int64_t frames) {
    if (!file_ || dataBytes_ > 0)
        return;
    const uint64_t bytes = uint64_t(std::max<int64_t>(0, frames)) * 2 * uint64_t(channels_);
    const bool reserve = kPlainHeaderBytes - 8 + bytes > riffSizeLimit_;
    if (reserve == reserved_)
        return;
    reserved_ = reserve;
    // A shorter header must not leave the end of the longer one behind.
    if (std::fflush(file_.get()) != 0 || ::ftruncate(::fileno(file_.get()), 0) != 0)
        fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
    writeHeader();
}

void WavWriter::skipFrames(uint64_t frames) {
    if (!file_)
        fail(XA_ERROR_WRITE_FAILED, "the file is closed");
    dataBytes_ += frames * 2 * uint64_t(channels_);
    const off_t end = off_t(headerBytes() + dataBytes_);
    if (std::fflush(file_.get()) != 0 || ::ftruncate(::fileno(file_.get()), end) != 0 ||
        fseeko(file_.get(), end, SEEK_SET) != 0)
        fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
}

uint64_t WavWriter::headerBytes() const {
    return kPlainHeaderBytes + (reserved_ ? kDs64Bytes : 0);
}

bool WavWriter::needsRf64() const {
    return headerBytes() - 8 + dataBytes_ > riffSizeLimit_;
}

void WavWriter::writeHeader() {
    const uint32_t blockAlign = 2 * uint32_t(channels_);
    const uint64_t riffSize = headerBytes() - 8 + dataBytes_;
    const bool rf64 = needsRf64();
    constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;
    unsigned char header[kPlainHeaderBytes + kDs64Bytes] = {};
    unsigned char *p = header;
    PutTag(p, rf64 ? "RF64" : "RIFF");
    PutLe(p, rf64 ? kSizeInDs64 : riffSize, 4);
    PutTag(p, "WAVE");
    if (reserved_) {
        PutTag(p, rf64 ? "ds64" : "JUNK");
        PutLe(p, kDs64Bytes - 8, 4);
        if (rf64) {
            PutLe(p, riffSize, 8);
            PutLe(p, dataBytes_, 8);
            PutLe(p, dataBytes_ / blockAlign, 8);
            PutLe(p, 0, 4); // no table of other chunks' sizes
        } else {
            p += kDs64Bytes - 8; // zeros, for "ds64" to take over
        }
    }
    PutTag(p, "fmt ");
    PutLe(p, 16, 4);
    PutLe(p, 1, 2); // PCM
    PutLe(p, uint32_t(channels_), 2);
    PutLe(p, uint32_t(rate_), 4);
    PutLe(p, uint32_t(rate_) * blockAlign, 4);
    PutLe(p, blockAlign, 2);
    PutLe(p, 16, 2);
    PutTag(p, "data");
    PutLe(p, rf64 ? kSizeInDs64 : dataBytes_, 4);
    const size_t bytes = size_t(p - header);
    if (fseeko(file_.get(), 0, SEEK_SET) != 0 ||
        std::fwrite(header, 1, bytes, file_.get()) != bytes)
        fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
}

void WavWriter::makeRoomForDs64() {
    const int fd = ::fileno(file_.get());
    if (std::fflush(file_.get()) != 0)
        fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
    // The file grows first, so that a full disk stops this before any audio has moved.
    const off_t end = off_t(kPlainHeaderBytes + dataBytes_);
    if (const int error = ::posix_fallocate(fd, end, off_t(kDs64Bytes)); error != 0)
        fail(XA_ERROR_WRITE_FAILED,
             "no room for the sizes of a file past 4 GiB: " + SystemErrorText(error));
    // The file was opened for writing only: it is read through a descriptor of its own.
    const UniqueFd reading(
        ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC));
    const int readFd = reading ? reading.get() : fd;
    // From the end backwards, so that no block lands on audio not yet moved.
    std::vector<unsigned char> block(kMoveBlockBytes);
    uint64_t left = dataBytes_;
    while (left > 0) {
        const size_t bytes = size_t(std::min<uint64_t>(left, block.size()));
        left -= bytes;
        const off_t from = off_t(kPlainHeaderBytes + left);
        if (!ReadAt(readFd, block.data(), bytes, from) ||
            !WriteAt(fd, block.data(), bytes, from + off_t(kDs64Bytes)))
            fail(XA_ERROR_WRITE_FAILED, SystemErrorText(errno));
    }
    reserved_ = true;
}

void WavWriter::close() {
    if (!file_)
        return;
    std::string failure;
    try {
        if (needsRf64() && !reserved_)
            makeRoomForDs64();
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
