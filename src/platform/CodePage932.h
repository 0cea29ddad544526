#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Code page 932 text as Japanese Windows converts it: the Microsoft mapping (NEC and IBM rows
// included), "?" for every character that has no form in it, U+FFFD for byte sequences that
// are not code page 932.
namespace cp932 {

QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

// Number of bytes the text takes in code page 932, without building the bytes.
qsizetype encodedLength(QStringView text);

// True for a byte that opens a double-byte character.
constexpr bool isLeadByte(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

constexpr bool isTrailByte(unsigned char b)
{
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// Cuts bytes to at most maxBytes without splitting a double-byte character.
QByteArray truncate(QByteArrayView bytes, qsizetype maxBytes);

} // namespace cp932
