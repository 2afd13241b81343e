#pragma once

#include "Decoder.h"
#include "Handles.h"

#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace xa {

// What libmpg123 reads from: a file through a buffer of its own. Left to the descriptor,
// libmpg123 makes a system call for each frame's header and another for its body, tens of
// thousands for a long file, and the length scan at open doubles them; through the buffer both
// passes take a few hundred. Reads go by offset, so several readers can share one descriptor.
class MpegFileReader {
public:
    explicit MpegFileReader(int fd) : fd_(fd), buffer_(kBufferBytes) {}
    // Makes the handle read through this reader, which must outlive the handle.
    bool attach(mpg123_handle *handle);
    // As read(2) and lseek(2) on a descriptor of its own.
    ssize_t read(unsigned char *out, size_t bytes);
    off_t seek(off_t offset, int whence);

private:
    static constexpr size_t kBufferBytes = size_t(64) * 1024;
    static ssize_t Read(void *reader, void *out, size_t bytes);
    static off_t Seek(void *reader, off_t offset, int whence);

    int fd_;
    off_t position_ = 0;
    off_t bufferAt_ = 0; // file offset of buffer_[0]
    size_t buffered_ = 0;
    std::vector<unsigned char> buffer_;
};

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
    // A handle reading the file from its start through reader. Only the decoding handle trims
    // the encoder delay; the one that counts the frames must see them all.
    Mpg123Ptr openHandle(bool gapless, MpegFileReader &reader) const;
    // Starts decoding afresh from the first frame.
    void restart();
    void takeFormat();
    void readFormat(long &rate, int &channels) const;
    // libmpg123 reported another format: decides whether the stream really changes there.
    void checkFormatChange();
    void failMidStream(int64_t at);

    std::string path_;
    UniqueFd fd_; // declared before the reader and the handle, which read from it until deleted
    std::unique_ptr<MpegFileReader> reader_;
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
