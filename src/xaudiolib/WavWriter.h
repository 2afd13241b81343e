#pragma once

#include "Handles.h"
#include "Output.h"

#include <memory>
#include <vector>

namespace xa {

// Writes a canonical WAV file: a 44-byte header (RIFF, a 16-byte "fmt " chunk, "data") and
// 16-bit little-endian PCM. The header is written again with the final sizes on close.
class WavWriter : public Output {
public:
    explicit WavWriter(const std::string &path);
    // Writes through fd, a regular file open for writing, which it empties and then owns.
    // Messages name the file the descriptor is open on.
    explicit WavWriter(UniqueFd fd);
    // Finishes the file if close() was not called; errors are lost then.
    ~WavWriter() override;

    int module() const override;
    bool realTime() const override { return false; }
    void configure(long rate, int channels) override;
    void write(const int16_t *samples, size_t frames) override;
    void close() override;

private:
    [[noreturn]] void fail(int code, const std::string &what) const;
    void bufferStream();
    void writeHeader();

    std::string path_;
    std::unique_ptr<char[]> streamBuffer_; // before file_, which writes through it until closed
    FilePtr file_;
    long rate_ = 44100;
    int channels_ = 2;
    uint64_t dataBytes_ = 0;
    std::vector<unsigned char> bytes_;
};

} // namespace xa
