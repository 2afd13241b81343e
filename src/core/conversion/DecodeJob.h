#pragma once

// The decode job of a conversion batch; private to the conversion engine.

#include "conversion/ConvJob.h"

#include <QString>
#include <QTimer>

#include <memory>

class TXaudioPlayer;

// MPEG audio to WAV: a chain of the decoding library's notifications on the job's own
// player, from opening the output and the input to the output closed, then normalisation
// when asked and the partial output renamed onto the destination.
class TDecodeJob : public TConvJob {
public:
    explicit TDecodeJob(IJobHost &Host);
    ~TDecodeJob() override;

    // Loads the decoding library and creates the player unless that was done; throws
    // Exception with the reason.
    void LoadLibrary();
    void Abort() override;

private:
    void Wire();
    void Run() override;
    void Ending() override;
    void FailToStart(const QString &Why);
    void Fail(const QString &Why);
    void CloseOutput();
    void OutputClosed();
    void Closed();
    // Carries the source's tags into the decoded file, then places it.
    void Finish();
    void Place(const TTagCarry &Tags);

    QTimer FStall; // no word from the library for too long
    std::unique_ptr<TXaudioPlayer> FPlayer;
    // From the output opened until it is closed, the job ends only through its close.
    bool FDecoding = false;
    bool FClosing = false;
    QString FFailure;
    QString FWarning;
};
