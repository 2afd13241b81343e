#include "cli/TagCommand.h"

#include "app/RawNames.h"
#include "cli/Console.h"
#include "platform/RegularFile.h"
#include "tageditor/TagUpdate.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <cstring>

namespace cli {
namespace {

int UsageError(const QString &Message) {
    err() << "brindle-cli tag: " << Message << "\nTry 'brindle-cli --help'.\n";
    return ExitUsage;
}

} // namespace

int RunTag(const QStringList &Args) {
    QCommandLineParser parser;
    const QCommandLineOption title(QStringList{"title"}, {}, "TEXT");
    const QCommandLineOption artist(QStringList{"artist"}, {}, "TEXT");
    const QCommandLineOption album(QStringList{"album"}, {}, "TEXT");
    const QCommandLineOption year(QStringList{"year"}, {}, "TEXT");
    const QCommandLineOption comment(QStringList{"comment"}, {}, "TEXT");
    const QCommandLineOption track(QStringList{"track"}, {}, "N");
    const QCommandLineOption genre(QStringList{"genre"}, {}, "NAME|CODE");
    const QCommandLineOption remove(QStringList{"remove"});
    const QCommandLineOption lossy(QStringList{"lossy"});
    const QCommandLineOption id3v1Only(QStringList{"id3v1-only"});
    parser.addOptions(
        {title, artist, album, year, comment, track, genre, remove, lossy, id3v1Only});
    if (!parser.parse(QStringList{QStringLiteral("tag")} + Args))
        return UsageError(parser.errorText());
    if (parser.positionalArguments().size() != 1)
        return UsageError(QStringLiteral("give exactly one file"));
    const QString file = parser.positionalArguments().first();
    if (HasRawBytes(file)) {
        Fail(EscapedName(file), RawNameReason());
        return ExitFailed;
    }
    const bool editing = parser.isSet(title) || parser.isSet(artist) || parser.isSet(album) ||
                         parser.isSet(year) || parser.isSet(comment) || parser.isSet(track) ||
                         parser.isSet(genre);
    if (parser.isSet(remove) && editing)
        return UsageError(QStringLiteral("--remove takes no tag fields"));

    // Start from the fields as the tag editor would show them, so unset options keep them.
    // A named pipe or a device is neither read nor written.
    if (const QString why = RegularFileProblem(file); QFileInfo::exists(file) && !why.isEmpty()) {
        Fail(file, why);
        return ExitFailed;
    }
    TMPEGAudio audio;
    audio.SetFileName(file);
    if (!audio.IsValid()) {
        Fail(file, audio.Problem() + QStringLiteral("; nothing written"));
        return ExitFailed;
    }
    // The ID3v2 tag's fields, where it has them, are the ones the file shows and gets.
    const TTagTargets targets = parser.isSet(id3v1Only) ? TTagTargets::ID3v1Only : TTagTargets::All;
    const TId3v2Fields v2 = targets == TTagTargets::All ? ReadId3v2Fields(file) : TId3v2Fields();
    TTagFields fields = TagFieldsFromTags(audio.Data(), v2);
    fields.HasTag = !parser.isSet(remove);
    if (parser.isSet(track)) {
        bool ok = false;
        parser.value(track).toUInt(&ok);
        if (!ok && !parser.value(track).isEmpty())
            return UsageError(QStringLiteral("track must be a number"));
        fields.Track = parser.value(track);
    }
    if (parser.isSet(genre)) {
        const int entry = GenreEntryOfText(parser.value(genre));
        if (entry < 0)
            return UsageError(QStringLiteral("unknown genre '%1'").arg(parser.value(genre)));
        fields.GenreEntry = entry;
    }
    const std::pair<const QCommandLineOption &, QString &> texts[] = {
        {title, fields.Title}, {artist, fields.Artist},   {album, fields.Album},
        {year, fields.Year},   {comment, fields.Comment},
    };
    for (const auto &[option, field] : texts) {
        if (parser.isSet(option))
            field = parser.value(option);
    }

    // An ID3v1 tag holds ISO-8859-1 only; anything else would be stored as '?' without a
    // word. An ID3v2 tag beside it keeps the text, so then a note is enough.
    if (fields.HasTag && !parser.isSet(lossy)) {
        const QStringList unstorable = UnstorableFields(fields);
        if (!unstorable.isEmpty() && v2.Version != 0) {
            err() << "brindle-cli: " << file << ": note: " << unstorable.join(QStringLiteral(", "))
                  << " stored with '?' in the ID3v1 tag; the ID3v2 tag keeps every character"
                  << Qt::endl;
        } else if (!unstorable.isEmpty()) {
            Fail(file, QStringLiteral("%1 cannot be stored as given (an ID3v1 tag holds "
                                      "ISO-8859-1 characters only; --lossy writes '?' in "
                                      "their place); nothing written")
                           .arg(unstorable.join(QStringLiteral(", "))));
            return ExitFailed;
        }
    }

    try {
        const TTagUpdate update = UpdateTag(file, fields, targets);
        switch (update.Result) {
        case TTagUpdateResult::Written:
            return ExitOk;
        case TTagUpdateResult::NoSuchFile:
            Fail(file, QStringLiteral("no such file"));
            break;
        case TTagUpdateResult::NotMpeg:
            Fail(file, update.Problem + QStringLiteral("; nothing written"));
            break;
        case TTagUpdateResult::Refused:
            Fail(file, QStringLiteral("cannot be opened for writing: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(update.ErrorCode))));
            break;
        }
    } catch (const Exception &e) {
        Fail(file, e.message());
    }
    return ExitFailed;
}

} // namespace cli
