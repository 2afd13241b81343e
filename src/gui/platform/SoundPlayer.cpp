#include "platform/SoundPlayer.h"

#include "platform/SdlAudioLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <SDL.h>

#include <memory>

namespace {

ISoundPlayer *InstalledPlayer = nullptr;

// SDL's calls that change its global audio state run under the decoding library's lock,
// which its sound output holds for the same calls on the library's own threads.
bool StartAudio() {
    const TSdlAudioLock Lock;
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

// The audio subsystem for the length of one sound; SDL counts its users, so this leaves
// other users of SDL in the process (the decoding library's output) alone.
class TSdlAudio {
public:
    TSdlAudio() : FStarted(StartAudio()) {}
    ~TSdlAudio() {
        if (FStarted) {
            const TSdlAudioLock Lock;
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
        }
    }
    TSdlAudio(const TSdlAudio &) = delete;
    TSdlAudio &operator=(const TSdlAudio &) = delete;
    bool Started() const { return FStarted; }

private:
    bool FStarted;
};

SDL_AudioDeviceID OpenDevice(const SDL_AudioSpec &Format) {
    const TSdlAudioLock Lock;
    return SDL_OpenAudioDevice(nullptr, 0, &Format, nullptr, 0);
}

class TSdlDevice {
public:
    explicit TSdlDevice(const SDL_AudioSpec &Format) : FId(OpenDevice(Format)) {}
    ~TSdlDevice() {
        if (FId != 0) {
            const TSdlAudioLock Lock;
            SDL_CloseAudioDevice(FId);
        }
    }
    TSdlDevice(const TSdlDevice &) = delete;
    TSdlDevice &operator=(const TSdlDevice &) = delete;
    SDL_AudioDeviceID Id() const { return FId; }

private:
    SDL_AudioDeviceID FId;
};

struct TWavFree {
    void operator()(Uint8 *Buffer) const { SDL_FreeWAV(Buffer); }
};

using namespace std::chrono_literals;

// Device buffer: about 23 ms at 44.1 kHz, so the end of a sound is not cut off for long.
constexpr Uint16 BufferFrames = 1024;

} // namespace

ISoundPlayer &SoundPlayer() {
    static TSdlSoundPlayer Default;
    return InstalledPlayer ? *InstalledPlayer : Default;
}

void SetSoundPlayer(ISoundPlayer *Player) {
    InstalledPlayer = Player;
}

void PlaySoundAsync(const QString &Name) {
    SoundPlayer().PlaySoundAsync(Name);
}

QString FindSoundFile(const QString &Name, const QString &ProgramFolder) {
    if (Name.isEmpty())
        return QString();
    if (Name.contains(u'/') || Name.contains(u'\\'))
        return QFileInfo(Name).isFile() ? Name : QString();
    if (ProgramFolder.isEmpty())
        return QString();
    const QDir Program(ProgramFolder);
    for (const QString &Candidate :
         {Program.filePath(Name), Program.filePath(QStringLiteral("../share/brindle/") + Name)}) {
        if (QFileInfo(Candidate).isFile())
            return QDir::cleanPath(Candidate);
    }
    return QString();
}

QString FindSoundFile(const QString &Name) {
    const QString Folder =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return FindSoundFile(Name, Folder);
}

TSdlSoundPlayer::~TSdlSoundPlayer() {
    {
        const std::lock_guard Lock(FMutex);
        FStop = true;
        FNext.reset();
    }
    FWake.notify_all();
    if (FWorker.joinable())
        FWorker.join();
}

void TSdlSoundPlayer::PlaySoundAsync(const QString &Name) {
    const QString File = FindSoundFile(Name);
    if (File.isEmpty())
        return; // as the system's sound function, which reports nothing either
    const std::lock_guard Lock(FMutex);
    FNext = QFile::encodeName(File).toStdString();
    if (!FWorker.joinable())
        FWorker = std::thread(&TSdlSoundPlayer::Run, this);
    FWake.notify_all();
}

bool TSdlSoundPlayer::Busy() const {
    const std::lock_guard Lock(FMutex);
    return FPlaying || FNext.has_value();
}

bool TSdlSoundPlayer::WaitUntilIdle(std::chrono::milliseconds Timeout) {
    std::unique_lock Lock(FMutex);
    return FIdle.wait_for(Lock, Timeout, [this] { return !FPlaying && !FNext; });
}

void TSdlSoundPlayer::Run() {
    std::unique_lock Lock(FMutex);
    for (;;) {
        FWake.wait(Lock, [this] { return FStop || FNext; });
        if (FStop)
            break;
        const std::string File = std::move(*FNext);
        FNext.reset();
        FPlaying = true;
        Lock.unlock();
        Play(File);
        Lock.lock();
        FPlaying = false;
        FIdle.notify_all();
    }
    FPlaying = false;
    FIdle.notify_all();
    Lock.unlock();
    // SDL frees its per-thread data only for threads it started itself.
    SDL_TLSCleanup();
}

bool TSdlSoundPlayer::WaitForInterruption(std::chrono::milliseconds Duration) {
    std::unique_lock Lock(FMutex);
    return FWake.wait_for(Lock, Duration, [this] { return FStop || FNext; });
}

void TSdlSoundPlayer::Play(const std::string &File) {
    const TSdlAudio Audio;
    if (!Audio.Started())
        return;
    SDL_AudioSpec Spec{};
    Uint8 *Samples = nullptr;
    Uint32 Length = 0;
    if (!SDL_LoadWAV(File.c_str(), &Spec, &Samples, &Length))
        return;
    const std::unique_ptr<Uint8, TWavFree> Owned(Samples);
    Spec.samples = BufferFrames;
    const TSdlDevice Device(Spec); // SDL converts to what the device takes
    if (Device.Id() == 0 || SDL_QueueAudio(Device.Id(), Samples, Length) != 0)
        return;
    SDL_PauseAudioDevice(Device.Id(), 0);

    const Uint32 FrameBytes = Uint32(SDL_AUDIO_BITSIZE(Spec.format) / 8) * Spec.channels;
    if (FrameBytes == 0 || Spec.freq <= 0)
        return;
    const auto Milliseconds = [&Spec](Uint64 Frames) {
        return std::chrono::milliseconds(Frames * 1000 / Uint64(Spec.freq));
    };
    // A device that stops taking data must not hold the worker for ever.
    const auto Deadline = std::chrono::steady_clock::now() + Milliseconds(Length / FrameBytes) + 2s;
    while (SDL_GetQueuedAudioSize(Device.Id()) > 0) {
        if (WaitForInterruption(10ms) || std::chrono::steady_clock::now() > Deadline)
            return;
    }
    // The device still plays what it took last.
    WaitForInterruption(Milliseconds(2 * BufferFrames) + 10ms);
}
