#include "tageditor/TagUpdate.h"

#include <QFileInfo>

#include <algorithm>
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
    for (int c = 0; c < GenreCount; ++c) {
        if (GenreName(c).compare(Text, Qt::CaseInsensitive) == 0)
            return c + 1;
    }
    return -1;
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

TTagUpdate UpdateTag(const QString &FileName, const TTagFields &Fields) {
    if (!QFileInfo::exists(FileName))
        return {TTagUpdateResult::NoSuchFile, 0, {}};
    TMPEGAudio audio;
    audio.ResetData();
    audio.SetFileName(FileName);
    if (!audio.IsValid())
        return {TTagUpdateResult::NotMpeg, 0, audio.Problem()};
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
