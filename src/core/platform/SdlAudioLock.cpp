#include "platform/SdlAudioLock.h"

#include "platform/DynamicLibrary.h"

#include <mutex>

namespace {

struct TLibraryLock {
    std::mutex Mutex; // guards the fields below
    DynamicLibrary Library;
    void (*Lock)() = nullptr;
    void (*Unlock)() = nullptr;
    std::mutex StandIn;
};

// Never destroyed: the completion sound's thread may still take the lock while the
// program's statics go at exit.
TLibraryLock &Source() {
    static auto *source = new TLibraryLock;
    return *source;
}

} // namespace

TSdlAudioLock::TSdlAudioLock() {
    TLibraryLock &source = Source();
    void (*lock)() = nullptr;
    {
        const std::lock_guard guard(source.Mutex);
        if (source.Lock == nullptr) {
            DynamicLibrary library;
            if (library.Load(QStringLiteral("xaudio.dll"))) {
                // A library older than 1.1 has no lock to share.
                auto *found = reinterpret_cast<void (*)()>(library.Symbol("xaudio_audio_lock"));
                auto *release = reinterpret_cast<void (*)()>(library.Symbol("xaudio_audio_unlock"));
                if (found != nullptr && release != nullptr) {
                    source.Library = std::move(library);
                    source.Lock = found;
                    source.Unlock = release;
                }
            }
        }
        lock = source.Lock;
        FUnlock = source.Unlock;
    }
    if (lock != nullptr)
        lock();
    else
        source.StandIn.lock();
}

TSdlAudioLock::~TSdlAudioLock() {
    if (FUnlock != nullptr)
        FUnlock();
    else
        Source().StandIn.unlock();
}
