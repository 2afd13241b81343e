#pragma once

#include "Handles.h"
#include "Output.h"

#include <memory>
#include <vector>

namespace xa {

// Writes a canonical WAV file: a 44-byte header (RIFF, a 16-byte "fmt " chunk, "data") and
// 16-bit little-endian PCM. The header is written again with the final sizes on close.
//
// A file whose sizes do not fit the header's 32-bit fields becomes RF64 instead: "RF64" in
// place of "RIFF", a "ds64" chunk with the 64-bit sizes right after "WAVE", and 0xFFFFFFFF
// in the 32-bit fields. The 36 bytes of "ds64" are reserved as a "JUNK" chunk when the
// expected length (expectFrames) is past the limit before any audio is written, so that
// every file that was expected to stay under it keeps today's plain 44-byte header. Should
// a file pass the limit unannounced, close() moves its audio up by 36 bytes to make room,
// which costs a pass over the file but only then.
class WavWriter : public Output {
public:
    // The largest RIFF size field; the tests lower it to reach the limit with small files.
    static constexpr uint64_t kRiffSizeLimit = 0xFFFFFFFFull;

    explicit WavWriter(const std::string &path, uint64_t riffSizeLimit = kRiffSizeLimit);
    // Writes through fd, a regular file open for writing, which it empties and then owns.
    // Messages name the file the descriptor is open on.
    explicit WavWriter(UniqueFd fd, uint64_t riffSizeLimit = kRiffSizeLimit);
    // Finishes the file if close() was not called; errors are lost then.
    ~WavWriter() override;

    int module() const override;
    bool realTime() const override { return false; }
    void configure(long rate, int channels) override;
    void expectFrames(int64_t frames) override;
    void write(const int16_t *samples, size_t frames) override;
    void close() override;

    // For tests of files past 4 GiB: frames of silence left as a hole in the file, which
    // takes no room on a file system with sparse files.
    void skipFrames(uint64_t frames);

private:
    [[noreturn]] void fail(int code, const std::string &what) const;
    void bufferStream();
    uint64_t headerBytes() const;
    bool needsRf64() const;
    void writeHeader();
    // Moves the audio up to make room for the "ds64" chunk that was not reserved.
    void makeRoomForDs64();

    std::string path_;
    uint64_t riffSizeLimit_;
    std::unique_ptr<char[]> streamBuffer_; // before file_, which writes through it until closed
    FilePtr file_;
    long rate_ = 44100;
    int channels_ = 2;
    uint64_t dataBytes_ = 0;
    bool reserved_ = false; // the header holds a "JUNK" chunk where "ds64" may go
    std::vector<unsigned char> bytes_;
};

} // namespace xa
