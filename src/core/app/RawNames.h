#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes on Linux, and a QString cannot hold every byte string: decoded the
// usual way, bytes that are not UTF-8 all become U+FFFD, so "bad\xffname.wav" would name
// the file called "bad\u{FFFD}name.wav" instead. Names from bytes (command-line arguments,
// playlist entries) are decoded so that each such byte is kept as a lone surrogate
// U+DC80..U+DCFF: such a name equals no name of a real file, shows which bytes were
// wrong, and is refused instead of opened.

// Bytes as a name. Bytes that survive the usual decoding and encoding unchanged give the
// usual QString; any other byte string keeps its bad bytes as lone surrogates.
QString DecodeRawName(const QByteArray &Bytes);
// True when Name holds bytes a QString cannot hold (kept by DecodeRawName).
bool HasRawBytes(const QString &Name);
// Name for messages: each kept byte as \xNN, the rest as it is.
QString EscapedName(const QString &Name);
// Why such a name is refused, for messages.
QString RawNameReason();
