#include "support/TestMedia.h"

#include <QFile>
#include <QtEndian>

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

namespace testmedia {

namespace {

constexpr int kHeaderBytes = 44;
// Anything quieter than -80 dBFS counts as silence: a 16-bit decoder's rounding noise stays
// below it, a tone a test could mean stays above it.
constexpr double kSilenceRms = 1e-4;
// Longer signals gain no accuracy worth the time; the middle part is cut to this length.
constexpr size_t kMaxAnalysed = size_t{1} << 17;
constexpr size_t kMinAnalysed = 64;

[[noreturn]] void Fail(const QString &what) {
    throw std::runtime_error(what.toStdString());
}

template <typename T> void PutLe(QByteArray &out, T value) {
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

struct SineLayout {
    quint64 frames = 0;
    quint32 dataBytes = 0;
};

SineLayout CheckSineArguments(int channels, int sampleRate, double seconds) {
    if (channels < 1 || sampleRate < 1 || !(seconds >= 0))
        throw std::invalid_argument("sine: need channels >= 1, sampleRate >= 1, seconds >= 0");
    SineLayout layout;
    layout.frames = static_cast<quint64>(std::llround(seconds * sampleRate));
    const quint64 bytes = layout.frames * static_cast<quint64>(channels) * 2;
    if (bytes > std::numeric_limits<quint32>::max() - 36)
        throw std::invalid_argument("sine: too long for a WAV file");
    layout.dataBytes = static_cast<quint32>(bytes);
    return layout;
}

void WriteSine(const QString &path, bool withHeader, int channels, int sampleRate, double seconds,
               double freqHz, double freqRightHz, double amplitude) {
    const SineLayout layout = CheckSineArguments(channels, sampleRate, seconds);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail(QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
    if (withHeader) {
        const QByteArray header = WavHeader(channels, sampleRate, 16, layout.dataBytes);
        if (file.write(header) != header.size())
            Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }

    std::vector<double> freqs(channels, freqHz);
    if (channels > 1 && freqRightHz != 0)
        freqs[1] = freqRightHz;
    const double scale = amplitude * 32767.0;
    constexpr quint64 kChunkFrames = 4096;
    QByteArray chunk;
    for (quint64 first = 0; first < layout.frames; first += kChunkFrames) {
        const quint64 end = std::min(layout.frames, first + kChunkFrames);
        chunk.clear();
        for (quint64 n = first; n < end; ++n) {
            for (int c = 0; c < channels; ++c) {
                // Reducing the phase to one cycle first keeps long files exact.
                const double cycle = std::fmod(freqs[c] * static_cast<double>(n), sampleRate);
                const double v =
                    std::round(scale * std::sin(2 * std::numbers::pi * cycle / sampleRate));
                PutLe(chunk, static_cast<qint16>(std::clamp(v, -32768.0, 32767.0)));
            }
        }
        if (file.write(chunk) != chunk.size())
            Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }
    if (!file.flush())
        Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

// The part of a channel that measurements look at; see the header for the rule.
std::vector<double> MiddleOf(std::vector<double> x) {
    const size_t n = x.size();
    const size_t skip = std::max(n / 4, std::min<size_t>(2304, n * 3 / 8));
    size_t begin = skip;
    size_t end = n - skip;
    if (end - begin > kMaxAnalysed) {
        begin += (end - begin - kMaxAnalysed) / 2;
        end = begin + kMaxAnalysed;
    }
    return std::vector<double>(x.begin() + static_cast<std::ptrdiff_t>(begin),
                               x.begin() + static_cast<std::ptrdiff_t>(end));
}

std::vector<double> HannWindowed(const std::vector<double> &x, size_t offset, size_t length) {
    std::vector<double> y(length);
    for (size_t i = 0; i < length; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(length));
        y[i] = w * x[offset + i];
    }
    return y;
}

// In-place iterative radix-2 FFT; size must be a power of two.
void Fft(std::vector<std::complex<double>> &a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2 * std::numbers::pi / static_cast<double>(len);
        const std::complex<double> step(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> w(1);
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> u = a[i + k];
                const std::complex<double> v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= step;
            }
        }
    }
}

// Power of the discrete-time Fourier transform at any angular frequency (Goertzel).
double PowerAt(const std::vector<double> &y, double omega) {
    const double coeff = 2 * std::cos(omega);
    double s1 = 0, s2 = 0;
    for (double v : y) {
        const double s = v + coeff * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

struct MpgHandleDeleter {
    void operator()(mpg123_handle *h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using MpgHandle = std::unique_ptr<mpg123_handle, MpgHandleDeleter>;

QString MpgError(mpg123_handle *h) {
    return QString::fromUtf8(mpg123_strerror(h));
}

} // namespace

QByteArray WavChunk(const char *id, const QByteArray &body) {
    QByteArray chunk(id, 4);
    PutLe(chunk, static_cast<quint32>(body.size()));
    chunk += body;
    if (body.size() % 2)
        chunk += '\0';
    return chunk;
}

QByteArray WavFmtChunk(int fmtBytes, quint16 formatTag, int channels, int sampleRate,
                       int bitsPerSample) {
    if (fmtBytes != 16 && fmtBytes != 18 && fmtBytes != 40)
        throw std::invalid_argument("fmt chunks have 16, 18 or 40 bytes");
    const quint16 blockAlign = static_cast<quint16>(channels * ((bitsPerSample + 7) / 8));
    QByteArray body;
    PutLe(body, fmtBytes == 40 ? quint16{0xFFFE} : formatTag);
    PutLe(body, static_cast<quint16>(channels));
    PutLe(body, static_cast<quint32>(sampleRate));
    PutLe(body, static_cast<quint32>(sampleRate) * blockAlign);
    PutLe(body, blockAlign);
    PutLe(body, static_cast<quint16>(bitsPerSample));
    if (fmtBytes >= 18)
        PutLe(body, static_cast<quint16>(fmtBytes - 18));
    if (fmtBytes == 40) {
        PutLe(body, static_cast<quint16>(bitsPerSample));  // valid bits
        PutLe(body, quint32{channels == 1 ? 0x4u : 0x3u}); // speaker positions
        PutLe(body, formatTag);
        body.append("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    return WavChunk("fmt ", body);
}

QByteArray RiffWave(const QByteArray &chunks) {
    QByteArray file("RIFF", 4);
    PutLe(file, static_cast<quint32>(4 + chunks.size()));
    file.append("WAVE", 4);
    return file + chunks;
}

QByteArray ToneSamples(quint16 formatTag, int bitsPerSample, int sampleRate, double seconds,
                       const std::vector<Tone> &channels) {
    const auto frames = static_cast<quint64>(std::llround(seconds * sampleRate));
    QByteArray out;
    out.reserve(static_cast<qsizetype>(frames * channels.size() * size_t(bitsPerSample / 8)));
    for (quint64 n = 0; n < frames; ++n) {
        for (const Tone &tone : channels) {
            const double cycle = std::fmod(tone.freqHz * static_cast<double>(n), sampleRate);
            const double v = tone.amplitude * std::sin(2 * std::numbers::pi * cycle / sampleRate);
            if (formatTag == 3 && bitsPerSample == 32) {
                PutLe(out, static_cast<float>(v));
            } else if (formatTag == 3 && bitsPerSample == 64) {
                PutLe(out, v);
            } else if (formatTag == 1) {
                const double top = std::ldexp(1.0, bitsPerSample - 1) - 1;
                const auto s = static_cast<qint32>(std::lround(v * top));
                if (bitsPerSample == 8)
                    out.append(static_cast<char>(s + 128));
                else if (bitsPerSample == 16)
                    PutLe(out, static_cast<qint16>(s));
                else if (bitsPerSample == 24)
                    out.append(reinterpret_cast<const char *>(&s), 3); // little-endian host
                else
                    PutLe(out, s);
            } else {
                throw std::invalid_argument("tones: integer or float samples only");
            }
        }
    }
    return out;
}

QByteArray WavHeader(int channels, int sampleRate, int bitsPerSample, quint32 dataBytes,
                     quint16 formatTag) {
    const quint32 blockAlign = static_cast<quint32>(channels * bitsPerSample / 8);
    const quint64 riffSize = std::min<quint64>(36 + quint64{dataBytes}, 0xFFFFFFFFu);
    QByteArray h;
    h.reserve(kHeaderBytes);
    h.append("RIFF", 4);
    PutLe(h, static_cast<quint32>(riffSize));
    h.append("WAVEfmt ", 8);
    PutLe(h, quint32{16});
    PutLe(h, formatTag);
    PutLe(h, static_cast<quint16>(channels));
    PutLe(h, static_cast<quint32>(sampleRate));
    PutLe(h, static_cast<quint32>(sampleRate) * blockAlign);
    PutLe(h, static_cast<quint16>(blockAlign));
    PutLe(h, static_cast<quint16>(bitsPerSample));
    h.append("data", 4);
    PutLe(h, dataBytes);
    return h;
}

void WriteSineWav(const QString &path, int channels, int sampleRate, double seconds, double freqHz,
                  double freqRightHz, double amplitude) {
    WriteSine(path, true, channels, sampleRate, seconds, freqHz, freqRightHz, amplitude);
}

void WriteSinePcm(const QString &path, int channels, int sampleRate, double seconds, double freqHz,
                  double freqRightHz, double amplitude) {
    WriteSine(path, false, channels, sampleRate, seconds, freqHz, freqRightHz, amplitude);
}

void WriteSineSound(const QString &path, int sfFormat, int channels, int sampleRate, double seconds,
                    double freqHz, double amplitude) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = sfFormat;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (file == nullptr)
        Fail(QStringLiteral("cannot create %1: %2")
                 .arg(path, QString::fromUtf8(sf_strerror(nullptr))));
    const qint64 frames = qRound64(seconds * sampleRate);
    std::vector<double> samples(size_t(frames * channels));
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples[size_t(i * channels + c)] =
                amplitude * std::sin(2 * std::numbers::pi * freqHz * double(i) / sampleRate);
    const sf_count_t written = sf_writef_double(file, samples.data(), frames);
    sf_close(file);
    if (written != frames)
        Fail(QStringLiteral("cannot write %1").arg(path));
}

void WriteFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail(QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

QByteArray ReadFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

size_t DecodedAudio::frames() const {
    return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0;
}

double DecodedAudio::seconds() const {
    return sampleRate > 0 ? static_cast<double>(frames()) / static_cast<double>(sampleRate) : 0;
}

std::vector<double> DecodedAudio::channel(int c) const {
    if (c < 0 || c >= channels)
        throw std::out_of_range("audio has no channel " + std::to_string(c) + " (it has " +
                                std::to_string(channels) + ")");
    std::vector<double> out;
    out.reserve(frames());
    for (size_t i = static_cast<size_t>(c); i < samples.size(); i += static_cast<size_t>(channels))
        out.push_back(samples[i] / 32768.0);
    return out;
}

DecodedAudio DecodeMpeg(const QString &path) {
    DecodedAudio audio;
    // Required before libmpg123 1.27, harmless after.
    static const int initResult = mpg123_init();
    if (initResult != MPG123_OK) {
        audio.error = QStringLiteral("mpg123_init: %1")
                          .arg(QString::fromUtf8(mpg123_plain_strerror(initResult)));
        return audio;
    }
    int err = MPG123_OK;
    MpgHandle mh(mpg123_new(nullptr, &err));
    if (!mh) {
        audio.error =
            QStringLiteral("mpg123_new: %1").arg(QString::fromUtf8(mpg123_plain_strerror(err)));
        return audio;
    }
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // Native rate and channel count only, as 16-bit: no resampling, no channel mixing.
    mpg123_format_none(mh.get());
    const long *rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(mh.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_open(mh.get(), QFile::encodeName(path).constData()) != MPG123_OK) {
        audio.error = QStringLiteral("cannot open %1: %2").arg(path, MpgError(mh.get()));
        return audio;
    }

    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(mh.get(), buffer.data(), buffer.size(), &done);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(mh.get(), &rate, &channels, &encoding);
            if (audio.channels != 0 && (channels != audio.channels || rate != audio.sampleRate)) {
                audio.error = QStringLiteral("format changes mid-stream in %1").arg(path);
                return audio;
            }
            audio.channels = channels;
            audio.sampleRate = rate;
        }
        const auto *pcm = reinterpret_cast<const int16_t *>(buffer.data());
        audio.samples.insert(audio.samples.end(), pcm, pcm + done / sizeof(int16_t));
        if (rc == MPG123_DONE)
            break;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            audio.error = QStringLiteral("decoding %1: %2").arg(path, MpgError(mh.get()));
            return audio;
        }
    }
    if (audio.channels == 0 || audio.samples.empty()) {
        audio.error = QStringLiteral("no MPEG audio frames in %1").arg(path);
        return audio;
    }
    audio.ok = true;
    return audio;
}

double DominantFrequency(const DecodedAudio &audio, int channel) {
    std::vector<double> x = MiddleOf(audio.channel(channel));
    if (audio.sampleRate <= 0 || x.size() < kMinAnalysed)
        return 0;
    const double rate = static_cast<double>(audio.sampleRate);

    // Without the mean, a constant offset is silence and cannot leak into low bins.
    double mean = 0;
    for (double v : x)
        mean += v;
    mean /= static_cast<double>(x.size());
    double power = 0;
    for (double &v : x) {
        v -= mean;
        power += v * v;
    }
    if (std::sqrt(power / static_cast<double>(x.size())) < kSilenceRms)
        return 0;

    // Coarse: the strongest FFT bin of a power-of-two stretch, placed between bins by
    // fitting a parabola to the log magnitudes around it.
    size_t n = 1;
    while (n * 2 <= x.size())
        n *= 2;
    const std::vector<double> coarse = HannWindowed(x, (x.size() - n) / 2, n);
    std::vector<std::complex<double>> spectrum(coarse.begin(), coarse.end());
    Fft(spectrum);
    size_t peak = 1;
    for (size_t k = 2; k < n / 2; ++k) {
        if (std::norm(spectrum[k]) > std::norm(spectrum[peak]))
            peak = k;
    }
    const double tiny = std::numeric_limits<double>::min();
    const double a = std::log(std::abs(spectrum[peak - 1]) + tiny);
    const double b = std::log(std::abs(spectrum[peak]) + tiny);
    const double c = std::log(std::abs(spectrum[peak + 1]) + tiny);
    const double curvature = a - 2 * b + c;
    const double offset = curvature < 0 ? std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5) : 0;
    const double estimate = (static_cast<double>(peak) + offset) * rate / static_cast<double>(n);

    // Fine: the maximum of the whole stretch's spectrum within one of its bins of the
    // estimate, which lies inside the window's main lobe, where the spectrum is unimodal.
    const std::vector<double> fine = HannWindowed(x, 0, x.size());
    const double binHz = rate / static_cast<double>(x.size());
    double lo = std::max(0.0, estimate - binHz);
    double hi = std::min(rate / 2, estimate + binHz);
    const double toOmega = 2 * std::numbers::pi / rate;
    const double invPhi = (std::sqrt(5.0) - 1) / 2;
    double m1 = hi - invPhi * (hi - lo);
    double m2 = lo + invPhi * (hi - lo);
    double p1 = PowerAt(fine, m1 * toOmega);
    double p2 = PowerAt(fine, m2 * toOmega);
    for (int i = 0; i < 40; ++i) {
        if (p1 < p2) {
            lo = m1;
            m1 = m2;
            p1 = p2;
            m2 = lo + invPhi * (hi - lo);
            p2 = PowerAt(fine, m2 * toOmega);
        } else {
            hi = m2;
            m2 = m1;
            p2 = p1;
            m1 = hi - invPhi * (hi - lo);
            p1 = PowerAt(fine, m1 * toOmega);
        }
    }
    return (lo + hi) / 2;
}

double Rms(const DecodedAudio &audio, int channel) {
    const std::vector<double> x = MiddleOf(audio.channel(channel));
    if (x.empty())
        return 0;
    double sum = 0;
    for (double v : x)
        sum += v * v;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

} // namespace testmedia
