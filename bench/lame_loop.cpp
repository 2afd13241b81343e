// The smallest encoding loop over libmp3lame with the settings brindle-cli uses for
// "128 kbit/s CBR, stereo mode, normal quality": the floor for what any program built on
// this library can reach, so the benchmark can tell our own overhead from the encoder's.
//
// Usage: lame_loop [--free BYTES] [--pad BYTES] IN.wav OUT.mp3
//        lame_loop --version     (prints the libmp3lame version)
// IN: canonical 44-byte header, 16-bit stereo PCM.
//
// Layout experiments: --pad allocates BYTES before lame_init and keeps them, so the
// library's arrays land at other addresses; --free allocates BYTES and frees them again,
// which (above glibc's mmap threshold) moves the library's largest arrays from their own
// pages into the heap, as happens in a program that freed a large block before encoding;
// --pin fixes that threshold first (as brindle's encoder does), so --free no longer moves them.
// The bytes written must not change; the time may, where the CPU is sensitive to where the
// encoder's arrays sit relative to each other.

#include <lame/lame.h>

#include <malloc.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kChunkFrames = 1152 * 2;
// glibc's initial mmap threshold; --pin keeps it there, as brindle's encoder does.
constexpr int kGlibcMmapThreshold = 128 * 1024;

static_assert(std::endian::native == std::endian::little, "reads samples in host order");

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
struct LameCloser {
    void operator()(lame_global_flags *g) const { lame_close(g); }
};

uint32_t U32(const unsigned char *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}
uint16_t U16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("libmp3lame %s\n", get_lame_version());
        return 0;
    }
    size_t pad = 0;
    size_t freed = 0;
    bool pin = false;
    for (; argc > 3 && std::strncmp(argv[1], "--", 2) == 0; --argc, ++argv) {
        if (std::strcmp(argv[1], "--pin") == 0) {
            pin = true;
            continue;
        }
        size_t *value = std::strcmp(argv[1], "--pad") == 0    ? &pad
                        : std::strcmp(argv[1], "--free") == 0 ? &freed
                                                              : nullptr;
        char *end = nullptr;
        if (value)
            *value = std::strtoul(argv[2], &end, 10);
        if (!value || argv[2][0] == '\0' || *end != '\0') {
            std::fprintf(stderr, "%s: unknown option or bad number: %s %s\n", argv[0], argv[1],
                         argv[2]);
            return 2;
        }
        --argc;
        ++argv;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s [--free BYTES] [--pad BYTES] [--pin] IN.wav OUT.mp3\n",
                     argv[0]);
        return 2;
    }
    if (pin)
        mallopt(M_MMAP_THRESHOLD, kGlibcMmapThreshold);
    if (freed != 0) {
        // glibc serves a large block by mmap; freeing it raises the size above which it
        // does so, and the library's largest arrays then come from the heap instead.
        std::vector<unsigned char> block(freed, 1);
    }
    // Written to, so that it is really allocated and stays where it is until the end.
    std::vector<unsigned char> padding(pad, 1);
    std::unique_ptr<FILE, FileCloser> in(std::fopen(argv[1], "rb"));
    if (!in) {
        std::perror(argv[1]);
        return 1;
    }
    unsigned char header[44];
    if (std::fread(header, 1, sizeof header, in.get()) != sizeof header ||
        std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0 ||
        U16(header + 22) != 2 || U16(header + 34) != 16) {
        std::fprintf(stderr, "%s: not a canonical 16-bit stereo WAV file\n", argv[1]);
        return 1;
    }
    const int rate = static_cast<int>(U32(header + 24));

    std::unique_ptr<lame_global_flags, LameCloser> gf(lame_init());
    if (!gf) {
        std::fprintf(stderr, "lame_init failed\n");
        return 1;
    }
    lame_set_in_samplerate(gf.get(), rate);
    lame_set_num_channels(gf.get(), 2);
    lame_set_mode(gf.get(), STEREO);
    lame_set_brate(gf.get(), 128);
    lame_set_VBR(gf.get(), vbr_off);
    lame_set_error_protection(gf.get(), 1);
    // The program's default leaves the "original" header bit clear; header bits only.
    lame_set_original(gf.get(), 0);
    lame_set_bWriteVbrTag(gf.get(), 0);
    lame_set_findReplayGain(gf.get(), 0);
    if (lame_init_params(gf.get()) != 0) {
        std::fprintf(stderr, "lame_init_params failed\n");
        return 1;
    }

    std::unique_ptr<FILE, FileCloser> out(std::fopen(argv[2], "wb"));
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    std::vector<short> pcm(kChunkFrames * 2);
    // Worst case from lame.h: 1.25 * samples + 7200.
    std::vector<unsigned char> mp3(kChunkFrames * 5 / 4 + 7200);
    for (;;) {
        const size_t frames = std::fread(pcm.data(), 4, kChunkFrames, in.get());
        if (frames == 0)
            break;
        const int n = lame_encode_buffer_interleaved(gf.get(), pcm.data(), static_cast<int>(frames),
                                                     mp3.data(), static_cast<int>(mp3.size()));
        if (n < 0 || std::fwrite(mp3.data(), 1, static_cast<size_t>(n), out.get()) !=
                         static_cast<size_t>(n)) {
            std::fprintf(stderr, "encoding failed (%d)\n", n);
            return 1;
        }
    }
    if (std::ferror(in.get())) {
        std::perror(argv[1]);
        return 1;
    }
    const int n = lame_encode_flush(gf.get(), mp3.data(), static_cast<int>(mp3.size()));
    if (n < 0 ||
        std::fwrite(mp3.data(), 1, static_cast<size_t>(n), out.get()) != static_cast<size_t>(n) ||
        std::fclose(out.release()) != 0) {
        std::fprintf(stderr, "%s: cannot finish the file\n", argv[2]);
        return 1;
    }
    return 0;
}
