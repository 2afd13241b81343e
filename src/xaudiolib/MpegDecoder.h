#pragma once

#include "Decoder.h"
#include "Handles.h"

namespace xa {

// MPEG audio (versions 1, 2 and 2.5, layers I-III) through libmpg123, as 16-bit samples at
// the stream's own rate and channel count. Encoder delay and padding that an Info header
// records are trimmed, and the whole stream is scanned at open for an exact length.
class MpegDecoder : public Decoder {
public:
    MpegDecoder(UniqueFd fd, const std::string &path, int64_t fileSize);

    int module() const override { return XA_INPUT_MODULE_MPEG; }
    const StreamInfo &info() const override { return info_; }
    size_t read(int16_t *out, size_t maxFrames) override;
    bool ended() const override { return ended_; }
    int64_t seek(int64_t frame) override;
    void setEqualizer(const XA_EqualizerInfo *equalizer) override;

private:
    [[noreturn]] void fail(int code, const std::string &what) const;
    void takeFormat();

    std::string path_;
    UniqueFd fd_; // declared before the handle, which reads from it until deleted
    Mpg123Ptr handle_;
    StreamInfo info_;
    bool ended_ = false;
};

} // namespace xa
