#pragma once

#include "platform/Exception.h"

#include <QString>
#include <QTime>
#include <QtGlobal>
#include <array>
#include <cstddef>
#include <cstdint>

// MPEG audio inspection: frame headers, play time, the Xing VBR header, ID3v1 tags and the
// genre table.

// A text of fixed capacity inside a value record: a longer text keeps its first Capacity
// characters when assigned.
template <int Capacity> class TShortString {
public:
    static constexpr int MaxLength = Capacity;

    TShortString() = default;
    TShortString(const QString &Text) : FText(Text.left(Capacity)) {}
    TShortString(const char *Text) : TShortString(QString::fromUtf8(Text)) {}

    TShortString &operator=(const QString &Text) {
        FText = Text.left(Capacity);
        return *this;
    }

    const QString &Text() const { return FText; }
    operator const QString &() const { return FText; }
    bool IsEmpty() const { return FText.isEmpty(); }

    friend bool operator==(const TShortString &A, const TShortString &B) = default;
    friend bool operator==(const TShortString &A, const QString &B) { return A.FText == B; }

private:
    QString FText;
};

// Everything known about one MPEG audio file, tag fields included; copied by value.
struct TMPEGInfo {
    TShortString<3> Header = "BAD"; // "TAG" when an ID3v1 tag was read
    TShortString<30> Title;
    TShortString<30> Artist;
    TShortString<30> Album;
    TShortString<4> Year = "    ";
    TShortString<30> Comment;
    uint8_t Genre = 255;   // 255 = none
    uint8_t Track = 0;     // 0 = none
    uint32_t Duration = 0; // whole seconds; 32 bits so that files over 18 hours stay right
    qint64 Length = 0;     // file size in bytes, tags included
    uint8_t Version = 0;   // 0 unknown, 1 = MPEG 1, 2 = MPEG 2, 3 = MPEG 2.5
    uint8_t Layer = 0;     // 0 unknown, else 1..3
    int32_t SampleRate = 0;
    int32_t BitRate = 0; // kbit/s; -1 for a VBR file with a Xing header
    uint8_t Mode = 0;    // channel mode as coded in the header
    bool Copyright = false;
    bool Original = false;
    bool ErrorProt = false; // frames carry a CRC
    bool Padding = false;
    uint16_t FrameLength = 0; // bytes from one frame header to the next (VBR: the average)
    QString FileName;         // full path, never cut
    // Modification time as a packed DOS date-time (local time, clamped to 1980..2107); 0 = none.
    int32_t FileDate = 0;
};

extern const std::array<QString, 4> MPEGVersionText;
extern const std::array<QString, 4> MPEGLayerText;
extern const std::array<QString, 4> MPEGModeText;

inline constexpr int GenreCount = 126;
// The genre's name, or empty for codes without one (above 125, 255 among them).
QString GenreName(int Code);

// Decodes a frame header given as its four bytes in file order, big-endian. Clears and fills
// Version, Layer, SampleRate, BitRate, Mode, the four flags and FrameLength, and sets Duration
// from Info.Length and the bit rate. True when sync, version, layer, bit rate and sample rate
// are all usable.
bool DecodeFrameHeader(uint32_t H, TMPEGInfo &Info);
// Samples in one frame: 384 for Layer I, 576 for Layer III of MPEG 2 and 2.5, else 1152.
int SamplesPerFrame(int Version, int Layer);
// Distance in bytes from a frame header to the "Xing" id of a VBR header frame, by the
// frame's version and channel mode (the side information lies in between).
int XingOffset(int Version, int Mode);

// The fields of a Xing VBR header; only those whose flag bit is set (and that fit) are read.
struct TXingHeader {
    bool Present = false; // the bytes begin with "Xing"
    uint32_t Flags = 0;
    uint32_t Frames = 0;  // flag bit 0
    uint32_t Bytes = 0;   // flag bit 1
    uint32_t Quality = 0; // flag bit 3, after the 100-byte table of contents (bit 2)
};
// Bytes start at the "Xing" id; at most 120 of them are looked at.
TXingHeader ParseXingHeader(const uint8_t *Bytes, size_t Size);

inline constexpr int ID3v1Size = 128;
// Fills the tag fields of Info from a block that begins with "TAG" and returns true; leaves
// Info untouched and returns false otherwise.
bool ReadID3v1(const uint8_t (&Block)[ID3v1Size], TMPEGInfo &Info);
// The tag block of Info's tag fields, texts as ISO-8859-1 ('?' for other characters). A
// non-zero track is written the ID3v1.1 way: comment cut to 28 characters, a zero byte, the
// track.
std::array<uint8_t, ID3v1Size> BuildID3v1(const TMPEGInfo &Info);
// A tag's year as shown: the stored four characters up to the first zero byte, so that a
// year written empty shows empty.
QString TagYearText(const QString &Year);

// A read or write failure after a file was opened for a tag change.
class EInOutError : public Exception {
public:
    using Exception::Exception;
};

// Why a load found no MPEG audio.
enum class TMpegProblem {
    None,             // found some, or nothing loaded yet
    Missing,          // no such file
    Unreadable,       // cannot be opened, or not a plain file
    TooShort,         // 5 bytes or fewer
    OtherFormat,      // its first bytes mark another kind of file (FLAC, Ogg, an executable...)
    NoFrameNearStart, // no run of frames where real MPEG audio would long have shown one
    NoFrameRun,       // no run of frames anywhere
    ReadError,        // reading failed
};

// Inspects one MPEG audio file at a time: finds the first real frame, decodes its header,
// works out the play time, reads the ID3v1 tag, and writes or removes that tag.
class TMPEGAudio {
public:
    TMPEGAudio();

    void ResetData();
    QString FileName() const { return FInfo.FileName; }
    // Stores the name and, with AutoLoad, loads the file at once.
    void SetFileName(const QString &Value);
    bool AutoLoad = true;
    // Fills the record from the file named by FileName. Never throws; a file that cannot be
    // understood leaves an invalid record.
    void LoadData();

    bool IsValid() const;
    bool HasTag() const;
    QString DisplayTitle() const;
    QString DisplayArtist() const;
    // Duration as a time of day; invalid (null) for a day or more, which a time cannot hold.
    QTime DurationTime() const;
    const TMPEGInfo &Data() const { return FInfo; }
    // Offset of the first header of the accepted run of frames, or -1 when none was accepted.
    qint64 HeaderPosition() const { return FHeaderPosition; }
    // Why the last load found no MPEG audio, as kind and as text for the user ("not MPEG
    // audio: FLAC file"); None and empty when it found some.
    TMpegProblem ProblemKind() const { return FProblem; }
    QString Problem() const;

    void SetTitle(const QString &Value) { FInfo.Title = Value; }
    void SetArtist(const QString &Value) { FInfo.Artist = Value; }
    void SetAlbum(const QString &Value) { FInfo.Album = Value; }
    void SetComment(const QString &Value) { FInfo.Comment = Value; }
    void SetYear(const QString &Value) { FInfo.Year = Value; }
    void SetGenre(uint8_t Value) { FInfo.Genre = Value; }
    void SetTrack(uint8_t Value) { FInfo.Track = Value; }

    // Writes the record's tag fields over any tag at the end of the file, then reloads.
    // 0 = written, -1 = no such file, else the errno of opening the file (nothing changed).
    // Throws EInOutError when reading or writing fails after opening, once the file is
    // closed, put back as it was and reloaded.
    int WriteTag();
    // Cuts the tag off the end of the file, if there is one, then reloads. Results as WriteTag.
    int RemoveTag();

    TShortString<30> DefaultArtist;
    TShortString<30> DefaultTitle;

private:
    int ChangeTag(const std::array<uint8_t, ID3v1Size> *NewTag);
    void SetProblem(TMpegProblem Problem);

    TMPEGInfo FInfo;
    qint64 FHeaderPosition = -1;
    TMpegProblem FProblem = TMpegProblem::None;
    QString FOtherFormat; // what the first bytes showed the file to be
};
