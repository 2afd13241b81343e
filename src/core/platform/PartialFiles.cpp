#include "platform/PartialFiles.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One slot per file being written: a batch has at most two per running job, plus the
// outputs of interrupted jobs that wait for the abort answer.
constexpr int SlotCount = 256;

// A slot is claimed by whoever moves it out of Ready: the owner to reuse it, or the
// handler to unlink its path. So the handler never reads a path that is being replaced.
enum TSlotState : int { Free, Filling, Ready, Unlinking };

std::atomic<int> States[SlotCount];
char Paths[SlotCount][PATH_MAX];
std::atomic<bool> Cleaning{false};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemovePartialFilesAndDie(int Signal) {
    // A second signal on another thread while the first cleans up: the first one ends the
    // process.
    if (Cleaning.exchange(true))
        return;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = Ready;
        if (States[i].compare_exchange_strong(expected, Unlinking))
            ::unlink(Paths[i]);
    }
    // End as the signal would have: the parent sees "killed by" it. The signal is blocked
    // while this handler runs and arrives with its default action on return.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(Signal, &action, nullptr);
    ::raise(Signal);
}

} // namespace

void InstallPartialFileCleanup() {
    struct sigaction action {};
    action.sa_handler = RemovePartialFilesAndDie;
    sigemptyset(&action.sa_mask);
    for (int signal : Signals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (int signal : Signals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

int RegisterPartialFile(const char *Path) {
    const size_t length = std::strlen(Path);
    if (length >= PATH_MAX)
        return -1;
    for (int i = 0; i < SlotCount; ++i) {
        int expected = Free;
        if (!States[i].compare_exchange_strong(expected, Filling, std::memory_order_acquire))
            continue;
        std::memcpy(Paths[i], Path, length + 1);
        States[i].store(Ready, std::memory_order_release);
        return i;
    }
    return -1;
}

void UnregisterPartialFile(int Slot) {
    if (Slot < 0 || Slot >= SlotCount)
        return;
    int expected = Ready;
    // Fails only when the handler has taken the slot: it keeps it until the process ends.
    States[Slot].compare_exchange_strong(expected, Free, std::memory_order_acq_rel);
}

int RegisteredPartialFileCount() {
    int count = 0;
    for (const auto &state : States)
        count += state.load() == Ready;
    return count;
}

bool TDescriptorFile::OpenForWriting(int Handle) {
    const int fd = ::fcntl(Handle, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::lseek(fd, 0, SEEK_SET) != 0 || ::ftruncate(fd, 0) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    if (!open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        errno = EBADF;
        return false;
    }
    return true;
}
