#pragma once

#include "Decoder.h"
#include "Handles.h"

#include <vector>

namespace xa {

// 16-bit PCM WAV input: a RIFF reader that walks the chunks to the format and the data,
// whatever other chunks lie between, and reads the samples as they are. RF64 files, whose
// 64-bit sizes are in a "ds64" chunk, are read too.
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

    std::string path_;
    FilePtr file_;
    StreamInfo info_;
    uint64_t dataOffset_ = 0;
    int64_t position_ = 0;
    bool ended_ = false;
    std::vector<unsigned char> bytes_;
};

} // namespace xa
