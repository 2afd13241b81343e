#pragma once

#include "conversion/SafeOutput.h"
#include "inspect/MP3WavComm.h"
#include "sources/SoundFile.h"

#include <QString>

#include <atomic>
#include <functional>

class TLoudnessBlocks;

// Peak scan and normalisation of the samples of a WAV file's data chunk, for every sample
// format the WAV reader can read, at that format's own precision; and of the other sources
// libsndfile reads, whose scaled copy is a WAV file of their own precision.

// Progress in percent of a scan or a scaling pass; called from the thread doing the work.
using TPercentEvent = std::function<void(int Percent)>;

// Samples per chunk of the scan and the scaling: one fixed buffer each, no allocation per
// chunk.
inline constexpr int NormalizeChunkSamples = 9600;

// The largest sample magnitude of the file Info describes, in 16-bit units: 32767 is the
// largest 16-bit sample, other formats are scaled to that range. A lopsided wave (voice is
// often louder below zero) is measured by its larger half, so scaling never clips it; the
// negative full scale counts as the positive one. False when there is no data. Stopping
// early on Abort still succeeds, with the peak of what was read. Throws EFOpenError when
// the file cannot be read.
bool ScanPeak(const QString &Path, const TWaveFileInfo &Info, double &Peak,
              const std::atomic<bool> &Abort, const TPercentEvent &Progress = {});

// The same for the frames of any source: integers exactly, floats as they are.
bool ScanPeak(TPcmSource &Source, double &Peak, const std::atomic<bool> &Abort,
              const TPercentEvent &Progress = {});

// The level in percent of full scale of a peak: (peak - 1) / 327.66, so 32767 gives 100.
// 0 or below means nothing is to be scaled (digital silence never becomes noise).
double PeakLevel(double Peak);

// Writes a copy of Path with every sample multiplied by Factor (clamped to the format's
// range, integers rounded to the nearest with ties to even) into a new hidden file in
// TempFolder, which goes to Temp as soon as it is made; everything before the
// data and after it is copied unchanged. False when there is no data. Stopping early on
// Abort still succeeds (the caller checks its flag before using the copy). Throws
// EFOpenError or EFCreateError when a file cannot be opened, and Exception when a write
// fails.
bool NormalizeWave(const QString &Path, const TWaveFileInfo &Info, double Factor,
                   const QString &TempFolder, TPartialFile &Temp, const std::atomic<bool> &Abort,
                   const TPercentEvent &Progress = {});

// The sample format of the WAV copy of a sound file: integers of up to 32 bits keep their
// depth (rounded up to whole bytes; companded and ADPCM samples, which decode to 16 bits,
// take 16), floats keep theirs, and lossy formats become 32-bit float.
TWaveSampleFormat WaveCopyFormat(const TSoundFileInfo &Info);

// As NormalizeWave for a file libsndfile reads (Info is ReadSoundFile's result for it): the
// copy is a canonical PCM or float WAV file in WaveCopyFormat, which is all the encoder
// needs. Throws also when the audio is too long for a WAV file (4 GiB of data).
bool NormalizeSoundFile(const QString &Path, const TSoundFileInfo &Info, double Factor,
                        const QString &TempFolder, TPartialFile &Temp,
                        const std::atomic<bool> &Abort, const TPercentEvent &Progress = {});

// The largest peak, in 16-bit steps, that counts as silence: never scaled.
inline constexpr double SilencePeak = 2.0;

// What bringing a file to a target peak gave.
struct TNormalizeResult {
    TPartialFile Temp; // the scaled copy; none when there was nothing to scale or on Abort
    QString Error;     // why it could not be done, with the system's reason; empty on success
    QString Note;      // why a readable file was left unscaled (loudness only); empty otherwise
    double GainDb = 0; // the gain of the copy (loudness only)
};

// The whole normalisation of one file, the same for a source before encoding and a decoded
// output: reads Path's header (WAV, or any source libsndfile reads), scans its peak, and when the
// peak is above silence writes a copy scaled to Target percent of full scale into a hidden file in
// TempFolder. OnScaling is called between the scan and the scaling. Never throws: a failure leaves
// no copy and says why in Error.
TNormalizeResult NormalizeToPeak(const QString &Path, int Target, const QString &TempFolder,
                                 const std::atomic<bool> &Abort,
                                 const std::function<void()> &OnScaling = {},
                                 const TPercentEvent &Progress = {});

// The loudness of a whole programme: integrated loudness (LUFS), loudness range (LU) and the
// largest true peak of any channel (dBTP). -inf where there is nothing to measure.
struct TLoudness {
    double Integrated = 0;
    double Range = 0;
    double TruePeak = 0;
    qint64 Frames = 0;
};

// Measures every frame of Source at SampleRate; Range only when WithRange; the gating blocks
// into Blocks when given (for an album's loudness). AsChannels measures the audio as an
// output of that many channels will hold it (0: as it is): a mono source in a stereo MP3 is
// dual mono, 3 LU louder; a stereo source in a mono MP3 is the mean of its two channels.
// False when the measurement cannot be set up (no channels, a rate it does not take) or on
// Abort. Throws EFOpenError (named Path) when the source ends before its last frame.
bool MeasureLoudness(TPcmSource &Source, int SampleRate, bool WithRange, TLoudness &Result,
                     const std::atomic<bool> &Abort, const QString &Path,
                     const TPercentEvent &Progress = {}, TLoudnessBlocks *Blocks = nullptr,
                     int AsChannels = 0);

// The same for the file at Path (WAV, or any source libsndfile reads). Throws EFOpenError.
bool MeasureLoudness(const QString &Path, bool WithRange, TLoudness &Result,
                     const std::atomic<bool> &Abort, const TPercentEvent &Progress = {},
                     TLoudnessBlocks *Blocks = nullptr, int AsChannels = 0);

// The loudness measurement gates blocks of this length: a shorter file has no loudness.
inline constexpr int LoudnessBlockMs = 400;

// The gain in dB bringing Measured to TargetLufs, lowered so the true peak stays at or below
// CeilingDbtp. No limiter: the gain is one factor for the whole file.
double LoudnessGain(const TLoudness &Measured, double TargetLufs, double CeilingDbtp);

// As NormalizeToPeak, but to an integrated loudness of TargetLufs with the true peak at most
// CeilingDbtp. Silence and files shorter than one gating block are left unscaled, saying so
// in Note.
// AsChannels as for MeasureLoudness: the loudness is that of the output the copy becomes.
TNormalizeResult NormalizeToLoudness(const QString &Path, double TargetLufs, double CeilingDbtp,
                                     const QString &TempFolder, const std::atomic<bool> &Abort,
                                     const std::function<void()> &OnScaling = {},
                                     const TPercentEvent &Progress = {}, int AsChannels = 0);

// The copy of Path scaled by GainDb, as NormalizeToLoudness writes it once it knows its gain:
// again for a lossy output that came out over its ceiling. Never throws; without a copy
// there is an Error, unless stopped by Abort.
TNormalizeResult ScaleByGain(const QString &Path, double GainDb, const QString &TempFolder,
                             const std::atomic<bool> &Abort, const TPercentEvent &Progress = {});

// The true peak (dBTP) of an encoded MPEG file as it decodes.
struct TDecodedPeak {
    bool Checked = false; // false: the file could not be decoded, or stopped on Abort
    double TruePeak = 0;
    QString Problem; // why it was not checked (empty on Abort)
};
// Decodes Path with libsndfile (SoundFileDecodesMpeg must hold) and measures its true peak.
TDecodedPeak MeasureDecodedPeak(const QString &Path, const std::atomic<bool> &Abort,
                                const TPercentEvent &Progress = {});

// A decoded lossy output may overshoot its ceiling by this much (dB) before it is redone,
// and is then redone this far (dB) under it, at most this many more times.
inline constexpr double OvershootTolerance = 0.05;
inline constexpr double OvershootMargin = 0.1;
inline constexpr int OvershootRetries = 2;

// The gain for another encoding of an output made with GainDb whose decoded true peak came
// out at TruePeak, over CeilingDbtp.
double LoweredGain(double GainDb, double TruePeak, double CeilingDbtp);
