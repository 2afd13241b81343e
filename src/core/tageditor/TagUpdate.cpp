#include "tageditor/TagUpdate.h"

#include <QFileInfo>

#include <algorithm>
#include <tuple>
#include <utility>

namespace {

// Spaces and control characters around the year: a tag without a year holds four spaces
// or four zero bytes, neither of which is a year to offer for editing.
QString TrimmedYear(const QString &Year) {
    qsizetype begin = 0, end = Year.size();
    while (begin < end && Year.at(begin).unicode() <= ' ')
        ++begin;
    while (end > begin && Year.at(end - 1).unicode() <= ' ')
        --end;
    return Year.mid(begin, end - begin);
}

} // namespace

int GenreEntryOfCode(int Code) {
    return Code >= 0 && Code < 255 ? Code + 1 : 0;
}

uint8_t TrackOfText(const QString &Track) {
    bool isNumber = false;
    const uint number = Track.toUInt(&isNumber);
    return isNumber ? uint8_t(number % 256) : 0;
}

QStringList UnstorableFields(const TTagFields &Fields) {
    // Only the characters that are stored count: the rest is cut off anyway.
    const int commentCapacity = TrackOfText(Fields.Track) != 0 ? 28 : 30;
    const std::pair<const char *, QString> stored[] = {
        {"Title", Fields.Title.left(30)},
        {"Artist", Fields.Artist.left(30)},
        {"Album", Fields.Album.left(30)},
        {"Year", Fields.Year.left(4)},
        {"Comment", Fields.Comment.left(commentCapacity)},
    };
    QStringList labels;
    for (const auto &[label, text] : stored) {
        if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
            labels << QString::fromLatin1(label);
    }
    return labels;
}

int GenreEntryOfText(const QString &Text) {
    bool isNumber = false;
    const int code = Text.toInt(&isNumber);
    if (isNumber)
        return code >= 0 && code <= 255 ? GenreEntryOfCode(code) : -1;
    const int named = GenreCodeOfName(Text);
    return named < 0 ? -1 : named + 1;
}

TTagFields TagFieldsFromInfo(const TMPEGInfo &Info) {
    TTagFields fields;
    fields.HasTag = Info.Header == QStringLiteral("TAG");
    fields.Track = Info.Track == 0 ? QString() : QString::number(Info.Track);
    // Without a tag the record's title holds the file name, which is no title to offer.
    fields.Title = fields.HasTag ? Info.Title.Text() : QString();
    fields.Artist = Info.Artist;
    fields.Album = Info.Album;
    fields.Year = TrimmedYear(Info.Year);
    fields.Comment = Info.Comment;
    fields.GenreEntry = GenreEntryOfCode(Info.Genre);
    return fields;
}

TTagFields TagFieldsFromTags(const TMPEGInfo &Info, const TId3v2Fields &V2) {
    TTagFields fields = TagFieldsFromInfo(Info);
    if (V2.Version == 0)
        return fields;
    const std::pair<const QString &, QString &> texts[] = {
        {V2.Title, fields.Title}, {V2.Artist, fields.Artist},   {V2.Album, fields.Album},
        {V2.Year, fields.Year},   {V2.Comment, fields.Comment}, {V2.Track, fields.Track},
    };
    for (const auto &[v2, field] : texts) {
        if (!v2.isEmpty())
            field = v2;
    }
    if (V2.GenreEntry > 0)
        fields.GenreEntry = V2.GenreEntry;
    return fields;
}

QString TagKindsText(bool HasID3v1, int Id3v2Version) {
    QStringList kinds;
    if (HasID3v1)
        kinds << QStringLiteral("ID3v1");
    if (Id3v2Version != 0)
        kinds << QStringLiteral("ID3v2.%1").arg(Id3v2Version);
    return kinds.isEmpty() ? QStringLiteral("no tag") : kinds.join(QStringLiteral(", "));
}

namespace {

// The ID3v2 fields whose edited value differs from what the file shows now: only those are
// written, so a date, a "3/12" track or a genre the list lacks stays as it is unless edited.
TId3v2Change ChangedFields(const TTagFields &Now, const TTagFields &Edited) {
    TId3v2Change change;
    const std::tuple<TId3v2Field, const QString &, const QString &, QString &> texts[] = {
        {v2Title, Now.Title, Edited.Title, change.Values.Title},
        {v2Artist, Now.Artist, Edited.Artist, change.Values.Artist},
        {v2Album, Now.Album, Edited.Album, change.Values.Album},
        {v2Year, Now.Year, Edited.Year, change.Values.Year},
        {v2Comment, Now.Comment, Edited.Comment, change.Values.Comment},
        {v2Track, Now.Track, Edited.Track, change.Values.Track},
    };
    for (const auto &[bit, now, edited, value] : texts) {
        if (now != edited) {
            change.Which |= bit;
            value = edited;
        }
    }
    if (Now.GenreEntry != Edited.GenreEntry) {
        change.Which |= v2Genre;
        change.Values.GenreEntry = Edited.GenreEntry;
    }
    return change;
}

} // namespace

TTagUpdate UpdateTag(const QString &FileName, const TTagFields &Fields, TTagTargets Targets) {
    if (!QFileInfo::exists(FileName))
        return {TTagUpdateResult::NoSuchFile, 0, {}};
    TMPEGAudio audio;
    audio.ResetData();
    audio.SetFileName(FileName);
    if (!audio.IsValid())
        return {TTagUpdateResult::NotMpeg, 0, audio.Problem()};
    TId3v2Change change;
    if (Targets == TTagTargets::All) {
        const TId3v2Fields v2 = ReadId3v2Fields(FileName);
        if (v2.Version != 0)
            change = ChangedFields(TagFieldsFromTags(audio.Data(), v2), Fields);
    }
    audio.SetTrack(0);
    int result;
    if (Fields.HasTag) {
        audio.SetTrack(TrackOfText(Fields.Track));
        audio.SetTitle(Fields.Title);
        audio.SetArtist(Fields.Artist);
        audio.SetAlbum(Fields.Album);
        audio.SetYear(Fields.Year);
        audio.SetComment(Fields.Comment);
        const bool none = Fields.GenreEntry <= 0 || Fields.GenreEntry > 255;
        audio.SetGenre(none ? 255 : uint8_t(Fields.GenreEntry - 1));
    }
    if (change.Which != 0) {
        // Both tags in one new copy of the file, so it never holds one tag changed and
        // the other not.
        const std::array<uint8_t, ID3v1Size> block = BuildID3v1(audio.Data());
        result = RewriteWithId3v2(FileName, change, Fields.HasTag ? &block : nullptr);
    } else if (Fields.HasTag) {
        result = audio.WriteTag();
    } else {
        result = audio.RemoveTag();
    }
    if (result == -1)
        return {TTagUpdateResult::NoSuchFile, 0, {}};
    if (result != 0)
        return {TTagUpdateResult::Refused, result, {}};
    return {};
}
