#pragma once

// The runner's slots, shared by its batch, encode and decode parts; not for other code.

#include "conversion/ConvRunner.h"
#include "encoder/LameCoder.h"
#include "xaudio/XaudioPlayer.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

struct TConvRunner::TEncodeResult {
    QString Error; // empty on success
};

// One job at a time, with everything that job owns while it runs.
struct TConvRunner::TSlot {
    TFileParam *Job = nullptr; // none: the slot is free
    int Index = -1;
    uint64_t Order = 0; // when it was taken up
    std::unique_ptr<TLameCoder> Coder;
    std::unique_ptr<TXaudioPlayer> Player;
    std::thread Worker;
    QTimer *Stall = nullptr;
    std::atomic<int> LastPercent{-1}; // written by the encoding worker too

    int Phase = 0;
    int Step = -1; // phases of the job taken so far, less one
    int Steps = 1;
    int Percent = 0;

    // The output being written, beside its destination, and a normalised copy of the source.
    TPartialFile Partial;
    TPartialFile Temp;
    TFileStamp SourceStamp;

    bool Decoding = false;
    bool Closing = false;
    QString DecodeFailure;
    QString DecodeWarning;

    TFileParam &J() const { return *Job; }
    int JobPercent() const {
        return std::min(100, (std::max(Step, 0) * 100 + Percent) / std::max(Steps, 1));
    }
};

template <typename TQuestion> auto TConvRunner::Ask(int JobIndex, TQuestion &&Question) {
    return FGate.Ask([&] {
        if (JobIndex >= 0)
            FQuestions.SetSubject(JobIndex);
        return Question();
    });
}

// The lines a job puts in the error list.
namespace joblines {

inline QString EncodeErrorLine(const TFileParam &Job) {
    return QStringLiteral("Source file '%1' can't be open, convert error.").arg(Job.SourcePath);
}

inline QString DecodeErrorLine(const TFileParam &Job) {
    return QStringLiteral("Conversion Error: ") + Job.SourcePath;
}

// An error names the hidden partial file, by its name or its descriptor; the user knows
// the destination.
inline QString WithDestination(QString Text, const TPartialFile &Partial, const TFileParam &Job) {
    if (!Partial)
        return Text;
    return Text.replace(Partial.ReadPath(), Job.DestPath).replace(Partial.Path(), Job.DestPath);
}

inline QString NormalizeFailure(const QString &Why) {
    return QStringLiteral("Normalize wave file fail. ") + Why;
}

} // namespace joblines
