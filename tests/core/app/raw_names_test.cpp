#include "app/RawNames.h"

#include <QFile>
#include <gtest/gtest.h>

#include <ostream>

// Readable failure output for QString values.
static void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

TEST(RawNames, NamesThatSurviveTheUsualDecodingAreDecodedAsUsual) {
    for (const QByteArray &Bytes :
         {QByteArray("plain.wav"), QByteArray("M\xc3\xbcsik \xe2\x99\xaa.wav"),
          QByteArray("bad\xef\xbf\xbdname.wav"), QByteArray("\xf0\x9f\x8e\xb5.mp3"),
          QByteArray()}) {
        const QString Name = DecodeRawName(Bytes);
        EXPECT_EQ(Name, QFile::decodeName(Bytes));
        EXPECT_FALSE(HasRawBytes(Name)) << Bytes.toHex().toStdString();
        EXPECT_EQ(EscapedName(Name), Name);
    }
}

TEST(RawNames, BytesThatAreNotUtf8AreKeptEachAndShownEscaped) {
    struct Case {
        QByteArray Bytes;
        const char *Shown;
    };
    for (const Case &C : {
             Case{"bad\xffname.wav", "bad\\xffname.wav"},
             Case{"\xe9t\xe9.mp3", "\\xe9t\\xe9.mp3"},         // ISO-8859-1
             Case{"a\xc3", "a\\xc3"},                          // cut short at the end
             Case{"\xc0\xaf", "\\xc0\\xaf"},                   // an overlong '/'
             Case{"\xed\xa0\x80x", "\\xed\\xa0\\x80x"},        // an encoded surrogate
             Case{"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, // above U+10FFFF
             Case{"\xe2\x99\xaa\xff\xe2\x99\xaa", "\xe2\x99\xaa\\xff\xe2\x99\xaa"},
             Case{"\xf0\x9f\x8e\xb5\x80", "\xf0\x9f\x8e\xb5\\x80"}, // a pair, then a byte
         }) {
        const QString Name = DecodeRawName(C.Bytes);
        EXPECT_TRUE(HasRawBytes(Name)) << C.Shown;
        EXPECT_EQ(EscapedName(Name), QString::fromUtf8(C.Shown));
        // Never the name the usual decoding gives, which may be another file's.
        EXPECT_NE(Name, QFile::decodeName(C.Bytes)) << C.Shown;
    }
}

TEST(RawNames, TwoNamesThatDifferInTheirBadBytesStayApart) {
    EXPECT_NE(DecodeRawName("a\xfe"), DecodeRawName("a\xff"));
    EXPECT_NE(DecodeRawName("a\xff"), DecodeRawName("a\xef\xbf\xbd"));
}
