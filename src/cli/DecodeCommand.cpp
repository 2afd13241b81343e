#include "cli/DecodeCommand.h"

#include "app/RawNames.h"
#include "cli/Batch.h"
#include "cli/Console.h"
#include "cli/FileList.h"
#include "platform/Exception.h"
#include "settings/Config.h"

#include <QCommandLineParser>

namespace cli {
namespace {

int UsageError(const QString &Message) {
    err() << "brindle-cli decode: " << Message << "\nTry 'brindle-cli --help'.\n";
    return ExitUsage;
}

} // namespace

int RunDecode(const QStringList &Args) {
    QCommandLineParser parser;
    const QCommandLineOption outputDir({"o", "output-dir"}, {}, "DIR");
    const QCommandLineOption overwrite(QStringList{"y", "overwrite"});
    const QCommandLineOption normalize(QStringList{"normalize"}, {}, "PERCENT");
    const QCommandLineOption loudness(QStringList{"loudness"}, {}, "LUFS");
    const QCommandLineOption truePeak(QStringList{"true-peak"}, {}, "DBTP");
    const QCommandLineOption jobsOption({"j", "jobs"}, {}, "N");
    const QCommandLineOption noTags(QStringList{"no-tags"});
    const QCommandLineOption replayGain(QStringList{"replaygain"});
    const QCommandLineOption filesFrom(QStringList{"files-from"}, {}, "FILE");
    const QCommandLineOption nul(QStringList{"0", "null"});
    const QCommandLineOption jsonOption(QStringList{"json"});
    const QCommandLineOption recursive(QStringList{"r", "recursive"});
    parser.addOptions({outputDir, overwrite, normalize, loudness, truePeak, jobsOption, noTags,
                       replayGain, filesFrom, nul, jsonOption, recursive});
    if (!parser.parse(QStringList{QStringLiteral("decode")} + Args))
        return UsageError(parser.errorText());
    QStringList files = parser.positionalArguments();
    if (files.isEmpty() && !parser.isSet(filesFrom))
        return UsageError(QStringLiteral("no input files"));
    if (!ReadFileLists(parser.values(filesFrom), parser.isSet(nul), files))
        return ExitFailed;
    TJsonLines lines(parser.isSet(jsonOption));

    // Only the normalisation settings matter here; the stored ones are not read, so that a
    // script's result does not depend on the program's options. Copying tags is the one
    // stored choice followed, as encode follows it.
    TConfig config;
    {
        TConfig stored;
        try {
            stored.Load();
        } catch (const Exception &) {
            // A bad value keeps its default; encode reports the store's problems.
        }
        config.CopyTags = stored.CopyTags;
    }
    if (const QString error = ApplyBatchOptions(parser, normalize, loudness, truePeak, jobsOption,
                                                noTags, replayGain, config);
        !error.isEmpty())
        return UsageError(error);

    if (parser.isSet(outputDir) && HasRawBytes(parser.value(outputDir))) {
        Fail(EscapedName(parser.value(outputDir)), RawNameReason());
        return ExitFailed;
    }
    QString folder;
    if (parser.isSet(outputDir) && !MakeOutputFolder(parser.value(outputDir), folder))
        return ExitFailed;

    // The conversion window's chain: open the WAV output and the input, play when the input
    // is ready, close the output at the end of the stream, take the next file when the
    // output is closed.
    int failed = 0;
    TCliJobs jobs;
    const TProblemSink problem = [&](const QString &What, const QString &Why, bool Failure) {
        if (!Failure) {
            Fail(What, Why);
            return;
        }
        lines.Refused(What, Why);
        ++failed;
    };
    for (const QString &arg : files) {
        for (const TSourceFile &file :
             ExpandArgument(arg, parser.isSet(recursive), lkMpeg, problem)) {
            const QString &source = file.Path;
            if (HasRawBytes(source)) {
                lines.Refused(EscapedName(source), RawNameReason());
                ++failed;
                continue;
            }
            if (TFileParam *job =
                    jobs.Add(source, file.Relative, folder, QStringLiteral(".WAV"), lines))
                job->Kind = fkMpeg;
            else
                ++failed;
        }
    }
    config.ConvertType = 1;
    failed += RunBatch(config, jobs.Jobs(), parser.isSet(overwrite), lines);
    return failed == 0 ? ExitOk : ExitFailed;
}

} // namespace cli
