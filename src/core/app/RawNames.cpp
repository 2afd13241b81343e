#include "app/RawNames.h"

#include <QFile>

#include <cstdint>

namespace {

constexpr char16_t RawByteBase = 0xDC00;

bool IsContinuation(uint8_t Byte, uint8_t Low = 0x80, uint8_t High = 0xBF) {
    return Byte >= Low && Byte <= High;
}

// The length of the well-formed UTF-8 sequence at Bytes[At], or 0 when there is none
// (overlong forms, surrogates and values above U+10FFFF are not well-formed).
qsizetype SequenceLength(const QByteArray &Bytes, qsizetype At) {
    const auto Byte = [&](qsizetype I) {
        return At + I < Bytes.size() ? uint8_t(Bytes[At + I]) : uint8_t(0);
    };
    const uint8_t Lead = Byte(0);
    if (Lead < 0x80)
        return 1;
    if (Lead >= 0xC2 && Lead <= 0xDF)
        return IsContinuation(Byte(1)) ? 2 : 0;
    if (Lead >= 0xE0 && Lead <= 0xEF) {
        const uint8_t Low = Lead == 0xE0 ? 0xA0 : 0x80;
        const uint8_t High = Lead == 0xED ? 0x9F : 0xBF;
        return IsContinuation(Byte(1), Low, High) && IsContinuation(Byte(2)) ? 3 : 0;
    }
    if (Lead >= 0xF0 && Lead <= 0xF4) {
        const uint8_t Low = Lead == 0xF0 ? 0x90 : 0x80;
        const uint8_t High = Lead == 0xF4 ? 0x8F : 0xBF;
        return IsContinuation(Byte(1), Low, High) && IsContinuation(Byte(2)) &&
                       IsContinuation(Byte(3))
                   ? 4
                   : 0;
    }
    return 0;
}

bool IsRawByte(const QString &Name, qsizetype At) {
    const char16_t C = Name[At].unicode();
    return C >= RawByteBase + 0x80 && C <= RawByteBase + 0xFF &&
           (At == 0 || !Name[At - 1].isHighSurrogate());
}

} // namespace

QString DecodeRawName(const QByteArray &Bytes) {
    const QString Usual = QFile::decodeName(Bytes);
    if (QFile::encodeName(Usual) == Bytes)
        return Usual;
    QString Name;
    bool Kept = false;
    for (qsizetype At = 0; At < Bytes.size();) {
        if (const qsizetype Length = SequenceLength(Bytes, At); Length > 0) {
            Name += QString::fromUtf8(Bytes.mid(At, Length));
            At += Length;
        } else {
            Name += QChar(char16_t(RawByteBase + uint8_t(Bytes[At])));
            Kept = true;
            ++At;
        }
    }
    if (Kept)
        return Name;
    // Well-formed UTF-8 that still does not come back the same: keep every byte beyond
    // ASCII, so that the name is refused rather than taken for another.
    Name.clear();
    for (const char Byte : Bytes)
        Name += uint8_t(Byte) < 0x80 ? QChar(QLatin1Char(Byte))
                                     : QChar(char16_t(RawByteBase + uint8_t(Byte)));
    return Name;
}

bool HasRawBytes(const QString &Name) {
    for (qsizetype At = 0; At < Name.size(); ++At) {
        if (IsRawByte(Name, At))
            return true;
    }
    return false;
}

QString EscapedName(const QString &Name) {
    QString Shown;
    for (qsizetype At = 0; At < Name.size(); ++At) {
        if (IsRawByte(Name, At))
            Shown += QStringLiteral("\\x%1").arg(Name[At].unicode() - RawByteBase, 2, 16,
                                                 QLatin1Char('0'));
        else
            Shown += Name[At];
    }
    return Shown;
}

QString RawNameReason() {
    return QStringLiteral("the name is not valid UTF-8; rename it to use it");
}
