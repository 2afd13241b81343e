#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

// Peak scan and normalisation of the samples of a WAV file's data chunk.

// Where a WAV file's samples are and how they are stored.
struct TPcmLayout {
    qint64 DataOffset = 44;
    qint64 DataLength = 0; // bytes of whole frames present in the file
    int BitsPerSample = 16; // 8 (unsigned), 16, 24 or 32
    bool Float = false;     // 32-bit IEEE float
};

// Progress in percent of a scan or a scaling pass; called from the thread doing the work.
using TPercentEvent = std::function<void(int Percent)>;

// Samples per chunk of the scan and the scaling: one fixed buffer each, no allocation per
// chunk.
inline constexpr int NormalizeChunkSamples = 9600;

// The largest positive sample (negative ones never raise it), in 16-bit units: 32767 is
// the largest 16-bit sample, wider formats are scaled down to that range. False when there
// is no data. Stopping early on Abort still succeeds, with the peak of what was read.
// Throws EFOpenError when the file cannot be read.
bool ScanPeak(const QString &Path, const TPcmLayout &Layout, double &Peak,
              const std::atomic<bool> &Abort, const TPercentEvent &Progress = {});

// The level in percent of full scale of a peak: (peak - 1) / 327.66, so 32767 gives 100.
// 0 or below means nothing is to be scaled (no positive sample: silence never becomes
// noise).
double PeakLevel(double Peak);

// Writes a copy of Path with every sample multiplied by Factor (clamped to the format's
// range, rounded to the nearest integer with ties to even) into a new file in TempFolder
// whose path goes to TempName as soon as it is chosen; everything before the data and
// after it is copied unchanged. False when there is no data. Stopping early on Abort still
// succeeds (the caller checks its flag before using the copy). Throws EFOpenError or
// EFCreateError when a file cannot be opened, and Exception when a write fails.
bool NormalizeWave(const QString &Path, const TPcmLayout &Layout, double Factor,
                   const QString &TempFolder, QString &TempName, const std::atomic<bool> &Abort,
                   const TPercentEvent &Progress = {});
