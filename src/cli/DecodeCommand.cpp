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
    const TBatchOptions batch;
    parser.addOptions(batch.All());
    if (!parser.parse(QStringList{QStringLiteral("decode")} + Args))
        return UsageError(parser.errorText());
    QStringList files = parser.positionalArguments();
    if (files.isEmpty() && !parser.isSet(batch.FilesFrom))
        return UsageError(QStringLiteral("no input files"));
    if (!ReadFileLists(parser.values(batch.FilesFrom), parser.isSet(batch.Nul), files))
        return ExitFailed;
    TJsonLines lines(parser.isSet(batch.Json));

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
    if (const QString error = batch.Apply(parser, config); !error.isEmpty())
        return UsageError(error);

    if (parser.isSet(batch.OutputDir) && HasRawBytes(parser.value(batch.OutputDir))) {
        Fail(EscapedName(parser.value(batch.OutputDir)), RawNameReason());
        return ExitFailed;
    }
    QString folder;
    if (parser.isSet(batch.OutputDir) && !MakeOutputFolder(parser.value(batch.OutputDir), folder))
        return ExitFailed;

    // The conversion window's chain: open the WAV output and the input, play when the input
    // is ready, close the output at the end of the stream, take the next file when the
    // output is closed.
    int failed = 0;
    TCliJobs jobs;
    for (const TSourceFile &file :
         BatchSources(files, parser.isSet(batch.Recursive), lkMpeg, lines, failed)) {
        const QString &source = file.Path;
        if (TFileParam *job =
                jobs.Add(source, file.Relative, folder, QStringLiteral(".WAV"), lines))
            job->Kind = fkMpeg;
        else
            ++failed;
    }
    config.ConvertType = 1;
    failed += RunBatch(config, jobs.Jobs(), parser.isSet(batch.Overwrite), lines);
    return failed == 0 ? ExitOk : ExitFailed;
}

} // namespace cli
