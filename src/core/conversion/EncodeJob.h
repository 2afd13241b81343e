#pragma once

// The encode job of a conversion batch; private to the conversion engine.

#include "conversion/ConvJob.h"
#include "sources/SourceInfo.h"

#include <atomic>
#include <memory>

class TLameCoder;

// A PCM source to MP3: reads the source's header again, normalises it when asked, checks the
// encoder's settings and encodes on the job's worker into a partial output that replaces
// the destination once complete.
class TEncodeJob : public TConvJob {
public:
    explicit TEncodeJob(IJobHost &Host);
    ~TEncodeJob() override;

    void Abort() override;

private:
    struct TResult {
        QString Error; // empty on success
        TTagCarry Tags;
        bool Again = false;  // the decoded output is over the ceiling: scale and encode again
        double TruePeak = 0; // of the decoded output, when it was checked
        QString PeakWarning;
    };

    void Run() override;
    void Encode();
    // On the worker, after an encoding in loudness mode: whether the output decodes under
    // Ceiling (dBTP); fills Again or PeakWarning when not.
    void CheckPeak(const QString &Output, double Ceiling, TResult &Result);
    void Encoded(const TResult &Result);
    void EncodeAgain(double TruePeak);
    void EndEncode();

    std::unique_ptr<TLameCoder> FCoder;
    // The source as read again at the start of the job; the coder reads what was checked.
    TSourceInfo FSource;
    // The last percentage posted, so the coder's many reports post each value once;
    // written by the worker too.
    std::atomic<int> FLastPercent{-1};
    // Loudness mode: the gain of the scaled copy, and the encodings of it so far; the output
    // is checked only when there is a copy (a file left unscaled is not the job's to lower).
    bool FCheckPeak = false;
    double FGainDb = 0;
    int FEncodings = 0;
};
