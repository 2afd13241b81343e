#pragma once

#include "encoder/Lame_dll.h"
#include "platform/Exception.h"
#include "sources/SourceInfo.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class QFile;

enum MPEG_QUALITY { NORMAL_QUALITY, LOW_QUALITY, HIGH_QUALITY, VOICE_QUALITY };
enum TLameMode { STEREO, JSTEREO, DUALCHANNEL, MONO };

// Raised for every failure of an encoding run; carries only its message.
class ELameError : public Exception {
public:
    using Exception::Exception;
};

// Why a valid WAV file holds audio the encoder cannot take, or empty when it can: it takes
// integer PCM of 8 (unsigned), 16, 24 or 32 bits and IEEE float of 32 or 64 bits, mono or
// stereo.
QString UnsupportedWaveFormat(const TWaveFileInfo &Info);

// The encoder library's version, as read once when an encoder is created.
struct TLameVersion {
    uint8_t DLLMajorVersion = 0;
    uint8_t DLLMinorVersion = 0;
    uint8_t MajorVersion = 0;
    uint8_t MinorVersion = 0;
};

class TLameCoder;
using TNotifyEvent = std::function<void(TLameCoder &Sender)>;
using TProcessFileEvent =
    std::function<void(TLameCoder &Sender, uint16_t Num, const QString &FileName)>;
using TProgressEvent = std::function<void(TLameCoder &Sender, uint16_t PercentComplete)>;

// Encodes PCM files (WAV of any layout the WAV reader knows, every format libsndfile reads, or
// raw 16-bit PCM) into MP3 files
// through the encoder library, one output per input, on the calling thread (a worker of the
// conversion engine). Abort may be called from any thread; the encode stops after its current
// chunk.
class TLameCoder : public QObject {
public:
    explicit TLameCoder(QObject *Owner = nullptr);
    ~TLameCoder() override;

    uint32_t SampleRate() const { return FSampleRate; }
    void SetSampleRate(uint32_t Value) { FSampleRate = Value; }
    uint32_t Bitrate() const { return FBitrate; }
    void SetBitrate(uint32_t Value) { FBitrate = Value; }
    uint32_t MaxBitrate() const { return FMaxBitrate; }
    void SetMaxBitrate(uint32_t Value) { FMaxBitrate = Value; }
    MPEG_QUALITY Quality() const { return FQuality; }
    void SetQuality(MPEG_QUALITY Value) { FQuality = Value; }
    bool Private() const { return FPrivate; }
    void SetPrivate(bool Value) { FPrivate = Value; }
    bool CRC() const { return FCRC; }
    void SetCRC(bool Value) { FCRC = Value; }
    TLameMode Mode() const { return FMode; }
    void SetMode(TLameMode Value) { FMode = Value; }
    bool Copyright() const { return FCopyright; }
    void SetCopyright(bool Value) { FCopyright = Value; }
    bool Original() const { return FOriginal; }
    void SetOriginal(bool Value) { FOriginal = Value; }
    bool WriteVBRHeader() const { return FWriteVBRHeader; }
    void SetWriteVBRHeader(bool Value) { FWriteVBRHeader = Value; }
    bool EnableVBR() const { return FEnableVBR; }
    // Turning VBR on or off turns its header frame on or off with it.
    void SetEnableVBR(bool Value) { FEnableVBR = FWriteVBRHeader = Value; }
    int VBRQuality() const { return FVBRQuality; }
    void SetVBRQuality(int Value) { FVBRQuality = Value; }
    // The engine measures the track's gain into the Info frame.
    bool FindReplayGain() const { return FFindReplayGain; }
    void SetFindReplayGain(bool Value) { FFindReplayGain = Value; }

    const QStringList &InputFiles() const { return FInputFiles; }
    // Also rebuilds OutputFiles: each input with its extension replaced by DefaultExt.
    // Infos, when given, holds what ReadSourceInfo found for each input, so that a header the
    // caller has read and checked is not read again; an input without one (or of kind
    // skNone) is looked at here: RIFF/WAVE contents, then a libsndfile extension, else raw
    // PCM.
    void SetInputFiles(const QStringList &Value, const std::vector<TSourceInfo> &Infos = {});
    const std::vector<TSourceInfo> &InputInfos() const { return FInputInfos; }
    const QStringList &OutputFiles() const { return FOutputFiles; }
    void SetOutputFiles(const QStringList &Value) {
        FOutputFiles = Value;
        FOutputHandles.clear();
    }
    // Descriptors of files the caller has open for writing, one per output (-1: the output
    // is opened by its name). Each output is written through a duplicate of its descriptor,
    // from the start, and OutputFiles only names it in messages. The caller keeps them open
    // during Encode. Setting the input or output files forgets them.
    const std::vector<int> &OutputHandles() const { return FOutputHandles; }
    void SetOutputHandles(const std::vector<int> &Value) { FOutputHandles = Value; }
    const QString &DefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const QString &Value) { FDefaultExt = Value; }
    const TLameVersion &LameVersion() const { return FLameVersion; }

    TNotifyEvent OnBeginProcess;
    TProcessFileEvent OnBeginFile;
    TProcessFileEvent OnEndFile;
    TNotifyEvent OnEndProcess;
    TProgressEvent OnProgress;

    // Copies every encoder setting (SampleRate to VBRQuality), not the files or events.
    void Assign(const TLameCoder &Source);

    // Opens a library stream with the current settings; 0 on success, else the library's code.
    BE_ERR InitStream();
    void CloseStream();
    // Encodes InputFiles[i] into OutputFiles[i] for every i. Throws ELameError, or
    // EFOpenError/EFCreateError when a file cannot be opened.
    void Encode();
    // Asks a running Encode to stop after its current chunk.
    void Abort() { FAborted = true; }

    // The configuration record InitStream hands to the library.
    BE_CONFIG Config() const;

private:
    // The samples of one chunk as read, and matched to the encoder's channel count.
    template <typename T> struct TSampleBuffers {
        std::vector<T> Input;
        std::vector<T> Matched;
    };

    void EncodeFile(int Index);
    template <typename T>
    uint32_t EncodeBlock(TPcmSource &Source, qint64 Frames, TSampleBuffers<T> &Buffers);
    void WriteOutput(QFile &Output, uint32_t Bytes);
    void ReleaseFile();

    uint32_t FSampleRate = 44100;
    uint32_t FBitrate = 128;
    uint32_t FMaxBitrate = 320;
    MPEG_QUALITY FQuality = NORMAL_QUALITY;
    bool FPrivate = false;
    bool FCRC = true;
    TLameMode FMode = STEREO;
    bool FCopyright = false;
    bool FOriginal = false;
    bool FWriteVBRHeader = false;
    bool FEnableVBR = false;
    int FVBRQuality = 4;
    bool FFindReplayGain = false;
    QStringList FInputFiles;
    std::vector<TSourceInfo> FInputInfos;
    QStringList FOutputFiles;
    std::vector<int> FOutputHandles;
    QString FDefaultExt = QStringLiteral(".mp3");
    TLameVersion FLameVersion;

    HBE_STREAM FStream = 0;
    bool FStreamOpen = false;
    uint32_t FSamplesPerChunk = 0;
    uint32_t FOutputBufferSize = 0;
    std::vector<uint8_t> FOutputBuffer;
    // 16-bit input goes to the library as it is read; deeper integers as 32-bit values, float
    // (and lossy formats) as float, so nothing is lost on the way.
    TSampleBuffers<int16_t> FInput16;
    TSampleBuffers<int32_t> FInput32;
    TSampleBuffers<float> FInputFloat;
    std::atomic<bool> FAborted{false};
};
