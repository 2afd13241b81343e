#pragma once

#include "Decoder.h"
#include "Handles.h"

#include <vector>

namespace xa {

// PCM WAV input: a RIFF reader that walks the chunks to the format and the data, whatever
// other chunks lie between. 16-bit samples are read as they are; 8, 24 and 32-bit integer
// and 32 and 64-bit floating-point samples are brought to 16 bits, rounded to the nearest
// value and clipped at full scale (1.0 for floating point), which is what the sound output
// and the WAV writer take. RF64 files, whose 64-bit sizes are in a "ds64" chunk, are read too.
class WavDecoder : public Decoder {
public:
    WavDecoder(UniqueFd fd, const std::string &path, int64_t fileSize);

    int module() const override { return XA_INPUT_MODULE_WAVE; }
    const StreamInfo &info() const override { return info_; }
    size_t read(int16_t *out, size_t maxFrames) override;
    bool ended() const override { return ended_; }
    int64_t seek(int64_t frame) override;

private:
    [[noreturn]] void fail(int code, const std::string &what) const;
    void readFormat(uint32_t chunkBytes);
    // The data size that a "ds64" chunk holds.
    uint64_t readDs64(uint32_t chunkBytes);

    enum class Sample { Unsigned8, Int16, Int24, Int32, Float32, Float64 };
    // One sample at p, in this file's format, as a 16-bit one.
    int16_t convert(const unsigned char *p) const;

    std::string path_;
    FilePtr file_;
    Sample sample_ = Sample::Int16;
    int sampleBytes_ = 2;
    StreamInfo info_;
    uint64_t dataOffset_ = 0;
    int64_t position_ = 0;
    bool ended_ = false;
    std::vector<unsigned char> bytes_;
};

} // namespace xa
