#pragma once

#include "Decoder.h"
#include "Handles.h"

#include <optional>
#include <vector>

namespace xa {

// MPEG audio (versions 1, 2 and 2.5, layers I-III) through libmpg123, as 16-bit samples at
// the stream's own rate and channel count. Encoder delay and padding that an Info header
// records are trimmed, damaged stretches are skipped, and the whole stream is scanned at
// open for an exact length.
class MpegDecoder : public Decoder {
public:
    MpegDecoder(UniqueFd fd, const std::string &path, int64_t fileSize);

    int module() const override { return XA_INPUT_MODULE_MPEG; }
    const StreamInfo &info() const override { return info_; }
    size_t read(int16_t *out, size_t maxFrames) override;
    bool ended() const override { return ended_; }
    int64_t seek(int64_t frame) override;
    void setEqualizer(const XA_EqualizerInfo *equalizer) override;
    std::string endNote() const override { return endNote_; }

private:
    [[noreturn]] void fail(int code, const std::string &what) const;
    // A handle reading the file from its start. Only the decoding handle trims the encoder
    // delay; the one that counts the frames must see them all.
    Mpg123Ptr openHandle(bool gapless) const;
    // Starts decoding afresh from the first frame.
    void restart();
    void takeFormat();
    void readFormat(long &rate, int &channels) const;
    // libmpg123 reported another format: decides whether the stream really changes there.
    void checkFormatChange();
    void failMidStream(int64_t at);

    std::string path_;
    UniqueFd fd_; // declared before the handle, which reads from it until deleted
    Mpg123Ptr handle_;
    StreamInfo info_;
    std::optional<XA_EqualizerInfo> equalizer_; // applied again to every new handle
    int64_t decoded_ = 0;                       // frames handed out since the last restart or seek
    bool ended_ = false;
    bool formatChanged_ = false; // to newRate_/newChannels_, told by the next empty read
    long newRate_ = 0;
    int newChannels_ = 0;
    std::vector<int16_t> ahead_; // samples of the new format, decoded while checking it
    size_t aheadAt_ = 0;
    std::string endNote_;
};

} // namespace xa
