#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// Plays sound files without waiting for them to end, as the completion sound does. The
// program plays through TSdlSoundPlayer; tests install their own player to see which
// sounds were asked for without playing them.
class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // Starts playing the sound file Name and returns at once; a sound still playing stops.
    // A bare name is looked up as FindSoundFile does. Failures report nothing.
    virtual void PlaySoundAsync(const QString &Name) = 0;
};

// The player in use; the SDL one unless a test installed its own.
ISoundPlayer &SoundPlayer();
// Installs Player (not owned) in place of the current one; null restores the SDL one.
void SetSoundPlayer(ISoundPlayer *Player);
// SoundPlayer().PlaySoundAsync(Name).
void PlaySoundAsync(const QString &Name);

// The file a sound name stands for, or empty when there is none. A bare name is looked for
// beside the program (ProgramFolder) first, then in ProgramFolder/../share/brindle, where an
// installed program's sounds are; a name with a folder is taken as it stands.
QString FindSoundFile(const QString &Name, const QString &ProgramFolder);
// The same, from the running program's folder.
QString FindSoundFile(const QString &Name);

// Plays WAV files through SDL2's audio on a worker thread of its own, one at a time, so
// the calling thread never waits for the sound device. Destroying it (at the latest when
// the program exits) stops a sound still playing and ends the worker.
class TSdlSoundPlayer final : public ISoundPlayer {
public:
    TSdlSoundPlayer() = default;
    ~TSdlSoundPlayer() override;
    TSdlSoundPlayer(const TSdlSoundPlayer &) = delete;
    TSdlSoundPlayer &operator=(const TSdlSoundPlayer &) = delete;

    void PlaySoundAsync(const QString &Name) override;

    // From a PlaySoundAsync that found its file until that sound has ended or failed.
    bool Busy() const;
    // Waits until not Busy, at most Timeout; returns whether it is idle.
    bool WaitUntilIdle(std::chrono::milliseconds Timeout);

private:
    void Run();
    void Play(const std::string &File);
    // Sleeps for Duration unless a new sound or the end is asked for; returns true then.
    bool WaitForInterruption(std::chrono::milliseconds Duration);

    mutable std::mutex FMutex;
    std::condition_variable FWake; // a new sound or the end
    std::condition_variable FIdle;
    std::optional<std::string> FNext; // the file to play next, in the file system's encoding
    bool FPlaying = false;
    bool FStop = false;
    std::thread FWorker; // started by the first sound
};
