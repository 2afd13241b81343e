#pragma once

// Held by the program around its own calls to SDL's audio functions that change SDL's global
// state (starting and stopping the audio subsystem, opening and closing a device), which SDL
// does not guard. The lock is the decoding library's (xaudio_audio_lock), the one its sound
// output holds for the same calls on its players' threads, so the two never run such calls
// at once. The library is loaded as "xaudio.dll" on first need and stays loaded. While it
// cannot be loaded no player of it can be using SDL either, and a lock of the program's own
// stands in; a later lock tries the library again.
class TSdlAudioLock {
public:
    TSdlAudioLock();
    ~TSdlAudioLock();
    TSdlAudioLock(const TSdlAudioLock &) = delete;
    TSdlAudioLock &operator=(const TSdlAudioLock &) = delete;

    // Whether the library's lock is the one held.
    bool Shared() const { return FUnlock != nullptr; }

private:
    void (*FUnlock)() = nullptr;
};
