#pragma once

#include <csignal>
#include <sys/resource.h>

// Lets files of this process grow to Bytes only while the guard lives, so that a write
// beyond fails part-way (EFBIG instead of the SIGXFSZ that would end the test).
class FileSizeLimit {
public:
    explicit FileSizeLimit(long long Bytes) {
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit Small{};
        Works = getrlimit(RLIMIT_FSIZE, &FOld) == 0;
        Small = FOld;
        Small.rlim_cur = rlim_t(Bytes);
        Works = Works && setrlimit(RLIMIT_FSIZE, &Small) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool Works = false;

private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};
