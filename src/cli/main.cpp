#include "BrindleVersion.h"
#include "app/RawNames.h"
#include "cli/Console.h"
#include "cli/DecodeCommand.h"
#include "cli/EncodeCommand.h"
#include "cli/InfoCommand.h"
#include "cli/TagCommand.h"
#include "platform/PartialFiles.h"

#include <QCoreApplication>
#include <csignal>

namespace {

const char Usage[] = R"(Usage: brindle-cli COMMAND [options] FILE...
       brindle-cli --help | --version

Commands:
  encode [options] FILE...   WAV (or raw PCM) to MP3
    -o, --output-dir DIR     write outputs there (default: beside each source)
    -b, --bitrate KBPS       constant bitrate, or VBR minimum: 32 40 48 56 64 80 96
                             112 128 160 192 224 256 320
    -B, --max-bitrate KBPS   VBR maximum, from the same table
    -m, --mode MODE          stereo, joint, dual or mono
    -q, --quality QUALITY    normal, low, high or voice (with VBR only)
        --vbr QUALITY        variable bitrate at quality 0 (best) to 9, with its header,
                             from 32 to 320 kbit/s unless -b or -B narrow it
        --crc                a CRC in every frame (off with --vbr unless given)
    -y, --overwrite          replace existing outputs (otherwise they are skipped)
        --normalize PERCENT  scale each file to a peak of PERCENT (1-100) of full scale
        --loudness LUFS      scale each file to an integrated loudness of LUFS (-31 to
                             -5; -23 broadcast, -16 portable, -14 streaming)
        --true-peak DBTP     with --loudness: keep the true peak at or below DBTP (-9.0
                             to 0.0, default -1.0); the gain is lowered, never limited
    -j, --jobs N             convert up to N files at once (default: one per core)
        --no-tags            do not copy the source's tags into the output
        --replaygain         tag each output with its ReplayGain track gain and peak
                             (measured on the audio encoded; the audio is unchanged)
        --album-gain         with it, the files of each folder are an album: each also
                             gets the album's gain and peak (implies --replaygain)
    -r, --recursive          convert the WAV and other PCM files below FILEs that are
                             folders; with -o the folder structure is kept there
        --files-from FILE    also the files named in FILE (- for standard input), one
                             a line, or NUL-separated with -0 (--null)
        --json               one JSON object a line on standard output as each file
                             ends (source, destination, state, seconds, error, warning);
                             messages go to standard error
  decode [options] FILE...   MPEG audio (MP3, MP2, MP1) to WAV
    -o, --output-dir DIR     write outputs there (default: beside each source)
    -y, --overwrite          replace existing outputs (otherwise they are skipped)
        --normalize PERCENT  scale each output to a peak of PERCENT (1-100) of full scale
        --loudness LUFS, --true-peak DBTP   as for encode
    -j, --jobs N             convert up to N files at once (default: one per core)
        --no-tags            do not copy the source's tags into the output
        --replaygain         as for encode, measured on the decoded audio
        --album-gain         as for encode
    -r, --files-from FILE, -0, --json   as for encode (-r takes the MPEG files)
  info [--json] [--loudness] [-r] [--files-from FILE [-0]] FILE...
                             show the format, length and tag of WAV and MPEG audio files
                             (--json: one array, written as each file is read;
                             --loudness: also the integrated loudness, loudness range
                             and true peak of WAV and other PCM files)
  tag FILE [options]         write or remove the ID3v1 tag of an MPEG audio file, and
                             write the same fields into its ID3v2 tag when it has one
        --title, --artist, --album, --comment TEXT   (ID3v1 keeps 30 characters; a
                             comment keeps 28 when there is a track)
        --year TEXT          (4 characters are kept)
        --track N            0 for none
        --genre NAME|CODE    a genre name (other taggers' spellings too) or a code
                             0..255 (255: none)
        --lossy              store characters outside ISO-8859-1 as '?' instead of
                             refusing (with an ID3v2 tag, which keeps them, a note)
        --remove             remove the ID3v1 tag instead (an ID3v2 tag stays)
        --id3v1-only         leave any ID3v2 tag alone: read and write ID3v1 only
                             Fields not given keep their current values.

Defaults come from Brindle's saved settings; options apply to this run only.
Exit status: 0 when every file succeeded, 1 when any failed, 2 for a usage error.
)";

} // namespace

int main(int argc, char **argv) {
    // Past a file-size limit a write then fails with EFBIG, which is reported and leaves no
    // partial output, instead of the signal ending the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    // Ctrl-C, kill and a closed terminal leave no hidden partial output behind.
    InstallPartialFileCleanup();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brindle-cli"));
    // From the bytes: QCoreApplication::arguments() turns every byte that is not UTF-8 into
    // U+FFFD, and such a name would then open another file. Each command refuses the names
    // that keep such bytes.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodeRawName(QByteArray(argv[i]));
    const QString command = args.isEmpty() ? QString() : args.takeFirst();

    if (command == QLatin1String("encode"))
        return cli::RunEncode(args);
    if (command == QLatin1String("decode"))
        return cli::RunDecode(args);
    if (command == QLatin1String("info"))
        return cli::RunInfo(args);
    if (command == QLatin1String("tag"))
        return cli::RunTag(args);
    if (command == QLatin1String("-h") || command == QLatin1String("--help") ||
        command == QLatin1String("help")) {
        cli::out() << Usage;
        return cli::ExitOk;
    }
    if (command == QLatin1String("-V") || command == QLatin1String("--version")) {
        cli::out() << "brindle-cli " BRINDLE_VERSION "\n";
        return cli::ExitOk;
    }
    if (!command.isEmpty())
        cli::err() << "brindle-cli: unknown command '" << EscapedName(command) << "'\n";
    cli::err() << Usage;
    return cli::ExitUsage;
}
