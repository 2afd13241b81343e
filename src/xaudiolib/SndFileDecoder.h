#pragma once

#include "Decoder.h"
#include "Error.h"
#include "Handles.h"

#include <sndfile.h>

#include <vector>

namespace xa {

struct SndFileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

// Thrown by SndFileDecoder when the file is not one for it at all: libsndfile knows no such
// format, or finds MPEG audio. Another decoder may try the file then.
class NotASoundFile : public Error {
public:
    using Error::Error;
};

// Thrown by SndFileDecoder when libsndfile knows the file's format but cannot open it.
class BrokenSoundFile : public Error {
public:
    using Error::Error;
};

// Sound files that libsndfile reads (FLAC, AIFF, Ogg Vorbis and Opus, W64, CAF, and the WAV
// shapes our own reader refuses), as 16-bit samples at the file's rate, mono or stereo.
// libsndfile reads through the descriptor by offset, so it never moves the descriptor's own
// position. MPEG audio is refused even when libsndfile could read it: the MPEG decoder takes
// it, with its gapless trimming and exact length.
class SndFileDecoder : public Decoder {
public:
    // Takes fd out of the caller's hands only once the file is open; on an error it is left
    // there for another decoder to try.
    SndFileDecoder(UniqueFd &fd, const std::string &path, int64_t fileSize);

    int module() const override { return XA_INPUT_MODULE_WAVE; }
    const StreamInfo &info() const override { return info_; }
    size_t read(int16_t *out, size_t maxFrames) override;
    bool ended() const override { return ended_; }
    int64_t seek(int64_t frame) override;
    std::string endNote() const override { return endNote_; }

private:
    // libsndfile's access to the file, by offset on the descriptor.
    struct Reader {
        int fd = -1;
        int64_t size = 0;
        int64_t position = 0;
    };
    static sf_count_t Length(void *reader);
    static sf_count_t Seek(sf_count_t offset, int whence, void *reader);
    static sf_count_t Read(void *out, sf_count_t bytes, void *reader);
    static sf_count_t Write(const void *, sf_count_t, void *) { return 0; }
    static sf_count_t Tell(void *reader);

    [[noreturn]] void fail(int code, const std::string &what) const;
    void describe(int format);

    std::string path_;
    UniqueFd fd_;
    Reader reader_; // before file_, which reads through it until closed
    SndFilePtr file_;
    StreamInfo info_;
    int64_t position_ = 0;
    bool ended_ = false;
    std::string endNote_;
    std::vector<float> samples_;
};

} // namespace xa
