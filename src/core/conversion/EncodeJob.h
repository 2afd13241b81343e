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
    };

    void Run() override;
    void Encode();
    void Encoded(const TResult &Result);
    void EndEncode();

    std::unique_ptr<TLameCoder> FCoder;
    // The source as read again at the start of the job; the coder reads what was checked.
    TSourceInfo FSource;
    // The last percentage posted, so the coder's many reports post each value once;
    // written by the worker too.
    std::atomic<int> FLastPercent{-1};
};
