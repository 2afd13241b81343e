#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

// Media that tests make for themselves: PCM WAV files with known tones, and a way to decode
// MPEG audio and measure what came out (frequency and level of each channel). The file
// helpers throw std::runtime_error when a file cannot be written or read, so a test fails at
// the cause rather than on a missing file later.
namespace testmedia {

// A canonical 44-byte RIFF/WAVE header: a 16-byte fmt chunk with the data chunk right behind
// it. The RIFF size saturates at 0xFFFFFFFF so that headers claiming huge data stay valid.
QByteArray WavHeader(int channels, int sampleRate, int bitsPerSample, quint32 dataBytes,
                     quint16 formatTag = 1);

// Pieces of hand-built WAV files in the shapes other writers produce.
// One chunk: the id, the little-endian body size, the body and the pad byte an odd body needs.
QByteArray WavChunk(const char *id, const QByteArray &body);
// A fmt chunk of 16, 18 (cbSize 0) or 40 bytes; 40 makes a WAVE_FORMAT_EXTENSIBLE header with
// formatTag (1 PCM, 3 float) as its sub-format. Byte rate and block align follow the format.
QByteArray WavFmtChunk(int fmtBytes, quint16 formatTag, int channels, int sampleRate,
                       int bitsPerSample);
// "RIFF", the size of what follows, "WAVE", then the chunks as given.
QByteArray RiffWave(const QByteArray &chunks);

// A tone per channel (frequency, amplitude as a fraction of full scale), stored as formatTag 1
// (integer: 8 unsigned, 16, 24 or 32 bits) or 3 (float: 32 or 64 bits): the bytes of a data
// chunk body.
struct Tone {
    double freqHz = 0;
    double amplitude = 0;
};
QByteArray ToneSamples(quint16 formatTag, int bitsPerSample, int sampleRate, double seconds,
                       const std::vector<Tone> &channels);

// Sine tones as 16-bit PCM, round(seconds * sampleRate) frames, starting at phase 0.
// Channel 0 plays freqHz; channel 1 plays freqRightHz (freqHz when 0); further channels play
// freqHz. amplitude is a fraction of full scale. Written in chunks, so long files are cheap.
void WriteSineWav(const QString &path, int channels, int sampleRate, double seconds, double freqHz,
                  double freqRightHz = 0, double amplitude = 0.5);
// The same samples without a header: raw interleaved 16-bit little-endian PCM.
void WriteSinePcm(const QString &path, int channels, int sampleRate, double seconds, double freqHz,
                  double freqRightHz = 0, double amplitude = 0.5);
// The same tone in another container, written by libsndfile: sfFormat is its SF_FORMAT_*
// major type and subtype (FLAC 16-bit, Ogg Vorbis, ...).
void WriteSineSound(const QString &path, int sfFormat, int channels, int sampleRate, double seconds,
                    double freqHz, double amplitude = 0.5);

void WriteFile(const QString &path, const QByteArray &bytes);
QByteArray ReadFile(const QString &path);

// Interleaved 16-bit audio, as decoded from a file or built by a test.
struct DecodedAudio {
    bool ok = false;
    QString error;
    int channels = 0;
    long sampleRate = 0;
    std::vector<int16_t> samples;

    size_t frames() const;
    double seconds() const;
    // One channel as doubles in -1..1; throws std::out_of_range for a channel not present.
    std::vector<double> channel(int c) const;
};

// Decodes an MPEG audio file (layers I-III, any rate) with libmpg123 at its native rate and
// channel count. On failure `ok` is false and `error` says why; samples decoded before a
// mid-stream error are kept. When the file has an encoder Info/VBR header frame, libmpg123
// trims the start delay and padding it records; otherwise they are part of the samples.
DecodedAudio DecodeMpeg(const QString &path);

// Measurements over the middle of one channel, so that an encoder's start delay and end
// padding do not count: a quarter of the signal is skipped at each end (at least two MPEG
// frames, 2304 samples, when the signal is long enough to keep a quarter of it).

// Frequency of the strongest tone in Hz, within ~0.1% for a clean sine. Returns 0 for
// silence, for a constant (DC) signal and for anything quieter than about -80 dBFS, so a
// decoder that outputs nothing can never match an expected tone.
double DominantFrequency(const DecodedAudio &audio, int channel);
// Root mean square level in full-scale units (a sine of amplitude 0.5 gives about 0.354).
double Rms(const DecodedAudio &audio, int channel);

} // namespace testmedia
