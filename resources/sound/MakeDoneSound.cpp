// Writes the completion sound, done.snd: a short two-note chime (C6 then G6, with a faint
// octave over the first), 0.6 s of 44.1 kHz 16-bit mono PCM in a canonical WAV file. Run by
// the build, so the sound is made here rather than shipped.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr double Length = 0.6;   // seconds
constexpr double Attack = 0.005; // a struck note, but without a click
constexpr double FadeOut = 0.05; // ends on silence
constexpr double Peak = 0.5;     // of full scale: a notice, not an alarm

struct Partial {
    double Start;     // seconds
    double Frequency; // Hz
    double Amplitude;
    double Decay; // seconds to fall to 1/e
};

constexpr Partial Partials[] = {
    {0.00, 1046.50, 1.00, 0.14}, // C6
    {0.00, 2093.00, 0.18, 0.06}, // its octave, brief
    {0.11, 1567.98, 0.90, 0.18}, // G6
};

std::vector<double> Synthesise() {
    const int Frames = int(Rate * Length);
    std::vector<double> Samples(Frames, 0.0);
    for (int i = 0; i < Frames; ++i) {
        const double t = double(i) / Rate;
        for (const Partial &P : Partials) {
            const double Since = t - P.Start;
            if (Since < 0)
                continue;
            const double Rise =
                Since < Attack ? 0.5 - 0.5 * std::cos(std::numbers::pi * Since / Attack) : 1.0;
            Samples[i] += P.Amplitude * Rise * std::exp(-Since / P.Decay) *
                          std::sin(2 * std::numbers::pi * P.Frequency * Since);
        }
        const double Left = Length - t;
        if (Left < FadeOut)
            Samples[i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * Left / FadeOut);
    }
    double Max = 0;
    for (double S : Samples)
        Max = std::max(Max, std::abs(S));
    for (double &S : Samples)
        S *= Peak / Max;
    return Samples;
}

void PutLE(std::string &Out, uint32_t Value, int Bytes) {
    for (int i = 0; i < Bytes; ++i)
        Out += char((Value >> (8 * i)) & 0xFF);
}

std::string WaveFile(const std::vector<double> &Samples) {
    const uint32_t DataSize = uint32_t(Samples.size() * 2);
    std::string Out = "RIFF";
    PutLE(Out, 36 + DataSize, 4);
    Out += "WAVEfmt ";
    PutLE(Out, 16, 4);
    PutLE(Out, 1, 2); // PCM
    PutLE(Out, 1, 2); // mono
    PutLE(Out, Rate, 4);
    PutLE(Out, Rate * 2, 4);
    PutLE(Out, 2, 2);
    PutLE(Out, 16, 2);
    Out += "data";
    PutLE(Out, DataSize, 4);
    for (double S : Samples)
        PutLE(Out, uint16_t(int16_t(std::lround(S * 32767))), 2);
    return Out;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    // Written beside the output and renamed, so an interrupted build leaves no half file.
    const std::string Output = argv[1];
    const std::string Temporary = Output + ".part";
    const std::string Bytes = WaveFile(Synthesise());
    std::FILE *File = std::fopen(Temporary.c_str(), "wb");
    bool Ok = File && std::fwrite(Bytes.data(), 1, Bytes.size(), File) == Bytes.size();
    Ok = File && std::fclose(File) == 0 && Ok;
    if (!Ok || std::rename(Temporary.c_str(), Output.c_str()) != 0) {
        std::perror(Output.c_str());
        std::remove(Temporary.c_str());
        return 1;
    }
    return 0;
}
