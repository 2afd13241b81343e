#include "Decoder.h"

#include "Error.h"
#include "Handles.h"
#include "MpegDecoder.h"
#include "WavDecoder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace xa {

namespace {

[[noreturn]] void FailOpen(const std::string &path, int code, const std::string &why) {
    throw Error(XA_SOURCE_INPUT, code, "Cannot open \"" + path + "\": " + why);
}

bool StartsAsRiffWave(int fd) {
    unsigned char head[12];
    return ::pread(fd, head, sizeof head, 0) == sizeof head &&
           (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

} // namespace

std::string StreamTimeText(int64_t frames, long rate) {
    const int64_t ms = rate > 0 ? frames * 1000 / rate : 0;
    char text[32];
    if (ms >= 3600000)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", (long long)(ms / 3600000),
                      (long long)(ms / 60000 % 60), (long long)(ms / 1000 % 60),
                      (long long)(ms % 1000));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld.%03lld", (long long)(ms / 60000),
                      (long long)(ms / 1000 % 60), (long long)(ms % 1000));
    return text;
}

std::unique_ptr<Decoder> OpenDecoder(const std::string &path, int module) {
    // Non-blocking, so that a named pipe without a writer cannot stall the player.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd)
        FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    if (!S_ISREG(st.st_mode))
        FailOpen(path, XA_ERROR_OPEN_FAILED, "not a regular file");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        FailOpen(path, XA_ERROR_OPEN_FAILED, SystemErrorText(errno));
    if (st.st_size == 0)
        FailOpen(path, XA_ERROR_UNSUPPORTED_INPUT, "the file is empty");

    if (module == XA_MODULE_AUTO)
        module = StartsAsRiffWave(fd.get()) ? XA_INPUT_MODULE_WAVE : XA_INPUT_MODULE_MPEG;
    if (module == XA_INPUT_MODULE_WAVE)
        return std::make_unique<WavDecoder>(std::move(fd), path, st.st_size);
    return std::make_unique<MpegDecoder>(std::move(fd), path, st.st_size);
}

} // namespace xa
