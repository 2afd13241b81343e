#include "inspect/Id3v1.h"

#include <QByteArray>
#include <algorithm>
#include <cstring>

namespace {

// clang-format off
const char *const Genres[GenreCount] = {
    "Blues",             "Classic Rock",      "Country",           "Dance",
    "Disco",             "Funk",              "Grunge",            "Hip-Hop",
    "Jazz",              "Metal",             "New Age",           "Oldies",
    "Other",             "Pop",               "R&B",               "Rap",
    "Reggae",            "Rock",              "Techno",            "Industrial",
    "Alternative",       "Ska",               "Death Metal",       "Pranks",
    "Soundtrack",        "Euro-Techno",       "Ambient",           "Trip-Hop",
    "Vocal",             "Jazz+Funk",         "Fusion",            "Trance",
    "Classical",         "Instrumental",      "Acid",              "House",
    "Game",              "Sound Clip",        "Gospel",            "Noise",
    "AlternRock",        "Bass",              "Soul",              "Punk",
    "Space",             "Meditative",        "Instrumental Pop",  "Instrumental Rock",
    "Ethnic",            "Gothic",            "Darkwave",          "Techno-Industrial",
    "Electronic",        "Pop-Folk",          "Eurodance",         "Dream",
    "Southern Rock",     "Comedy",            "Cult",              "Gangsta",
    "Top 40",            "Christian Rap",     "Pop/Funk",          "Jungle",
    "Native American",   "Cabaret",           "New Wave",          "Psychadelic",
    "Rave",              "Showtunes",         "Trailer",           "Lo-Fi",
    "Tribal",            "Acid Punk",         "Acid Jazz",         "Polka",
    "Retro",             "Musical",           "Rock & Roll",       "Hard Rock",
    "Folk",              "Folk-Rock",         "National Folk",     "Swing",
    "Fast Fusion",       "Bebob",             "Latin",             "Revival",
    "Celtic",            "Bluegrass",         "Avantgarde",        "Gothic Rock",
    "Progessive Rock",   "Psychedelic Rock",  "Symphonic Rock",    "Slow Rock",
    "Big Band",          "Chorus",            "Easy Listening",    "Acoustic",
    "Humour",            "Speech",            "Chanson",           "Opera",
    "Chamber Music",     "Sonata",            "Symphony",          "Booty Bass",
    "Primus",            "Porn Groove",       "Satire",            "Slow Jam",
    "Club",              "Tango",             "Samba",             "Folklore",
    "Ballad",            "Power Ballad",      "Rhythmic Soul",     "Freestyle",
    "Duet",              "Punk Rock",         "Drum Solo",         "A capella",
    "Euro-House",        "Dance Hall"};
// clang-format on

// Other spellings of the list's genres, as other taggers write them; those that differ only
// in case, spaces or punctuation ("Hip Hop", "Jazz-Funk", "Dancehall") need no entry.
struct TGenreAlias {
    const char *Name;
    int Code;
};
const TGenreAlias GenreAliases[] = {
    {"Rhythm and Blues", 14}, {"RnB", 14},         {"Alt. Rock", 40},     {"Alternative Rock", 40},
    {"Gangsta Rap", 59},      {"Psychedelic", 67}, {"Rock 'n' Roll", 78}, {"Bebop", 85},
    {"Progressive Rock", 92}, {"Humor", 100},      {"A Cappella", 123},   {"Acapella", 123},
};

// Letters and digits only, lower case, "&" spelled "and": the form names are compared in.
QString GenreKey(const QString &Name) {
    QString Key;
    for (const QChar c : Name) {
        if (c == u'&')
            Key += QStringLiteral("and");
        else if (c.isLetterOrNumber())
            Key += c.toCaseFolded();
    }
    return Key;
}

// Text of a tag field: up to the first zero byte, without trailing spaces.
QString TagText(const uint8_t *Bytes, int Size) {
    const auto *End = static_cast<const uint8_t *>(std::memchr(Bytes, 0, size_t(Size)));
    int Count = End ? int(End - Bytes) : Size;
    while (Count > 0 && Bytes[Count - 1] == ' ')
        --Count;
    return QString::fromLatin1(reinterpret_cast<const char *>(Bytes), Count);
}

void PutTagText(uint8_t *Out, int Size, const QString &Text) {
    const QByteArray Bytes = Text.toLatin1();
    std::memcpy(Out, Bytes.constData(), size_t(std::min<qsizetype>(Bytes.size(), Size)));
}

} // namespace

QString GenreName(int Code) {
    return Code >= 0 && Code < GenreCount ? QString::fromLatin1(Genres[Code]) : QString();
}

int GenreCodeOfName(const QString &Name) {
    const QString Key = GenreKey(Name);
    if (Key.isEmpty())
        return -1;
    for (int Code = 0; Code < GenreCount; ++Code) {
        if (GenreKey(QString::fromLatin1(Genres[Code])) == Key)
            return Code;
    }
    for (const TGenreAlias &Alias : GenreAliases) {
        if (GenreKey(QString::fromLatin1(Alias.Name)) == Key)
            return Alias.Code;
    }
    return -1;
}

bool ReadID3v1(const uint8_t (&Block)[ID3v1Size], TMPEGInfo &Info) {
    if (std::memcmp(Block, "TAG", 3) != 0)
        return false;
    Info.Header = QStringLiteral("TAG");
    Info.Title = TagText(Block + 3, 30);
    Info.Artist = TagText(Block + 33, 30);
    Info.Album = TagText(Block + 63, 30);
    Info.Year = QString::fromLatin1(reinterpret_cast<const char *>(Block + 93), 4);
    // ID3v1.1: byte 126 is a track number only behind a zero byte; otherwise it is the last
    // character of a 30-character ID3v1.0 comment.
    Info.Comment = TagText(Block + 97, 30);
    Info.Track = Block[125] == 0 ? Block[126] : 0;
    Info.Genre = Block[127];
    return true;
}

std::array<uint8_t, ID3v1Size> BuildID3v1(const TMPEGInfo &Info) {
    std::array<uint8_t, ID3v1Size> Block{};
    std::memcpy(Block.data(), "TAG", 3);
    PutTagText(Block.data() + 3, 30, Info.Title);
    PutTagText(Block.data() + 33, 30, Info.Artist);
    PutTagText(Block.data() + 63, 30, Info.Album);
    PutTagText(Block.data() + 93, 4, Info.Year);
    // With a track the comment keeps 28 characters and a zero byte, as ID3v1.1 readers
    // expect; without one it may use all 30.
    if (Info.Track != 0) {
        PutTagText(Block.data() + 97, 28, Info.Comment);
        Block[126] = Info.Track;
    } else {
        PutTagText(Block.data() + 97, 30, Info.Comment);
    }
    Block[127] = Info.Genre;
    return Block;
}

QString TagYearText(const QString &Year) {
    const qsizetype End = Year.indexOf(QChar(0));
    return End < 0 ? Year : Year.left(End);
}
