#pragma once

// The record of one MPEG audio file: its header's values, play time, tag fields and file facts.

#include <QString>
#include <QtGlobal>
#include <cstdint>

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

// True when the record describes MPEG audio of a real file: a usable version, layer, bit
// rate (-1 for VBR) and sample rate, a file of more than 5 bytes with a date.
inline bool DescribesMpegAudio(const TMPEGInfo &Info) {
    return Info.Length > 5 && Info.Version > 0 && Info.Layer > 0 && Info.FileDate != 0 &&
           Info.BitRate != 0 && Info.BitRate >= -1 && Info.SampleRate > 0;
}
