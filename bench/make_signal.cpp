// Writes a music-like 16-bit 44.1 kHz stereo WAV for encoder benchmarks. An encoder's speed
// depends on what it is fed (silence and pure tones are cheap), so the signal has what music
// has: chords with harmonics, plucked bass and arpeggios under envelopes, off-beat noise
// bursts and a faint noise floor, and different content in each channel. It is written in
// chunks, so memory stays flat for any length.
//
// Usage: make_signal OUT.wav SECONDS [bursts]
//
// With "bursts", 10 ms of a band-limited 100 Hz square wave every half second over a quiet
// tone instead: its MP3 overshoots the true peak of the samples it was made from.

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string_view>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int kEighthFrames = kRate / 4; // 120 beats per minute
constexpr int kEighthsPerBar = 8;
constexpr int kTableSize = 4096;

static_assert(std::endian::native == std::endian::little, "writes samples in host order");

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

// One cycle of a waveform, with a guard point so interpolation needs no wrap.
struct Wavetable {
    std::array<float, kTableSize + 1> v{};
};

Wavetable MakeTable(const std::vector<double> &harmonicLevels) {
    Wavetable t;
    double peak = 0;
    std::vector<double> raw(kTableSize);
    for (int i = 0; i < kTableSize; ++i) {
        for (size_t h = 0; h < harmonicLevels.size(); ++h)
            raw[i] += harmonicLevels[h] * std::sin(2 * std::numbers::pi *
                                                   static_cast<double>((h + 1) * i) / kTableSize);
        peak = std::max(peak, std::abs(raw[i]));
    }
    for (int i = 0; i < kTableSize; ++i)
        t.v[i] = static_cast<float>(raw[i] / peak);
    t.v[kTableSize] = t.v[0];
    return t;
}

double NoteHz(int midi) {
    return 440.0 * std::exp2((midi - 69) / 12.0);
}

// A wavetable oscillator whose level glides toward a target (one-pole): plucks jump to 1 and
// decay toward 0, pads swell toward their hold level.
struct Voice {
    const Wavetable *table = nullptr;
    double phase = 0, inc = 0;
    float env = 0, target = 0, glide = 0, level = 0;

    void Play(int midi, double detune = 1.0) { inc = NoteHz(midi) * detune / kRate; }
    float Next() {
        env = target + (env - target) * glide;
        const double pos = phase * kTableSize;
        const int i = static_cast<int>(pos);
        const float frac = static_cast<float>(pos - i);
        const float s = table->v[i] + (table->v[i + 1] - table->v[i]) * frac;
        phase += inc;
        if (phase >= 1)
            phase -= 1;
        return s * env * level;
    }
};

float GlideFor(double seconds) {
    return static_cast<float>(std::exp(-1.0 / (seconds * kRate)));
}

// xorshift32: deterministic, so every run benchmarks the same file.
struct Noise {
    uint32_t state;
    float Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<float>(state) / 2147483648.0f - 1.0f;
    }
};

// A noise burst (a closed hi-hat) that decays after each hit.
struct Burst {
    Noise noise;
    float env = 0, decay = GlideFor(0.025);
    float Next() {
        env *= decay;
        return noise.Next() * env;
    }
};

// Two progressions of four bars, so the content does not repeat every bar.
constexpr std::array<std::array<int, 4>, 8> kChords{{
    {48, 52, 55, 60}, // C
    {45, 52, 57, 60}, // Am
    {41, 53, 57, 60}, // F
    {43, 50, 55, 59}, // G
    {50, 53, 57, 62}, // Dm
    {43, 47, 55, 62}, // G
    {48, 52, 55, 64}, // C
    {40, 52, 55, 59}, // Em
}};

void WriteHeader(FILE *f, uint32_t dataBytes) {
    auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
    auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(kChannels);
    u32(kRate);
    u32(kRate * kChannels * 2);
    u16(kChannels * 2);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
}

// The "bursts" signal, written in chunks as the music is.
void WriteBursts(FILE *f, uint64_t frames) {
    // Scaled so that the crest of the band-limited square is 0.5 of full scale.
    double crest = 0;
    auto square = [](double t) {
        double v = 0;
        for (int k = 1; k * 100 < 8000; k += 2)
            v += std::sin(2 * std::numbers::pi * 100 * k * t) / k;
        return v;
    };
    for (int i = 0; i < kRate / 100; ++i)
        crest = std::max(crest, std::abs(square(double(i) / kRate)));
    std::vector<int16_t> chunk;
    for (uint64_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double v = i % (kRate / 2) <= kRate / 100
                             ? 0.5 * square(t) / crest
                             : 0.005 * std::sin(2 * std::numbers::pi * 300 * t);
        chunk.insert(chunk.end(), kChannels, int16_t(std::lround(v * 32767)));
        if (chunk.size() >= 65536 || i + 1 == frames) {
            std::fwrite(chunk.data(), 2, chunk.size(), f);
            chunk.clear();
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    const bool bursts = argc == 4 && std::string_view(argv[3]) == "bursts";
    if (argc != 3 && !bursts) {
        std::fprintf(stderr, "usage: %s OUT.wav SECONDS [bursts]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[2]);
    const auto frames = static_cast<uint64_t>(std::llround(seconds * kRate));
    const uint64_t dataBytes = frames * kChannels * 2;
    if (!(seconds > 0) || dataBytes > 0xFFFFFFFFull - 36) {
        std::fprintf(stderr, "make_signal: SECONDS must be > 0 and fit a WAV file\n");
        return 2;
    }
    std::unique_ptr<FILE, FileCloser> out(std::fopen(argv[1], "wb"));
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    WriteHeader(out.get(), static_cast<uint32_t>(dataBytes));
    if (bursts) {
        WriteBursts(out.get(), frames);
        return 0;
    }

    const Wavetable bright = MakeTable({1, 0.5, 0.33, 0.25, 0.2, 0.16, 0.14, 0.12});
    const Wavetable mellow = MakeTable({1, 0.1, 0.11, 0, 0.04, 0, 0.02});

    std::array<Voice, 4> padLeft, padRight;
    for (Voice &v : padLeft)
        v = {&mellow, 0, 0, 0, 0, GlideFor(0.08), 0.09f};
    for (Voice &v : padRight)
        v = {&bright, 0.3, 0, 0, 0, GlideFor(0.12), 0.07f};
    Voice bass{&bright, 0, 0, 0, 0, GlideFor(0.35), 0.22f};
    Voice arp{&mellow, 0, 0, 0, 0, GlideFor(0.18), 0.18f};
    Burst hatLeft{{0x1234567u}}, hatRight{{0x7654321u}};
    Noise floorLeft{0xBADC0DEu}, floorRight{0xC0FFEEu}, choice{0x5EEDu};

    std::vector<int16_t> chunk;
    uint64_t written = 0;
    for (uint64_t eighth = 0; written < frames; ++eighth) {
        const auto &chord = kChords[(eighth / kEighthsPerBar) % kChords.size()];
        const uint64_t step = eighth % kEighthsPerBar;
        if (step == 0) {
            for (size_t i = 0; i < 4; ++i) {
                padLeft[i].Play(chord[i]);
                padLeft[i].target = 1;
                padRight[i].Play(chord[i] + (i == 0 ? 12 : 0), 1.0017); // a few cents sharp
                padRight[i].target = 1;
            }
        }
        if (step == kEighthsPerBar - 1) { // pads fall back before the next chord
            for (size_t i = 0; i < 4; ++i)
                padLeft[i].target = padRight[i].target = 0.3f;
        }
        if (step % 2 == 0) {
            bass.Play(chord[0] - 12);
            bass.env = 1;
        } else {
            hatLeft.env = 1;
            hatRight.env = 0.7f;
        }
        const auto pick = static_cast<size_t>((choice.Next() + 1) * 2) % 4;
        arp.Play(chord[pick] + (step % 3 == 0 ? 24 : 12));
        arp.env = 1;

        const uint64_t n = std::min<uint64_t>(kEighthFrames, frames - written);
        chunk.resize(n * kChannels);
        for (uint64_t i = 0; i < n; ++i) {
            float left = bass.Next() + hatLeft.Next() * 0.05f + floorLeft.Next() * 0.002f;
            float right = arp.Next() + hatRight.Next() * 0.08f + floorRight.Next() * 0.002f;
            for (size_t p = 0; p < 4; ++p) {
                left += padLeft[p].Next();
                right += padRight[p].Next();
            }
            chunk[2 * i] = static_cast<int16_t>(std::lround(std::clamp(left, -1.0f, 1.0f) * 32767));
            chunk[2 * i + 1] =
                static_cast<int16_t>(std::lround(std::clamp(right, -1.0f, 1.0f) * 32767));
        }
        if (std::fwrite(chunk.data(), sizeof(int16_t), chunk.size(), out.get()) != chunk.size()) {
            std::perror(argv[1]);
            return 1;
        }
        written += n;
    }
    if (std::fclose(out.release()) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
